#!/usr/bin/env python3
"""Thumbnail jobs: vantor-transcode against the ffmpeg CLI of the same FFmpeg
build and Debian's ffmpegthumbnailer, on 1-minute 1920x1080 clips.

Each job runs both sides interleaved (A B B A ...) and compares the medians of
the child processes' CPU time (user+sys), wall time and peak RSS. Before the
timings, the pictures each choosing job takes are checked against Debian's
ffmpeg's decode of the clip (scripts/check-picks.py). Writes
bench/thumbnails.md.
"""
import argparse
import datetime
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

from run_e2e import cpu_model, run_measured

ROOT = Path(__file__).resolve().parent.parent
CACHE = ROOT / "bench" / "cache"
DEBIAN_FFMPEG = "/usr/bin/ffmpeg"
DEBIAN_FFPROBE = "/usr/bin/ffprobe"
THUMBNAILER = "/usr/bin/ffmpegthumbnailer"

# name: encoder arguments. 25 fps, so a GOP of 50 pictures lasts 2 s.
CLIPS = {
    "H.264, 2-s GOPs": ("h264_gop2s_60s", ["-c:v", "libx264", "-preset", "medium",
                         "-x264-params", "keyint=50:min-keyint=50:scenecut=0"]),
    "H.264, 10-s GOPs": ("h264_gop10s_60s", ["-c:v", "libx264", "-preset", "medium",
                          "-x264-params", "keyint=250:min-keyint=250:scenecut=0"]),
    "HEVC, 2-s GOPs": ("hevc_gop2s_60s", ["-c:v", "libx265", "-preset", "fast", "-x265-params",
                        "log-level=error:keyint=50:min-keyint=50:scenecut=0"]),
}
INTERVAL = 7  # seconds: the marks of a real job rarely fall on keyframes
LENGTH = 60


def make_clip(stem, encoder):
    path = CACHE / f"{stem}.mp4"
    if not path.exists():
        CACHE.mkdir(parents=True, exist_ok=True)
        tmp = path.with_suffix(".tmp.mp4")
        subprocess.run([DEBIAN_FFMPEG, "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                        "-i", "testsrc2=size=1920x1080:rate=25", "-frames:v", str(25 * LENGTH),
                        *encoder, "-pix_fmt", "yuv420p", str(tmp)], check=True)
        tmp.rename(path)
    return path


def references(clip):
    """Debian's ffmpeg's framemd5 of the clip, and its sync samples' times."""
    framemd5 = clip.with_suffix(".framemd5")
    keys = clip.with_suffix(".keys")
    if not framemd5.exists():
        subprocess.run([DEBIAN_FFMPEG, "-v", "error", "-i", str(clip), "-pix_fmt", "yuv420p",
                        "-enc_time_base", "-1", "-f", "framemd5", "-y", str(framemd5) + ".tmp"],
                       check=True)
        os.rename(str(framemd5) + ".tmp", framemd5)
    if not keys.exists():
        packets = subprocess.run([DEBIAN_FFPROBE, "-v", "error", "-select_streams", "v:0",
                                  "-show_entries", "packet=pts,flags", "-of", "csv=p=0", str(clip)],
                                 check=True, capture_output=True, text=True).stdout
        keys.write_text("".join(line.split(",")[0] + "\n" for line in packets.splitlines()
                                if "K" in line))
    return framemd5, keys


def run_job(ours, theirs, runs, env, scratch):
    """`theirs` is a list of commands, run one after the other: one run of
    a thumbnailer per mark adds up as one side."""
    results = {"ours": [], "theirs": []}
    sides = (("ours", [ours]), ("theirs", theirs))
    for run in range(runs):
        for side, commands in sides if run % 2 == 0 else tuple(reversed(sides)):
            out = scratch / side
            shutil.rmtree(out, ignore_errors=True)
            out.mkdir()
            total = {"cpu": 0.0, "wall": 0.0, "rss": 0.0}
            for command in commands:
                argv = [str(part).replace("{OUT}", str(out)) for part in command]
                measured = run_measured(argv, env)
                total["cpu"] += measured["cpu"]
                total["wall"] += measured["wall"]
                total["rss"] = max(total["rss"], measured["rss"])
            results[side].append(total)
    return results


def median(results, side, key):
    return statistics.median(r[key] for r in results[side])


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--ffmpeg-prefix", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--output", default=str(ROOT / "bench" / "thumbnails.md"))
    args = parser.parse_args()

    tool = Path(args.build) / "bin" / "vantor-transcode"
    ffmpeg = Path(args.ffmpeg_prefix) / "bin" / "ffmpeg"
    env = dict(os.environ, LD_LIBRARY_PATH=str(Path(args.ffmpeg_prefix) / "lib"))
    quiet = ["-hide_banner", "-loglevel", "error"]
    marks = [f"00:00:{t:02d}" for t in range(0, LENGTH, INTERVAL)]
    checks, rows = [], []
    with tempfile.TemporaryDirectory() as scratch_dir:
        scratch = Path(scratch_dir)
        for clip_name, (stem, encoder) in CLIPS.items():
            clip = make_clip(stem, encoder)
            framemd5, keys = references(clip)
            for choice in (["--every", f"{INTERVAL}s"], ["--every", f"{INTERVAL}s", "--keyframes"],
                           ["--count", "1"], ["--count", "5", "--keyframes"],
                           ["--every", "3.3s", "--start", "10s", "--end", "40s"]):
                print(f"bench: checking {stem} {' '.join(choice)}", file=sys.stderr, flush=True)
                check = subprocess.run([sys.executable, ROOT / "scripts" / "check-picks.py", tool,
                                        clip, framemd5, keys, "--", *choice],
                                       capture_output=True, text=True)
                checks.append((check.returncode == 0, check.stdout.strip() or check.stderr.strip()))
            keyframe_job = [tool, clip, "--every", f"{INTERVAL}s", "--keyframes", "--size", "320x",
                            "-o", "{OUT}"]
            jobs = [
                ("keyframes every 7 s", "ffmpeg -skip_frame nokey", "cpu",
                 keyframe_job,
                 [[ffmpeg, *quiet, "-skip_frame", "nokey", "-i", clip, "-vf", "scale=320:-2",
                   "-fps_mode", "passthrough", "{OUT}/%06d.jpg"]]),
                ("exact every 7 s", "ffmpeg -vf fps=1/7", "cpu",
                 [tool, clip, "--every", f"{INTERVAL}s", "--size", "320x", "-o", "{OUT}"],
                 [[ffmpeg, *quiet, "-i", clip, "-vf", f"fps=1/{INTERVAL},scale=320:-2",
                   "{OUT}/%06d.jpg"]]),
                ("poster (--count 1)", "ffmpegthumbnailer -t 50%", "cpu",
                 [tool, clip, "--count", "1", "--size", "320x", "-o", "{OUT}"],
                 [[THUMBNAILER, "-i", clip, "-o", "{OUT}/poster.jpg", "-s", "320", "-t", "50%"]]),
                ("keyframes every 7 s", f"ffmpegthumbnailer -t T, {len(marks)} calls", "cpu",
                 keyframe_job,
                 [[THUMBNAILER, "-i", clip, "-o", f"{{OUT}}/{i}.jpg", "-s", "320", "-t", mark]
                  for i, mark in enumerate(marks)]),
                ("every picture", "ffmpeg", "wall",
                 [tool, clip, "--size", "320x", "-o", "{OUT}"],
                 [[ffmpeg, *quiet, "-i", clip, "-vf", "scale=320:-2", "-fps_mode", "passthrough",
                   "{OUT}/%06d.jpg"]]),
                ("every picture, --threads 1", "ffmpeg", "wall",
                 [tool, clip, "--size", "320x", "--threads", "1", "-o", "{OUT}"],
                 [[ffmpeg, *quiet, "-i", clip, "-vf", "scale=320:-2", "-fps_mode", "passthrough",
                   "{OUT}/%06d.jpg"]]),
            ]
            for job, anchor, key, ours, theirs in jobs:
                print(f"bench: {stem}: {job} against {anchor}", file=sys.stderr, flush=True)
                runs = max(3, args.runs // 2) if job.startswith("every picture") else args.runs
                rows.append((clip_name, job, anchor, key, run_job(ours, theirs, runs, env, scratch)))

    lines = [
        "# Thumbnail jobs",
        "",
        f"Date: {datetime.date.today().isoformat()}. Machine: {cpu_model()}, {os.cpu_count()} cores.",
        f"Clips: 1920x1080, 25 fps, {LENGTH} s, made by Debian's x264/x265. Every job scales to",
        "320 pixels wide. ffmpeg: the CLI of our FFmpeg 7.1 build, default threads;",
        "ffmpegthumbnailer: Debian's. Medians of interleaved runs; ratio = ours / theirs of",
        "the column the target is about (CPU time, or wall time for the every-picture job).",
        "",
        "| clip | job | against | ratio | CPU s ours | CPU s theirs | wall s ours | wall s theirs "
        "| peak RSS MiB ours | peak RSS MiB theirs |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for clip_name, job, anchor, key, results in rows:
        ratio = median(results, "ours", key) / median(results, "theirs", key)
        cells = [clip_name, job, anchor, f"{ratio:.2f} ({key})"]
        for measure in ("cpu", "wall", "rss"):
            digits = 1 if measure == "rss" else 2
            cells += [f"{median(results, side, measure):.{digits}f}" for side in ("ours", "theirs")]
        lines.append("| " + " | ".join(cells) + " |")
    lines += ["", "## Picks checked against Debian's ffmpeg", ""]
    lines += [f"- {'ok' if ok else 'FAILED'}: {text}" for ok, text in checks]
    text = "\n".join(lines) + "\n"
    Path(args.output).write_text(text)
    print(text)
    return 0 if all(ok for ok, _ in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
