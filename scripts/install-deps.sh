#!/usr/bin/env bash
# Installs the Debian 12 packages Pelmora needs to build, run, test and benchmark; installs
# nothing when they are all present already.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev libicu-dev
  libsqlite3-dev qt6-svg-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation
  xvfb xdotool x11-utils imagemagick poppler-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
