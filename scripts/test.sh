#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test suite:
# native (with the long runs), native under the sanitizers, a minute of
# fuzzing, and the Windows exes: PE checks, the full Wine suites on the
# shipped 32-bit exe under 32-bit Wine and on the 64-bit twin under wine64,
# the desktop test on both under Xvfb, the release archives' reproducibility
# and the signing hook. A failed tree does not stop the others; the last lines
# list each failed suite and each skipped one with its reason, and the exit
# status is non-zero when any failed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

results="$PWD/build/test-results"
rm -rf "$results"
mkdir -p "$results"

# Runs one step and records its exit status (and the tree's test results) for
# the summary; returns that status.
record() {
    local label=$1 junit=$2
    shift 2
    local status=0
    "$@" || status=$?
    printf '%s\t%s\t%s\n' "$label" "$status" "$junit" >>"$results/steps"
    return "$status"
}

tree() {
    local preset=$1
    record "$preset (configure)" "" cmake --preset "$preset" &&
        record "$preset (build)" "" cmake --build --preset "$preset" &&
        record "$preset" "$results/$preset.xml" ctest --preset "$preset" --output-junit "$results/$preset.xml"
}

tree native || true
tree asan || true
record fuzz "" fuzz/run.sh 60 || true

scripts/setup-win32-emulation.sh ||
    echo "The 32-bit Wine suites will be skipped, for the reason above."
tree win32 || true
tree win64 || true

echo
echo "== What this run covered =="
echo "the run took $((SECONDS / 60)) min $((SECONDS % 60)) s"
scripts/test-summary.py "$results"
