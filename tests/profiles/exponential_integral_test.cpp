// The complex exponential integral against an independent 40-digit table, on
// both sides of its cut, and its derivative −e^(−z)/z.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <string>

#include "profiles/profiles.hpp"
#include "support/test_data.hpp"

namespace {

using Complex = std::complex<double>;
using powderkit::complexExponentialIntegral;

double relativeError(Complex value, Complex expected) {
    return std::abs(value - expected) / std::abs(expected);
}

TEST(ExponentialIntegral, MatchesTheReferenceTableWithTheCutOnTheNegativeAxis) {
    const Complex zero = complexExponentialIntegral(Complex(0.0, 0.0));
    EXPECT_TRUE(zero.real() == std::numeric_limits<double>::infinity() && zero.imag() == 0.0);
    const auto rows = pk_test::readTable("e1.tsv");
    ASSERT_EQ(rows.size(), 281u);
    for (const auto &row : rows) {
        const Complex z(std::stod(row[0]), std::stod(row[1]));
        const Complex expected(std::stod(row[2]), std::stod(row[3]));
        const Complex e1 = complexExponentialIntegral(z);
        EXPECT_LT(relativeError(e1, expected), 1e-12) << z;
        // On the real axis (E1 up to 1e20 at −50): Re to 1e-13, Im 0 right of 0 and −π left.
        if (z.imag() != 0.0) continue;
        EXPECT_NEAR(e1.real() / expected.real(), 1.0, 1e-13) << z;
        if (z.real() > 0.0) {
            EXPECT_EQ(e1.imag(), 0.0) << z;
        } else {
            EXPECT_NEAR(e1.imag(), -M_PI, 1e-13) << z;
        }
    }
}

TEST(ExponentialIntegral, SidesOfTheCutAndTheDerivative) {
    // Just above the cut Im E1 is −π, just below +π, with Re that of the table's E1(−2) to
    // within |E1'| 1e-9 ≈ 3.7e-9: the sign of a tiny imaginary part decides the side.
    for (const double side : {1e-9, -1e-9}) {
        const Complex expected(-4.9542343560018901634, side > 0.0 ? -M_PI : M_PI);
        EXPECT_LT(std::abs(complexExponentialIntegral({-2.0, side}) - expected), 1e-8) << side;
    }
    // Central differences along the real direction, in both branches.
    const Complex points[] = {{0.7, 0.3}, {2.0, -1.5}, {7.0, 2.0}, {-3.0, 8.0}, {15.0, -30.0}};
    for (const Complex z : points) {
        const double h = 1e-5 * std::abs(z);
        const Complex difference =
            (complexExponentialIntegral(z + h) - complexExponentialIntegral(z - h)) / (2.0 * h);
        EXPECT_LT(relativeError(difference, -std::exp(-z) / z), 1e-7) << z;
    }
}

}  // namespace
