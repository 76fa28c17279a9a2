#!/usr/bin/env bash
# Builds the native launcher, lays out the demo app directory under
# build/demo-app and runs one full cycle: app v1 asks for an update (21), the
# updater installs v2 (0), the launcher restarts the app, which ends with 0.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh demo
cmake --preset native >/dev/null
cmake --build --preset native --target launcher
demo/make-app-dir.sh build/native/launcher build/demo-app

echo "--- running build/demo-app/launcher ---"
build/demo-app/launcher
