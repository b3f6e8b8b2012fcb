#!/usr/bin/env bash
# Runs lintian, pedantic and with its informational tags, on the Debian
# package that cpack makes of BUILD_DIR, or on DEB if given. Any tag fails;
# the package has no overrides. Then hardening-check looks at the binary in
# the package for what dpkg-buildflags gives this release's own packages.
# Usage: package_lint_test.sh BUILD_DIR [DEB]
set -euo pipefail

build_dir=$1
deb=${2:-}
work_dir=$(mktemp -d)
trap 'rm -rf "$work_dir"' EXIT

if [ -z "$deb" ]; then
    if ! (cd "$build_dir" && cpack -G DEB -B "$work_dir" >"$work_dir/cpack.log" 2>&1); then
        cat "$work_dir/cpack.log" >&2
        echo "FAIL: cpack failed" >&2
        exit 1
    fi
    deb=$(find "$work_dir" -maxdepth 1 -name 'chunklens_*.deb')
fi
# The suite and scripts/package run as root, which lintian would otherwise
# warn about on every run.
output=$(lintian --allow-root --pedantic -I "$deb" 2>&1) || true
if [ -n "$output" ]; then
    echo "FAIL: lintian on $(basename "$deb"):" >&2
    echo "$output" >&2
    exit 1
fi

if ! command -v dpkg-buildflags >/dev/null || ! command -v hardening-check >/dev/null; then
    echo "FAIL: dpkg-buildflags (dpkg-dev) and hardening-check (devscripts) are needed" >&2
    exit 1
fi
# Two marks are asked for only where the release can give them:
# - Control flow protection (amd64) is a mark that the linker sets only when
#   every object carries it, the C library's start files included. Debian 13
#   gives -fcf-protection but builds those files without the mark, so its
#   own programs (/usr/bin/ls) have none either; Debian 12 gives neither.
# - Branch protection is arm64's -mbranch-protection, which newer
#   hardening-check versions look for on every architecture.
arch=$(dpkg-deb -f "$deb" Architecture)
release_flags=$(DEB_HOST_ARCH=$arch DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)
start_file=$(${CXX:-c++} -print-file-name=Scrt1.o)
options=()
if ! [[ $release_flags =~ (^| )-fcf-protection(=full)?( |$) ]] ||
   ! readelf -n "$start_file" 2>/dev/null | grep -q 'x86 feature: IBT'; then
    options+=(--nocfprotection)
fi
# (--help ends with a status of 1, hence the text is taken first.)
checks=$(hardening-check --help 2>&1 || true)
if ! [[ $release_flags =~ (^| )-mbranch-protection= ]] && [[ $checks == *--nobranchprotection* ]]; then
    options+=(--nobranchprotection)
fi
dpkg-deb -x "$deb" "$work_dir/unpacked"
binary="$work_dir/unpacked/usr/bin/chunklens"
status=0
report=$(hardening-check "${options[@]}" "$binary" 2>&1) || status=$?
# Stack clash protection shows only as the probing loop of a function whose
# frame may pass a page, and chunklens has none: that line says unknown with
# the flag or without. Any other unknown means the check could not look.
lacking=$(grep -E '^ [^:]+: (no|unknown)' <<<"$report" |
          grep -v -e '(ignored)$' -e '^ Stack clash protection: unknown' |
          sed 's/^ \([^:]*\):.*/\1/' | paste -sd, | sed 's/,/, /g') || true
if [ -n "$lacking" ] || [ "$status" -ne 0 ]; then
    if [ -n "$lacking" ]; then
        echo "FAIL: hardening-check: usr/bin/chunklens of $(basename "$deb") lacks: $lacking" >&2
    else
        echo "FAIL: hardening-check failed (exit status $status) on usr/bin/chunklens of $(basename "$deb")" >&2
    fi
    echo "$report" >&2
    echo "(this release's CXXFLAGS with hardening=+all: $release_flags)" >&2
    exit 1
fi
