#!/usr/bin/env bash
# Checks that every example of README.md run on the files in examples/
# shows what the tool really prints for it, as man_page_test.sh does for the
# man page (examples.bash says what an example is). Here the examples lie
# in fenced code blocks, which may be indented inside list items.
# Usage: readme_test.sh CHUNKLENS_BINARY SOURCE_DIR
set -euo pipefail

binary=$1
source_dir=$2
failures=0
source "$(dirname "$0")/examples.bash"

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

check_examples README.md < <(example_blocks)
[ "$failures" -eq 0 ]
