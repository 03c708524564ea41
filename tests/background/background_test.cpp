// The Chebyshev background against T_n(u) = cos(n·arccos u) (cosh below u = −1), by key and by finite differences.
#include <gtest/gtest.h>

#include <cmath>

#include "background/background.hpp"
#include "support/finite_difference.hpp"

namespace {

constexpr int kTerms = PK_BACKGROUND_COEFFICIENTS;
double b[kTerms] = {3.0, -1.0, 0.5, 2.0, -0.25, 0.125, 1.5, -2.0, 0.75, 0.1, -0.3, 0.2, 0.05};

double chebyshev(int n, double u) {
    return u >= -1.0 ? std::cos(n * std::acos(u)) : (n % 2 ? -1.0 : 1.0) * std::cosh(n * std::acosh(-u));
}

TEST(Background, DerivativeByEachCoefficientIsItsChebyshevPolynomial) {
    std::vector<std::string> keys;
    for (int i = 0; i < kTerms; ++i) keys.push_back("B" + std::to_string(i));
    pk_test::expectKeys(BackgroundDerivativesHashTable(), keys);
    const auto table = pk_test::owned(BackgroundDerivativesHashTable());
    std::vector<pk_test::DerivativeRow> rows;
    for (int step = -20; step <= 200; step += 4) {  // x from 12 to 100 on a range of 20 to 100
        const double x = 20.0 + 0.4 * step, u = (x - 20.0) / 40.0 - 1.0;
        for (int i = 0; i < kTerms; ++i) {
            const double derivative = DiffBackgroundIntensityWrtBi(i, x, 20.0, 100.0);
            const double t = chebyshev(i, u);
            EXPECT_NEAR(derivative, t, 2e-12 * std::fmax(1.0, std::fabs(t))) << i << " " << x;  // power form: 2¹¹|u|¹²
            const auto member = pk_test::functionForKey<BackgroundDerivativeFunction>(table.get(), keys[i]);
            EXPECT_EQ(member(x, 20.0, 100.0), derivative) << i;
            const auto value = [x] { return BackgroundIntensity(b, x, 20.0, 100.0); };
            rows.push_back({keys[i], [=] { return derivative; }, &b[i], 1e-3, value});
        }
        for (const int32_t i : {13, -1, INT32_MIN}) EXPECT_EQ(DiffBackgroundIntensityWrtBi(i, x, 20.0, 100.0), 0.0);
    }
    pk_test::expectDerivatives(rows);
}

TEST(Background, ValuesAlongAPatternAndTheProfilesCopy) {
    const double x[5] = {90.0, 70.0, 50.0, 30.0, 10.0};  // the range is the first and last: descending starts at u = −1
    double background[6] = {-7.0, -7.0, -7.0, -7.0, -7.0, -7.0};
    CalculateBackgroundIntensity(background, b, x, 5);
    for (int j = 0; j < 5; ++j) EXPECT_EQ(background[j], BackgroundIntensity(b, x[j], 90.0, 10.0)) << j;
    EXPECT_NEAR(background[0], 5.825, pk_test::kRoundOff);  // Σ(−1)^i B_i by hand
    CalculateBackgroundIntensity(background + 5, b, x, 0);  // nothing written for an empty pattern
    EXPECT_EQ(background[5], -7.0);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.54, 5.0, 90.0);
    for (int i = 0; i < kTerms; ++i) profile->backgroundCoefficients[i] = 1.0 + i;
    std::vector<double> buffer(kTerms + 1, -1.0);
    profile->methods->copyChebyschevPolynomialParametersToBuffer(profile, buffer.data());
    for (int i = 0; i <= kTerms; ++i) EXPECT_EQ(buffer[i], i < kTerms ? 1.0 + i : -1.0) << i;
    copyChebyschevPolynomialParametersToBuffer(profile, nullptr);
    freeRefinementProfile(profile);
}

}  // namespace
