#!/usr/bin/env bash
# Builds the shipped 32-bit launcher.exe twice from scratch, in two build
# folders with different paths, and fails unless both exes are byte-identical.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
first="$(mktemp -d)"
second="$(mktemp -d)/another-build-folder"
trap 'rm -rf "$first" "$(dirname "$second")"' EXIT

for build in "$first" "$second"; do
    cmake -S "$root" -B "$build" --toolchain "$root/cmake/toolchain-mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$build" --target launcher -j 2 >/dev/null
done

sha256sum "$first/launcher.exe" "$second/launcher.exe"
if cmp "$first/launcher.exe" "$second/launcher.exe"; then
    echo "reproducible: both builds of launcher.exe are identical"
else
    echo "NOT reproducible: the two builds of launcher.exe differ"
    exit 1
fi
