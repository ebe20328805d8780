#!/usr/bin/env bash
# Installs what building and running need, builds Pelmora (release) and starts it. Arguments go
# to the program. Without a display it says so and points to pelmora-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh run
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMORA_TESTS=OFF \
  -DPELMORA_BENCH=OFF >/dev/null
ninja -C build-release pelmora pelmora-cli pelmora-report
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: the Pelmora window needs a display (DISPLAY or WAYLAND_DISPLAY); without one, use $PWD/build-release/bin/pelmora-cli (for example: pelmora-cli count DIR)" >&2
  exit 1
fi
exec build-release/bin/pelmora "$@"
