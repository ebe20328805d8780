#!/usr/bin/env bash
# What --metrics adds to an export of a 10,000-entry list: the export with and without the
# Prometheus metrics, side by side in each round.
#
#   bench/metrics.sh [--rounds N] [--cold]
#
#   --rounds N   timed rounds per list, warm (default 31, after 3 to warm up)
#   --cold       also the tree's list with the page cache dropped before every run (`sync; echo 3
#                > /proc/sys/vm/drop_caches`, root only), 9 rounds: what a daily timer meets
#
# Environment: PELMORA_BENCH_WORK (trees, lists, files; default bench/work), PELMORA_BENCH_BUILD
# (Release build; default build-bench).
#
# Two lists of 10,000 entries: 10,000 directories as small as a list's can be (two files and a
# subdirectory: the most the metrics can weigh against the count), and 10,000 directories of
# the 200,000-file benchmark tree (bench/make_tree.sh), as Add Subdirectories lists them; and the
# first list again with the metrics on a tmpfs (/dev/shm), where no disk's file system takes them
# in. Each
# round runs `pelmora-cli export -q LIST` and `pelmora-cli export -q --metrics FILE LIST` in turn
# first, on one disk. Reported: the median wall time of each with the quartiles, the median
# ratio within a round with its quartiles, the added milliseconds, the files' sizes, and whether
# the ratio stays within 1.02. The machine may be shared: mind the spread.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${PELMORA_BENCH_WORK:-$repo/bench/work}"
build="${PELMORA_BENCH_BUILD:-$repo/build-bench}"
rounds=31
cold=0
while [ $# -gt 0 ]; do
    case "$1" in
        --rounds) rounds=${2:?--rounds needs a number}; shift 2 ;;
        --cold) cold=1; shift ;;
        *) echo "usage: bench/metrics.sh [--rounds N] [--cold]" >&2; exit 2 ;;
    esac
done
if [ "$cold" = 1 ] && [ "$(id -u)" != 0 ]; then
    echo "bench/metrics.sh: --cold drops the page cache and needs root" >&2
    exit 2
fi
log() { printf '== %s\n' "$*" >&2; }

log "building pelmora-cli in Release in $build"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMORA_SANITIZE=OFF \
    -DPELMORA_TESTS=OFF >/dev/null
ninja -C "$build" -j2 pelmora-cli >/dev/null
cli="$build/bin/pelmora-cli"

small="$work/metrics10k"
if [ ! -d "$small" ]; then
    log "making 10,000 small directories in $small"
    mkdir -p "$small"
    for i in $(seq -w 0 9999); do
        mkdir -p "$small/d$i/sub"
        printf 'one' >"$small/d$i/f1"
        printf 'two!' >"$small/d$i/f2"
        : >"$small/d$i/sub/g"
    done
fi
ls "$small" | sed "s|^|$small/|; s|\$|\r|" >"$work/SMALL10K.PML"
"$repo/bench/make_tree.sh" "$work" tree200k >&2
find "$work/tree200k" -mindepth 1 -name '.*' -prune -o -type d -print | LC_ALL=C sort |
    awk 'NR <= 10000 { print $0 "\r" }' >"$work/TREE10K.PML"

# Seconds (with microseconds) that `pelmora-cli ARGS...` takes, after dropping the page cache
# when `dropping` is 1.
dropping=0
timed() {
    [ "$dropping" = 1 ] && { sync; echo 3 >/proc/sys/vm/drop_caches; }
    local start=$EPOCHREALTIME
    "$cli" "$@" >/dev/null
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.6f", b - a }'
}
# "median q1 q3" of the numbers on stdin.
quartiles() {
    sort -g | awk '{ v[NR] = $1 } END { printf "%s %s %s", v[int((NR + 1) / 2)], v[int((NR + 3) / 4)], v[int((3 * NR + 1) / 4)] }'
}

# compare NAME LIST ROUNDS [METRICS]: one line of the report (the metrics beside the list unless
# METRICS names their file).
compare() {
    local name=$1 list=$2 n=$3 prom=${4:-${2%.PML}.prom} a b i rows=()
    log "$name: $n rounds"
    for ((i = 0; i < n; i++)); do
        if ((i % 2 == 0)); then
            a=$(timed export -q "$list"); b=$(timed export -q --metrics "$prom" "$list")
        else
            b=$(timed export -q --metrics "$prom" "$list"); a=$(timed export -q "$list")
        fi
        rows+=("$a $b")
    done
    local plain with ratio added
    plain=$(printf '%s\n' "${rows[@]}" | awk '{ printf "%.1f\n", $1 * 1000 }' | quartiles)
    with=$(printf '%s\n' "${rows[@]}" | awk '{ printf "%.1f\n", $2 * 1000 }' | quartiles)
    ratio=$(printf '%s\n' "${rows[@]}" | awk '{ printf "%.3f\n", $2 / $1 }' | quartiles)
    added=$(printf '%s\n' "${rows[@]}" | awk '{ printf "%.1f\n", ($2 - $1) * 1000 }' | quartiles)
    local verdict="within 1.02"
    awk -v r="${ratio%% *}" 'BEGIN { exit !(r <= 1.02) }' || verdict="above 1.02"
    echo "| $name | $plain | $with | $ratio | ${added%% *} | $(($(stat -c %s "${list%.PML}.TXT") / 1024)) KiB | $(($(stat -c %s "$prom") / 1024)) KiB | $verdict |"
}

for l in SMALL10K TREE10K; do
    for _ in 1 2 3; do timed export -q --metrics "$work/$l.prom" "$work/$l.PML" >/dev/null; done
done
lines=()
lines+=("$(compare "10,000 small directories, warm" "$work/SMALL10K.PML" "$rounds")")
lines+=("$(compare "10,000 directories of the 200,000-file tree, warm" "$work/TREE10K.PML" "$rounds")")
# The same export with the metrics on a tmpfs: what making the text costs without a disk's file
# system taking it in.
if [ -d /dev/shm ]; then
    lines+=("$(compare "10,000 small directories, warm, metrics on tmpfs" "$work/SMALL10K.PML" "$rounds" /dev/shm/pelmora-bench.prom)")
    rm -f /dev/shm/pelmora-bench.prom
fi
if [ "$cold" = 1 ]; then
    dropping=1
    lines+=("$(compare "10,000 directories of the 200,000-file tree, cold" "$work/TREE10K.PML" 9)")
    dropping=0
fi

echo "bench/metrics.sh on $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average" \
    "$(cut -d' ' -f1-3 /proc/loadavg) at the end; Release build; $(df -T "$work" | awk 'NR == 2 { print $2 }')."
echo
echo "| list | export, ms: median q1 q3 | with --metrics, ms | ratio in a round: median q1 q3 | added, ms (median) | data file | metrics | limit |"
echo "|---|---|---|---|---:|---:|---:|---|"
printf '%s\n' "${lines[@]}"
