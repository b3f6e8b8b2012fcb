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
source "$(dirname "$0")/examples.bash"

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

case $check in
    lint) check_lint ;;
    options) check_options ;;
    examples) check_examples "the man page" < <(example_blocks) ;;
    *) echo "unknown check: $check" >&2; exit 2 ;;
esac
[ "$failures" -eq 0 ]
