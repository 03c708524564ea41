// The constant-wavelength profile derivatives, key by key through the
// derivative tables, against central differences of the value functions at
// many positions across peaks of a triclinic crystal, below and above the
// asymmetry cut-off. Where a rule deliberately differs from the exact
// derivative the difference is predicted, not skipped:
//  - "Zero": the centre term is per degree and the width terms per radian,
//    so the member equals D_c + (D_t − D_c)·180/π, with D_t the difference by
//    the peak position and D_c = −(difference by x), the centre alone;
//  - the averaged (asymmetric) Lorentzian and pseudo-Voigt hold their shifts
//    fixed, so their position members equal the five-point average, with
//    shifts worked out here, of the symmetric members;
//  - the cell members equal the position member times the difference of the
//    peak position by the cell parameter (per radian for the angles).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "derivatives/profile_derivatives.hpp"
#include "support/derivative_tables.hpp"
#include "support/finite_difference.hpp"

namespace {

using pk_test::centralDifferenceOfField;
using pk_test::derivativeAgrees;
using pk_test::kDegreesPerRadian;

// Restores the process-wide cut-off when a test leaves.
struct CutoffGuard {
    ~CutoffGuard() { SetAsymmetryCutoff2Theta(50.0); }
};

// One reflexion of a triclinic crystal placed on a 2θ pattern.
struct CwPeak {
    RefinementCrystal *crystal;
    RefinementProfile *profile;
    Reflexion reflexion{};
    std::array<int32_t, 3> hkl;

    CwPeak(int32_t type, std::array<int32_t, 3> indices, double asymmetry) : hkl(indices) {
        crystal = pk_test::makeTriclinicCrystal();
        profile = makeRefinementProfile(1, 2, type, 1.5406, 5.0, 150.0);
        profile->U = 0.004;
        profile->V = -0.003;
        profile->W = 0.006;
        profile->LX = 0.03;
        profile->LY = 0.02;
        profile->zero = 0.05;
        profile->asymmetry = asymmetry;
        reflexion.h = hkl[0];
        reflexion.k = hkl[1];
        reflexion.l = hkl[2];
        place();
    }
    ~CwPeak() {
        freeRefinementCrystal(crystal);
        freeRefinementProfile(profile);
    }
    void refreshCell() {
        calculateReciprocalCell(crystal);
        calculateMetricTensor(crystal);
    }
    double twoThetaOfCell() {
        return twoThetaForDSpacing(profile, dSpacingForHKL(crystal, hkl[0], hkl[1], hkl[2]), 0);
    }
    void place() {
        reflexion.dSpacing = dSpacingForHKL(crystal, hkl[0], hkl[1], hkl[2]);
        reflexion.peakPosition = twoThetaOfCell();
    }
    double value(double x) {
        return ProfileFuncForProfileType(profile->profileType)(x, &reflexion, profile);
    }
    double member(ProfileDerivativeFunction f, double x) {
        return f(x, crystal, &reflexion, profile);
    }
    // Positions across the peak, every fifth of a nominal width of 0.1°.
    std::vector<double> positions() const {
        std::vector<double> xs;
        for (int k = -15; k <= 15; ++k) xs.push_back(reflexion.peakPosition + 0.02 * k);
        return xs;
    }
};

const std::array<std::array<int32_t, 3>, 5> kPlanes = {
    {{1, 0, 0}, {1, 2, -3}, {2, -1, 1}, {-3, 1, 2}, {4, 3, -1}}};

const std::vector<std::string> kKeys[3] = {
    {"GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale",
     "Asymmetry"}};

// The profile field a width key moves.
double *widthField(RefinementProfile *profile, const std::string &key) {
    if (key == "GU") return &profile->U;
    if (key == "GV") return &profile->V;
    if (key == "GW") return &profile->W;
    if (key == "LX") return &profile->LX;
    if (key == "LY") return &profile->LY;
    return nullptr;
}

const std::array<pk_test::CellParameterStep, 6> kCellKeys = pk_test::cellParameterSteps(1e-6, 1e-5);

// The centre alone and the whole peak-position difference at x.
double centreDifference(CwPeak &peak, double x) {
    return -pk_test::centralDifference([&](double p) { return peak.value(p); }, x, 1e-6);
}
double positionDifference(CwPeak &peak, double x) {
    return centralDifferenceOfField(&peak.reflexion.peakPosition, 1e-6,
                                    [&] { return peak.value(x); });
}

// The Zero member predicted from differences of the value: exact for the
// Gaussian and for the symmetric Lorentzian and pseudo-Voigt.
double predictedPositionRate(CwPeak &peak, double x) {
    const double centre = centreDifference(peak, x);
    return centre + (positionDifference(peak, x) - centre) * kDegreesPerRadian;
}

// The Zero member of an averaged shape predicted from its symmetric member
// (asymmetry 0) at the five points x + P c (k/4)², c = cot 2θ₀.
double predictedAveragedPositionRate(CwPeak &peak, ProfileDerivativeFunction zero, double x) {
    const double asymmetry = peak.profile->asymmetry;
    const double c = 1.0 / std::tan(peak.reflexion.peakPosition * M_PI / 180.0);
    const double weights[5] = {7.0 / 90, 32.0 / 90, 12.0 / 90, 32.0 / 90, 7.0 / 90};
    peak.profile->asymmetry = 0.0;
    double sum = 0.0;
    for (int k = 0; k < 5; ++k) {
        sum += weights[k] * peak.member(zero, x + asymmetry * c * (k / 4.0) * (k / 4.0));
    }
    peak.profile->asymmetry = asymmetry;
    return sum;
}

// Checks every x of one key at a relative tolerance of the key's largest
// expected value over the peak. A key that does not move the peak at all
// (b and c for a reflexion h 0 0) must give 0 to rounding.
void expectAllAgree(const std::vector<double> &analytic, const std::vector<double> &expected,
                    double tolerance) {
    double scale = 0.0;
    for (double e : expected) scale = std::max(scale, std::fabs(e));
    if (scale == 0.0) scale = 1e-3;
    for (size_t i = 0; i < analytic.size(); ++i) {
        EXPECT_TRUE(derivativeAgrees(analytic[i], expected[i], tolerance, scale)) << "point " << i;
    }
}

bool averages(const CwPeak &peak) {
    return peak.profile->profileType != PK_PROFILE_GAUSSIAN &&
           peak.profile->asymmetry >= 5.684e-14 && peak.reflexion.peakPosition <= 50.0;
}

void checkEveryKey(int32_t type, double asymmetry) {
    pk_test::TablePointer table(ProfileDerivativesHashTable(type));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->count, static_cast<int32_t>(kKeys[type].size()));
    bool sawBelow = false, sawAbove = false;
    for (const auto &hkl : kPlanes) {
        CwPeak peak(type, hkl, asymmetry);
        const double twoTheta = peak.reflexion.peakPosition;
        (twoTheta <= 50.0 ? sawBelow : sawAbove) = true;
        const std::vector<double> xs = peak.positions();
        for (const std::string &key : kKeys[type]) {
            SCOPED_TRACE(testing::Message() << "type " << type << " P " << asymmetry << " key "
                                            << key << " at 2θ₀ " << twoTheta);
            const auto member =
                pk_test::functionForKey<ProfileDerivativeFunction>(table.get(), key.c_str());
            ASSERT_NE(member, nullptr);
            std::vector<double> analytic, expected;
            for (double x : xs) analytic.push_back(peak.member(member, x));

            if (double *field = widthField(peak.profile, key)) {
                const double step = 1e-4 * std::fabs(*field);
                for (double x : xs) {
                    expected.push_back(
                        centralDifferenceOfField(field, step, [&] { return peak.value(x); }));
                }
                expectAllAgree(analytic, expected, 1e-6);
            } else if (key == "Zero") {
                const auto zero = member;
                for (double x : xs) {
                    expected.push_back(averages(peak) ? predictedAveragedPositionRate(peak, zero, x)
                                                      : predictedPositionRate(peak, x));
                }
                expectAllAgree(analytic, expected, 2e-6);
            } else if (key == "Scale") {
                for (double x : xs) expected.push_back(peak.value(x) / 2.5);
                expectAllAgree(analytic, expected, 1e-14);
            } else if (key == "Asymmetry") {
                const bool applies = type == PK_PROFILE_GAUSSIAN ? twoTheta <= 50.0 : averages(peak);
                if (!applies) {
                    for (double value : analytic) EXPECT_EQ(value, 0.0);
                    continue;
                }
                for (double x : xs) {
                    expected.push_back(centralDifferenceOfField(&peak.profile->asymmetry, 1e-6,
                                                                [&] { return peak.value(x); }));
                }
                expectAllAgree(analytic, expected, 1e-6);
            } else {
                const pk_test::CellParameterStep *cell = nullptr;
                for (const pk_test::CellParameterStep &c : kCellKeys) {
                    if (key == c.key) cell = &c;
                }
                ASSERT_NE(cell, nullptr);
                const double positionRate =
                    centralDifferenceOfField(&(peak.crystal->*cell->field), cell->step, [&] {
                        peak.refreshCell();
                        return peak.twoThetaOfCell();
                    }) *
                    cell->unitFactor;
                const auto zero =
                    pk_test::functionForKey<ProfileDerivativeFunction>(table.get(), "Zero");
                for (double x : xs) expected.push_back(peak.member(zero, x) * positionRate);
                expectAllAgree(analytic, expected, 1e-6);
            }
        }
    }
    EXPECT_TRUE(sawBelow && sawAbove);
}

TEST(ConstantWavelengthDerivatives, GaussianEveryKeyWithoutAsymmetry) { checkEveryKey(0, 0.0); }
TEST(ConstantWavelengthDerivatives, GaussianEveryKeyWithAsymmetry) {
    checkEveryKey(0, 0.05);
    checkEveryKey(0, -0.05);
}
TEST(ConstantWavelengthDerivatives, LorentzianEveryKeySymmetric) { checkEveryKey(1, 0.0); }
TEST(ConstantWavelengthDerivatives, LorentzianEveryKeyAveraged) { checkEveryKey(1, 0.05); }
TEST(ConstantWavelengthDerivatives, PseudoVoigtEveryKeySymmetric) { checkEveryKey(2, 0.0); }
TEST(ConstantWavelengthDerivatives, PseudoVoigtEveryKeyAveraged) { checkEveryKey(2, 0.05); }

TEST(ConstantWavelengthDerivatives, AsymmetryMembersFollowTheSwitch) {
    CutoffGuard guard;
    // The Lorentzian and pseudo-Voigt average only for P ≥ ε: from P = 0 a
    // refinement receives no derivative for P with them; the Gaussian's
    // factor does not need P to be positive.
    for (int32_t type : {0, 1, 2}) {
        CwPeak peak(type, {1, 0, 0}, 0.0);
        const double x = peak.reflexion.peakPosition - 0.05;
        const double gaussian = powderkit::DiffGaussianProfileWrtAsymmetry(x, peak.crystal, &peak.reflexion,
                                                                 peak.profile);
        EXPECT_GT(gaussian, 0.0);  // −|Δ|Δ/t · G > 0 below the peak
        EXPECT_EQ(powderkit::DiffLorentzianProfileWrtAsymmetry(x, peak.crystal, &peak.reflexion,
                                                               peak.profile),
                  0.0);
        EXPECT_EQ(powderkit::DiffPseudoVoigtProfileWrtAsymmetry(x, peak.crystal,
                                                                &peak.reflexion, peak.profile),
                  0.0);
        // Above the cut-off every asymmetry member is 0, whatever P.
        peak.profile->asymmetry = 0.05;
        SetAsymmetryCutoff2Theta(peak.reflexion.peakPosition - 1.0);
        EXPECT_EQ(powderkit::DiffGaussianProfileWrtAsymmetry(x, peak.crystal, &peak.reflexion, peak.profile),
                  0.0);
        EXPECT_EQ(powderkit::DiffLorentzianProfileWrtAsymmetry(x, peak.crystal, &peak.reflexion,
                                                               peak.profile),
                  0.0);
        EXPECT_EQ(powderkit::DiffPseudoVoigtProfileWrtAsymmetry(x, peak.crystal,
                                                                &peak.reflexion, peak.profile),
                  0.0);
        SetAsymmetryCutoff2Theta(50.0);
    }
}

TEST(ConstantWavelengthDerivatives, GaussianAtThePeakCentre) {
    // Δ = 0: ∂Φ/∂H_G = −G(0; H_G)/H_G, the asymmetry member 0, and the
    // position rate is the width term alone: A = 1 and ∂A/∂2θ₀ = 0.
    CwPeak peak(0, {1, 0, 0}, 0.05);
    const double x = peak.reflexion.peakPosition;
    const double theta = x * 0.5 * M_PI / 180.0;
    const double t = std::tan(theta);
    const double hG = std::sqrt(0.004 * t * t - 0.003 * t + 0.006);
    const double height = 0.9394372787 / hG;
    EXPECT_NEAR(powderkit::diffGaussianProfileWrtFwhm(x, &peak.reflexion, peak.profile),
                -height / hG, 1e-9 * height / hG);
    EXPECT_EQ(powderkit::DiffGaussianProfileWrtAsymmetry(x, peak.crystal, &peak.reflexion,
                                                         peak.profile),
              0.0);
    // dH_G/d2θ₀ = (2Ut + V)/(4 H_G cos²θ₀) per radian of 2θ₀.
    const double widthRate = (2.0 * 0.004 * t - 0.003) / (4.0 * hG * std::pow(std::cos(theta), 2));
    EXPECT_NEAR(powderkit::diffGaussianFwhmWrtPosition(x, hG, peak.profile), widthRate,
                1e-9 * std::fabs(widthRate));
    EXPECT_NEAR(powderkit::diffGaussianProfileWrtPosition(x, &peak.reflexion, peak.profile),
                -height / hG * widthRate, 1e-9 * height / hG * std::fabs(widthRate));
}

TEST(ConstantWavelengthDerivatives, ZeroWidthBuildingBlocksReturnZero) {
    Reflexion reflexion{};
    reflexion.peakPosition = 30.0;
    for (double width : {0.0, 1e-14, -0.1}) {
        EXPECT_EQ(powderkit::diffLorentzianWrtFwhm(30.01, &reflexion, width), 0.0);
        EXPECT_EQ(powderkit::diffLorentzianWrtCentre(30.01, 30.0, width), 0.0);
        EXPECT_EQ(powderkit::diffGaussianWrtCentre(30.01, 30.0, width), 0.0);
    }
    // With U = V = W = 0 the Gaussian width has no rate (its denominator 4 H
    // cos²θ₀ vanishes), and a non-zero width gives the Caglioti rate.
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 150.0);
    profile->U = profile->V = profile->W = 0.0;
    EXPECT_EQ(powderkit::diffGaussianFwhmWrtPosition(30.0, 0.0, profile), 0.0);
    freeRefinementProfile(profile);
}

}  // namespace
