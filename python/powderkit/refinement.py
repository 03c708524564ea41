"""Rietveld and Le Bail refinements of one measured pattern, or of several at once, by one or more phases."""
import ctypes
import math
import os
import sys

from . import _records as r
from ._library import Owner, lib
from .errors import Error, call, number, text, whole
from .instrument import Instrument, Profile, read_instrument, resolve_instrument
from .measured import MeasuredPattern
from .pattern import phase_settings
from .result import Result, read_parameters

# Every group word but the background: free() fixes these before it frees what it names.
_GROUPS_BUT_BACKGROUND = ("scale,cell,xyz,uiso,occ,profile,asymmetry,march,zero,displacement,absorption,roughness,"
                          "transparency,calibration,strain")
# The source and range of one pattern: a joint refinement takes them per pattern (instruments=, ranges=).
_ONE_PATTERN_ONLY = ("anode", "wavelength", "neutron", "instrument", "instrument_file", "instrument_profile", "bank",
                     "range")
_JOINT_ONLY = ("instruments", "histograms", "weights", "ranges")
_TOF_PROFILES = (r.PROFILE_TOF_EXP_GAUSSIAN, r.PROFILE_TOF_EXP_PSEUDO_VOIGT)


class Refinement(Owner):
    """A refinement of a measured pattern, or of several at once (a joint refinement), by one or more phases.

    Refinement(measured, [phase, ...], anode="Cu", background=6)
    Refinement([xray, neutron], [phase, ...], instruments=[Instrument("Cu"), "d1b.json"],
               histograms=["xray", "neutron"])

    measured     a MeasuredPattern (read_pattern(path), or MeasuredPattern(x, y, sigma))
    phases       Phase objects; their names (data blocks) prefix their parameters,
                 or `names` renames them
    source       anode=, wavelength=, alpha2=, neutron=, dispersion= or instrument=, as for pattern();
                 when none is given, the lines the measured file names (an XRDML scan's
                 `wavelengths`; Kα2 too unless alpha2=False), else Cu Kα1 + Kα2 as the
                 command takes it, the Kα2 line kept only where the measured peaks show it
    scale, profile, march    the starting values, as for pattern()
    background   the number of Chebyshev coefficients (0 … 13); they start at zero
    le_bail      True: intensities extracted from the pattern instead of computed
    range        (x_min, x_max) refined, the whole pattern by default
    exclude      (x_from, x_to) regions left out, a list
    cycles       the cycle limit (60); chi2_tolerance, shift_tolerance the tests of
                 convergence (χ² change 1e-5, every shift below 0.05 esd)
    instrument_file   an instrument file (read_instrument; save_instrument writes one
                 after refining a standard): its instrument is the source, its profile
                 every phase's starting profile (unless profile= is given) and the
                 instrument's profile; `bank` picks its bank (None: the first)
    instrument_profile   the instrument's own Profile: with it each phase's result
                 gives crystallite size and microstrain from the broadening beyond it
    stages       True (default): the free parameters released in stages (scale and
                 background; + zero, displacement, cells; + profile; + coordinates;
                 + Uiso, occupancies …); False: all at once
    start_from_data   True (default): free widths, zero and cells start from the
                 measured peaks; cell_window (fraction, 0.01) and zero_window (degrees,
                 0.1) bound how far the cells and zero may move so (0: not at all)
    threads      threads each cycle's derivatives are shared among (1 … 64; default 1);
                 the results are the same to the last bit whatever the count

    Parameters are named "<phase>.scale", "<phase>.a" … "<phase>.gamma",
    "<phase>.<site>.x|y|z|uiso|occ", "<phase>.U" … "<phase>.Y", "<phase>.asymmetry",
    "<phase>.SL", "<phase>.HL" (axial divergence, 0 … 0.1), "<phase>.march", "zero", "displacement", "background.0" …; group words
    (scale, cell, xyz, uiso, occ, profile, asymmetry, march, zero, displacement,
    background) name several, alone or after a phase name ("SiC.xyz"); asymmetry
    frees SL and HL of a profile with an axial divergence, P otherwise.
    Until free() names what to refine, a run frees what the command frees when
    --free is not given: scale, background, zero, cell and profile (Le Bail: without
    scale), released in stages.

    Joint refinement: `measured` a list of MeasuredPattern (each a "histogram"), fitted
    together against one structure; χ² is the sum of theirs.
    instruments  one per pattern: an Instrument, an instrument file (read_instrument;
                 its profile is every phase's starting profile in that pattern, unless
                 profile= gives one that suits its axis, and on a 2θ axis the
                 instrument's own profile, from which size and strain there are worked
                 out: Result.histograms[...].phases) or a (file, bank) pair
    histograms   their names ("pattern1", "pattern2", … by default)
    weights      one factor per pattern multiplying its points' 1/σ² (None: 1 each)
    ranges       one (x_min, x_max) or None (the whole pattern) per pattern
    exclude      (histogram, x_from, x_to) triples, the histogram by name or index
    The structure (cells, coordinates, Uiso, occupancies) is shared and named as for
    one pattern ("rutile.O1.x"); what belongs to one pattern is prefixed with its name:
    "xray.rutile.scale", "xray.rutile.U", "neutron.zero", "bank90.difC",
    "xray.background.2", and "hot.rutile.strain.D11" … (offsets of the cell in each
    pattern after the first, group word "strain"). Group words free every pattern's
    parameters ("zero", "profile") or one's when qualified ("xray.zero",
    "xray.rutile.profile"). anode, wavelength, neutron, instrument, instrument_file,
    instrument_profile, bank and range describe one pattern and are refused.

    It pickles to its description (pattern, phases, settings, the calls made
    on it and the current values), so it crosses process boundaries.
    """

    _FREE = "pk_refinement_free"

    def __init__(self, measured, phases, *, anode=None, wavelength=None, alpha2=True, neutron=False,
                 dispersion=True, instrument=None, scale=None, profile=None, march=None, names=None, background=6,
                 le_bail=False, range=None, exclude=(), cycles=60, chi2_tolerance=None, shift_tolerance=None,
                 instrument_file=None, instrument_profile=None, bank=None, stages=True, start_from_data=True,
                 cell_window=None, zero_window=None, threads=1, instruments=None, histograms=None, weights=None,
                 ranges=None):
        """Makes the refinement; see the class's description of every argument."""
        given = locals()
        common = dict(phases=list(phases) if isinstance(phases, (list, tuple)) else [phases], scale=scale,
                      profile=profile, march=march, names=names, background=whole(background, "background"),
                      le_bail=bool(le_bail), cycles=whole(cycles, "cycles"), chi2_tolerance=chi2_tolerance,
                      shift_tolerance=shift_tolerance, stages=bool(stages), start_from_data=bool(start_from_data),
                      cell_window=cell_window, zero_window=zero_window, threads=threads)
        self._handle = None
        if isinstance(measured, (list, tuple)):
            refused = [name for name in _ONE_PATTERN_ONLY if given[name] is not None and given[name] is not False]
            refused += [name for name in ("alpha2", "dispersion") if not given[name]]
            if refused:
                raise Error(f"{'=, '.join(refused)}= {'is' if len(refused) == 1 else 'are'} for one pattern; a joint "
                            f"refinement takes each pattern's source through instruments= (Instrument(..., alpha2=..., "
                            f"dispersion=...), or an instrument file) and its range through ranges=")
            self._setup = dict(common, range=None, instrument_profile=None,
                               histograms=_histograms(measured, instruments, histograms, weights, ranges))
            self._measured = _checked(self._setup, measured)
            self._operations = []
            for triple in exclude:
                if not isinstance(triple, (list, tuple)) or len(triple) != 3:
                    raise Error(f"exclude of a joint refinement takes (histogram, x_from, x_to) triples, "
                                f"not {triple!r}")
                self._operations.append(("exclude_histogram", (self._histogram_index(triple[0]),
                                                               number(triple[1], "exclude"),
                                                               number(triple[2], "exclude"))))
            self._build()
            return
        if not isinstance(measured, MeasuredPattern):
            raise Error(f"the measured pattern must be a powderkit.MeasuredPattern (or a list of them for a joint "
                        f"refinement), not {type(measured).__name__}")
        joint_only = [name for name in _JOINT_ONLY if given[name] is not None]
        if joint_only:
            raise Error(f"{'=, '.join(joint_only)}= {'is' if len(joint_only) == 1 else 'are'} for a joint refinement: "
                        f"give a list of measured patterns")
        if instrument_file is not None:
            if instrument is not None or anode is not None or wavelength is not None or neutron:
                raise Error("give an instrument_file, or instrument/anode/wavelength/neutron, not both")
            instrument, from_file = read_instrument(os.fspath(instrument_file), bank)
            profile = from_file if profile is None else profile
            instrument_profile = from_file if instrument_profile is None else instrument_profile
        # Nothing names the lines: the default source's Kα2 stays only where the measured peaks show it.
        alpha2_from_data = (instrument is None and anode is None and wavelength is None and not neutron
                            and not measured.wavelengths and bool(alpha2))
        if instrument is None and anode is None and wavelength is None and not neutron and measured.wavelengths:
            alpha1, alpha2_line, ratio = measured.wavelengths
            lines = dict(wavelength2=alpha2_line, ratio2=ratio) if alpha2 and alpha2_line > 0 and ratio > 0 else {}
            instrument = Instrument(wavelength=alpha1, dispersion=dispersion, **lines)
            dispersion = True  # now the instrument's own
        if instrument_profile is not None and not isinstance(instrument_profile, Profile):
            raise Error(f"instrument_profile must be a powderkit profile, not {type(instrument_profile).__name__}")
        source = resolve_instrument(instrument, anode, wavelength, alpha2, neutron, dispersion)
        self._setup = dict(common, profile=profile, instrument=source, instrument_profile=instrument_profile,
                           range=range, alpha2_from_data=alpha2_from_data)
        self._measured = measured
        self._operations = [("exclude", (number(a, "exclude"), number(b, "exclude"))) for a, b in exclude]
        self._build()

    # --- making the library's refinement -------------------------------------------------------------

    def _options(self):
        s = self._setup
        options = r.RefinementOptions()
        lib.pk_refinement_options_default(ctypes.byref(options))
        options.mode = r.REFINE_LE_BAIL if s["le_bail"] else r.REFINE_RIETVELD
        options.background_count = s["background"]
        if s["range"] is not None:
            options.x_min, options.x_max = (number(v, "range") for v in s["range"])
        options.max_cycles = s["cycles"]
        if s["chi2_tolerance"] is not None:
            options.chi2_tolerance = number(s["chi2_tolerance"], "chi2_tolerance")
        if s["shift_tolerance"] is not None:
            options.shift_tolerance = number(s["shift_tolerance"], "shift_tolerance")
        options.stages = 1 if s.get("stages", True) else 0
        options.start_from_data = 1 if s.get("start_from_data", True) else 0
        if s.get("cell_window") is not None:
            options.cell_window = number(s["cell_window"], "cell_window")
        if s.get("zero_window") is not None:
            options.zero_window = number(s["zero_window"], "zero_window")
        options.alpha2_from_data = 1 if s.get("alpha2_from_data", False) else 0
        threads = s.get("threads", 1)
        if isinstance(threads, bool) or not isinstance(threads, int) or not 1 <= threads <= 64:
            raise Error(f"threads must be a whole number from 1 to 64, not {threads!r}")
        options.threads = threads
        return options

    def _build(self, values=None):
        """Makes the library's refinement from the description, replays every call
        made on this object, then sets `values` (name → value) where they differ."""
        s = self._setup
        settings, keep = phase_settings(s["phases"], s["scale"], s["profile"], s["march"])
        names = None
        if s["names"] is not None:
            if len(s["names"]) != len(settings):
                raise Error(f"names gives {len(s['names'])} names for {len(settings)} phases")
            encoded = [None if n is None else text(n, "phase name") for n in s["names"]]
            names = (ctypes.c_char_p * len(encoded))(*encoded)
        handle = ctypes.c_void_p()
        options = self._options()
        if self.joint:
            histograms, borrowed = self._histogram_records(settings)
            call(lib.pk_refinement_make_joint, histograms, len(histograms), settings, len(settings), names,
                 ctypes.byref(options), ctypes.byref(handle))
            del borrowed
        else:
            call(lib.pk_refinement_make, self._measured.handle, ctypes.byref(s["instrument"].record), settings,
                 len(settings), names, ctypes.byref(options), ctypes.byref(handle))
        self._release()
        self._handle, self._keep = handle, keep
        if s.get("instrument_profile") is not None and not s["instrument"].tof:  # size and strain are 2θ's
            call(lib.pk_refinement_set_instrument_profile, handle, ctypes.byref(s["instrument_profile"].record))
        for index, histogram in enumerate(s.get("histograms") or ()):
            # An instrument file's profile is the instrument's own there: size and strain beyond it (2θ).
            if histogram["profile"] is not None and histogram["instrument"].record.axis != r.AXIS_TOF:
                call(lib.pk_refinement_histogram_set_instrument_profile, handle, index,
                     ctypes.byref(histogram["profile"].record))
        # A TOF calibration's difB, which the instrument record does not hold: the refinement's value.
        instruments = [h["instrument"] for h in s.get("histograms") or ()] or [s.get("instrument")]
        for index, instrument in enumerate(instruments):
            if instrument is not None and instrument.tof and instrument.difb != 0.0:
                name = f"{s['histograms'][index]['name']}.difB" if self.joint else "difB"
                call(lib.pk_refinement_set_value, handle, name.encode(), instrument.difb)
        if not any(operation == "free" for operation, _ in self._operations):
            # Nothing named: the list the command frees too (the library's, one rule for both).
            call(lib.pk_refinement_set_free, handle, lib.pk_refinement_default_free(options.mode), True)
        if s["background"] > 0:
            call(lib.pk_refinement_set_free, handle, b"background", True)
        for operation, arguments in self._operations:
            self._apply(operation, arguments)
        if values:
            self._set_values(values)

    def _histogram_records(self, settings):
        """The pk_refinement_histogram array of a joint refinement, and what it borrows."""
        histograms = self._setup["histograms"]
        records, borrowed = (r.RefinementHistogram * len(histograms))(), []
        for record, histogram, measured in zip(records, histograms, self._measured):
            instrument = histogram["instrument"].record
            record.name = text(histogram["name"], "histogram name")
            record.measured = measured.handle
            record.instrument = ctypes.pointer(instrument)
            record.weight = histogram["weight"]
            record.x_min, record.x_max = histogram["range"] or (0.0, 0.0)
            borrowed.append(instrument)
            if histogram["profile"] is not None:
                # The file's profile, where profile= gives none that suits this pattern's axis.
                profiles = (r.Profile * len(settings))()
                tof = instrument.axis == r.AXIS_TOF
                for index, setting in enumerate(settings):
                    own = setting.profile.contents if setting.profile else None
                    suits = own is not None and (own.type in _TOF_PROFILES) == tof
                    profiles[index] = own if suits else histogram["profile"].record
                record.profiles = ctypes.cast(profiles, ctypes.POINTER(r.Profile))
                borrowed.append(profiles)
        return records, borrowed

    def _apply(self, operation, arguments):
        h = self._handle
        if operation == "free":
            names = text(",".join(arguments), "names")
            call(lib.pk_refinement_set_free, h, names, True)  # refuses an unknown name before anything changes
            call(lib.pk_refinement_set_free, h, _GROUPS_BUT_BACKGROUND.encode(), False)
            call(lib.pk_refinement_set_free, h, names, True)
        elif operation == "fix":
            call(lib.pk_refinement_set_free, h, text(",".join(arguments), "names"), False)
        elif operation == "set":
            call(lib.pk_refinement_set_value, h, text(arguments[0], "name"), arguments[1])
        elif operation == "limits":
            call(lib.pk_refinement_set_limits, h, text(arguments[0], "name"), arguments[1], arguments[2])
        elif operation == "tie":
            call(lib.pk_refinement_tie, h, text(arguments[0], "leader"), text(arguments[1], "follower"))
        elif operation == "exclude":
            call(lib.pk_refinement_exclude, h, arguments[0], arguments[1])
        elif operation == "exclude_histogram":
            call(lib.pk_refinement_histogram_exclude, h, *arguments)

    def _record(self, operation, *arguments):
        self._apply(operation, arguments)
        self._operations.append((operation, arguments))
        return self

    def _set_values(self, values):
        current = read_parameters(self._handle)
        for name, value in values.items():
            parameter = current.get(name)
            if parameter is not None and parameter.state != "tied" and parameter.value != value:
                call(lib.pk_refinement_set_value, self._handle, text(name, "name"), float(value))

    # --- what a user calls ----------------------------------------------------------------------------

    def free(self, *names):
        """Makes exactly these parameters or groups free ("scale", "cell", "SiC.xyz",
        "SiC.Si1.uiso", …), fixing every other; the background keeps its state
        (free unless fix("background"))."""
        return self._record("free", *names)

    def fix(self, *names):
        """Fixes these parameters or groups."""
        return self._record("fix", *names)

    def set(self, name, value):
        """Sets one parameter's value (its followers follow)."""
        return self._record("set", name, number(value, name))

    def limits(self, name, lower=-math.inf, upper=math.inf):
        """Keeps one parameter within [lower, upper]."""
        return self._record("limits", name, number(lower, "lower"), number(upper, "upper"))

    def tie(self, leader, follower):
        """Makes `follower` take `leader`'s value (the same kind of parameter)."""
        return self._record("tie", leader, follower)

    def exclude(self, x_from, x_to, histogram=None):
        """Leaves the points from x_from to x_to out of the fit; of a joint refinement,
        those of one pattern, `histogram` (its name or index)."""
        x_from, x_to = number(x_from, "x_from"), number(x_to, "x_to")
        index = self._histogram_index(histogram)
        if not self.joint:
            return self._record("exclude", x_from, x_to)
        return self._record("exclude_histogram", index, x_from, x_to)

    def save_instrument(self, path, phase=0, histogram=None):
        """Writes the instrument as it stands (refined zero, displacement …) and the
        profile of phase number `phase` (the standard's) as an instrument file; of a
        joint refinement, those of one pattern, `histogram` (its name or index)."""
        index = self._histogram_index(histogram)
        instrument, profile = r.Instrument(), r.Profile()
        if self.joint:
            own = r.RefinementHistogramResult()
            call(lib.pk_refinement_get_histogram, self._handle, index, ctypes.byref(own))
            instrument = own.instrument
            call(lib.pk_refinement_histogram_profile, self._handle, index, whole(phase, "phase"),
                 ctypes.byref(profile))
        else:
            call(lib.pk_refinement_instrument, self._handle, ctypes.byref(instrument))
            call(lib.pk_refinement_phase_profile, self._handle, int(phase), ctypes.byref(profile))
        Instrument.from_record(instrument).save(path, Profile.from_record(profile))

    @property
    def joint(self):
        """True for a refinement of several patterns at once (made from a list)."""
        return "histograms" in self._setup

    @property
    def histograms(self):
        """The names of the patterns refined: [""] for one pattern."""
        return [h["name"] for h in self._setup["histograms"]] if self.joint else [""]

    def _histogram_index(self, histogram):
        """The index of a pattern named by its name or index; None for the only one."""
        names = self.histograms
        if histogram is None:
            if len(names) == 1:
                return 0
            raise Error(f"this joint refinement has {len(names)} patterns: name one of {', '.join(names)} "
                        f"(histogram=\"{names[0]}\" or its index)")
        if isinstance(histogram, str):
            if histogram not in names:
                raise Error(f"no pattern of this refinement is named {histogram!r}; "
                            f"{'they are ' + ', '.join(names) if self.joint else 'it has one, unnamed'}")
            return names.index(histogram)
        index = whole(histogram, "histogram")
        if not 0 <= index < len(names):
            raise Error(f"histogram {index} is out of range: this refinement has {len(names)} pattern(s)")
        return index

    @property
    def parameters(self):
        """Every parameter as it stands: dict name → Parameter."""
        return read_parameters(self._handle)

    @property
    def measured(self):
        return self._measured

    def run(self, cycles=None, progress=False):
        """Refines until converged, the cycle limit (`cycles`, or the one given when
        made), a parameter the data cannot determine, or `progress` asking to stop.

        progress: True prints one line per cycle; a callable
        progress(cycle, chi2, Rwp, damping) is called after every cycle and stops
        the run by returning True. It is also called with cycle 0 (chi2 and Rwp
        NaN) every quarter second or so while the starting values are taken from
        the data, and may stop the run then. Returns a Result.
        """
        if cycles is not None and whole(cycles, "cycles") != self._setup["cycles"]:
            self._setup["cycles"] = whole(cycles, "cycles")
            self._build(self._values())
        failure, started = [], []

        def report(context, cycle, chi2, rwp, damping):
            try:
                if progress is True and cycle == 0:
                    if not failure and not started:
                        print("starting values from the data …", file=sys.stdout, flush=True)
                        started.append(True)
                    return 0
                if progress is True:
                    print(f"cycle {cycle:3d}   chi2 {chi2:.6g}   Rwp {rwp:.4f} %   damping {damping:.3g}",
                          file=sys.stdout, flush=True)
                    return 0
                return 1 if progress(cycle, chi2, rwp, damping) else 0
            except BaseException as caught:  # stop the run, raise once it has returned
                failure.append(caught)
                return 1

        callback = r.PROGRESS(report) if progress else r.PROGRESS()
        call(lib.pk_refinement_run, self._handle, callback, None)
        self._runs = getattr(self, "_runs", 0) + 1
        if failure:
            raise failure[0]
        return Result(self._handle, self)

    def _values(self):
        return {p.name: p.value for p in read_parameters(self._handle).values() if p.state != "tied"}

    def with_pattern(self, measured, start=None):
        """A new refinement of another pattern set up like this one, starting from
        this one's values, or from `start` (a Result or a dict name → value); of a
        joint refinement, of as many other patterns (a list, in the same order)."""
        setup, operations, values = self._description()
        if start is not None:
            given = start.parameters if isinstance(start, Result) else start
            values.update({name: getattr(p, "value", p) for name, p in given.items()})
        return _rebuild(setup, measured, operations, values)

    def _description(self):
        """Everything but the measured pattern that makes this refinement again."""
        return dict(self._setup), list(self._operations), self._values()

    def __reduce__(self):
        setup, operations, values = self._description()
        return (_rebuild, (setup, self._measured, operations, values))

    def __repr__(self):
        free = [p.name for p in self.parameters.values() if p.state in ("free", "at limit", "fixed: undetermined")]
        patterns = ", ".join(repr(m.name) for m in self._measured) if self.joint else repr(self._measured.name)
        return f"<Refinement of {patterns}: {len(self._setup['phases'])} phases, {len(free)} free>"


def _checked(setup, measured):
    """The measured pattern(s) a refinement so set up takes: one, or a list of one per histogram."""
    if "histograms" not in setup:
        if not isinstance(measured, MeasuredPattern):
            raise Error(f"this refinement takes one powderkit.MeasuredPattern, not {type(measured).__name__}")
        return measured
    count = len(setup["histograms"])
    if not isinstance(measured, (list, tuple)) or len(measured) != count:
        raise Error(f"this joint refinement takes a list of {count} measured patterns, one per histogram "
                    f"({', '.join(h['name'] for h in setup['histograms'])})")
    for index, pattern in enumerate(measured):
        if not isinstance(pattern, MeasuredPattern):
            raise Error(f"measured pattern {index + 1} must be a powderkit.MeasuredPattern, not "
                        f"{type(pattern).__name__}")
    return list(measured)


def _per_pattern(values, count, what):
    """One value per pattern of a joint refinement (None: None for each)."""
    if values is None:
        return [None] * count
    if not isinstance(values, (list, tuple)) or len(values) != count:
        raise Error(f"{what} must give one value per measured pattern ({count}), not {values!r}")
    return list(values)


def _histograms(measured, instruments, names, weights, ranges):
    """The description of each histogram of a joint refinement: name, Instrument, the
    profile of its instrument file (or None), weight and range (or None)."""
    if not measured:
        raise Error("a joint refinement needs at least one measured pattern")
    count = len(measured)
    if instruments is None:
        raise Error("a joint refinement needs instruments=: one Instrument, instrument file or (file, bank) pair per "
                    "measured pattern")
    names = [f"pattern{i + 1}" for i in range(count)] if names is None else names
    out = []
    for name, source, weight, span in zip(*(_per_pattern(values, count, what) for values, what in (
            (names, "histograms"), (instruments, "instruments"), (weights, "weights"), (ranges, "ranges")))):
        text(name, "a histogram's name")
        profile = None
        if isinstance(source, (str, os.PathLike)):
            source, profile = read_instrument(os.fspath(source))
        elif isinstance(source, tuple) and len(source) == 2 and isinstance(source[0], (str, os.PathLike)):
            source, profile = read_instrument(os.fspath(source[0]), source[1])
        elif not isinstance(source, Instrument):
            raise Error(f"the instrument of {name} must be a powderkit.Instrument, an instrument file or a "
                        f"(file, bank) pair, not {source!r}")
        if span is not None:
            if not isinstance(span, (list, tuple)) or len(span) != 2:
                raise Error(f"the range of {name} must be (x_min, x_max) or None, not {span!r}")
            span = tuple(number(v, f"the range of {name}") for v in span)
        weight = 1.0 if weight is None else number(weight, f"the weight of {name}")
        if not 0 < weight < math.inf:
            raise Error(f"the weight of {name} must be a number above 0, not {weight!r}")
        out.append(dict(name=name, instrument=source, profile=profile, range=span, weight=weight))
    return out


def _rebuild(setup, measured, operations, values):
    refinement = Refinement.__new__(Refinement)
    refinement._setup = dict(setup)
    refinement._measured = _checked(setup, measured)
    refinement._operations = list(operations)
    refinement._handle = None
    refinement._build(values)
    return refinement
