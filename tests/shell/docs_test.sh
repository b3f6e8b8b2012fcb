#!/usr/bin/env bash
# Keeps the documents honest about the tree: every file in src/ is named in
# ARCHITECTURE.md's code map and every src/ file named there exists, and
# every relative link of the Markdown files resolves, to a file or folder
# and, with a #fragment, to a heading of that document.
# Usage: docs_test.sh SOURCE_DIR
set -euo pipefail

source_dir=$1
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

architecture="$source_dir/ARCHITECTURE.md"
if [ ! -f "$architecture" ]; then
    fail "ARCHITECTURE.md is missing"
else
    for file in "$source_dir"/src/*; do
        name="src/${file##*/}"
        grep -qF "\`$name\`" "$architecture" || fail "ARCHITECTURE.md does not name $name"
    done
    while read -r name; do
        [ -e "$source_dir/$name" ] || fail "ARCHITECTURE.md names $name, which does not exist"
    done < <(grep -oE 'src/[A-Za-z0-9_./-]+\.(cpp|h)' "$architecture" | sort -u)
fi

# The text of a document outside its fenced code blocks.
prose() {
    awk '/^ *```/ { inside = !inside; next } !inside' "$1"
}

# The anchors of a document's headings, as GitHub makes them: lower case,
# punctuation dropped, blanks turned into hyphens.
anchors() {
    prose "$1" | sed -n 's/^#\{1,6\} \{1,\}//p' |
        tr '[:upper:]' '[:lower:]' | sed -e 's/[^a-z0-9 _-]//g' -e 's/ /-/g'
}

documents=()
while IFS= read -r -d '' document; do
    documents+=("$document")
done < <(find "$source_dir" -path "$source_dir/build" -prune -o -path "$source_dir/.git" -prune -o \
              -name '*.md' -type f -print0 | sort -z)
[ ${#documents[@]} -gt 0 ] || fail "no Markdown files under $source_dir"

links=0
for document in "${documents[@]}"; do
    where=${document#"$source_dir"/}
    while IFS= read -r target; do
        case $target in
            http://* | https://* | mailto:*) continue ;;
        esac
        links=$((links + 1))
        path=${target%%#*}
        fragment=
        [[ $target == *'#'* ]] && fragment=${target#*#}
        if [ -z "$path" ]; then
            linked=$document
        else
            linked="$(dirname "$document")/$path"
        fi
        if [ ! -e "$linked" ]; then
            fail "$where links to $target, which does not exist"
        elif [ -n "$fragment" ] && ! anchors "$linked" | grep -qxF "$fragment"; then
            fail "$where links to $target, but no heading there makes #$fragment"
        fi
    done < <(prose "$document" | grep -oE '\]\([^) ]+\)' | sed -e 's/^](//' -e 's/)$//')
done

echo "${#documents[@]} documents, $links relative links checked"
[ "$failures" -eq 0 ]
