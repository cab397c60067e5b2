#!/usr/bin/env python3
"""End-to-end benchmark: vantor-transcode against the ffmpeg CLI of the same
FFmpeg build, on 1080p H.264 and HEVC clips.

Runs each pair interleaved (A B B A ...), measures the child's CPU time
(user+sys), wall time and peak RSS, and writes a table to bench/results.md.
"""
import argparse
import datetime
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CACHE = ROOT / "bench" / "cache"
DEBIAN_FFMPEG = "/usr/bin/ffmpeg"

CLIPS = {
    "h264": ["-c:v", "libx264", "-preset", "medium", "-pix_fmt", "yuv420p"],
    "hevc": ["-c:v", "libx265", "-preset", "fast", "-pix_fmt", "yuv420p",
             "-x265-params", "log-level=error"],
}


def make_clip(codec):
    """A 1920x1080, 250-frame clip, made once with Debian's encoders."""
    path = CACHE / f"{codec}_1080p_250.mp4"
    if path.exists():
        return path
    CACHE.mkdir(parents=True, exist_ok=True)
    tmp = path.with_suffix(".tmp.mp4")
    subprocess.run([DEBIAN_FFMPEG, "-hide_banner", "-loglevel", "error", "-y",
                    "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25",
                    "-frames:v", "250", *CLIPS[codec], str(tmp)], check=True)
    tmp.rename(path)
    return path


def run_pair(name, ours, theirs, runs, env, scratch):
    results = {"ours": [], "theirs": []}
    for run in range(runs):
        # Every other pair starts with theirs, so neither side always runs
        # on a machine just warmed (or throttled) by the other.
        sides = (("ours", ours), ("theirs", theirs))
        for side, command in sides if run % 2 == 0 else reversed(sides):
            out = scratch / side
            shutil.rmtree(out, ignore_errors=True)
            out.mkdir()
            argv = [str(part).replace("{OUT}", str(out)) for part in command]
            results[side].append(run_measured(argv, env))
    return name, results


def run_measured(argv, env):
    start = time.monotonic()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=[
        (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
        (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)])
    _, status, usage = os.wait4(pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"bench: {' '.join(argv)} exited with {os.waitstatus_to_exitcode(status)}")
    return {"cpu": usage.ru_utime + usage.ru_stime, "wall": wall, "rss": usage.ru_maxrss / 1024.0}


def summary(values):
    return statistics.median(values), min(values), max(values)


def cpu_model():
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--ffmpeg-prefix", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--output", default=str(ROOT / "bench" / "results.md"))
    parser.add_argument("--micro", help="output of bench_image_copy to append to the results")
    args = parser.parse_args()

    tool = Path(args.build) / "bin" / "vantor-transcode"
    env = dict(os.environ)
    if args.ffmpeg_prefix:
        ffmpeg = Path(args.ffmpeg_prefix) / "bin" / "ffmpeg"
        env["LD_LIBRARY_PATH"] = str(Path(args.ffmpeg_prefix) / "lib")
    else:  # the system's FFmpeg is 7.1 already
        ffmpeg = Path(shutil.which("ffmpeg"))

    # Quality 75 is lambda 495: qscale 495/118.
    qscale = "4.195"
    rows = []
    with tempfile.TemporaryDirectory() as scratch_dir:
        scratch = Path(scratch_dir)
        for codec in CLIPS:
            clip = make_clip(codec)
            pairs = [
                (f"{codec}: JPEG 640x360 q75 (a/b)",
                 [tool, clip, "--size", "640x360", "--quality", "75", "-o", "{OUT}"],
                 [ffmpeg, "-hide_banner", "-loglevel", "error", "-threads", "1",
                  "-filter_threads", "1", "-i", clip, "-vf",
                  "scale=640:360:flags=bilinear,format=yuvj420p", "-c:v", "mjpeg",
                  "-q:v", qscale, "-f", "image2", "{OUT}/%06d.jpg"]),
                (f"{codec}: decode to raw (c/d)",
                 [tool, clip, "--raw", "/dev/null"],
                 [ffmpeg, "-hide_banner", "-loglevel", "error", "-threads", "1", "-i", clip,
                  "-f", "rawvideo", "-y", "/dev/null"]),
            ]
            for name, ours, theirs in pairs:
                print(f"bench: {name} ...", file=sys.stderr, flush=True)
                rows.append(run_pair(name, ours, theirs, args.runs, env, scratch))

    lines = [
        "# End-to-end benchmark",
        "",
        f"Date: {datetime.date.today().isoformat()}. Machine: {cpu_model()}, "
        f"{os.cpu_count()} cores. {args.runs} interleaved runs per side; medians with min–max.",
        "Ours: `vantor-transcode`; theirs: the `ffmpeg` CLI of the same FFmpeg 7.1 build "
        "(`-threads 1 -filter_threads 1`). Clips: 1920x1080, 250 frames, made by Debian's x264/x265.",
        "",
        "CPU ratio: the ratio of the two medians, then the median and min–max of the ratios of "
        "the runs made back to back, which drifts in machine speed affect least.",
        "",
        "| job | CPU s ours | CPU s theirs | CPU ratio | CPU ratio of pairs | wall s ours "
        "| wall s theirs | wall ratio | peak RSS MiB ours | peak RSS MiB theirs |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for name, results in rows:
        cells = [name]
        for key in ("cpu", "wall"):
            ours_m, ours_lo, ours_hi = summary([r[key] for r in results["ours"]])
            theirs_m, theirs_lo, theirs_hi = summary([r[key] for r in results["theirs"]])
            cells += [f"{ours_m:.2f} ({ours_lo:.2f}–{ours_hi:.2f})",
                      f"{theirs_m:.2f} ({theirs_lo:.2f}–{theirs_hi:.2f})",
                      f"{ours_m / theirs_m:.3f}"]
            if key == "cpu":
                pair_m, pair_lo, pair_hi = summary(
                    [o["cpu"] / t["cpu"] for o, t in zip(results["ours"], results["theirs"])])
                cells.append(f"{pair_m:.3f} ({pair_lo:.3f}–{pair_hi:.3f})")
        for side in ("ours", "theirs"):
            m, lo, hi = summary([r["rss"] for r in results[side]])
            cells.append(f"{m:.1f} ({lo:.1f}–{hi:.1f})")
        lines.append("| " + " | ".join(cells) + " |")
    if args.micro:
        lines += ["", "## Copy routines at 1920x1080 (Google Benchmark)", "", "```",
                  Path(args.micro).read_text().strip(), "```"]
    text = "\n".join(lines) + "\n"
    Path(args.output).write_text(text)
    print(text)


if __name__ == "__main__":
    main()
