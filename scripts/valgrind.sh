#!/usr/bin/env bash
# Runs the counting engine's tests under valgrind, the one-thread walker and the threaded count
# in every mode: fails on any memory error, on a leak, and on a file descriptor that is still
# open at exit other than standard input, output and error. The tests that mount file systems
# in a namespace of their own are left out (their children end before valgrind can report).
# Builds a plain (not sanitized) RelWithDebInfo tree in build-valgrind/.
#   scripts/valgrind.sh [gtest filter]
set -euo pipefail
cd "$(dirname "$0")/.."
filter="${1:-Walker*:Counting*:ParallelCount*:EveryMode/*:Cache*:CountsAtOnce*:ThreadedCount*:-*Mount*}"

./scripts/install-deps.sh
if ! command -v valgrind >/dev/null; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends valgrind
fi

cmake -S . -B build-valgrind -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELMORA_SANITIZE=OFF -DPELMORA_FUZZ=OFF -DPELMORA_BENCH=OFF >/dev/null
ninja -C build-valgrind -j2 test_stats

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

echo "== valgrind test_stats --gtest_filter=$filter"
set +e
LC_ALL=C.UTF-8 valgrind --leak-check=full \
  --error-exitcode=1 --errors-for-leak-kinds=definite,indirect \
  --show-leak-kinds=definite,indirect --track-fds=yes --child-silent-after-fork=yes \
  --log-file="$logs/vg.%p" build-valgrind/tests/test_stats --gtest_filter="$filter" \
  > "$logs/out" 2>&1
status=$?
set -e
tail -n 3 "$logs/out"

fail=0
if [ $status -ne 0 ]; then
  echo "valgrind or the tests failed (exit status $status):"
  grep -hE "ERROR SUMMARY|definitely lost|indirectly lost|FAILED" "$logs"/vg.* "$logs/out" || true
  fail=1
fi
# Descriptors still open at exit. Those the program was given ("<inherited from parent>":
# valgrind's own log, whatever the calling shell holds) and 0-2 are fine; any other was
# opened by the program and never closed.
leaked_fds() {
  awk '/Open (file|AF_[A-Z0-9]+ socket) descriptor [0-9]+/ {
         if (pending != "") print pending
         match($0, /descriptor [0-9]+/); n = substr($0, RSTART + 11, RLENGTH - 11) + 0
         pending = (n > 2) ? $0 : ""; next }
       /inherited from parent/ { pending = ""; next }
       pending != "" && /^==[0-9]+== *$/ { print pending; pending = "" }
       END { if (pending != "") print pending }' "$1"
}
for log in "$logs"/vg.*; do
  grep -q "FILE DESCRIPTORS:" "$log" || { echo "no descriptor summary in $log"; fail=1; }
  extra=$(leaked_fds "$log")
  if [ -n "$extra" ]; then
    echo "descriptors left open at exit ($log):"
    echo "$extra"
    grep -A6 -F "$(echo "$extra" | head -n 1)" "$log" || true
    fail=1
  fi
done
grep -h "FILE DESCRIPTORS:\|ERROR SUMMARY:\|definitely lost:\|indirectly lost:" "$logs"/vg.* || true
[ $fail -eq 0 ] && echo "valgrind: clean"
exit $fail
