#!/usr/bin/env bash
# The program's windows as a screen reader meets them: starts the built program with
# a media file made here, under Xvfb and a private session and accessibility bus, and
# checks over AT-SPI what the main window and Settings expose (atspi_tree.py says
# what). Exits 77 (skipped) when pyatspi or the AT-SPI services are missing.
#
#   atspi_tree_test.sh BUILD_DIR [check|dump]
set -euo pipefail

BUILD=$(cd "$1" && pwd)
MODE=${2:-check}
HERE=$(cd "$(dirname "$0")" && pwd)

for tool in Xvfb xdpyinfo dbus-run-session ffmpeg /usr/libexec/at-spi-bus-launcher /usr/libexec/at-spi2-registryd; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed"
        exit 77
    fi
done

WORK=$(mktemp -d /tmp/velmora-atspi-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
ffmpeg -v error -y -f lavfi -i "testsrc=size=160x120:rate=25:duration=2" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=2" \
    -c:v mpeg4 -c:a aac -shortest "$WORK/clip one.mp4"

# pyatspi is the distribution's package: it lives with the system's Python.
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3
exec dbus-run-session -- "$PYTHON" "$HERE/atspi_tree.py" "$MODE" "$BUILD/program/velmora" "$WORK/clip one.mp4"
