#!/usr/bin/python3
"""Draws the results of tools/bench-library-scale.py against library size.

Usage: tools/plot-library-scale.py RESULTS.jsonl [OUT.png]
Four panels, velmor-musicd beside mpd, each with its goal as a dashed line:
first-scan rate (>= 10,000 files/s), resident memory while serving
(< 150 MiB), peak memory (< 200 MiB) and the 99th percentile of a search
(< 10 ms). Where a size was measured more than once, the last run counts.
It also prints the figures as a Markdown table and compares the search
counts of both services from queries.csv beside the results.
"""
import csv
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend is chosen first)
from matplotlib import ticker  # noqa: E402

# Rates and times span decades between the two services (log scale);
# memory is read against its goal (linear, from zero).
PANELS = [
    ("scan_files_per_s", "first scan (files/s, more is better)", 10000, "goal >= 10,000/s", True),
    ("rss_serving_mib", "resident memory serving (MiB)", 150, "goal < 150 MiB", False),
    ("peak_mib", "peak resident memory (MiB)", 200, "goal < 200 MiB", False),
    ("search_p99_ms", "search, 99th percentile (ms)", 10, "goal < 10 ms", True),
]
STYLE = {"velmor-musicd": ("tab:blue", "o"), "mpd": ("tab:orange", "s")}


def load(path):
    latest = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line:
                r = json.loads(line)
                latest[(r["service"], r["size"])] = r
    return latest


TABLE = [("first scan s", "first_scan_s"), ("files/s", "scan_files_per_s"),
         ("peak MiB", "peak_mib"), ("serving MiB", "rss_serving_mib"),
         ("index B/track", "index_bytes_per_track"), ("restart answer s", "restart_answer_s"),
         ("restart ready s", "restart_ready_s"), ("1,000 changed s", "rescan_changed_s"),
         ("search median ms", "search_median_ms"), ("search p99 ms", "search_p99_ms")]


def print_table(results, sizes):
    """The figures as a Markdown table, one row per size and service."""
    print("| tracks | service | " + " | ".join(name for name, _ in TABLE) + " |")
    print("|---" * (len(TABLE) + 2) + "|")
    for size in sizes:
        for service in STYLE:
            r = results.get((service, size))
            if r:
                cells = [str(r.get(key, "")) for _, key in TABLE]
                print(f"| {size:,} | {service} | " + " | ".join(cells) + " |")


def compare_counts(queries_csv):
    """Compares the last count each service gave for each size and word."""
    last = {}
    with open(queries_csv, newline="") as f:
        for row in csv.DictReader(f):
            for service in ("velmor", "mpd"):
                if row[service + "_count"] != "":
                    last[(int(row["size"]), row["word"], service)] = int(row[service + "_count"])
    compared = mismatched = 0
    for (size, word, service), count in sorted(last.items()):
        other = last.get((size, word, "mpd"))
        if service == "velmor" and other is not None:
            compared += 1
            if other != count:
                mismatched += 1
                print(f"count mismatch at {size:,} for {word!r}: velmor-musicd {count}, mpd {other}")
    print(f"search counts compared: {compared}, mismatched: {mismatched}")


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    results = load(sys.argv[1])
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(
        os.path.dirname(os.path.abspath(sys.argv[1])), "library-scale.png")
    sizes = sorted({size for _, size in results})
    fig, axes = plt.subplots(2, 2, figsize=(12, 8.5))
    for ax, (key, title, goal, goal_label, log) in zip(axes.flat, PANELS):
        for service, (colour, marker) in STYLE.items():
            points = [(s, results[(service, s)].get(key)) for s in sizes
                      if (service, s) in results and results[(service, s)].get(key) is not None]
            if points:
                xs, ys = zip(*points)
                ax.plot(xs, ys, color=colour, marker=marker, label=service)
                for x, y in points:
                    ax.annotate(f"{y:,.0f}" if y >= 100 else f"{y:.3g}", (x, y),
                                textcoords="offset points", xytext=(0, 6), ha="center",
                                fontsize=8, color=colour)
        ax.axhline(goal, color="tab:red", linestyle="--", linewidth=1, label=goal_label)
        ax.set_xscale("log")
        if log:
            ax.set_yscale("log")
            ax.yaxis.set_major_locator(ticker.LogLocator(subs=(1, 2, 5)))
            ax.yaxis.set_major_formatter(ticker.FuncFormatter(lambda v, _: f"{v:g}"))
        else:
            ax.set_ylim(0, max([goal] + [line.get_ydata().max() for line in ax.lines[:-1]]) * 1.15)
        ax.margins(x=0.15, y=0.15)
        ax.set_xticks(sizes)
        ax.set_xticklabels([f"{s // 1000:,}k" if s < 1000000 else f"{s / 1e6:g}M"
                            for s in sizes])
        ax.minorticks_off()
        ax.set_title(title)
        ax.set_xlabel("tracks in the library")
        ax.grid(True, which="major", alpha=0.3)
        ax.legend(fontsize=8)
    when = sorted({r.get("when", "") for r in results.values()})
    fig.suptitle("velmor-musicd and mpd by library size (shared 2-core machine: noisy)"
                 + (f"\nruns {when[0]} .. {when[-1]}" if when else ""), fontsize=11)
    fig.tight_layout()
    fig.savefig(out, dpi=100)
    print(out)
    print_table(results, sizes)
    queries = os.path.join(os.path.dirname(os.path.abspath(sys.argv[1])), "queries.csv")
    if os.path.exists(queries):
        compare_counts(queries)
    return 0


if __name__ == "__main__":
    sys.exit(main())
