// Background estimation: the filter tables, the limits of the point
// selection, the end points it pairs, the natural spline against a
// hand-worked case, recovery of known smooth backgrounds under narrow peaks,
// and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <utility>
#include <limits>
#include <vector>

#include "analysis/analysis.hpp"
#include "support/allocation_failure.hpp"
#include "synthetic_pattern.hpp"

namespace {

struct Freed {
    PatternPoint *points = nullptr;
    ~Freed() { std::free(points); }
};

double quadratic(double x) { return 150.0 + 0.03 * (x - 55.0) * (x - 55.0); }

// Narrow Gaussian peaks (FWHM 0.2°, ten steps) on a 0.02° axis from 5° to
// 105°, 190 to 750 counts high (height = area·0.9394/FWHM) on a background of
// 150 to 225.
constexpr int32_t kCount = 5001;
constexpr double kFirst = 5.0;
constexpr double kStep = 0.02;
const std::vector<pk_test::Peak> kNarrowPeaks = {
    {14.0, 80.0, 0.2, 0.0}, {27.5, 160.0, 0.2, 0.0}, {41.0, 40.0, 0.2, 0.0},
    {58.0, 120.0, 0.2, 0.0}, {73.0, 60.0, 0.2, 0.0}, {90.5, 100.0, 0.2, 0.0}};

std::vector<PatternPoint> narrowPeaksOn(const std::function<double(double)> &background) {
    return pk_test::makePattern(kFirst, kStep, kCount, kNarrowPeaks, background);
}

bool nearAPeak(double x, double distance) {
    for (const pk_test::Peak &peak : kNarrowPeaks) {
        if (std::fabs(x - peak.position) < distance) return true;
    }
    return false;
}

TEST(BackgroundEstimation, FilterTablesAreTheNinePointWeights) {
    // Smoothing (quadratic) weights sum to their normaliser; the derivative
    // weights are odd and Σ k·d_k equals their normaliser, so a straight
    // line y = k gives the slope 1 exactly.
    double sum = 0.0, moment = 0.0;
    for (int k = 0; k < 9; ++k) {
        sum += powderkit::smoothingCoefficients.coefficients[k];
        moment += (k - 4) * powderkit::firstDerivativeCoefficients.coefficients[k];
        EXPECT_EQ(powderkit::firstDerivativeCoefficients.coefficients[k],
                  -powderkit::firstDerivativeCoefficients.coefficients[8 - k]);
    }
    EXPECT_EQ(sum, powderkit::smoothingCoefficients.normaliser);
    EXPECT_EQ(moment, powderkit::firstDerivativeCoefficients.normaliser);
    EXPECT_EQ(powderkit::smoothingCoefficients.window, 9);
    EXPECT_EQ(powderkit::firstDerivativeCoefficients.window, 9);
}

TEST(BackgroundEstimation, NaturalSplineThroughHandWorkedKnots) {
    // Knots (0,0), (1,1), (2,0), (3,1), unit spacing. By hand: α = (−6, 6),
    // l = (4, 3.75), μ = (¼, 1/3.75), z = (−1.5, 2), so c = (0, −2, 2, 0),
    // b = (5/3, −1/3, −1/3), d = (−2/3, 4/3, −2/3). Check with the moment
    // equations M₀ + 4M₁ + M₂ = 6(y₀ − 2y₁ + y₂) for M = 2c: −16 + 4 = −12.
    const PatternPoint knots[4] = {{0, 0}, {1, 1}, {2, 0}, {3, 1}};
    powderkit::SplineSegment segments[3];
    ASSERT_TRUE(powderkit::naturalCubicSpline(knots, 4, segments));
    const double expected[3][5] = {{0, 5.0 / 3, 0, -2.0 / 3, 0},
                                   {1, -1.0 / 3, -2, 4.0 / 3, 1},
                                   {0, -1.0 / 3, 2, -2.0 / 3, 2}};
    for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(segments[j].a, expected[j][0], 1e-15) << j;
        EXPECT_NEAR(segments[j].b, expected[j][1], 1e-15) << j;
        EXPECT_NEAR(segments[j].c, expected[j][2], 1e-15) << j;
        EXPECT_NEAR(segments[j].d, expected[j][3], 1e-15) << j;
        EXPECT_EQ(segments[j].x0, expected[j][4]) << j;
    }
    EXPECT_FALSE(powderkit::naturalCubicSpline(knots, 1, segments));
}

TEST(BackgroundEstimation, SelectionNeedsEnoughPointsAndARisingAxis) {
    auto points = narrowPeaksOn(quadratic);
    int32_t count = -1;
    for (int32_t n : {100, 150, 199}) {
        EXPECT_EQ(powderkit::selectBackgroundPoints(points.data(), n, &count), nullptr) << n;
        EXPECT_EQ(fittedBackground(points.data(), n), nullptr) << n;
    }
    EXPECT_EQ(powderkit::selectBackgroundPoints(nullptr, kCount, &count), nullptr);
    EXPECT_EQ(powderkit::selectBackgroundPoints(points.data(), kCount, nullptr), nullptr);
    EXPECT_EQ(fittedBackground(nullptr, kCount), nullptr);
    EXPECT_EQ(count, -1);
    // 200 points: stretches of 5, at most 40 picks.
    auto short200 = pk_test::makePattern(0.0, 0.05, 200, {{5.0, 20.0, 0.3, 0.0}},
                                         [](double x) { return 100.0 + (x - 4.0) * (x - 4.0); });
    Freed picked;
    picked.points = powderkit::selectBackgroundPoints(short200.data(), 200, &count);
    ASSERT_NE(picked.points, nullptr);
    EXPECT_GE(count, 4);
    EXPECT_LE(count, 40);
    // All x equal: dx = 0.
    std::vector<PatternPoint> still(300, PatternPoint{1.0, 5.0});
    for (int i = 0; i < 300; ++i) still[static_cast<std::size_t>(i)].y = 5.0 + (i % 7);
    EXPECT_EQ(fittedBackground(still.data(), 300), nullptr);
}

TEST(BackgroundEstimation, FlatAndLinearPatternsHaveNoFlatPoint) {
    // All slopes equal in magnitude (zero, or constant), so no slope is below
    // a tenth of the steepest: only the two ends are picked.
    std::vector<PatternPoint> flat(400), line(400);
    for (int i = 0; i < 400; ++i) {
        flat[static_cast<std::size_t>(i)] = {0.1 * i, 12.0};
        line[static_cast<std::size_t>(i)] = {0.1 * i, 3.0 + 0.5 * i};
    }
    EXPECT_EQ(fittedBackground(flat.data(), 400), nullptr);
    EXPECT_EQ(fittedBackground(line.data(), 400), nullptr);
}

TEST(BackgroundEstimation, PicksLowFlatPointsAndPairsTheEnds) {
    // The quadratic smoothing reproduces a quadratic exactly, so away from the
    // peaks every pick lies on the background, and the ends pair x₀ with the
    // background at x₄ and the last x with the background at x₍count−6₎.
    auto points = narrowPeaksOn(quadratic);
    int32_t count = 0;
    Freed picked;
    picked.points = powderkit::selectBackgroundPoints(points.data(), kCount, &count);
    ASSERT_NE(picked.points, nullptr);
    ASSERT_GE(count, 20);
    EXPECT_LE(count, 40);  // 5001 / 125 segments
    EXPECT_EQ(picked.points[0].x, kFirst);
    EXPECT_NEAR(picked.points[0].y, quadratic(points[4].x), 1e-9);
    EXPECT_EQ(picked.points[count - 1].x, points[kCount - 1].x);
    EXPECT_NEAR(picked.points[count - 1].y, quadratic(points[kCount - 6].x), 1e-9);
    for (int32_t k = 1; k < count; ++k) {
        EXPECT_GT(picked.points[k].x, picked.points[k - 1].x) << k;
        if (k < count - 1 && !nearAPeak(picked.points[k].x, 1.0)) {
            EXPECT_NEAR(picked.points[k].y, quadratic(picked.points[k].x), 1e-9) << k;
        }
    }
}

TEST(BackgroundEstimation, FollowsSmoothBackgroundsUnderNarrowPeaks) {
    // A quadratic and a broad hump (an amorphous-like bump on a decaying
    // curve). The smoothing weights ring below a Gaussian of σ = 4.25 steps
    // by at most 0.11 % of its height (the weights convolved with the
    // Gaussian, worked out apart), under 1 count here, so picks beside a
    // peak sit at most 1 count low: away from the peaks (1.5°, over seven
    // widths) the fitted curve stays within 1 % of the truth.
    const auto hump = [](double x) {
        return 80.0 + 400.0 * std::exp(-x / 30.0) + 120.0 * std::exp(-std::pow((x - 45.0) / 12.0, 2.0));
    };
    for (const auto &truth : {std::function<double(double)>(quadratic), std::function<double(double)>(hump)}) {
        auto points = narrowPeaksOn(truth);
        Freed background;
        background.points = fittedBackground(points.data(), kCount);
        ASSERT_NE(background.points, nullptr);
        double worst = 0.0;
        for (int i = 0; i < kCount; ++i) {
            const PatternPoint &point = background.points[i];
            ASSERT_EQ(point.x, points[static_cast<std::size_t>(i)].x);
            if (nearAPeak(point.x, 1.5)) continue;
            worst = std::fmax(worst, std::fabs(point.y / truth(point.x) - 1.0));
        }
        EXPECT_LT(worst, 0.01);
    }
}

TEST(BackgroundEstimation, BadValuesAndAllocationFailuresDoNoHarm) {
    auto points = narrowPeaksOn(quadratic);
    auto spoiled = points;
    spoiled[300].y = std::numeric_limits<double>::quiet_NaN();
    spoiled[900].y = std::numeric_limits<double>::infinity();
    std::free(fittedBackground(spoiled.data(), kCount));
    // x running backwards: dx < 0.
    auto reversed = points;
    for (int i = 0; i < kCount; ++i) reversed[static_cast<std::size_t>(i)].x = -points[static_cast<std::size_t>(i)].x;
    EXPECT_EQ(fittedBackground(reversed.data(), kCount), nullptr);
    // x jumbled but rising overall: meaningless, never a fault.
    auto jumbled = points;
    for (int i = 1; i < kCount - 1; i += 2) std::swap(jumbled[static_cast<std::size_t>(i)].x, jumbled[static_cast<std::size_t>(i + 1)].x);
    std::free(fittedBackground(jumbled.data(), kCount));

    // Allocations: the picks, their shrink, the segments, the output and the
    // spline's work block. A failed shrink keeps
    // the larger block, so only that failure still gives a background.
    for (long n = 1;; ++n) {
        pk_test::failAllocationNumber(n);
        PatternPoint *background = fittedBackground(points.data(), kCount);
        const bool failed = pk_test::allocationsCounted() >= n;
        pk_test::disarmAllocationFailure();
        std::free(background);
        if (!failed) {
            EXPECT_EQ(n, 6);
            break;
        }
        EXPECT_EQ(background != nullptr, n == 2) << n;
    }
}

}  // namespace
