"""Indexing: the cell of an unknown phase from its peak list."""
import ctypes
import math
import sys
from collections import namedtuple

import numpy as np

from . import _records as r
from ._library import lib
from .errors import Error, call, doubles, number, vector, whole
from .instrument import Instrument, resolve_instrument
from .measured import MeasuredPattern
from .peaks import search_peaks

SYSTEMS = tuple(r.SYSTEMS)
# The library's names of the options, as index() names them in its refusals.
_ARGUMENTS = {"options.volume_min … volume_max": "volume", "options.line_count": "lines",
              "options.zero_window": "zero", "options.candidate_count": "candidates",
              "options.le_bail_count": "le_bail", "options.": ""}
_NAMES = {bit: name for name, bit in r.SYSTEMS.items()}

ExtinctionSymbol = namedtuple("ExtinctionSymbol", "symbol groups groups_cut absent_lines ambiguous_lines")
ExtinctionSymbol.__doc__ = """An extinction symbol the indexed lines allow: its symbol ("P 1 21/c 1",
"I - - -"), the space groups carrying it (a list; groups_cut when the library cut it short), the
possible lines up to the last searched line it makes absent, and the observed lines it leaves
ambiguous (indexable both by a reflexion it allows and by one it forbids)."""


class IndexCandidate:
    """One cell an indexing search found.

    rank            1 for the best, as the table prints it
    system          "cubic", "tetragonal", "hexagonal", "orthorhombic", "monoclinic", "triclinic"
    centring        "P", "A", "B", "C", "I", "F" or "R" (hexagonal axes)
    cell, cell_esd  the conventional cell (a, b, c Å; α, β, γ degrees) and its esd's
    reduced_cell    the Niggli reduced cell of the (primitive) lattice
    volume          Å³, of the conventional cell
    zero            the zero shift fitted with the cell, degrees 2θ
    M20, F_N, N     de Wolff's M20; Smith and Snyder's F_N on the first N lines, with
    mean_error      its mean |Δ2θ| (degrees) and
    possible_lines  its possible lines up to the N-th
    indexed         lines indexed, of all used
    unindexed       the 2θ (or d) of the searched lines left unindexed, an array
    supercell_of    the rank of a better candidate whose lattice this one multiplies, or None
    subcell_of      the rank of a better candidate whose lattice multiplies this one's (a
                    sub-cell, indexing the lines with a sublattice of their reflexions), or None
    extinction_symbols   ExtinctionSymbol tuples, most absences first (the five best candidates)
    le_bail_rwp     Rwp (%) of the Le Bail fit of the measured pattern, or None
    hkl             per line used (IndexResult.lines), (h, k, l) or None when unindexed
    """

    _FIELDS = ("rank", "system", "centring", "cell", "cell_esd", "reduced_cell", "volume", "zero", "M20", "F_N", "N",
               "mean_error", "possible_lines", "indexed", "unindexed", "supercell_of", "subcell_of",
               "extinction_symbols",
               "le_bail_rwp", "hkl")

    def __init__(self, **values):
        for name in self._FIELDS:
            setattr(self, name, values[name])

    def __repr__(self):
        a, b, c, alpha, beta, gamma = self.cell
        return (f"<IndexCandidate {self.rank}: {self.system} {self.centring} {a:.5f} {b:.5f} {c:.5f} "
                f"{alpha:.3f} {beta:.3f} {gamma:.3f}, V {self.volume:.2f} Å³, M20 {self.M20:.1f}>")


class IndexResult:
    """The candidates of an indexing search, best (highest M20) first: result[0],
    len(result), iteration; `lines` the positions used (2θ, or d, ascending in 2θ),
    `notes` what the search did and met (a tuple of lines), `stopped` whether the
    progress callback stopped it. Its repr is the ranked table."""

    def __init__(self, candidates, lines, notes, stopped):
        self.candidates = tuple(candidates)
        self.lines = lines
        self.notes = notes
        self.stopped = stopped

    def __getitem__(self, index):
        return self.candidates[index]

    def __len__(self):
        return len(self.candidates)

    def __iter__(self):
        return iter(self.candidates)

    def __repr__(self):
        rows = [f"{'rank':>4}  {'system':<12} {'':1} {'a':>9} {'b':>9} {'c':>9} {'alpha':>8} {'beta':>8} "
                f"{'gamma':>8} {'V':>9} {'M20':>8} {'F_N':>8} {'unind.':>6} {'Rwp':>6}  extinction"]
        for c in self.candidates:
            first = [s.symbol for s in c.extinction_symbols if s.absent_lines == c.extinction_symbols[0].absent_lines]
            rwp = "-" if c.le_bail_rwp is None else f"{c.le_bail_rwp:.2f}"
            rows.append(f"{c.rank:>4}  {c.system:<12} {c.centring:1} " + " ".join(f"{v:9.5f}" for v in c.cell[:3]) +
                        " " + " ".join(f"{v:8.3f}" for v in c.cell[3:]) +
                        f" {c.volume:9.2f} {c.M20:8.1f} {c.F_N:8.1f} {len(c.unindexed):>6} {rwp:>6}  " +
                        ("; ".join(first) or "-") +
                        ("" if c.supercell_of is None else f"  (supercell of {c.supercell_of})") +
                        ("" if c.subcell_of is None else f"  (sub-cell of {c.subcell_of})"))
        if self.stopped:
            rows.append("(stopped before the end)")
        return "\n".join(rows)


def _systems(systems):
    if systems is None:
        return 0
    names = systems.split(",") if isinstance(systems, str) else systems
    if not isinstance(names, (list, tuple, set, frozenset)):
        raise Error(f"systems must be None, a comma-separated str or a list of names, not {type(systems).__name__}")
    bits = 0
    for name in names:
        if name not in r.SYSTEMS:
            raise Error(f"systems: {name!r} is not a crystal system; name {', '.join(SYSTEMS)}")
        bits |= r.SYSTEMS[name]
    if bits == 0:
        raise Error("systems names no crystal system")
    return bits


def _options(systems, volume, max_unindexed, max_error, zero, d_max, lines, candidates, le_bail):
    options = r.IndexOptions()
    lib.pk_index_options_default(ctypes.byref(options))
    options.systems = _systems(systems)
    if volume is not None:
        if not isinstance(volume, (list, tuple)) or len(volume) != 2:
            raise Error(f"volume must be None or (min, max) in Å³, not {volume!r}")
        options.volume_min, options.volume_max = (number(v, "volume") for v in volume)
    options.max_unindexed = whole(max_unindexed, "max_unindexed")
    options.max_error = number(max_error, "max_error")
    options.zero_window = number(zero, "zero")
    options.d_max = number(d_max, "d_max")
    options.line_count = whole(lines, "lines")
    options.candidate_count = whole(candidates, "candidates")
    options.le_bail_count = whole(le_bail, "le_bail")
    return options


def _source(measured_or_peaks, wavelength, instrument):
    """The positions (None: the measured pattern's peaks), the wavelength they are at,
    the measured pattern and the instrument of its Le Bail fits."""
    given = measured_or_peaks
    if isinstance(given, MeasuredPattern):
        if given.axis != "two_theta":
            raise Error("indexing needs a pattern on a 2θ axis, not time of flight")
        if instrument is None and wavelength is None and given.wavelengths:
            alpha1, alpha2, ratio = given.wavelengths
            instrument = Instrument(wavelength=alpha1, wavelength2=alpha2, ratio2=ratio)
        else:
            instrument = resolve_instrument(instrument, None, wavelength)
        return None, instrument.wavelength, given, instrument
    if instrument is not None:
        if wavelength is not None:
            raise Error("give a wavelength or an instrument, not both")
        wavelength = resolve_instrument(instrument).wavelength
    if isinstance(given, np.ndarray) and given.dtype.names and "position" in given.dtype.names:
        positions = vector(given["position"], "peaks' positions")
        if wavelength is None and len(given):
            # The peaks' d are Kα1's: λ = 2 d sin θ.
            wavelength = 2.0 * float(given["d"][0]) * math.sin(math.radians(float(given["position"][0]) / 2))
    else:
        if isinstance(given, (str, bytes)) or not hasattr(given, "__len__"):
            raise Error(f"measured_or_peaks must be a MeasuredPattern, a peak list of find_peaks or a sequence of "
                        f"positions, not {type(given).__name__}")
        positions = vector(given, "positions")
    if wavelength is None:
        raise Error("a list of positions needs the wavelength they are at (Å; 0: the positions are d-spacings in Å)")
    return positions, number(wavelength, "wavelength"), None, None


def index(measured_or_peaks, wavelength=None, systems=None, volume=None, max_unindexed=2, max_error=0.03, zero=0.1,
          d_max=20.0, lines=20, candidates=10, le_bail=3, instrument=None, progress=None):
    """Searches the cells that index a peak list, and ranks them.

    measured_or_peaks   a MeasuredPattern (its peaks, found as find_peaks finds them, are the
                        lines, and the best `le_bail` cells are fitted to it by Le Bail), a peak
                        list of find_peaks, or a sequence of 2θ (degrees, at `wavelength` Å;
                        wavelength=0: d-spacings in Å, without zero shift); the peaks' position
                        esd's widen a line's largest error to three of them where that is more
    wavelength, instrument   the source: with a pattern, the lines its file names, else Cu
                        Kα1 + Kα2; the wavelength of a peak list comes from its d
    systems             None (cubic to monoclinic; triclinic only when named, found when two
                        of its reduced cell's three axial lines are among the lines), or names:
                        "cubic,tetragonal" or a list
    volume              None (from the lines) or (min, max) of the conventional cell, Å³
    max_unindexed       of the first `lines` lines, how many may stay unindexed
    max_error           the largest 2θ error of an indexed line, degrees
    zero                the zero shift searched and fitted, ± degrees 2θ
    d_max               lines of d above this (Å) are ignored
    candidates          the most candidates kept
    progress            True prints the stage at every tenth of the work; a callable
                        progress(fraction, stage) is called as the search goes and stops it
                        by returning True (the candidates found so far are kept)

    Returns an IndexResult: IndexCandidate objects, best first, printed as a table.
    """
    options = _options(systems, volume, max_unindexed, max_error, zero, d_max, lines, candidates, le_bail)
    if progress is not None and progress is not True and not callable(progress):
        raise Error(f"progress must be None, True or a callable, not {progress!r}")
    positions, wavelength, measured, instrument = _source(measured_or_peaks, wavelength, instrument)
    esd = None  # the positions' esd's, where a peak list has them: a line's largest error is three of them where more
    given = measured_or_peaks
    if isinstance(given, np.ndarray) and given.dtype.names and "position_esd" in given.dtype.names:
        esd = np.asarray(given["position_esd"], dtype=float)
    if positions is None:
        search = r.PeakSearch()
        lib.pk_peak_search_default(ctypes.byref(search))
        search.wavelength, search.wavelength2, search.ratio2 = (instrument.wavelength, instrument.wavelength2,
                                                                instrument.ratio2)
        peaks = search_peaks(measured, search)[0]
        positions, esd = np.ascontiguousarray(peaks["position"]), np.asarray(peaks["position_esd"], dtype=float)
    if esd is not None:
        esd = np.ascontiguousarray(np.where(np.isfinite(esd) & (esd > 0), esd, 0.0))
    failure, shown = [], [-1]

    def report(context, fraction, stage):
        try:
            if progress is True:
                tenth = int(fraction * 10)
                if tenth > shown[0]:
                    shown[0] = tenth
                    print(f"{int(fraction * 100):3d} %  {stage.decode('utf-8', 'replace')}", file=sys.stdout,
                          flush=True)
                return 0
            return 1 if progress(fraction, stage.decode("utf-8", "replace")) else 0
        except BaseException as caught:  # stop the search, raise once it has returned
            failure.append(caught)
            return 1

    callback = r.INDEX_PROGRESS(report) if progress else r.INDEX_PROGRESS()
    handle = ctypes.c_void_p()
    try:
        try:
            call(lib.pk_index, doubles(positions), doubles(esd) if esd is not None else None, len(positions), wavelength,
                 measured.handle if measured is not None else None,
                 instrument.reference if instrument is not None else None, ctypes.byref(options), callback, None,
                 ctypes.byref(handle))
        except Error as refused:
            message = refused.message
            for field, argument in _ARGUMENTS.items():
                message = message.replace(field, argument)
            raise Error(message, refused.code) from None
        if failure:
            raise failure[0]
        return _collect(handle)
    finally:
        if handle:
            lib.pk_indexing_free(handle)


def _collect(handle):
    n = lib.pk_indexing_line_count(handle)
    # The lines used, as the search took them (the pattern's peaks when it gave them).
    lines = np.zeros(n)
    used = ctypes.c_int32()
    call(lib.pk_indexing_lines, handle, doubles(lines), n, ctypes.byref(used))
    result = []
    for rank in range(lib.pk_indexing_candidate_count(handle)):
        c = r.IndexCandidate()
        call(lib.pk_indexing_candidate, handle, rank, ctypes.byref(c))
        left, left_count = np.zeros(max(n, 1)), ctypes.c_int32()
        call(lib.pk_indexing_unindexed, handle, rank, doubles(left), n, ctypes.byref(left_count))
        hkl, written = np.zeros((max(n, 1), 3), dtype=np.int32), ctypes.c_int32()
        call(lib.pk_indexing_line_indices, handle, rank, hkl.ctypes.data, n, ctypes.byref(written))
        symbols = []
        for k in range(lib.pk_indexing_extinction_count(handle, rank)):
            e = r.ExtinctionClass()
            call(lib.pk_indexing_extinction, handle, rank, k, ctypes.byref(e))
            groups = [g for g in e.groups.decode("utf-8", "replace").split(", ") if g]
            cut = bool(groups) and groups[-1] == "…"
            symbols.append(ExtinctionSymbol(e.symbol.decode("utf-8", "replace"), groups[:-1] if cut else groups,
                                            cut, e.absent_lines, e.ambiguous_lines))
        result.append(IndexCandidate(
            rank=rank + 1, system=_NAMES.get(c.system, "?"), centring=c.centring.decode("ascii"), cell=tuple(c.cell),
            cell_esd=tuple(c.cell_esd), reduced_cell=tuple(c.reduced_cell), volume=c.volume, zero=c.zero, M20=c.M20,
            F_N=c.F_N, N=c.N, mean_error=c.mean_error, possible_lines=c.possible_lines, indexed=c.indexed,
            unindexed=left[:min(left_count.value, n)].copy(),
            supercell_of=None if c.supercell_of < 0 else c.supercell_of + 1,
            subcell_of=None if c.subcell_of < 0 else c.subcell_of + 1, extinction_symbols=symbols,
            le_bail_rwp=None if math.isnan(c.le_bail_rwp) else c.le_bail_rwp,
            hkl=[tuple(int(v) for v in row) if row.any() else None for row in hkl[:min(written.value, n)]]))
    notes = tuple(lib.pk_indexing_notes(handle).decode("utf-8", "replace").splitlines())
    return IndexResult(result, lines, notes, lib.pk_indexing_stopped(handle) != 0)
