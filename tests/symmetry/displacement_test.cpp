// Temperature factors and the equivalent isotropic displacement: hand values,
// the isotropic and anisotropic forms against each other (an isotropic
// displacement written as a tensor in cubic and oblique cells), and the Jacobi
// decomposition against tensors built from known eigenvalues and axes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "support/output_capture.hpp"
#include "symmetry/displacement.hpp"

namespace {

using Matrix3 = std::array<std::array<double, 3>, 3>;

RefinementThermalEllipsoidUij *makeAnisotropic(const Matrix3 &u) {
    RefinementThermalEllipsoidUij *record = makeRefinementThermalEllipsoidUij();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) record->u[i][j] = u[i][j];
    }
    record->isAnisotropic = 1;
    return record;
}

void release(RefinementThermalEllipsoidUij *record) {
    record->methods->freeRefinementThermalEllipsoidUij(record);
}

double factorOf(RefinementThermalEllipsoidUij *record, int h, int k, int l, double d,
                const double reciprocal[3]) {
    return record->methods->temperatureFactor(record, h, k, l, d, reciprocal[0], reciprocal[1],
                                              reciprocal[2]);
}

TEST(TemperatureFactor, IsotropicAgainstHandValues) {
    RefinementThermalEllipsoidUij *record = makeRefinementThermalEllipsoidUij();
    const double reciprocal[3] = {0.2, 0.3, 0.4};
    // Uiso = 0: exactly 1 for every reflexion.
    for (double d : {0.3, 1.0, 7.5}) EXPECT_EQ(factorOf(record, 1, -2, 3, d, reciprocal), 1.0);
    // exp(−2π²·Uiso/d²), evaluated separately to 30 digits.
    record->uIso = 0.01;
    EXPECT_NEAR(factorOf(record, 0, 0, 0, 1.0, reciprocal), 0.820868717415539937, 1e-15);
    record->uIso = 0.025;
    EXPECT_NEAR(factorOf(record, 0, 0, 0, 0.8, reciprocal), 0.462521219151724313, 1e-15);
    release(record);
}

TEST(TemperatureFactor, IsotropicTensorInACubicCellMatchesUiso) {
    const double a = 5.43;
    const double reciprocal[3] = {1.0 / a, 1.0 / a, 1.0 / a};
    const double uIso = 0.0123;
    RefinementThermalEllipsoidUij *isotropic = makeRefinementThermalEllipsoidUij();
    isotropic->uIso = uIso;
    RefinementThermalEllipsoidUij *tensor =
        makeAnisotropic({{{uIso, 0.0, 0.0}, {0.0, uIso, 0.0}, {0.0, 0.0, uIso}}});
    tensor->uIso = 1.0;  // not read by the anisotropic form
    const int indices[][3] = {{1, 0, 0}, {1, 1, 1}, {2, -2, 0}, {3, 1, -4}, {7, 5, 3}};
    for (const auto &hkl : indices) {
        const double d = a / std::sqrt(hkl[0] * hkl[0] + hkl[1] * hkl[1] + hkl[2] * hkl[2]);
        const double expected = factorOf(isotropic, hkl[0], hkl[1], hkl[2], d, reciprocal);
        EXPECT_NEAR(factorOf(tensor, hkl[0], hkl[1], hkl[2], d, reciprocal), expected,
                    1e-14 * expected);
    }
    release(isotropic);
    release(tensor);
}

TEST(TemperatureFactor, IsotropicTensorInAnObliqueCellMatchesUiso) {
    // In an oblique cell an isotropic displacement has U_ij = Uiso·cos(angle
    // between reciprocal axes i and j), so the anisotropic form must reduce
    // to exp(−2π²·Uiso/d²) with 1/d² = hᵀ G* h from the reciprocal metric.
    const double reciprocal[3] = {0.21, 0.17, 0.12};
    const double pi = 3.14159265358979323846;
    const double alphaStar = 97.0 * pi / 180.0, betaStar = 71.0 * pi / 180.0,
                 gammaStar = 104.0 * pi / 180.0;
    const double cosine[3][3] = {{1.0, std::cos(gammaStar), std::cos(betaStar)},
                                 {std::cos(gammaStar), 1.0, std::cos(alphaStar)},
                                 {std::cos(betaStar), std::cos(alphaStar), 1.0}};
    const double uIso = 0.0087;
    Matrix3 u;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) u[i][j] = uIso * cosine[i][j];
    }
    // The lower triangle is not read: spoil it.
    u[1][0] = 5.0;
    u[2][0] = -5.0;
    u[2][1] = 9.0;
    RefinementThermalEllipsoidUij *tensor = makeAnisotropic(u);
    RefinementThermalEllipsoidUij *isotropic = makeRefinementThermalEllipsoidUij();
    isotropic->uIso = uIso;
    const int indices[][3] = {{1, 0, 0}, {0, 1, -1}, {1, 2, 3}, {-3, 1, 2}, {4, -5, 6}};
    for (const auto &hkl : indices) {
        double inverseSquare = 0.0;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                inverseSquare += hkl[i] * reciprocal[i] * cosine[i][j] * reciprocal[j] * hkl[j];
            }
        }
        const double d = 1.0 / std::sqrt(inverseSquare);
        const double expected = std::exp(-2.0 * pi * pi * uIso * inverseSquare);
        EXPECT_NEAR(factorOf(tensor, hkl[0], hkl[1], hkl[2], d, reciprocal), expected,
                    1e-13 * expected);
        EXPECT_NEAR(factorOf(isotropic, hkl[0], hkl[1], hkl[2], d, reciprocal), expected,
                    1e-13 * expected);
    }
    release(isotropic);
    release(tensor);
}

TEST(TemperatureFactor, EachTensorComponentPairsWithItsIndices) {
    // One component at a time, each against its own term of the exponent.
    const double reciprocal[3] = {0.5, 0.25, 0.125};
    const double pi = 3.14159265358979323846;
    struct Case {
        int row, column;
        double term;  // U·(index and reciprocal products) for (h, k, l) = (1, 2, 3), U = 0.01
    };
    const Case cases[] = {
        {0, 0, 0.01 * 0.25 * 1.0},         {1, 1, 0.01 * 0.0625 * 4.0},
        {2, 2, 0.01 * 0.015625 * 9.0},     {0, 1, 2.0 * 0.01 * 0.125 * 2.0},
        {1, 2, 2.0 * 0.01 * 0.03125 * 6.0}, {0, 2, 2.0 * 0.01 * 0.0625 * 3.0},
    };
    for (const Case &c : cases) {
        Matrix3 u{};
        u[c.row][c.column] = 0.01;
        RefinementThermalEllipsoidUij *record = makeAnisotropic(u);
        const double expected = std::exp(-2.0 * pi * pi * c.term);
        EXPECT_NEAR(factorOf(record, 1, 2, 3, 1.0, reciprocal), expected, 1e-15)
            << c.row << c.column;
        release(record);
    }
}

// A symmetric matrix R·diag(λ)·Rᵀ for a rotation R about a random axis.
Matrix3 tensorWithEigenvalues(const double lambda[3], Matrix3 &rotation, std::mt19937 &random) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    double axis[3];
    double norm = 0.0;
    do {
        for (double &x : axis) x = uniform(random);
        norm = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    } while (norm < 0.1);
    for (double &x : axis) x /= norm;
    const double angle = 3.0 * uniform(random);
    const double c = std::cos(angle), s = std::sin(angle);
    // Rodrigues' formula.
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) rotation[i][j] = (1.0 - c) * axis[i] * axis[j];
        rotation[i][i] += c;
    }
    rotation[0][1] -= s * axis[2];
    rotation[1][0] += s * axis[2];
    rotation[0][2] += s * axis[1];
    rotation[2][0] -= s * axis[1];
    rotation[1][2] -= s * axis[0];
    rotation[2][1] += s * axis[0];
    Matrix3 u{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            for (int m = 0; m < 3; ++m) u[i][j] += rotation[i][m] * lambda[m] * rotation[j][m];
        }
    }
    return u;
}

TEST(Jacobi, RandomPositiveDefiniteTensorsDecomposeExactly) {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> eigenvalue(0.001, 0.08);
    for (int trial = 0; trial < 200; ++trial) {
        double lambda[3] = {eigenvalue(random), eigenvalue(random), eigenvalue(random)};
        if (trial % 10 == 0) lambda[1] = lambda[0];  // a degenerate pair now and then
        Matrix3 rotation;
        const Matrix3 u = tensorWithEigenvalues(lambda, rotation, random);
        double matrix[9];
        for (int i = 0; i < 9; ++i) matrix[i] = u[i / 3][i % 3];
        const double original[9] = {matrix[0], matrix[1], matrix[2], matrix[3], matrix[4],
                                    matrix[5], matrix[6], matrix[7], matrix[8]};
        double values[3];
        double vectors[9];
        std::string printed = pk_test::captureStderr(
            [&] { powderkit::eigenvaluesOfSymmetricMatrix(matrix, values, vectors); });
        EXPECT_EQ(printed, "");
        for (int i = 0; i < 9; ++i) ASSERT_EQ(matrix[i], original[i]);
        // The eigenvalues, in whatever order, are the ones built in.
        double sorted[3] = {values[0], values[1], values[2]};
        std::sort(sorted, sorted + 3);
        std::sort(lambda, lambda + 3);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(sorted[i], lambda[i], 1e-15) << trial;
        // The columns are orthonormal and V·diag(d)·Vᵀ gives the tensor back.
        for (int p = 0; p < 3; ++p) {
            for (int q = 0; q < 3; ++q) {
                double dot = 0.0;
                double rebuilt = 0.0;
                for (int j = 0; j < 3; ++j) {
                    dot += vectors[j * 3 + p] * vectors[j * 3 + q];
                    rebuilt += vectors[p * 3 + j] * values[j] * vectors[q * 3 + j];
                }
                EXPECT_NEAR(dot, p == q ? 1.0 : 0.0, 1e-14) << trial;
                EXPECT_NEAR(rebuilt, u[p][q], 1e-16) << trial;
            }
        }
        // The equivalent Uiso is a third of the trace.
        RefinementThermalEllipsoidUij *record = makeAnisotropic(u);
        EXPECT_NEAR(record->methods->uIsoEquivalent(record), (lambda[0] + lambda[1] + lambda[2]) / 3.0,
                    1e-16);
        EXPECT_NEAR(uIsoEquivalent(record), (u[0][0] + u[1][1] + u[2][2]) / 3.0, 1e-16);
        release(record);
    }
}

TEST(Jacobi, DiagonalTensorNeedsNoRotation) {
    double a[3][3] = {{0.03, 0.0, 0.0}, {0.0, 0.01, 0.0}, {0.0, 0.0, 0.02}};
    double values[3];
    double vectors[3][3];
    int32_t rotations = -1;
    powderkit::jacobi(a, values, vectors, &rotations);
    EXPECT_EQ(rotations, 0);
    // Left in diagonal order, not sorted, with the identity for vectors.
    EXPECT_EQ(values[0], 0.03);
    EXPECT_EQ(values[1], 0.01);
    EXPECT_EQ(values[2], 0.02);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) EXPECT_EQ(vectors[i][j], i == j ? 1.0 : 0.0);
    }
    RefinementThermalEllipsoidUij *record =
        makeAnisotropic({{{0.03, 0.0, 0.0}, {0.0, 0.01, 0.0}, {0.0, 0.0, 0.02}}});
    EXPECT_NEAR(uIsoEquivalent(record), 0.02, 1e-17);
    // The flag and uIso do not matter: a zero tensor gives 0.
    RefinementThermalEllipsoidUij *isotropic = makeRefinementThermalEllipsoidUij();
    isotropic->uIso = 0.05;
    EXPECT_EQ(uIsoEquivalent(isotropic), 0.0);
    record->isAnisotropic = 0;
    EXPECT_NEAR(uIsoEquivalent(record), 0.02, 1e-17);
    release(isotropic);
    release(record);
}

TEST(Jacobi, ConvergesWellWithinTheSweepLimit) {
    // A full tensor with eigenvalues 1, 2, 4: each sweep makes at most three
    // rotations, so a handful of rotations means a handful of sweeps.
    double a[3][3] = {{2.0, 1.0, 0.5}, {1.0, 3.0, 0.7}, {0.5, 0.7, 2.0}};
    const double trace = 7.0;
    double values[3];
    double vectors[3][3];
    int32_t rotations = 0;
    std::string printed =
        pk_test::captureStderr([&] { powderkit::jacobi(a, values, vectors, &rotations); });
    EXPECT_EQ(printed, "");
    EXPECT_GT(rotations, 2);
    EXPECT_LT(rotations, 20);
    EXPECT_NEAR(values[0] + values[1] + values[2], trace, 1e-14);
    // Determinant 2·(6 − 0.49) − 1·(2 − 0.35) + 0.5·(0.7 − 1.5) = 8.97.
    EXPECT_NEAR(values[0] * values[1] * values[2], 8.97, 1e-13);
}

TEST(Jacobi, GivesUpAfterFiftySweepsWithItsMessage) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    RefinementThermalEllipsoidUij *record =
        makeAnisotropic({{{0.01, nan, 0.0}, {nan, 0.02, 0.0}, {0.0, 0.0, 0.03}}});
    double value = 0.0;
    std::string printed = pk_test::captureStderr([&] { value = uIsoEquivalent(record); });
    EXPECT_EQ(printed, "Too many iterations in routine jacobi\n");
    // No comparison with NaN succeeds, so nothing rotates: the result is the
    // mean of the untouched diagonal.
    EXPECT_NEAR(value, 0.02, 1e-17);
    EXPECT_EQ(uIsoEquivalent(nullptr), 0.0);
    release(record);
}

}  // namespace
