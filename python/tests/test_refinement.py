"""Refinements, peak lists and series of synthetic patterns: known truth plus seeded Poisson noise."""
import base64
import html
import json
import pickle
import zlib
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import powderkit as pk

X = np.linspace(20, 80, 2001)       # 2θ, degrees, 0.03° steps
BACKGROUND = [200.0, -20.0, 5.0]    # Chebyshev coefficients over 20 … 80°
SCALES = [200.0, 100.0]             # corundum, silicon
CU_KA1 = 1.540593                   # Å
EXPANSION = 2e-4                    # relative growth of every cell length from one pattern of a series to the next


@pytest.fixture(scope="module")
def phases(example_data):
    return pk.Phase.from_cif(example_data / "corundum.cif"), pk.Phase.from_cif(example_data / "silicon.cif")


def with_cell(phase, factor):
    """The same crystal with every cell length multiplied by `factor`."""
    a, b, c, alpha, beta, gamma = phase.cell
    return pk.Phase(phase.symbol, (a * factor, b * factor, c * factor, alpha, beta, gamma), phase.sites,
                    name=phase.name)


def counts(phases, scales, seed, **source):
    """Poisson counts about a calculated pattern (Cu Kα1 + Kα2 unless `source` says otherwise)."""
    exact = pk.pattern(phases, X, scale=scales, background=BACKGROUND, **(source or {"anode": "Cu"}))
    return pk.MeasuredPattern(X, np.random.default_rng(seed).poisson(exact).astype(float), name=f"seed {seed}")


@pytest.fixture(scope="module")
def two_phase(phases):
    return counts(list(phases), SCALES, seed=11)


def started_off(phases, measured, **options):
    """A refinement of both phases from cells 0.3 % off and scales 20 % off."""
    corundum, silicon = phases
    return pk.Refinement(measured, [with_cell(corundum, 1.003), with_cell(silicon, 0.997)], anode="Cu",
                         scale=[SCALES[0] * 0.8, SCALES[1] * 1.2], background=3, **options)


def free_set(fit):
    return {name for name, p in fit.parameters.items() if p.state == "free"}


def test_two_phases_refine_to_the_truth(phases, two_phase):
    result = started_off(phases, two_phase).free("scale", "cell").run()
    # Two threads sharing the derivatives change no bit of the result.
    shared = started_off(phases, two_phase, threads=2).free("scale", "cell").run()
    assert all(shared[name].value == result[name].value and shared[name].esd == result[name].esd
               for name in ("corundum.a", "corundum.c", "silicon.a", "corundum.scale"))
    with pytest.raises(pk.Error, match="threads"):
        started_off(phases, two_phase, threads=0)
    assert result.converged and result.stop == "converged"
    assert abs(result.reduced_chi2 - 1) < 0.15   # the right model on Poisson noise: χ²/(N − P) near 1
    assert result.GoF == pytest.approx(result.Rwp / result.Rexp, rel=1e-12)
    corundum, silicon = phases
    for name, true in (("corundum.a", corundum.cell[0]), ("corundum.c", corundum.cell[2]),
                       ("silicon.a", silicon.cell[0])):
        assert abs(result[name].value - true) < 4 * result[name].esd, name
    first, second = result["corundum.scale"], result["silicon.scale"]
    ratio = first.value / second.value
    assert abs(ratio - SCALES[0] / SCALES[1]) < 4 * ratio * np.hypot(first.esd / first.value, second.esd / second.value)
    # Rietveld weight fractions w ∝ scale · (cell mass) / V, the scale multiplying |F|²/V²:
    # corundum 12 Al + 18 O, silicon 8 Si per cell (atomic weights 26.982, 15.999, 28.085; the library's own
    # table rounds them to four figures, hence 1e-3)
    masses = {"corundum": 12 * 26.982 + 18 * 15.999, "silicon": 8 * 28.085}
    share = {name: result[name + ".scale"].value * masses[name] / phase.volume
             for name, phase in zip(("corundum", "silicon"), phases)}
    for name, phase in result.phases.items():
        assert phase.weight_fraction == pytest.approx(share[name] / sum(share.values()), rel=1e-3)
        assert phase.cell[0] == phase.cell[1] == result[name + ".a"].value
    # Each refined structure as CIF reads back as that phase, to the digits its esd leaves.
    back = pk.Phase.from_cif_text(result.cif["corundum"])
    assert back.name == "corundum" and back.symbol == corundum.symbol
    assert abs(back.cell[2] - result["corundum.c"].value) <= result["corundum.c"].esd


def test_no_source_named_is_the_commands_default(phases):
    """Nothing names the source: Cu Kα1 + Kα2 for pattern(), as the command takes it; a refinement keeps the Kα2
    line where the measured peaks show it and drops it where they do not, and says so."""
    assert np.array_equal(pk.pattern(list(phases), X, scale=SCALES), pk.pattern(list(phases), X, scale=SCALES,
                                                                                  anode="Cu"))
    for measured, said in ((counts(list(phases), SCALES, seed=3), "show the Kα2 line"),
                           (counts(list(phases), SCALES, seed=3, wavelength=CU_KA1), "show no Kα2 line")):
        result = pk.Refinement(measured, list(phases), scale=SCALES, background=3).run()
        assert any(said in note for note in result.notes), result.notes


def test_progress_callback_stops_the_run_and_its_exceptions_come_out(phases, two_phase, capsys):
    seen = []

    def progress(cycle, chi2, rwp, damping):
        seen.append((cycle, rwp))
        return cycle >= 2

    fit = started_off(phases, two_phase, chi2_tolerance=1e-15, shift_tolerance=1e-9).free("scale", "cell", "zero")
    result = fit.run(progress=progress)
    assert result.stop == "stopped by callback" and not result.converged and result.cycles == 2
    assert [cycle for cycle, _ in seen] == [0, 1, 2] and seen[-1][1] == pytest.approx(result.Rwp, rel=1e-9)
    # Stopped while the starting values are taken from the data: every parameter as it was given.
    given = {name: p.value for name, p in fit.parameters.items()}
    stopped = fit.run(progress=lambda cycle, *_: True)
    assert stopped.stop == "stopped by callback" and stopped.cycles == 0
    assert {name: p.value for name, p in stopped.parameters.items()} == given

    def broken(cycle, chi2, rwp, damping):
        raise KeyError("raised in the callback")

    with pytest.raises(KeyError, match="raised in the callback"):
        fit.run(progress=broken)
    fit.run(cycles=1, progress=True)
    assert capsys.readouterr().out.startswith("starting values from the data …\ncycle   1   chi2 ")


def test_free_replaces_the_free_set_and_fix_holds_the_background(phases, two_phase):
    fit = started_off(phases, two_phase)
    background = {"background.0", "background.1", "background.2"}
    # Nothing named: what the command frees without --free (scale, background, zero, cell, profile).
    widths = {f"{phase}.{width}" for phase in ("corundum", "silicon") for width in "UVWXY"}
    assert free_set(fit) == {"corundum.scale", "silicon.scale", "corundum.a", "corundum.c", "silicon.a",
                             "zero"} | widths | background
    assert free_set(pk.Refinement(two_phase, list(phases), le_bail=True, background=3)) == \
        {"corundum.a", "corundum.c", "silicon.a", "zero"} | widths | background
    assert free_set(fit.free("cell")) == {"corundum.a", "corundum.c", "silicon.a"} | background
    assert free_set(fit.free("scale")) == {"corundum.scale", "silicon.scale"} | background
    assert free_set(fit.fix("background")) == {"corundum.scale", "silicon.scale"}
    assert free_set(fit.free("silicon.scale", "corundum.cell")) == {"silicon.scale", "corundum.a", "corundum.c"}
    result = fit.run()
    assert all(result[name].value == 0 and result[name].state == "fixed" for name in background)
    # what was refined survives pickling as the free set
    assert free_set(pickle.loads(pickle.dumps(fit))) == {"silicon.scale", "corundum.a", "corundum.c"}


def test_a_refused_free_changes_nothing(phases, two_phase):
    fit = started_off(phases, two_phase).free("cell")
    with pytest.raises(pk.Error, match='"bogus"'):
        fit.free("scale", "bogus")
    assert free_set(fit) == free_set(pickle.loads(pickle.dumps(fit)))
    assert "corundum.a" in free_set(fit)


def test_pickled_refinement_runs_the_same_and_with_pattern_starts_from_a_result(phases, two_phase):
    template = started_off(phases, two_phase).free("scale", "cell").limits("silicon.scale", 0, 1e4)
    copy = pickle.loads(pickle.dumps(template))
    assert free_set(copy) == free_set(template)
    first = copy.run()
    # a second pattern (other scales) from the first's result, with the template's set-up
    follow = template.with_pattern(counts(list(phases), [150.0, 120.0], seed=12), start=first)
    for name, parameter in follow.parameters.items():
        assert parameter.value == first[name].value, name
    assert follow.parameters["silicon.scale"].upper == 1e4 and free_set(follow) == free_set(template)
    again = template.run()
    assert [p[::3] for p in again.parameters.values()] == [p[::3] for p in first.parameters.values()]  # names, states
    for part in ("value", "esd"):
        assert np.array_equal([getattr(p, part) for p in again.parameters.values()],
                              [getattr(p, part) for p in first.parameters.values()], equal_nan=True)
    assert (again.Rwp, again.chi2, again.cycles) == (first.Rwp, first.chi2, first.cycles)
    second = follow.run()
    for name, true in (("corundum.scale", 150.0), ("silicon.scale", 120.0)):
        assert abs(second[name].value - true) < 4 * second[name].esd


def test_report_page_of_the_latest_run_only(phases, two_phase, tmp_path):
    fit = started_off(phases, two_phase).free("scale", "cell")
    first = fit.run()
    first.save_report(tmp_path / "first.html", title="two phases")
    page = (tmp_path / "first.html").read_text(encoding="utf-8")
    assert "<title>two phases</title>" in page and '"corundum.a"' in page and "uPlot" in page
    assert first._repr_html_().startswith("<iframe srcdoc=")
    # the compact page's observed counts (little-endian float32, bytes grouped by place, deflated, in base64) keep
    # the tallest of the pattern
    compact = html.unescape(first._repr_html_().split('srcdoc="')[1].split('" style=')[0])
    curves = json.loads(compact.split('type="application/json">')[1].split("</script>")[0])["patterns"][0]["curves"]
    planes = np.frombuffer(zlib.decompress(base64.b64decode(curves["observed"])), np.uint8).reshape(4, -1)
    observed = planes.T.copy().view("<f4").ravel()
    assert len(observed) == curves["count"] <= 2000 and observed.max() == np.float32(np.max(first.observed))
    fit.run()
    with pytest.raises(pk.Error, match="has run again since this result"):
        first.save_report(tmp_path / "stale.html")
    assert not (tmp_path / "stale.html").exists()


def test_peaks_sit_where_braggs_law_puts_them(phases):
    silicon = phases[1]
    # Cu Kα1 + Kα2 and a symmetric profile: each peak, fitted with its Kα2 copy, sits at its Kα1 Bragg angle
    measured = counts([silicon], 50.0, seed=5, profile=pk.PseudoVoigt(asymmetry=0))
    peaks, failures = pk.find_peaks(measured, failures=True)
    assert isinstance(failures, list) and np.array_equal(pk.find_peaks(measured), peaks)
    # silicon below 80°: 1 1 1, 2 2 0, 3 1 1, 4 0 0, 3 3 1 (2 2 2 extinguished by the diamond glide)
    assert len(peaks) == 5
    a = silicon.cell[0]
    for peak, hkl in zip(np.sort(peaks, order="position"), [(1, 1, 1), (2, 2, 0), (3, 1, 1), (4, 0, 0), (3, 3, 1)]):
        d = a / np.sqrt(np.dot(hkl, hkl))
        two_theta = 2 * np.degrees(np.arcsin(CU_KA1 / (2 * d)))
        assert abs(peak["position"] - two_theta) < 4 * peak["position_esd"], hkl
        assert abs(peak["d"] - d) < 4 * peak["d_esd"], hkl
    strongest = np.sort(peaks, order="height")[::-1][:3]
    assert sorted(strongest["position"].round().tolist()) == [28, 47, 56]


@pytest.fixture(scope="module")
def series(phases):
    """Four patterns of silicon growing by EXPANSION per pattern, and a template started at the first's cell."""
    silicon = phases[1]
    patterns = [counts([with_cell(silicon, (1 + EXPANSION) ** k)], 100.0, seed=20 + k) for k in range(4)]
    template = pk.Refinement(patterns[0], [silicon], anode="Cu", scale=80.0, background=3).free("scale", "cell")
    truth = silicon.cell[0] * (1 + EXPANSION) ** np.arange(4)
    return patterns, template, truth


def test_sequential_series_follows_the_expansion(series):
    patterns, template, truth = series
    reported = []
    result = pk.refine_series(iter(patterns), template, progress=lambda *line: reported.append(line))
    assert result.converged.all() and result.patterns == [p.name for p in patterns]
    assert [(index, name) for index, name, _ in reported] == list(enumerate(result.patterns))
    assert [r for _, _, r in reported] == result.results
    a, esd = result["silicon.a"], result.esds[:, result.names.index("silicon.a")]
    assert np.all(np.abs(a - truth) < 4 * esd)
    # each pattern starts from the one before: the second is the template moved to it from the first's result
    second = template.with_pattern(patterns[1], start=result.results[0]).run()
    assert np.array_equal([second[name].value for name in result.names], result.values[1])
    table = result.table()
    assert np.array_equal(table["silicon.a"], a) and np.array_equal(table["silicon.a_esd"], esd)


@pytest.fixture(scope="module")
def dask_client():
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        yield client


@pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
def test_parallel_series_is_the_same_on_threads_and_on_processes(series, dask_client):
    patterns, template, truth = series
    with ThreadPoolExecutor(max_workers=2) as pool:
        threads = pk.refine_series(patterns, template, executor=pool, sequential=False)
    processes = pk.refine_series(patterns, template, executor=dask_client, sequential=False)
    assert threads.names == processes.names and threads.converged.all()
    assert np.array_equal(threads.values, processes.values) and np.array_equal(threads.esds, processes.esds)
    assert np.all(np.abs(threads["silicon.a"] - truth) < 4 * threads.esds[:, threads.names.index("silicon.a")])


def test_an_instrument_file_carries_the_standard_to_the_sample(phases, tmp_path):
    """A silicon standard refined and saved; a sample broadened beyond it by X_s = 0.05° and Y_s = 0.08°
    (degrees) refined from the file gives D = 0.9 λ / (X_s π/180) = 158.885 nm and ε = (π/720) Y_s =
    0.0349066 %, worked out by hand (U is held at the file's value: no Gaussian strain)."""
    silicon = phases[1]
    standard = pk.Lorentzian(X=0.02, Y=0.01)
    source = pk.Instrument(wavelength=CU_KA1, zero=0.02)
    exact = pk.pattern([silicon], X, scale=[3000.0], background=BACKGROUND, instrument=source, profile=standard)
    measured = pk.MeasuredPattern(X, np.random.default_rng(3).poisson(exact).astype(float))
    fit = pk.Refinement(measured, [silicon], wavelength=CU_KA1, profile=pk.Lorentzian(), scale=3000.0, background=3)
    fit.free("scale", "zero", "silicon.X", "silicon.Y")
    fit.run()
    fit.save_instrument(tmp_path / "diffractometer.json")
    instrument, profile = pk.read_instrument(tmp_path / "diffractometer.json")
    assert isinstance(profile, pk.Lorentzian) and instrument.wavelength == CU_KA1
    assert instrument.zero == fit.parameters["zero"].value and profile.X == fit.parameters["silicon.X"].value

    broadened = pk.Lorentzian(X=0.07, Y=0.09)
    exact = pk.pattern([silicon], X, scale=[3000.0], background=BACKGROUND, instrument=source, profile=broadened)
    sample = pk.MeasuredPattern(X, np.random.default_rng(4).poisson(exact).astype(float))
    fit = pk.Refinement(sample, [silicon], instrument_file=tmp_path / "diffractometer.json", scale=3000.0,
                        background=3)
    result = fit.free("scale", "zero", "silicon.X", "silicon.Y").run()
    found = result.phases["silicon"]
    for value, esd, truth in ((found.size_nm, found.size_esd, 158.885), (found.strain_percent, found.strain_esd,
                                                                         0.0349066)):
        assert value == pytest.approx(truth, rel=0.05) and abs(value - truth) < 3 * esd
    with pytest.raises(pk.Error, match="not both"):
        pk.Refinement(sample, [silicon], anode="Cu", instrument_file=tmp_path / "diffractometer.json")
