#!/usr/bin/env bash
# Builds the native launcher, lays out the demo app directory under
# build/demo-app and runs one full cycle, opened with a document as a file
# association would open it: app v1 asks for an update (21), the updater
# installs v2 (0), the launcher restarts the app, which ends with 0.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh demo
cmake --preset native >/dev/null
cmake --build --preset native --target launcher
demo/make-app-dir.sh build/native/launcher build/demo-app

document="$PWD/build/demo-app/報告 2026.txt"
echo "a report" >"$document"
echo "--- running build/demo-app/launcher \"$document\" ---"
LC_ALL=C.UTF-8 build/demo-app/launcher "$document"
