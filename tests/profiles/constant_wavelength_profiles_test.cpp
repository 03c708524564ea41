// The Gaussian, Lorentzian and pseudo-Voigt on a 2θ axis: heights and half
// widths worked out by hand, the pseudo-Voigt's mixing, the asymmetry factor and
// cut-off, the five-point average against the integral it approximates, and
// the pseudo-Voigt's mixing and widths.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "profiles/profiles.hpp"
#include "support/tolerances.hpp"

namespace {

constexpr double kDegToRad = 0.0174532925199;
constexpr double kGaussianHeight = 0.9394372787;          // 2√(ln 2/π), times 1/H
constexpr double kLorentzianHeight = 0.6366197723675814;  // 2/π, times 1/H

// One reflexion at 2θ₀ with a profile of the given type, widths {U, V, W, LX, LY} and asymmetry P.
struct Peak {
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 120.0);
    Reflexion *reflexion = makeReflexion();
    Peak(int32_t type, double twoTheta, const std::array<double, 5> &w, double p = 0.0) {
        profile->profileType = type, profile->asymmetry = p, reflexion->peakPosition = twoTheta;
        profile->U = w[0], profile->V = w[1], profile->W = w[2], profile->LX = w[3], profile->LY = w[4];
    }
    ~Peak() {
        freeRefinementProfile(profile);
        reflexion->methods->freeReflexion(reflexion);
    }
    double operator()(double x) const { return ProfileFuncForProfileType(profile->profileType)(x, reflexion, profile); }
    bool symmetricAbout(double centre, double delta) const { return (*this)(centre - delta) == (*this)(centre + delta); }
};

// Composite Simpson over [a, b] with n (even) intervals.
template <typename F>
double simpson(const F &f, double a, double b, int n) {
    const double h = (b - a) / n;
    double sum = f(a) + f(b);
    for (int i = 1; i < n; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * f(a + i * h);
    return sum * h / 3.0;
}

TEST(ConstantWavelengthProfiles, HeightsAndHalfWidthsByHand) {
    const double cos20 = std::cos(20.0 * kDegToRad), tan20 = std::tan(20.0 * kDegToRad), tan30 = std::tan(30.0 * kDegToRad);
    const double caglioti = std::sqrt(0.04 * tan30 * tan30 - 0.02 * tan30 + 0.02);
    const struct { int32_t type; double twoTheta; std::array<double, 5> widths; double x, value; } cases[] = {
        // H_G = √W = 0.1°: height 2√(ln 2/π) / H, half of it at Δ = H/2.
        {0, 30.0, {0, 0, 0.01, 0, 0}, 30.0, kGaussianHeight / 0.1},
        {0, 30.0, {0, 0, 0.01, 0, 0}, 30.05, kGaussianHeight / 0.2},
        // H_G² = U tan²θ₀ + V tan θ₀ + W at 2θ₀ = 60°, half height at H/2.
        {0, 60.0, {0.04, -0.02, 0.02, 0, 0}, 60.0 + caglioti / 2.0, kGaussianHeight / caglioti / 2},
        // H_L = LX / cos θ₀ + LY tan θ₀: height (2/π) / H, half of it at Δ = H/2.
        {1, 40.0, {0, 0, 0, 0.1, 0}, 40.0, kLorentzianHeight * cos20 / 0.1},
        {1, 40.0, {0, 0, 0, 0.1, 0}, 40.0 + 0.05 / cos20, kLorentzianHeight * cos20 / 0.2},
        {1, 40.0, {0, 0, 0, 0, 0.1}, 40.0, kLorentzianHeight / (0.1 * tan20)},
    };
    for (const auto &c : cases) {  // the Gaussian's constant has ten digits
        EXPECT_NEAR(Peak(c.type, c.twoTheta, c.widths)(c.x), c.value, c.type == 0 ? 1e-11 : pk_test::kRoundOff) << c.type << " " << c.x;
    }
    // The pseudo-Voigt above the cut-off: (1 − η) G + η L of one width H. At 90° with
    // H_G = √W = 0.1 and H_L = LY tan 45° = 0.1, H and η are the hand values of the
    // equal-width mixing below: H = 0.1 × 1.63464284926084964, η = 0.682539192289774547.
    const Peak voigt(2, 90.0, {0, 0, 0.01, 0, 0.1});
    const double h = 0.163464284926084964, eta = 0.682539192289774547;
    for (const double delta : {0.0, 0.05, -0.2}) {
        const double u = 2.0 * delta / h, expected = eta * kLorentzianHeight / h / (1.0 + u * u) +
                                                     (1.0 - eta) * kGaussianHeight / h * std::exp(-std::log(2.0) * u * u);
        EXPECT_NEAR(voigt(90.0 + delta), expected, 1e-10 * expected) << delta;  // the ten-digit Gaussian constant
    }
}

TEST(ConstantWavelengthProfiles, AsymmetryLeansByTheSignOfPBelowTheCutoff) {
    // Gaussian: times 1 − P s Δ² / tan θ₀ (s the sign of Δ), at Δ = ∓H, 1/16 of its top.
    const double t = std::tan(10.0 * kDegToRad), symmetric = kGaussianHeight / 0.1 / 16.0;
    for (const double p : {0.01, -0.01}) {
        const Peak peak(0, 20.0, {0, 0, 0.01, 0, 0}, p);
        EXPECT_NEAR(peak(19.9), symmetric * (1.0 + p * 0.01 / t), pk_test::kRoundOff);
        EXPECT_NEAR(peak(20.1), symmetric * (1.0 - p * 0.01 / t), pk_test::kRoundOff);
    }
    // The Lorentzian and pseudo-Voigt average only for P at or above the zero tolerance.
    const std::array<double, 5> widths = {0, 0, 0.004, 0.05, 0};
    for (const int32_t type : {1, 2}) {
        for (const double p : {-0.01, 1e-14}) {
            const Peak peak(type, 20.0, widths, p);
            EXPECT_TRUE(peak.symmetricAbout(20.0, 0.02) && peak.symmetricAbout(20.0, 0.5)) << type;
        }
    }
    // Symmetric above the cut-off (50° as loaded, then 30°), asymmetric at it.
    for (const int32_t type : {0, 1, 2}) {
        EXPECT_TRUE(Peak(type, 60.0, widths, 0.1).symmetricAbout(60.0, 0.1)) << type;
        SetAsymmetryCutoff2Theta(30.0);
        EXPECT_TRUE(Peak(type, 40.0, widths, 0.1).symmetricAbout(40.0, 0.1)) << type;
        const Peak at(type, 30.0, widths, 0.1);
        EXPECT_GT(at(29.9), 1.005 * at(30.1)) << type;
        SetAsymmetryCutoff2Theta(50.0);
    }
    // The five-point average is Boole's rule for ∫₀¹ F(x + P c u²) du with c = cot 2θ₀
    // (not cot θ₀); with the whole shift P c a tenth of the width it is good to
    // 1e-5 of the top (the rule's error), and it keeps the area.
    const double centre = 20.0, c = 1.0 / std::tan(centre * kDegToRad);
    for (const int32_t type : {1, 2}) {
        const Peak symmetric(type, centre, {0, 0, 0.003, 0.05, 0});
        powderkit::PseudoVoigtWidths w;
        ASSERT_TRUE(powderkit::pseudoVoigtWidths(symmetric.reflexion, symmetric.profile, &w));
        const double h = type == 1 ? w.lorentzianFwhm : w.fwhm, p = h / (10.0 * c);
        const Peak peak(type, centre, {0, 0, 0.003, 0.05, 0}, p);
        for (double x = centre - 3.0 * h; x <= centre + 3.0 * h; x += h / 4.0) {
            const double integral = simpson([&](double u) { return symmetric(x + p * c * u * u); }, 0.0, 1.0, 400);
            EXPECT_NEAR(peak(x), integral, 1e-5 * peak(centre)) << type << " " << x;
        }
        EXPECT_NEAR(simpson(peak, centre - 40.0, centre + 40.0, 400000), simpson(symmetric, centre - 40.0, centre + 40.0, 400000),
                    1e-6);  // both lose the same tails beyond ±40°; the shift moves about 1e-7 across the ends
    }
}

TEST(ConstantWavelengthProfiles, PseudoVoigtMixingWidthsAndBadArguments) {
    // Equal widths, by hand: H = 11.67117^(1/5), η at q = 1/H (to two ulps: a fifth root).
    const double h = powderkit::thompsonCoxHastingsFwhm(1.0, 1.0);
    EXPECT_NEAR(h, 1.63464284926084964, pk_test::kExact * 2);
    EXPECT_NEAR(powderkit::thompsonCoxHastingsEta(1.0 / h), 0.682539192289774547, pk_test::kExact * 2);
    // At 90°: H_G² = U + V + W, H_L = LX √2 + LY; null arguments write nothing.
    const Peak peak(2, 90.0, {0.002, -0.002, 0.005, 0.01, 0.02});
    powderkit::PseudoVoigtWidths w{7.0, 7.0, 7.0, 7.0};
    EXPECT_FALSE(powderkit::pseudoVoigtWidths(nullptr, peak.profile, &w) || powderkit::pseudoVoigtWidths(peak.reflexion, nullptr, &w) ||
                 powderkit::pseudoVoigtWidths(peak.reflexion, peak.profile, nullptr));
    EXPECT_EQ(w.gaussianFwhm, 7.0);
    ASSERT_TRUE(powderkit::pseudoVoigtWidths(peak.reflexion, peak.profile, &w));
    EXPECT_NEAR(w.gaussianFwhm, std::sqrt(0.005), pk_test::kRoundOff);
    EXPECT_NEAR(w.lorentzianFwhm, 0.01 * std::sqrt(2.0) + 0.02, pk_test::kRoundOff);
    EXPECT_EQ(w.fwhm, powderkit::thompsonCoxHastingsFwhm(w.gaussianFwhm, w.lorentzianFwhm));
    EXPECT_EQ(w.eta, powderkit::thompsonCoxHastingsEta(w.lorentzianFwhm / w.fwhm));
}

}  // namespace
