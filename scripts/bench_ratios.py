#!/usr/bin/env python3
"""Prints ours/peer time ratios from a Google Benchmark JSON file.

A benchmark named "<group>/ours/<args>" is paired with "<group>/<peer>/<args>"
for every other middle word in the same group and arguments.
"""
import json
import sys
from collections import defaultdict

def main(path):
    runs = [b for b in json.load(open(path))["benchmarks"] if b.get("run_type", "iteration") == "iteration"]
    groups = defaultdict(dict)
    for b in runs:
        parts = b["name"].split("/")
        if len(parts) < 2:
            continue
        group, who, rest = parts[0], parts[1], "/".join(parts[2:])
        groups[(group, rest)][who] = b["real_time"]
    print("\nratios (ours time / peer time; below 1 means ours is faster)")
    for (group, rest), entries in sorted(groups.items()):
        if "ours" not in entries:
            continue
        for who, t in sorted(entries.items()):
            if who != "ours" and t > 0:
                label = f"{group}/{rest}" if rest else group
                print(f"  {label:<48} vs {who:<14} {entries['ours'] / t:6.2f}x")

if __name__ == "__main__":
    main(sys.argv[1])
