"""Measured patterns: x, y and σ of every point, from a file or from arrays."""
import ctypes
import os

import numpy as np

from ._library import Owner, lib
from . import _records as r
from .errors import bank_number, call, count, doubles, vector


class MeasuredPattern(Owner):
    """A measured pattern: x ascending (2θ in degrees, or the axis unit), the
    counts y and their σ, as read-only float64 arrays, and `wavelengths`: the
    X-ray lines the file named, (Kα1 Å, Kα2 Å, Kα2/Kα1 ratio; 0 for what it did
    not name), or None when it named none; `axis`: "two_theta" (x in degrees)
    or "tof" (x in milliseconds of flight time); `warnings`: what the reader
    ignored or left out, a tuple of lines (empty when nothing).

    MeasuredPattern(x, y, sigma=None, name="pattern")   σ = √y (1 at zero counts) when None
    read_pattern(path, bank=None)                       text columns, XRDML, GSAS raw, Bruker RAW

    It pickles to its arrays, so it crosses process boundaries.
    """

    _FREE = "pk_measured_pattern_free"

    def __init__(self, x, y, sigma=None, name="pattern"):
        """A pattern from arrays: x strictly ascending, y ≥ 0, σ > 0 (all finite);
        the library names the first bad point."""
        x = vector(x, "x")
        y = vector(y, "y", len(x))
        sigma = None if sigma is None else vector(sigma, "sigma", len(x))
        handle = ctypes.c_void_p()
        call(lib.pk_measured_pattern_make, doubles(x), doubles(y), None if sigma is None else doubles(sigma),
             count(len(x), "x"), ctypes.byref(handle))
        self._adopt(handle, name)

    @classmethod
    def _read(cls, path, bank=None):
        path = os.fspath(path)
        handle = ctypes.c_void_p()
        call(lib.pk_measured_pattern_read_file_bank, os.fsencode(path), bank_number(bank), ctypes.byref(handle),
             path=path)
        pattern = cls.__new__(cls)
        pattern._adopt(handle, os.path.basename(path))
        return pattern

    def _adopt(self, handle, name):
        self._handle = handle
        self.name = name
        n = lib.pk_measured_pattern_count(handle)
        # Copies, so that an array outlives the pattern safely.
        self.x, self.y, self.sigma = (np.ctypeslib.as_array(f(handle), (n,)).copy() for f in (
            lib.pk_measured_pattern_x, lib.pk_measured_pattern_y, lib.pk_measured_pattern_sigma))
        for array in (self.x, self.y, self.sigma):
            array.flags.writeable = False
        lines = [ctypes.c_double() for _ in range(3)]
        call(lib.pk_measured_pattern_wavelengths, handle, *(ctypes.byref(line) for line in lines))
        self.wavelengths = tuple(line.value for line in lines) if lines[0].value > 0 else None
        self.axis = "tof" if lib.pk_measured_pattern_axis(handle) == r.AXIS_TOF else "two_theta"
        self.warnings = tuple(lib.pk_measured_pattern_warnings(handle).decode("utf-8", "replace").splitlines())

    @property
    def handle(self):
        """The library's pk_measured_pattern* (borrowed)."""
        return self._handle

    def __len__(self):
        return len(self.x)

    def __reduce__(self):
        return (_rebuild, (np.array(self.x), np.array(self.y), np.array(self.sigma), self.name, self.wavelengths,
                           self.axis, self.warnings))

    def __repr__(self):
        return f"<MeasuredPattern {self.name!r}: {len(self)} points, x {self.x[0]:g} … {self.x[-1]:g}>"


def _rebuild(x, y, sigma, name, wavelengths=None, axis="two_theta", warnings=()):
    pattern = MeasuredPattern(x, y, sigma, name)
    pattern.wavelengths, pattern.axis, pattern.warnings = wavelengths, axis, warnings
    return pattern


def read_pattern(path, bank=None):
    """Reads a measured pattern, its format recognised by content whatever the
    extension: an XRDML scan (its wavelengths in `.wavelengths`), GSAS raw data
    (constant wavelength: CONST with STD, ESD or FXYE; time of flight: SLOG, or
    RALF with ALT, x then in milliseconds), a Bruker RAW version 1 file, or two-
    or three-column text (x y, or x y σ; blanks or commas; '#' and '!'
    comments; one header line). Where σ is absent it is √y (1 for zero counts).
    `bank` picks a GSAS bank or Bruker RAW range by its number (None: the
    first); what the reader ignored is in `.warnings`."""
    return MeasuredPattern._read(path, bank)
