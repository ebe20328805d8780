#!/usr/bin/env bash
# Lists whose entries lie inside one another, exported in one walk, and counts that keep the
# figures below their start.
#
#   bench/nested.sh [--rounds N] [--cold] [--baseline CLI] [TREE]
#
#   TREE        the tree to list (default: the 200,000-file tree of bench/make_tree.sh)
#   --rounds N  timed rounds (default 11; two warm-up rounds come first when warm)
#   --cold      drop the page cache before every run (root only): the weekly export's case
#   --baseline  a pelmora-cli to compare with (say, a Release build of an older commit): the
#               same exports timed with it in the same rounds
#
# Lists: "nested" holds TREE, every subdirectory of it and every subdirectory of those (what Add
# This Directory and Add Subdirectories twice build); "apart" holds only the second level, no
# entry inside another. Every round runs each command once, one after the other, in turn, so
# that the machine's load falls on all of them alike; the report gives median times and the
# median and quartiles of the per-round ratios. The figures are checked first: the export of
# the nested list must give, line for line, what `count --csv` of each entry alone gives.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${PELMORA_BENCH_WORK:-$repo/bench/work}"
build="${PELMORA_BENCH_BUILD:-$repo/build-bench}"
rounds=11
cold=0
baseline=""
tree=""
while [ $# -gt 0 ]; do
    case "$1" in
        --rounds) rounds="$2"; shift 2 ;;
        --cold) cold=1; shift ;;
        --baseline) baseline="$2"; shift 2 ;;
        -*) echo "usage: bench/nested.sh [--rounds N] [--cold] [--baseline CLI] [TREE]" >&2; exit 2 ;;
        *) tree="$1"; shift ;;
    esac
done
if [ "$cold" = 1 ] && [ "$(id -u)" != 0 ]; then
    echo "bench/nested.sh: --cold drops the page cache and needs root" >&2
    exit 2
fi
if [ -z "$tree" ]; then
    "$repo/bench/make_tree.sh" "$work" tree200k >&2
    tree="$work/tree200k"
fi

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMORA_SANITIZE=OFF \
    -DPELMORA_TESTS=OFF -DPELMORA_BENCH=ON >/dev/null
ninja -C "$build" -j2 pelmora-cli pelmora-depth-count >/dev/null
cli="$build/bin/pelmora-cli"
depth="$build/bin/pelmora-depth-count"

lists="$(mktemp -d)"
trap 'rm -rf "$lists"' EXIT
# Directories one and two levels down, names beginning with '.' left out as the count does.
find -P "$tree" -mindepth 1 -maxdepth 2 -xdev -name '.*' -prune -o -type d -printf '%d %p\n' |
    sort >"$lists/levels"
{ printf '%s\r\n' "$tree"; awk '{ sub(/^[0-9]+ /, ""); printf "%s\r\n", $0 }' "$lists/levels"; } \
    >"$lists/nested.PML"
awk '$1 == 2 { sub(/^[0-9]+ /, ""); printf "%s\r\n", $0 }' "$lists/levels" >"$lists/apart.PML"

# The figures first: each line of the nested export is the entry's count alone.
"$cli" export -q -o - "$lists/nested.PML" | tr -d '\r' | sort >"$lists/together"
tr -d '\r' <"$lists/nested.PML" | while IFS= read -r d; do "$cli" count -q --csv "$d"; done |
    sort >"$lists/alone"
if ! cmp -s "$lists/together" "$lists/alone"; then
    echo "bench/nested.sh: the nested export differs from the separate counts" >&2
    diff "$lists/together" "$lists/alone" | head >&2
    exit 1
fi

exec python3 - "$cold" "$rounds" "$tree" "$lists" "$cli" "$depth" "$baseline" <<'PY'
import os, statistics, subprocess, sys, time

cold, rounds, tree, lists, cli, depth, baseline = sys.argv[1:]
cold, rounds = cold == "1", int(rounds)
nested, apart = f"{lists}/nested.PML", f"{lists}/apart.PML"
entries = sum(1 for _ in open(nested, "rb"))
apart_entries = sum(1 for _ in open(apart, "rb"))

cmds = {
    "count of the tree": [cli, "count", "-q", tree],
    "export of the nested list": [cli, "export", "-q", "-o", "-", nested],
    "export of the list apart": [cli, "export", "-q", "-o", "-", apart],
    "count, figures to depth 2": [depth, "2", tree],
    "count, no figures below": [depth, "0", tree],
}
if baseline:
    cmds["baseline: export of the nested list"] = [baseline, "export", "-q", "-o", "-", nested]
    cmds["baseline: export of the list apart"] = [baseline, "export", "-q", "-o", "-", apart]

def drop():
    subprocess.run(["sync"], check=True)
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")

peak = {}
def run(name):
    if cold:
        drop()
    t0 = time.perf_counter()
    p = subprocess.run(cmds[name], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    took = time.perf_counter() - t0
    if p.stderr.startswith(b"peak "):
        peak[name] = int(p.stderr.split()[1])
    return took

names = list(cmds)
for _ in range(0 if cold else 2):
    for n in names:
        run(n)
times = {n: [] for n in names}
for r in range(rounds):
    order = names[r % len(names):] + names[:r % len(names)]
    for n in order:
        times[n].append(run(n))

def ratio(a, b):
    v = sorted(x / y for x, y in zip(times[a], times[b]))
    q = statistics.quantiles(v, n=4) if len(v) > 1 else [v[0]] * 3
    return f"{q[1]:.2f} ({q[0]:.2f} to {q[2]:.2f})"

load = " ".join(open("/proc/loadavg").read().split()[:3])
print(f"Tree {tree}; nested list {entries} entries, list apart {apart_entries}; "
      f"{'cold (page cache dropped before every run)' if cold else 'warm'}; {rounds} rounds; "
      f"{os.cpu_count()} cores, load average {load} at the end.\n")
print("| command | median | ratio, median (quartiles) |")
print("|---|---:|---|")
pairs = {
    "count of the tree": None,
    "export of the nested list": "count of the tree",
    "baseline: export of the nested list": "count of the tree",
    "export of the list apart": "baseline: export of the list apart" if baseline else None,
    "baseline: export of the list apart": None,
    "count, no figures below": None,
    "count, figures to depth 2": "count, no figures below",
}
for n in names:
    against = pairs.get(n)
    rel = f"{ratio(n, against)} x {against}" if against else ""
    print(f"| {n} | {statistics.median(times[n]) * 1000:,.0f} ms | {rel} |")
for n in ("count, no figures below", "count, figures to depth 2"):
    if n in peak:
        print(f"\nPeak memory, {n}: {peak[n] / 1024:.1f} MiB", end="")
print()
PY
