#!/usr/bin/env python3
"""Writes tests/data/e1_plane.tsv: f(z) = e^z E1(z) at 40 significant digits (mpmath, Debian's
python3-mpmath), printed to 20, over the plane the time-of-flight shapes reach and beyond.

The table is made once and kept; the tests read it and never call mpmath. Points: moduli from 1e-3
to 400 (40, evenly spaced in log r), angles 0 to 180 degrees in the upper half plane (25, every 7.5
degrees; 180 is the negative real axis, which takes the upper side, Im E1 = -pi), and the
horizontal lines Im z = 0.05, 0.1, 0.3, 1 for Re z from -60 to 60 (61 each, every 2), where
p = -alpha*delta + i*alpha*gamma/2 of the shapes runs. Columns: Re z, Im z, Re f, Im f.

usage: /usr/bin/python3 scripts/make_e1_table.py [OUTPUT]
"""
import math
import sys

import mpmath

mpmath.mp.dps = 40


def row(x, y):
    z = mpmath.mpc(x, y)
    f = mpmath.exp(z) * mpmath.e1(z)
    return "%.17g\t%.17g\t%s\t%s\n" % (x, y, mpmath.nstr(f.real, 20), mpmath.nstr(f.imag, 20))


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else "tests/data/e1_plane.tsv"
    with open(output, "w") as table:
        table.write("# f(z) = exp(z) E1(z), mpmath at 40 digits (scripts/make_e1_table.py): Re z, Im z, Re f, Im f\n")
        for i in range(40):
            r = 10 ** (-3 + (math.log10(400) + 3) * i / 39)
            for j in range(25):
                theta = math.pi * j / 24
                table.write(row(r * math.cos(theta), 0.0 if j == 24 else r * math.sin(theta)))
        for y in (0.05, 0.1, 0.3, 1.0):
            for k in range(61):
                table.write(row(-60 + 2 * k, y))


if __name__ == "__main__":
    main()
