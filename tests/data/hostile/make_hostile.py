#!/usr/bin/env python3
"""Makes the crafted inputs an attacker would upload, each a few KB: small
real encodes (Debian's ffmpeg, x264, x265) whose headers are then edited to
claim what the bytes cannot back:

  h264_sps_8192.h264    SPS claims 8192x8192 and 16 reference frames
  h264_sps_16000.h264   the same at 16000x16000
  hevc_sps_8192.hevc    HEVC SPS claims 8192x8192
  mp4_stsz_85M.mp4      the sample-size box claims 85 million samples
  mp4_tfdt_jump.mp4     fragmented; one fragment's decode time jumps ~4e9 s

Usage: make_hostile.py [OUTPUT_DIR]   (default: this folder)
"""
import os
import struct
import subprocess
import sys
import tempfile


class BitReader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def u(self, n):
        value = 0
        for _ in range(n):
            byte = self.data[self.pos >> 3]
            value = (value << 1) | ((byte >> (7 - (self.pos & 7))) & 1)
            self.pos += 1
        return value

    def ue(self):
        zeros = 0
        while self.u(1) == 0:
            zeros += 1
        return (1 << zeros) - 1 + self.u(zeros)

    def se(self):
        k = self.ue()
        return (k + 1) // 2 if k & 1 else -(k // 2)


class BitWriter:
    def __init__(self):
        self.bits = []

    def u(self, n, value):
        self.bits += [(value >> (n - 1 - i)) & 1 for i in range(n)]

    def ue(self, value):
        value += 1
        n = value.bit_length()
        self.u(n - 1, 0)
        self.u(n, value)

    def copy(self, reader, count):
        for _ in range(count):
            self.bits.append(reader.u(1))

    def bytes(self):
        bits = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))


def unescape(payload):
    out, zeros = bytearray(), 0
    for b in payload:
        if zeros >= 2 and b == 3:
            zeros = 0
            continue
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


def escape(rbsp):
    out, zeros = bytearray(), 0
    for b in rbsp:
        if zeros >= 2 and b <= 3:
            out.append(3)
            zeros = 0
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


def split_annexb(stream):
    starts = []
    i = 0
    while True:
        i = stream.find(b"\x00\x00\x01", i)
        if i < 0:
            break
        starts.append(i + 3)
        i += 3
    units = []
    for n, start in enumerate(starts):
        end = starts[n + 1] - 3 if n + 1 < len(starts) else len(stream)
        units.append(stream[start:end].rstrip(b"\x00"))
    return units


def rewrite_rest(reader, writer, total_bits):
    """Copies the remaining bits up to (not including) the stop bit and writes
    a fresh stop bit."""
    last_one = total_bits - 1
    while last_one >= 0 and not (reader.data[last_one >> 3] >> (7 - (last_one & 7))) & 1:
        last_one -= 1
    writer.copy(reader, last_one - reader.pos)
    writer.u(1, 1)


def patch_h264_sps(nal, width, height):
    header, rbsp = nal[:1], unescape(nal[1:])
    r, w = BitReader(rbsp), BitWriter()
    profile = r.u(8)
    w.u(8, profile)
    w.copy(r, 16)  # constraint flags, level
    w.ue(r.ue())   # sps id
    if profile in (100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135):
        chroma = r.ue()
        w.ue(chroma)
        if chroma == 3:
            w.copy(r, 1)
        w.ue(r.ue())
        w.ue(r.ue())
        w.copy(r, 1)
        scaling = r.u(1)
        w.u(1, scaling)
        if scaling:
            raise SystemExit("scaling lists are not expected from x264's defaults")
    w.ue(r.ue())  # log2_max_frame_num
    poc_type = r.ue()
    w.ue(poc_type)
    if poc_type == 0:
        w.ue(r.ue())
    elif poc_type == 1:
        raise SystemExit("pic_order_cnt_type 1 is not expected")
    w.ue(r.ue())  # max_num_ref_frames
    w.copy(r, 1)  # gaps
    r.ue()
    r.ue()
    w.ue(width // 16 - 1)
    w.ue(height // 16 - 1)
    frame_mbs_only = r.u(1)
    w.u(1, frame_mbs_only)
    if not frame_mbs_only:
        w.copy(r, 1)
    w.copy(r, 1)  # direct_8x8
    if r.u(1):  # cropping: drop it, the new size is whole macroblocks
        for _ in range(4):
            r.ue()
    w.u(1, 0)
    rewrite_rest(r, w, len(rbsp) * 8)
    return header + escape(w.bytes())


def patch_hevc_sps(nal, width, height):
    header, rbsp = nal[:2], unescape(nal[2:])
    r, w = BitReader(rbsp), BitWriter()
    w.copy(r, 4)
    sub_layers = r.u(3)
    w.u(3, sub_layers)
    w.copy(r, 1)
    w.copy(r, 88 + 8)  # general profile_tier_level and level_idc
    if sub_layers:
        raise SystemExit("sub-layers are not expected from x265's defaults")
    w.ue(r.ue())  # sps id
    chroma = r.ue()
    w.ue(chroma)
    if chroma == 3:
        w.copy(r, 1)
    r.ue()
    r.ue()
    w.ue(width)
    w.ue(height)
    if r.u(1):  # conformance window: dropped, the new size is whole CTBs
        for _ in range(4):
            r.ue()
    w.u(1, 0)
    rewrite_rest(r, w, len(rbsp) * 8)
    return header + escape(w.bytes())


def patch_annexb(stream, is_sps, patch, width, height):
    out = bytearray()
    for nal in split_annexb(stream):
        out += b"\x00\x00\x00\x01" + (patch(nal, width, height) if is_sps(nal) else nal)
    return bytes(out)


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def boxes(data, start, end):
    """(type, offset, size) of the boxes in data[start:end]."""
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        if size < 8:
            break
        yield kind.decode("latin-1"), at, size
        at += size


def find_boxes(data, path, start=0, end=None):
    end = len(data) if end is None else end
    head, rest = path[0], path[1:]
    for kind, at, size in boxes(data, start, end):
        if kind == head:
            if not rest:
                yield at, size
            else:
                yield from find_boxes(data, rest, at + 8, at + size)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with tempfile.TemporaryDirectory() as work:
        black = ["-f", "lavfi", "-i", "color=black:s=64x64:r=25:d=1.6"]
        # Sixteen references, then 39 skipped pictures that keep them all.
        h264 = os.path.join(work, "small.h264")
        run("ffmpeg", "-v", "error", *black, "-c:v", "libx264", "-preset", "veryfast",
            "-x264-params", "ref=16:bframes=0:keyint=100:level=5.1", "-pix_fmt", "yuv420p", "-y", h264)
        small = open(h264, "rb").read()
        for size in (8192, 16000):
            patched = patch_annexb(small, lambda n: n[0] & 0x1F == 7, patch_h264_sps, size, size)
            open(os.path.join(out, "h264_sps_%d.h264" % size), "wb").write(patched)

        hevc = os.path.join(work, "small.hevc")
        run("ffmpeg", "-v", "error", *black, "-c:v", "libx265", "-preset", "veryfast",
            "-x265-params", "log-level=none:ref=6:bframes=0:keyint=100", "-pix_fmt", "yuv420p", "-y", hevc)
        patched = patch_annexb(open(hevc, "rb").read(), lambda n: (n[0] >> 1) & 0x3F == 33,
                               patch_hevc_sps, 8192, 8192)
        open(os.path.join(out, "hevc_sps_8192.hevc"), "wb").write(patched)

        # 50 small pictures in an MP4, then the sample count of stsz inflated.
        mp4 = os.path.join(work, "small.mp4")
        run("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=s=64x64:r=25:d=2", "-c:v", "libx264",
            "-preset", "veryfast", "-pix_fmt", "yuv420p", "-y", mp4)
        data = bytearray(open(mp4, "rb").read())
        # One size for every sample, so the count needs no table to back it.
        (at, size), = find_boxes(data, ["moov", "trak", "mdia", "minf", "stbl", "stsz"])
        struct.pack_into(">II", data, at + 12, 200, 85_000_000)  # sample_size, sample_count
        open(os.path.join(out, "mp4_stsz_85M.mp4"), "wb").write(data)

        # 200 pictures in fragments of 25; the fifth fragment starts ~4e9 s later.
        fragmented = os.path.join(work, "fragmented.mp4")
        run("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=s=64x64:r=25:d=8", "-c:v", "libx264",
            "-preset", "veryfast", "-g", "25", "-pix_fmt", "yuv420p", "-movflags",
            "frag_keyframe+empty_moov+default_base_moof", "-video_track_timescale", "12800", "-y", fragmented)
        data = bytearray(open(fragmented, "rb").read())
        jump = 4_000_000_000 * 12800
        fragments = list(find_boxes(data, ["moof", "traf", "tfdt"]))
        for at, size in fragments[4:]:
            version = data[at + 8]
            if version != 1:
                raise SystemExit("expected 64-bit tfdt boxes")
            base, = struct.unpack_from(">Q", data, at + 12)
            struct.pack_into(">Q", data, at + 12, base + jump)
        open(os.path.join(out, "mp4_tfdt_jump.mp4"), "wb").write(data)


if __name__ == "__main__":
    main()
