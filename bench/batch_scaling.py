#!/usr/bin/env python3
"""Batch scaling: `vantor-transcode --batch` with --jobs 1 against --jobs N
(default 2) on two lists of 8 inputs: the committed test clips several
times each, and copies of a 1080p clip (made with Debian's ffmpeg).

Runs the two side by side, alternating which goes first (A B B A ...), and
measures each run's wall time and the child's CPU time (user+sys). The
throughput ratio is wall(jobs 1) / wall(jobs N), from the medians and from
the pairs run back to back, which drifts in machine load affect least.
Prints a Markdown table. On a machine shared with other work, the load
average printed beside it says how far to trust the numbers.
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
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# The clips of tests/data that convert with any options (h264_size_change
# needs --size), longest first: the inputs that start last are short, so no
# worker idles long at the end.
CLIPS = ["h264_high_bframes.mp4", "hevc_main_bframes.mp4", "h264_mkv.mkv", "hevc_main10.mp4",
         "h264_fullrange.mp4"]


# Clips made by Debian's ffmpeg: a 4 s 1080p one as phones record, and the
# 12 s 640x360 one of the batch's first measurement.
MADE = {"1080p": ("testsrc2=s=1920x1080:r=30:d=4", "60"), "640x360": ("testsrc2=s=640x360:r=25:d=12", "50")}


def make_clip(scratch, kind):
    clip = scratch / f"clip_{kind}.mp4"
    source, gop = MADE[kind]
    subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", source,
                    "-c:v", "libx264", "-preset", "veryfast", "-g", gop, "-pix_fmt", "yuv420p", "-y",
                    str(clip)], check=True)
    return clip


def make_list(count, scratch, kind):
    # Each clip is listed under its own path, so that every input's output
    # folder is its own name (no ~2 folders), as a real batch has.
    made = make_clip(scratch, kind) if kind in MADE else None
    lines = []
    for i in range(count):
        source = made if made else ROOT / "tests" / "data" / CLIPS[i % len(CLIPS)]
        copy = scratch / kind / f"{i + 1:02d}_{source.name}"
        copy.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, copy)
        lines.append(str(copy))
    path = scratch / f"{kind}.txt"
    path.write_text("\n".join(lines) + "\n")
    return path, len(lines)


def run_batch(tool, list_path, jobs, extra, scratch, inputs):
    out_dir = scratch / "out"
    shutil.rmtree(out_dir, ignore_errors=True)
    argv = [str(tool), "--batch", str(list_path), "--jobs", str(jobs), "-o", str(out_dir), *extra]
    with open(scratch / "stdout", "w+") as out, open(scratch / "stderr", "w+") as err:
        start = time.monotonic()
        pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=[
            (os.POSIX_SPAWN_DUP2, out.fileno(), 1), (os.POSIX_SPAWN_DUP2, err.fileno(), 2)])
        _, status, usage = os.wait4(pid, 0)
        wall = time.monotonic() - start
        out.seek(0)
        err.seek(0)
        lines = [json.loads(line) for line in out.read().splitlines()]
        errors = err.read()
    code = os.waitstatus_to_exitcode(status)
    failed = [line for line in lines if line["status"] != 0]
    if code != 0 or len(lines) != inputs or failed:
        sys.exit(f"bench: {' '.join(argv)} exited with {code}: {failed or errors}")
    return {"wall": wall, "cpu": usage.ru_utime + usage.ru_stime,
            "pictures": sum(line["pictures"] for line in lines)}


def summary(values):
    return statistics.median(values), min(values), max(values)


def busy(runs):
    return statistics.median(r["cpu"] / r["wall"] for r in runs)


def cell(values, digits=3):
    m, lo, hi = summary(values)
    return f"{m:.{digits}f} ({lo:.{digits}f}–{hi:.{digits}f})"


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--runs", type=int, default=9, help="runs per side (default 9)")
    parser.add_argument("--inputs", type=int, default=8, help="inputs in the list (default 8)")
    parser.add_argument("--jobs", type=int, default=2, help="the side that scales (default 2)")
    parser.add_argument("--output", help="also write the table to this file")
    args = parser.parse_args()

    tool = Path(args.build) / "bin" / "vantor-transcode"
    if not tool.exists():
        sys.exit(f"bench: {tool} is not built")
    # The committed small clips, and phone-sized 1080p ones scaled to 640x360.
    scenarios = [("small clips, JPEG, decoded size", "small", []),
                 ("small clips, JPEG 640x360 --fit q75", "small", ["--size", "640x360", "--fit", "--quality", "75"]),
                 ("12 s 640x360 clips, JPEG 640x360", "640x360", ["--size", "640x360"]),
                 ("1080p clips, JPEG 640x360 --fit q75", "1080p", ["--size", "640x360", "--fit", "--quality", "75"])]
    load_before = os.getloadavg()
    rows = []
    with tempfile.TemporaryDirectory() as scratch_dir:
        scratch = Path(scratch_dir)
        lists = {kind: make_list(args.inputs, scratch, kind) for kind in ("small", "640x360", "1080p")}
        for name, kind, extra in scenarios:
            list_path, inputs = lists[kind]
            print(f"bench: {name} ...", file=sys.stderr, flush=True)
            results = {1: [], args.jobs: []}
            for run in range(args.runs):
                # Every other pair starts with the other side, so that neither
                # always runs on a machine just warmed (or loaded) by the other.
                for jobs in (1, args.jobs) if run % 2 == 0 else (args.jobs, 1):
                    results[jobs].append(run_batch(tool, list_path, jobs, extra, scratch, inputs))
            rows.append((name, results))
    load_after = os.getloadavg()

    n = args.jobs
    lines = [
        f"# Batch scaling: --jobs 1 against --jobs {n}", "",
        f"{args.inputs} inputs a list (the committed test clips, or copies of a 12 s 640x360 or a 4 s 1080p H.264 clip; "
        f"each under its own path), {args.runs} "
        f"alternating runs per side, {os.cpu_count()} cores; medians with min–max. Load "
        f"average (1 min) before {load_before[0]:.2f}, after {load_after[0]:.2f}.", "",
        "Throughput ratio: wall time with --jobs 1 over wall time with --jobs "
        f"{n} (the same pictures), from the medians, then of the pairs run back to back. "
        "Cores busy: CPU time over wall time. With --jobs 1 an input decodes on a thread of its "
        "own beside scaling and encoding, so it already keeps more than one core busy; with "
        f"--jobs {n} filling the cores it does not, and the cores busy say how near the jobs "
        "come to using every core once.", "",
        f"| job | pictures | wall s jobs 1 | wall s jobs {n} | throughput ratio "
        f"| ratio of pairs | CPU s jobs 1 | CPU s jobs {n} | cores busy jobs 1 | cores busy jobs {n} |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for name, results in rows:
        one, many = results[1], results[n]
        pairs = [a["wall"] / b["wall"] for a, b in zip(one, many)]
        ratio = statistics.median(r["wall"] for r in one) / statistics.median(r["wall"] for r in many)
        lines.append(f"| {name} | {one[0]['pictures']} | {cell([r['wall'] for r in one])} "
                     f"| {cell([r['wall'] for r in many])} | {ratio:.2f} | {cell(pairs, 2)} "
                     f"| {cell([r['cpu'] for r in one])} | {cell([r['cpu'] for r in many])} "
                     f"| {busy(one):.2f} | {busy(many):.2f} |")
    text = "\n".join(lines) + "\n"
    if args.output:
        Path(args.output).write_text(text)
    print(text)

if __name__ == "__main__":
    main()
