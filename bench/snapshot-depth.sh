#!/usr/bin/env bash
# What keeping where each directory grew costs a snapshot: `pelmora-cli snapshot` of a list of
# 100 watched directories with their subdirectories one level down (the default) and three
# levels down, beside the same snapshot without them (--depth 0).
#
#   bench/snapshot-depth.sh [--rounds N] [TREE]
#
#   TREE        the tree whose directories two levels down make the list (default: the
#               200,000-file tree of bench/make_tree.sh)
#   --rounds N  timed rounds (default 11, after two warm-up rounds)
#
# Warm cache. Each command records into a history of its own, which grows by one snapshot a
# run for all of them alike. Every round runs each command once, in turn, starting one further
# on each round; the report gives median times and the median and quartiles of the per-round
# ratios. The figures are checked first: the snapshots' totals agree, and --explain of a
# directory lists its subdirectories.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${PELMORA_BENCH_WORK:-$repo/bench/work}"
build="${PELMORA_BENCH_BUILD:-$repo/build-bench}"
rounds=11
tree=""
while [ $# -gt 0 ]; do
    case "$1" in
        --rounds) rounds="$2"; shift 2 ;;
        -*) echo "usage: bench/snapshot-depth.sh [--rounds N] [TREE]" >&2; exit 2 ;;
        *) tree="$1"; shift ;;
    esac
done
if [ -z "$tree" ]; then
    "$repo/bench/make_tree.sh" "$work" tree200k >&2
    tree="$work/tree200k"
fi
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMORA_SANITIZE=OFF \
    -DPELMORA_TESTS=OFF -DPELMORA_BENCH=ON >/dev/null
ninja -C "$build" -j2 pelmora-cli >/dev/null
cli="$build/bin/pelmora-cli"

lists="$work/snapshot-depth"
rm -rf "$lists"
mkdir -p "$lists"
find "$tree" -mindepth 2 -maxdepth 2 -type d -not -name '.*' -not -path '*/.*' | sort |
    head -n 100 | sed 's/$/\r/' >"$lists/list"
for d in 0 1 3; do cp "$lists/list" "$lists/D$d.PML"; done

exec python3 - "$rounds" "$lists" "$cli" <<'PY'
import json, os, statistics, subprocess, sys, time

rounds, lists, cli = int(sys.argv[1]), sys.argv[2], sys.argv[3]
entries = sum(1 for _ in open(f"{lists}/list", "rb"))

def run(depth):
    cmd = [cli, "snapshot", "-q", "--depth", str(depth), f"{lists}/D{depth}.PML"]
    t0 = time.perf_counter()
    p = subprocess.run(cmd, stdout=subprocess.DEVNULL)
    if p.returncode != 0:
        sys.exit(f"bench/snapshot-depth.sh: {' '.join(cmd)} failed")
    return time.perf_counter() - t0

def report(depth, *extra):
    out = subprocess.run([cli, "history", "--json", *extra, f"{lists}/D{depth}.PML"],
                         stdout=subprocess.PIPE, check=True).stdout
    return json.loads(out.decode("utf-8", "surrogateescape"))

depths = [0, 1, 3]
for _ in range(2):
    for d in depths:
        run(d)
totals = {d: sorted((r["path"], r["last"]["bytes"]) for r in report(d)) for d in depths}
if totals[0] != totals[1] or totals[0] != totals[3]:
    sys.exit("bench/snapshot-depth.sh: the snapshots' totals differ")
first = totals[1][0][0]
children = report(1, "--explain", first)
if not children:
    sys.exit(f"bench/snapshot-depth.sh: --explain {first} lists no subdirectories")

times = {d: [] for d in depths}
for r in range(rounds):
    for d in depths[r % 3:] + depths[:r % 3]:
        times[d].append(run(d))

def ratio(a, b):
    v = sorted(x / y for x, y in zip(times[a], times[b]))
    q = statistics.quantiles(v, n=4) if len(v) > 1 else [v[0]] * 3
    return f"{q[1]:.2f} ({q[0]:.2f} to {q[2]:.2f})"

load = " ".join(open("/proc/loadavg").read().split()[:3])
size = {d: os.path.getsize(f"{lists}/D{d}.history.sqlite") / 1048576 for d in depths}
print(f"A list of {entries} directories; warm; {rounds} rounds; {os.cpu_count()} cores, "
      f"load average {load} at the end.\n")
print("| command | median | ratio to --depth 0, median (quartiles) | history after the runs |")
print("|---|---:|---|---:|")
for d in depths:
    rel = ratio(d, 0) if d else ""
    print(f"| `snapshot --depth {d}` | {statistics.median(times[d]) * 1000:,.0f} ms | {rel} | "
          f"{size[d]:.1f} MiB |")
PY
