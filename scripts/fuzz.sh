#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (default 60 s).
# A finding is kept in fuzz/findings/<target>/ and makes the script fail; copy it into
# fuzz/corpus/<target>/ once fixed, so that the test build replays it for good.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
# System libraries (fontconfig) keep allocations for the whole process.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:${LSAN_OPTIONS:-}"
./scripts/install-deps.sh
if ! command -v clang++ >/dev/null || ! dpkg-query -W libclang-rt-14-dev >/dev/null 2>&1; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends clang libclang-rt-14-dev
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELMORA_FUZZ=ON -DPELMORA_TESTS=OFF -DPELMORA_BENCH=OFF -DPELMORA_SANITIZE=ON >/dev/null
ninja -C build-fuzz fuzz_mask fuzz_listfile fuzz_cmdline fuzz_shortenpath fuzz_dataline
status=0
for t in mask listfile cmdline shortenpath dataline; do
  work=$(mktemp -d)
  cp -r fuzz/corpus/$t/. "$work/"
  mkdir -p fuzz/findings/$t
  echo "== fuzz_$t for ${seconds}s"
  if ! QT_QPA_PLATFORM=offscreen build-fuzz/fuzz/fuzz_$t -max_total_time="$seconds" \
      -max_len=4096 -timeout=10 -rss_limit_mb=2048 -artifact_prefix=fuzz/findings/$t/ -print_final_stats=1 "$work" \
      > "build-fuzz/fuzz_$t.log" 2>&1; then
    echo "fuzz_$t: FINDING (see build-fuzz/fuzz_$t.log and fuzz/findings/$t/)"
    tail -n 30 "build-fuzz/fuzz_$t.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|stat::new_units_added" "build-fuzz/fuzz_$t.log" || true
  fi
  rm -rf "$work"
  rmdir fuzz/findings/$t 2>/dev/null || true
done
exit $status
