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

// E1(z) = −γ − ln z + Σ_{k≥1} (−1)^(k+1) z^k / (k k!), in long double, summed
// until the terms no longer change the sum; only for moderate |z|.
std::complex<long double> seriesInLongDouble(Complex argument) {
    const std::complex<long double> z(argument.real(), argument.imag());
    std::complex<long double> power(1.0L, 0.0L);
    long double factorial = 1.0L;
    std::complex<long double> sum(0.0L, 0.0L);
    for (int k = 1; k < 200; ++k) {
        power *= z;
        factorial *= static_cast<long double>(k);
        const std::complex<long double> term =
            (k % 2 == 1 ? 1.0L : -1.0L) * power / (static_cast<long double>(k) * factorial);
        sum += term;
    }
    const long double euler = 0.577215664901532860606512090082402431L;
    return -euler - std::log(z) + sum;
}

TEST(ExponentialIntegral, ZeroGivesPositiveInfinity) {
    const Complex e1 = complexExponentialIntegral(Complex(0.0, 0.0));
    EXPECT_EQ(e1.real(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(e1.imag(), 0.0);
}

TEST(ExponentialIntegral, NamedPointsOnBothBranches) {
    // Series: E1(1), E1(−1 + 0i) on the cut, E1(−10 + 0i) (|z| < 40, x < −2|y|).
    Complex e1 = complexExponentialIntegral(Complex(1.0, 0.0));
    EXPECT_NEAR(e1.real(), 0.219383934395520273677, 1e-14);
    EXPECT_EQ(e1.imag(), 0.0);
    e1 = complexExponentialIntegral(Complex(-1.0, 0.0));
    EXPECT_NEAR(e1.real(), -1.89511781635593675547, 1e-13);
    EXPECT_NEAR(e1.imag(), -3.141592653589793, 1e-15);
    e1 = complexExponentialIntegral(Complex(-10.0, 0.0));
    EXPECT_NEAR(e1.real() / -2492.22897624187775913, 1.0, 1e-13);
    EXPECT_NEAR(e1.imag(), -3.141592653589793, 1e-12);
    // Continued fraction: E1(10), E1(−50 + 0i), E1(6i).
    e1 = complexExponentialIntegral(Complex(10.0, 0.0));
    EXPECT_NEAR(e1.real() / 4.15696892968532427740e-6, 1.0, 1e-13);
    EXPECT_EQ(e1.imag(), 0.0);
    e1 = complexExponentialIntegral(Complex(-50.0, 0.0));
    EXPECT_NEAR(e1.real() / -1.0585636897131690963e20, 1.0, 1e-13);
    EXPECT_NEAR(e1.imag(), -3.141592653589793, 1e-12);
    // E1(iy) = −Ci(y) + i(Si(y) − π/2); Ci(6) = −0.0680572438932471, Si(6) = 1.4246875512805065.
    e1 = complexExponentialIntegral(Complex(0.0, 6.0));
    EXPECT_NEAR(e1.real(), 0.0680572438932471, 1e-14);
    EXPECT_NEAR(e1.imag(), 1.4246875512805065 - 1.5707963267948966, 1e-14);
}

TEST(ExponentialIntegral, MatchesTheReferenceTableEverywhere) {
    const auto rows = pk_test::readTable("e1.tsv");
    ASSERT_EQ(rows.size(), 281u);
    for (const auto &row : rows) {
        const Complex z(std::stod(row[0]), std::stod(row[1]));
        const Complex expected(std::stod(row[2]), std::stod(row[3]));
        const Complex e1 = complexExponentialIntegral(z);
        EXPECT_LT(relativeError(e1, expected), 1e-12) << "z = " << z;
        // The cut: Im E1 = −π exactly on the negative real axis.
        if (z.imag() == 0.0 && z.real() < 0.0) {
            EXPECT_NEAR(e1.imag(), -M_PI, 1e-12) << z;
        }
    }
}

TEST(ExponentialIntegral, AgreesWithALongDoubleSeries) {
    // Off the table, on both sides of the |z| = 5 switch and near the cut.
    const Complex points[] = {{0.3, 2.1},   {-1.7, -0.4}, {2.5, 3.0},  {-4.0, 0.5},
                              {4.9, -1.0},  {3.0, 4.5},   {-6.5, 0.2}, {-2.0, 1e-9},
                              {-2.0, -1e-9}, {0.01, -0.02}};
    for (const Complex z : points) {
        const std::complex<long double> expected = seriesInLongDouble(z);
        const Complex reference(static_cast<double>(expected.real()),
                                static_cast<double>(expected.imag()));
        EXPECT_LT(relativeError(complexExponentialIntegral(z), reference), 1e-11) << z;
    }
}

TEST(ExponentialIntegral, DerivativeIsMinusExpOverZ) {
    // dE1/dz = −e^(−z)/z, by central differences along the real direction,
    // in both the series and the continued-fraction regions.
    const Complex points[] = {{0.7, 0.3}, {2.0, -1.5}, {7.0, 2.0}, {-3.0, 8.0}, {15.0, -30.0}};
    for (const Complex z : points) {
        const double h = 1e-5 * std::abs(z);
        const Complex difference =
            (complexExponentialIntegral(z + h) - complexExponentialIntegral(z - h)) / (2.0 * h);
        const Complex expected = -std::exp(-z) / z;
        EXPECT_LT(relativeError(difference, expected), 1e-7) << z;
    }
}

TEST(ExponentialIntegral, ConjugateArgumentGivesConjugateValueOffTheCut) {
    const Complex points[] = {{1.0, 2.0}, {-8.0, 0.5}, {-30.0, 20.0}, {60.0, 5.0}};
    for (const Complex z : points) {
        const Complex upper = complexExponentialIntegral(z);
        const Complex lower = complexExponentialIntegral(std::conj(z));
        EXPECT_EQ(upper, std::conj(lower)) << z;
    }
}

}  // namespace
