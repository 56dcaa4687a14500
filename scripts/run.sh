#!/usr/bin/env bash
# Installs what Velmora needs, builds it and starts the front end. Any arguments
# are media files to put in the list, as "Open with" would.
#
#   bash scripts/run.sh [file ...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
exec "$BUILD_DIR/program/velmora" "$@"
