#!/usr/bin/env bash
# Installs every package the project needs to build, test and run its demo
# (Debian packages only), and any further packages named as arguments (the
# Windows build's). Safe to run again.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache lld
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev
  libpq-dev postgresql-15 postgresql-client-15
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils x11-apps imagemagick procps psmisc libx11-dev
  dpkg-dev file locales
  clang libclang-rt-dev llvm
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
