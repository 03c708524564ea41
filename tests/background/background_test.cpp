// The Chebyshev background against the second formula T_n(u) = cos(n·arccos u)
// (and (−1)^n cosh(n·arcosh(−u)) below −1): the derivative by one coefficient
// over and beyond the range, values at the ends, the middle and any point,
// the pattern range, and the profile's copy.
#include <gtest/gtest.h>

#include <cmath>

#include "background/background.hpp"

namespace {

constexpr int kTerms = PK_BACKGROUND_COEFFICIENTS;

TEST(Background, DerivativeByOneCoefficientIsTheChebyshevPolynomial) {
    using namespace powderkit;
    using Fixed = double (*)(double, double, double);
    const Fixed fixed[kTerms] = {
        DiffBackgroundIntensityWrtB0, DiffBackgroundIntensityWrtB1,  DiffBackgroundIntensityWrtB2,
        DiffBackgroundIntensityWrtB3, DiffBackgroundIntensityWrtB4,  DiffBackgroundIntensityWrtB5,
        DiffBackgroundIntensityWrtB6, DiffBackgroundIntensityWrtB7,  DiffBackgroundIntensityWrtB8,
        DiffBackgroundIntensityWrtB9, DiffBackgroundIntensityWrtB10, DiffBackgroundIntensityWrtB11,
        DiffBackgroundIntensityWrtB12};
    for (int step = -20; step <= 200; ++step) {  // x from 12 to 100 over a range of 20 to 100
        const double x = 20.0 + 0.4 * step, u = (x - 20.0) / 40.0 - 1.0;
        for (int i = 0; i < kTerms; ++i) {
            const double expected = u >= -1.0 ? std::cos(i * std::acos(u))
                                              : (i % 2 ? -1.0 : 1.0) * std::cosh(i * std::acosh(-u));
            const double derivative = DiffBackgroundIntensityWrtBi(i, x, 20.0, 100.0);
            EXPECT_NEAR(derivative, expected, 2e-12 * std::fmax(1.0, std::fabs(expected))) << i << " " << x;
            EXPECT_EQ(fixed[i](x, 20.0, 100.0), derivative) << i;
        }
        EXPECT_EQ(DiffBackgroundIntensityWrtBi(0, x, 20.0, 100.0), 1.0);
        EXPECT_EQ(DiffBackgroundIntensityWrtBi(13, x, 20.0, 100.0), 0.0);
        EXPECT_EQ(DiffBackgroundIntensityWrtBi(-1, x, 20.0, 100.0), 0.0);
    }
}

TEST(Background, ValuesOverTheRangeAndAlongAPattern) {
    // u = −1, +1, 0: Σ(−1)^i B_i, Σ B_i, B0 − B2 + B4 − …; and any point by the second formula.
    const double b[kTerms] = {3.0, -1.0, 0.5, 2.0, -0.25, 0.125, 1.5, -2.0, 0.75, 0.1, -0.3, 0.2, 0.05};
    double alternating = 0.0, plain = 0.0, middle = 0.0, any = 0.0;
    for (int i = 0; i < kTerms; ++i) {
        alternating += (i % 2 == 0 ? 1.0 : -1.0) * b[i];
        plain += b[i];
        middle += i % 2 == 0 ? (i % 4 == 0 ? 1.0 : -1.0) * b[i] : 0.0;
        any += b[i] * std::cos(i * std::acos(2.0 * (41.0 - 10.0) / 120.0 - 1.0));
    }
    EXPECT_NEAR(BackgroundIntensity(b, 10.0, 10.0, 130.0), alternating, 1e-12);
    EXPECT_NEAR(BackgroundIntensity(b, 130.0, 10.0, 130.0), plain, 1e-12);
    EXPECT_NEAR(BackgroundIntensity(b, 70.0, 10.0, 130.0), middle, 1e-12);
    EXPECT_NEAR(BackgroundIntensity(b, 41.0, 10.0, 130.0), any, 1e-12);
    // The range is the first and last position: a descending pattern maps its first point to u = −1.
    const double x[5] = {90.0, 70.0, 50.0, 30.0, 10.0};
    double background[6] = {-7.0, -7.0, -7.0, -7.0, -7.0, -7.0};
    CalculateBackgroundIntensity(background, b, x, 5);
    for (int j = 0; j < 5; ++j) EXPECT_EQ(background[j], BackgroundIntensity(b, x[j], 90.0, 10.0)) << j;
    EXPECT_NEAR(background[0], alternating, 1e-12);
    CalculateBackgroundIntensity(background + 5, b, x, 0);  // nothing written for an empty pattern
    CalculateBackgroundIntensity(background + 5, b, x, -3);
    EXPECT_EQ(background[5], -7.0);
}

TEST(Background, CoefficientsCopyOutOfTheProfile) {
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.54, 5.0, 90.0);
    ASSERT_NE(profile, nullptr);
    for (int i = 0; i < kTerms; ++i) profile->backgroundCoefficients[i] = 1.0 + i;
    double buffer[kTerms + 2] = {};
    buffer[kTerms] = buffer[kTerms + 1] = -1.0;
    profile->methods->copyChebyschevPolynomialParametersToBuffer(profile, buffer);
    for (int i = 0; i < kTerms + 2; ++i) EXPECT_EQ(buffer[i], i < kTerms ? 1.0 + i : -1.0) << i;
    copyChebyschevPolynomialParametersToBuffer(profile, nullptr);
    freeRefinementProfile(profile);
}

}  // namespace
