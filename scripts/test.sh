#!/usr/bin/env bash
# Installs what the build and the tests need, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
cd "$BUILD_DIR"
ctest -j"$(nproc)" --output-on-failure --timeout 600
