#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Varnix needs.
# Idempotent: when everything is present it only runs dpkg-query and exits.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config ccache git
  # Qt 6 (Core, Gui, Widgets, Network, DBus, Concurrent, Svg)
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  # terminal emulation
  libvterm-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth
  # runtime: fonts, terminal multiplexer, confinement, desktop helpers
  fonts-jetbrains-mono fonts-dejavu-core fonts-noto-color-emoji fonts-droid-fallback
  tmux bubblewrap xdg-utils adwaita-icon-theme
  # the Qt xcb platform plugin's runtime pieces
  libxcb-cursor0 libxkbcommon-x11-0
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
