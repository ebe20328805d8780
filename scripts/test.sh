#!/usr/bin/env bash
# Installs what is missing (for building, running and testing), builds everything with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test. PELMORA_WERROR=ON in the
# environment makes warnings errors (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh run test
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMORA_SANITIZE=ON \
  -DPELMORA_TESTS=ON -DPELMORA_BENCH=ON -DPELMORA_WERROR="${PELMORA_WERROR:-OFF}" >/dev/null
ninja -C build-test
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:${LSAN_OPTIONS:-}"
# The printing tests print through a cups-pdf queue; without one they skip.
trap "'$PWD/scripts/print-setup.sh' stop $$ || true" EXIT
./scripts/print-setup.sh start $$ || echo "No print system: the printing tests will skip." >&2
cd build-test
ctest --output-on-failure --timeout 600 -j2
