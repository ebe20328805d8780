#!/usr/bin/env bash
# Benchmarks the watched list and the data file's one-step replacement (standalone; bench/run
# benchmarks the count).
#
#   bench/lists.sh [--quick]
#
#   --quick   one timed load per list and 11 export rounds instead of three loads and 31 rounds
#
# Environment: PELMORA_BENCH_WORK (lists and trees; default bench/work), PELMORA_BENCH_BUILD
# (Release build; default build-bench), PELMORA_BENCH_LISTS_OUT (report; default
# bench/LISTS.md).
#
# Steps: build pelmora-listbench in Release; make three lists of 10 million lines each (paths
# of about 33 bytes in random order; the same with one line that is not UTF-8; 20 MB of bare
# line feeds); load each under /usr/bin/time -v (wall time, peak memory), with sort(1) of the
# first as a peer; then write the data file of 1,000 small directories, the one-step
# replacement and a plain truncating write side by side in each round, and report the medians,
# the spread of the difference within a round, and what the two writes cost without the count.
# The machine may be shared: every figure is given with its spread.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${PELMORA_BENCH_WORK:-$repo/bench/work}"
build="${PELMORA_BENCH_BUILD:-$repo/build-bench}"
out="${PELMORA_BENCH_LISTS_OUT:-$repo/bench/LISTS.md}"
loads=3
rounds=31
for a in "$@"; do
    case "$a" in
        --quick) loads=1 rounds=11 ;;
        *) echo "usage: bench/lists.sh [--quick]" >&2; exit 2 ;;
    esac
done
[ -x /usr/bin/time ] || { echo "bench/lists.sh: /usr/bin/time is required" >&2; exit 2; }
log() { printf '== %s\n' "$*" >&2; }

log "building Release in $build"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMORA_SANITIZE=OFF \
    -DPELMORA_TESTS=OFF >/dev/null
ninja -C "$build" -j2 pelmora-listbench >/dev/null
bench="$build/bin/pelmora-listbench"

mkdir -p "$work/lists"
lists="$work/lists"
if [ ! -s "$lists/10m.PML" ]; then
    log "making $lists/10m.PML"
    awk 'BEGIN { srand(1); split("alpha Beta gamma Delta photos Music src Docs backup Projects \303\251t\303\251 na\303\257ve", w, " ");
                 for (i = 0; i < 10000000; i++)
                     printf "/srv/%s/%s%d/%s-%d\r\n", w[int(rand()*12)+1], w[int(rand()*12)+1],
                            int(rand()*100000), w[int(rand()*12)+1], int(rand()*1000) }' \
        >"$lists/10m.PML"
fi
if [ ! -s "$lists/10m-broken.PML" ]; then
    log "making $lists/10m-broken.PML"
    { head -n 5000000 "$lists/10m.PML"; printf '/srv/caf\351/Latin-1\r\n';
      tail -n +5000001 "$lists/10m.PML" | head -n 4999999; } >"$lists/10m-broken.PML"
fi
[ -s "$lists/lf20.PML" ] || head -c 20000000 /dev/zero | tr '\0' '\n' >"$lists/lf20.PML"

export LC_ALL=C.UTF-8
# "median min max" of the numbers on stdin.
spread() { sort -g | awk '{ v[NR] = $1 } END { printf "%s %s %s", v[int((NR + 1) / 2)], v[1], v[NR] }'; }

declare -A ROW
for l in 10m 10m-broken lf20; do
    times=() mems=()
    for ((i = 0; i < loads; i++)); do
        log "loading $l.PML ($((i + 1))/$loads)"
        /usr/bin/time -v "$bench" load "$lists/$l.PML" >/dev/null 2>"$work/time.txt"
        times+=("$(awk -F': ' '/Elapsed/ { n = split($2, p, ":"); s = 0; for (k = 1; k <= n; k++) s = s * 60 + p[k]; print s }' "$work/time.txt")")
        mems+=("$(awk -F': ' '/Maximum resident/ { printf "%.0f", $2 / 1024 }' "$work/time.txt")")
    done
    ROW[$l]="$(printf '%s\n' "${times[@]}" | spread) | $(printf '%s\n' "${mems[@]}" | spread)"
done
log "sort(1) of 10m.PML as a peer"
/usr/bin/time -v sort -f "$lists/10m.PML" >/dev/null 2>"$work/time.txt"
SORT="$(awk -F': ' '/Elapsed/ { print $2 } /Maximum resident/ { printf " s, %.0f MiB", $2 / 1024 }' "$work/time.txt" | tr -d '\n')"

tree="$work/export1000"
if [ ! -d "$tree" ]; then
    log "making 1,000 directories in $tree"
    for i in $(seq -w 0 999); do
        mkdir -p "$tree/d$i/sub"
        for j in 1 2 3 4 5 6 7 8; do : >"$tree/d$i/f$j"; done
        : >"$tree/d$i/sub/g"
    done
fi
ls "$tree" | grep '^d' | sed "s|^|$tree/|; s|\$|\r|" >"$work/E1000.PML"
log "exporting 1,000 entries, $rounds rounds each way, three times"
EXPORTS=()
for i in 1 2 3; do EXPORTS+=("$("$bench" export "$work/E1000.PML" "$rounds")"); done
rm -f "$work/E1000.TXT" "$work/time.txt"

{
    echo "# Lists and the data file"
    echo
    echo "Made by \`bench/lists.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average" \
        "$(cut -d' ' -f1-3 /proc/loadavg) at the end; Release build."
    echo
    echo "| List (10 million lines unless said) | load, s: median min max | peak memory, MiB: median min max |"
    echo "|---|---|---|"
    echo "| paths of about 33 bytes ($(($(stat -c %s "$lists/10m.PML") / 1048576)) MiB) | ${ROW[10m]} |"
    echo "| the same with one line that is not UTF-8 | ${ROW[10m-broken]} |"
    echo "| 20 MB of bare line feeds (20 million empty lines) | ${ROW[lf20]} |"
    echo
    echo "Peer: \`sort -f\` of the first list: $SORT."
    echo
    echo "The data file of 1,000 directories (each counted), one-step replacement (fsync, rename,"
    echo "fsync of the folder, the lock) against a plain truncating write, side by side in each"
    echo "round; three runs:"
    echo
    for e in "${EXPORTS[@]}"; do echo "- $e"; done
} >"$out"
cat "$out"
