// The Chebyshev background: the polynomial table against cos(n t), values at
// the ends and the middle of the range worked out by hand, the derivative by
// one coefficient, and the copy of a profile's coefficients.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "refinement/background.hpp"

namespace {

constexpr int kTerms = PK_BACKGROUND_COEFFICIENTS;

TEST(Background, PolynomialTableIsCosineOfMultipleAngles) {
    // T_n(cos t) = cos(n t) for every n and many t in [0, π].
    double powers[kTerms];
    for (int step = 0; step <= 400; ++step) {
        const double t = M_PI * step / 400.0;
        const double u = std::cos(t);
        powers[0] = 1.0;
        for (int k = 1; k < kTerms; ++k) powers[k] = powers[k - 1] * u;
        for (int n = 0; n < kTerms; ++n) {
            EXPECT_NEAR(powderkit::chebyshevPolynomials[n](powers), std::cos(n * t), 2e-12)
                << "n = " << n << ", t = " << t;
        }
    }
}

TEST(Background, EndsAndMiddleOfTheRange) {
    const double b[kTerms] = {3.0, -1.0, 0.5, 2.0, -0.25, 0.125, 1.5, -2.0, 0.75, 0.1, -0.3, 0.2, 0.05};
    double alternating = 0.0, plain = 0.0, middle = 0.0;
    for (int i = 0; i < kTerms; ++i) {
        alternating += (i % 2 == 0 ? 1.0 : -1.0) * b[i];
        plain += b[i];
        if (i % 2 == 0) middle += (i % 4 == 0 ? 1.0 : -1.0) * b[i];
    }
    EXPECT_NEAR(BackgroundIntensity(b, 10.0, 10.0, 130.0), alternating, 1e-12);
    EXPECT_NEAR(BackgroundIntensity(b, 130.0, 10.0, 130.0), plain, 1e-12);
    EXPECT_NEAR(BackgroundIntensity(b, 70.0, 10.0, 130.0), middle, 1e-12);
    // Any point: the series with T_n(u) = cos(n arccos u), u = 2(x − xMin)/(xMax − xMin) − 1.
    const double x = 41.0;
    const double t = std::acos(2.0 * (x - 10.0) / 120.0 - 1.0);
    double expected = 0.0;
    for (int i = 0; i < kTerms; ++i) expected += b[i] * std::cos(i * t);
    EXPECT_NEAR(BackgroundIntensity(b, x, 10.0, 130.0), expected, 1e-12);
}

TEST(Background, PatternUsesItsFirstAndLastPositions) {
    const double b[kTerms] = {1.0, 2.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.5};
    // A descending pattern maps its first point to u = −1 all the same.
    const double x[5] = {90.0, 70.0, 50.0, 30.0, 10.0};
    double background[6] = {-7.0, -7.0, -7.0, -7.0, -7.0, -7.0};
    CalculateBackgroundIntensity(background, b, x, 5);
    for (int j = 0; j < 5; ++j) {
        const double u = 2.0 * (x[j] - 90.0) / (10.0 - 90.0) - 1.0;
        const double t = std::acos(u);
        EXPECT_NEAR(background[j], 1.0 + 2.0 * u + 0.5 * std::cos(12.0 * t), 1e-12) << j;
    }
    EXPECT_NEAR(background[0], 1.0 - 2.0 + 0.5, 1e-12);
    EXPECT_NEAR(background[4], 3.5, 1e-12);
    EXPECT_EQ(background[5], -7.0);
    // Nothing is written for an empty pattern.
    CalculateBackgroundIntensity(background, b, x, 0);
    CalculateBackgroundIntensity(background, b, x, -3);
    EXPECT_EQ(background[5], -7.0);
}

TEST(Background, DerivativeByOneCoefficient) {
    EXPECT_EQ(DiffBackgroundIntensityWrtBi(13, 5.0, 0.0, 10.0), 0.0);
    EXPECT_EQ(DiffBackgroundIntensityWrtBi(-1, 5.0, 0.0, 10.0), 0.0);
    for (const double x : {-3.0, 0.0, 2.5, 10.0, 14.0}) {
        EXPECT_EQ(DiffBackgroundIntensityWrtBi(0, x, 0.0, 10.0), 1.0);
    }
    // The background is linear in the coefficients: a finite difference in
    // B_i gives T_i exactly up to rounding; the fixed-index functions agree.
    using Fixed = double (*)(double, double, double);
    const Fixed fixed[kTerms] = {
        powderkit::DiffBackgroundIntensityWrtB0,  powderkit::DiffBackgroundIntensityWrtB1,
        powderkit::DiffBackgroundIntensityWrtB2,  powderkit::DiffBackgroundIntensityWrtB3,
        powderkit::DiffBackgroundIntensityWrtB4,  powderkit::DiffBackgroundIntensityWrtB5,
        powderkit::DiffBackgroundIntensityWrtB6,  powderkit::DiffBackgroundIntensityWrtB7,
        powderkit::DiffBackgroundIntensityWrtB8,  powderkit::DiffBackgroundIntensityWrtB9,
        powderkit::DiffBackgroundIntensityWrtB10, powderkit::DiffBackgroundIntensityWrtB11,
        powderkit::DiffBackgroundIntensityWrtB12,
    };
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> coefficient(-2.0, 2.0);
    double b[kTerms];
    for (double &value : b) value = coefficient(random);
    for (const double x : {21.0, 47.5, 90.0}) {
        for (int i = 0; i < kTerms; ++i) {
            const double derivative = DiffBackgroundIntensityWrtBi(i, x, 20.0, 100.0);
            const double saved = b[i];
            b[i] = saved + 0.5;
            const double up = BackgroundIntensity(b, x, 20.0, 100.0);
            b[i] = saved - 0.5;
            const double down = BackgroundIntensity(b, x, 20.0, 100.0);
            b[i] = saved;
            EXPECT_NEAR(derivative, up - down, 1e-12) << i << " " << x;
            EXPECT_NEAR(derivative, std::cos(i * std::acos((x - 20.0) / 40.0 - 1.0)), 1e-12);
            EXPECT_EQ(fixed[i](x, 20.0, 100.0), derivative) << i;
        }
    }
}

TEST(Background, CoefficientsCopyOutOfTheProfile) {
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.54, 5.0, 90.0);
    ASSERT_NE(profile, nullptr);
    for (int i = 0; i < kTerms; ++i) profile->backgroundCoefficients[i] = 1.0 + i;
    double buffer[kTerms + 2];
    for (double &value : buffer) value = -1.0;
    profile->methods->copyChebyschevPolynomialParametersToBuffer(profile, buffer);
    for (int i = 0; i < kTerms; ++i) EXPECT_EQ(buffer[i], 1.0 + i);
    EXPECT_EQ(buffer[kTerms], -1.0);
    EXPECT_EQ(buffer[kTerms + 1], -1.0);
    EXPECT_EQ(profile->methods->copyChebyschevPolynomialParametersToBuffer,
              &copyChebyschevPolynomialParametersToBuffer);
    copyChebyschevPolynomialParametersToBuffer(profile, nullptr);
    freeRefinementProfile(profile);
}

}  // namespace
