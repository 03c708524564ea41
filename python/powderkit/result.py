"""The outcome of a refinement run: parameters with esd's, statistics, curves, a plot."""
import ctypes
import html
import math
import os
from typing import NamedTuple

import numpy as np

from . import _records as r
from ._library import lib
from .errors import Error, call, doubles, positions, text
from .instrument import Instrument


class Parameter(NamedTuple):
    """One refined or fixed parameter.

    value and esd are in the units of the record field (Å, degrees, Å², …);
    esd is NaN when the parameter was not refined or cannot be determined.
    state is "fixed", "free", "tied", "at limit" or "fixed: undetermined" (chosen free, but
    the data cannot determine it: fixed where it stood).
    """
    name: str
    value: float
    esd: float
    state: str
    lower: float
    upper: float


class PhaseResult(NamedTuple):
    """One phase after a run: cell (Å, degrees) with esd's, R-Bragg (percent), the
    Rietveld weight fraction (0 … 1; NaN in Le Bail), and, when the refinement
    knows the instrument's profile (Refinement(instrument_file=...)), the
    crystallite size (nm, Scherrer K = 0.9, from the Lorentzian X / cos θ beyond
    the instrument's) and microstrain (percent, from the tan θ widths beyond the
    instrument's) with esd's; NaN where they cannot be given (the warnings say why)."""
    name: str
    cell: tuple
    cell_esd: tuple
    r_bragg: float
    weight_fraction: float
    size_nm: float = math.nan
    size_esd: float = math.nan
    strain_percent: float = math.nan
    strain_esd: float = math.nan


def _phase_result(record):
    return PhaseResult(record.name.decode("utf-8"), tuple(record.cell), tuple(record.cell_esd), record.r_bragg,
                       record.weight_fraction, record.size_nm, record.size_esd, record.strain_percent,
                       record.strain_esd)


class HistogramResult:
    """One measured pattern of a result (a joint refinement's "histogram").

    name            its name ("" for the one pattern of a refinement of one)
    first_point, point_count   where its points sit in the result's curves
    axis            "two_theta" or "tof"; instrument: its Instrument as refined
    Rp, Rwp, Rexp, chi2, reduced_chi2, GoF, points, free_count   its own figures (the
                    free parameters shared out by its share of the weighted points)
    x, observed, calculated, background, difference, phase_curves   its slices of the
                    result's curves; ticks: dict phase → its peak positions here
    phases          dict phase → PhaseResult as this pattern sees it: its cell here (the
                    shared cell plus this pattern's offsets), R-Bragg, weight fraction,
                    size and strain here
    """

    def __init__(self, record, result, ticks, phases):
        self.name = record.name.decode("utf-8")
        self.first_point, self.point_count = record.first_point, record.point_count
        self.instrument = Instrument.from_record(record.instrument)
        self.axis = "tof" if record.instrument.axis == r.AXIS_TOF else "two_theta"
        for name in ("points", "free_count", "Rp", "Rwp", "Rexp", "chi2", "reduced_chi2", "GoF"):
            setattr(self, name, getattr(record.summary, name))
        span = slice(self.first_point, self.first_point + self.point_count)
        for name in ("x", "observed", "calculated", "background", "difference"):
            setattr(self, name, getattr(result, name)[span])
        self.phase_curves = {name: curve[span] for name, curve in result.phase_curves.items()}
        self.ticks = ticks
        self.phases = phases

    def __repr__(self):
        return (f"<HistogramResult {self.name!r}: {self.point_count} points, Rwp {self.Rwp:.3f} %, "
                f"reduced χ² {self.reduced_chi2:.3f}>")


class Histograms(list):
    """The HistogramResult of every pattern, in order; also looked up by name."""

    @property
    def names(self):
        return [h.name for h in self]

    def __getitem__(self, key):
        if isinstance(key, str):
            for histogram in self:
                if histogram.name == key:
                    return histogram
            raise Error(f"no pattern of this result is named {key!r}; they are {', '.join(map(repr, self.names))}")
        return list.__getitem__(self, key)

    def __contains__(self, key):
        return key in self.names if isinstance(key, str) else list.__contains__(self, key)


def read_parameters(handle):
    """Every parameter of a refinement, by name, in the library's order."""
    out = {}
    for index in range(lib.pk_refinement_parameter_count(handle)):
        record = r.Parameter()
        call(lib.pk_refinement_parameter, handle, index, ctypes.byref(record))
        name = record.name.decode("utf-8")
        out[name] = Parameter(name, record.value, record.esd, lib.pk_parameter_state_name(record.state).decode("utf-8"), record.lower, record.upper)
    return out


def _cif(handle, index):
    """One phase's refined structure as CIF text."""
    size = ctypes.c_int32()
    lib.pk_refinement_phase_cif(handle, index, None, 0, ctypes.byref(size), None)
    text = ctypes.create_string_buffer(max(size.value, 1))
    call(lib.pk_refinement_phase_cif, handle, index, text, len(text), ctypes.byref(size))
    return text.value.decode("utf-8")


def _report(handle, title, compact):
    size = ctypes.c_int32()
    name = None if title is None else text(title, "title")
    call(lib.pk_refinement_report, handle, name, int(compact), None, 0, ctypes.byref(size))
    page = ctypes.create_string_buffer(size.value)
    call(lib.pk_refinement_report, handle, name, int(compact), page, size.value, ctypes.byref(size))
    return page.value.decode("utf-8")


class Result:
    """What a refinement run found.

    parameters      dict name → Parameter(value, esd, state, lower, upper)
    Rp, Rwp, Rexp   percent;  chi2 = Σ w (y_obs − y_calc)²;  reduced_chi2 = χ² / (N − P)
    GoF             the goodness of fit S = Rwp / Rexp = √reduced_chi2 (near 1: a fit to
                    the counting noise)
    converged       True when χ² and every shift fell below their tolerances
    stop            "converged", "cycle limit", "stopped by callback", "singular",
                    "diverged" or "nothing free"; stop_reason says it in words
    warnings        list of texts: parameters at a limit, undetermined ones (fixed where
                    they stood: state "fixed: undetermined"), pairs correlated beyond 0.99
    notes           list of texts: what the run did on its own (starting values taken
                    from the measured peaks, stages that ended before converging)
    verdict         list of reasons to doubt the fit (empty: none found): a reduced χ²
                    above 10, peaks no phase explains ("a phase may be missing"), widths,
                    Uiso or occupancies at a limit, undetermined parameters;
                    doubtful is True when there is any
    cycles, points, free_count
    correlations    (P, P) correlation matrix of the refined parameters, named
                    in order by correlated_names
    phases          dict name → PhaseResult(cell, cell_esd, r_bragg, weight_fraction,
                    size_nm, size_esd, strain_percent, strain_esd)
    x, observed, calculated, background, difference   the curves over the range; of a
                    joint refinement, every pattern's points one after another
    histograms      a list of HistogramResult, one per pattern, also looked up by name
                    (result.histograms["xray"]): its figures and its slices of the
                    curves; one named "" for a refinement of one pattern
    phase_curves    dict name → that phase's share of the calculated curve
    ticks           dict name → the phase's Kα1 peak positions inside the range (of a
                    joint refinement, in the first pattern)
    cif             dict name → the phase's refined structure as CIF text, refined
                    values with their esd's in parentheses (Phase.from_cif_text
                    reads it back)
    plot()          observed, calculated and difference with tick marks (a panel per
                    pattern of a joint refinement)
    save_report(path, title=None)   the run as one web page (zoomable curves, reflexion
                    ticks, the tables; self-contained, opens in any browser); a
                    notebook shows a compact one
    """

    def __init__(self, handle, refinement=None):
        # The refinement and its run count: the full report is made from it while no later run has replaced this one.
        self._source = (refinement, getattr(refinement, "_runs", 0))
        self._compact = _report(handle, None, True)
        summary = r.RefinementSummary()
        call(lib.pk_refinement_get_summary, handle, ctypes.byref(summary))
        for name, _ in r.RefinementSummary._fields_:
            setattr(self, name, getattr(summary, name))
        self.converged = bool(summary.converged)
        self.stop = r.STOPS[summary.stop]
        self.stop_reason = lib.pk_refinement_stop_reason(handle).decode("utf-8")
        self.warnings = lib.pk_refinement_warnings(handle).decode("utf-8").splitlines()
        self.notes = lib.pk_refinement_notes(handle).decode("utf-8").splitlines()
        self.verdict = lib.pk_refinement_verdict(handle).decode("utf-8").splitlines()
        self.doubtful = bool(summary.doubtful)
        self.parameters = read_parameters(handle)
        self._read_correlations(handle, summary.free_count)
        self._read_phases(handle)
        self._read_curves(handle)
        self._read_histograms(handle)

    def _read_correlations(self, handle, free_count):
        matrix = np.zeros(max(free_count, 1) ** 2)
        size = ctypes.c_int32()
        call(lib.pk_refinement_correlations, handle, doubles(matrix), len(matrix), ctypes.byref(size))
        self.correlations = matrix[:size.value ** 2].reshape(size.value, size.value)
        refined = ("free", "at limit")
        self.correlated_names = [p.name for p in self.parameters.values() if p.state in refined]

    def _read_phases(self, handle):
        self.phases, self.ticks, self.cif = {}, {}, {}
        for index in range(lib.pk_refinement_phase_count(handle)):
            record = r.RefinementPhase()
            call(lib.pk_refinement_phase_result, handle, index, ctypes.byref(record))
            name = record.name.decode("utf-8")
            self.phases[name] = _phase_result(record)
            self.ticks[name] = positions(lib.pk_refinement_peak_positions, handle, index)
            self.cif[name] = _cif(handle, index)

    def _read_curves(self, handle):
        n = lib.pk_refinement_point_count(handle)

        def curve(kind, phase=0):
            values = np.zeros(n)
            if n:
                call(lib.pk_refinement_curve, handle, kind, phase, doubles(values), n)
            return values

        self.x = curve(r.CURVE_X)
        self.observed = curve(r.CURVE_OBSERVED)
        self.calculated = curve(r.CURVE_CALCULATED)
        self.background = curve(r.CURVE_BACKGROUND)
        self.difference = curve(r.CURVE_DIFFERENCE)
        self.phase_curves = {name: curve(r.CURVE_PHASE, index) for index, name in enumerate(self.phases)}

    def _read_histograms(self, handle):
        self.histograms = Histograms()
        count = lib.pk_refinement_histogram_count(handle)
        for index in range(count):
            record = r.RefinementHistogramResult()
            call(lib.pk_refinement_get_histogram, handle, index, ctypes.byref(record))
            phases = {}
            for phase, name in enumerate(self.phases):
                seen = r.RefinementPhase()
                call(lib.pk_refinement_histogram_phase_result, handle, index, phase, ctypes.byref(seen))
                phases[name] = _phase_result(seen)
            ticks = self.ticks
            if count > 1:
                def histogram_positions(h, phase, *rest, index=index):
                    return lib.pk_refinement_histogram_peak_positions(h, index, phase, *rest)
                ticks = {name: positions(histogram_positions, handle, phase) for phase, name in enumerate(self.phases)}
            self.histograms.append(HistogramResult(record, self, ticks, phases))

    def save_report(self, path, title=None):
        """Writes the run as one self-contained web page (powderkit refine --output writes the same
        report.html); `title` heads it. Needs the Refinement not to have run again since."""
        refinement, runs = self._source
        if refinement is None or refinement._handle is None or getattr(refinement, "_runs", 0) != runs:
            raise Error("the refinement has run again since this result (or is gone): save the report of its "
                        "latest result")
        page = _report(refinement._handle, title, False)
        temporary = os.fspath(path) + ".partial"
        with open(temporary, "w", encoding="utf-8") as file:
            file.write(page)
        os.replace(temporary, path)

    def _repr_html_(self):
        quoted = html.escape(self._compact, quote=True)
        return f'<iframe srcdoc="{quoted}" style="width:100%;height:720px;border:0"></iframe>'

    def __getstate__(self):
        state = dict(self.__dict__)
        state["_source"] = (None, 0)
        return state

    def __getitem__(self, name):
        """The Parameter of that name."""
        return self.parameters[name]

    def plot(self, ax=None, title=None):
        """Observed (points), calculated and background, the difference below, and
        one row of tick marks per phase; returns the matplotlib Axes. A joint
        result draws one panel per pattern (ax: as many Axes) and returns them."""
        from .plot import plot_result
        return plot_result(self, ax, title)

    def __repr__(self):
        return (f"<Result {self.stop} after {self.cycles} cycles: Rwp {self.Rwp:.3f} %, reduced χ² {self.reduced_chi2:.3f}, GoF {self.GoF:.3f}, "
                f"{self.free_count} parameters refined>")
