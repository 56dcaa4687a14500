#!/usr/bin/env bash
# Installs what Velmora needs, builds it and starts the front end. Any arguments
# are media files to put in the list, as "Open with" would.
#
#   bash scripts/run.sh [file ...]
set -euo pipefail
# Files named relative to where the user stands, before we move to the source tree.
files=()
for f in "$@"; do files+=("$(realpath -m -- "$f")"); done
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
exec "$BUILD_DIR/program/velmora" ${files[@]+"${files[@]}"}
