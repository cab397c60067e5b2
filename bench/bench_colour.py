#!/usr/bin/env python3
"""The colour stage's cost and look.

Cost, as ratios of the child processes' CPU time (user+sys) in interleaved
runs (A B B A ...):
- every picture of a 1080p H.264 BT.709 clip to 640x360 JPEGs on one thread,
  against the ffmpeg CLI of the same FFmpeg doing it colour-correct (BT.709 to
  BT.601 full range in its one scale filter);
- the same 1080p H.264 clip tagged BT.709 against tagged BT.601 (the bytes of
  its slices are the same; only the VUI differs), for every picture at
  640x360 and for a thumbnail job: the BT.709 pictures pay for one extra
  pass at thumbnail size, the BT.601 ones for none;
- a 1-minute 3840x2160 HEVC Main10 HLG clip, --every 7s --size 320x,
  against the same job with --tonemap off.

Look: the flat patches of tests/data/corpus/hdr_pq.mp4 and hdr_hlg.mp4 (light
given by hdr_patches.txt) as our JPEGs and as Debian's ffmpeg's
zscale/tonemap recipe makes them, both decoded to sRGB by Debian's ffmpeg.

Writes bench/colour.md.
"""
import argparse
import datetime
import os
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

from run_e2e import cpu_model, run_pair

ROOT = Path(__file__).resolve().parent.parent
CACHE = ROOT / "bench" / "cache"
CORPUS = ROOT / "tests" / "data" / "corpus"
DEBIAN_FFMPEG = "/usr/bin/ffmpeg"
QUIET = ["-hide_banner", "-loglevel", "error", "-nostdin", "-y"]
# Debian's ffmpeg's own way to SDR: light from the transfer (100 nits as 1.0),
# BT.709 primaries, Hable's curve without desaturation, BT.709 video; then
# the BT.601 full range of a JPEG.
RECIPE = ("zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,tonemap=tonemap=hable:desat=0,"
          "zscale=t=bt709:m=bt709:r=tv,"
          "scale=in_color_matrix=bt709:in_range=tv:out_color_matrix=bt601:out_range=pc,format=yuvj420p")


def cached(name, make):
    path = CACHE / name
    if not path.exists():
        CACHE.mkdir(parents=True, exist_ok=True)
        tmp = path.with_name("tmp-" + name)
        print(f"bench: making {name}", file=sys.stderr, flush=True)
        make(tmp)
        tmp.rename(path)
    return path


def sd_hd_clips():
    """20 s of 1080p H.264 tagged BT.709, and the same slices tagged BT.601."""
    def bt709(out):
        subprocess.run([DEBIAN_FFMPEG, *QUIET, "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25",
                        "-frames:v", "500", "-vf", "scale=out_color_matrix=bt709:out_range=tv",
                        "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset", "fast", "-x264-params",
                        "keyint=50:min-keyint=50:scenecut=0", "-colorspace", "bt709",
                        "-color_primaries", "bt709", "-color_trc", "bt709", str(out)], check=True)
    hd = cached("colour_bt709_1080p.mp4", bt709)

    def bt601(out):
        subprocess.run([DEBIAN_FFMPEG, *QUIET, "-i", str(hd), "-c", "copy", "-bsf:v",
                        "h264_metadata=matrix_coefficients=6:colour_primaries=6:transfer_characteristics=6",
                        str(out)], check=True)
    return hd, cached("colour_bt601_1080p.mp4", bt601)


def hlg_clip():
    """1 minute of 3840x2160 HEVC Main10 tagged HLG and BT.2020, 2-s GOPs."""
    def make(out):
        subprocess.run([DEBIAN_FFMPEG, *QUIET, "-f", "lavfi", "-i", "testsrc2=size=3840x2160:rate=25",
                        "-frames:v", "1500", "-pix_fmt", "yuv420p10le", "-c:v", "libx265",
                        "-preset", "ultrafast", "-x265-params",
                        "log-level=error:keyint=50:min-keyint=50:scenecut=0:colorprim=bt2020:"
                        "transfer=arib-std-b67:colormatrix=bt2020nc", "-tag:v", "hvc1", str(out)],
                       check=True)
    return cached("colour_hlg_2160p_60s.mp4", make)


def cpu_ratio(results):
    """The median of the ratios of the runs made back to back, which drifts
    in a shared machine's speed affect least, with their range; and each
    side's median CPU time."""
    pairs = [a["cpu"] / b["cpu"] for a, b in zip(results["ours"], results["theirs"])]
    ours = statistics.median(r["cpu"] for r in results["ours"])
    theirs = statistics.median(r["cpu"] for r in results["theirs"])
    return statistics.median(pairs), min(pairs), max(pairs), ours, theirs


def patches(jpeg, scratch):
    """Mean sRGB of the middle half of each of the 8 x 4 patches."""
    raw = scratch / "picture.rgb"
    subprocess.run([DEBIAN_FFMPEG, *QUIET, "-i", str(jpeg), "-f", "rawvideo", "-pix_fmt", "rgb24",
                    str(raw)], check=True)
    data = raw.read_bytes()
    width, side = 512, 64
    means = []
    for patch in range(32):
        x0, y0 = (patch % 8) * side, (patch // 8) * side
        sums, count = [0, 0, 0], 0
        for y in range(y0 + side // 4, y0 + 3 * side // 4):
            for x in range(x0 + side // 4, x0 + 3 * side // 4):
                at = (y * width + x) * 3
                for k in range(3):
                    sums[k] += data[at + k]
                count += 1
        means.append(tuple(round(s / count) for s in sums))
    return means


def look(tool, env, scratch):
    names = [line.split("\t")[1] for line in (CORPUS / "hdr_patches.txt").read_text().splitlines()]
    columns = {}
    for clip in ("hdr_pq", "hdr_hlg"):
        ours = scratch / f"{clip}-ours"
        subprocess.run([str(tool), str(CORPUS / f"{clip}.mp4"), "--count", "1", "--quality", "95",
                        "-o", str(ours), "--overwrite"], check=True, env=env, capture_output=True)
        columns[f"ours {clip[4:].upper()}"] = patches(ours / "000001.jpg", scratch)
        theirs = scratch / f"{clip}-ffmpeg.jpg"
        subprocess.run([DEBIAN_FFMPEG, *QUIET, "-i", str(CORPUS / f"{clip}.mp4"), "-frames:v", "1",
                        "-vf", RECIPE, "-q:v", "2", str(theirs)], check=True)
        columns[f"ffmpeg recipe {clip[4:].upper()}"] = patches(theirs, scratch)
    lines = ["| patch | " + " | ".join(columns) + " |", "|---" * (len(columns) + 1) + "|"]
    for i, name in enumerate(names):
        lines.append(f"| {name} | " + " | ".join(" ".join(map(str, column[i])) for column in columns.values())
                     + " |")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--ffmpeg-prefix", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--output", default=str(ROOT / "bench" / "colour.md"))
    args = parser.parse_args()

    tool = Path(args.build) / "bin" / "vantor-transcode"
    env = dict(os.environ, LD_LIBRARY_PATH=str(Path(args.ffmpeg_prefix) / "lib"))
    bt709, bt601 = sd_hd_clips()
    hlg = hlg_clip()
    rows = []
    with tempfile.TemporaryDirectory() as scratch_dir:
        scratch = Path(scratch_dir)
        # The same job as ffmpeg's CLI of our FFmpeg doing it colour-correct
        # in its one scale filter (quality 75 is its qscale 4.195).
        ffmpeg = Path(args.ffmpeg_prefix) / "bin" / "ffmpeg"
        jobs = [
            ("BT.709 every picture at 640x360 --threads 1, against ffmpeg's colour-correct scale", "0.9",
             [tool, bt709, "--size", "640x360", "--threads", "1", "-o", "{OUT}"],
             [ffmpeg, "-hide_banner", "-loglevel", "error", "-threads", "1", "-filter_threads", "1", "-i", bt709,
              "-vf", "scale=640:360:flags=bilinear:in_color_matrix=bt709:out_color_matrix=bt601:out_range=pc",
              "-pix_fmt", "yuvj420p", "-c:v", "mjpeg", "-q:v", "4.195", "-f", "image2", "{OUT}/%06d.jpg"]),
            ("BT.709 against BT.601, every picture at 640x360", "1.03",
             [tool, bt709, "--size", "640x360", "-o", "{OUT}"],
             [tool, bt601, "--size", "640x360", "-o", "{OUT}"]),
            ("BT.709 against BT.601, --every 7s --size 320x", "1.03",
             [tool, bt709, "--every", "7s", "--size", "320x", "-o", "{OUT}"],
             [tool, bt601, "--every", "7s", "--size", "320x", "-o", "{OUT}"]),
            ("HLG 2160p, --every 7s --size 320x, against --tonemap off", "1.05",
             [tool, hlg, "--every", "7s", "--size", "320x", "-o", "{OUT}"],
             [tool, hlg, "--every", "7s", "--size", "320x", "--tonemap", "off", "-o", "{OUT}"]),
        ]
        for name, target, ours, theirs in jobs:
            print(f"bench: {name}", file=sys.stderr, flush=True)
            _, results = run_pair(name, ours, theirs, args.runs, env, scratch)
            rows.append((name, target, *cpu_ratio(results)))
        patch_table = look(tool, env, scratch)

    lines = [
        "# The colour stage",
        "",
        f"Date: {datetime.date.today().isoformat()}. Machine: {cpu_model()}, {os.cpu_count()} cores.",
        "Interleaved runs of the child processes' CPU time (user+sys); ratio = A / B of the runs made",
        "back to back: their median, and their range. CPU s: each side's median.",
        "",
        "| job (A against B) | ratio | range | target | CPU s A | CPU s B |",
        "|---|---|---|---|---|---|",
    ]
    lines += [f"| {name} | {ratio:.3f} | {low:.2f}–{high:.2f} | at most {target} | {a:.2f} | {b:.2f} |"
              for name, target, ratio, low, high, a, b in rows]
    lines += ["", "## HDR patches as sRGB", "",
              "The first picture of tests/data/corpus/hdr_pq.mp4 and hdr_hlg.mp4 (the same light, "
              "hdr_patches.txt), as our JPEGs and as Debian's ffmpeg's recipe:", "",
              f"    {RECIPE}", "", "both decoded to rgb24 by Debian's ffmpeg; R G B of each patch's middle.", ""]
    lines += patch_table
    text = "\n".join(lines) + "\n"
    Path(args.output).write_text(text)
    print(text)
    return 0 if all(ratio <= float(target) for _, target, ratio, *_ in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
