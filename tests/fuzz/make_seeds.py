#!/usr/bin/env python3
"""Writes the seeds of the binary fuzz targets into corpus/<target>/ (or the folder given), in the
layout the top of each *_fuzzer.cpp describes; other files are left alone."""
import math, os, struct, sys

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
b, i32, f64 = lambda *v: bytes(v), lambda v: struct.pack("<i", v), lambda v: struct.pack("<d", v)
NAN, INF = float("nan"), float("inf")


def value(x):  # one byte for multiples of 0.05 in -5 … 4.95, else a marker and a double
    s = x * 20.0 + 100.0
    small = math.isfinite(x) and abs(s - round(s)) < 1e-9 and 0 <= round(s) < 200
    return b(int(round(s))) if small else b(255) + f64(x)


values = lambda *xs: b"".join(value(x) for x in xs)
FIELDS = dict(U=0.002, V=-0.002, W=0.005, LX=0.005, LY=0.005, asymmetry=0.0, wavelength=1.5406,
              secondaryWavelength=1.5444, secondaryIntensityRatio=2.0, tofTwoTheta=90.0, dtt1=1000.0, dtt2=0.0,
              sigma0=4.0, sigma1=20.0, sigma2=0.0, gamma0=1.0, gamma1=0.5, gamma2=0.0, alpha0=0.1, alpha1=0.05,
              beta0=0.03, beta1=0.005, zero=0.0, xMin=10.0, xMax=120.0)  # in the order the targets read them


def profile(kind, tof=False, **fields):  # time of flight with neutrons, else X-rays
    f = dict(FIELDS, **(dict(xMin=2.0, xMax=10.0) if tof else {}), **fields)
    return b(kind, 5 if tof else 0) + values(*f.values())


reflexion = lambda h, k, l, m, d, x: b(h & 255, k & 255, l & 255, m) + values(d, x) + b(0)  # m multiplicity, x position
key = lambda op, text: b(op, len(text)) + text.encode()  # an insertion (0) or lookup (4) of the key


def synthetic(count, peaks, edits=()):  # start 1 (·10), step 2 (·0.05), background 2.5 (·20) + 0.05 x
    data = b(count & 255, count >> 8) + values(1.0, 2.0, 2.5, 0.05) + values(*[v for p in peaks for v in p])
    return data + b"".join(b(i & 255, i >> 8) + value(y) for i, y in edits)


def site(axis, expressions, position=(0.1, 0.2, 0.3), hkl=(1, 2, 3), component=1, uiso=0.01):
    return (b(axis) + b"".join(e.encode() + b(0) for e in expressions) + values(*position) +
            b(*(i & 255 for i in hkl)) + b(component & 255) + value(uiso))


peaks3 = [(-3.0, 2.5, 0.5), (0.0, 1.5, 0.5), (2.5, 4.0, 0.5), (4.5, 0.0, 0.5)]
cell = values(1.5, 1.5, 1.5, 0.0, 0.0, 0.0, 1.0)  # a = b = c = 5.5 Å, right angles, scale 1
grid = values(*[0.5 * i - 4.0 for i in range(17)])
seeds = {
    "hash_table": {
        "one_slot": b(0) + key(0, "a") + key(4, "a") + key(0, "b") + key(4, "b"),
        "grow_twice": b(3) + b"".join(key(0, "k%d" % i) for i in range(9)) +
        b"".join(key(4, "k%d" % i) for i in range(10)),
        "failed_resize_then_full": b(3) + key(0, "B0") + key(0, "B1") + b(7, 1) + key(0, "B2") + b(7, 2) +
        key(0, "B3") + b(7, 1) + key(0, "B4") + key(0, "B5") + key(4, "B5") + key(4, "absent") + key(4, "B0"),
        "failed_key_copy": b(7, 7, 0) + key(0, "Zero") + key(4, "Zero") + key(0, "Zero") + key(4, "Zero"),
        "duplicates_and_empty_key": b(15) + key(0, "") * 2 + key(0, "sigma1") * 2 + key(4, "") + key(4, "sigma1") +
        b"".join(key(0, "x%d" % i) for i in range(8)) + key(4, "sigma1") + key(4, "")},
    "profile_validation": {
        "gaussian_valid": profile(0) + b(0),
        "gaussian_imaginary_between_roots": profile(0, U=0.01, V=-0.02, W=0.005) + b(0),
        "lorentzian_negative_above": profile(1, LX=0.01, LY=-0.05) + b(0),
        "pseudo_voigt_both_zero": profile(2, U=0.0, V=0.0, W=0.0, LX=0.0, LY=0.0) + b(0),
        "tof_gaussian_valid": profile(3, tof=True) + b(0),
        "tof_gaussian_failed_reflexion": profile(3, tof=True) + b(1),
        "tof_pseudo_voigt_zero_sigma": profile(4, tof=True, sigma0=0.0, sigma1=0.0) + b(0),
        "nan_widths": profile(0, U=NAN, W=INF) + b(0)},
    "profile_functions": {  # then (x, Re z, Im z) triples
        "constant_wavelength_peak": profile(2, asymmetry=0.1) + reflexion(1, 1, 0, 4, 3.2, 27.9) + value(50.0) + cell +
        values(27.9, 1.0, 0.5, 27.5, -2.0, 0.25, 28.4, 0.05, -3.0),
        "tof_peak": profile(4, tof=True) + reflexion(1, 1, 1, 8, 3.1, 3.1) + value(50.0) + cell +
        values(3.1, -4.0, 0.001, 3.095, 4.5, 4.5, 3.2, 0.0, 1.0),
        "degenerate": profile(0, U=0.0, V=0.0, W=0.0, LX=0.0, LY=0.0, wavelength=0.0) + reflexion(0, 0, 0, 0, 0, 0) +
        values(0.0, -4.0, -4.0, -4.0, -9.0, -9.0, -9.0, 0.0, 0.0, 0.0, 0.0, INF, NAN, -INF)},
    "reflexion_range": {
        "inside_sorted": b(1) + i32(5) + value(0.3) + grid, "beyond_the_end": b(1) + i32(9) + value(4.6) + grid,
        "tie_goes_low": b(1) + i32(3) + value(0.25) + grid,
        "unsorted_nan": b(0) + i32(7) + values(NAN, 3.0, -1.0, INF, 0.5)},
    "pattern_analysis": {  # mode, maxPeaks, allocation to fail
        "three_peaks_500_points": b(1, 4, 0) + synthetic(400, peaks3),
        "three_peaks_with_nan": b(1, 2, 0) + synthetic(400, peaks3, [(250, NAN), (251, INF)]),
        "failed_allocations": b(1, 1, 2) + synthetic(250, peaks3),
        "too_few_raw_points": b(0, 3, 0) + values(*[v for i in range(20) for v in (0.1 * i, 1.0)]),
        "flat_equal_x": b(1, 3, 0) + b(150, 0) + values(1.0, 0.0, 2.5, 0.0)},
    "site_axis_expression": {
        "signed_single_variables": site(0, ["+x", "-y+1/2", "+z"]),
        "unsigned_and_two_variables": site(1, ["x+1/2", "+x-y", "1/2-Y"]),
        "no_letters": site(2, ["", "+1/4", "--++"]),
        "invalid_axis": b(3) + i32(-1) + b"+x\x00-y\x00+z\x00" + values(0.25, 0.25, 0.25) + b(1, 1, 1, 7) + value(0.0)},
}
for target, files in seeds.items():
    os.makedirs(os.path.join(OUT, target), exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(OUT, target, name), "wb") as out:
            out.write(data)
