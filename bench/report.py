#!/usr/bin/env python3
"""Turns the hyperfine JSON exports of bench/run's rounds into a Markdown table and the targets.

    report.py warm|cold TREE ROUND.json...

Each export holds one run of every command; a command's figures are over all rounds: the
median and mean of the wall times, their standard deviation, and the mean CPU times.
"""
import json
import statistics
import sys

kind, tree = sys.argv[1:3]
order = []
times, users, systems = {}, {}, {}
for path in sys.argv[3:]:
    for r in json.load(open(path))["results"]:
        c = r["command"]
        if c not in times:
            order.append(c)
            times[c], users[c], systems[c] = [], [], []
        times[c] += r["times"]
        users[c].append(r["user"])
        systems[c].append(r["system"])
res = [{"command": c, "median": statistics.median(times[c]), "mean": statistics.mean(times[c]),
        "stddev": statistics.stdev(times[c]) if len(times[c]) > 1 else 0.0,
        "user": statistics.mean(users[c]), "system": statistics.mean(systems[c])} for c in order]
wall = {r["command"]: r["median"] for r in res}
cpu = {r["command"]: r["user"] + r["system"] for r in res}
floors = [c for c in wall if c.startswith("floor -j")]
best_floor = min(floors, key=lambda c: wall[c]) if floors else None


def ratio(a, b):
    return "%.2f" % (a / b) if b else "n/a"


print("| command | median ms | mean ± σ ms | CPU ms (user + sys) | wall × du | wall × floor -j1 | CPU × du |")
print("|---|---:|---:|---:|---:|---:|---:|")
for r in res:
    c = r["command"]
    print("| %s | %.1f | %.1f ± %.1f | %.1f (%.1f + %.1f) | %s | %s | %s |" % (
        c, wall[c] * 1e3, r["mean"] * 1e3, r["stddev"] * 1e3, cpu[c] * 1e3, r["user"] * 1e3,
        r["system"] * 1e3, ratio(wall[c], wall.get("du")), ratio(wall[c], wall.get("floor -j1")),
        ratio(cpu[c], cpu.get("du"))))


def check(name, cmd, ref, limit):
    if cmd not in wall or ref not in wall:
        print("- %s: not measured" % name)
        return
    w = wall[cmd] / wall[ref]
    print("- %s ≤ %.1f: %.2f %s" % (name, limit, w, "met" if w <= limit else "MISSED"))


if tree.endswith("/tree200k"):
    print()
    print("Targets on this tree (medians):")
    print()
    if kind == "warm":
        check("window's count / `--jobs 1` (the one-thread CountTree)", "window's count",
              "pelmora --jobs 1", 0.6)
        check("window's count / `pelmora-cli count` (default)", "window's count",
              "pelmora (default)", 1.1)
        check("`--jobs 1` / floor -j1", "pelmora --jobs 1", "floor -j1", 1.1)
    else:
        check("default / du", "pelmora (default)", "du", 0.6)
        if best_floor:
            check("default / best floor (%s)" % best_floor, "pelmora (default)", best_floor, 1.1)
        check("window's count / du", "window's count", "du", 0.6)
