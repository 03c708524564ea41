"""Joint refinement of an X-ray and a neutron pattern of rutile: one structure, two histograms, known truth."""
import pickle

import numpy as np
import pytest

import powderkit as pk

OXYGEN_X = 0.3048                                      # rutile's O1 at (x, x, 0)
XRAY = pk.Instrument("Cu")
NEUTRON = pk.Instrument(wavelength=1.594, neutron=True)
ONE_PATTERN = dict(anode="Cu", wavelength=1.5, neutron=True, instrument=XRAY, instrument_file="d1.json",
                   instrument_profile=pk.PseudoVoigt(), range=(20.0, 30.0))


@pytest.fixture(scope="module")
def rutile(example_data):
    return pk.Phase.from_cif(example_data / "rutile.cif")


@pytest.fixture(scope="module")
def patterns(rutile):
    """Poisson counts about the X-ray (Cu Kα1 + Kα2) and neutron patterns of the true structure."""
    noise = np.random.default_rng(17)

    def counts(instrument, x, background, name):
        exact = pk.pattern([rutile], x, instrument=instrument, scale=500.0, background=background)
        return pk.MeasuredPattern(x, noise.poisson(exact).astype(float), name=name)
    return (counts(XRAY, np.arange(20.0, 120.0, 0.02), [100.0, -10.0, 5.0], "xray.xy"),
            counts(NEUTRON, np.arange(15.0, 140.0, 0.05), [80.0, 5.0, -3.0], "neutron.xy"))


def joint(rutile, patterns, instruments=(XRAY, NEUTRON), **options):
    return pk.Refinement(list(patterns), rutile, instruments=list(instruments), histograms=["xray", "neutron"],
                         background=3, **options)


def test_joint_fit_recovers_the_oxygen_and_each_pattern_keeps_its_own_chi2(rutile, patterns):
    result = joint(rutile, patterns).set("rutile.O1.x", OXYGEN_X + 0.01).free("scale", "xyz", "uiso").run()
    assert result.converged
    assert abs(result["rutile.O1.x"].value - OXYGEN_X) < 3 * result["rutile.O1.x"].esd
    # One structure, named as for one pattern; what belongs to a pattern carries its name.
    assert {"rutile.a", "rutile.O1.x", "xray.rutile.scale", "neutron.rutile.scale", "neutron.zero", "xray.rutile.U",
            "xray.background.2", "neutron.rutile.strain.D11"} <= set(result.parameters)
    assert not {"rutile.scale", "zero", "background.0"} & set(result.parameters)
    assert {name for name, p in result.parameters.items() if p.state == "free"} == {
        "xray.rutile.scale", "neutron.rutile.scale", "rutile.O1.x", "rutile.Ti1.uiso", "rutile.O1.uiso"} | {
        f"{h}.background.{k}" for h in ("xray", "neutron") for k in range(3)}
    xray, neutron = result.histograms
    assert result.histograms["neutron"] is neutron and result.histograms.names == ["xray", "neutron"]
    assert (xray.first_point, neutron.first_point, neutron.point_count) == (0, len(patterns[0]), len(patterns[1]))
    for histogram, measured in zip(result.histograms, patterns):
        assert histogram.axis == "two_theta" and np.array_equal(histogram.x, measured.x)
        assert np.array_equal(histogram.observed, measured.y)
        # Poisson counts: σ² = y, and 1 for zero counts.
        chi2 = np.sum((measured.y - histogram.calculated) ** 2 / np.maximum(measured.y, 1.0))
        assert histogram.chi2 == pytest.approx(chi2, rel=1e-9)
        assert abs(histogram.reduced_chi2 - 1) < 0.15, histogram.name
    assert result.chi2 == pytest.approx(xray.chi2 + neutron.chi2, rel=1e-12)
    # Each pattern's view of the phase: the shared cell (no offset freed), its own R-Bragg; the joint record the first's.
    assert xray.phases["rutile"].cell == pytest.approx(result.phases["rutile"].cell, rel=1e-12)
    assert neutron.phases["rutile"].cell == pytest.approx(result.phases["rutile"].cell, rel=1e-12)
    assert xray.phases["rutile"].r_bragg == result.phases["rutile"].r_bragg != neutron.phases["rutile"].r_bragg
    # One pattern: one histogram, unnamed, holding the whole.
    alone = pk.Refinement(patterns[0], rutile, instrument=XRAY, background=3).free("scale").run()
    assert alone.histograms.names == [""] and alone.histograms[0].chi2 == alone.chi2
    assert alone.histograms[0].point_count == len(patterns[0])


def test_a_pickled_joint_refinement_rebuilds_with_its_exclusions_and_files(rutile, patterns, tmp_path):
    fit = joint(rutile, patterns, exclude=[("neutron", 20.025, 30.025)]).exclude(40.01, 41.01, histogram="xray")
    fit.free("scale", "neutron.zero").set("rutile.O1.x", 0.31)
    copy = pickle.loads(pickle.dumps(fit))
    assert repr(copy) == "<Refinement of 'xray.xy', 'neutron.xy': 1 phases, 9 free>"
    assert [p[:2] + p[3:] for p in copy.parameters.values()] == [p[:2] + p[3:] for p in fit.parameters.values()]
    first, again = fit.run(), copy.run()
    assert (again.chi2, again.points) == (first.chi2, first.points)
    # 200 neutron points (20.05° … 30°) and 50 X-ray points (40.02° … 41°) left out.
    assert first.points == len(patterns[0]) + len(patterns[1]) - 250
    # An instrument file's profile starts every phase in its pattern.
    pk.Instrument(wavelength=1.594, neutron=True).save(tmp_path / "d1.json", pk.PseudoVoigt(U=0.03, W=0.02))
    for source in (tmp_path / "d1.json", (str(tmp_path / "d1.json"), 1)):
        made = joint(rutile, patterns, instruments=[XRAY, source])
        assert (made.parameters["neutron.rutile.U"].value, made.parameters["neutron.rutile.W"].value) == (0.03, 0.02)


def test_arguments_for_one_pattern_are_refused_by_a_joint_refinement(rutile, patterns):
    for name, value in ONE_PATTERN.items():
        with pytest.raises(pk.Error, match=f"^{name}= is for one pattern"):
            joint(rutile, patterns, **{name: value})
    fit = joint(rutile, patterns)
    for call, said in ((lambda: fit.exclude(20.0, 21.0), "name one of xray, neutron"),
                       (lambda: fit.exclude(20.0, 21.0, histogram="synchrotron"), "no pattern .* named 'synchrotron'"),
                       (lambda: fit.with_pattern(patterns[0]), "a list of 2 measured patterns"),
                       (lambda: joint(rutile, patterns, instruments=[XRAY]), "one value per measured pattern"),
                       (lambda: pk.Refinement(patterns[0], rutile, instruments=[XRAY]), "for a joint refinement")):
        with pytest.raises(pk.Error, match=said):
            call()
