// Calculated patterns against what they are made of: phases add, Kα2 is a
// second pattern at its own wavelength, the peaks are the core's shapes, the
// background is the Chebyshev sum, threads change nothing, and the zero and
// the sample displacement move the peaks as their formulas say.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "powderkit_phase.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

pk_phase *example(const char *file) {
    pk_phase *phase = nullptr;
    pk_error e{};
    const std::string path = std::string(PK_EXAMPLE_DATA_DIR) + "/" + file;
    EXPECT_EQ(pk_phase_from_cif_file(path.c_str(), nullptr, &phase, &e), PK_OK) << e.message;
    return phase;
}

std::vector<double> axis(double from, double step, int count) {
    std::vector<double> x(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) x[static_cast<std::size_t>(i)] = from + step * i;
    return x;
}

pk_phase_setting setting(const pk_phase *phase, double scale, const pk_profile *profile = nullptr) {
    return pk_phase_setting{phase, scale, profile, 0, 1.0, {0, 0, 1}};
}

pk_pattern_model *model(const pk_instrument &instrument, std::vector<pk_phase_setting> phases,
                        std::vector<double> background, double xMin, double xMax) {
    pk_pattern_model *made = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_pattern_model_make(&instrument, phases.data(), static_cast<int32_t>(phases.size()),
                                    background.data(), static_cast<int32_t>(background.size()), xMin, xMax,
                                    &made, &e),
              PK_OK)
        << e.message;
    return made;
}

std::vector<double> compute(const pk_pattern_model *m, const std::vector<double> &x, int32_t part = PK_PART_TOTAL) {
    std::vector<double> y(x.size());
    pk_error e{};
    EXPECT_EQ(pk_pattern_model_compute(m, part, x.data(), static_cast<int32_t>(x.size()), y.data(), &e), PK_OK)
        << e.message;
    return y;
}

// |a − b| ≤ tolerance × max |b|, point by point.
void expectClose(const std::vector<double> &a, const std::vector<double> &b, double tolerance) {
    ASSERT_EQ(a.size(), b.size());
    double top = 0.0;
    for (double v : b) top = std::max(top, std::fabs(v));
    ASSERT_GT(top, 0.0);
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i], tolerance * top) << "point " << i;
}

class Pattern : public testing::Test {
protected:
    void SetUp() override {
        corundum = example("corundum.cif");
        silicon = example("silicon.cif");
        pk_instrument_default(&cu);
    }
    void TearDown() override {
        pk_phase_free(corundum);
        pk_phase_free(silicon);
    }
    pk_phase *corundum = nullptr, *silicon = nullptr;
    pk_instrument cu{};
    const std::vector<double> x = axis(20.0, 0.01, 8001);
};

TEST_F(Pattern, PhasesAddAndKAlpha2IsASecondPatternAtItsWavelength) {
    pk_pattern_model *both = model(cu, {setting(corundum, 2.0), setting(silicon, 0.5)}, {}, 20, 100);
    pk_pattern_model *one = model(cu, {setting(corundum, 2.0)}, {}, 20, 100);
    pk_pattern_model *other = model(cu, {setting(silicon, 0.5)}, {}, 20, 100);
    std::vector<double> sum = compute(one, x), second = compute(other, x);
    for (std::size_t i = 0; i < x.size(); ++i) sum[i] += second[i];
    expectClose(compute(both, x), sum, 1e-12);
    pk_pattern_model_free(both);
    pk_pattern_model_free(one);
    pk_pattern_model_free(other);

    // Narrow peaks, so that no window reaches past the 3° margin beyond the
    // span within which the two wavelengths list different reflexions.
    pk_profile narrow;
    pk_profile_default(&narrow, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    narrow.U = narrow.V = narrow.Y = 0.0;
    narrow.W = 4e-4;
    narrow.X = 5e-3;
    pk_instrument doublet = cu, alpha2 = cu;
    doublet.wavelength2 = 1.544414;
    doublet.ratio2 = 0.5;
    alpha2.wavelength = 1.544414;
    pk_pattern_model *withBoth = model(doublet, {setting(corundum, 1.0, &narrow)}, {}, 20, 100);
    pk_pattern_model *alone1 = model(cu, {setting(corundum, 1.0, &narrow)}, {}, 20, 100);
    pk_pattern_model *alone2 = model(alpha2, {setting(corundum, 1.0, &narrow)}, {}, 20, 100);
    std::vector<double> expected = compute(alone1, x), k2 = compute(alone2, x);
    for (std::size_t i = 0; i < x.size(); ++i) expected[i] += 0.5 * k2[i];
    expectClose(compute(withBoth, x), expected, 1e-9);
    pk_pattern_model_free(withBoth);
    pk_pattern_model_free(alone1);
    pk_pattern_model_free(alone2);
}

// The layer against the sum over reflexions of scale × intensity × the core's
// own shape (with its own asymmetry and its default cut-off of 50°).
TEST_F(Pattern, PeaksAreTheCoreShapes) {
    const double xMin = 20.0, xMax = 80.0, scale = 3.0;
    RefinementCrystal *crystal = nullptr;
    const double dMin = cu.wavelength / (2.0 * std::sin(42.0 * kPi / 180.0));  // 2θ = 84°
    ASSERT_EQ(pk_phase_core_crystal(corundum, dMin, &crystal, nullptr), PK_OK);
    const std::vector<double> grid = axis(xMin, 0.001, 60001);
    for (int32_t type : {PK_PROFILE_GAUSSIAN, PK_PROFILE_LORENTZIAN, PK_PROFILE_PSEUDO_VOIGT}) {
        SCOPED_TRACE(type);
        pk_profile profile;
        pk_profile_default(&profile, type, nullptr);
        // Narrow peaks (about 0.01°), every width term present.
        profile.U = 2e-5;
        profile.V = -1e-5;
        profile.W = 1e-4;
        profile.X = 4e-3;
        profile.Y = 1e-3;
        profile.asymmetry = 0.02;
        profile.asymmetry_cutoff = 50.0;
        RefinementProfile *core =
            makeRefinementProfile(PK_EXPERIMENT_CONSTANT_WAVELENGTH, PK_RADIATION_XRAY, type, cu.wavelength, xMin, xMax);
        core->U = profile.U;
        core->V = profile.V;
        core->W = profile.W;
        core->LX = profile.X;
        core->LY = profile.Y;
        core->asymmetry = profile.asymmetry;
        const ProfileFunction shape = ProfileFuncForProfileType(type);
        std::vector<Reflexion *> peaks;
        for (int32_t i = 0; i < crystal->reflexions->count; ++i) {
            auto *r = static_cast<Reflexion *>(crystal->reflexions->items[i]);
            calculateIntensityForReflexion(crystal, r, core);
            r->peakPosition = twoThetaForDSpacing(core, r->dSpacing, 0);
            peaks.push_back(r);
        }
        pk_pattern_model *m = model(cu, {setting(corundum, scale, &profile)}, {}, xMin, xMax);
        const std::vector<double> y = compute(m, grid);
        pk_pattern_model_free(m);
        // Points within 0.05° of a peak with no other peak between 0.05° and
        // 1.5° away: the layer's windows (between one and a hundred widths of
        // these 0.01° peaks) hold exactly the peaks within 0.05°.
        std::mt19937 random(20261206);
        std::uniform_int_distribution<std::size_t> pick(0, peaks.size() - 1);
        std::uniform_real_distribution<double> offset(-0.05, 0.05);
        double top = 0.0;
        for (double v : y) top = std::max(top, v);
        for (int tested = 0; tested < 200;) {
            const double target = peaks[pick(random)]->peakPosition + offset(random);
            const long i = std::lround((target - xMin) / 0.001);
            if (i < 0 || i >= static_cast<long>(grid.size())) continue;
            const double at = grid[static_cast<std::size_t>(i)];
            double expected = 0.0;
            bool clear = true;
            for (Reflexion *r : peaks) {
                const double distance = std::fabs(at - r->peakPosition);
                if (distance <= 0.05) expected += scale * r->intensity * shape(at, r, core);
                else if (distance < 1.5) clear = false;
            }
            if (!clear) continue;
            EXPECT_NEAR(y[static_cast<std::size_t>(i)], expected, 1e-12 * top) << "2θ = " << at;
            ++tested;
        }
        freeRefinementProfile(core);
    }
    freeRefinementCrystal(crystal);
}

TEST_F(Pattern, ThreadsGiveWhatOneThreadGives) {
    const std::vector<double> wide = axis(10.0, 0.01, 14001);
    pk_pattern_model *shared = model(cu, {setting(corundum, 1.0)}, {3, 1}, 10, 150);
    const std::vector<double> expected = compute(shared, wide);
    std::vector<std::vector<double>> ownModel(4), sharedModel(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            pk_pattern_model *own = model(cu, {setting(corundum, 1.0)}, {3, 1}, 10, 150);
            ownModel[t] = compute(own, wide);
            pk_pattern_model_free(own);
            sharedModel[t] = compute(shared, wide);
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (std::size_t t = 0; t < 4; ++t) {
        EXPECT_TRUE(ownModel[t] == expected) << "thread " << t << ", its own model";
        EXPECT_TRUE(sharedModel[t] == expected) << "thread " << t << ", the shared model";
    }
    pk_pattern_model_free(shared);
}

TEST_F(Pattern, BackgroundIsTheChebyshevSum) {
    pk_pattern_model *m = model(cu, {setting(corundum, 1.0)}, {10, 2, 1}, 20, 100);
    const std::vector<double> background = compute(m, x, PK_PART_BACKGROUND);
    const std::vector<double> total = compute(m, x), phase = compute(m, x, 0);
    for (std::size_t i = 0; i < x.size(); i += 50) {
        const double u = 2.0 * (x[i] - 20.0) / (100.0 - 20.0) - 1.0;
        const double expected = 10.0 + 2.0 * u + 1.0 * (2.0 * u * u - 1.0);
        EXPECT_NEAR(background[i], expected, 1e-12 * 13.0) << x[i];
        EXPECT_NEAR(total[i], phase[i] + background[i], 1e-12 * std::fabs(total[i])) << x[i];
    }
    pk_pattern_model_free(m);
    // A model of no phase is its background.
    pk_pattern_model *alone = model(cu, {}, {10, 2, 1}, 20, 100);
    EXPECT_EQ(compute(alone, x), background);
    pk_pattern_model_free(alone);
}

std::vector<double> ticks(const pk_instrument &instrument, const pk_phase *phase) {
    pk_pattern_model *m = model(instrument, {setting(phase, 1.0)}, {}, 20, 100);
    std::vector<double> positions(200);
    int32_t written = 0;
    EXPECT_EQ(pk_pattern_model_peak_positions(m, 0, positions.data(), 200, &written, nullptr), PK_OK);
    positions.resize(static_cast<std::size_t>(written));
    pk_pattern_model_free(m);
    return positions;
}

TEST_F(Pattern, ZeroAndSampleDisplacementMoveThePeaks) {
    const std::vector<double> plain = ticks(cu, corundum);
    ASSERT_GT(plain.size(), 10u);
    // (0 1 2): 1/d² = 4/3 (h² + hk + k²)/a² + l²/c².
    const double d012 = 1.0 / std::sqrt(4.0 / 3.0 / (4.7589 * 4.7589) + 4.0 / (12.991 * 12.991));
    const double theta = std::asin(cu.wavelength / (2.0 * d012));
    EXPECT_NEAR(plain[0], 2.0 * theta * 180.0 / kPi, 1e-9);

    pk_instrument shifted = cu;
    shifted.zero = 0.05;
    const std::vector<double> zero = ticks(shifted, corundum);
    ASSERT_EQ(zero.size(), plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i) EXPECT_NEAR(zero[i], plain[i] + 0.05, 1e-12) << i;

    pk_instrument displaced = cu;
    displaced.displacement = 0.1;
    displaced.radius = 240.0;
    const std::vector<double> moved = ticks(displaced, corundum);
    ASSERT_EQ(moved.size(), plain.size());
    // −(2 s cos θ / R)(180/π): 0.0454° at 2θ = 25.6°.
    EXPECT_NEAR(moved[0], plain[0] - 2.0 * 0.1 * std::cos(theta) / 240.0 * 180.0 / kPi, 1e-12);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const double c = std::cos(plain[i] / 2.0 * kPi / 180.0);
        EXPECT_NEAR(moved[i], plain[i] - 0.2 * c / 240.0 * 180.0 / kPi, 1e-12) << i;
    }
}

}  // namespace

namespace {

// Integrated intensity of one phase's pattern over a window around x0.
double areaNear(const pk_pattern_model *m, double x0, double half, double step) {
    const std::vector<double> grid = axis(x0 - half, step, static_cast<int>(2.0 * half / step) + 1);
    double sum = 0.0;
    for (double v : compute(m, grid)) sum += v * step;
    return sum;
}

}  // namespace

// The March correction of platelets about (0 0 1): the two planes (0 0 ±6) lie
// at α = 0 from the axis, so their weight is 2 r⁻³ · N against a multiplicity
// of 2, with N = π / (2 ∫₀^{π/2} (r² cos²α + sin²α / r)^−3/2 dα), the
// normalisation the correction uses, worked out here by Simpson's rule.
TEST_F(Pattern, MarchCorrectionOfAPlaneNormalToTheAxis) {
    const double r = 0.8;
    double integral = 0.0;
    const int n = 20000;
    for (int i = 0; i <= n; ++i) {
        const double alpha = 0.5 * kPi * i / n, c = std::cos(alpha), s = std::sin(alpha);
        const double weight = (i == 0 || i == n) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
        integral += weight * std::pow(r * r * c * c + s * s / r, -1.5);
    }
    integral *= 0.5 * kPi / n / 3.0;
    const double expected = std::pow(r, -3.0) * kPi / (2.0 * integral);

    // Narrow Gaussian peaks: within 0.3° of (0 0 6) there is (0 0 6) alone, and
    // on one grid the ratio of the areas is the ratio of the intensities.
    pk_profile narrow;
    pk_profile_default(&narrow, PK_PROFILE_GAUSSIAN, nullptr);
    narrow.U = narrow.V = narrow.asymmetry = 0.0;
    narrow.W = 1e-4;
    pk_phase_setting plain = setting(corundum, 1.0, &narrow), platelets = setting(corundum, 1.0, &narrow);
    platelets.use_march = 1;
    platelets.march_ratio = r;
    pk_pattern_model *a = model(cu, {plain}, {}, 20, 100), *b = model(cu, {platelets}, {}, 20, 100);
    const double at = ticks(cu, corundum)[3];  // (0 0 6), 41.68°, 1.8° from its neighbours
    EXPECT_NEAR(areaNear(b, at, 0.3, 1e-4) / areaNear(a, at, 0.3, 1e-4), expected, 1e-6 * expected);
    pk_pattern_model_free(a);
    pk_pattern_model_free(b);
}

// On a time-of-flight axis the peaks sit at (dtt1 d + dtt2 d² + zero) / 1000 ms,
// listed along the axis, and are the core's own shapes.
TEST_F(Pattern, TimeOfFlightPeaksAreTheCoreShapes) {
    pk_instrument tof = cu;
    tof.axis = PK_AXIS_TOF;
    tof.radiation = PK_RADIATION_NEUTRON;
    tof.dtt1 = 5000.0;
    tof.zero = 3.0;
    pk_profile profile;
    pk_profile_default(&profile, PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, nullptr);
    pk_pattern_model *m = model(tof, {setting(silicon, 2.0, &profile)}, {}, 4.0, 16.0);
    std::vector<double> positions(64);
    int32_t written = 0;
    ASSERT_EQ(pk_pattern_model_peak_positions(m, 0, positions.data(), 64, &written, nullptr), PK_OK);
    // Silicon (1 1 1): d = a / √3; (2 2 0): a / √8; both inside 4 … 16 ms (to
    // round-off relative to the position: the core's cell angles carry its
    // rounded degree-to-radian factor).
    const double d111 = 5.431194 / std::sqrt(3.0), d220 = 5.431194 / std::sqrt(8.0);
    ASSERT_GE(written, 2);
    EXPECT_NEAR(positions[static_cast<std::size_t>(written - 1)], (5000.0 * d111 + 3.0) / 1000.0, 1e-12 * 16.0);
    EXPECT_NEAR(positions[static_cast<std::size_t>(written - 2)], (5000.0 * d220 + 3.0) / 1000.0, 1e-12 * 16.0);

    RefinementCrystal *crystal = nullptr;
    ASSERT_EQ(pk_phase_core_crystal(silicon, 1.9, &crystal, nullptr), PK_OK);
    RefinementProfile *core = makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON,
                                                    PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, cu.wavelength, 4.0, 16.0);
    core->dtt1 = 5000.0;
    core->zero = 3.0;
    core->sigma1 = profile.sigma1;
    core->alpha1 = profile.alpha1;
    core->beta0 = profile.beta0;
    core->beta1 = profile.beta1;
    core->gamma1 = profile.gamma1;
    auto *r111 = static_cast<Reflexion *>(crystal->reflexions->items[0]);
    calculateIntensityForReflexion(crystal, r111, core);
    r111->peakPosition = xForReflexion(core, r111);
    const ProfileFunction shape = ProfileFuncForProfileType(PK_PROFILE_TOF_EXP_PSEUDO_VOIGT);
    const std::vector<double> near = axis(r111->peakPosition - 0.02, 0.001, 41);
    const std::vector<double> y = compute(m, near);
    for (std::size_t i = 0; i < near.size(); ++i) {
        EXPECT_NEAR(y[i], 2.0 * r111->intensity * shape(near[i], r111, core), 1e-12 * y[20]) << near[i];
    }
    freeRefinementProfile(core);
    freeRefinementCrystal(crystal);
    pk_pattern_model_free(m);
}

// Profiles that give no real, positive width over the span, and fields that
// do not fit, are refused when the model is made, naming what is wrong.
TEST_F(Pattern, BadProfilesAreRefused) {
    struct Case {
        const char *what;
        int32_t type;
        void (*edit)(pk_profile &);
        const char *message;
    };
    const Case cases[] = {
        // H_G² = t² − t + 0.2 is positive at tan 10° and tan 50° but −0.05 at t = ½.
        {"Gaussian width imaginary inside the span", PK_PROFILE_GAUSSIAN,
         [](pk_profile &p) { p.U = 1.0, p.V = -1.0, p.W = 0.2; }, "Gaussian width"},
        {"Lorentzian width negative at the top", PK_PROFILE_LORENTZIAN,
         [](pk_profile &p) { p.X = 0.01, p.Y = -0.02; }, "Lorentzian width"},
        {"no width at all", PK_PROFILE_PSEUDO_VOIGT,
         [](pk_profile &p) { p.U = p.V = p.W = p.X = p.Y = 0.0; }, "zero Gaussian and Lorentzian"},
        {"negative asymmetry", PK_PROFILE_PSEUDO_VOIGT, [](pk_profile &p) { p.asymmetry = -0.1; }, "asymmetry"},
        {"a time-of-flight shape on a 2θ axis", PK_PROFILE_TOF_EXP_GAUSSIAN, [](pk_profile &) {},
         "not a 2θ shape"},
        {"a width that is not a number", PK_PROFILE_PSEUDO_VOIGT, [](pk_profile &p) { p.W = std::nan(""); },
         "not a number"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        pk_profile profile;
        pk_profile_default(&profile, c.type, nullptr);
        c.edit(profile);
        const pk_phase_setting one = setting(corundum, 1.0, &profile);
        pk_pattern_model *made = reinterpret_cast<pk_pattern_model *>(&profile);
        pk_error e{};
        EXPECT_EQ(pk_pattern_model_make(&cu, &one, 1, nullptr, 0, 20.0, 100.0, &made, &e), PK_ERROR_ARGUMENT);
        EXPECT_EQ(made, nullptr);
        EXPECT_NE(std::string(e.message).find(c.message), std::string::npos) << e.message;
    }
}

// The anode table: Kα1, Kα2 and their ratio by name, the instrument set from
// it with and without Kα2, and an unknown anode refused.
TEST(Anodes, LinesByName) {
    double alpha1 = 0.0, alpha2 = 0.0, ratio = 0.0;
    ASSERT_EQ(pk_anode_lines("Cu", &alpha1, &alpha2, &ratio, nullptr), PK_OK);
    EXPECT_EQ(alpha1, 1.540593);
    EXPECT_EQ(alpha2, 1.544414);
    EXPECT_EQ(ratio, 0.5);
    ASSERT_EQ(pk_anode_lines("mo", &alpha1, &alpha2, nullptr, nullptr), PK_OK);
    EXPECT_EQ(alpha1, 0.709319);
    EXPECT_EQ(alpha2, 0.713609);
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    ASSERT_EQ(pk_instrument_set_anode(&instrument, "Co", true, nullptr), PK_OK);
    EXPECT_EQ(instrument.wavelength, 1.789010);
    EXPECT_EQ(instrument.wavelength2, 1.792900);
    EXPECT_EQ(instrument.ratio2, 0.5);
    ASSERT_EQ(pk_instrument_set_anode(&instrument, "Co", false, nullptr), PK_OK);
    EXPECT_EQ(instrument.wavelength2, 0.0);
    pk_error e{};
    EXPECT_EQ(pk_anode_lines("W", &alpha1, nullptr, nullptr, &e), PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("unknown anode \"W\""), std::string::npos) << e.message;
}
