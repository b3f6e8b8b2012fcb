#!/usr/bin/env bash
# Builds the Debian package twice, from two copies of the tree in folders of
# different names and depths, one after the other, and checks that the two
# packages are the same bytes: neither the folder nor the time of a build
# may reach what it makes. The copies take the tree as it stands, edits not
# yet committed included. They are dated like a build in the tree itself:
# with SOURCE_DATE_EPOCH if given, else with the last commit's date; a tree
# that is not a git checkout leaves them to the changelog's date.
# Usage: reproducible_package_test.sh SOURCE_DIR
set -euo pipefail

source_dir=$1
work_dir=$(mktemp -d)
trap 'rm -rf "$work_dir"' EXIT

in_git=false
git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1 && in_git=true
if $in_git && [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi

# The files git tracks or would track; files deleted but not yet committed
# are left out, and so is every build folder.
copy_tree() {
    local to=$1
    mkdir -p "$to"
    if $in_git; then
        (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
            while IFS= read -r -d '' file; do
                [ -e "$file" ] && printf '%s\0' "$file"
            done | tar --null -T - -cf -) | tar -C "$to" -xf -
    else
        tar -C "$source_dir" --exclude=./build -cf - . | tar -C "$to" -xf -
    fi
}

build_package() {
    local tree=$1 log="$1.log"
    copy_tree "$tree"
    if ! { cmake -S "$tree" -B "$tree/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF &&
           cmake --build "$tree/build" &&
           (cd "$tree/build" && cpack -G DEB -B "$tree/package"); } >"$log" 2>&1; then
        cat "$log" >&2
        echo "FAIL: the build in $tree failed" >&2
        exit 1
    fi
    find "$tree/package" -maxdepth 1 -name 'chunklens_*.deb'
}

deb_a=$(build_package "$work_dir/a")
deb_b=$(build_package "$work_dir/a-folder-of-a-longer-name/one-level-deeper")
[ -s "$deb_a" ] && [ -s "$deb_b" ] || { echo "FAIL: cpack made no package" >&2; exit 1; }
[ "$(basename "$deb_a")" = "$(basename "$deb_b")" ] ||
    { echo "FAIL: the packages are named $(basename "$deb_a") and $(basename "$deb_b")" >&2; exit 1; }
if ! cmp "$deb_a" "$deb_b" >&2; then
    # Say where they differ: in the file list and dates, or in which files.
    diff <(dpkg-deb --fsys-tarfile "$deb_a" | tar -tv --full-time) \
         <(dpkg-deb --fsys-tarfile "$deb_b" | tar -tv --full-time) >&2 || true
    dpkg-deb -R "$deb_a" "$work_dir/unpacked-a"
    dpkg-deb -R "$deb_b" "$work_dir/unpacked-b"
    diff -r "$work_dir/unpacked-a" "$work_dir/unpacked-b" >&2 || true
    echo "FAIL: two builds of the same tree give different packages" >&2
    exit 1
fi
