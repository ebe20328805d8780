#!/usr/bin/env bash
# Installs what is missing, builds Pelmora (release) and starts it. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMORA_TESTS=OFF \
  -DPELMORA_BENCH=OFF >/dev/null
ninja -C build-release pelmora pelmora-cli pelmora-report
exec build-release/bin/pelmora "$@"
