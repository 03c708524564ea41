// The Gaussian, Lorentzian and pseudo-Voigt on a 2θ axis: peak heights and
// half widths worked out by hand, unit area by quadrature, the asymmetry
// direction and cut-off, the five-point average against the integral it
// approximates, and the pseudo-Voigt limits.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "profiles/profiles.hpp"

namespace {

constexpr double kDegToRad = 0.0174532925199;

// One reflexion at 2θ₀ with a profile of the given type, all widths 0.
struct Peak {
    RefinementProfile *profile;
    Reflexion *reflexion;
    ProfileFunction shape;
    Peak(int32_t type, double twoTheta, double w = 0.0, double lx = 0.0, double p = 0.0) {
        profile = makeRefinementProfile(1, 2, type, 1.5406, 5.0, 120.0);
        profile->U = profile->V = profile->LY = 0.0;
        profile->W = w;
        profile->LX = lx;
        profile->asymmetry = p;
        reflexion = makeReflexion();
        reflexion->peakPosition = twoTheta;
        shape = ProfileFuncForProfileType(type);
    }
    ~Peak() {
        freeRefinementProfile(profile);
        reflexion->methods->freeReflexion(reflexion);
    }
    double operator()(double x) const { return shape(x, reflexion, profile); }
    bool symmetricAbout(double centre, double delta) const {
        return (*this)(centre - delta) == (*this)(centre + delta);
    }
};

// Composite Simpson over [a, b] with n (even) intervals.
double simpson(const std::function<double(double)> &f, double a, double b, int n) {
    const double h = (b - a) / n;
    double sum = f(a) + f(b);
    for (int i = 1; i < n; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * f(a + i * h);
    return sum * h / 3.0;
}

TEST(ConstantWavelengthProfiles, HeightsAndHalfWidths) {
    // H_G = √W = 0.1°: height 2√(ln 2/π) / H, half of it at Δ = ±H/2.
    Peak gaussian(0, 30.0, 0.01);
    EXPECT_NEAR(gaussian(30.0), 9.394372787, 1e-11);
    EXPECT_NEAR(gaussian(30.05), 9.394372787 / 2.0, 1e-11);
    EXPECT_NEAR(gaussian(29.95), 9.394372787 / 2.0, 1e-11);
    // H_L = LX / cos θ₀: height (2/π) cos θ₀ / LX.
    Peak lorentzian(1, 40.0, 0.0, 0.1);
    const double cosTheta = std::cos(20.0 * kDegToRad);
    EXPECT_NEAR(lorentzian(40.0), 0.6366197723675814 * cosTheta / 0.1, 1e-12);
    EXPECT_NEAR(lorentzian(40.0 + 0.05 / cosTheta), 0.6366197723675814 * cosTheta / 0.2, 1e-12);
    // H_L = LY tan θ₀ and H_G² = U tan²θ₀ + V tan θ₀ + W, at 2θ₀ = 90° (tan θ₀ ≈ 1).
    lorentzian.profile->LX = 0.0;
    lorentzian.profile->LY = 0.1;
    EXPECT_NEAR(lorentzian(40.0), 0.6366197723675814 / (0.1 * std::tan(20.0 * kDegToRad)), 1e-12);
    Peak caglioti(0, 90.0, 0.02);
    caglioti.profile->U = 0.04;
    caglioti.profile->V = -0.02;
    EXPECT_NEAR(caglioti(90.1), 0.9394372787 / 0.2 / 2.0, 1e-9);
}

TEST(ConstantWavelengthProfiles, SymmetricShapesHaveUnitArea) {
    // Above the cut-off, far from 0° and 180°. The Gaussian's constant has ten
    // digits (area 1 within 4e-11); a Lorentzian cut at ±A has the area
    // (2/π) atan(2A/H).
    const double centre = 70.0, theta = 35.0 * kDegToRad, a = 30.0;
    Peak gaussian(0, centre, 0.003);
    gaussian.profile->U = 0.01;
    gaussian.profile->V = -0.005;
    EXPECT_NEAR(simpson(std::ref(gaussian), centre - 5.0, centre + 5.0, 20000), 1.0, 1e-9);

    Peak lorentzian(1, centre, 0.0, 0.05);
    lorentzian.profile->LY = 0.02;
    const double hL = 0.05 / std::cos(theta) + 0.02 * std::tan(theta);
    EXPECT_NEAR(simpson(std::ref(lorentzian), centre - a, centre + a, 200000),
                2.0 / M_PI * std::atan(2.0 * a / hL), 1e-9);

    Peak voigt(2, centre, 0.003, 0.05);
    voigt.profile->U = 0.01;
    voigt.profile->V = -0.005;
    voigt.profile->LY = 0.02;
    powderkit::PseudoVoigtWidths w;
    ASSERT_TRUE(powderkit::pseudoVoigtWidths(voigt.reflexion, voigt.profile, &w));
    EXPECT_NEAR(simpson(std::ref(voigt), centre - a, centre + a, 200000),
                1.0 - w.eta + w.eta * 2.0 / M_PI * std::atan(2.0 * a / w.fwhm), 1e-9);
}

TEST(ConstantWavelengthProfiles, GaussianAsymmetryFactorLeansByTheSignOfP) {
    // 1 − P s Δ² / tan θ₀ on the symmetric Gaussian, at Δ = ∓0.1 = ∓H.
    const double t = std::tan(10.0 * kDegToRad);
    const double symmetric = 9.394372787 * std::exp(-2.772588722239781);
    for (const double p : {0.01, -0.01}) {
        Peak peak(0, 20.0, 0.01, 0.0, p);
        EXPECT_NEAR(peak(19.9), symmetric * (1.0 + p * 0.01 / t), 1e-12);
        EXPECT_NEAR(peak(20.1), symmetric * (1.0 - p * 0.01 / t), 1e-12);
        EXPECT_EQ(peak(19.9) > peak(20.1), p > 0.0);
    }
    // Lorentzian and pseudo-Voigt average only for P at or above the zero
    // tolerance: negative and tiny P leave them symmetric.
    for (const int32_t type : {1, 2}) {
        for (const double p : {-0.01, 1e-14}) {
            Peak peak(type, 20.0, 0.004, 0.05, p);
            EXPECT_TRUE(peak.symmetricAbout(20.0, 0.02) && peak.symmetricAbout(20.0, 0.5)) << type;
        }
    }
}

TEST(ConstantWavelengthProfiles, FivePointAverageFollowsTheIntegralOverShifts) {
    // A[F](x) is Boole's rule for ∫₀¹ F(x + P c u²) du with c = cot 2θ₀ (not
    // cot θ₀); with the whole shift P c a tenth of the width it is good to 1e-5.
    const double centre = 20.0;
    const double c = 1.0 / std::tan(centre * kDegToRad);
    for (const int32_t type : {1, 2}) {
        Peak symmetric(type, centre, 0.003, 0.05);
        powderkit::PseudoVoigtWidths w;
        powderkit::pseudoVoigtWidths(symmetric.reflexion, symmetric.profile, &w);
        const double h = type == 1 ? w.lorentzianFwhm : w.fwhm;
        const double p = h / (10.0 * c);
        Peak peak(type, centre, 0.003, 0.05, p);
        for (double x = centre - 3.0 * h; x <= centre + 3.0 * h; x += h / 4.0) {
            const double integral =
                simpson([&](double u) { return symmetric(x + p * c * u * u); }, 0.0, 1.0, 400);
            EXPECT_NEAR(peak(x), integral, 1e-5 * peak(centre)) << type << " " << x;
        }
        // The mass moves to lower angles and the area stays that of the symmetric shape.
        EXPECT_GT(peak(centre - p * c / 3.0), peak(centre + p * c / 3.0));
        EXPECT_NEAR(simpson(std::ref(peak), centre - 40.0, centre + 40.0, 400000),
                    simpson(std::ref(symmetric), centre - 40.0, centre + 40.0, 400000), 1e-6);
    }
}

TEST(ConstantWavelengthProfiles, CutoffDecidesWhereAsymmetryApplies) {
    for (const int32_t type : {0, 1, 2}) {
        Peak high(type, 60.0, 0.01, 0.05, 0.1);  // above the default 50°
        EXPECT_TRUE(high.symmetricAbout(60.0, 0.1)) << type;
    }
    SetAsymmetryCutoff2Theta(30.0);
    for (const int32_t type : {0, 1, 2}) {
        Peak above(type, 40.0, 0.01, 0.05, 0.1);
        EXPECT_TRUE(above.symmetricAbout(40.0, 0.1)) << type;
        Peak at(type, 30.0, 0.01, 0.05, 0.1);  // at the cut-off: asymmetric
        EXPECT_GT(at(29.9), 1.005 * at(30.1)) << type;
    }
    SetAsymmetryCutoff2Theta(50.0);
}

TEST(ConstantWavelengthProfiles, PseudoVoigtLimitsAndThompsonCoxHastingsWidths) {
    // LX = LY = 0: η = 0, H = H_G, the Gaussian; U = V = W = 0: q = 1, η = 1, the Lorentzian.
    Peak voigt(2, 35.0, 0.006), gaussian(0, 35.0, 0.006);
    voigt.profile->U = gaussian.profile->U = 0.01;
    for (const double x : {34.6, 34.95, 35.0, 35.1, 35.4}) {
        EXPECT_NEAR(voigt(x), gaussian(x), 1e-13 * gaussian(35.0));
    }
    Peak lorentzianVoigt(2, 35.0, 0.0, 0.04), lorentzian(1, 35.0, 0.0, 0.04);
    lorentzianVoigt.profile->LY = lorentzian.profile->LY = 0.01;
    for (const double x : {34.6, 34.95, 35.0, 35.1, 35.4}) {
        EXPECT_NEAR(lorentzianVoigt(x), lorentzian(x), 1e-12 * lorentzian(35.0));
    }
    // Equal widths, by hand: H = 11.67117^(1/5), η at q = 1/H; H scales with the widths.
    const double h = powderkit::thompsonCoxHastingsFwhm(1.0, 1.0);
    EXPECT_NEAR(h, 1.63464284926084964, 1e-14);
    EXPECT_NEAR(powderkit::thompsonCoxHastingsEta(1.0 / h), 0.682539192289774547, 1e-14);
    EXPECT_NEAR(powderkit::thompsonCoxHastingsFwhm(0.02, 0.02), 0.02 * h, 1e-15);
    EXPECT_NEAR(powderkit::thompsonCoxHastingsFwhm(0.3, 0.0), 0.3, 1e-15);
    EXPECT_NEAR(powderkit::thompsonCoxHastingsFwhm(0.0, 0.2), 0.2, 1e-15);
    // The widths of one reflexion at 90°: H_G² = U + V + W, H_L = LX √2 + LY.
    Peak peak(2, 90.0, 0.005, 0.01);
    peak.profile->U = 0.002;
    peak.profile->V = -0.002;
    peak.profile->LY = 0.02;
    powderkit::PseudoVoigtWidths w{7.0, 7.0, 7.0, 7.0};
    EXPECT_FALSE(powderkit::pseudoVoigtWidths(nullptr, peak.profile, &w));
    EXPECT_FALSE(powderkit::pseudoVoigtWidths(peak.reflexion, nullptr, &w));
    EXPECT_FALSE(powderkit::pseudoVoigtWidths(peak.reflexion, peak.profile, nullptr));
    EXPECT_EQ(w.gaussianFwhm, 7.0);
    ASSERT_TRUE(powderkit::pseudoVoigtWidths(peak.reflexion, peak.profile, &w));
    EXPECT_NEAR(w.gaussianFwhm, std::sqrt(0.005), 1e-12);
    EXPECT_NEAR(w.lorentzianFwhm, 0.01 * std::sqrt(2.0) + 0.02, 1e-12);
    EXPECT_NEAR(w.fwhm, powderkit::thompsonCoxHastingsFwhm(w.gaussianFwhm, w.lorentzianFwhm), 0.0);
}

}  // namespace
