"""The binding against the C library: record layouts, results bit for bit beside a C program making the same
calls, the independent reference reflexion lists, pickling, the binding's refusals and threads."""
import ctypes
import errno
import math
import pickle
import re
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import powderkit as pk
from powderkit._records import PROFILE_FIELDS, RECORDS

CU_KA1 = 1.540593   # Å, the library's default line
TABLE_WAVELENGTH = 1.5406   # Å, the wavelength of the reference lists' Lp and intensities


@pytest.fixture(scope="module")
def corundum(example_data):
    return pk.Phase.from_cif(example_data / "corundum.cif")


def hex_columns(lines):
    """The columns of the C program's hexadecimal floats, exactly."""
    return np.array([[float.fromhex(value) for value in line.split()] for line in lines]).T


def test_record_layouts_match_the_compiled_header(c_reference):
    printed = set()
    for line in c_reference("layout"):
        record, field, value = line.split()
        kind = RECORDS[record]
        printed.add(record)
        assert (ctypes.sizeof(kind) if field == "sizeof" else getattr(kind, field).offset) == int(value), line
    assert printed == set(RECORDS)


@pytest.mark.parametrize("name", ["corundum", "ZnO", "lowsym"])
def test_reflexions_equal_the_c_calls_bit_for_bit(c_reference, example_data, name):
    cif = example_data / f"{name}.cif"
    expected = hex_columns(c_reference("reflexions", cif, 0.9))
    assert expected.shape[0] == 4 and expected.shape[1] > 10
    phase = pk.Phase.from_cif(cif)
    for listed in (phase.reflexions(d_min=0.9), phase.reflexions(d_min=0.9, wavelength=CU_KA1)):
        for mine, theirs in zip((listed.d, listed.two_theta, listed.F2, listed.intensity), expected):
            assert np.array_equal(mine, theirs)


def test_pattern_equals_the_c_call_bit_for_bit(c_reference, example_data, corundum):
    x, y = hex_columns(c_reference("pattern", example_data / "corundum.cif", 20, 80, 0.02))
    assert np.array_equal(pk.pattern([corundum], x, anode="Cu"), y)
    out = np.full(len(x), np.nan)
    assert pk.pattern(corundum, x, anode="Cu", out=out) is out and np.array_equal(out, y)
    # x as a strided view and as a list: read value by value, not with the wrong stride
    assert np.array_equal(pk.pattern([corundum], np.repeat(x, 2)[::2], anode="Cu"), y)
    assert np.array_equal(pk.pattern([corundum], x.tolist(), anode="Cu"), y)


def test_pattern_into_its_own_x(corundum):
    x = np.linspace(20, 80, 3001)
    expected = pk.pattern(corundum, x, anode="Cu")
    same = x.copy()
    assert np.array_equal(pk.pattern(corundum, same, anode="Cu", out=same), expected)


def test_pattern_model_computes_what_pattern_computes(example_data, corundum):
    silicon = pk.Phase.from_cif(example_data / "silicon.cif")
    x = np.linspace(20, 80, 3001)
    settings = dict(anode="Cu", scale=[2.0, 0.5], background=[10, 2, 1])
    model = pk.PatternModel([corundum, silicon], 20, 80, **settings)
    total = model(x)
    assert np.array_equal(total, pk.pattern([corundum, silicon], x, **settings))
    parts = model(x, "background") + model(x, 0) + model(x, "silicon")
    assert np.allclose(parts, total, rtol=0, atol=1e-12 * total.max())
    # The Kα1 ticks inside the span are the reflexions' 2θ there.
    expected = np.sort(silicon.reflexions(two_theta_max=80).two_theta)
    assert np.allclose(model.ticks("silicon"), expected[expected >= 20], rtol=0, atol=1e-12)
    with pytest.raises(pk.Error, match="'quartz' names no phase"):
        model(x, "quartz")
    with pytest.raises(pk.Error, match="phase index 2 is out of range"):
        model.ticks(2)


def point_group_orbits(phase, hkl):
    """Every reflexion equivalent to each row of hkl: h·R for the operators' rotations R, and Friedel mates."""
    rotations = np.unique(np.array([rotation for rotation, _ in phase.operators]), axis=0)
    orbits = np.einsum("ni,rij->nrj", hkl, rotations)
    return np.concatenate([orbits, -orbits], axis=1)


@pytest.mark.parametrize("name", ["corundum", "ZnO", "lowsym"])
def test_reflexions_agree_with_the_independent_lists(example_data, test_data, name):
    # columns: h k l d multiplicity F2_xray F2_neutron Lp_xray I_xray I_neutron (d >= 0.8 Å, λ = 1.5406 Å)
    table = np.loadtxt(test_data / "reflexions" / f"{name}.tsv")
    phase = pk.Phase.from_cif(example_data / f"{name}.cif")
    # the lists know no anomalous dispersion
    listed = phase.reflexions(d_min=0.8, wavelength=TABLE_WAVELENGTH, dispersion=False)
    neutrons = phase.reflexions(d_min=0.8, wavelength=TABLE_WAVELENGTH, neutron=True)
    assert len(listed) == len(table) == len(neutrons)
    where = {tuple(hkl): i for i, orbit in enumerate(point_group_orbits(phase, listed.hkl)) for hkl in orbit}
    index = np.array([where[tuple(hkl)] for hkl in table[:, :3].astype(int)])
    assert len(set(index.tolist())) == len(index)
    np.testing.assert_allclose(listed.d[index], table[:, 3], rtol=1e-6)
    np.testing.assert_array_equal(listed.multiplicity[index], table[:, 4])
    np.testing.assert_allclose(listed.Lp[index], table[:, 7], rtol=1e-6)
    # |F|² far below the strongest is the difference of large terms (ZnO 3 0 1 is extinguished, lowsym has
    # reflexions at 1e-7 of its strongest): there the agreement is absolute, at 1e-9 of the strongest
    for values, f2, intensity in ((listed, table[:, 5], table[:, 8]), (neutrons, table[:, 6], table[:, 9])):
        np.testing.assert_allclose(values.F2[index], f2, rtol=1e-6, atol=1e-9 * f2.max())
        np.testing.assert_allclose(values.intensity[index], intensity, rtol=1e-6, atol=1e-9 * intensity.max())


def test_lines_sum_their_members(example_data):
    for name in ("silicon", "NaCl", "lowsym"):
        listed = pk.Phase.from_cif(example_data / f"{name}.cif").reflexions(d_min=0.8)
        lines = listed.lines()
        assert lines.first[0] == 0 and lines.count.sum() == len(listed)
        assert lines.relative.max() == 100.0
        for i, members in enumerate(lines.members):
            part = slice(lines.first[i], lines.first[i] + lines.count[i])
            assert np.array_equal(members, listed.hkl[part])
            assert np.all(np.abs(listed.d[part] - lines.d[i]) <= 1e-5)
            assert listed.multiplicity[part].sum() == lines.multiplicity[i]
            assert math.isclose(listed.intensity[part].sum(), lines.intensity[i], rel_tol=1e-12)
    # cubic lines by hand: h²+k²+l² = 27 holds 5 1 1 (24) and 3 3 3 (8); 36 holds 6 0 0 (6) and 4 4 2 (24)
    for name, pair, multiplicity in (("silicon", {(5, 1, 1), (3, 3, 3)}, 32), ("NaCl", {(6, 0, 0), (4, 4, 2)}, 30)):
        lines = pk.Phase.from_cif(example_data / f"{name}.cif").reflexions(d_min=0.8).lines()
        kinds = [{tuple(sorted(map(abs, hkl), reverse=True)) for hkl in members.tolist()} for members in lines.members]
        found = [i for i, kind in enumerate(kinds) if kind == pair]
        assert len(found) == 1 and lines.multiplicity[found[0]] == multiplicity


def corundum_in_code():
    """Corundum as tabulated in tests/data/structures.tsv, given in code."""
    return pk.Phase("R -3 c:H", (4.7589, 4.7589, 12.991, 90, 90, 120),
                    [pk.Site("Al1", "Al", (0, 0, 0.35216), uiso=0.003),
                     pk.Site("O1", "O", (0.30624, 0, 0.25), uiso=0.0035)], name="corundum")


def test_absorption_scales_an_isolated_peak_by_the_capillary_transmission(example_data):
    # Silicon 1 1 1 with a second line of 1 Å, far from the first: near 28.44° (Cu Kα1) and near 18.35° (1 Å)
    # every point of a peak scales by the transmission at the θ of its own line.
    silicon = pk.Phase.from_cif(example_data / "silicon.cif")
    x = np.array([18.33, 18.37, 28.40, 28.44, 28.48])
    lines = dict(wavelength=CU_KA1, wavelength2=1.0, ratio2=0.5)
    plain = pk.pattern([silicon], x, instrument=pk.Instrument(**lines))
    absorbed = pk.pattern([silicon], x, instrument=pk.Instrument(**lines, absorption=0.7))
    # The transmission at μR = 0.7 and θ = asin(λ / 2d), d = a/√3, integrated over the disc by
    # scripts/capillary_transmission.py: 0.316522238511 at 1 Å, 0.318880095234 at Cu Kα1.
    factor = np.array([0.316522238511, 0.316522238511, 0.318880095234, 0.318880095234, 0.318880095234])
    # rtol: the far tail of 2 2 0 at 1 Å (30.2°) adds its own factor at 28.4°, some 1e-7 of the total there;
    # the two lines' transmissions differ by 0.7 %.
    np.testing.assert_allclose(absorbed / plain, factor, rtol=1e-6)


def test_phase_in_code_gives_the_pattern_of_its_cif(corundum):
    made = corundum_in_code()
    assert (made.name, made.cell, made.sites) == (corundum.name, corundum.cell, corundum.sites)
    assert len(made.operators) == len(corundum.operators) == 36
    x = np.arange(15, 140, 0.01)
    expected = pk.pattern(corundum, x, anode="Cu")
    np.testing.assert_allclose(pk.pattern(made, x, anode="Cu"), expected, rtol=1e-12, atol=1e-12 * expected.max())


def test_pickling_keeps_values(example_data, corundum):
    zincite = pk.Phase.from_cif(example_data / "ZnO.cif")
    instrument = pk.Instrument("Co", zero=0.02, displacement=0.05, radius=200)
    x = np.arange(20, 100, 0.02)
    for phase in (zincite, corundum_in_code()):
        copy = pickle.loads(pickle.dumps(phase))
        assert (copy.name, copy.symbol, copy.cell, copy.sites) == (phase.name, phase.symbol, phase.cell, phase.sites)
        assert np.array_equal(pk.pattern(copy, x, instrument=instrument), pk.pattern(phase, x, instrument=instrument))
    copy = pickle.loads(pickle.dumps(instrument))
    assert [getattr(copy.record, f) for f, _ in copy.record._fields_] == [
        getattr(instrument.record, f) for f, _ in instrument.record._fields_]
    # An axial divergence given alone takes P = 0 in place of the default's.
    assert pk.Gaussian(axial_sl=0.02, axial_hl=0.03).asymmetry == 0.0 < pk.Gaussian().asymmetry
    for profile in (pk.PseudoVoigt(U=0.011, X=0.05, asymmetry=0), pk.Gaussian(W=0.007, axial_hl=0.03)):
        copy = pickle.loads(pickle.dumps(profile))
        assert type(copy) is type(profile) and copy.record.type == profile.record.type
        assert [getattr(copy, f) for f in PROFILE_FIELDS] == [
            getattr(profile, f) for f in PROFILE_FIELDS]
        assert np.array_equal(pk.pattern(zincite, x, profile=copy), pk.pattern(zincite, x, profile=profile))
    measured = pk.MeasuredPattern(x, 10 + x, sigma=np.full(len(x), 2.5), name="run 7")
    copy = pickle.loads(pickle.dumps(measured))
    assert copy.name == "run 7" and not copy.y.flags.writeable
    assert all(np.array_equal(getattr(copy, a), getattr(measured, a)) for a in ("x", "y", "sigma"))


def _read_only(n):
    array = np.zeros(n)
    array.flags.writeable = False
    return array


X_ERRORS = np.linspace(20, 80, 50)
REFUSALS = [
    ("x of shape (n, 2)", lambda p, x: pk.pattern(p, np.stack([x, x], axis=1)), "one-dimensional"),
    ("complex x", lambda p, x: pk.pattern(p, x + 0j), "real numbers"),
    ("string x", lambda p, x: pk.pattern(p, x.astype(str)), "real numbers"),
    ("strided out", lambda p, x: pk.pattern(p, x, out=np.zeros(2 * len(x))[::2]), "contiguous"),
    ("float32 out", lambda p, x: pk.pattern(p, x, out=np.zeros(len(x), np.float32)), "float64"),
    ("short out", lambda p, x: pk.pattern(p, x, out=np.zeros(len(x) - 1)), "must have shape (50,)"),
    ("read-only out", lambda p, x: pk.pattern(p, x, out=_read_only(len(x))), "read-only"),
    ("profile field", lambda p, x: pk.PseudoVoigt(UU=0.1), "no field 'UU'"),
    ("instrument field", lambda p, x: pk.Instrument(zero_shift=0.1), "no field 'zero_shift'"),
    ("anode and wavelength", lambda p, x: pk.pattern(p, x, anode="Cu", wavelength=1.5), "not both"),
    ("anode and wavelength field", lambda p, x: pk.Instrument("Mo", wavelength=0.7), "not both"),
    ("unknown anode", lambda p, x: pk.pattern(p, x, anode="Cux"), 'unknown anode "Cux"'),
    ("a str among the phases", lambda p, x: pk.pattern([p, "corundum.cif"], x), "Phase objects, not str"),
    ("dispersion beyond its table", lambda p, x: pk.pattern(p, x, wavelength=0.3), "turn dispersion off"),
    ("dispersion beside an instrument", lambda p, x: pk.pattern(p, x, instrument=pk.Instrument(), dispersion=False),
     "Instrument(..., dispersion=False)"),
    # A str, a bool or a fraction where a number or a whole number is meant is refused, never converted.
    ("a str scale", lambda p, x: pk.pattern(p, x, scale="2"), "scale must be a number, not '2'"),
    ("a str that is no number", lambda p, x: pk.pattern(p, x, scale="abc"), "scale must be a number, not 'abc'"),
    ("a str profile width", lambda p, x: pk.PseudoVoigt(U="0.1"), "U must be a number"),
    ("a bool instrument field", lambda p, x: pk.Instrument(zero=True), "zero must be a number, not True"),
    ("a str significance", lambda p, x: pk.find_peaks(pk.MeasuredPattern(x, np.ones(len(x))), significance="4"),
     "significance must be a number"),
    ("background terms not whole", lambda p, x: pk.Refinement(pk.MeasuredPattern(x, np.ones(len(x))), [p],
                                                               background=2.7), "background must be a whole number"),
    ("a negative scale", lambda p, x: pk.pattern(p, x, scale=-1.0), "the scale -1.000000 is negative"),
    ("a negative Uiso", lambda p, x: pk.Phase("P 1", (5, 5, 5, 90, 90, 90), [pk.Site("Fe1", "Fe", (0, 0, 0),
                                                                                  uiso=-0.01)]),
     "Uiso = -0.01 Å² is negative"),
    # The layer's range checks, the command's too.
    ("a reversed range", lambda p, x: pk.Refinement(pk.MeasuredPattern(x, np.ones(len(x))), [p], range=(90, 10)),
     "the range 90 … 10 is reversed"),
    ("2θ beyond 180°", lambda p, x: p.reflexions(two_theta_max=200), "the 2θ limit 200 must lie in (0, 180]"),
    ("d_min of 0", lambda p, x: p.reflexions(d_min=0), "d_min 0 must be a positive number of Å"),
    ("a pattern of no sites", lambda p, x: pk.pattern(pk.Phase("P 1", (5, 5, 5, 90, 90, 90), []), x), "no atom sites"),
    ("too many indices", lambda p, x: pk.Phase("P 1", (400, 400, 400, 90, 90, 90), [pk.Site("C1", "C", (0, 0, 0))])
     .reflexions(two_theta_max=150), "testing 5.05e+08 indices h k l"),  # d = λ/(2 sin 75°) = 0.7975: 502 × 1003²
    ("a pattern at 190°", lambda p, x: pk.pattern(p, x + 110), "x_max = 190: must lie below 180° 2θ"),
]


def test_anomalous_dispersion_is_on_by_default_and_can_be_left_out(corundum):
    # Fe at Cu Kα1 (8047.8 eV): the Henke rows (7920.68, 24.6873, 3.28802) and (8048.79, 24.8575, 3.20844)
    # interpolated by hand, f′ = f1 − 26.
    assert pk.anomalous_dispersion("Fe3+", 1.540593) == pytest.approx((-1.1437846483, 3.2090406599), abs=1e-9)
    off = corundum.reflexions(d_min=1, dispersion=False)
    on = corundum.reflexions(d_min=1)
    assert np.array_equal(off.F2, corundum.reflexions(d_min=1, instrument=pk.Instrument(dispersion=False)).F2)
    assert not pk.Instrument(dispersion=False).dispersion and pk.Instrument().dispersion
    # Al and O at Cu Kα1 add f′ ≈ +0.21 and +0.05: every |F|² moves, the strong ones by a few per cent, the weak
    # ones (where Al and O cancel) by up to about a fifth
    assert np.all(on.F2 != off.F2) and np.allclose(on.F2, off.F2, rtol=0.25)
    assert np.array_equal(pk.pattern(corundum, X_ERRORS, neutron=True, wavelength=1.5, dispersion=False),
                          pk.pattern(corundum, X_ERRORS, neutron=True, wavelength=1.5))


@pytest.mark.parametrize("call, words", [case[1:] for case in REFUSALS], ids=[case[0] for case in REFUSALS])
def test_refusals_say_what_is_wrong(corundum, call, words):
    with pytest.raises(pk.Error, match=re.escape(words)):
        call(corundum, X_ERRORS)


@pytest.mark.parametrize("read", [pk.Phase.from_cif, pk.read_pattern])
def test_missing_files_are_file_not_found_errors(tmp_path, read):
    path = tmp_path / "absent" / "nothing.dat"
    with pytest.raises(FileNotFoundError) as caught:
        read(path)
    error = caught.value
    assert isinstance(error, pk.MissingFileError) and isinstance(error, pk.Error) and isinstance(error, ValueError)
    assert str(path) in str(error) and error.filename == str(path) and error.errno == errno.ENOENT
    assert error.code == 2


@pytest.mark.parametrize("text", ["data_x\n_cell_length_a 'open\n", "_cell_length_a 5\n", "data_x\nloop_\n_a\n_b\n1\n"])
def test_malformed_cif_text_is_a_format_error(text):
    with pytest.raises(pk.Error) as caught:
        pk.Phase.from_cif_text(text)
    assert caught.value.code == 3 and re.search(r":\d+:\d+: ", str(caught.value))


def test_refinements_refuse_unknown_names_and_non_phases(corundum):
    measured = pk.MeasuredPattern(X_ERRORS, pk.pattern(corundum, X_ERRORS, anode="Cu"))
    fit = pk.Refinement(measured, [corundum], anode="Cu")
    with pytest.raises(pk.Error, match='"bogus"'):
        fit.free("scale", "bogus")
    with pytest.raises(pk.Error, match='"corundum.q"'):
        fit.set("corundum.q", 1.0)
    with pytest.raises(pk.Error, match="Phase objects, not int"):
        pk.Refinement(measured, [corundum, 3], anode="Cu")


def test_threads_compute_what_a_loop_computes(example_data, corundum):
    silicon = pk.Phase.from_cif(example_data / "silicon.cif")
    x = np.arange(10, 140, 0.004)
    jobs = [([corundum], 1.0), ([silicon], 2.5), ([corundum, silicon], [0.5, 3.0]), ([silicon, corundum], [1.0, 1.0])]

    def compute(job):
        return pk.pattern(job[0], x, anode="Cu", scale=job[1])

    in_turn = [compute(job) for job in jobs]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(compute, jobs))
    assert all(np.array_equal(a, b) for a, b in zip(in_turn, together))
    assert not np.array_equal(in_turn[2], in_turn[3])


def test_wavelengths_come_from_the_file_and_survive_pickling(test_data, example_data, tmp_path):
    # The Cu lines written in the hand-made scan; text columns name none.
    measured = pk.read_pattern(test_data / "formats" / "counts.xrdml")
    assert measured.wavelengths == (1.540598, 1.544426, 0.5)
    assert pickle.loads(pickle.dumps(measured)).wavelengths == (1.540598, 1.544426, 0.5)
    # A refinement takes the file's lines (here on a scan wider than the hand-made one).
    silicon = pk.Phase.from_cif(example_data / "silicon.cif")
    wide = pk.MeasuredPattern(np.linspace(20, 80, 601), np.full(601, 10.0))
    wide.wavelengths = measured.wavelengths
    for alpha2, second in ((True, 1.544426), (False, 0.0)):
        source = pk.Refinement(wide, silicon, alpha2=alpha2, dispersion=False)._setup["instrument"]
        assert (source.wavelength, source.wavelength2, source.dispersion) == (1.540598, second, False)
    (tmp_path / "plain.xy").write_text("1 4\n2 9\n")
    assert pk.read_pattern(tmp_path / "plain.xy").wavelengths is None


def test_banks_axis_and_warnings(test_data):
    # gem05984 excerpt: bank 3's first flight time 476760/32 µs; the instrument file's two "Bank 6" entries.
    measured = pk.read_pattern(test_data / "formats" / "gem05984_excerpt.gss", bank=3)
    assert (measured.axis, len(measured), measured.x[0]) == ("tof", 8, 476760 / 32 / 1000)
    assert measured.warnings == (str(test_data / "formats" / "gem05984_excerpt.gss") + ": read bank 3; bank 1 not read"
                                 " (choose one by its number)",)
    assert pickle.loads(pickle.dumps(measured)).axis == "tof"
    with pytest.warns(UserWarning, match="read bank 4"):
        instrument, _ = pk.read_instrument(test_data / "formats" / "GEM.instprm", bank=4)
    assert instrument.tof and instrument.difb == 0.0
    with pytest.raises(pk.Error, match="2 entries are labelled bank 6"):
        pk.read_instrument(test_data / "formats" / "GEM.instprm")


def test_difb_of_an_instrument_file_starts_the_refinement(example_data, tmp_path):
    # difB, which the instrument record does not hold, travels beside it: read, pickled, and the refinement's start.
    (tmp_path / "bank.instprm").write_text("Type:PNT\nBank:1\ndifC:7000\ndifA:1.5\ndifB:-3.75\nZero:5\n"
                                           "2-theta:90\nsig-1:10\nalpha:1\nbeta-0:0.03\n")
    instrument, _ = pk.read_instrument(tmp_path / "bank.instprm")
    assert instrument.difb == -3.75 and pickle.loads(pickle.dumps(instrument)).difb == -3.75
    measured = pk.MeasuredPattern(np.linspace(5.0, 20.0, 3001), np.full(3001, 10.0))
    silicon = pk.Phase.from_cif(example_data / "silicon.cif")
    refinement = pk.Refinement(measured, silicon, instrument_file=tmp_path / "bank.instprm")
    assert refinement.parameters["difB"].value == -3.75


def test_progress_of_a_long_listing_and_its_stop():
    # A 500 Å cubic cell down to 2 Å: tens of seconds of listing, stopped at the third report; a small cell never
    # reports; a handler that raises stops the work as well.
    large = pk.Phase("P m -3 m", (500, 500, 500, 90, 90, 90), [pk.Site("Na1", "Na", (0, 0, 0))], name="large")
    seen = []
    pk.set_progress(lambda fraction, stage: seen.append((fraction, stage)) or len(seen) >= 3)
    try:
        with pytest.raises(pk.Error, match="stopped by the progress handler while listing reflexions"):
            large.reflexions(d_min=2.0)
        assert len(seen) == 3 and [f for f, _ in seen] == sorted(f for f, _ in seen)
        assert all(stage == "listing reflexions" and 0.0 <= f <= 1.0 for f, stage in seen)
        small = pk.Phase("F m -3 m", (5.64, 5.64, 5.64, 90, 90, 90), [pk.Site("Na1", "Na", (0, 0, 0))])
        seen.clear()
        assert len(small.reflexions(d_min=0.8)) > 0 and seen == []

        def broken(fraction, stage):
            raise RuntimeError("a fault in the handler")
        pk.set_progress(broken)
        with pytest.raises(pk.Error, match="stopped"):
            large.reflexions(d_min=2.0)
        with pytest.raises(pk.Error, match="must be None, True or a callable"):
            pk.set_progress("yes")
    finally:
        pk.set_progress(None)
