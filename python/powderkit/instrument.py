"""The instrument (source and geometry), the peak profiles of a phase, and instrument files."""
import ctypes
import os
import warnings

from . import _records as r
from ._library import lib
from .errors import Error, bank_number, call, number, text


class Instrument:
    """The source and the geometry of one measurement.

    Instrument(anode="Cu")                 Cu Kα1 + Kα2 X-rays (alpha2=False: Kα1 alone)
    Instrument(wavelength=1.5406)          one X-ray line, Å
    Instrument(wavelength=1.5, neutron=True)
    Instrument(tof=True, tof_two_theta=150, dtt1=6000, neutron=True)

    Without an anode or wavelength: Cu Kα1 alone (1.540593 Å).

    Fields (all keyword arguments):
      wavelength, wavelength2   Å; the second line (Kα2) is 0 for none
      ratio2                    intensity of the second line over the first
      zero                      zero shift: degrees 2θ, or µs of flight time
      displacement              Bragg–Brentano sample displacement s, mm
      radius                    goniometer radius R, mm (240)
      tof_two_theta             2θ of a time-of-flight bank, degrees
      dtt1, dtt2                TOF (µs) = dtt1·d + dtt2·d² + zero
      difb                      µs·Å: TOF + difb / d (a refinement's parameter difB, which
                                it starts from here; a calculated pattern leaves it out)
      monochromator             2θ_M of a monochromator crystal, degrees (0: none;
                                graphite 002 for Cu Kα 26.6, Ge 111 27.3)
      dispersion                X-ray scattering factors f0 + f′ + i f″ with the
                                anomalous dispersion of each line (True, the
                                default); False: f0 alone
      absorption                μR of a Debye–Scherrer capillary, 0 (none) … 10: intensity ×
                                the cylinder's transmission at 2θ, the mean of
                                exp(−μR (path in + path out)) over its cross-section,
                                1 at μR = 0 (within 2e-7 of the exact integral)
      roughness_p, roughness_q  Suortti's surface roughness, 0 ≤ p ≤ 1, q ≥ 0 (p = 0: none):
                                intensity × [1 − p e^(−q) + p e^(−q / sin θ)]
      transparency              1/μ of a Bragg–Brentano sample, mm (0: none): 2θ moves by
                                −(1/μ) sin 2θ / (2R) · (180/π) degrees
    The last four are for a 2θ axis: a time-of-flight pattern refuses them.
    """

    _FIELDS = ("wavelength", "wavelength2", "ratio2", "zero", "displacement", "radius", "tof_two_theta", "dtt1",
               "dtt2", "monochromator", "absorption", "roughness_p", "roughness_q", "transparency")

    def __init__(self, anode=None, *, alpha2=True, neutron=False, tof=False, dispersion=True, difb=0.0, **fields):
        """An instrument from an anode name ("Cu", "Co", "Mo", "Fe", "Cr", "Ag") or
        fields; see the class's description."""
        self._difb = number(difb, "difb")
        record = r.Instrument()
        lib.pk_instrument_default(ctypes.byref(record))
        if tof:
            record.axis = r.AXIS_TOF
        if anode is not None:
            if neutron:
                raise Error(f"anode {anode!r} names an X-ray tube; neutrons take a wavelength")
            if "wavelength" in fields or "wavelength2" in fields:
                raise Error("give an anode or a wavelength, not both")
            call(lib.pk_instrument_set_anode, ctypes.byref(record), text(anode, "anode"), bool(alpha2))
        if neutron:
            record.radiation = r.RADIATION_NEUTRON
        record.dispersion = 1 if dispersion else 0
        for name, value in fields.items():
            if name not in self._FIELDS:
                raise Error(f"Instrument has no field {name!r}; the fields are {', '.join(self._FIELDS)}")
            setattr(record, name, number(value, name))
        self._record = record

    @classmethod
    def from_record(cls, record, difb=0.0):
        """An Instrument holding a copy of a pk_instrument record (and a TOF difB, µs·Å)."""
        instrument = cls.__new__(cls)
        instrument._record = r.Instrument.from_buffer_copy(record)
        instrument._difb = difb
        return instrument

    @classmethod
    def from_file(cls, path):
        """The instrument of an instrument file (see read_instrument, which also
        gives the file's profile)."""
        return read_instrument(path)[0]

    def save(self, path, profile):
        """Writes this instrument and `profile` (a Profile) as an instrument file:
        versioned JSON, written whole or not at all (see read_instrument)."""
        if not isinstance(profile, Profile):
            raise Error(f"profile must be a powderkit profile (PseudoVoigt(...)), not {type(profile).__name__}")
        path = os.fspath(path)
        call(lib.pk_instrument_file_write, os.fsencode(path), ctypes.byref(self._record), ctypes.byref(profile.record))

    @property
    def record(self):
        """A copy of the pk_instrument record."""
        return r.Instrument.from_buffer_copy(self._record)

    @property
    def reference(self):
        """A pointer to this instrument's own record, for the library's
        const pk_instrument* arguments (which never write to it)."""
        return ctypes.byref(self._record)

    @property
    def neutron(self):
        return self._record.radiation == r.RADIATION_NEUTRON

    @property
    def tof(self):
        return self._record.axis == r.AXIS_TOF

    @property
    def difb(self):
        """The TOF calibration's 1/d term, µs·Å (0 on 2θ)."""
        return self.__dict__.get("_difb", 0.0)

    @property
    def dispersion(self):
        return self._record.dispersion != 0

    def __getattr__(self, name):
        if name in Instrument._FIELDS:
            return getattr(self.__dict__["_record"], name)
        raise AttributeError(name)

    def __getstate__(self):
        state = {name: getattr(self._record, name) for name, _ in r.Instrument._fields_}
        return dict(state, difb=self.difb)

    def __setstate__(self, state):
        state = dict(state)
        self._difb = state.pop("difb", 0.0)
        self._record = r.Instrument(**state)

    def __repr__(self):
        kind = "neutron" if self.neutron else "X-ray"
        axis = "TOF" if self.tof else "2θ"
        return f"Instrument({kind}, {axis}, wavelength={self.wavelength:g} Å, wavelength2={self.wavelength2:g} Å)"


def anomalous_dispersion(element, wavelength):
    """(f′, f″), electrons: the anomalous-dispersion terms of an element ("Fe",
    "Fe3+") at an X-ray wavelength (Å), from the library's table (Henke,
    Gullikson and Davis 1993; H to U, 0.4133 to 4.1328 Å), interpolated
    linearly in energy. An anode's lines: Instrument("Co").wavelength, …2."""
    f_prime, f_double_prime = ctypes.c_double(), ctypes.c_double()
    call(lib.pk_anomalous_dispersion, text(element, "element"), number(wavelength, "wavelength"), ctypes.byref(f_prime),
         ctypes.byref(f_double_prime))
    return f_prime.value, f_double_prime.value
def read_instrument(path, bank=None):
    """(Instrument, Profile) of an instrument file, as `powderkit refine
    --save-instrument` and Instrument.save write them: JSON with "format":
    "powderkit-instrument", "version": 1, an "instrument" object (the
    pk_instrument fields; "wavelength" required) and a "profile" object ("type"
    required: "gaussian", "lorentzian", "pseudo_voigt", "tof_exp_gaussian",
    "tof_exp_pseudo_voigt"; then U V W X Y asymmetry … axial_sl axial_hl). Keys left out take the
    defaults; an unknown key, a wrong type or a value out of range raises Error
    naming the key. GSAS-family parameter files are read too (.prm/.inst INS
    records, .instprm key:value lines), `bank` picking one by its number (None:
    the first); what they hold that the library does not use is issued as a
    Python warning (warnings.warn), one per line."""
    path = os.fspath(path)
    instrument, profile = r.Instrument(), r.Profile()
    size = ctypes.c_int32()
    said = ctypes.create_string_buffer(4096)
    call(lib.pk_instrument_file_read_bank, os.fsencode(path), bank_number(bank), ctypes.byref(instrument),
         ctypes.byref(profile), said, len(said), ctypes.byref(size), path=path)
    if size.value > len(said):
        said = ctypes.create_string_buffer(size.value)
        call(lib.pk_instrument_file_read_bank, os.fsencode(path), bank_number(bank), ctypes.byref(instrument),
             ctypes.byref(profile), said, len(said), None, path=path)
    for line in said.value.decode("utf-8", "replace").splitlines():
        warnings.warn(line, stacklevel=2)
    difb = ctypes.c_double()
    call(lib.pk_instrument_file_difb, os.fsencode(path), bank_number(bank), ctypes.byref(difb), path=path)
    return Instrument.from_record(instrument, difb.value), Profile.from_record(profile)


# Instruments made from keyword arguments, by those arguments: an Instrument
# is never changed once made, so one serves every call that names it.
_MADE = {}


def resolve_instrument(instrument=None, anode=None, wavelength=None, alpha2=True, neutron=False, dispersion=True):
    """The Instrument that the keyword arguments of pattern(), reflexions() and
    Refinement() describe."""
    if instrument is None:
        key = (anode, wavelength, bool(alpha2), bool(neutron), bool(dispersion))
        try:
            made = _MADE.get(key)
        except TypeError:  # an unhashable argument: let the checks below name it
            return _make_instrument(*key)
        if made is None:
            made = _make_instrument(*key)
            if len(_MADE) < 64:
                _MADE[key] = made
        return made
    if anode is not None or wavelength is not None or neutron:
        raise Error("give an instrument, or anode/wavelength/neutron, not both")
    if not dispersion:
        raise Error("with an instrument, turn dispersion off on it: Instrument(..., dispersion=False)")
    if not isinstance(instrument, Instrument):
        raise Error(f"instrument must be a powderkit.Instrument, not {type(instrument).__name__}")
    return instrument


def _make_instrument(anode, wavelength, alpha2, neutron, dispersion):
    if wavelength is not None:
        if anode is not None:
            raise Error("give an anode or a wavelength, not both")
        return Instrument(wavelength=wavelength, neutron=neutron, dispersion=dispersion)
    if anode is None and not neutron:
        # No source named: the library's default source (Cu Kα1 + Kα2), the one the command takes.
        record = r.Instrument()
        lib.pk_instrument_default_source(ctypes.byref(record))
        if not alpha2:
            record.wavelength2 = record.ratio2 = 0.0
        record.dispersion = 1 if dispersion else 0
        return Instrument.from_record(record)
    return Instrument(anode, alpha2=alpha2, neutron=neutron, dispersion=dispersion)


class Profile:
    """The peak shape of a phase: a type and its width parameters.

    Made through PseudoVoigt(), Gaussian(), Lorentzian(), TofExpGaussian() or
    TofExpPseudoVoigt(), each starting from the library's typical values:
      U, V, W          Gaussian H_G² = U tan²θ + V tanθ + W, degrees²
      X, Y             Lorentzian H_L = X / cosθ + Y tanθ, degrees
      asymmetry        asymmetry P of the constant-wavelength shapes
      asymmetry_cutoff 2θ (degrees) above which peaks are symmetric
      sigma0..2        TOF σ² = σ0 + σ1 d² + σ2 d⁴, µs²
      gamma0..2        TOF γ = γ0 + γ1 d + γ2 d², µs
      alpha0, alpha1   TOF α = α0 + α1/d, 1/µs
      beta0, beta1     TOF β = β0 + β1/d⁴, 1/µs
      axial_sl         axial divergence (2θ): sample half-height over the radius, 0 … 0.1
      axial_hl         and detector half-height over the radius; either above 0
                       convolves each peak with the Finger–Cox–Jephcoat function in
                       place of the asymmetry P, which then defaults to 0
    """

    _TYPE = r.PROFILE_PSEUDO_VOIGT

    def __init__(self, **fields):
        """The library's typical values of this type, changed where `fields` say."""
        record = r.Profile()
        call(lib.pk_profile_default, ctypes.byref(record), self._TYPE)
        for name, value in fields.items():
            if name not in r.PROFILE_FIELDS:
                raise Error(f"{type(self).__name__} has no field {name!r}; the fields are "
                            f"{', '.join(r.PROFILE_FIELDS)}")
            setattr(record, name, number(value, name))
        if record.axial_sl + record.axial_hl > 0 and "asymmetry" not in fields:
            record.asymmetry = 0.0  # the axial divergence describes the asymmetry instead
        self._record = record

    @classmethod
    def from_record(cls, record):
        """The Profile of its type (PseudoVoigt, Gaussian, …) holding a copy of a pk_profile record."""
        kind = next((k for k in _PROFILE_TYPES if k._TYPE == record.type), None)
        if kind is None:
            raise Error(f"unknown profile type {record.type}")
        profile = kind.__new__(kind)
        profile._record = r.Profile.from_buffer_copy(record)
        return profile

    @property
    def record(self):
        """The pk_profile record (shared; the library copies it)."""
        return self._record

    def __getattr__(self, name):
        if name in r.PROFILE_FIELDS:
            return getattr(self.__dict__["_record"], name)
        raise AttributeError(name)

    def __getstate__(self):
        return {name: getattr(self._record, name) for name in r.PROFILE_FIELDS}

    def __setstate__(self, state):
        self.__init__(**state)

    def __repr__(self):
        shown = ", ".join(f"{name}={getattr(self._record, name):g}" for name in r.PROFILE_FIELDS[:7])
        return f"{type(self).__name__}({shown})"


class PseudoVoigt(Profile):
    """Thompson–Cox–Hastings pseudo-Voigt (2θ): Gaussian U V W, Lorentzian X Y."""
    _TYPE = r.PROFILE_PSEUDO_VOIGT


class Gaussian(Profile):
    """Gaussian (2θ), Caglioti width U V W."""
    _TYPE = r.PROFILE_GAUSSIAN


class Lorentzian(Profile):
    """Lorentzian (2θ), width X / cosθ + Y tanθ."""
    _TYPE = r.PROFILE_LORENTZIAN


class TofExpGaussian(Profile):
    """Time of flight: back-to-back exponentials convoluted with a Gaussian."""
    _TYPE = r.PROFILE_TOF_EXP_GAUSSIAN


class TofExpPseudoVoigt(Profile):
    """Time of flight: back-to-back exponentials convoluted with a pseudo-Voigt."""
    _TYPE = r.PROFILE_TOF_EXP_PSEUDO_VOIGT


_PROFILE_TYPES = (PseudoVoigt, Gaussian, Lorentzian, TofExpGaussian, TofExpPseudoVoigt)
