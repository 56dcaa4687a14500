#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Velmora needs.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
PKGS=(
  build-essential cmake pkg-config
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev
  libavfilter-dev libavdevice-dev
  libtinyxml-dev
  libtag1-dev
  libcue-dev
  libebur128-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
  libsdl2-dev
  fonts-liberation fontconfig
  ffmpeg
  libgtest-dev googletest
  xvfb xauth
  # the window on real desktops: a window manager and keys from outside (x11-utils:
  # xprop), weston's headless Wayland backend and Qt's Wayland platform
  openbox xdotool x11-utils weston qt6-wayland
  # a private session bus for the test of the file manager call
  dbus-daemon
  # the accessibility test: the AT-SPI bus and registry, and pyatspi to read them
  at-spi2-core python3-pyatspi gir1.2-atspi-2.0
  locales
  # the test of a batch shared out by GNU parallel
  parallel
  # the Debian package (cpack's dependency list) and its checks
  dpkg-dev file lintian appstream
  # fuzzing: clang with libFuzzer and the sanitizers
  clang libclang-rt-14-dev llvm
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# A comma-decimal locale, so tests can prove that numbers are written the C way
# whatever locale the process runs in.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
