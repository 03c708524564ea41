"""Phases: one crystal (cell, symmetry, sites) from a CIF file or from code."""
import ctypes
import os
import warnings

import numpy as np

from . import _records as r
from ._library import Owner, lib
from .errors import Error, call, doubles, ints, number, text, vector
from .instrument import resolve_instrument
from .reflexions import Reflexions


class Site:
    """One site of the asymmetric unit.

    Site(label, type, xyz, occupancy=1.0, uiso=0.0, u_aniso=None)
      label      unique within the phase, "Al1"
      type       element or ion symbol, "Al", "O2-", "Fe3+"
      xyz        fractional coordinates (x, y, z)
      occupancy  0 … 1
      uiso       isotropic displacement U, Å²
      u_aniso    (U11, U22, U33, U12, U13, U23), Å², or None for isotropic
    """

    def __init__(self, label, type, xyz, occupancy=1.0, uiso=0.0, u_aniso=None):
        """One site: label, element or ion, fractional xyz, occupancy, U (Å²)."""
        self.label = label
        self.type = type
        self.xyz = tuple(number(v, "xyz") for v in xyz)
        if len(self.xyz) != 3:
            raise Error(f"site {label}: xyz must hold 3 coordinates; it holds {len(self.xyz)}")
        self.occupancy = number(occupancy, "occupancy")
        self.uiso = number(uiso, "uiso")
        self.u_aniso = None if u_aniso is None else tuple(number(v, "u_aniso") for v in u_aniso)
        if self.u_aniso is not None and len(self.u_aniso) != 6:
            raise Error(f"site {label}: u_aniso must hold 6 values; it holds {len(self.u_aniso)}")

    def _record(self, keep):
        label = text(self.label, "site label")
        kind = text(self.type, "site type")
        keep += [label, kind]
        record = r.Site(label, kind, *self.xyz, self.occupancy, self.uiso, self.u_aniso is not None)
        if self.u_aniso is not None:
            record.u_aniso[:] = self.u_aniso
        return record

    def __eq__(self, other):
        return isinstance(other, Site) and vars(self) == vars(other)

    def __repr__(self):
        extra = f", u_aniso={self.u_aniso}" if self.u_aniso is not None else f", uiso={self.uiso:g}"
        return f"Site({self.label!r}, {self.type!r}, {self.xyz}, occupancy={self.occupancy:g}{extra})"


class Phase(Owner):
    """One crystal: cell, space-group operators and sites.

    Phase.from_cif(path, block=None)       the named data block, or the first
    Phase.from_cif_text(text, block=None)
    Phase(symbol="R -3 c:H", cell=(a, b, c, alpha, beta, gamma), sites=[Site(...), ...], name="corundum")
    Phase(operators=["x,y,z", "-x,-y,-z"], cell=..., sites=..., name=...)

    Lengths in Å, angles in degrees. A phase is read-only once made: threads may
    compute from one phase at once. It pickles to its description (the CIF
    text, or symbol, cell and sites), so it crosses process boundaries.
    """

    _FREE = "pk_phase_free"

    def __init__(self, symbol=None, cell=None, sites=(), *, name="phase", operators=None):
        """A phase from a space-group symbol (Hermann–Mauguin with an optional
        setting such as ":H", or a Hall symbol) or from explicit operators
        ("x,y,z", "-y,x-y,z+1/3", … identity included), a cell (a, b, c in Å;
        α, β, γ in degrees) and a list of Site objects."""
        if (symbol is None) == (operators is None):
            raise Error("give a space-group symbol or a list of operators (one of them)")
        cell = vector(cell if cell is not None else [], "cell", 6)
        sites = list(sites)
        keep = []
        records = (r.Site * max(len(sites), 1))(*[site._record(keep) for site in sites])
        handle = ctypes.c_void_p()
        if symbol is not None:
            call(lib.pk_phase_from_symbol, text(name, "name"), text(symbol, "symbol"), doubles(cell), records,
                 len(sites), ctypes.byref(handle))
            self._setup = ("symbol", name, symbol, tuple(cell), tuple(sites))
        else:
            encoded = [text(o, "operator") for o in operators]
            array = (ctypes.c_char_p * max(len(encoded), 1))(*encoded)
            call(lib.pk_phase_from_operators, text(name, "name"), array, len(encoded), doubles(cell), records,
                 len(sites), ctypes.byref(handle))
            self._setup = ("operators", name, tuple(operators), tuple(cell), tuple(sites))
        self._handle = handle
        self._warn()

    @classmethod
    def from_cif(cls, path, block=None):
        """The phase in a CIF file: the data block `block`, or the first."""
        path = os.fspath(path)
        handle = ctypes.c_void_p()
        call(lib.pk_phase_from_cif_file, os.fsencode(path), _block(block), ctypes.byref(handle), path=path)
        phase = cls._adopt(handle, None)
        with open(path, "rb") as file:
            phase._setup = ("cif", file.read(), block)
        phase._warn(path + ": ")
        return phase

    @classmethod
    def from_cif_text(cls, cif, block=None):
        """The phase in CIF text (str or bytes): the data block `block`, or the first."""
        data = cif.encode("utf-8") if isinstance(cif, str) else bytes(cif)
        if b"\0" in data:
            raise Error("the CIF text contains a NUL character")
        handle = ctypes.c_void_p()
        call(lib.pk_phase_from_cif_text, data, _block(block), ctypes.byref(handle))
        phase = cls._adopt(handle, ("cif", data, block))
        phase._warn()
        return phase

    def _warn(self, where=""):
        for line in self.warnings:
            warnings.warn(where + line, stacklevel=3)

    @classmethod
    def _adopt(cls, handle, setup):
        phase = cls.__new__(cls)
        phase._handle = handle
        phase._setup = setup
        return phase

    def __reduce__(self):
        return (_rebuild, (self._setup,))

    @property
    def handle(self):
        """The library's pk_phase* (borrowed: lives as long as this object)."""
        return self._handle

    @property
    def name(self):
        """The phase's name: its data block, or the name given."""
        return lib.pk_phase_name(self._handle).decode("utf-8")

    @property
    def symbol(self):
        """The space-group symbol as read or given ("" when only operators were)."""
        return lib.pk_phase_symbol(self._handle).decode("utf-8")

    @property
    def warnings(self):
        """What the description left open and how it was read (a symbol with two origin choices that names
        neither is read as origin choice 1), one text each; also issued as Python warnings when made."""
        return tuple(lib.pk_phase_warnings(self._handle).decode("utf-8").splitlines())

    @property
    def cell(self):
        """(a, b, c, α, β, γ): Å and degrees."""
        values = np.empty(6)
        lib.pk_phase_cell(self._handle, doubles(values), None)
        return tuple(values.tolist())

    @property
    def volume(self):
        """The cell volume, Å³."""
        values = np.empty(6)
        volume = ctypes.c_double()
        lib.pk_phase_cell(self._handle, doubles(values), ctypes.byref(volume))
        return volume.value

    @property
    def sites(self):
        """The sites of the asymmetric unit, as Site objects."""
        out = []
        for index in range(lib.pk_phase_site_count(self._handle)):
            record = r.Site()
            call(lib.pk_phase_site, self._handle, index, ctypes.byref(record))
            u_aniso = tuple(record.u_aniso) if record.has_u_aniso else None
            out.append(Site(record.label.decode("utf-8"), record.type.decode("utf-8"),
                            (record.x, record.y, record.z), record.occupancy, record.u_iso, u_aniso))
        return out

    @property
    def operators(self):
        """The symmetry operators as (R, t): x' = R·x + t, R a 3×3 int array."""
        out = []
        for index in range(lib.pk_phase_operator_count(self._handle)):
            rotation = np.empty(9, dtype=np.int32)
            translation = np.empty(3)
            call(lib.pk_phase_operator, self._handle, index,
                 ints(rotation), doubles(translation))
            out.append((rotation.reshape(3, 3), translation))
        return out

    def reflexions(self, d_min=None, two_theta_max=None, *, tof_max=None, anode=None, wavelength=None,
                   alpha2=True, neutron=False, dispersion=True, instrument=None):
        """The reflexions of this phase, largest d first (one per set of equivalent planes).

        Cut at d_min (Å), or at two_theta_max (degrees) or tof_max (ms) on the
        instrument's axis; with no cut, every reflexion the axis can show
        (2θ up to 179.9°). The source: anode="Cu", wavelength=… (Å),
        neutron=True, or instrument=Instrument(…); Cu Kα1 when none is given;
        dispersion=False leaves anomalous dispersion out of the X-ray |F|².
        """
        instrument = resolve_instrument(instrument, anode, wavelength, alpha2, neutron, dispersion)
        limits = [(kind, value) for kind, value in ((r.LIMIT_D_MIN, d_min), (r.LIMIT_X_MAX, two_theta_max),
                                                    (r.LIMIT_X_MAX, tof_max)) if value is not None]
        if len(limits) > 1:
            raise Error("give one of d_min, two_theta_max and tof_max")
        if not limits:
            if instrument.tof:
                raise Error("a time-of-flight list needs d_min or tof_max")
            limits = [(r.LIMIT_X_MAX, 180.0)]
        if two_theta_max is not None and instrument.tof:
            raise Error("two_theta_max on a time-of-flight axis; give tof_max (ms)")
        if tof_max is not None and not instrument.tof:
            raise Error("tof_max on a 2θ axis; give two_theta_max (degrees)")
        kind, value = limits[0]
        return Reflexions._make(self._handle, instrument, kind, float(value))

    def __repr__(self):
        a, b, c, alpha, beta, gamma = self.cell
        return (f"Phase({self.name!r}, {self.symbol!r}, cell=({a:g}, {b:g}, {c:g}, {alpha:g}, {beta:g}, {gamma:g}), "
                f"{lib.pk_phase_site_count(self._handle)} sites)")


def _block(block):
    return None if block is None else text(block, "block")


def _rebuild(setup):
    kind = setup[0]
    if kind == "cif":
        return Phase.from_cif_text(setup[1], setup[2])
    name, description, cell, sites = setup[1:]
    if kind == "symbol":
        return Phase(description, cell, sites, name=name)
    return Phase(operators=list(description), cell=cell, sites=sites, name=name)
