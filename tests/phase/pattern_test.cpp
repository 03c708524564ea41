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
        profile.U = profile.V = profile.Y = 0.0;
        profile.W = 1e-4;
        profile.X = 5e-3;
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
