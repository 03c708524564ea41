#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/).

Each seed is a small, meaningful input in the layout its target reads (see the
comment at the top of each *_fuzzer.cpp): bytes, little-endian 32-bit integers
and raw little-endian doubles. Run from anywhere; it rewrites the seeds it
knows and leaves other files alone.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def b(*values):
    return bytes(values)


def i32(value):
    return struct.pack("<i", value)


def f64(value):
    return struct.pack("<d", value)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


# --- hash table --------------------------------------------------------------
def key(text):
    raw = text.encode()
    return b(len(raw)) + raw


def insert(text):
    return b(0) + key(text)


def lookup(text):
    return b(4) + key(text)


def fail_next(n):
    return b(7, n - 1)


def hash_table_seeds():
    write("hash_table", "one_slot", b(0) + insert("a") + lookup("a") + insert("b") + lookup("b"))
    write("hash_table", "grow_twice",
          b(3) + b"".join(insert("k%d" % i) for i in range(9)) +
          b"".join(lookup("k%d" % i) for i in range(10)))
    write("hash_table", "failed_resize_then_full",
          b(3) + insert("B0") + insert("B1") + fail_next(2) + insert("B2") +
          fail_next(3) + insert("B3") + fail_next(2) + insert("B4") + insert("B5") +
          lookup("B5") + lookup("absent") + lookup("B0"))
    write("hash_table", "failed_key_copy",
          b(7) + fail_next(1) + insert("Zero") + lookup("Zero") + insert("Zero") + lookup("Zero"))
    write("hash_table", "duplicates_and_empty_key",
          b(15) + insert("") + insert("") + insert("sigma1") + insert("sigma1") +
          lookup("") + lookup("sigma1") + b"".join(insert("x%d" % i) for i in range(8)) +
          lookup("sigma1") + lookup(""))


# --- records (fuzz_records.hpp) -----------------------------------------------
def value(x):
    """One byte for multiples of 0.05 in -5 … 4.95, else a marker and a double."""
    scaled = x * 20.0 + 100.0
    if math.isfinite(x) and abs(scaled - round(scaled)) < 1e-9 and 0 <= round(scaled) < 200:
        return b(int(round(scaled)))
    return b(255) + f64(x)


PROFILE_FIELDS = ["U", "V", "W", "LX", "LY", "asymmetry", "wavelength",
                  "secondaryWavelength", "secondaryIntensityRatio", "tofTwoTheta",
                  "dtt1", "dtt2", "sigma0", "sigma1", "sigma2", "gamma0", "gamma1",
                  "gamma2", "alpha0", "alpha1", "beta0", "beta1", "zero", "xMin", "xMax"]


def profile(profile_type, tof=False, neutrons=False, **fields):
    defaults = dict(U=0.002, V=-0.002, W=0.005, LX=0.005, LY=0.005, asymmetry=0.0,
                    wavelength=1.5406, secondaryWavelength=1.5444,
                    secondaryIntensityRatio=2.0, tofTwoTheta=90.0, dtt1=1000.0, dtt2=0.0,
                    sigma0=4.0, sigma1=20.0, sigma2=0.0, gamma0=1.0, gamma1=0.5, gamma2=0.0,
                    alpha0=0.1, alpha1=0.05, beta0=0.03, beta1=0.005, zero=0.0,
                    xMin=10.0, xMax=120.0)
    if tof:
        defaults.update(xMin=2.0, xMax=10.0)
    defaults.update(fields)
    codes = (1 if tof else 0) | (4 if neutrons else 0)
    return b(profile_type, codes) + b"".join(value(defaults[name]) for name in PROFILE_FIELDS)


def reflexion(h, k, l, multiplicity, d, position):
    return b(h & 255, k & 255, l & 255, multiplicity) + value(d) + value(position) + b(0)


def profile_validation_seeds():
    write("profile_validation", "gaussian_valid", profile(0) + b(0))
    write("profile_validation", "gaussian_imaginary_between_roots",
          profile(0, U=0.01, V=-0.02, W=0.005) + b(0))
    write("profile_validation", "lorentzian_negative_above", profile(1, LX=0.01, LY=-0.05) + b(0))
    write("profile_validation", "pseudo_voigt_both_zero",
          profile(2, U=0.0, V=0.0, W=0.0, LX=0.0, LY=0.0) + b(0))
    write("profile_validation", "tof_gaussian_valid", profile(3, tof=True, neutrons=True) + b(0))
    write("profile_validation", "tof_gaussian_failed_reflexion",
          profile(3, tof=True, neutrons=True) + b(1))
    write("profile_validation", "tof_pseudo_voigt_zero_sigma",
          profile(4, tof=True, neutrons=True, sigma0=0.0, sigma1=0.0) + b(0))
    write("profile_validation", "nan_widths",
          profile(0, U=float("nan"), W=float("inf")) + b(0))


# a = b = c = 4 + 1.5 Å, right angles, scale 1.
CELL = value(1.5) * 3 + value(0.0) * 3 + value(1.0)


def profile_functions_seeds():
    def points(*triples):
        return b"".join(value(x) + value(re) + value(im) for x, re, im in triples)
    write("profile_functions", "constant_wavelength_peak",
          profile(2, asymmetry=0.1) + reflexion(1, 1, 0, 4, 3.2, 27.9) + value(50.0) + CELL +
          points((27.9, 1.0, 0.5), (27.5, -2.0, 0.25), (28.4, 0.05, -3.0)))
    write("profile_functions", "tof_peak",
          profile(4, tof=True, neutrons=True) + reflexion(1, 1, 1, 8, 3.1, 3.1) + value(50.0) + CELL +
          points((3.1, -4.0, 0.001), (3.095, 4.5, 4.5), (3.2, 0.0, 1.0)))
    write("profile_functions", "degenerate",
          profile(0, U=0.0, V=0.0, W=0.0, LX=0.0, LY=0.0, wavelength=0.0) +
          reflexion(0, 0, 0, 0, 0.0, 0.0) + value(0.0) + value(-4.0) * 3 + value(-9.0) * 3 + value(0.0) +
          points((0.0, 0.0, 0.0), (float("inf"), float("nan"), float("-inf"))))


def reflexion_range_seeds():
    grid = b"".join(value(0.5 * i - 4.0) for i in range(17))
    write("reflexion_range", "inside_sorted", b(1) + i32(5) + value(0.3) + grid)
    write("reflexion_range", "beyond_the_end", b(1) + i32(9) + value(4.6) + grid)
    write("reflexion_range", "tie_goes_low", b(1) + i32(3) + value(0.25) + grid)
    write("reflexion_range", "unsorted_nan", b(0) + i32(7) + value(float("nan")) +
          value(3.0) + value(-1.0) + value(float("inf")) + value(0.5))


def pattern_analysis_seeds():
    def synthetic(count, start, step, a, bb, peaks, edits=()):
        data = b(count & 255, count >> 8) + value(start) + value(step) + value(a) + value(bb)
        for centre, height, width in peaks:
            data += value(centre) + value(height) + value(width)
        for index, y in edits:
            data += b(index & 255, index >> 8) + value(y)
        return data
    # count = 100 + raw % 1900; start·10, step·0.05, a·20, b, centre fraction, height·200, width·3·step
    three_peaks = [(-3.0, 2.5, 0.5), (0.0, 1.5, 0.5), (2.5, 4.0, 0.5), (4.5, 0.0, 0.5)]
    write("pattern_analysis", "three_peaks_500_points",
          b(1, 4, 0) + synthetic(400, 1.0, 2.0, 2.5, 0.05, three_peaks))
    write("pattern_analysis", "three_peaks_with_nan",
          b(1, 2, 0) + synthetic(400, 1.0, 2.0, 2.5, 0.05, three_peaks,
                                 [(250, float("nan")), (251, float("inf"))]))
    write("pattern_analysis", "failed_allocations",
          b(1, 1, 2) + synthetic(250, 1.0, 2.0, 2.5, 0.05, three_peaks))
    write("pattern_analysis", "too_few_raw_points",
          b(0, 3, 0) + b"".join(value(0.1 * i) + value(1.0) for i in range(20)))
    write("pattern_analysis", "flat_equal_x",
          b(1, 3, 0) + synthetic(150, 1.0, 0.0, 2.5, 0.0, []))


def site_axis_expression_seeds():
    def seed(axis, expressions, position=(0.1, 0.2, 0.3), hkl=(1, 2, 3), component=1, uiso=0.01):
        data = b(axis)
        for e in expressions:
            data += e.encode() + b(0)
        data += b"".join(value(v) for v in position)
        data += b(*(i & 255 for i in hkl)) + b(component & 255) + value(uiso)
        return data
    write("site_axis_expression", "signed_single_variables", seed(0, ["+x", "-y+1/2", "+z"]))
    write("site_axis_expression", "unsigned_and_two_variables", seed(1, ["x+1/2", "+x-y", "1/2-Y"]))
    write("site_axis_expression", "no_letters", seed(2, ["", "+1/4", "--++"]))
    write("site_axis_expression", "invalid_axis",
          b(3) + i32(-1) + b"+x\x00-y\x00+z\x00" + value(0.25) * 3 + b(1, 1, 1, 7) + value(0.0))


if __name__ == "__main__":
    hash_table_seeds()
    profile_validation_seeds()
    profile_functions_seeds()
    reflexion_range_seeds()
    pattern_analysis_seeds()
    site_axis_expression_seeds()
