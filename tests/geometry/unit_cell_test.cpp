// Reciprocal cell, metric tensors and d-spacings, checked against the
// textbook cubic values and, for an oblique cell, against a second route:
// G* must be the inverse of G and V² must be det G.
#include <gtest/gtest.h>

#include <cmath>

#include "powderkit.h"

namespace {

RefinementCrystal *cellOf(double a, double b, double c, double alpha, double beta,
                          double gamma) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = a;
    crystal->b = b;
    crystal->c = c;
    crystal->alpha = alpha;
    crystal->beta = beta;
    crystal->gamma = gamma;
    crystal->methods->calculateReciprocalCell(crystal);
    crystal->methods->calculateMetricTensor(crystal);
    return crystal;
}

double determinant(const double (*m)[3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

TEST(UnitCell, CubicCellOfFourAngstrom) {
    RefinementCrystal *crystal = cellOf(4.0, 4.0, 4.0, 90.0, 90.0, 90.0);
    EXPECT_NEAR(crystal->aStar, 0.25, 1e-12);
    EXPECT_NEAR(crystal->bStar, 0.25, 1e-12);
    EXPECT_NEAR(crystal->cStar, 0.25, 1e-12);
    // 90° survives the truncated conversion factors only to about 1e-9°.
    EXPECT_NEAR(crystal->alphaStar, 90.0, 1e-8);
    EXPECT_NEAR(crystal->betaStar, 90.0, 1e-8);
    EXPECT_NEAR(crystal->gammaStar, 90.0, 1e-8);
    EXPECT_NEAR(crystal->volume, 64.0, 1e-9);
    EXPECT_NEAR(crystal->metricTensor[0][0], 16.0, 1e-12);
    EXPECT_NEAR(crystal->metricTensor[0][1], 0.0, 1e-9);
    EXPECT_NEAR(crystal->reciprocalMetricTensor[2][2], 0.0625, 1e-12);

    EXPECT_NEAR(dSpacingForHKL(crystal, 1, 1, 1), 4.0 / std::sqrt(3.0), 1e-10);
    EXPECT_NEAR(dSpacingForHKL(crystal, 2, 0, 0), 2.0, 1e-10);
    EXPECT_TRUE(std::isinf(dSpacingForHKL(crystal, 0, 0, 0)));
    EXPECT_EQ(crystal->methods->dSpacingForHKL, &dSpacingForHKL);
    freeRefinementCrystal(crystal);
}

TEST(UnitCell, ObliqueCellAgreesWithTheInverseOfTheDirectMetric) {
    const double a = 6.3, b = 7.9, c = 9.4, alpha = 83.0, beta = 98.7, gamma = 104.2;
    RefinementCrystal *crystal = cellOf(a, b, c, alpha, beta, gamma);
    const double(*g)[3] = crystal->metricTensor;
    const double(*gs)[3] = crystal->reciprocalMetricTensor;

    // Both tensors are stored as full symmetric matrices.
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(g[i][j], g[j][i]);
            EXPECT_EQ(gs[i][j], gs[j][i]);
        }
    }
    // G* · G = I.
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) sum += gs[i][k] * g[k][j];
            EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-10) << i << "," << j;
        }
    }
    // V from the cell angles directly: V² = a²b²c²(1 − cos²α − cos²β − cos²γ + 2 cosα cosβ cosγ).
    const double rad = 3.14159265358979323846 / 180.0;
    const double ca = std::cos(alpha * rad), cb = std::cos(beta * rad), cg = std::cos(gamma * rad);
    const double volume = a * b * c * std::sqrt(1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg);
    EXPECT_NEAR(crystal->volume, volume, 1e-8);
    EXPECT_NEAR(crystal->volume * crystal->volume, determinant(g), 1e-6);
    // a* = b c sin α / V.
    EXPECT_NEAR(crystal->aStar, b * c * std::sin(alpha * rad) / volume, 1e-12);
    EXPECT_NEAR(crystal->cStar, a * b * std::sin(gamma * rad) / volume, 1e-12);

    // d of a plane from an independent inverse of G (cofactors).
    const double det = determinant(g);
    const double inv00 = (g[1][1] * g[2][2] - g[1][2] * g[2][1]) / det;
    const double inv11 = (g[0][0] * g[2][2] - g[0][2] * g[2][0]) / det;
    const double inv22 = (g[0][0] * g[1][1] - g[0][1] * g[1][0]) / det;
    const double inv01 = -(g[1][0] * g[2][2] - g[1][2] * g[2][0]) / det;
    const double inv02 = (g[1][0] * g[2][1] - g[1][1] * g[2][0]) / det;
    const double inv12 = -(g[0][0] * g[2][1] - g[0][1] * g[2][0]) / det;
    const int h = 2, k = -3, l = 5;
    const double q = h * h * inv00 + k * k * inv11 + l * l * inv22 + 2 * h * k * inv01 +
                     2 * h * l * inv02 + 2 * k * l * inv12;
    EXPECT_NEAR(dSpacingForHKL(crystal, h, k, l), 1.0 / std::sqrt(q), 1e-10);
    // Friedel partners share their d-spacing exactly; a sign flip of one index does not.
    EXPECT_EQ(dSpacingForHKL(crystal, h, k, l), dSpacingForHKL(crystal, -h, -k, -l));
    EXPECT_NE(dSpacingForHKL(crystal, h, k, l), dSpacingForHKL(crystal, -h, k, l));
    freeRefinementCrystal(crystal);
}

TEST(UnitCell, SmallestSpacingForAPlotDependsOnTheExperiment) {
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 10.0, 120.0);
    EXPECT_NEAR(minDSpacingForPlot(profile), 0.77031, 1e-12);
    profile->experimentType = 2;
    EXPECT_NEAR(minDSpacingForPlot(profile), 0.77031, 1e-12);
    profile->experimentType = 4;
    EXPECT_EQ(minDSpacingForPlot(profile), 0.1);
    profile->experimentType = 0;
    EXPECT_EQ(minDSpacingForPlot(profile), 0.1);
    freeRefinementProfile(profile);
}

}  // namespace
