// The axial-divergence asymmetry against the integral that defines it, taken here directly over the observed angle
// 2φ by adaptive bisection (no substitution, no panels): below 90°, near it and above it, with either height zero;
// then in whole patterns: the area kept, the positions reported as 2θ₀, the tail inside the window, and profiles
// that give it wrongly refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pattern/axial_divergence.hpp"
#include "support/phase_calls.hpp"

namespace {

using namespace powderkit::phase;
using namespace pk_test;

constexpr double kRadian = M_PI / 180.0;

// The published bound on the fast peak against the defining integral: 1e-6 of the peak's height.
constexpr double kAgainstConvolution = 1e-6;

// ∫ f over [a, b] by 5-point Gauss–Legendre (nodes and weights in closed form), halving each interval until its
// halves agree with it to `tolerance` (absolute) or to round-off, or it is shorter than `shortest`.
double adaptive(const std::function<double(double)> &f, double a, double b, double tolerance, double shortest) {
    const auto rule = [&](double from, double to) {
        const double inner = std::sqrt(5.0 - 2.0 * std::sqrt(10.0 / 7.0)) / 3.0;
        const double outer = std::sqrt(5.0 + 2.0 * std::sqrt(10.0 / 7.0)) / 3.0;
        const double wInner = (322.0 + 13.0 * std::sqrt(70.0)) / 900.0, wOuter = (322.0 - 13.0 * std::sqrt(70.0)) / 900.0;
        const double m = 0.5 * (from + to), r = 0.5 * (to - from);
        return r * (128.0 / 225.0 * f(m) + wInner * (f(m - inner * r) + f(m + inner * r)) +
                    wOuter * (f(m - outer * r) + f(m + outer * r)));
    };
    const double m = 0.5 * (a + b), left = rule(a, m), right = rule(m, b);
    const double error = std::fabs(left + right - rule(a, b));
    if (error < tolerance || error < 1e-14 * std::fabs(left + right) || b - a < shortest) return left + right;
    return adaptive(f, a, m, 0.5 * tolerance, shortest) + adaptive(f, m, b, 0.5 * tolerance, shortest);
}

// The symmetric unit-area shapes of FWHM `fwhm`: Gaussian, Lorentzian and their mixture by η.
double symmetricShape(double delta, double fwhm, double eta) {
    const double r = delta / fwhm;
    const double gaussian = 2.0 * std::sqrt(std::log(2.0) / M_PI) / fwhm * std::exp(-4.0 * std::log(2.0) * r * r);
    const double lorentzian = 2.0 / (M_PI * fwhm) / (1.0 + 4.0 * r * r);
    return (1.0 - eta) * gaussian + eta * lorentzian;
}

struct Case {
    double twoTheta, fwhm, eta, sl, hl;
};

// The defining integral: P(x) = ∫ D(2φ) P_sym(x − 2φ) d2φ / ∫ D(2φ) d2φ, D = W / (h |cos 2φ|), h (over L) from
// cos 2φ = cos 2θ₀ √(1 + h²), W the length of sample heights z in [−S, S] with z + h in [−H, H], 2φ between 2θ₀ and
// the angle of h = S + H (or 0° / 180°). Taken over d = |2φ − 2θ₀| in panels of a quarter FWHM, so that no narrow
// peak slips between nodes; h² = (cos² 2φ − cos² 2θ₀) / cos² 2θ₀ as sin(2θ₀ + 2φ) sin(2θ₀ − 2φ) / cos² 2θ₀, exact
// near 2θ₀, where the 1/h singularity leaves intervals down to 1e-15 of the range, 3e-9 of the integral at most.
std::vector<double> directConvolution(const Case &c, const std::vector<double> &x) {
    const double c0 = std::cos(c.twoTheta * kRadian), side = c0 > 0.0 ? 1.0 : -1.0;
    const double far = std::acos(std::clamp(c0 * std::sqrt(1.0 + std::pow(c.sl + c.hl, 2)), -1.0, 1.0)) / kRadian;
    const double range = std::fabs(far - c.twoTheta);
    const auto density = [&](double d) {
        const double twoPhi = c.twoTheta - side * d;
        const double h = std::sqrt(std::sin((c.twoTheta + twoPhi) * kRadian) * std::sin(side * d * kRadian)) / std::fabs(c0);
        const double w = std::max(0.0, std::min(c.sl, c.hl - h) - std::max(-c.sl, -c.hl - h));
        return w / (h * std::fabs(std::cos(twoPhi * kRadian)));
    };
    const auto integral = [&](const std::function<double(double)> &f, double tolerance) {
        const int panels = static_cast<int>(std::ceil(range / (0.25 * c.fwhm)));
        double sum = 0.0;
        for (int k = 0; k < panels; ++k) {
            sum += adaptive(f, range * k / panels, range * (k + 1) / panels, tolerance / panels, 1e-13 * range);
        }
        return sum;
    };
    const double norm = integral(density, 1e-13 * integral(density, 1e-3 * c.sl * c.hl));
    std::vector<double> y;
    for (double at : x) {
        y.push_back(integral([&](double d) { return density(d) * symmetricShape(at - (c.twoTheta - side * d), c.fwhm, c.eta); },
                             1e-9 * norm / c.fwhm) /
                    norm);
    }
    return y;
}

// Neutron and laboratory widths, 5° (where the cone reaches 0° before h = S + H) to 150°, S = H (W's bend at 2θ₀),
// S or H zero (the fast path's limit against a height of 1e-9 in the integral), near 90° where the tail vanishes,
// and above 90° where it turns to higher angles.
TEST(AxialDivergence, EqualsTheDirectConvolution) {
    const Case cases[] = {
        {5.0, 0.30, 0.3, 0.05, 0.05},   {10.0, 0.05, 0.0, 0.02, 0.04}, {20.0, 0.08, 1.0, 0.03, 0.0},
        {30.0, 0.10, 0.5, 0.01, 0.03},  {89.9, 0.10, 0.5, 0.03, 0.03}, {120.0, 0.15, 1.0, 0.0, 0.05},
        {150.0, 0.40, 0.0, 0.04, 0.06},
    };
    for (const Case &c : cases) {
        CwPeak peak;
        peak.type = c.eta == 0.0 ? PK_PROFILE_GAUSSIAN : c.eta == 1.0 ? PK_PROFILE_LORENTZIAN : PK_PROFILE_PSEUDO_VOIGT;
        peak.centre = c.twoTheta;
        peak.inverseFwhm = 1.0 / c.fwhm;
        peak.gaussianFactor = 2.0 * std::sqrt(std::log(2.0) / M_PI) / c.fwhm;
        peak.lorentzianFactor = 2.0 / (M_PI * c.fwhm);
        peak.eta = c.eta;
        const AxialNodes nodes = axialNodes(c.twoTheta, c.fwhm, c.sl, c.hl);
        const double half = nodes.reach + 8.0 * c.fwhm, step = c.fwhm / 4.0;
        const std::vector<double> x = axis(c.twoTheta - half, step, 2 * static_cast<int>(half / step) + 1);
        std::vector<double> fast(x.size(), 0.0);
        addAxialWindow(peak, nodes, x.data(), 0, static_cast<int32_t>(x.size()) - 1, 1.0, fast.data());
        const Case reference{c.twoTheta, c.fwhm, c.eta, std::max(c.sl, 1e-9), std::max(c.hl, 1e-9)};
        const std::vector<double> direct = directConvolution(reference, x);
        const double height = *std::max_element(direct.begin(), direct.end());
        double worst = 0.0, moment = 0.0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            worst = std::max(worst, std::fabs(fast[i] - direct[i]) / height);
            moment += (x[i] - c.twoTheta) * fast[i];
        }
        EXPECT_LT(worst, kAgainstConvolution) << "2θ₀ " << c.twoTheta << " S/L " << c.sl << " H/L " << c.hl;
        // The tail lies towards lower angles below 90° and towards higher angles above.
        EXPECT_EQ(moment < 0.0, c.twoTheta < 90.0) << c.twoTheta;
    }
}

class AxialPatterns : public testing::Test {
protected:
    void SetUp() override { pk_instrument_default(&cu); }
    void TearDown() override { pk_phase_free(silicon); }
    pk_phase *silicon = phaseOf(exampleText("silicon.cif"));
    pk_instrument cu{};
};

// Silicon's peaks (28.4°, 47.3°, 56.1° …) over 20 … 60°, none within reach of an end: the sum of the pattern is the same
// with and without the axial divergence (its weights sum to 1 and the window holds the whole tail), the maximum
// moves below 2θ₀, and the positions reported stay 2θ₀.
TEST_F(AxialPatterns, AreaAndPositionsAreKept) {
    pk_profile symmetric, axial;
    pk_profile_default(&symmetric, PK_PROFILE_GAUSSIAN, nullptr);
    symmetric.asymmetry = 0.0;
    axial = symmetric;
    axial.axial_sl = 0.1;  // the tail of 1 1 1 reaches 2.2° below it, beyond the Gaussian's own window of 12 FWHM
    axial.axial_hl = 0.1;
    const std::vector<double> x = axis(20.0, 0.002, 20001);
    pk_pattern_model *plain = modelOf(cu, {settingOf(silicon, 1.0, &symmetric)}, {}, 20, 60);
    pk_pattern_model *spread = modelOf(cu, {settingOf(silicon, 1.0, &axial)}, {}, 20, 60);
    const std::vector<double> a = computed(plain, x), b = computed(spread, x);
    double sumA = 0.0, sumB = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) sumA += a[i], sumB += b[i];
    EXPECT_NEAR(sumB / sumA, 1.0, 1e-9);  // two trapezoid sums of analytic peaks sampled at 1/30 FWHM
    const auto first = std::max_element(b.begin(), b.begin() + 6000) - b.begin();  // the 1 1 1 peak, below 32°
    EXPECT_LT(x[static_cast<std::size_t>(first)], 28.44 - 0.01);
    double positions[2][8];
    int32_t written[2] = {0, 0};
    ASSERT_EQ(pk_pattern_model_peak_positions(plain, 0, positions[0], 8, &written[0], nullptr), PK_OK);
    ASSERT_EQ(pk_pattern_model_peak_positions(spread, 0, positions[1], 8, &written[1], nullptr), PK_OK);
    ASSERT_EQ(written[1], written[0]);
    for (int i = 0; i < written[0]; ++i) EXPECT_EQ(positions[1][i], positions[0][i]);
    pk_pattern_model_free(plain);
    pk_pattern_model_free(spread);
}

// With no profile given, a constant-wavelength neutron pattern takes the pseudo-Voigt's widths with the axial
// divergence of a neutron diffractometer (S/L 0.02, H/L 0.03, no P): the pattern is that of the profile written
// out, to the bit, and its 1 1 1 peak leans to low angle. X-rays keep the pseudo-Voigt's default, a TOF axis the
// time-of-flight default.
TEST_F(AxialPatterns, NeutronPatternsTakeTheAxialDivergenceByDefault) {
    pk_instrument neutron = cu;
    neutron.radiation = PK_RADIATION_NEUTRON;
    pk_profile written;
    pk_profile_default(&written, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    written.asymmetry = 0.0;
    written.axial_sl = 0.02;
    written.axial_hl = 0.03;
    const std::vector<double> x = axis(26.0, 0.005, 1001);
    pk_pattern_model *byDefault = modelOf(neutron, {settingOf(silicon, 1.0)}, {}, 26, 31);
    pk_pattern_model *explicitly = modelOf(neutron, {settingOf(silicon, 1.0, &written)}, {}, 26, 31);
    const std::vector<double> a = computed(byDefault, x), b = computed(explicitly, x);
    EXPECT_EQ(a, b);
    const auto top = std::max_element(a.begin(), a.end()) - a.begin();
    EXPECT_LT(x[static_cast<std::size_t>(top)], 28.44 - 0.005);
    pk_pattern_model_free(byDefault);
    pk_pattern_model_free(explicitly);
    pk_profile given{}, expected{};
    ASSERT_EQ(pk_profile_default_for(&given, &neutron, nullptr), PK_OK);
    EXPECT_EQ(std::memcmp(&given, &written, sizeof given), 0);
    ASSERT_EQ(pk_profile_default_for(&given, &cu, nullptr), PK_OK);
    pk_profile_default(&expected, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    EXPECT_EQ(std::memcmp(&given, &expected, sizeof given), 0);
    pk_instrument tof;
    pk_instrument_default(&tof);
    tof.axis = PK_AXIS_TOF;
    tof.radiation = PK_RADIATION_NEUTRON;
    ASSERT_EQ(pk_profile_default_for(&given, &tof, nullptr), PK_OK);
    pk_profile_default(&expected, PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, nullptr);
    EXPECT_EQ(std::memcmp(&given, &expected, sizeof given), 0);
    pk_error e{};
    EXPECT_EQ(pk_profile_default_for(&given, nullptr, &e), PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("instrument"), std::string::npos);
}

// A profile that gives both asymmetries, a height out of 0 … 0.1 or not a number, or an axial divergence on a
// time-of-flight axis is refused, naming the field.
TEST_F(AxialPatterns, RefusesWhatCannotBeMeant) {
    struct Bad {
        double asymmetry, sl, hl;
        bool tof;
        const char *message;
    };
    const Bad cases[] = {{0.02, 0.01, 0.0, false, "an axial divergence (axial_sl, axial_hl) and an asymmetry P"},
                         {0.0, 0.11, 0.0, false, "profile.axial_sl must lie in [0, 0.1"},
                         {0.0, 0.0, -0.01, false, "profile.axial_hl must lie in [0, 0.1"},
                         {0.0, 0.0, NAN, false, "not a number"},
                         {0.0, 0.01, 0.01, true, "for 2θ shapes only"}};
    for (const Bad &bad : cases) {
        pk_instrument instrument = cu;
        pk_profile profile;
        pk_profile_default(&profile, bad.tof ? PK_PROFILE_TOF_EXP_GAUSSIAN : PK_PROFILE_PSEUDO_VOIGT, nullptr);
        if (bad.tof) instrument.axis = PK_AXIS_TOF;
        profile.asymmetry = bad.asymmetry;
        profile.axial_sl = bad.sl;
        profile.axial_hl = bad.hl;
        const pk_phase_setting setting = settingOf(silicon, 1.0, &profile);
        pk_pattern_model *model = nullptr;
        pk_error e{};
        const double from = bad.tof ? 5.0 : 20.0;
        EXPECT_EQ(pk_pattern_model_make(&instrument, &setting, 1, nullptr, 0, from, from + 20.0, &model, &e),
                  PK_ERROR_ARGUMENT);
        EXPECT_NE(std::string(e.message).find(bad.message), std::string::npos) << e.message;
        EXPECT_EQ(model, nullptr);
    }
}

}  // namespace
