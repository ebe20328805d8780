#!/usr/bin/env bash
# Builds the Debian package: a Release tree in build-package/ (installed to /usr, with the
# distribution's hardening flags) and dist/pelmora_<version>_<arch>.deb made by CPack.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh run package

eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS" LDFLAGS

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DPELMORA_TESTS=OFF -DPELMORA_BENCH=OFF -DPELMORA_FUZZ=OFF -DPELMORA_ICONS=ON \
  -DPELMORA_WERROR="${PELMORA_WERROR:-OFF}" >/dev/null
ninja -C build-package
rm -rf build-package/cpack
(cd build-package && cpack -G DEB -B "$PWD/cpack" >/dev/null)
mkdir -p dist
rm -f dist/pelmora_*.deb
mv build-package/cpack/pelmora_*.deb dist/
ls dist/pelmora_*.deb
