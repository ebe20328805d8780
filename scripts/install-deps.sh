#!/usr/bin/env bash
# Installs the Debian 12 packages of the sets named on the command line (default: run test);
# installs nothing when they are all present already.
#   run      building and running the programs
#   test     in addition, the tests and benchmarks (GoogleTest, fonts, X server, a headless
#            Wayland compositor and Qt's Wayland platform, the accessibility bus, tools; ncdu
#            and gdu, which load pelmora-cli's ncdu-format export in its tests; Prometheus with
#            node_exporter for the metrics)
#   package  in addition, building and checking the Debian package (bash-completion and
#            systemd-analyze for the installed completion and the units)
set -euo pipefail

run=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev libicu-dev libcups2-dev
  libmount-dev libblkid-dev
  libsqlite3-dev
  fonts-liberation
)
test=(
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool x11-utils imagemagick poppler-utils
  cups cups-client printer-driver-cups-pdf
  zsh clang-format ncdu gdu
  weston qt6-wayland dbus-daemon at-spi2-core python3-dbus
  prometheus prometheus-node-exporter curl
)
package=(
  dpkg-dev file lintian desktop-file-utils appstream man-db
  bash-completion systemd
)

sets=("$@")
[ ${#sets[@]} -eq 0 ] && sets=(run test)
packages=()
for set in "${sets[@]}"; do
  case "$set" in
    run) packages+=("${run[@]}") ;;
    test) packages+=("${test[@]}") ;;
    package) packages+=("${package[@]}") ;;
    *) echo "install-deps.sh: unknown set '$set' (run, test, package)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -Eq "install ok (installed|triggers-)" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
