#!/usr/bin/env bash
# Times the growth history (recording a snapshot of a 10,000-entry list, limit 400 ms; the
# growth report over 365 snapshots of 1,000 directories, limit 300 ms) in a Release build. Both
# begin with SQLite's check of the whole file, which takes most of the time.
#
#   bench/history.sh [--repeat N]
#
# Environment: PELMORA_BENCH_BUILD (Release build; default build-bench), PELMORA_BENCH_WORK
# (where the databases are made; default bench/work). Exit status 1 when a median is over.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${PELMORA_BENCH_BUILD:-$repo/build-bench}"
work="${PELMORA_BENCH_WORK:-$repo/bench/work}"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMORA_SANITIZE=OFF \
    -DPELMORA_TESTS=OFF >/dev/null
ninja -C "$build" -j2 pelmora-history-bench >/dev/null
mkdir -p "$work"
exec "$build/bin/pelmora-history-bench" --dir "$work/history" "$@"
