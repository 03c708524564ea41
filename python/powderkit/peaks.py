"""Peak lists of measured patterns."""
import ctypes

import numpy as np

from . import _records as r
from ._library import lib
from .errors import Error, call, number
from .instrument import resolve_instrument
from .measured import MeasuredPattern

# The record of one peak: every value with its esd.
PEAK_DTYPE = r.PEAK_DTYPE


def find_peaks(measured, significance=None, *, merge_fraction=None, anode=None, wavelength=None, alpha2=True,
               failures=False):
    """The significant peaks of a measured pattern (at least 100 points).

    Each candidate maximum is fitted with a pseudo-Voigt on the local
    background and kept when its height exceeds `significance` (4.5 by
    default) times its own esd; candidates closer than `merge_fraction` (0.5)
    of a FWHM are one line. The lines are the anode's (Kα1 + Kα2, Kα1 alone
    with alpha2=False), the one wavelength (Å), or when neither is given the
    lines the measured file names (`measured.wavelengths`), else Cu Kα1 + Kα2,
    as the command takes them. With a Kα2 line every peak is fitted as a
    doublet, the Kα1 pseudo-Voigt and its Kα2 copy at the Kα2 Bragg angle,
    the source's Kα2/Kα1 ratio as high, with the same FWHM and η: a Kα2 line
    is never a peak of its own, and position, d, height and area are Kα1's.
    A line cut by either end of the data is found, or named among the
    failures ("cut by the end of the data: …").

    Returns a numpy structured array in ascending position, with the fields
    position, d (Å), height, fwhm, eta, area, each followed by its esd
    (position_esd, …). With failures=True, returns (peaks, failures), the
    second a list of (position, reason) for the candidates whose fit failed.
    """
    if not isinstance(measured, MeasuredPattern):
        raise Error(f"find_peaks takes a powderkit.MeasuredPattern, not {type(measured).__name__}")
    search = r.PeakSearch()
    lib.pk_peak_search_default(ctypes.byref(search))
    if significance is not None:
        search.significance = number(significance, "significance")
    if merge_fraction is not None:
        search.merge_fraction = number(merge_fraction, "merge_fraction")
    if anode is None and wavelength is None and measured.wavelengths:
        alpha1, alpha2_line, ratio = measured.wavelengths
        lines = (alpha1, alpha2_line, ratio) if alpha2 else (alpha1, 0.0, 0.0)
    else:
        source = resolve_instrument(None, anode, wavelength, alpha2, False)
        lines = (source.wavelength, source.wavelength2, source.ratio2)
    search.wavelength, search.wavelength2, search.ratio2 = lines
    peaks, failed = search_peaks(measured, search)
    return (peaks, failed) if failures else peaks


def search_peaks(measured, search):
    """pk_find_peaks with a filled pk_peak_search: (peaks, failures), the arrays
    grown until they fit."""
    capacity, failure_capacity = 256, 64
    while True:
        peaks = np.zeros(capacity, dtype=PEAK_DTYPE)
        failed = (r.PeakFailure * failure_capacity)()
        found, failed_count = ctypes.c_int32(), ctypes.c_int32()
        call(lib.pk_find_peaks, measured.handle, ctypes.byref(search), peaks.ctypes.data,
             capacity, ctypes.byref(found), failed, failure_capacity, ctypes.byref(failed_count))
        if found.value <= capacity and failed_count.value <= failure_capacity:
            break
        capacity = max(capacity, found.value)
        failure_capacity = max(failure_capacity, failed_count.value)
    return (peaks[:found.value].copy(),
            [(f.position, f.reason.decode("utf-8", "replace")) for f in failed[:failed_count.value]])
