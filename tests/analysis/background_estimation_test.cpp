// Background estimation: the filter tables, the natural spline against a
// hand-worked case, the limits of the point selection and the end points it
// pairs, recovery of known smooth backgrounds under narrow peaks, bad input
// and allocation failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "analysis/analysis.hpp"
#include "support/allocation_failure.hpp"
#include "synthetic_pattern.hpp"

namespace {

double quadratic(double x) { return 150.0 + 0.03 * (x - 55.0) * (x - 55.0); }

// Narrow Gaussian peaks (FWHM 0.2°, ten steps) on a 0.02° axis from 5° to 105°,
// 190 to 750 counts high on a background of 150 to 225.
constexpr int32_t kCount = 5001;
const std::vector<pk_test::Peak> kNarrowPeaks = {{14.0, 80.0, 0.2, 0.0}, {27.5, 160.0, 0.2, 0.0},
                                                 {41.0, 40.0, 0.2, 0.0}, {58.0, 120.0, 0.2, 0.0},
                                                 {73.0, 60.0, 0.2, 0.0}, {90.5, 100.0, 0.2, 0.0}};

std::vector<PatternPoint> narrowPeaksOn(const std::function<double(double)> &background) {
    return pk_test::makePattern(5.0, 0.02, kCount, kNarrowPeaks, background);
}

bool nearAPeak(double x, double distance) {
    for (const pk_test::Peak &peak : kNarrowPeaks) {
        if (std::fabs(x - peak.position) < distance) return true;
    }
    return false;
}

TEST(BackgroundEstimation, FilterTablesAndTheSplineByHand) {
    // The smoothing weights sum to their normaliser; the derivative weights are
    // odd and Σ k·d_k equals theirs, so a line y = k gives the slope 1 exactly.
    const powderkit::FilterTable &smoothing = powderkit::smoothingCoefficients;
    const powderkit::FilterTable &derivative = powderkit::firstDerivativeCoefficients;
    double sum = 0.0, moment = 0.0;
    for (int k = 0; k < 9; ++k) {
        sum += smoothing.coefficients[k];
        moment += (k - 4) * derivative.coefficients[k];
        EXPECT_EQ(derivative.coefficients[k], -derivative.coefficients[8 - k]);
    }
    EXPECT_TRUE(sum == smoothing.normaliser && moment == derivative.normaliser);
    EXPECT_TRUE(smoothing.window == 9 && derivative.window == 9);
    // Knots (0,0), (1,1), (2,0), (3,1). By hand: α = (−6, 6), l = (4, 3.75), μ = (¼, 1/3.75),
    // z = (−1.5, 2), so c = (0, −2, 2, 0), b = (5/3, −1/3, −1/3), d = (−2/3, 4/3, −2/3); the
    // moment equation M₀ + 4M₁ + M₂ = 6(y₀ − 2y₁ + y₂) for M = 2c agrees: −16 + 4 = −12.
    const PatternPoint knots[4] = {{0, 0}, {1, 1}, {2, 0}, {3, 1}};
    powderkit::SplineSegment segments[3];
    ASSERT_TRUE(powderkit::naturalCubicSpline(knots, 4, segments));
    const double expected[3][5] = {
        {0, 5.0 / 3, 0, -2.0 / 3, 0}, {1, -1.0 / 3, -2, 4.0 / 3, 1}, {0, -1.0 / 3, 2, -2.0 / 3, 2}};
    for (int j = 0; j < 3; ++j) {
        const double got[5] = {segments[j].a, segments[j].b, segments[j].c, segments[j].d, segments[j].x0};
        for (int k = 0; k < 5; ++k) EXPECT_NEAR(got[k], expected[j][k], 1e-15) << j << " " << k;
    }
    EXPECT_FALSE(powderkit::naturalCubicSpline(knots, 1, segments));
    // Uneven knots against the defining conditions: S, S' and S'' continuous, S'' = 0 at the ends.
    const PatternPoint uneven[5] = {{0, 1}, {0.5, 3}, {2, -1}, {2.25, 0}, {4, 2}};
    powderkit::SplineSegment s[4];
    ASSERT_TRUE(powderkit::naturalCubicSpline(uneven, 5, s));
    for (int j = 0; j < 4; ++j) {
        const double h = uneven[j + 1].x - s[j].x0, y = uneven[j].y;
        const double end[3] = {s[j].a + s[j].b * h + s[j].c * h * h + s[j].d * h * h * h,
                               s[j].b + 2 * s[j].c * h + 3 * s[j].d * h * h, s[j].c + 3 * s[j].d * h};
        const double next[3] = {uneven[j + 1].y, j < 3 ? s[j + 1].b : end[1], j < 3 ? s[j + 1].c : 0.0};
        EXPECT_TRUE(s[j].a == y && s[j].x0 == uneven[j].x && (j > 0 || s[j].c == 0.0)) << j;
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(end[k], next[k], 1e-12) << j << " " << k;
    }
}

TEST(BackgroundEstimation, PicksLowFlatPointsAndPairsTheEnds) {
    // The quadratic smoothing reproduces a quadratic exactly, so away from the
    // peaks every pick lies on the background, and the ends pair x₀ with the
    // background at x₄ and the last x with the background at x₍count−6₎.
    auto points = narrowPeaksOn(quadratic);
    int32_t count = 0;
    PatternPoint *picked = powderkit::selectBackgroundPoints(points.data(), kCount, &count);
    ASSERT_NE(picked, nullptr);
    EXPECT_TRUE(count >= 20 && count <= 40) << count;  // at most 5001 / 125 segments
    EXPECT_EQ(picked[0].x, points[0].x);
    EXPECT_NEAR(picked[0].y, quadratic(points[4].x), 1e-9);
    EXPECT_EQ(picked[count - 1].x, points[kCount - 1].x);
    EXPECT_NEAR(picked[count - 1].y, quadratic(points[kCount - 6].x), 1e-9);
    for (int32_t k = 1; k < count; ++k) {
        EXPECT_GT(picked[k].x, picked[k - 1].x) << k;
        if (k == count - 1 || nearAPeak(picked[k].x, 1.0)) continue;
        EXPECT_NEAR(picked[k].y, quadratic(picked[k].x), 1e-9) << k;
    }
    std::free(picked);
}

TEST(BackgroundEstimation, FollowsSmoothBackgroundsUnderNarrowPeaks) {
    // A quadratic, and a broad hump on a decaying curve. The smoothing weights ring
    // below a Gaussian of σ = 4.25 steps by at most 0.11 % of its height (the weights
    // convolved with the Gaussian, worked out apart), under 1 count here: away from
    // the peaks (1.5°, over seven widths) the curve stays within 1 % of the truth.
    const auto hump = [](double x) {
        return 80.0 + 400.0 * std::exp(-x / 30.0) + 120.0 * std::exp(-std::pow((x - 45.0) / 12.0, 2.0));
    };
    for (const std::function<double(double)> &truth : {std::function<double(double)>(quadratic), {hump}}) {
        auto points = narrowPeaksOn(truth);
        PatternPoint *background = fittedBackground(points.data(), kCount);
        ASSERT_NE(background, nullptr);
        double worst = 0.0;
        for (int i = 0; i < kCount; ++i) {
            ASSERT_EQ(background[i].x, points[static_cast<std::size_t>(i)].x);
            const PatternPoint &p = background[i];
            if (!nearAPeak(p.x, 1.5)) worst = std::fmax(worst, std::fabs(p.y / truth(p.x) - 1.0));
        }
        EXPECT_LT(worst, 0.01);
        std::free(background);
    }
}

TEST(BackgroundEstimation, RefusalsBadValuesAndAllocationFailures) {
    auto points = narrowPeaksOn(quadratic);
    int32_t count = -1;
    for (int32_t n : {100, 199}) {  // step < 5
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
    PatternPoint *picked = powderkit::selectBackgroundPoints(short200.data(), 200, &count);
    EXPECT_TRUE(picked != nullptr && count >= 4 && count <= 40) << count;
    std::free(picked);
    // dx = 0 (all x equal) and dx < 0 (x running backwards); a flat and a straight pattern
    // have no slope below a tenth of the steepest, so only the two ends are picked.
    auto still = pk_test::makePattern(1.0, 0.0, 300, {}, [](double) { return 5.0; });
    for (int i = 0; i < 300; ++i) still[static_cast<std::size_t>(i)].y += i % 7;
    auto reversed = pk_test::makePattern(-5.0, -0.02, kCount, {}, quadratic);
    auto flat = pk_test::makePattern(0.0, 0.1, 400, {}, [](double) { return 12.0; });
    auto line = pk_test::makePattern(0.0, 0.1, 400, {}, [](double x) { return 3.0 + 5.0 * x; });
    for (const auto *bad : {&still, &reversed, &flat, &line}) {
        EXPECT_EQ(fittedBackground(bad->data(), static_cast<int32_t>(bad->size())), nullptr) << bad->size();
    }
    // Values that are not numbers, and x jumbled but rising overall: meaningless, never a fault.
    auto spoiled = points, jumbled = points;
    spoiled[300].y = std::numeric_limits<double>::quiet_NaN();
    spoiled[900].y = std::numeric_limits<double>::infinity();
    for (std::size_t i = 1; i + 1 < jumbled.size(); i += 2) std::swap(jumbled[i].x, jumbled[i + 1].x);
    std::free(fittedBackground(spoiled.data(), kCount));
    std::free(fittedBackground(jumbled.data(), kCount));
    // The picks, their shrink, the segments, the output and the spline's work block:
    // a failed shrink keeps the larger block, so only that failure still gives a background.
    long run = 0;
    const auto attempt = [&] { return fittedBackground(points.data(), kCount); };
    EXPECT_EQ(pk_test::forEachFailedAllocation(attempt, [&](PatternPoint *background, bool failed) {
                  EXPECT_EQ(background != nullptr, !failed || ++run == 2) << run;
                  std::free(background);
              }),
              6);
}

}  // namespace
