// The March correction, its normalisation and the angles it rests on. The
// expected values come from the March function evaluated by hand at angles
// worked out by hand for each geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "intensity/cubic_fixture.hpp"
#include "intensity/intensity.hpp"
#include "support/output_capture.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

// The March function P(α; r), written here from its definition.
double march(double alphaDegrees, double r) {
    const double a = alphaDegrees * kPi / 180.0;
    return std::pow(r * r * std::cos(a) * std::cos(a) + std::sin(a) * std::sin(a) / r, -1.5);
}

Reflexion reflexionOf(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l, int32_t m) {
    Reflexion r{};
    r.h = h;
    r.k = k;
    r.l = l;
    r.multiplicity = m;
    r.dSpacing = dSpacingForHKL(crystal, h, k, l);
    return r;
}

TEST(PreferredOrientation, IntegralOfTheIsotropicMarchFunctionIsPi) {
    EXPECT_NEAR(integrateMarchEquationWithRValue(1.0), kPi, 1e-13);
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    normalizeMarchEquation(crystal);
    EXPECT_NEAR(crystal->marchNormalization, 1.0, 1e-13);
    // The midpoint rule against a fine independent quadrature of 2∫₀^{π/2} P.
    for (double r : {0.5, 0.8, 1.7}) {
        double exact = 0.0;
        const int n = 200000;
        for (int i = 0; i < n; ++i) exact += march((i + 0.5) * 90.0 / n, r) * (kPi / 2 / n);
        EXPECT_NEAR(integrateMarchEquationWithRValue(r), 2.0 * exact, 2e-6 * exact) << r;
    }
    crystal->preferredOrientation = 1.5;  // r = 0.0001, not 0
    normalizeMarchEquation(crystal);
    EXPECT_NEAR(crystal->marchNormalization, kPi / integrateMarchEquationWithRValue(0.0001), 1e-12);
    normalizeMarchEquation(nullptr);
    freeRefinementCrystal(crystal);
}

TEST(PreferredOrientation, CubicPlanesAgainstAxesInBothModes) {
    RefinementCrystal *crystal = pk_test::makeCubicCrystal(4.0);
    crystal->usePreferredOrientation = 1;
    crystal->preferredOrientation = 0.5;
    crystal->marchNormalization = 1.0;
    crystal->preferredOrientationAxis[2] = 1.0;  // (0 0 1)
    // (0 0 1): two planes along the axis (8 each), four across it (2^-1.5);
    // with a mode other than 1, r = 2 is used (0.125 and 2^1.5).
    Reflexion r = reflexionOf(crystal, 0, 0, 1, 6);
    crystal->preferredOrientationMode = 1;
    EXPECT_NEAR(preferredOrientationCorrectionForReflexion(crystal, &r), 2 * 8.0 + 4 * std::pow(2.0, -1.5), 1e-12);
    crystal->preferredOrientationMode = 0;
    EXPECT_NEAR(preferredOrientationCorrectionForReflexion(crystal, &r), 2 * 0.125 + 4 * std::pow(2.0, 1.5), 1e-12);

    // (1 1 0) against [1 1 0]: two planes at 0°, two at 90°, eight at 60°,
    // the axis given as plane indices or as a direction.
    crystal->preferredOrientationMode = 1;
    crystal->preferredOrientationAxis[0] = crystal->preferredOrientationAxis[1] = 1.0;
    crystal->preferredOrientationAxis[2] = 0.0;
    normalizeMarchEquation(crystal);
    Reflexion s = reflexionOf(crystal, 1, 1, 0, 12);
    const double expected = (2 * march(0, 0.5) + 2 * march(90, 0.5) + 8 * march(60, 0.5)) * crystal->marchNormalization;
    EXPECT_NEAR(preferredOrientationCorrectionForReflexion(crystal, &s), expected, 1e-10);
    crystal->preferredOrientationAxisType = 2;
    EXPECT_NEAR(preferredOrientationCorrectionForReflexion(crystal, &s), expected, 1e-10);

    // Off, or a zero axis: the multiplicity; t = 0: every plane weighs 1.
    Reflexion t = reflexionOf(crystal, 1, 2, 3, 48);
    crystal->usePreferredOrientation = 0;
    EXPECT_EQ(preferredOrientationCorrectionForReflexion(crystal, &t), 48.0);
    crystal->usePreferredOrientation = 1;
    crystal->preferredOrientationAxis[0] = crystal->preferredOrientationAxis[1] = 0.0;
    EXPECT_EQ(preferredOrientationCorrectionForReflexion(crystal, &t), 48.0);
    crystal->preferredOrientationAxis[2] = 1.0;
    crystal->preferredOrientation = 0.0;
    normalizeMarchEquation(crystal);
    EXPECT_NEAR(preferredOrientationCorrectionForReflexion(crystal, &t), 48.0, 1e-9);
    EXPECT_EQ(preferredOrientationCorrectionForReflexion(nullptr, &t), 0.0);
    EXPECT_EQ(preferredOrientationCorrectionForReflexion(crystal, nullptr), 0.0);
    freeRefinementCrystal(crystal);
}

TEST(PreferredOrientation, TetragonalAndHexagonalReflexionsAgainstHandAngles) {
    using pk_test::closeGroup;
    // 4/mmm, a = 3, c = 5, axis (0 0 1): the normal of (1 0 1) makes
    // tan α = (1/a)/(1/c) = c/a with the c axis, for all eight planes.
    RefinementCrystal *tetragonal = pk_test::makeCrystal(
        3, 3, 5, 90, 90, 90, closeGroup({pk_test::kFourFoldZ, pk_test::kTwoFoldXY, pk_test::kInversion}));
    ASSERT_EQ(tetragonal->symmetryOperators->count, 16);
    tetragonal->usePreferredOrientation = 1;
    tetragonal->preferredOrientation = 0.3;
    tetragonal->preferredOrientationMode = 1;
    tetragonal->preferredOrientationAxis[2] = 1.0;
    normalizeMarchEquation(tetragonal);
    Reflexion r = reflexionOf(tetragonal, 1, 0, 1, 8);
    const double alpha = std::atan(5.0 / 3.0) * 180.0 / kPi;
    EXPECT_NEAR(preferredOrientationCorrectionForReflexion(tetragonal, &r),
                8 * march(alpha, 0.7) * tetragonal->marchNormalization, 1e-10);

    // 6/mmm, a = 3, c = 5, axis (0 0 1): for (1 0 2), cos α = l·d/c with
    // 1/d² = 4(h² + hk + k²)/(3a²) + l²/c², for all twelve planes.
    RefinementCrystal *hexagonal = pk_test::makeCrystal(
        3, 3, 5, 90, 90, 120, closeGroup({pk_test::kSixFoldZ, pk_test::kTwoFoldXY, pk_test::kInversion}));
    ASSERT_EQ(hexagonal->symmetryOperators->count, 24);
    hexagonal->usePreferredOrientation = 1;
    hexagonal->preferredOrientation = -0.4;  // r = 1.4
    hexagonal->preferredOrientationMode = 1;
    hexagonal->preferredOrientationAxis[2] = 2.9;  // truncated to 2: the same axis
    normalizeMarchEquation(hexagonal);
    const double d = 1.0 / std::sqrt(4.0 / (3.0 * 9.0) + 4.0 / 25.0);
    Reflexion s = reflexionOf(hexagonal, 1, 0, 2, 12);
    EXPECT_NEAR(s.dSpacing, d, 1e-9);
    const double angle = std::acos(2.0 * d / 5.0) * 180.0 / kPi;
    EXPECT_NEAR(preferredOrientationCorrectionForReflexion(hexagonal, &s),
                12 * march(angle, 1.4) * hexagonal->marchNormalization, 1e-9);
    freeRefinementCrystal(tetragonal);
    freeRefinementCrystal(hexagonal);
}

TEST(PreferredOrientation, AnglesBetweenDirectionsInTheCrystalMetric) {
    RefinementCrystal *hexagonal = pk_test::makeCrystal(3, 3, 5, 90, 90, 120, {});
    const double (*g)[3] = hexagonal->metricTensor;
    EXPECT_NEAR(powderkit::angleInMetric({1, 0, 0}, {0, 1, 0}, g), 120.0, 1e-8);
    EXPECT_NEAR(powderkit::angleInMetric({1, 0, 0}, {1, 1, 0}, g), 60.0, 1e-8);
    EXPECT_NEAR(powderkit::angleInMetric({0, 0, 1}, {1, 2, 0}, g), 90.0, 1e-8);
    RefinementCrystal *tetragonal = pk_test::makeCrystal(3, 3, 5, 90, 90, 90, {});
    EXPECT_NEAR(powderkit::angleInMetric({1, 0, 1}, {0, 0, 1}, tetragonal->metricTensor),
                std::atan(3.0 / 5.0) * 180.0 / kPi, 1e-8);

    EXPECT_EQ(powderkit::angleBetweenVectors({0, 0, 0}, {1, 0, 0}), -999.9);
    EXPECT_EQ(powderkit::angleBetweenVectors({1, 0, 0}, {-2, 0, 0}), 180.0);
    EXPECT_EQ(powderkit::angleBetweenVectors({0, 3, 0}, {0, 1, 0}), 0.0);

    powderkit::Matrix3 singular{{{1, 2, 3}, {2, 4, 6}, {0, 0, 1}}};
    powderkit::Matrix3 inverse{};
    bool inverted = true;
    const std::string err = pk_test::captureStderr([&] { inverted = powderkit::invertMatrix3(singular, inverse); });
    EXPECT_FALSE(inverted);
    EXPECT_EQ(err, "Sorry, an illegal operation occurred: singular matrix\n");
    powderkit::Matrix3 m{{{2, 1, 0}, {0, 3, 1}, {1, 0, 4}}};
    ASSERT_TRUE(powderkit::invertMatrix3(m, inverse));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += m[static_cast<size_t>(i)][static_cast<size_t>(k)] * inverse[static_cast<size_t>(k)][static_cast<size_t>(j)];
            EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-14);
        }
    freeRefinementCrystal(hexagonal);
    freeRefinementCrystal(tetragonal);
}

}  // namespace
