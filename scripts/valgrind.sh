#!/usr/bin/env bash
# Runs the walker and counting tests under valgrind: fails on any memory error, on a leak, and
# on a file descriptor that is still open at exit other than standard input, output and error.
# Builds a plain (not sanitized) RelWithDebInfo tree in build-valgrind/.
#   scripts/valgrind.sh [gtest filter]     (default: Walker*:Counting*)
set -euo pipefail
cd "$(dirname "$0")/.."
filter="${1:-Walker*:Counting*}"

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
# Descriptors 0-2 are the only ones the test program may hold at exit. Anything this shell
# passes down beyond them is closed first, so that it is not mistaken for a leak.
for fd in $(ls /proc/$$/fd); do
  [ "$fd" -gt 2 ] && eval "exec $fd>&-" 2>/dev/null || true
done

echo "== valgrind test_stats --gtest_filter=$filter"
set +e
QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 valgrind --leak-check=full --error-exitcode=1 \
  --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
  --track-fds=yes --child-silent-after-fork=yes --log-file="$logs/vg.%p" \
  build-valgrind/tests/test_stats --gtest_filter="$filter" > "$logs/out" 2>&1
status=$?
set -e
tail -n 3 "$logs/out"

fail=0
if [ $status -ne 0 ]; then
  echo "valgrind or the tests failed (exit status $status):"
  grep -hE "ERROR SUMMARY|definitely lost|indirectly lost|FAILED" "$logs"/vg.* "$logs/out" || true
  fail=1
fi
for log in "$logs"/vg.*; do
  # "Open file descriptor N: ..." for every descriptor still open at exit; 0, 1 and 2 are fine.
  extra=$(grep -E "Open (file|AF_[A-Z0-9]+ socket) descriptor [0-9]+" "$log" \
            | grep -vE "descriptor [012]:" || true)
  if [ -n "$extra" ]; then
    echo "descriptors left open at exit ($log):"
    echo "$extra"
    grep -A4 -E "Open (file|AF_[A-Z0-9]+ socket) descriptor ([3-9]|[1-9][0-9]+)" "$log" || true
    fail=1
  fi
  grep -q "FILE DESCRIPTORS:" "$log" || { echo "no descriptor summary in $log"; fail=1; }
done
grep -h "FILE DESCRIPTORS:\|ERROR SUMMARY:\|All heap blocks\|definitely lost:" "$logs"/vg.* | sort | uniq -c
[ $fail -eq 0 ] && echo "valgrind: clean"
exit $fail
