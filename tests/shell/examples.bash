# Sourced by the checks of the man page and the README, which define
# fail() and set binary (the chunklens under test) and source_dir.
#
# check_examples DOCUMENT: runs every example of DOCUMENT and compares what
# it prints with what DOCUMENT shows. The examples come on standard input as
# plain text, each block of them opened by a line "@@BLOCK@@". Each line
# "$ COMMAND" in a block starts an example; the lines up to the next one or
# the end of the block are its output. Only commands that read the files in
# examples/ and write no file are run. A last shown line of "..." means that
# the output is shown in part. Trailing blanks are ignored.

check_example() {
    local document=$1 command=$2 expected=$3 actual
    actual=$(cd "$source_dir" && PATH="$(dirname "$binary"):$PATH" bash -c "$command" 2>&1 |
             sed 's/ *$//') || true
    if [[ $(tail -n 1 <<<"$expected") =~ ^\ *\.\.\.$ ]]; then
        expected=$(sed '$d' <<<"$expected")
        actual=$(head -n "$(wc -l <<<"$expected")" <<<"$actual")
    fi
    [ "$actual" = "$expected" ] ||
        fail "example '$command' prints"$'\n'"$actual"$'\n'"but $document shows"$'\n'"$expected"
}

check_examples() {
    local document=$1 command="" expected="" line checked=0
    while IFS= read -r line; do
        if [ "$line" = "@@BLOCK@@" ] || [[ $line == '$ '* ]]; then
            if [[ $command == *examples/* && $command != *'>'* ]]; then
                check_example "$document" "$command" "${expected%$'\n'}"
                checked=$((checked + 1))
            fi
            command=""
            expected=""
            [[ $line == '$ '* ]] && command=${line#\$ }
        elif [ -n "$command" ]; then
            expected+="$line"$'\n'
        fi
    done < <(cat; echo "@@BLOCK@@")
    [ "$checked" -gt 0 ] || fail "no example of $document runs on a file in examples/"
    echo "$checked examples checked"
}
