// The complex exponential integral against an independent 40-digit table, a
// series summed in long double, and its derivative −e^(−z)/z.
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

TEST(ExponentialIntegral, ZeroAndPointsOnBothBranches) {
    const Complex zero = complexExponentialIntegral(Complex(0.0, 0.0));
    EXPECT_EQ(zero.real(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(zero.imag(), 0.0);
    // Series: 1, −1 and −10 (on the cut, Im = −π); continued fraction: 10,
    // −50, and 6i, where E1(iy) = −Ci(y) + i (Si(y) − π/2).
    const struct {
        Complex z, e1;
    } cases[] = {
        {{1.0, 0.0}, {0.219383934395520273677, 0.0}},
        {{-1.0, 0.0}, {-1.89511781635593675547, -M_PI}},
        {{-10.0, 0.0}, {-2492.22897624187775914, -M_PI}},
        {{10.0, 0.0}, {4.15696892968532427740e-6, 0.0}},
        {{-50.0, 0.0}, {-1.0585636897131690963e20, -M_PI}},
        {{0.0, 6.0}, {0.0680572438932471262, 1.42468755128050653577 - M_PI / 2.0}},
    };
    for (const auto &c : cases) {
        const Complex e1 = complexExponentialIntegral(c.z);
        EXPECT_NEAR(e1.real() / c.e1.real(), 1.0, 1e-13) << c.z;
        EXPECT_NEAR(e1.imag(), c.e1.imag(), 1e-13) << c.z;
        if (c.e1.imag() == 0.0) {
            EXPECT_EQ(e1.imag(), 0.0) << c.z;
        }
    }
}

TEST(ExponentialIntegral, MatchesTheReferenceTableEverywhere) {
    const auto rows = pk_test::readTable("e1.tsv");
    ASSERT_EQ(rows.size(), 281u);
    for (const auto &row : rows) {
        const Complex z(std::stod(row[0]), std::stod(row[1]));
        const Complex expected(std::stod(row[2]), std::stod(row[3]));
        EXPECT_LT(relativeError(complexExponentialIntegral(z), expected), 1e-12) << z;
    }
}

TEST(ExponentialIntegral, AgreesWithALongDoubleSeries) {
    // E1(z) = −γ − ln z + Σ (−1)^(k+1) z^k / (k k!), off the table, on both
    // sides of the |z| = 5 switch and just above and below the cut.
    const Complex points[] = {{0.3, 2.1}, {-1.7, -0.4}, {2.5, 3.0},  {-4.0, 0.5},   {4.9, -1.0},
                              {3.0, 4.5}, {-6.5, 0.2},  {-2.0, 1e-9}, {-2.0, -1e-9}, {0.01, -0.02}};
    for (const Complex point : points) {
        const std::complex<long double> z(point.real(), point.imag());
        std::complex<long double> power(1.0L, 0.0L), sum(0.0L, 0.0L);
        long double factorial = 1.0L;
        for (int k = 1; k < 200; ++k) {
            power *= z;
            factorial *= k;
            sum += (k % 2 == 1 ? 1.0L : -1.0L) * power / (static_cast<long double>(k) * factorial);
        }
        const std::complex<long double> e1 = -0.577215664901532860606512090082402431L - std::log(z) + sum;
        const Complex expected(static_cast<double>(e1.real()), static_cast<double>(e1.imag()));
        EXPECT_LT(relativeError(complexExponentialIntegral(point), expected), 1e-11) << point;
    }
}

TEST(ExponentialIntegral, DerivativeIsMinusExpOverZ) {
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
