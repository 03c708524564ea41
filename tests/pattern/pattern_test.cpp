// Calculated patterns against what they are made of: phases add, Kα2 is a second pattern at its own wavelength, the
// peaks are the core's shapes, the background is the Chebyshev sum, threads change nothing, the zero, the sample
// displacement and the March correction do what their formulas say.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <thread>
#include <tuple>

#include "pattern/pattern_model.hpp"
#include "pattern/tof_peaks.hpp"
#include "support/phase_calls.hpp"
#include "support/tolerances.hpp"

namespace {

using namespace pk_test;

// |a − b| ≤ tolerance × max |b|, point by point.
void expectClose(const std::vector<double> &a, const std::vector<double> &b, double tolerance) {
    ASSERT_EQ(a.size(), b.size());
    const double top = std::fabs(*std::max_element(b.begin(), b.end()));
    ASSERT_GT(top, 0.0);
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i], tolerance * top) << "point " << i;
}

class Pattern : public testing::Test {
protected:
    void SetUp() override {
        pk_instrument_default(&cu);
        cu.dispersion = 0;  // the core knows no anomalous dispersion
    }
    void TearDown() override {
        pk_phase_free(corundum);
        pk_phase_free(silicon);
    }
    // The peak positions of one phase between 20° and 100°.
    std::vector<double> ticks(const pk_instrument &instrument) {
        pk_pattern_model *m = modelOf(instrument, {settingOf(corundum, 1.0)}, {}, 20, 100);
        std::vector<double> positions(200);
        int32_t written = 0;
        EXPECT_EQ(pk_pattern_model_peak_positions(m, 0, positions.data(), 200, &written, nullptr), PK_OK);
        positions.resize(static_cast<std::size_t>(written));
        pk_pattern_model_free(m);
        return positions;
    }
    pk_phase *corundum = phaseOf(exampleText("corundum.cif")), *silicon = phaseOf(exampleText("silicon.cif"));
    pk_instrument cu{};
    const std::vector<double> x = axis(20.0, 0.01, 8001);
};

// Phases add, and the background is b0 T0(u) + b1 T1(u) + b2 T2(u) with u mapping 20 … 100° onto −1 … 1; a model of
// no phase is its background.
TEST_F(Pattern, PhasesAndBackgroundAddAndKAlpha2IsASecondPatternAtItsWavelength) {
    pk_pattern_model *both = modelOf(cu, {settingOf(corundum, 2.0), settingOf(silicon, 0.5)}, {10, 2, 1}, 20, 100);
    pk_pattern_model *one = modelOf(cu, {settingOf(corundum, 2.0)}, {}, 20, 100);
    pk_pattern_model *other = modelOf(cu, {settingOf(silicon, 0.5)}, {}, 20, 100);
    pk_pattern_model *none = modelOf(cu, {}, {10, 2, 1}, 20, 100);
    std::vector<double> sum = computed(one, x), second = computed(other, x), background = computed(none, x);
    EXPECT_EQ(computed(both, x, PK_PART_BACKGROUND), background);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double u = 2.0 * (x[i] - 20.0) / (100.0 - 20.0) - 1.0;
        EXPECT_NEAR(background[i], 10.0 + 2.0 * u + (2.0 * u * u - 1.0), kRoundOff * 13.0) << x[i];
        sum[i] += second[i] + background[i];
    }
    expectClose(computed(both, x), sum, kRoundOff);
    for (pk_pattern_model *m : {both, one, other, none}) pk_pattern_model_free(m);
    // Narrow peaks, so that no window reaches past the 3° margin beyond the span within which the two wavelengths
    // list different reflexions.
    pk_profile narrow;
    pk_profile_default(&narrow, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    narrow.U = narrow.V = narrow.Y = 0.0;
    narrow.W = 4e-4;
    narrow.X = 5e-3;
    // With anomalous dispersion each line has its own f′ and f″ (for Al and O they differ by about 1e-4 between
    // the lines, far above the tolerance).
    for (int32_t dispersion : {0, 1}) {
        pk_instrument alpha1 = cu;
        alpha1.dispersion = dispersion;
        pk_instrument doublet = alpha1, alpha2 = alpha1;
        doublet.wavelength2 = alpha2.wavelength = 1.544414;
        doublet.ratio2 = 0.5;
        pk_pattern_model *withBoth = modelOf(doublet, {settingOf(corundum, 1.0, &narrow)}, {}, 20, 100);
        pk_pattern_model *alone1 = modelOf(alpha1, {settingOf(corundum, 1.0, &narrow)}, {}, 20, 100);
        pk_pattern_model *alone2 = modelOf(alpha2, {settingOf(corundum, 1.0, &narrow)}, {}, 20, 100);
        std::vector<double> expected = computed(alone1, x), k2 = computed(alone2, x);
        for (std::size_t i = 0; i < x.size(); ++i) expected[i] += 0.5 * k2[i];
        expectClose(computed(withBoth, x), expected, 1e-9);  // Kα2's positions through another asin
        for (pk_pattern_model *m : {withBoth, alone1, alone2}) pk_pattern_model_free(m);
    }
}

// The layer's pattern against Σ scale × I × the core's own shape (or `shape`) over the core's reflexions (its
// intensities, positions and asymmetry), at 200 points within `near` of a peak with no other peak between `near` and
// `far`.
void expectCoreShapes(const pk_pattern_model *m, RefinementCrystal *crystal, RefinementProfile *core, double scale,
                      double near, double far, ProfileFunction shape = nullptr) {
    if (shape == nullptr) shape = ProfileFuncForProfileType(core->profileType);
    const double step = near / 50.0;
    const std::vector<double> grid = axis(core->xMin, step, static_cast<int>((core->xMax - core->xMin) / step));
    const std::vector<double> y = computed(m, grid);
    std::vector<Reflexion *> peaks;
    for (int32_t i = 0; i < crystal->reflexions->count; ++i) {
        auto *r = static_cast<Reflexion *>(crystal->reflexions->items[i]);
        calculateIntensityForReflexion(crystal, r, core);
        r->peakPosition = xForReflexion(core, r);
        peaks.push_back(r);
    }
    std::mt19937 random(20261206);
    std::uniform_int_distribution<std::size_t> pick(0, peaks.size() - 1);
    std::uniform_real_distribution<double> offset(-near, near);
    double top = 0.0;  // the tallest peak by the core, so that the layer's values cannot set the tolerance
    for (Reflexion *r : peaks) top = std::max(top, scale * r->intensity * shape(r->peakPosition, r, core));
    for (int tested = 0; tested < 200;) {
        const long i = std::lround((peaks[pick(random)]->peakPosition + offset(random) - core->xMin) / step);
        if (i < 0 || i >= static_cast<long>(grid.size())) continue;
        const double at = grid[static_cast<std::size_t>(i)];
        double expected = 0.0;
        bool clear = true;
        for (Reflexion *r : peaks) {
            const double distance = std::fabs(at - r->peakPosition);
            if (distance <= near) expected += scale * r->intensity * shape(at, r, core);
            else if (distance < far) clear = false;
        }
        if (!clear) continue;
        EXPECT_NEAR(y[static_cast<std::size_t>(i)], expected, kRoundOff * top) << core->profileType << " at " << at;
        ++tested;
    }
}

// Constant wavelength: peaks about 0.01° wide, every width term present, asymmetry with a cut-off of 50°.
TEST_F(Pattern, PeaksAreTheCoreShapes) {
    RefinementCrystal *crystal = nullptr;
    ASSERT_EQ(pk_phase_core_crystal(corundum, cu.wavelength / (2.0 * std::sin(42.0 * kPi / 180.0)), &crystal, nullptr),
              PK_OK);
    for (int32_t type : {PK_PROFILE_GAUSSIAN, PK_PROFILE_LORENTZIAN, PK_PROFILE_PSEUDO_VOIGT}) {
        pk_profile profile;
        pk_profile_default(&profile, type, nullptr);
        RefinementProfile *core =
            makeRefinementProfile(PK_EXPERIMENT_CONSTANT_WAVELENGTH, PK_RADIATION_XRAY, type, cu.wavelength, 20, 80);
        core->U = profile.U = 2e-5;
        core->V = profile.V = -1e-5;
        core->W = profile.W = 1e-4;
        core->LX = profile.X = 4e-3;
        core->LY = profile.Y = 1e-3;
        core->asymmetry = profile.asymmetry = 0.02;
        profile.asymmetry_cutoff = 50.0;
        pk_pattern_model *m = modelOf(cu, {settingOf(corundum, 3.0, &profile)}, {}, 20, 80);
        expectCoreShapes(m, crystal, core, 3.0, 0.05, 1.5);
        pk_pattern_model_free(m);
        freeRefinementProfile(core);
    }
    freeRefinementCrystal(crystal);
}

// Time of flight: silicon on a 4 … 16 ms axis, the default shape (whose exponential tails want 3 ms clear of other
// peaks). Its γ > 0, where the layer's Lorentzian part is the convolution and the core's is not: the peak is the
// layer's own of the core's reflexion (fast_paths_test holds it to quadrature), placed and scaled by the core.
TEST_F(Pattern, TimeOfFlightPeaksAreTheCoreReflexions) {
    pk_instrument tof = cu;
    tof.axis = PK_AXIS_TOF;
    tof.radiation = PK_RADIATION_NEUTRON;
    tof.dtt1 = 5000.0;
    tof.zero = 3.0;
    pk_profile profile;
    pk_profile_default(&profile, PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, nullptr);
    pk_pattern_model *m = modelOf(tof, {settingOf(silicon, 2.0, &profile)}, {}, 4.0, 16.0);
    RefinementCrystal *crystal = nullptr;
    ASSERT_EQ(pk_phase_core_crystal(silicon, 0.75, &crystal, nullptr), PK_OK);
    RefinementProfile *core = makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON,
                                                    PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, cu.wavelength, 4.0, 16.0);
    core->dtt1 = 5000.0;
    core->zero = 3.0;
    core->sigma1 = profile.sigma1;
    core->alpha1 = profile.alpha1;
    core->beta0 = profile.beta0;
    core->beta1 = profile.beta1;
    core->gamma1 = profile.gamma1;
    expectCoreShapes(m, crystal, core, 2.0, 0.02, 3.0, [](double x, Reflexion *r, RefinementProfile *p) {
        return powderkit::phase::tofPeakValue(powderkit::phase::makeTofPeak(*r, *p), x);
    });
    freeRefinementProfile(core);
    freeRefinementCrystal(crystal);
    pk_pattern_model_free(m);
}

// Models made and computed in four threads, and one model shared by them.
TEST_F(Pattern, ThreadsGiveWhatOneThreadGives) {
    const std::vector<double> wide = axis(10.0, 0.01, 14001);
    pk_pattern_model *shared = modelOf(cu, {settingOf(corundum, 1.0)}, {3, 1}, 10, 150);
    const std::vector<double> expected = computed(shared, wide);
    std::vector<std::vector<double>> results(8);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            pk_pattern_model *own = modelOf(cu, {settingOf(corundum, 1.0)}, {3, 1}, 10, 150);
            results[2 * t] = computed(own, wide);
            pk_pattern_model_free(own);
            results[2 * t + 1] = computed(shared, wide);
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (std::size_t t = 0; t < results.size(); ++t) EXPECT_TRUE(results[t] == expected) << t;
    pk_pattern_model_free(shared);
}

// One phase's reflexions shared among three threads (Mo Kα, Kα2 and the axial divergence on: each reflexion, its
// companion and its peak are made by whichever thread has its set) give the peaks one thread gives, field by field.
TEST_F(Pattern, ReflexionsSharedAmongThreadsAreTheOneThreadPeaks) {
    pk_instrument mo = cu;
    mo.wavelength = 0.70932;
    mo.wavelength2 = 0.71361;
    mo.ratio2 = 0.5;
    pk_profile profile;
    pk_profile_default(&profile, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    profile.axial_sl = 0.02;
    profile.axial_hl = 0.02;
    profile.asymmetry = 0.0;
    const pk_phase_setting setting = settingOf(corundum, 1.0, &profile);
    using powderkit::phase::makePhasePeaks;
    const auto one = makePhasePeaks(mo, setting, "corundum", 10.0, 120.0, nullptr, 0.0, 1);
    auto three = makePhasePeaks(mo, setting, "corundum", 10.0, 120.0, nullptr, 0.0, 3);
    ASSERT_GE(one.primaryCount, 3u * 64u);  // enough sets for three shares
    ASSERT_EQ(one.reflexions.size(), 2 * one.primaryCount);
    ASSERT_EQ(three.reflexions.size(), one.reflexions.size());
    ASSERT_EQ(three.primaryCount, one.primaryCount);
    for (std::size_t n = 0; n < one.reflexions.size(); ++n) {
        const auto &a = one.reflexions[n], &b = three.reflexions[n];
        ASSERT_TRUE(a.h == b.h && a.k == b.k && a.l == b.l) << n;
        ASSERT_EQ(a.intensity, b.intensity) << n;
        ASSERT_EQ(a.peakPosition, b.peakPosition) << n;
        const auto &p = one.cwPeaks[n], &q = three.cwPeaks[n];
        ASSERT_TRUE(p.centre == q.centre && p.inverseFwhm == q.inverseFwhm && p.eta == q.eta &&
                    p.gaussianFactor == q.gaussianFactor && p.asymmetry == q.asymmetry)
            << n;
        ASSERT_TRUE(one.axial[n].offsets == three.axial[n].offsets && one.axial[n].weights == three.axial[n].weights)
            << n;
    }
    EXPECT_TRUE(one.halfWidths == three.halfWidths);
    EXPECT_TRUE(one.ticks == three.ticks);
    EXPECT_TRUE(std::is_sorted(three.ticks.begin(), three.ticks.end()));
    // The windows found once, in two runs as two threads would find them, sum to the pattern whose windows are
    // found reflexion by reflexion, to the bit.
    const int32_t count = 11001;
    std::vector<double> x(count), own(count, 0.0), found(count, 0.0);
    for (int32_t i = 0; i < count; ++i) x[static_cast<std::size_t>(i)] = 10.0 + 0.01 * i;
    auto &peaks = three;
    powderkit::phase::addPhase(peaks, x.data(), count, own.data());
    peaks.ranges.resize(peaks.reflexions.size());
    powderkit::phase::findWindows(peaks, x.data(), count, 0, 101);
    powderkit::phase::findWindows(peaks, x.data(), count, 101, peaks.reflexions.size());
    powderkit::phase::addPhase(peaks, x.data(), count, found.data());
    EXPECT_TRUE(found == own);
}

// Computing refuses, naming the point or the part: a NaN at the first or a later point, an axis that does not
// ascend, a part that names no phase, a negative count.
TEST_F(Pattern, ComputeRefusesBadAxesAndParts) {
    pk_pattern_model *m = modelOf(cu, {settingOf(corundum, 1.0)}, {}, 20, 100);
    const double nan = std::nan("");
    struct Case {
        std::vector<double> x;
        int32_t part;
        const char *message;
    } cases[] = {
        {{nan, 21, 22}, PK_PART_TOTAL, "x[0] is not a number"},
        {{20, 21, nan}, PK_PART_TOTAL, "x[2] is not a number"},
        {{20, 22, 21}, PK_PART_TOTAL, "x is not ascending at x[2]"},
        {{20, 21, 22}, 1, "part 1 names no phase"},
    };
    for (const Case &c : cases) {
        std::vector<double> y(c.x.size());
        pk_error e{};
        EXPECT_EQ(pk_pattern_model_compute(m, c.part, c.x.data(), 3, y.data(), &e), PK_ERROR_ARGUMENT) << c.message;
        EXPECT_NE(std::string(e.message).find(c.message), std::string::npos) << e.message;
    }
    double y[1];
    EXPECT_EQ(pk_pattern_model_compute(m, PK_PART_TOTAL, y, -1, y, nullptr), PK_ERROR_ARGUMENT);
    pk_pattern_model_free(m);
}

// A model refuses an instrument it cannot use, naming the field; a goniometer radius matters only with a sample
// displacement.
TEST_F(Pattern, InstrumentsAreCheckedFieldByField) {
    const double nan = std::nan("");
    const std::pair<std::function<void(pk_instrument &)>, const char *> cases[] = {
        {[](pk_instrument &i) { i.axis = 7; }, "instrument.axis 7 is neither"},
        {[](pk_instrument &i) { i.radiation = 1; }, "instrument.radiation 1 is neither"},
        {[&](pk_instrument &i) { i.zero = nan; }, "instrument.zero is not a number"},
        {[](pk_instrument &i) { i.wavelength = 0.0; }, "instrument.wavelength must be positive"},
        {[](pk_instrument &i) { i.wavelength2 = -1.0; }, "instrument.wavelength2 must be 0"},
        {[](pk_instrument &i) { i.wavelength2 = 1.54, i.ratio2 = -0.5; }, "instrument.ratio2 must be"},
        {[&](pk_instrument &i) { i.displacement = nan; }, "instrument.displacement is not a number"},
        {[](pk_instrument &i) { i.displacement = 0.1, i.radius = 0.0; }, "instrument.radius must be positive"},
        {[](pk_instrument &i) { i.monochromator = -1.0; }, "instrument.monochromator must be"},
        {[](pk_instrument &i) { i.monochromator = 180.0; }, "instrument.monochromator must be"},
        {[](pk_instrument &i) { i.dispersion = 2; }, "instrument.dispersion must be 0 (off) or 1"},
        {[](pk_instrument &i) { i.dispersion = 1, i.wavelength = 0.3; }, "0.3 Å: anomalous dispersion is tabulated"},
        {[](pk_instrument &i) { i.dispersion = 1, i.wavelength2 = 4.5; }, "instrument.wavelength2 = 4.5 Å: anomalous"},
        {[](pk_instrument &i) { i.axis = PK_AXIS_TOF, i.dtt1 = 0.0; }, "instrument.dtt1 must be positive"},
        {[](pk_instrument &i) { i.axis = PK_AXIS_TOF, i.dtt2 = -10.0; }, "turns back before d = 100"},
        {[&](pk_instrument &i) { i.axis = PK_AXIS_TOF, i.tof_two_theta = nan; }, "instrument.tof_two_theta is not"},
        {[](pk_instrument &i) { i.absorption = -0.1; }, "instrument.absorption must be"},
        {[](pk_instrument &i) { i.absorption = 10.5; }, "instrument.absorption must be 0 (none) or a μR of at most 10"},
        {[](pk_instrument &i) { i.roughness_p = 1.5; }, "instrument.roughness_p must lie"},
        {[&](pk_instrument &i) { i.roughness_q = nan; }, "instrument.roughness_q must be"},
        {[](pk_instrument &i) { i.transparency = -0.2; }, "instrument.transparency must be"},
        {[](pk_instrument &i) { i.transparency = 0.2, i.radius = 0.0; }, "instrument.radius must be positive"},
        {[](pk_instrument &i) { i.axis = PK_AXIS_TOF, i.absorption = 0.5; }, "apply to a 2θ axis only"},
    };
    const pk_phase_setting setting = settingOf(corundum, 1.0);
    for (const auto &[change, message] : cases) {
        pk_instrument bad = cu;
        change(bad);
        pk_pattern_model *m = nullptr;
        pk_error e{};
        EXPECT_EQ(pk_pattern_model_make(&bad, &setting, 1, nullptr, 0, 20, 100, &m, &e), PK_ERROR_ARGUMENT) << message;
        EXPECT_NE(std::string(e.message).find(message), std::string::npos) << e.message;
        EXPECT_EQ(m, nullptr);
    }
    pk_instrument still = cu;
    still.radius = 0.0;
    pk_pattern_model_free(modelOf(still, {setting}, {}, 20, 100));
}

// The zero adds to every position; a Bragg–Brentano sample displacement s moves each by −(2 s cos θ / R)(180/π)
// degrees.
TEST_F(Pattern, ZeroAndSampleDisplacementMoveThePeaks) {
    const std::vector<double> plain = ticks(cu);
    ASSERT_GT(plain.size(), 10u);
    pk_instrument shifted = cu, displaced = cu;
    shifted.zero = 0.05;
    displaced.displacement = 0.1;
    displaced.radius = 240.0;
    displaced.zero = 0.5;  // θ of the displacement is the Bragg angle, the zero left out
    const std::vector<double> zero = ticks(shifted), moved = ticks(displaced);
    ASSERT_EQ(zero.size(), plain.size());
    ASSERT_EQ(moved.size(), plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
        EXPECT_NEAR(zero[i], plain[i] + 0.05, kRoundOff) << i;
        const double c = std::cos(plain[i] / 2.0 * kPi / 180.0);
        EXPECT_NEAR(moved[i], plain[i] + 0.5 - 0.2 * c / 240.0 * 180.0 / kPi, kRoundOff) << i;
    }
}

// March weight W(α) N, W = (r² cos²α + sin²α / r)^−3/2, N = π / (2 ∫₀^{π/2} W dα) by Simpson's rule. About (0 0 1)
// the planes (0 0 ±6) lie at 0°: W(0) N times their multiplicity; about (1 1 0) two of {1 1 0} lie at 0° and four at
// 60°. With narrow Gaussians each stands alone within 0.3°: the areas' ratio is the weight.
TEST_F(Pattern, MarchCorrectionAboutAnAxis) {
    const double r = 0.8;
    const auto w = [r](double alpha) {
        return std::pow(r * r * std::pow(std::cos(alpha), 2) + std::pow(std::sin(alpha), 2) / r, -1.5);
    };
    double integral = 0.0;
    const int n = 20000;
    for (int i = 0; i <= n; ++i) {
        integral += ((i == 0 || i == n) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0)) * w(0.5 * kPi * i / n);
    }
    const double norm = kPi / (2.0 * integral * 0.5 * kPi / n / 3.0);
    pk_profile narrow;
    pk_profile_default(&narrow, PK_PROFILE_GAUSSIAN, nullptr);
    narrow.U = narrow.V = narrow.asymmetry = 0.0;
    narrow.W = 1e-4;
    const struct { double axis[3]; std::size_t tick; double weight; } cases[] = {
        {{0, 0, 1}, 3, w(0) * norm}, {{1, 1, 0}, 2, (2 * w(0) + 4 * w(kPi / 3)) * norm / 6}};  // (0 0 6), (1 1 0)
    for (const auto &c : cases) {
        pk_phase_setting plain = settingOf(corundum, 1.0, &narrow), platelets = plain;
        platelets.use_march = 1;
        platelets.march_ratio = r;
        std::copy(c.axis, c.axis + 3, platelets.march_axis);
        const std::vector<double> near = axis(ticks(cu)[c.tick] - 0.3, 1e-4, 6001);
        double area[2] = {0.0, 0.0};
        for (int k : {0, 1}) {
            pk_pattern_model *m = modelOf(cu, {k == 0 ? plain : platelets}, {}, 20, 100);
            for (double v : computed(m, near)) area[k] += v;
            pk_pattern_model_free(m);
        }
        EXPECT_NEAR(area[1] / area[0], c.weight, 1e-6 * c.weight);  // Simpson's rule on 20,000 steps
    }
}

// Profiles that give no real, positive width over the span, and fields that do not fit, are refused when the model is
// made, naming what is wrong.
TEST_F(Pattern, BadProfilesAndSettingsAreRefused) {
    struct Case {
        int32_t type;
        void (*edit)(pk_profile &);
        const char *message;
    };
    const Case cases[] = {
        // H_G² = t² − t + 0.2 is positive at tan 10° and tan 50° but −0.05 at t = ½.
        {PK_PROFILE_GAUSSIAN, [](pk_profile &p) { p.U = 1.0, p.V = -1.0, p.W = 0.2; }, "Gaussian width"},
        {PK_PROFILE_LORENTZIAN, [](pk_profile &p) { p.X = 0.01, p.Y = -0.02; }, "Lorentzian width"},
        // A pseudo-Voigt whose Gaussian part is V tan θ alone (U = W = 0), negative at every angle, beside a sound
        // Lorentzian part: a Gaussian part with any one term set is checked.
        {PK_PROFILE_PSEUDO_VOIGT, [](pk_profile &p) { p.U = 0.0, p.V = -0.01, p.W = 0.0; }, "Gaussian width"},
        {PK_PROFILE_PSEUDO_VOIGT, [](pk_profile &p) { p.U = p.V = p.W = p.X = p.Y = 0.0; },
         "zero Gaussian and Lorentzian"},
        {PK_PROFILE_PSEUDO_VOIGT, [](pk_profile &p) { p.asymmetry = -0.1; }, "asymmetry"},
        {PK_PROFILE_TOF_EXP_GAUSSIAN, [](pk_profile &) {}, "not a 2θ shape"},
        {PK_PROFILE_PSEUDO_VOIGT, [](pk_profile &p) { p.W = std::nan(""); }, "not a number"},
    };
    for (const Case &c : cases) {
        pk_profile profile;
        pk_profile_default(&profile, c.type, nullptr);
        c.edit(profile);
        const pk_phase_setting one = settingOf(corundum, 1.0, &profile);
        pk_pattern_model *made = reinterpret_cast<pk_pattern_model *>(&profile);
        pk_error e{};
        EXPECT_EQ(pk_pattern_model_make(&cu, &one, 1, nullptr, 0, 20.0, 100.0, &made, &e), PK_ERROR_ARGUMENT);
        EXPECT_EQ(made, nullptr);
        EXPECT_NE(std::string(e.message).find(c.message), std::string::npos) << e.message;
    }
    const pk_phase_setting negative = settingOf(corundum, -1.0);
    pk_pattern_model *refused = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_pattern_model_make(&cu, &negative, 1, nullptr, 0, 20.0, 100.0, &refused, &e), PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("phase 0: the scale -1.000000 is negative"), std::string::npos) << e.message;
    // A scale of exactly 0 is a phase present in the model that adds nothing.
    const pk_phase_setting absent = settingOf(corundum, 0.0);
    pk_pattern_model *empty = nullptr;
    ASSERT_EQ(pk_pattern_model_make(&cu, &absent, 1, nullptr, 0, 20.0, 100.0, &empty, &e), PK_OK) << e.message;
    const double at[3] = {25.57, 35.15, 43.35};  // on corundum's 0 1 2, 1 0 4 and 1 1 3
    double none[3] = {1.0, 1.0, 1.0};
    ASSERT_EQ(pk_pattern_model_compute(empty, PK_PART_TOTAL, at, 3, none, &e), PK_OK) << e.message;
    EXPECT_EQ(std::vector<double>(none, none + 3), std::vector<double>(3, 0.0));
    pk_pattern_model_free(empty);
    pk_phase_setting march = settingOf(corundum, 1.0);  // a March axis of zero length refused, any other taken
    march.use_march = 1;
    march.march_axis[0] = march.march_axis[1] = march.march_axis[2] = 0.0;
    pk_pattern_model *made = nullptr;
    EXPECT_EQ(pk_pattern_model_make(&cu, nullptr, 1, nullptr, 0, 20.0, 100.0, &made, nullptr), PK_ERROR_ARGUMENT);
    EXPECT_EQ(pk_pattern_model_make(&cu, &march, 1, nullptr, 0, 20.0, 100.0, &made, nullptr), PK_ERROR_ARGUMENT);
    std::tie(march.march_axis[0], march.march_axis[1]) = std::make_tuple(1.0, -1.0);
    ASSERT_EQ(pk_pattern_model_make(&cu, &march, 1, nullptr, 0, 20.0, 100.0, &made, nullptr), PK_OK);
    int32_t written = 7;  // a refused call writes no positions
    double positions[1];
    EXPECT_EQ(pk_pattern_model_peak_positions(made, 1, positions, 1, &written, nullptr), PK_ERROR_ARGUMENT);
    EXPECT_EQ(written, 0);
    pk_pattern_model_free(made);
}

}  // namespace
