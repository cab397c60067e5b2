#!/usr/bin/env python3
"""Flat patches of known display light, as raw 10-bit Y'CbCr for x265.

Usage: hdr_patches.py pq|hlg FRAMES OUT.yuv   writes the pictures
       hdr_patches.py table                   prints the patch table: index,
                                              name, BT.2020 light in nits

Every picture is 512x256: 8 x 4 patches of 64x64, each one colour given as
the light a reference display shows (nits, linear BT.2020 RGB). PQ encodes
that light directly (SMPTE ST 2084); HLG encodes the scene light that a
1000-nit display shows as that light (BT.2100's inverse EOTF, system gamma
1.2). Both then use BT.2020's non-constant-luminance Y'CbCr at 10 bits,
limited range. Nothing is brighter than 1000 nits in any channel, so the
HLG display can show all of it. make_hdr.sh keeps the table next to the
clips (hdr_patches.txt) for the tests.
"""
import math
import struct
import sys

WIDTH, HEIGHT, SIDE = 512, 256, 64

def rgb_to_xyz(red, green, blue, white=(0.3127, 0.3290)):
    """The RGB to XYZ matrix of primaries and a white point given as xy."""
    def xyz(x, y):
        return [x / y, 1.0, (1 - x - y) / y]
    columns = [xyz(*red), xyz(*green), xyz(*blue)]
    p = [[columns[j][i] for j in range(3)] for i in range(3)]
    scale = solve(p, xyz(*white))
    return [[p[i][j] * scale[j] for j in range(3)] for i in range(3)]


def solve(m, v):
    """x with m x = v, by Cramer's rule."""
    def det(a):
        return (a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]))
    d = det(m)
    return [det([[v[i] if j == k else m[i][j] for j in range(3)] for i in range(3)]) / d
            for k in range(3)]


BT709 = rgb_to_xyz((0.640, 0.330), (0.300, 0.600), (0.150, 0.060))
P3 = rgb_to_xyz((0.680, 0.320), (0.265, 0.690), (0.150, 0.060))
BT2020 = rgb_to_xyz((0.708, 0.292), (0.170, 0.797), (0.131, 0.046))


def to_bt2020(matrix, rgb):
    xyz = [sum(m * c for m, c in zip(row, rgb)) for row in matrix]
    return solve(BT2020, xyz)


def bt709(r, g, b):
    """Linear BT.709 light (nits) as BT.2020 RGB."""
    return to_bt2020(BT709, (r, g, b))


def p3(r, g, b):
    """Linear P3 (D65) light (nits) as BT.2020 RGB; P3's red lies a hair
    outside BT.2020, and light is never negative."""
    return [max(c, 0.0) for c in to_bt2020(P3, (r, g, b))]


def grey(nits):
    return [nits, nits, nits]


def srgb_light(code):
    v = code / 255
    return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4


# Row by row, left to right: name and BT.2020 light in nits.
# The 1000-nit grey has only neutral neighbours: scaled 4:2:0 pictures
# bleed chroma across edges, and a neighbour's colour on that grey's luma
# would be light brighter than anything in the picture.
PATCHES = [
    ("black", grey(0)), ("grey 1", grey(1)), ("grey 5", grey(5)), ("grey 10", grey(10)),
    ("grey 26", grey(26)), ("grey 50", grey(50)), ("grey 100", grey(100)), ("grey 1000", grey(1000)),
    ("grey 203", grey(203)), ("grey 300", grey(300)), ("grey 400", grey(400)), ("grey 500", grey(500)),
    ("bright red", bt709(1000, 0, 0)), ("p3 red", p3(203, 0, 0)), ("grey 150", grey(150)),
    ("grey 600", grey(600)),
    # sRGB (224, 172, 150) shown with its white at reference white.
    ("skin", bt709(*(203 * srgb_light(c) for c in (224, 172, 150)))),
    ("bt709 red", bt709(203, 0, 0)), ("bt709 green", bt709(0, 203, 0)),
    ("bt709 blue", bt709(0, 0, 203)), ("orange", bt709(600, 270, 30)),
    ("bt2020 red", [203, 0, 0]), ("bt2020 green", [0, 203, 0]), ("bt2020 blue", [0, 0, 203]),
    ("grey 15", grey(15)), ("grey 36", grey(36)), ("grey 75", grey(75)), ("p3 green", p3(0, 203, 0)),
    ("dark skin", bt709(*(203 * srgb_light(c) for c in (141, 85, 36)))),
    ("sky", bt709(120, 200, 350)), ("bt709 cyan", bt709(0, 203, 203)),
    ("bt709 magenta", bt709(203, 0, 203)),
]
assert len(PATCHES) == (WIDTH // SIDE) * (HEIGHT // SIDE)

# SMPTE ST 2084
M1, M2 = 2610 / 16384, 2523 / 4096 * 128
C1, C2, C3 = 3424 / 4096, 2413 / 4096 * 32, 2392 / 4096 * 32


def pq(nits):
    y = (max(nits, 0) / 10000) ** M1
    return ((C1 + C2 * y) / (1 + C3 * y)) ** M2


# BT.2100 HLG
A = 0.17883277
B = 1 - 4 * A
C = 0.5 - A * math.log(4 * A)
HLG_PEAK, HLG_GAMMA = 1000, 1.2
KR, KG, KB = 0.2627, 0.6780, 0.0593


def hlg_oetf(e):
    return math.sqrt(3 * e) if e <= 1 / 12 else A * math.log(12 * e - B) + C


def hlg(rgb):
    """The HLG signal that a 1000-nit display shows as `rgb` nits."""
    display = [c / HLG_PEAK for c in rgb]
    yd = KR * display[0] + KG * display[1] + KB * display[2]
    if yd <= 0:
        return [0, 0, 0]
    ys = yd ** (1 / HLG_GAMMA)
    return [hlg_oetf(max(c, 0) * ys / yd) for c in display]


def ycbcr10(signal):
    r, g, b = signal
    y = KR * r + KG * g + KB * b
    cb = (b - y) / (2 - 2 * KB)
    cr = (r - y) / (2 - 2 * KR)
    return (round(64 + 876 * y), round(512 + 896 * cb), round(512 + 896 * cr))


def picture(transfer):
    columns = WIDTH // SIDE
    values = []
    for _, rgb in PATCHES:
        assert max(rgb) <= 1000.5 and min(rgb) >= 0, rgb
        values.append(ycbcr10([pq(c) for c in rgb] if transfer == "pq" else hlg(rgb)))

    def plane(index, width, height, side):
        out = bytearray()
        for y in range(height):
            for x in range(width):
                patch = (y // side) * columns + x // side
                out += struct.pack("<H", values[patch][index])
        return out

    return (plane(0, WIDTH, HEIGHT, SIDE) + plane(1, WIDTH // 2, HEIGHT // 2, SIDE // 2) +
            plane(2, WIDTH // 2, HEIGHT // 2, SIDE // 2))


def main():
    if sys.argv[1:] == ["table"]:
        for i, (name, rgb) in enumerate(PATCHES):
            print(i, name, *("%.4f" % c for c in rgb), sep="\t")
        return
    transfer, frames, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    one = picture(transfer)
    with open(out, "wb") as f:
        for _ in range(frames):
            f.write(one)


if __name__ == "__main__":
    main()
