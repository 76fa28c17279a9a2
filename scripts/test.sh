#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test suite:
# native (with the long runs), native under the sanitizers, a minute of
# fuzzing, and the Windows exes (PE checks, Wine runs, reproducibility).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

cmake --preset native
cmake --build --preset native
ctest --preset native

cmake --preset asan
cmake --build --preset asan
ctest --preset asan

fuzz/run.sh 60

scripts/setup-win32-emulation.sh ||
    echo "32-bit Windows programs cannot run here: the 32-bit smoke run will be skipped"
for preset in win32 win64; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
