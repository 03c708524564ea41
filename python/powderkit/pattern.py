"""Calculated patterns of one or more phases in one call."""
import ctypes

import numpy as np

from . import _records as r
from ._library import Owner, lib
from .errors import Error, call, count, doubles, number, output, positions, vector
from .instrument import Profile, resolve_instrument
from .phase import Phase


def _per_phase(value, n, what, sequences=(list, tuple)):
    """One value for every phase, or a sequence of n."""
    if isinstance(value, sequences):
        if len(value) != n:
            raise Error(f"{what} gives {len(value)} values for {n} phases")
        return list(value)
    return [value] * n


def phase_settings(phases, scale=None, profile=None, march=None):
    """The pk_phase_setting array of a list of phases, and the objects it borrows.

    scale    one factor, or one per phase (1 by default)
    profile  one Profile, or one per phase (None: the library's default)
    march    (r, (h, k, l)), or a list with one per phase (None: no preferred orientation)
    """
    if isinstance(phases, Phase):
        phases = [phases]
    phases = list(phases)
    if not phases:
        raise Error("no phases given")
    for phase in phases:
        if not isinstance(phase, Phase):
            raise Error(f"phases must be powderkit.Phase objects, not {type(phase).__name__}")
    n = len(phases)
    scales = _per_phase(1.0 if scale is None else scale, n, "scale")
    profiles = _per_phase(profile, n, "profile")
    marches = _per_phase(march, n, "march", sequences=list)
    settings = (r.PhaseSetting * n)()
    for setting, phase, factor, shape, orientation in zip(settings, phases, scales, profiles, marches):
        setting.phase = phase.handle
        setting.scale = number(factor, "scale")
        if shape is not None:
            if not isinstance(shape, Profile):
                raise Error(f"profile must be a powderkit profile (PseudoVoigt(...)), not {type(shape).__name__}")
            setting.profile = ctypes.pointer(shape.record)
        setting.march_ratio = 1.0
        if orientation is not None:
            ratio, axis = orientation
            setting.use_march = 1
            setting.march_ratio = number(ratio, "march ratio")
            setting.march_axis[:] = vector(axis, "march axis", 3)
    return settings, (phases, profiles)


def pattern(phases, x, *, anode=None, wavelength=None, alpha2=True, neutron=False, dispersion=True, instrument=None,
            scale=None, profile=None, march=None, background=None, out=None):
    """The calculated pattern of `phases` at the positions x (ascending).

    x            2θ in degrees (or flight time in ms on a TOF instrument)
    source       anode="Cu" (Kα1 + Kα2; alpha2=False for Kα1 alone),
                 wavelength=… (Å), neutron=True, or instrument=Instrument(…);
                 Cu Kα1 + Kα2 when none is given, as the command takes it
                 (alpha2=False: Kα1 alone); dispersion=False: X-ray scattering
                 factors without anomalous dispersion
    scale        one factor, or one per phase (1)
    profile      a Profile (PseudoVoigt(U=…, …)) or one per phase (the library's
                 default pseudo-Voigt)
    march        March preferred orientation (r, (h, k, l)), or a list with one per phase
    background   Chebyshev coefficients over the span of x (none)
    out          a float64 array of len(x) to write into

    Returns the intensities, a float64 array of len(x).
    """
    instrument = resolve_instrument(instrument, anode, wavelength, alpha2, neutron, dispersion)
    settings, keep = phase_settings(phases, scale, profile, march)
    x = vector(x, "x")
    y = output(out, len(x), "out")
    if out is not None and np.may_share_memory(x, y):
        x = x.copy()  # the library reads x while it writes y
    if background is None:
        coefficients, terms = None, 0
    else:
        coefficients = vector(background, "background")
        terms = len(coefficients)
    call(lib.pk_pattern, instrument.reference, settings, len(settings),
         None if coefficients is None else doubles(coefficients), terms, doubles(x), count(len(x), "x"), doubles(y))
    del keep
    return y


class PatternModel(Owner):
    """A calculated pattern made once for a span of the axis and then computed at
    any points, as often as needed: the reflexions, intensities and peak terms
    are worked out when it is made, so each call only sums the peaks.

    PatternModel(phases, x_min, x_max, anode=…, scale=…, profile=…, march=…, background=…)
      the arguments as for pattern(); x_min … x_max the span (degrees 2θ, or ms),
      over which the Chebyshev background is defined
    model(x, part=None, out=None)
      the pattern at x (ascending, within or beyond the span): every phase plus
      the background (part None), the background alone (part "background"), or
      one phase (its index or name)
    model.ticks(phase)
      the Kα1 peak positions of one phase inside the span, ascending

    A model is read-only once made: threads may compute from one model at once.
    """

    _FREE = "pk_pattern_model_free"

    def __init__(self, phases, x_min, x_max, *, anode=None, wavelength=None, alpha2=True, neutron=False,
                 dispersion=True, instrument=None, scale=None, profile=None, march=None, background=None):
        instrument = resolve_instrument(instrument, anode, wavelength, alpha2, neutron, dispersion)
        settings, keep = phase_settings(phases, scale, profile, march)
        coefficients = vector([] if background is None else background, "background")
        handle = ctypes.c_void_p()
        call(lib.pk_pattern_model_make, instrument.reference, settings, len(settings),
             doubles(coefficients) if len(coefficients) else None, len(coefficients), float(x_min), float(x_max),
             ctypes.byref(handle))
        self._handle = handle
        self._phases = keep[0]  # the library borrows them: they live as long as the model
        self._names = [phase.name for phase in self._phases]

    def _part(self, part):
        if part is None:
            return -1
        if part == "background":
            return -2
        if isinstance(part, str):
            if part not in self._names:
                raise Error(f"{part!r} names no phase of the model; its phases are {', '.join(self._names)}")
            return self._names.index(part)
        return int(part)

    def __call__(self, x, part=None, out=None):
        x = vector(x, "x")
        y = output(out, len(x), "out")
        if out is not None and np.may_share_memory(x, y):
            x = x.copy()
        call(lib.pk_pattern_model_compute, self._handle, self._part(part), doubles(x), count(len(x), "x"),
             doubles(y))
        return y

    def ticks(self, phase=0):
        """The Kα1 peak positions of one phase (index or name) inside the span."""
        index = self._part(phase)
        if index < 0:
            raise Error("ticks belong to a phase: give its index or name")
        return positions(lib.pk_pattern_model_peak_positions, self._handle, index)
