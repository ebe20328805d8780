#!/usr/bin/env bash
# pelmora-cli count below its start: what -d costs beside a plain count, and the ncdu-format
# export beside ncdu's own export of the same tree, in time and peak memory.
#
#   bench/count-depth.sh [--rounds N] [--big] [TREE]
#
#   TREE        the tree to count (default: the 200,000-file tree of bench/make_tree.sh)
#   --rounds N  timed rounds (default 11, after two warm-up rounds)
#   --big       also the peak memory of both exports of a tree ten times larger (tree2m)
#
# Warm cache. Every round runs each command once, in turn, starting one further on each round,
# so that the machine's load falls on all of them alike; the report gives median times, the
# median and quartiles of the per-round ratios and the median peak resident set size (GNU time's
# %M). The
# figures are checked first: the first line of `count -d 2 --csv` is the plain count's, and the
# export read back gives the count's directories, files and bytes.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${PELMORA_BENCH_WORK:-$repo/bench/work}"
build="${PELMORA_BENCH_BUILD:-$repo/build-bench}"
rounds=11
big=""
tree=""
while [ $# -gt 0 ]; do
    case "$1" in
        --rounds) rounds="$2"; shift 2 ;;
        --big) big=1; shift ;;
        -*) echo "usage: bench/count-depth.sh [--rounds N] [--big] [TREE]" >&2; exit 2 ;;
        *) tree="$1"; shift ;;
    esac
done
for tool in ncdu /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench/count-depth.sh: needs $tool" >&2; exit 2; }
done
if [ -z "$tree" ]; then
    "$repo/bench/make_tree.sh" "$work" tree200k >&2
    tree="$work/tree200k"
fi
if [ -n "$big" ]; then
    "$repo/bench/make_tree.sh" "$work" tree2m >&2
    big="$work/tree2m"
fi

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMORA_SANITIZE=OFF \
    -DPELMORA_TESTS=OFF -DPELMORA_BENCH=ON >/dev/null
ninja -C "$build" -j2 pelmora-cli >/dev/null
cli="$build/bin/pelmora-cli"

exec python3 - "$rounds" "$tree" "$cli" "$big" <<'PY'
import json, os, statistics, subprocess, sys, time

rounds, tree, cli, big = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]

def out(cmd):
    return subprocess.run(cmd, stdout=subprocess.PIPE, check=True).stdout

# The figures first.
plain = out([cli, "count", "-q", "--csv", tree]).split(b"\n")[0]
deep = out([cli, "count", "-q", "--csv", "-d", "2", tree]).split(b"\n")[0]
if plain != deep:
    sys.exit(f"bench/count-depth.sh: count -d 2 gives {deep!r}, a plain count {plain!r}")
export = json.loads(out([cli, "count", "-q", "--ncdu-export", "-", tree]).decode(
    "utf-8", "surrogateescape"))
found = [0, 0, 0]
def add(entries):
    for e in entries:
        info = e[0] if isinstance(e, list) else e
        kind = info.get("excluded")
        if kind == "pattern":
            continue
        found[0 if isinstance(e, list) or kind else 1] += 1
        found[2] += info.get("asize", 0)
        if isinstance(e, list):
            add(e[1:])
add(export[3][1:])
counted = [int(x) for x in plain.rsplit(b'",', 1)[1].split(b",")[:3]]
if found != counted:
    sys.exit(f"bench/count-depth.sh: the export holds {found}, the count {counted}")

cmds = {
    "count": [cli, "count", "-q", "--csv", tree],
    "count -d 2 --csv": [cli, "count", "-q", "--csv", "-d", "2", tree],
    "count -d 2 -h (table)": [cli, "count", "-q", "-d", "2", "-h", tree],
    "count --ncdu-export -": [cli, "count", "-q", "--ncdu-export", "-", tree],
    "count --ncdu-export - --all": [cli, "count", "-q", "--ncdu-export", "-", "--all", tree],
    "ncdu -0 -x -o -": ["ncdu", "-0", "-x", "-o", "-", tree],
}
against = {
    "count -d 2 --csv": "count",
    "count -d 2 -h (table)": "count",
    "count --ncdu-export -": "ncdu -0 -x -o -",
    "count --ncdu-export - --all": "ncdu -0 -x -o -",
}

# GNU time reports the command's own peak: a child of this process would carry this process's
# high-water mark from before its exec.
def run(name):
    t0 = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-f", "peak %M"] + cmds[name],
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    took = time.perf_counter() - t0
    if p.returncode != 0:
        sys.exit(f"bench/count-depth.sh: {name} failed")
    return took, int(p.stderr.split()[-1])  # KiB

names = list(cmds)
for _ in range(2):
    for n in names:
        run(n)
times = {n: [] for n in names}
peaks = {n: [] for n in names}
for r in range(rounds):
    for n in names[r % len(names):] + names[:r % len(names)]:
        took, peak = run(n)
        times[n].append(took)
        peaks[n].append(peak)

def ratio(a, b):
    v = sorted(x / y for x, y in zip(times[a], times[b]))
    q = statistics.quantiles(v, n=4) if len(v) > 1 else [v[0]] * 3
    return f"{q[1]:.2f} ({q[0]:.2f} to {q[2]:.2f}) x {b}"

load = " ".join(open("/proc/loadavg").read().split()[:3])
print(f"Tree {tree}: {counted[0]:,} directories, {counted[1]:,} files; warm; {rounds} rounds; "
      f"{os.cpu_count()} cores, load average {load} at the end.\n")
print("| command | median | ratio, median (quartiles) | peak memory |")
print("|---|---:|---|---:|")
for n in names:
    rel = ratio(n, against[n]) if n in against else ""
    mib = statistics.median(peaks[n]) / 1024
    print(f"| `{n}` | {statistics.median(times[n]) * 1000:,.0f} ms | {rel} | {mib:.1f} MiB |")
if big:
    print(f"\nPeak memory on {big}, ten times the files:")
    for n in ("count --ncdu-export -", "ncdu -0 -x -o -"):
        cmds[n][-1] = big
        print(f"- `{n}`: {run(n)[1] / 1024:.1f} MiB")
PY
