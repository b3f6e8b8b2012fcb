#!/usr/bin/env bash
# Checks the man page: CHECK is one of
#   lint      both formatters accept it without a warning;
#   options   every option of the usage text, short and long form, has its
#             entry under OPTIONS;
#   examples  every example run on the files in examples/ shows what the
#             tool really prints for it.
# MAN_PAGE is the page as the build makes it from man/chunklens.1, with the
# version and date in its header.
# Usage: man_page_test.sh CHECK CHUNKLENS_BINARY SOURCE_DIR MAN_PAGE
set -euo pipefail

check=$1
binary=$2
source_dir=$3
man_page=$4
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

check_lint() {
    local output
    output=$(mandoc -T lint -W all "$man_page" 2>&1) && [ -z "$output" ] ||
        fail "mandoc -T lint: $output"
    output=$(groff -ww -z -man "$man_page" 2>&1) && [ -z "$output" ] ||
        fail "groff -ww: $output"
}

# The lines "  -d, --dump=CHUNK_INDEX   ..." of the usage text give "-d --dump".
usage_options() {
    "$binary" 2>&1 >/dev/null | sed -n 's/^ *\(-[[:alnum:]]\), \(--[[:alnum:]-]*\).*/\1 \2/p' || true
}

check_options() {
    local rendered options short long
    rendered=$(MANWIDTH=200 mandoc -T ascii "$man_page" | col -bx |
               sed -n '/^OPTIONS$/,/^[A-Z]/p')
    options=$(usage_options)
    [ -n "$options" ] || fail "no options found in the usage text of $binary"
    while read -r short long; do
        # An entry's tag reads "-d, --dump=CHUNK_INDEX" or "-r, --raw".
        grep -Eq "^ +$short, $long(=|\$)" <<<"$rendered" ||
            fail "option $short, $long has no entry under OPTIONS"
    done <<<"$options"
}

# The example blocks (.EX ... .EE) as plain text, each opened by a line
# "@@BLOCK@@".
example_blocks() {
    sed -n '/^\.EX$/,/^\.EE$/p' "$man_page" |
        sed -e 's/^\.EX$/@@BLOCK@@/' -e '/^\.EE$/d' \
            -e 's/\\-/-/g' -e "s/\\\\(aq/'/g" -e 's/\\(dq/"/g' -e 's/\\&//g'
}

# Runs one example and compares what it prints with what the page shows.
# A last shown line of "..." means that the output is shown in part.
check_example() {
    local command=$1 expected=$2 actual
    actual=$(cd "$source_dir" && PATH="$(dirname "$binary"):$PATH" bash -c "$command" 2>&1 |
             sed 's/ *$//') || true
    if [[ $(tail -n 1 <<<"$expected") =~ ^\ *\.\.\.$ ]]; then
        expected=$(sed '$d' <<<"$expected")
        actual=$(head -n "$(wc -l <<<"$expected")" <<<"$actual")
    fi
    [ "$actual" = "$expected" ] ||
        fail "example '$command' prints"$'\n'"$actual"$'\n'"but the man page shows"$'\n'"$expected"
}

# Each "$ COMMAND" line of an example block starts an example; the lines up
# to the next one or the end of the block are its output. Only commands that
# read the files in examples/ and write no file are run here.
check_examples() {
    local command="" expected="" line checked=0
    while IFS= read -r line; do
        if [ "$line" = "@@BLOCK@@" ] || [[ $line == '$ '* ]]; then
            if [[ $command == *examples/* && $command != *'>'* ]]; then
                check_example "$command" "${expected%$'\n'}"
                checked=$((checked + 1))
            fi
            command=""
            expected=""
            [[ $line == '$ '* ]] && command=${line#\$ }
        elif [ -n "$command" ]; then
            expected+="$line"$'\n'
        fi
    done < <(example_blocks; echo "@@BLOCK@@")
    [ "$checked" -gt 0 ] || fail "no example runs on a file in examples/"
    echo "$checked examples checked"
}

case $check in
    lint) check_lint ;;
    options) check_options ;;
    examples) check_examples ;;
    *) echo "unknown check: $check" >&2; exit 2 ;;
esac
[ "$failures" -eq 0 ]
