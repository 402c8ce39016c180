#!/usr/bin/env python3
"""Prints ours/peer time ratios from a Google Benchmark JSON file.

A benchmark named "<group>/ours/<args>" is paired with "<group>/<peer>/<args>"
for every other middle word in the same group and arguments; per-kernel
benchmarks, "BM_kernel/<slot>/<tier>/<width>", pair every tier with the
"neon" tier of the same slot and width instead. With repetitions
two ratios are printed: from each side's fastest repetition (on a shared
machine other jobs only ever add time, so the minimum is the steadiest
estimate of the cost) and from each side's median (what a caller meets
while others work; with interleaved repetitions a burst from another job
meets both sides alike).
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
        groups[(group, rest)][who] = ts
    reps = max((len(ts) for ts in times.values()), default=0)
    print(f"\nratios (ours time / peer time over {reps} repetitions, from the fastest of each side and from"
          " the median; below 1 means ours is faster)")
    for (group, rest), entries in sorted(groups.items()):
        if group.startswith("BM_kernel/") and "neon" in entries:
            # Each tier against the NEON one: below 1 means the tier is faster.
            base = entries["neon"]
            for who, ts in sorted(entries.items()):
                if who != "neon" and min(base) > 0:
                    fastest = min(ts) / min(base)
                    median = statistics.median(ts) / statistics.median(base)
                    print(f"  {group}/{rest:<30} {who:<6} vs neon   {fastest:6.2f}x   median {median:6.2f}x")
            continue
        if "ours" not in entries:
            continue
        ours = entries["ours"]
        for who, ts in sorted(entries.items()):
            if who != "ours" and min(ts) > 0:
                label = f"{group}/{rest}" if rest else group
                fastest = min(ours) / min(ts)
                median = statistics.median(ours) / statistics.median(ts)
                print(f"  {label:<48} vs {who:<14} {fastest:6.2f}x   median {median:6.2f}x")
    # Window formats of one render path beside its RGBA path, same size.
    for (group, rest), entries in sorted(groups.items()):
        fmt, _, size = rest.partition("_")
        if group == "BM_render" and fmt != "rgba" and "ours" in entries:
            rgba = groups.get((group, f"rgba_{size}"), {}).get("ours")
            if rgba and min(rgba) > 0:
                ours = entries["ours"]
                fastest = min(ours) / min(rgba)
                median = statistics.median(ours) / statistics.median(rgba)
                print(f"  {group}/{rest:<38} vs our rgba_{size:<9} {fastest:6.2f}x   median {median:6.2f}x")
    if overheads:
        print("\npaired overhead (median over repetitions of each run's median batch ratio)")
        for name, values in sorted(overheads.items()):
            print(f"  {name:<62} {statistics.median(values):6.3f}x")


if __name__ == "__main__":
    main(sys.argv[1])
