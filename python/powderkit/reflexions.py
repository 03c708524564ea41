"""Reflexion lists of one phase, and the observed lines they merge into."""
import ctypes

import numpy as np

from . import _records as r
from ._library import lib
from .errors import call, doubles, ints


class Lines:
    """Observed lines: reflexions whose d agree within 1e-5 Å are one line.

    Arrays of length n (lines, largest d first):
      d             d-spacing, Å
      x             2θ (degrees) or flight time (ms); also .two_theta on a 2θ axis
      intensity     summed |F|²·Lp·λ³/V²·multiplicity
      relative      intensity relative to the strongest line, 0 … 100
      multiplicity  summed multiplicity
      first, count  line i holds reflexions first[i] … first[i] + count[i] − 1
    members         a list of n integer arrays (count[i], 3): the h k l of each line
    """

    def __init__(self, fields, hkl):
        self.__dict__.update(fields)
        self.members = np.split(hkl, self.first[1:]) if len(self.first) else []

    @property
    def two_theta(self):
        return self.x

    def __len__(self):
        return len(self.d)

    def __repr__(self):
        return f"<{len(self)} lines, d {self.d[0]:.4f} … {self.d[-1]:.4f} Å>" if len(self) else "<no lines>"


class Reflexions:
    """The reflexions of one phase for one instrument, largest d first.

    One entry per set of equivalent planes (Friedel mates counted in the
    multiplicity). Arrays of length n:
      hkl           int array (n, 3), one representative of each set
      d             d-spacing, Å
      x             2θ (degrees, zero shift included) or flight time (ms);
                    also .two_theta on a 2θ axis
      multiplicity  int array
      F2            |F|² of one reflexion for the radiation
      Lp            Lorentz(-polarisation) factor
      intensity     |F|²·Lp·λ³/V²·multiplicity
      relative      intensity relative to the strongest, 0 … 100
    lines() merges them into observed lines; to_pandas() gives a DataFrame.
    """

    _QUANTITIES = {"d": r.QUANTITY_D, "x": r.QUANTITY_X, "F2": r.QUANTITY_F2, "Lp": r.QUANTITY_LP,
                   "intensity": r.QUANTITY_INTENSITY, "relative": r.QUANTITY_RELATIVE,
                   "multiplicity": r.QUANTITY_MULTIPLICITY}
    _LINE_QUANTITIES = ("d", "x", "intensity", "relative", "multiplicity")

    @classmethod
    def _make(cls, phase_handle, instrument, limit_kind, limit):
        handle = ctypes.c_void_p()
        record = instrument.record
        call(lib.pk_reflexion_list_make, phase_handle, ctypes.byref(record), limit_kind, limit, ctypes.byref(handle))
        try:
            return cls(handle, instrument.tof)
        finally:
            lib.pk_reflexion_list_free(handle)

    def __init__(self, handle, tof):
        n = lib.pk_reflexion_list_count(handle)
        self.tof = tof
        self.hkl = np.zeros((n, 3), dtype=np.int32)
        if n:
            call(lib.pk_reflexion_list_indices, handle, ints(self.hkl), n)
        for name, quantity in self._QUANTITIES.items():
            setattr(self, name, _values(lib.pk_reflexion_list_values, handle, quantity, n))
        self.multiplicity = self.multiplicity.astype(np.int32)
        lines = lib.pk_reflexion_list_line_count(handle)
        fields = {name: _values(lib.pk_reflexion_list_line_values, handle, self._QUANTITIES[name], lines)
                  for name in self._LINE_QUANTITIES}
        fields["multiplicity"] = fields["multiplicity"].astype(np.int32)
        fields["first"] = np.zeros(lines, dtype=np.int32)
        fields["count"] = np.zeros(lines, dtype=np.int32)
        if lines:
            call(lib.pk_reflexion_list_line_members, handle, ints(fields["first"]), ints(fields["count"]), lines)
        self._lines = Lines(fields, self.hkl)

    @property
    def two_theta(self):
        """2θ of every reflexion, degrees (a 2θ axis only)."""
        if self.tof:
            raise AttributeError("a time-of-flight list has no two_theta; its positions are .x (ms)")
        return self.x

    def lines(self):
        """The observed lines these reflexions merge into (a Lines object)."""
        return self._lines

    def __len__(self):
        return len(self.d)

    def to_pandas(self):
        """A pandas DataFrame of the list, one row per reflexion (needs pandas)."""
        try:
            import pandas
        except ImportError as missing:
            raise ImportError("Reflexions.to_pandas needs pandas (Debian: python3-pandas)") from missing
        columns = {"h": self.hkl[:, 0], "k": self.hkl[:, 1], "l": self.hkl[:, 2], "d": self.d,
                   ("tof" if self.tof else "two_theta"): self.x, "multiplicity": self.multiplicity, "F2": self.F2,
                   "Lp": self.Lp, "intensity": self.intensity, "relative": self.relative}
        return pandas.DataFrame(columns)

    def __repr__(self):
        if not len(self):
            return "<no reflexions>"
        return f"<{len(self)} reflexions, d {self.d[0]:.4f} … {self.d[-1]:.4f} Å, {len(self._lines)} lines>"


def _values(function, handle, quantity, n):
    values = np.zeros(n)
    if n:
        call(function, handle, quantity, doubles(values), n)
    return values
