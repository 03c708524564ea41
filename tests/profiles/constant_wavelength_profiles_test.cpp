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

struct Peak {
    RefinementProfile *profile;
    Reflexion *reflexion;
    Peak(int32_t type, double twoTheta) {
        profile = makeRefinementProfile(1, 2, type, 1.5406, 5.0, 120.0);
        reflexion = makeReflexion();
        reflexion->peakPosition = twoTheta;
        profile->U = profile->V = profile->W = 0.0;
        profile->LX = profile->LY = 0.0;
    }
    ~Peak() {
        freeRefinementProfile(profile);
        reflexion->methods->freeReflexion(reflexion);
    }
    double operator()(ProfileFunction f, double x) const { return f(x, reflexion, profile); }
};

// Restores the process-wide cut-off when a test leaves.
struct CutoffGuard {
    ~CutoffGuard() { SetAsymmetryCutoff2Theta(50.0); }
};

// Composite Simpson over [a, b] with n (even) intervals.
double simpson(const std::function<double(double)> &f, double a, double b, int n) {
    const double h = (b - a) / n;
    double sum = f(a) + f(b);
    for (int i = 1; i < n; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * f(a + i * h);
    return sum * h / 3.0;
}

ProfileFunction shape(int32_t type) { return ProfileFuncForProfileType(type); }

TEST(ConstantWavelengthProfiles, FunctionTableGivesEveryShape) {
    EXPECT_EQ(ProfileFuncForProfileType(0), &powderkit::gaussianProfile);
    EXPECT_EQ(ProfileFuncForProfileType(1), &powderkit::lorentzianProfile);
    EXPECT_EQ(ProfileFuncForProfileType(2), &powderkit::pseudoVoigtProfile);
    EXPECT_EQ(ProfileFuncForProfileType(3), &powderkit::tofExpGaussianProfile);
    EXPECT_EQ(ProfileFuncForProfileType(4), &powderkit::tofExpPseudoVoigtProfile);
    EXPECT_EQ(ProfileFuncForProfileType(5), nullptr);
    EXPECT_EQ(ProfileFuncForProfileType(-1), nullptr);
}

TEST(ConstantWavelengthProfiles, GaussianHeightAndHalfWidth) {
    Peak peak(0, 30.0);
    peak.profile->W = 0.01;  // H_G = 0.1°
    const double height = 0.9394372787 / 0.1;
    EXPECT_NEAR(peak(shape(0), 30.0), height, 1e-12 * height);
    EXPECT_NEAR(peak(shape(0), 30.05), height / 2.0, 1e-12 * height);
    EXPECT_NEAR(peak(shape(0), 29.95), height / 2.0, 1e-12 * height);
    // The Caglioti terms: at 2θ₀ = 90° tan θ₀ ≈ 1, so H_G² ≈ U + V + W.
    Peak wide(0, 90.0);
    wide.profile->U = 0.04;
    wide.profile->V = -0.02;
    wide.profile->W = 0.02;
    const double t = std::tan(45.0 * kDegToRad);
    const double hG = std::sqrt(0.04 * t * t - 0.02 * t + 0.02);
    EXPECT_NEAR(hG, std::sqrt(0.04), 1e-11);
    EXPECT_NEAR(wide(shape(0), 90.0 + hG / 2.0), 0.9394372787 / hG / 2.0, 1e-10);
}

TEST(ConstantWavelengthProfiles, LorentzianHeightAndHalfWidth) {
    Peak peak(1, 40.0);
    peak.profile->LX = 0.1;
    const double cosTheta = std::cos(20.0 * kDegToRad);
    const double height = 0.6366197723675814 * cosTheta / 0.1;
    const double hL = 0.1 / cosTheta;
    EXPECT_NEAR(peak(shape(1), 40.0), height, 1e-12 * height);
    EXPECT_NEAR(peak(shape(1), 40.0 + hL / 2.0), height / 2.0, 1e-12 * height);
    // The LY term grows with tan θ₀.
    peak.profile->LX = 0.0;
    peak.profile->LY = 0.1;
    const double hTan = 0.1 * std::tan(20.0 * kDegToRad);
    EXPECT_NEAR(peak(shape(1), 40.0), 0.6366197723675814 / hTan, 1e-12 / hTan);
}

TEST(ConstantWavelengthProfiles, SymmetricShapesHaveUnitArea) {
    // Peaks far from 0° and 180°, above the cut-off. The Gaussian's constant
    // has ten digits, so its area is 1 within 4e-11; a Lorentzian cut at ±A
    // has the area (2/π) atan(2A/H).
    const double centre = 70.0;
    const double theta = 35.0 * kDegToRad;
    const double a = 30.0;
    Peak gaussian(0, centre);
    gaussian.profile->U = 0.01;
    gaussian.profile->V = -0.005;
    gaussian.profile->W = 0.003;
    const double gaussianArea =
        simpson([&](double x) { return gaussian(shape(0), x); }, centre - 5.0, centre + 5.0, 20000);
    EXPECT_NEAR(gaussianArea, 1.0, 1e-9);

    Peak lorentzian(1, centre);
    lorentzian.profile->LX = 0.05;
    lorentzian.profile->LY = 0.02;
    const double hL = 0.05 / std::cos(theta) + 0.02 * std::tan(theta);
    const double cutLorentzianArea = 2.0 / M_PI * std::atan(2.0 * a / hL);
    const double lorentzianArea = simpson([&](double x) { return lorentzian(shape(1), x); },
                                          centre - a, centre + a, 200000);
    EXPECT_NEAR(lorentzianArea, cutLorentzianArea, 1e-9);
    EXPECT_NEAR(lorentzianArea, 1.0, 2e-3);

    Peak voigt(2, centre);
    voigt.profile->U = 0.01;
    voigt.profile->V = -0.005;
    voigt.profile->W = 0.003;
    voigt.profile->LX = 0.05;
    voigt.profile->LY = 0.02;
    powderkit::PseudoVoigtWidths widths;
    ASSERT_TRUE(powderkit::pseudoVoigtWidths(voigt.reflexion, voigt.profile, &widths));
    const double voigtArea =
        simpson([&](double x) { return voigt(shape(2), x); }, centre - a, centre + a, 200000);
    EXPECT_NEAR(voigtArea,
                1.0 - widths.eta + widths.eta * 2.0 / M_PI * std::atan(2.0 * a / widths.fwhm),
                1e-9);
}

TEST(ConstantWavelengthProfiles, GaussianLeansTowardLowAnglesForPositiveAsymmetry) {
    Peak peak(0, 20.0);
    peak.profile->W = 0.01;
    const double t = std::tan(10.0 * kDegToRad);
    for (const double p : {0.01, -0.01}) {
        peak.profile->asymmetry = p;
        const double low = peak(shape(0), 19.9);
        const double high = peak(shape(0), 20.1);
        if (p > 0.0) {
            EXPECT_GT(low, high);
        } else {
            EXPECT_LT(low, high);
        }
        // The Rietveld factor 1 − P s Δ² / tan θ₀ on the symmetric Gaussian.
        const double symmetric = 0.9394372787 / 0.1 * std::exp(-2.772588722239781);
        EXPECT_NEAR(low, symmetric * (1.0 + p * 0.01 / t), 1e-12);
        EXPECT_NEAR(high, symmetric * (1.0 - p * 0.01 / t), 1e-12);
        EXPECT_DOUBLE_EQ(peak(shape(0), 20.0), 9.394372787);
    }
}

TEST(ConstantWavelengthProfiles, NegativeAsymmetryLeavesLorentzianAndPseudoVoigtSymmetric) {
    for (const int32_t type : {1, 2}) {
        Peak peak(type, 20.0);
        peak.profile->LX = 0.05;
        peak.profile->W = 0.004;
        peak.profile->asymmetry = -0.01;
        for (const double delta : {0.02, 0.1, 0.5}) {
            EXPECT_DOUBLE_EQ(peak(shape(type), 20.0 - delta), peak(shape(type), 20.0 + delta))
                << type;
        }
        // A positive P below the zero tolerance is still symmetric.
        peak.profile->asymmetry = 1e-14;
        EXPECT_DOUBLE_EQ(peak(shape(type), 19.9), peak(shape(type), 20.1)) << type;
    }
}

TEST(ConstantWavelengthProfiles, FivePointAverageFollowsTheIntegralOverShifts) {
    // A[F](x) is Boole's rule for ∫₀¹ F(x + P c u²) du with c = cot 2θ₀; with
    // the whole shift P c a tenth of the width, the rule is good to 1e-5.
    const double centre = 20.0;
    const double c = 1.0 / std::tan(centre * kDegToRad);
    for (const int32_t type : {1, 2}) {
        Peak peak(type, centre);
        peak.profile->LX = 0.05;
        if (type == 2) peak.profile->W = 0.003;
        peak.profile->asymmetry = 0.0;
        Peak symmetric(type, centre);
        symmetric.profile->LX = peak.profile->LX;
        symmetric.profile->W = peak.profile->W;
        const double h = type == 1 ? 0.05 / std::cos(10.0 * kDegToRad)
                                   : [&] {
                                         powderkit::PseudoVoigtWidths w;
                                         powderkit::pseudoVoigtWidths(peak.reflexion,
                                                                      peak.profile, &w);
                                         return w.fwhm;
                                     }();
        const double p = h / (10.0 * c);
        peak.profile->asymmetry = p;
        double largest = 0.0;
        for (double x = centre - 3.0 * h; x <= centre + 3.0 * h; x += h / 4.0) {
            const double integral = simpson(
                [&](double u) { return symmetric(shape(type), x + p * c * u * u); }, 0.0, 1.0, 400);
            const double value = peak(shape(type), x);
            largest = std::fmax(largest, value);
            EXPECT_NEAR(value, integral, 1e-5 * peak(shape(type), centre)) << type << " " << x;
        }
        // The mass moves to lower angles: the value at 2θ₀ − P c/3 beats 2θ₀ + P c/3.
        EXPECT_GT(peak(shape(type), centre - p * c / 3.0), peak(shape(type), centre + p * c / 3.0));
        // Asymmetric shapes keep unit area.
        const double area = simpson([&](double x) { return peak(shape(type), x); }, centre - 40.0,
                                    centre + 40.0, 400000);
        const double symmetricArea = simpson([&](double x) { return symmetric(shape(type), x); },
                                             centre - 40.0, centre + 40.0, 400000);
        EXPECT_NEAR(area, symmetricArea, 1e-6);
    }
}

TEST(ConstantWavelengthProfiles, CutoffDecidesWhereAsymmetryApplies) {
    CutoffGuard guard;
    // Default cut-off 50°: a peak at 60° is symmetric whatever P.
    for (const int32_t type : {0, 1, 2}) {
        Peak peak(type, 60.0);
        peak.profile->W = 0.01;
        peak.profile->LX = 0.05;
        peak.profile->asymmetry = 0.1;
        EXPECT_DOUBLE_EQ(peak(shape(type), 59.9), peak(shape(type), 60.1)) << type;
    }
    SetAsymmetryCutoff2Theta(30.0);
    for (const int32_t type : {0, 1, 2}) {
        Peak above(type, 40.0);
        above.profile->W = 0.01;
        above.profile->LX = 0.05;
        above.profile->asymmetry = 0.1;
        EXPECT_DOUBLE_EQ(above(shape(type), 39.9), above(shape(type), 40.1)) << type;
        Peak at(type, 30.0);
        at.profile->W = 0.01;
        at.profile->LX = 0.05;
        at.profile->asymmetry = 0.1;
        EXPECT_GT(at(shape(type), 29.9), 1.005 * at(shape(type), 30.1)) << type;
    }
}

TEST(ConstantWavelengthProfiles, PseudoVoigtReachesItsGaussianAndLorentzianLimits) {
    Peak voigt(2, 35.0);
    Peak other(0, 35.0);
    voigt.profile->U = other.profile->U = 0.01;
    voigt.profile->V = other.profile->V = -0.004;
    voigt.profile->W = other.profile->W = 0.006;
    for (const double x : {34.6, 34.95, 35.0, 35.1, 35.4}) {
        EXPECT_NEAR(voigt(shape(2), x), other(shape(0), x), 1e-13 * other(shape(0), 35.0));
    }
    Peak lorentzian(1, 35.0);
    voigt.profile->U = voigt.profile->V = voigt.profile->W = 0.0;
    voigt.profile->LX = lorentzian.profile->LX = 0.04;
    voigt.profile->LY = lorentzian.profile->LY = 0.01;
    for (const double x : {34.6, 34.95, 35.0, 35.1, 35.4}) {
        EXPECT_NEAR(voigt(shape(2), x), lorentzian(shape(1), x),
                    1e-12 * lorentzian(shape(1), 35.0));
    }
}

TEST(ConstantWavelengthProfiles, ThompsonCoxHastingsWidthAndMixing) {
    EXPECT_NEAR(powderkit::thompsonCoxHastingsFwhm(0.3, 0.0), 0.3, 1e-15);
    EXPECT_NEAR(powderkit::thompsonCoxHastingsFwhm(0.0, 0.2), 0.2, 1e-15);
    EXPECT_EQ(powderkit::thompsonCoxHastingsEta(0.0), 0.0);
    EXPECT_NEAR(powderkit::thompsonCoxHastingsEta(1.0), 1.0, 1e-15);
    // Equal widths, by hand: H = 11.67117^(1/5), η at q = 1/H.
    const double h = powderkit::thompsonCoxHastingsFwhm(1.0, 1.0);
    EXPECT_NEAR(h, 1.63464284926084964, 1e-14);
    EXPECT_NEAR(powderkit::thompsonCoxHastingsEta(1.0 / h), 0.682539192289774547, 1e-14);
    // The width scales with its arguments.
    EXPECT_NEAR(powderkit::thompsonCoxHastingsFwhm(0.02, 0.02), 0.02 * h, 1e-15);

    Peak peak(2, 90.0);
    peak.profile->U = 0.002;
    peak.profile->V = -0.002;
    peak.profile->W = 0.005;
    peak.profile->LX = 0.01;
    peak.profile->LY = 0.02;
    powderkit::PseudoVoigtWidths widths;
    ASSERT_TRUE(powderkit::pseudoVoigtWidths(peak.reflexion, peak.profile, &widths));
    EXPECT_NEAR(widths.gaussianFwhm, std::sqrt(0.005), 1e-12);
    EXPECT_NEAR(widths.lorentzianFwhm, 0.01 * std::sqrt(2.0) + 0.02, 1e-12);
    EXPECT_GT(widths.fwhm, widths.lorentzianFwhm);
    EXPECT_GT(widths.eta, 0.0);
    EXPECT_LT(widths.eta, 1.0);
}

TEST(ConstantWavelengthProfiles, PseudoVoigtWidthsRejectsNullPointers) {
    Peak peak(2, 30.0);
    powderkit::PseudoVoigtWidths widths{7.0, 7.0, 7.0, 7.0};
    EXPECT_FALSE(powderkit::pseudoVoigtWidths(nullptr, peak.profile, &widths));
    EXPECT_FALSE(powderkit::pseudoVoigtWidths(peak.reflexion, nullptr, &widths));
    EXPECT_FALSE(powderkit::pseudoVoigtWidths(peak.reflexion, peak.profile, nullptr));
    EXPECT_EQ(widths.gaussianFwhm, 7.0);
    EXPECT_EQ(widths.eta, 7.0);
}

TEST(ConstantWavelengthProfiles, AsymmetryShiftsUseTheCotangentOfTwoTheta) {
    const powderkit::AsymmetryShifts shifts = powderkit::asymmetryShifts(20.0);
    const double c = 1.0 / std::tan(20.0 * kDegToRad);
    EXPECT_NEAR(c, 2.7474774194546, 1e-11);
    EXPECT_DOUBLE_EQ(shifts.shift[0], c / 16.0);
    EXPECT_DOUBLE_EQ(shifts.shift[1], c / 4.0);
    EXPECT_DOUBLE_EQ(shifts.shift[2], 9.0 * c / 16.0);
    EXPECT_DOUBLE_EQ(shifts.shift[3], c);
}

}  // namespace
