#!/usr/bin/python3
"""Expected bytes of SmoothStretch, worked out apart from the C++ code.

Written from the description of the arithmetic alone: 4-point Lagrange interpolation
(linear in the first and last source interval, a copy at the last position) to
enlarge, area averaging to shrink, 16.16 fixed point in the pixel sums, the set-up of
positions, fractions and weights in 80-bit extended precision. Extended precision is
emulated exactly: every operation is done on fractions.Fraction and then rounded to a
64-bit significand, to nearest, ties to even, as the x87 unit does. Python's integers do
not overflow, so the area sums are the true ones.

    /usr/bin/python3 tests/imaging/smooth_stretch_reference.py > tests/imaging/smooth_stretch_golden.txt

Each output line: name kind source width height new-width new-height expected, where
kind is "rand" (bytes from the generator below), "idx" (an 8-bit picture with a colour
table from the generator) or "line" (grey values, one row when height is 1, else one
column); expected is "hex:" and the result's bytes, rows packed without padding, or
"sha256:" and their hash for the larger results.
"""
import hashlib
import sys
from fractions import Fraction as Q

ONE = 65536
HALF = Q(1, 2)


def ext(x):
    """x rounded to an 80-bit extended value: 64 significant bits, ties to even."""
    x = Q(x)
    if x == 0:
        return x
    sign = -1 if x < 0 else 1
    n, d = abs(x.numerator), x.denominator
    shift = 64 - (n.bit_length() - d.bit_length())
    while True:
        num, den = (n << shift, d) if shift >= 0 else (n, d << -shift)
        q, r = divmod(num, den)
        if q >= 1 << 64:
            shift -= 1
        elif q < 1 << 63:
            shift += 1
        else:
            break
    if 2 * r > den or (2 * r == den and q & 1):
        q += 1
    return sign * (Q(q) / Q(2) ** shift if shift >= 0 else Q(q * 2 ** -shift))


def trunc(x):
    return int(x)  # toward zero


def weights(t):
    """Lagrange basis of the nodes 0..3 at d = t + 1, scaled by 65536, products left to
    right, the divisor last, 0.5 added, truncated toward zero."""
    d = ext(t + 1)

    def w(a, b, c, divisor):
        v = ext(ext(ext(a * ONE) * b) * c)
        return trunc(ext(ext(v / divisor) + HALF))

    return (w(ext(d - 1), ext(d - 2), ext(d - 3), -6), w(d, ext(d - 2), ext(d - 3), 2),
            w(d, ext(d - 1), ext(d - 3), -2), w(d, ext(d - 1), ext(d - 2), 6))


_setup = {}


def enlarge_setup(sn, dn):
    key = (sn, dn)
    if key not in _setup:
        table = []
        for p in range(dn):
            pos = ext(Q((sn - 1) * p) / (dn - 1))
            i = trunc(pos)
            t = pos - i
            table.append((i, t, weights(t)))
        _setup[key] = table
    return _setup[key]


def enlarge(s, dn):
    sn = len(s)
    out = []
    for i, t, w in enlarge_setup(sn, dn):
        if i == sn - 1:
            out.append(s[i])
        elif i == 0 or i == sn - 2:
            v = ext(ext(ext(s[i] * ext(1 - t)) + ext(s[i + 1] * t)) + HALF)
            out.append(trunc(v))
        else:
            v = s[i - 1] * w[0] + s[i] * w[1] + s[i + 1] * w[2] + s[i + 2] * w[3] + 32768
            out.append(min(max(v, 0), 255 * ONE) >> 16)
    return out


def shrink(s, dn):
    sn = len(s)
    index, fraction = [], []
    for b in range(dn + 1):
        q = ext(Q(sn * b) / dn)
        index.append(trunc(q))
        fraction.append(trunc(ext((q - trunc(q)) * ONE)))
    scale = trunc(ext(ext(Q(sn * ONE) / dn) + HALF))
    half = (scale + 1) // 2
    out, c, wf = [], 0, ONE
    for p in range(dn):
        total = s[c] * wf if wf else 0
        n = index[p + 1]
        for k in range(c + 1, n):
            total += s[k] * ONE
        wl = fraction[p + 1]
        if wl:
            total += s[n] * wl
        v = (total + half) // scale
        assert 0 <= v <= 255
        out.append(v)
        wf, c = ONE - wl, n
    return out


def resample(line, dn):
    return enlarge(line, dn) if dn > len(line) else shrink(line, dn)


def stretch(rows, w, h, nw, nh):
    """rows: h lists of 3*w bytes. The width first, then the height; an unchanged
    axis is left alone."""
    if nw != w:
        rows = [[v for pixel in zip(*(resample(row[c::3], nw) for c in range(3))) for v in pixel] for row in rows]
    if nh != h:
        columns = [resample([row[x] for row in rows], nh) for x in range(3 * nw)]
        rows = [[columns[x][y] for x in range(3 * nw)] for y in range(nh)]
    return rows


class Generator:
    """A 32-bit linear congruential generator; each byte is the top 8 bits."""

    def __init__(self, seed):
        self.state = seed

    def byte(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state >> 24


def source(kind, arg, w, h):
    if kind == "line":
        values = [int(v) for v in arg.split(",")]
        assert len(values) == w * h
        return [[v] * 3 * w for v in values] if w == 1 else [[v for v in values for _ in range(3)]]
    g = Generator(int(arg))
    if kind == "rand":
        return [[g.byte() for _ in range(3 * w)] for _ in range(h)]
    table = [(g.byte(), g.byte(), g.byte()) for _ in range(256)]  # red, green, blue
    return [[v for _ in range(w) for v in reversed(table[g.byte()])] for _ in range(h)]


CASES = [
    # Lines with known results, through the width pass and through the height pass.
    ("cubic-row", "line", "0,100,200,255,10", 5, 1, 9, 1),
    ("cubic-column", "line", "0,100,200,255,10", 1, 5, 1, 9),
    ("clamp-high-row", "line", "0,0,255,255,0,0", 6, 1, 11, 1),
    ("clamp-low-column", "line", "255,255,0,0,255,255", 1, 6, 1, 11),
    ("two-to-five", "line", "10,20", 2, 1, 5, 1),
    ("one-to-four", "line", "77", 1, 1, 4, 1),
    ("area-row", "line", "0,100,200,255,10,50,60", 7, 1, 3, 1),
    ("area-column", "line", "0,100,200,255,10,50,60", 1, 7, 1, 3),
    ("four-to-one", "line", "0,100,200,255", 4, 1, 1, 1),
    # Both axes, each way.
    ("up-both", "rand", "1", 7, 5, 13, 11),
    ("down-both", "rand", "2", 13, 11, 5, 3),
    ("down-up", "rand", "3", 9, 4, 3, 10),
    ("up-down", "rand", "4", 4, 9, 10, 3),
    ("height-only", "rand", "5", 10, 10, 10, 23),
    ("width-only", "rand", "6", 23, 10, 7, 10),
    ("linear-only", "rand", "7", 3, 3, 8, 8),
    ("one-cubic-interval", "rand", "8", 4, 4, 13, 13),
    ("large-enlargement", "rand", "9", 11, 7, 200, 130),
    ("three-to-two", "rand", "10", 3, 2, 2, 1),
    ("two-to-one", "rand", "11", 2, 2, 1, 1),
    ("own-size", "rand", "12", 6, 5, 6, 5),
    # One-pixel sides.
    ("pixel-to-square", "rand", "13", 1, 1, 95, 95),
    ("column-to-block", "rand", "14", 1, 7, 5, 3),
    ("row-up", "rand", "15", 37, 1, 95, 1),
    ("to-one-row", "rand", "16", 30, 20, 95, 1),
    ("to-one-column", "rand", "17", 2, 3000, 1, 95),
    # Odd widths and spans that do not divide evenly; scales with a fraction of a half
    # or more (5 to 3, 200 to 120).
    ("odd-widths", "rand", "18", 33, 17, 95, 49),
    ("odd-narrow", "rand", "19", 101, 3, 95, 2),
    ("five-to-three", "rand", "20", 5, 5, 3, 3),
    ("two-hundred-to-120", "rand", "21", 200, 9, 120, 9),
    ("primes", "rand", "22", 97, 89, 13, 211),
    ("photo-fit", "rand", "23", 640, 480, 95, 71),
    ("portrait-fit", "rand", "24", 150, 457, 31, 95),
    ("shrink-wide", "rand", "32", 301, 7, 97, 7),
    ("shrink-tall", "rand", "33", 5, 999, 5, 101),
    ("third", "rand", "34", 1000, 3, 333, 3),
    ("shrink-both-large", "rand", "38", 700, 500, 333, 241),
    # Many enlargement positions, linear only (two or three source pixels) and cubic.
    ("linear-wide", "rand", "35", 2, 4, 301, 4),
    ("linear-long", "rand", "39", 2, 9, 1001, 9),
    ("linear-tall", "rand", "36", 3, 3, 3, 200),
    ("cubic-wide", "rand", "37", 9, 6, 257, 6),
    # Ratios past 128 and sides past 32768: the area sums outgrow 32 bits.
    ("ratio-210", "rand", "25", 20000, 2, 95, 1),
    ("long-row", "rand", "26", 40000, 1, 95, 1),
    ("long-column", "rand", "27", 1, 40000, 1, 95),
    # 8-bit pictures with a colour table are widened first.
    ("indexed-up", "idx", "28", 17, 9, 95, 50),
    ("indexed-down", "idx", "29", 9, 17, 5, 9),
    ("indexed-pixel", "idx", "30", 1, 1, 3, 2),
    ("indexed-own-size", "idx", "31", 4, 3, 4, 3),
]


def self_check():
    assert weights(Q(0)) == (0, 65536, 0, 0)
    assert weights(Q(1, 4)) == (-3583, 53760, 17920, -2559)
    assert weights(Q(1, 2)) == (-4095, 36864, 36864, -4095)
    assert resample([0, 100, 200, 255, 10], 9) == [0, 50, 100, 153, 200, 249, 255, 133, 10]
    assert resample([0, 0, 255, 255, 0, 0], 11) == [0, 0, 0, 128, 255, 255, 255, 128, 0, 0, 0]
    assert resample([255, 255, 0, 0, 255, 255], 11) == [255, 255, 255, 128, 0, 0, 0, 128, 255, 255, 255]
    assert resample([10, 20], 5) == [10, 13, 15, 18, 20]
    assert resample([0, 100, 200, 255, 10, 50, 60], 3) == [71, 169, 49]
    assert trunc(ext(ext(Q(7 * ONE) / 3) + HALF)) == 152917
    assert resample([255] * 7, 3) == [255] * 3
    assert ext(Q(1, 3)) == Q(12297829382473034411, 2 ** 65)


def main():
    self_check()
    for name, kind, arg, w, h, nw, nh in CASES:
        rows = stretch(source(kind, arg, w, h), w, h, nw, nh)
        packed = bytes(v for row in rows for v in row)
        assert len(packed) == 3 * nw * nh
        expected = "hex:" + packed.hex() if len(packed) <= 96 else "sha256:" + hashlib.sha256(packed).hexdigest()
        print(name, kind, arg, w, h, nw, nh, expected)
        sys.stdout.flush()


if __name__ == "__main__":
    main()
