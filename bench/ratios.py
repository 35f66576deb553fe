#!/usr/bin/env python3
"""Table of ratios ours / peer (median real time) from search_bench's JSON,
then the heap bytes a compiled matcher holds, ours / peer.

    build/normal/bin/search_bench --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true --benchmark_format=json > out.json
    python3 bench/ratios.py out.json
"""
import json
import sys

NS = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
rows = {}
held = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name", "median") != "median":
        continue
    name = b["run_name"] if "run_name" in b else b["name"]
    group, who, rest = name.split("/", 2)
    rest = rest.split("/iterations:")[0]
    rows.setdefault((group, rest), {})[who] = b["real_time"] * NS[b.get("time_unit", "ns")]
    if "heap_bytes" in b:
        held.setdefault((group, rest), {})[who] = b["heap_bytes"]


def table(title, unit, values):
    print(f"| {title} | ours ({unit}) | peer | peer ({unit}) | ours / peer |")
    print("|---|---:|---|---:|---:|")
    for (group, rest), by in values.items():
        ours = by.get("ours")
        for who, v in by.items():
            if who == "ours" or ours is None or not v:
                continue
            print(f"| {group}/{rest} | {ours:,.0f} | {who} | {v:,.0f} | {ours / v:.2f} |")


table("workload", "ns", rows)
if held:
    print()
    table("bytes held", "bytes", held)
