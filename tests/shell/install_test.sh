#!/usr/bin/env bash
# Checks what is installed, and where: the binary, the man page and the two
# completions, in the places where man, bash-completion and zsh look, and
# Debian's copyright file and changelog.
#   tree     `cmake --install` of BUILD_DIR into an empty prefix;
#   package  the Debian package that cpack makes of BUILD_DIR, or DEB if
#            given: its control fields and the files it unpacks.
# Usage: install_test.sh tree|package BUILD_DIR SOURCE_DIR [DEB]
set -euo pipefail

mode=$1
build_dir=$2
source_dir=$3
deb=${4:-}
work_dir=$(mktemp -d)
trap 'rm -rf "$work_dir"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The one place where the version is written.
project_version=$(sed -n 's/^project(chunklens VERSION \([^ )]*\).*/\1/p' "$source_dir/CMakeLists.txt")
[ -n "$project_version" ] || fail "no version in the project() line of CMakeLists.txt"

expect_same_file() {
    local installed=$1 source=$2
    if [ ! -f "$installed" ]; then
        fail "$installed is missing"
    elif ! cmp -s "$installed" "$source"; then
        fail "$installed differs from $source"
    fi
}

check_binary() {
    local prefix=$1 expected actual
    [ -x "$prefix/bin/chunklens" ] || { fail "$prefix/bin/chunklens is missing"; return; }
    expected=$("$build_dir/chunklens" "$source_dir/examples/sample.sf2")
    actual=$("$prefix/bin/chunklens" "$source_dir/examples/sample.sf2") ||
        fail "the installed chunklens fails on examples/sample.sf2"
    [ "$actual" = "$expected" ] || fail "the installed chunklens lists examples/sample.sf2 differently"
}

check_man_page() {
    local prefix=$1 page="$1/share/man/man1/chunklens.1.gz" found
    [ -f "$page" ] || { fail "$page is missing"; return; }
    gzip -dc "$page" >"$work_dir/chunklens.1"
    expect_same_file "$work_dir/chunklens.1" "$build_dir/man/chunklens.1"
    if command -v man >/dev/null; then
        found=$(MANPATH="$prefix/share/man" man -w chunklens 2>&1) || true
        [ "$found" = "$page" ] || fail "man -w chunklens finds '$found', not $page"
    fi
}

# bash-completion loads a command's completion on first use from
# bash-completion/completions under each of XDG_DATA_DIRS.
check_bash_completion() {
    local prefix=$1 registered
    expect_same_file "$prefix/share/bash-completion/completions/chunklens" \
        "$source_dir/completion/chunklens.bash"
    registered=$(XDG_DATA_DIRS="$prefix/share" bash -c '
        source /usr/share/bash-completion/bash_completion
        __load_completion chunklens && complete -p chunklens' 2>&1) || true
    [ "$registered" = "complete -F _chunklens chunklens" ] ||
        fail "bash-completion does not load the installed completion: $registered"
}

# compinit reads the #compdef line of every function on fpath.
check_zsh_completion() {
    local prefix=$1 registered
    expect_same_file "$prefix/share/zsh/vendor-completions/_chunklens" "$source_dir/completion/_chunklens"
    registered=$(HOME="$work_dir" zsh -f -c '
        fpath=("$1" $fpath)
        autoload -U compinit && compinit -u -d "$HOME/zcompdump"
        print -r -- $_comps[chunklens]' zsh "$prefix/share/zsh/vendor-completions" 2>&1) || true
    [ "$registered" = "_chunklens" ] || fail "zsh's compinit does not find _chunklens: $registered"
}

# The machine-readable copyright file names the holder and the licence of
# LICENSE, and carries that licence's text.
check_copyright() {
    local file="$1/share/doc/chunklens/copyright" holder
    [ -f "$file" ] || { fail "$file is missing"; return; }
    [ "$(head -n 1 "$file")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
        fail "$file does not start with the Format line of Debian's machine-readable format"
    holder=$(sed -n 's/^Copyright (c) //p' "$source_dir/LICENSE")
    [ -n "$holder" ] || fail "LICENSE names no copyright holder"
    # Paragraphs are separated by blank lines; a continuation line's " ."
    # stands for a blank one.
    awk -v RS= -v holder="Copyright: $holder" '
        /^Files: \*\n/ && index($0, "\n" holder "\n") && /\nLicense: Expat(\n|$)/ { found = 1 }
        END { exit !found }' "$file" ||
        fail "$file has no 'Files: *' paragraph with '$holder' under the Expat licence"
    awk -v RS= '/^License: Expat\n/' "$file" | sed -e 1d -e 's/^ //' -e 's/^\.$//' >"$work_dir/licence"
    sed -n '/^Permission is hereby granted/,$p' "$source_dir/LICENSE" >"$work_dir/licence.expected"
    cmp -s "$work_dir/licence" "$work_dir/licence.expected" ||
        fail "the Expat licence text in $file is not the text of LICENSE"
}

# The changelog is a Debian changelog whose newest entry has the version of
# project(); the man page's header has the same version and that entry's
# date.
check_changelog() {
    local file="$1/share/doc/chunklens/changelog.gz" version date header expected_header
    [ -f "$file" ] || { fail "$file is missing"; return; }
    gzip -dc "$file" >"$work_dir/changelog" || { fail "$file is not gzip data"; return; }
    version=$(dpkg-parsechangelog -l "$work_dir/changelog" -S Version) &&
        date=$(dpkg-parsechangelog -l "$work_dir/changelog" -S Date) ||
        { fail "dpkg-parsechangelog cannot read $file"; return; }
    [ "$version" = "$project_version" ] ||
        fail "the newest changelog entry is for $version, project() says $project_version"
    # "Thu, 10 Dec 2026 00:00:00 +0000": the date as written, whatever the
    # zone.
    date=$(date -d "$(cut -d ' ' -f 2-4 <<<"$date")" +%F)
    header=$(gzip -dc "$1/share/man/man1/chunklens.1.gz" | head -n 1)
    expected_header=".TH CHUNKLENS 1 $date \"chunklens $project_version\" \"User Commands\""
    [ "$header" = "$expected_header" ] || fail "the man page's header is '$header', not '$expected_header'"
}

check_prefix() {
    check_binary "$1"
    check_man_page "$1"
    check_copyright "$1"
    check_changelog "$1"
    check_bash_completion "$1"
    check_zsh_completion "$1"
}

check_install_tree() {
    cmake --install "$build_dir" --prefix "$work_dir/prefix" >/dev/null
    check_prefix "$work_dir/prefix"
}

check_control_field() {
    local field=$1 pattern=$2 value
    value=$(dpkg-deb -f "$deb" "$field")
    [[ $value =~ $pattern ]] || fail "$field is '$value', expected to match '$pattern'"
}

# Built from a git checkout with no SOURCE_DATE_EPOCH given, every file in
# the package carries the last commit's date, so that the package does not
# change with the time it is built.
check_file_dates() {
    local epoch=${SOURCE_DATE_EPOCH:-} top expected wrong
    if [ -z "$epoch" ]; then
        top=$(git -C "$source_dir" rev-parse --show-toplevel 2>/dev/null) || return 0
        [ "$(realpath "$top")" = "$(realpath "$source_dir")" ] || return 0
        epoch=$(git -C "$source_dir" log -1 --format=%ct)
    fi
    expected=$(TZ=UTC date -d "@$epoch" '+%F %T')
    wrong=$(dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv --full-time |
            awk -v expected="$expected" '$4 " " $5 != expected')
    [ -z "$wrong" ] || fail "entries not dated $expected:"$'\n'"$wrong"
}

check_package() {
    if [ -z "$deb" ]; then
        (cd "$build_dir" && cpack -G DEB -B "$work_dir/cpack" >/dev/null) || fail "cpack failed"
        deb=$(find "$work_dir/cpack" -maxdepth 1 -name 'chunklens_*.deb' | head -n 1)
        [ -n "$deb" ] || { fail "cpack made no chunklens_*.deb"; return; }
    fi
    check_control_field Package '^chunklens$'
    check_control_field Version "^${project_version//./\\.}\$"
    check_control_field Architecture "^$(dpkg --print-architecture)\$"
    check_control_field Section '^utils$'
    check_control_field Maintainer '.+ <.+@.+>'
    # A summary line, then the long description, each line of it indented
    # by exactly one blank.
    check_control_field Description '^[^'$'\n'']+('$'\n'' [^ '$'\n''][^'$'\n'']*)+$'
    # From dpkg-shlibdeps: the library that reads RIFF, and its versions.
    check_control_field Depends '(^|, )libinstpatch-1\.0-2 \(>= [0-9.]+\)(,|$)'
    check_control_field Depends '(^|, )libc6 \(>= [0-9.]+\)(,|$)'

    # Everything lies under /usr and belongs to root.
    local listing
    listing=$(dpkg-deb -c "$deb")
    if grep -Ev '^[-dl][rwx-]{9} root/root +[0-9]+ [0-9-]+ [0-9:]+ \./(usr/.*)?$' <<<"$listing"; then
        fail "entries above are outside /usr or not owned by root"
    fi
    check_file_dates
    dpkg-deb -x "$deb" "$work_dir/root"
    check_prefix "$work_dir/root/usr"
}

case $mode in
    tree) check_install_tree ;;
    package) check_package ;;
    *) echo "unknown mode: $mode" >&2; exit 2 ;;
esac
[ "$failures" -eq 0 ]
