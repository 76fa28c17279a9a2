#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

cmake --preset native
cmake --build --preset native
ctest --preset native
