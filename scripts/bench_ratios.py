#!/usr/bin/env python3
"""Prints ours/peer time ratios from a Google Benchmark JSON file.

A benchmark named "<group>/ours/<args>" is paired with "<group>/<peer>/<args>"
for every other middle word in the same group and arguments. Per-kernel
benchmarks, "BM_kernel/<slot>/<tier>/<width>", pair every tier with the
"neon" tier of the same slot and width instead. With repetitions
each side counts by its fastest repetition: on a shared machine other jobs
only ever add time, so the minimum is the steadiest estimate of the cost.
Counters named "overhead" (ratios the benchmark pairs itself) are printed as
their median over the repetitions.
"""
import json
import statistics
import sys
from collections import defaultdict


def main(path):
    runs = [b for b in json.load(open(path))["benchmarks"] if b.get("run_type", "iteration") == "iteration"]
    times = defaultdict(list)
    overheads = defaultdict(list)
    for b in runs:
        if b.get("error_occurred"):
            continue
        times[b["name"]].append(b["real_time"])
        if "overhead" in b:
            overheads[b["name"]].append(b["overhead"])
    groups = defaultdict(dict)
    for name, ts in times.items():
        parts = name.split("/")
        if len(parts) < 2:
            continue
        if parts[0] == "BM_kernel" and len(parts) == 4:
            group, who, rest = f"{parts[0]}/{parts[1]}", parts[2], parts[3]
        else:
            group, who, rest = parts[0], parts[1], "/".join(parts[2:])
        groups[(group, rest)][who] = min(ts)
    reps = max((len(ts) for ts in times.values()), default=0)
    print(f"\nratios (ours time / peer time, fastest of {reps} repetitions; below 1 means ours is faster)")
    for (group, rest), entries in sorted(groups.items()):
        label = f"{group}/{rest}" if rest else group
        if group.startswith("BM_kernel/"):
            # Each tier against the NEON one: below 1 means the tier is faster.
            base = entries.get("neon")
            for who, t in sorted(entries.items()):
                if who != "neon" and base:
                    print(f"  {label:<48} {who:<6} vs neon      {t / base:6.2f}x")
            continue
        if "ours" not in entries:
            continue
        for who, t in sorted(entries.items()):
            if who != "ours" and t > 0:
                print(f"  {label:<48} vs {who:<14} {entries['ours'] / t:6.2f}x")
    if overheads:
        print("\npaired overhead (median over repetitions of each run's median batch ratio)")
        for name, values in sorted(overheads.items()):
            print(f"  {name:<62} {statistics.median(values):6.3f}x")


if __name__ == "__main__":
    main(sys.argv[1])
