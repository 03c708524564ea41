// Temperature factors and the equivalent isotropic displacement: hand values,
// an isotropic displacement written as a tensor (cubic and oblique cells)
// against the isotropic form, and the Jacobi decomposition of tensors built
// from known eigenvalues and axes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "model/model.hpp"
#include "support/output_capture.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

RefinementThermalEllipsoidUij *makeAnisotropic(const double u[3][3]) {
    RefinementThermalEllipsoidUij *record = makeRefinementThermalEllipsoidUij();
    for (int i = 0; i < 9; ++i) record->u[i / 3][i % 3] = u[i / 3][i % 3];
    record->isAnisotropic = 2;  // any non-zero byte
    return record;
}

double factorOf(RefinementThermalEllipsoidUij *record, const int hkl[3], double d, const double star[3]) {
    return record->methods->temperatureFactor(record, hkl[0], hkl[1], hkl[2], d, star[0], star[1], star[2]);
}

TEST(TemperatureFactor, IsotropicAgainstHandValues) {
    RefinementThermalEllipsoidUij *record = makeRefinementThermalEllipsoidUij();
    const double star[3] = {0.2, 0.3, 0.4};
    const int hkl[3] = {1, -2, 3};
    for (double d : {0.3, 1.0, 7.5}) EXPECT_EQ(factorOf(record, hkl, d, star), 1.0);  // Uiso = 0
    // exp(−2π²·Uiso/d²), evaluated separately to 30 digits.
    record->uIso = 0.01;
    EXPECT_NEAR(factorOf(record, hkl, 1.0, star), 0.820868717415539937, 1e-15);
    record->uIso = 0.025;
    EXPECT_NEAR(factorOf(record, hkl, 0.8, star), 0.462521219151724313, 1e-15);
    record->methods->freeRefinementThermalEllipsoidUij(record);
}

// An isotropic displacement has U_ij = Uiso·cos(angle between reciprocal axes
// i and j) (U = Uiso·I in a cubic cell); the tensor form must then give
// exp(−2π²·Uiso/d²) with 1/d² = hᵀ G* h from the reciprocal metric.
TEST(TemperatureFactor, IsotropicTensorMatchesUisoInAnObliqueCell) {
    const double star[3] = {0.21, 0.17, 0.12}, uIso = 0.0087;  // and α*, β*, γ* = 97°, 71°, 104°
    const double ca = std::cos(97.0 * kPi / 180.0), cb = std::cos(71.0 * kPi / 180.0);
    const double cg = std::cos(104.0 * kPi / 180.0);
    const double cosine[3][3] = {{1.0, cg, cb}, {cg, 1.0, ca}, {cb, ca, 1.0}};
    double u[3][3];
    for (int i = 0; i < 9; ++i) u[i / 3][i % 3] = i / 3 > i % 3 ? 5.0 * i : uIso * cosine[i / 3][i % 3];
    RefinementThermalEllipsoidUij *tensor = makeAnisotropic(u), *isotropic = makeRefinementThermalEllipsoidUij();
    tensor->uIso = 1.0;  // neither the lower triangle (spoilt above) nor uIso is read
    isotropic->uIso = uIso;
    for (const auto &hkl : {std::array<int, 3>{1, 0, 0}, {0, 1, -1}, {1, 2, 3}, {-3, 1, 2}, {4, -5, 6}}) {
        double q = 0.0;  // 1/d²
        for (int i = 0; i < 9; ++i) q += hkl[i / 3] * star[i / 3] * cosine[i / 3][i % 3] * star[i % 3] * hkl[i % 3];
        const double expected = std::exp(-2.0 * kPi * kPi * uIso * q);
        EXPECT_NEAR(factorOf(tensor, hkl.data(), 1.0 / std::sqrt(q), star), expected, 1e-13 * expected);
        EXPECT_NEAR(factorOf(isotropic, hkl.data(), 1.0 / std::sqrt(q), star), expected, 1e-13 * expected);
    }
    tensor->methods->freeRefinementThermalEllipsoidUij(tensor);
    isotropic->methods->freeRefinementThermalEllipsoidUij(isotropic);
}

// U = H·diag(λ)·H with H = I − 2nnᵀ, the reflection in a random plane.
TEST(Jacobi, RandomPositiveDefiniteTensorsDecomposeExactly) {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> eigenvalue(0.001, 0.08), component(-1.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(trial);
        double lambda[3] = {eigenvalue(random), eigenvalue(random), eigenvalue(random)}, n[3], norm;
        if (trial % 10 == 0) lambda[1] = lambda[0];  // a degenerate pair now and then
        do {
            for (double &x : n) x = component(random);
            norm = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        } while (norm < 0.01);
        double h[3][3], u[3][3] = {}, matrix[9], values[3], vectors[9];
        for (int i = 0; i < 9; ++i) h[i / 3][i % 3] = (i % 4 == 0 ? 1.0 : 0.0) - 2.0 * n[i / 3] * n[i % 3] / norm;
        for (int i = 0; i < 9; ++i) {
            for (int m = 0; m < 3; ++m) u[i / 3][i % 3] += h[i / 3][m] * lambda[m] * h[i % 3][m];
        }
        for (int i = 0; i < 9; ++i) matrix[i] = u[i / 3][i % 3];
        const auto decompose = [&] { powderkit::eigenvaluesOfSymmetricMatrix(matrix, values, vectors); };
        EXPECT_EQ(pk_test::captureStderr(decompose), "");
        for (int i = 0; i < 9; ++i) ASSERT_EQ(matrix[i], u[i / 3][i % 3]);  // input kept
        // The eigenvalues, in whatever order, are the ones built in.
        double sorted[3] = {values[0], values[1], values[2]};
        std::sort(sorted, sorted + 3);
        std::sort(lambda, lambda + 3);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(sorted[i], lambda[i], 1e-15);
        // The columns are orthonormal and V·diag(d)·Vᵀ gives the tensor back.
        for (int i = 0; i < 9; ++i) {
            const int p = i / 3, q = i % 3;
            double dot = 0.0, rebuilt = 0.0;
            for (int j = 0; j < 3; ++j) {
                dot += vectors[j * 3 + p] * vectors[j * 3 + q];
                rebuilt += vectors[p * 3 + j] * values[j] * vectors[q * 3 + j];
            }
            EXPECT_NEAR(dot, p == q ? 1.0 : 0.0, 1e-14);
            EXPECT_NEAR(rebuilt, u[p][q], 1e-16);
        }
        // The equivalent Uiso is a third of the trace.
        RefinementThermalEllipsoidUij *record = makeAnisotropic(u);
        EXPECT_NEAR(record->methods->uIsoEquivalent(record), (lambda[0] + lambda[1] + lambda[2]) / 3.0, 1e-16);
        EXPECT_NEAR(uIsoEquivalent(record), (u[0][0] + u[1][1] + u[2][2]) / 3.0, 1e-16);
        record->methods->freeRefinementThermalEllipsoidUij(record);
    }
}

TEST(Jacobi, RotatesOnlyWhenNeededAndConvergesWellWithinTheLimit) {
    // Diagonal: no rotation, eigenvalues left in diagonal order, V = I.
    double diagonal[3][3] = {{0.03, 0.0, 0.0}, {0.0, 0.01, 0.0}, {0.0, 0.0, 0.02}};
    double values[3], vectors[3][3];
    int32_t rotations = -1;
    powderkit::jacobi(diagonal, values, vectors, &rotations);
    EXPECT_EQ(rotations, 0);
    EXPECT_TRUE(values[0] == 0.03 && values[1] == 0.01 && values[2] == 0.02);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(vectors[i / 3][i % 3], i % 4 == 0 ? 1.0 : 0.0);
    // A full tensor: at most three rotations a sweep, so a handful of rotations
    // means a handful of sweeps. Trace 7, determinant
    // 2·(6 − 0.49) − 1·(2 − 0.35) + 0.5·(0.7 − 1.5) = 8.97.
    double full[3][3] = {{2.0, 1.0, 0.5}, {1.0, 3.0, 0.7}, {0.5, 0.7, 2.0}};
    EXPECT_EQ(pk_test::captureStderr([&] { powderkit::jacobi(full, values, vectors, &rotations); }), "");
    EXPECT_GT(rotations, 2);
    EXPECT_LT(rotations, 20);
    EXPECT_NEAR(values[0] + values[1] + values[2], 7.0, 1e-14);
    EXPECT_NEAR(values[0] * values[1] * values[2], 8.97, 1e-13);
    // uIsoEquivalent reads u whatever the flag, never uIso.
    RefinementThermalEllipsoidUij *record = makeAnisotropic(diagonal);
    record->isAnisotropic = 0;
    record->uIso = 0.5;
    EXPECT_NEAR(uIsoEquivalent(record), 0.02, 1e-17);
    record->u[0][0] = record->u[1][1] = record->u[2][2] = 0.0;
    EXPECT_EQ(uIsoEquivalent(record), 0.0);
    // Non-convergence: no comparison with NaN succeeds, so nothing rotates in
    // fifty sweeps and the result is the mean of the untouched diagonal.
    record->u[0][0] = 0.01;
    record->u[1][1] = 0.02;
    record->u[2][2] = 0.03;
    record->u[0][1] = record->u[1][0] = std::numeric_limits<double>::quiet_NaN();
    double value = 0.0;
    const std::string printed = pk_test::captureStderr([&] { value = uIsoEquivalent(record); });
    EXPECT_EQ(printed, "Too many iterations in routine jacobi\n");
    EXPECT_NEAR(value, 0.02, 1e-17);
    record->methods->freeRefinementThermalEllipsoidUij(record);
}

}  // namespace
