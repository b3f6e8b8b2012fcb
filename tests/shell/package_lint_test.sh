#!/usr/bin/env bash
# Runs lintian, pedantic and with its informational tags, on the Debian
# package that cpack makes of BUILD_DIR, or on DEB if given. Any tag fails;
# the package has no overrides.
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
