#!/usr/bin/env bash
# Checks that every example of README.md run on the files in examples/
# shows what the tool really prints for it, as man_page_test.sh does for the
# man page. An example is a line "$ COMMAND" inside a fenced code block, and
# its output the lines after it up to the next such line or the end of the
# block; blocks inside list items may be indented. Only commands that read
# the files in examples/ and write no file are run. A last shown line of
# "..." means that the output is shown in part. Trailing blanks are ignored.
# Usage: readme_test.sh CHUNKLENS_BINARY SOURCE_DIR
set -euo pipefail

binary=$1
source_dir=$2
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The fenced blocks as plain text without their indentation and without
# trailing blanks, each opened by a line "@@BLOCK@@".
example_blocks() {
    awk '
        /^ *```/ {
            if (!inside) { inside = 1; match($0, /^ */); indent = RLENGTH; print "@@BLOCK@@" }
            else inside = 0
            next
        }
        inside { line = substr($0, indent + 1); sub(/ +$/, "", line); print line }
    ' "$source_dir/README.md"
}

check_example() {
    local command=$1 expected=$2 actual
    actual=$(cd "$source_dir" && PATH="$(dirname "$binary"):$PATH" bash -c "$command" 2>&1 |
             sed 's/ *$//') || true
    if [[ $(tail -n 1 <<<"$expected") =~ ^\ *\.\.\.$ ]]; then
        expected=$(sed '$d' <<<"$expected")
        actual=$(head -n "$(wc -l <<<"$expected")" <<<"$actual")
    fi
    [ "$actual" = "$expected" ] ||
        fail "example '$command' prints"$'\n'"$actual"$'\n'"but README.md shows"$'\n'"$expected"
}

command=""
expected=""
checked=0
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
[ "$failures" -eq 0 ]
