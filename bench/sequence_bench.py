#!/usr/bin/python3
"""Times `lumafex render` over whole sequences against oiiotool converting
the same frames, and frames per second against thread count.

    python3 bench/sequence_bench.py [--lumafex PATH] [--work DIR] [--runs N]
        [--threads 1,2,4] [--plot docs/images/perf-sequence-threads.png]
        [--only png-off,exr-demo,...] [--no-compare] [--no-threads]

Makes the test sequences under --work once (from `lumafex demo`'s frames,
enlarged with oiiotool): 8 frames of 1920x1080 PNG with alpha, and the same
as a multilayer half EXR (ViewLayer.Combined.RGBA, ViewLayer.Depth.Z as
float, ViewLayer.DiffCol.RGB, ViewLayer.Normal.XYZ: 11 channels), plus both
at 3840x2160 for the thread counts. Scenes render with every filter off
("off") and with the demo's filters and focal nulls ("demo").

Each comparison runs the render and `oiiotool --frames 1-8 IN.#.EXT -o
OUT.#.EXT` (one frame at a time, every channel kept) in turn, A B A B, after
one warm-up each, and prints for each: the median wall time, the median of
the pair-by-pair ratios, frames per second, the largest peak memory of a
run (the child's ru_maxrss) and the median processor time of a run (user
and system over every thread: on a machine others load, a steadier measure
of the work than the wall time). Only the standard library, oiiotool and, for
the plot, gnuplot are needed.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

FRAMES = 8
SIZES = {"1920x1080": (1920, 1080), "3840x2160": (3840, 2160)}
EXR_CHANNELS = ("ViewLayer.Combined.R,ViewLayer.Combined.G,ViewLayer.Combined.B,"
                "ViewLayer.Combined.A,ViewLayer.Depth.Z,ViewLayer.DiffCol.R,ViewLayer.DiffCol.G,"
                "ViewLayer.DiffCol.B,ViewLayer.Normal.X,ViewLayer.Normal.Y,ViewLayer.Normal.Z")


def run(cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, **kw)


def timed_with_memory(cmd, env=None, cpu=None):
    """Wall seconds and peak MB of one run; its processor seconds (user and
    system, every thread) are appended to cpu when given."""
    start = time.perf_counter()
    pid = os.posix_spawnp(cmd[0], cmd, env if env is not None else os.environ,
                          file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                                        (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)])
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"sequence_bench: {' '.join(cmd)} failed ({os.waitstatus_to_exitcode(status)})")
    if cpu is not None:
        cpu.append(usage.ru_utime + usage.ru_stime)
    return wall, usage.ru_maxrss / 1024.0


def make_sequences(lumafex, work, sizes):
    demo = os.path.join(work, "demo")
    if not os.path.exists(os.path.join(demo, "demo-scene.json")):
        run([lumafex, "-q", "demo", demo])
    with open(os.path.join(demo, "demo-scene.json"), encoding="utf-8") as f:
        demo_scene = json.load(f)
    for name in sizes:
        w, h = SIZES[name]
        d = os.path.join(work, name)
        os.makedirs(d, exist_ok=True)
        for n in range(1, FRAMES + 1):
            png = os.path.join(d, f"beauty.{n:04d}.png")
            depth = os.path.join(d, f"depth.{n:04d}.exr")
            shot = os.path.join(d, f"shot.{n:04d}.exr")
            source = os.path.join(demo, "output", f"graded.{n:04d}.png")
            if not os.path.exists(png):
                run(["oiiotool", source, "--resize", f"{w}x{h}", "-o", png])
            if not os.path.exists(depth):
                run(["oiiotool", os.path.join(demo, "input", f"depth.{n:04d}.pfm"), "--resize",
                     f"{w}x{h}", "--chnames", "Z", "-d", "float", "-o", depth])
            if not os.path.exists(shot):
                # Linear premultiplied colour, float depth, and two AOV
                # layers (the colour again, and a normal-like ramp).
                run(["oiiotool", png, "--colorconvert", "sRGB", "linear", "--premult",
                     depth, "--chappend",
                     png, "--ch", "R,G,B", "--colorconvert", "sRGB", "linear", "--chappend",
                     "--pattern", f"fill:topleft=1,0,0:topright=0,1,0:bottomleft=0,0,1:"
                     f"bottomright=1,1,1", f"{w}x{h}", "3", "--chappend",
                     "--chnames", EXR_CHANNELS, "-d", "half", "-d", "ViewLayer.Depth.Z=float",
                     "--compression", "zip", "-o", shot])
        out = os.path.join(d, "out")
        scenes = {
            "png-off": {"color": "beauty.####.png", "output": "out/png-off.####.png"},
            "png-demo": {"color": "beauty.####.png", "depth": "depth.####.exr",
                         "output": "out/png-demo.####.png"},
            "exr-off": {"color": "shot.####.exr", "colorLayer": "ViewLayer.Combined",
                        "depth": "shot.####.exr", "depthChannel": "ViewLayer.Depth.Z",
                        "output": "out/exr-off.####.exr"},
            "exr-demo": {"color": "shot.####.exr", "colorLayer": "ViewLayer.Combined",
                         "depth": "shot.####.exr", "depthChannel": "ViewLayer.Depth.Z",
                         "output": "out/exr-demo.####.exr"},
        }
        for scene_name, frames in scenes.items():
            scene = {"fps": demo_scene.get("fps", 24),
                     "frames": dict(first=1, last=FRAMES, **frames)}
            if scene_name.endswith("demo"):
                for key in ("cameras", "objects", "settings"):
                    if key in demo_scene:
                        scene[key] = demo_scene[key]
            with open(os.path.join(d, scene_name + ".json"), "w", encoding="utf-8") as f:
                json.dump(scene, f, indent=1)
        os.makedirs(out, exist_ok=True)


def oiiotool_command(d, scene_name):
    ext = scene_name.split("-")[0]
    source = "beauty" if ext == "png" else "shot"
    return ["oiiotool", "--frames", f"1-{FRAMES}", os.path.join(d, f"{source}.#.{ext}"),
            "-o", os.path.join(d, "out", f"oiiotool-{scene_name}.#.{ext}")]


def render_command(lumafex, d, scene_name, extra=()):
    return [lumafex, "-q", "render", os.path.join(d, scene_name + ".json"), *extra]


def compare(lumafex, work, runs, only, extra):
    d = os.path.join(work, "1920x1080")
    print(f"{FRAMES} frames of 1920x1080; {runs} runs each after a warm-up, in turn; "
          f"load average {os.getloadavg()[0]:.2f}")
    print(f"{'sequence':<10} {'lumafex s':>10} {'oiiotool s':>11} {'ratio':>6} {'fps':>6} "
          f"{'oiiotool fps':>13} {'peak MB':>8} {'oiiotool MB':>12} {'cpu s':>6} {'oiiotool cpu s':>14}")
    rows = {}
    for scene_name in only:
        a = render_command(lumafex, d, scene_name, extra)
        b = oiiotool_command(d, scene_name)
        timed_with_memory(a)
        timed_with_memory(b)
        wa, wb, ma, mb, ca, cb = [], [], [], [], [], []
        for _ in range(runs):
            t, m = timed_with_memory(a, cpu=ca)
            wa.append(t)
            ma.append(m)
            t, m = timed_with_memory(b, cpu=cb)
            wb.append(t)
            mb.append(m)
        ratio = statistics.median(x / y for x, y in zip(wa, wb))
        row = dict(lumafex_s=statistics.median(wa), oiiotool_s=statistics.median(wb), ratio=ratio,
                   fps=FRAMES / statistics.median(wa), oiiotool_fps=FRAMES / statistics.median(wb),
                   peak_mb=max(ma), oiiotool_peak_mb=max(mb), cpu_s=statistics.median(ca),
                   oiiotool_cpu_s=statistics.median(cb))
        rows[scene_name] = row
        print(f"{scene_name:<10} {row['lumafex_s']:>10.2f} {row['oiiotool_s']:>11.2f} "
              f"{ratio:>6.2f} {row['fps']:>6.2f} {row['oiiotool_fps']:>13.2f} "
              f"{row['peak_mb']:>8.0f} {row['oiiotool_peak_mb']:>12.0f} {row['cpu_s']:>6.2f} "
              f"{row['oiiotool_cpu_s']:>14.2f}", flush=True)
    return rows


def thread_scaling(lumafex, work, runs, threads, only, extra):
    print(f"frames per second against --threads (median of {runs}); "
          f"load average {os.getloadavg()[0]:.2f}")
    results = {}
    for size in SIZES:
        d = os.path.join(work, size)
        for scene_name in only:
            for n in threads:
                cmd = render_command(lumafex, d, scene_name, [*extra, "--threads", str(n)])
                timed_with_memory(cmd)
                walls, peaks = [], []
                for _ in range(runs):
                    t, m = timed_with_memory(cmd)
                    walls.append(t)
                    peaks.append(m)
                fps = FRAMES / statistics.median(walls)
                results.setdefault(f"{scene_name} {size}", []).append((n, fps, max(peaks)))
                print(f"{size} {scene_name:<10} threads {n}: {fps:6.2f} frames/s, "
                      f"peak {max(peaks):5.0f} MB", flush=True)
    return results


def plot(results, out):
    if shutil.which("gnuplot") is None:
        sys.exit("sequence_bench: gnuplot is missing (apt-get install gnuplot-nox)")
    with tempfile.TemporaryDirectory() as work:
        lines = []
        counts = set()
        for i, (label, points) in enumerate(sorted(results.items())):
            path = os.path.join(work, f"s{i}.dat")
            with open(path, "w", encoding="utf-8") as f:
                for n, fps, _ in points:
                    f.write(f"{n} {fps}\n")
                    counts.add(n)
            lines.append(f"'{path}' using 1:2 with linespoints lw 2 pt {5 + 2 * (i % 6)} "
                         f"ps 1.5 title '{label}'")
        xtics = ", ".join(str(n) for n in sorted(counts))
        subprocess.run(["gnuplot"], text=True, check=True, input=f"""set terminal png size 1000,520
set output '{out}'
set title 'lumafex render: frames per second against threads ({FRAMES} frames)'
set xlabel 'threads (--threads)'
set ylabel 'frames per second'
set logscale x 2
set logscale y 2
set xtics ({xtics})
set xrange [{min(counts) / 1.2}:{max(counts) * 1.2}]
set grid
set key outside right center spacing 1.4 width -6
plot {', '.join(lines)}
""")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lumafex", default="build/release/lumafex")
    parser.add_argument("--work", default="build/sequence-bench")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--threads", default="1,2,4")
    parser.add_argument("--only", default="png-off,png-demo,exr-off,exr-demo")
    parser.add_argument("--thread-scenes", default="png-demo,exr-demo")
    parser.add_argument("--render-args", default="",
                        help="more arguments for lumafex render, split at spaces")
    parser.add_argument("--plot", help="write the thread plot here (PNG)")
    parser.add_argument("--json", help="write every figure here")
    parser.add_argument("--no-compare", action="store_true")
    parser.add_argument("--no-threads", action="store_true")
    args = parser.parse_args()
    if shutil.which("oiiotool") is None:
        sys.exit("sequence_bench: oiiotool is missing (apt-get install openimageio-tools)")
    lumafex = os.path.abspath(args.lumafex)
    os.makedirs(args.work, exist_ok=True)
    extra = args.render_args.split()
    sizes = ["1920x1080"] if args.no_threads else list(SIZES)
    make_sequences(lumafex, args.work, sizes)
    figures = {}
    if not args.no_compare:
        figures["compare"] = compare(lumafex, args.work, args.runs, args.only.split(","), extra)
    if not args.no_threads:
        threads = [int(n) for n in args.threads.split(",")]
        figures["threads"] = thread_scaling(lumafex, args.work, args.runs, threads,
                                            args.thread_scenes.split(","), extra)
        if args.plot:
            plot(figures["threads"], args.plot)
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(figures, f, indent=1)


if __name__ == "__main__":
    main()
