#!/usr/bin/env python3
"""Plots the benchmark figures of docs/performance.md from Google Benchmark's
JSON output (lumafex_bench --benchmark_format=json or --benchmark_out=FILE).

    python3 scripts/plot-benchmarks.py RESULTS.json [MORE.json ...] [--out DIR]

Writes DIR/perf-radius.png (time against blur radius, plain and softer blur,
from BM_BlurRadius and BM_SofterBlurRadius) and DIR/perf-threads.png (time
against threads for the passes in THREAD_SERIES that ran at more than one
thread count: the whole frame, the blurs, enhance and antialias and the
colour stages).
Where a run was repeated, the median is plotted. Needs gnuplot (Debian's
gnuplot-nox).
"""
import argparse
import collections
import json
import os
import shutil
import subprocess
import sys
import tempfile


def load(paths):
    """name -> milliseconds: the median aggregate when there is one, else the
    single run; later files win."""
    times = {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        plain, medians = {}, {}
        for b in data.get("benchmarks", []):
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
            ms = b["real_time"] * scale
            if b.get("run_type") == "aggregate":
                if b.get("aggregate_name") == "median":
                    medians[b["run_name"]] = ms
            else:
                plain.setdefault(b.get("run_name", b["name"]), ms)
        times.update(plain)
        times.update(medians)
    return times


def split(name):
    """'BM_BlurPass/2' -> ('BM_BlurPass', [2])."""
    parts = name.split("/")
    return parts[0], [int(p) for p in parts[1:] if p.isdigit()]


def gnuplot(script):
    if shutil.which("gnuplot") is None:
        sys.exit("plot-benchmarks: gnuplot is missing (apt-get install gnuplot-nox)")
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def plot_radius(times, out, work):
    series = {}
    for name, ms in times.items():
        base, args = split(name)
        if base in ("BM_BlurRadius", "BM_SofterBlurRadius") and len(args) == 2:
            series.setdefault((base, args[1]), []).append((args[0], ms))
    if not series:
        return False
    lines = []
    for (base, threads), points in sorted(series.items()):
        path = os.path.join(work, f"{base}-{threads}.dat")
        with open(path, "w", encoding="utf-8") as f:
            for radius, ms in sorted(points):
                f.write(f"{radius} {ms}\n")
        label = "plain" if base == "BM_BlurRadius" else "softer"
        lines.append(f"'{path}' using 1:2 with linespoints title '{label}, {threads} thread(s)'")
    gnuplot(f"""set terminal png size 900,560
set output '{out}'
set title 'Blur pass time against radius (1920x1080)'
set xlabel 'blur radius (pixels)'
set ylabel 'milliseconds per frame'
set logscale y
set grid
set key left top
plot {', '.join(lines)}
""")
    return True


# The passes the threads plot shows, each in its own colour and point: the
# ones a frame's time mostly goes to, and the whole frame with every filter.
THREAD_SERIES = (
    ("BM_WholeFrameEverythingOn", "whole frame, every filter on", "#222222", 5),
    ("BM_DepthOfFieldBlurTypical", "depth-of-field blur, typical depths", "#1f77b4", 7),
    ("BM_SofterBlurPass", "softer blur, BlurPercent 100", "#d62728", 9),
    ("BM_BlurPass", "blur, BlurPercent 100", "#ff7f0e", 11),
    ("BM_EnhanceAndAntialias/1", "enhance and antialias, 1 pass", "#2ca02c", 13),
    ("BM_FinalPassEveryColourStage", "every colour stage", "#9467bd", 3),
)


def plot_threads(times, out, work):
    series = collections.defaultdict(list)
    for name, ms in times.items():
        base, args = split(name)
        if not args:
            continue
        label = base if len(args) == 1 else f"{base}/{'/'.join(map(str, args[:-1]))}"
        series[label].append((args[-1], ms))
    lines, counts = [], set()
    for i, (name, title, colour, point) in enumerate(THREAD_SERIES):
        points = sorted(series.get(name, []))
        if len(points) < 2:
            continue
        counts.update(threads for threads, _ in points)
        path = os.path.join(work, f"threads-{i}.dat")
        with open(path, "w", encoding="utf-8") as f:
            for threads, ms in points:
                f.write(f"{threads} {ms}\n")
        lines.append(f"'{path}' using 1:2 with linespoints lw 2 pt {point} ps 1.5 "
                     f"lc rgb '{colour}' title '{title}'")
    if not lines:
        return False
    xtics = ", ".join(str(n) for n in sorted(counts))
    gnuplot(f"""set terminal png size 1000,520
set output '{out}'
set title 'Time against threads, 1920x1080 frame (wall time)'
set xlabel 'threads'
set ylabel 'milliseconds per frame'
set logscale x 2
set logscale y 10
set xtics ({xtics})
set xrange [{min(counts) / 1.2}:{max(counts) * 1.2}]
set grid
set key outside right center spacing 1.4 width -14
plot {', '.join(lines)}
""")
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", nargs="+", help="benchmark JSON files")
    parser.add_argument("--out", default="docs/images", help="folder for the PNG files")
    args = parser.parse_args()
    times = load(args.results)
    os.makedirs(args.out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        made = []
        for fn, png in ((plot_radius, "perf-radius.png"), (plot_threads, "perf-threads.png")):
            target = os.path.join(args.out, png)
            # Drawn beside the target and renamed over it: a picture is
            # replaced whole or not at all.
            partial = target + ".partial"
            try:
                if fn(times, partial, work):
                    os.replace(partial, target)
                    made.append(target)
            finally:
                if os.path.exists(partial):
                    os.remove(partial)
    if not made:
        sys.exit("plot-benchmarks: no benchmark in the input can be plotted")
    for path in made:
        print(path)


if __name__ == "__main__":
    main()
