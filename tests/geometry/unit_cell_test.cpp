// Reciprocal cell, metric tensors, d-spacings and the metric vector
// operations of a triclinic cell, against a second route: an inverse of G by
// cofactors and V from the angles. (The cubic and hexagonal reference
// structures' d-spacings are checked with their reflexion tables.)
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/geometry.hpp"
#include "support/reference_phases.hpp"

namespace {

constexpr double kRadian = 3.14159265358979323846 / 180.0;

TEST(UnitCell, ObliqueCellAgreesWithTheInverseOfTheDirectMetric) {
    const double a = 6.3, b = 7.9, c = 9.4, alpha = 83.0, beta = 98.7, gamma = 104.2;
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("lowsym");  // a, b, c and β as above
    crystal->alpha = alpha;
    crystal->gamma = gamma;
    crystal->methods->calculateReciprocalCell(crystal);
    crystal->methods->calculateMetricTensor(crystal);
    const double(*g)[3] = crystal->metricTensor;
    const double(*gs)[3] = crystal->reciprocalMetricTensor;
    const double det = g[0][0] * (g[1][1] * g[2][2] - g[1][2] * g[2][1]) -
                       g[0][1] * (g[1][0] * g[2][2] - g[1][2] * g[2][0]) +
                       g[0][2] * (g[1][0] * g[2][1] - g[1][1] * g[2][0]);
    double inverse[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inverse[i][j] = (g[r0][c0] * g[r1][c1] - g[r0][c1] * g[r1][c0]) / det;
        }
    }
    // Full symmetric tensors with G* = G⁻¹ (to the truncated conversion factors).
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(g[i / 3][i % 3], g[i % 3][i / 3]);
        EXPECT_EQ(gs[i / 3][i % 3], gs[i % 3][i / 3]);
        EXPECT_NEAR(gs[i / 3][i % 3], inverse[i / 3][i % 3], 1e-12) << i;
    }
    // V² = a²b²c²(1 − cos²α − cos²β − cos²γ + 2 cosα cosβ cosγ) = det G; a* = b c sin α / V.
    const double ca = std::cos(alpha * kRadian), cb = std::cos(beta * kRadian), cg = std::cos(gamma * kRadian);
    const double volume = a * b * c * std::sqrt(1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg);
    EXPECT_NEAR(crystal->volume, volume, 1e-8);
    EXPECT_NEAR(crystal->volume * crystal->volume, det, 1e-6);
    EXPECT_NEAR(crystal->aStar, b * c * std::sin(alpha * kRadian) / volume, 1e-12);
    EXPECT_NEAR(crystal->cStar, a * b * std::sin(gamma * kRadian) / volume, 1e-12);

    // d of (2 −3 5) is 1/√(hᵀ G⁻¹ h); the same vector, as indices, through the metric operations.
    const powderkit::Vector3 x = {2.0, -3.0, 5.0};
    double q = 0.0;
    powderkit::Vector3 scaled{};  // √det G · G⁻¹ · x
    for (int i = 0; i < 9; ++i) {
        q += x[i / 3] * inverse[i / 3][i % 3] * x[i % 3];
        scaled[i / 3] += std::sqrt(det) * inverse[i / 3][i % 3] * x[i % 3];
    }
    EXPECT_NEAR(dSpacingForHKL(crystal, 2, -3, 5), 1.0 / std::sqrt(q), 1e-10);
    EXPECT_EQ(dSpacingForHKL(crystal, 2, -3, 5), dSpacingForHKL(crystal, -2, 3, -5));
    EXPECT_NE(dSpacingForHKL(crystal, 2, -3, 5), dSpacingForHKL(crystal, -2, -3, 5));
    EXPECT_TRUE(std::isinf(dSpacingForHKL(crystal, 0, 0, 0)));
    const powderkit::Vector3 converted = powderkit::convertWithMetric(x, g);
    const powderkit::Vector3 normal = powderkit::indicesToVector(2, -3, 5, g);
    const powderkit::Vector3 back = powderkit::convertWithMetric(normal, gs);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(converted[i], scaled[i], 1e-9);
        EXPECT_NEAR(normal[i], scaled[i], 1e-9);
        EXPECT_NEAR(back[i], x[i], 1e-10);
    }
    // With the identity metric the cross product is v × u.
    const double unit[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    EXPECT_EQ(powderkit::metricCrossProduct({1, 0, 0}, {0, 1, 0}, unit), (powderkit::Vector3{0, 0, -1}));
    freeRefinementCrystal(crystal);
}

TEST(UnitCell, SmallestSpacingForAPlotDependsOnTheExperiment) {
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 10.0, 120.0);
    const int32_t experiments[] = {1, 2, 4, 0};
    const double expected[] = {0.77031, 0.77031, 0.1, 0.1};  // λ/2 + 1e-5 on a 2θ axis
    for (int i = 0; i < 4; ++i) {
        profile->experimentType = experiments[i];
        EXPECT_NEAR(minDSpacingForPlot(profile), expected[i], 1e-12) << experiments[i];
    }
    freeRefinementProfile(profile);
}

}  // namespace
