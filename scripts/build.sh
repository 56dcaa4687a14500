#!/usr/bin/env bash
# Configures and builds Velmora into build/ (the runnable program folder is build/program/).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
launcher=()
# Rebuilds of several checkouts share one compiler cache when ccache is installed.
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} ${launcher[@]+"${launcher[@]}"} >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
