#!/usr/bin/env python3
"""Checks the pictures vantor-transcode chooses against an independent decode.

Usage: check-picks.py TOOL CLIP FRAMEMD5 KEYFRAME_TIMES -- TOOL_ARGS...

FRAMEMD5 is Debian's ffmpeg's `-f framemd5` of CLIP as yuv420p (every picture,
its time and MD5); KEYFRAME_TIMES lists the presentation times of its sync
samples, one per line, in the same time base (ffprobe -show_entries
packet=pts,flags). TOOL_ARGS choose the pictures (--every, --count,
--keyframes, --start, --end, --keep-flat is implied: flat pictures are not
judged here). The tool writes the chosen pictures as raw planes; each must be
the first picture (or sync sample) at or after its mark. Exit 0 when all match.
"""
import hashlib
import subprocess
import sys
import tempfile
from pathlib import Path


def read_framemd5(path):
    timescale, pictures = None, []
    for line in Path(path).read_text().splitlines():
        if line.startswith("#tb 0: 1/"):
            timescale = int(line.split("/")[1])
        if not line or line.startswith("#"):
            continue
        fields = [f.strip() for f in line.split(",")]
        pictures.append((int(fields[2]), int(fields[3]), int(fields[4]), fields[5]))
    return timescale, pictures


def seconds_of(text):
    """The tool's time syntax for the plain forms used here: 7s, 500ms, 2.5."""
    if text.endswith("ms"):
        return float(text[:-2]) / 1000
    if text.endswith("s"):
        return float(text[:-1])
    return float(text)


def expected_picks(pictures, timescale, keys, args):
    every = count = None
    start, end, keyframes = 0.0, None, "--keyframes" in args
    for i, arg in enumerate(args):
        value = args[i + 1] if i + 1 < len(args) else None
        if arg == "--every":
            every = seconds_of(value)
        elif arg == "--count":
            count = int(value)
        elif arg == "--start":
            start = seconds_of(value)
        elif arg == "--end":
            end = seconds_of(value)
    origin = min(p[0] for p in pictures)
    last = max(pictures)
    length = (last[0] - origin + last[1]) / timescale
    end = min(end, length) if end is not None else length
    candidates = sorted(p for p in pictures if not keyframes or p[0] in keys)
    if count:
        marks = [start + (i + 0.5) * (end - start) / count for i in range(count)]
    elif every:
        marks = [start + i * every for i in range(int((end - start) / every) + 2)]
        marks = [m for m in marks if m < end]
    else:
        marks = None
    chosen, used = [], set()
    in_range = [p for p in candidates if start <= (p[0] - origin) / timescale < end]
    if marks is None:
        return [p[3] for p in in_range]
    for mark in marks:
        for p in in_range:
            if (p[0] - origin) / timescale >= mark - 1e-9:
                if p[0] not in used:
                    used.add(p[0])
                    chosen.append(p[3])
                break
    return chosen


def main():
    tool, clip, framemd5, key_file = sys.argv[1:5]
    args = sys.argv[sys.argv.index("--") + 1:]
    timescale, pictures = read_framemd5(framemd5)
    keys = {int(line) for line in Path(key_file).read_text().split()}
    expected = expected_picks(pictures, timescale, keys, args)
    with tempfile.TemporaryDirectory() as scratch:
        raw = Path(scratch) / "picks.yuv"
        subprocess.run([tool, clip, "--keep-flat", "--raw", str(raw), *args], check=True,
                       stdout=subprocess.DEVNULL)
        data = raw.read_bytes()
    size = pictures[0][2]
    got = [hashlib.md5(data[i:i + size]).hexdigest() for i in range(0, len(data), size)]
    if got != expected:
        print(f"check-picks: {clip} {' '.join(args)}: {len(got)} pictures, expected "
              f"{len(expected)}; first difference at "
              f"{next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))}")
        return 1
    print(f"check-picks: {Path(clip).name} {' '.join(args)}: {len(got)} pictures as ffmpeg decodes them")
    return 0


if __name__ == "__main__":
    sys.exit(main())
