// Background estimation: the filter tables against the polynomials they must
// reproduce, the natural spline against a hand-worked case and its defining
// conditions, the picks of flat stretches traced by hand, the fitted
// background as that spline through the picks, recovery of known smooth
// backgrounds under narrow peaks, and the patterns refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "analysis/analysis.hpp"
#include "support/tolerances.hpp"
#include "synthetic_pattern.hpp"

namespace {

double quadratic(double x) { return 150.0 + 0.03 * (x - 55.0) * (x - 55.0); }

TEST(BackgroundEstimation, FiltersAndTheSplineByHand) {
    // Nine-point Savitzky–Golay: the smoothing keeps 1, k, k², k³ at the
    // centre k = 0 (moments 1, 0, 0, 0); the cubic first derivative gives the
    // slope of each (moments 0, 1, 0, 0).
    for (int m = 0; m < 4; ++m) {
        double smooth = 0.0, slope = 0.0;
        for (int k = 0; k < 9; ++k) {
            smooth += powderkit::smoothingCoefficients.coefficients[k] * std::pow(k - 4, m);
            slope += powderkit::firstDerivativeCoefficients.coefficients[k] * std::pow(k - 4, m);
        }
        EXPECT_EQ(smooth / powderkit::smoothingCoefficients.normaliser, m == 0 ? 1.0 : 0.0) << m;
        EXPECT_EQ(slope / powderkit::firstDerivativeCoefficients.normaliser, m == 1 ? 1.0 : 0.0) << m;
    }
    // Knots (0,0), (1,1), (2,0), (3,1). By hand: α = (−6, 6), l = (4, 3.75), μ = (¼, 1/3.75),
    // z = (−1.5, 2), so c = (0, −2, 2, 0), b = (5/3, −1/3, −1/3), d = (−2/3, 4/3, −2/3); the
    // moment equation M₀ + 4M₁ + M₂ = 6(y₀ − 2y₁ + y₂) for M = 2c agrees: −16 + 4 = −12.
    const PatternPoint knots[4] = {{0, 0}, {1, 1}, {2, 0}, {3, 1}};
    powderkit::SplineSegment s[4];
    ASSERT_TRUE(powderkit::naturalCubicSpline(knots, 4, s) && !powderkit::naturalCubicSpline(knots, 1, s));
    const double expected[3][5] = {{0, 5.0 / 3, 0, -2.0 / 3, 0}, {1, -1.0 / 3, -2, 4.0 / 3, 1}, {0, -1.0 / 3, 2, -2.0 / 3, 2}};
    for (int j = 0; j < 3; ++j) {
        const double got[5] = {s[j].a, s[j].b, s[j].c, s[j].d, s[j].x0};
        for (int k = 0; k < 5; ++k) EXPECT_NEAR(got[k], expected[j][k], pk_test::kExact) << j << " " << k;
    }
    // Uneven knots against the defining conditions: S, S' and S'' continuous, S'' = 0 at the ends.
    const PatternPoint uneven[5] = {{0, 1}, {0.5, 3}, {2, -1}, {2.25, 0}, {4, 2}};
    ASSERT_TRUE(powderkit::naturalCubicSpline(uneven, 5, s));
    for (int j = 0; j < 4; ++j) {
        const double h = uneven[j + 1].x - s[j].x0;
        const double end[3] = {s[j].a + s[j].b * h + s[j].c * h * h + s[j].d * h * h * h, s[j].b + 2 * s[j].c * h + 3 * s[j].d * h * h,
                               s[j].c + 3 * s[j].d * h};
        const double next[3] = {uneven[j + 1].y, j < 3 ? s[j + 1].b : end[1], j < 3 ? s[j + 1].c : 0.0};
        EXPECT_TRUE(s[j].a == uneven[j].y && s[j].x0 == uneven[j].x && (j > 0 || s[j].c == 0.0)) << j;
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(end[k], next[k], pk_test::kRoundOff) << j << " " << k;
    }
}

TEST(BackgroundEstimation, PicksTheLowestFlatPointOfEachStretch) {
    // 400 points on a line (steps of 10 points) with a tall narrow peak at
    // index 350 setting the steepest slope: the line is flat. A stretch is
    // positions 0 … 10 from its start i (smoothed index, x of point i + 4); on
    // a rising line its lowest point is its first, on a falling line its last,
    // and the next stretch starts 11 points after the pick: rising picks at
    // points 14, 25, 36, …, falling at 24, 45, 66, …; the ends pair x₀ with
    // the smoothed value at x₄ and the last x with that at x₍count−6₎.
    for (const double slope : {0.01, -0.01}) {
        auto points = pk_test::makePattern(0.0, 1.0, 400, {{350.0, 2000.0, 2.0, 0.0}}, [slope](double x) { return 100.0 + slope * x; });
        int32_t count = 0;
        PatternPoint *picked = powderkit::selectBackgroundPoints(points.data(), 400, &count);
        ASSERT_NE(picked, nullptr);
        EXPECT_TRUE(count > 10 && count < 40) << count;
        EXPECT_TRUE(picked[0].x == 0.0 && picked[count - 1].x == 399.0);
        EXPECT_NEAR(picked[0].y, 100.0 + slope * 4.0, pk_test::kRoundOff * 100);
        for (int32_t k = 1; k <= 3; ++k) {
            const double x = slope > 0 ? 3.0 + 11.0 * k : 3.0 + 21.0 * k;
            EXPECT_EQ(picked[k].x, x) << slope << " " << k;
            EXPECT_NEAR(picked[k].y, 100.0 + slope * x, pk_test::kRoundOff * 100) << k;
        }
        std::free(picked);
    }
}

TEST(BackgroundEstimation, FollowsSmoothBackgroundsUnderNarrowPeaksAsTheSplineThroughThePicks) {
    // Narrow Gaussian peaks (FWHM 0.2°, ten steps) on a 0.02° axis from 5° to 105°. The
    // smoothing weights ring below a Gaussian of σ = 4.25 steps by at most 0.11 % of its
    // height: away from the peaks (1.5°) the curve stays within 1 % of the truth.
    const std::vector<pk_test::Peak> peaks = {{14.0, 80.0, 0.2, 0.0}, {27.5, 160.0, 0.2, 0.0}, {41.0, 40.0, 0.2, 0.0},
                                              {58.0, 120.0, 0.2, 0.0}, {73.0, 60.0, 0.2, 0.0}, {90.5, 100.0, 0.2, 0.0}};
    const auto hump = [](double x) { return 80.0 + 400.0 * std::exp(-x / 30.0) + 120.0 * std::exp(-std::pow((x - 45.0) / 12.0, 2.0)); };
    for (const std::function<double(double)> &truth : {std::function<double(double)>(quadratic), {hump}}) {
        auto points = pk_test::makePattern(5.0, 0.02, 5001, peaks, truth);
        int32_t count = 0;
        PatternPoint *picked = powderkit::selectBackgroundPoints(points.data(), 5001, &count);
        std::vector<powderkit::SplineSegment> s(static_cast<std::size_t>(count));
        ASSERT_TRUE(powderkit::naturalCubicSpline(picked, count, s.data()));
        PatternPoint *background = fittedBackground(points.data(), 5001);
        ASSERT_NE(background, nullptr);
        double worst = 0.0;
        for (std::size_t i = 0, j = 0; i < 5001; ++i) {
            const double x = points[i].x;
            while (j + 2 < static_cast<std::size_t>(count) && x >= s[j + 1].x0) ++j;
            const double t = x - s[j].x0, spline = s[j].a + t * (s[j].b + t * (s[j].c + t * s[j].d));
            EXPECT_TRUE(background[i].x == x && std::fabs(background[i].y - spline) <= pk_test::kRoundOff * spline) << i;
            bool nearPeak = false;
            for (const pk_test::Peak &peak : peaks) nearPeak = nearPeak || std::fabs(x - peak.position) < 1.5;
            if (!nearPeak) worst = std::fmax(worst, std::fabs(background[i].y / truth(x) - 1.0));
        }
        EXPECT_LT(worst, 0.01);
        std::free(picked), std::free(background);
    }
}

TEST(BackgroundEstimation, RefusedPatterns) {
    // Fewer than 200 points (stretches below 5), null arguments; x all equal,
    // running backwards or not numbers; a flat or straight pattern has no slope
    // below a tenth of the steepest, so only the ends would be picked.
    auto points = pk_test::makePattern(0.0, 0.1, 200, {{10.0, 20.0, 0.3, 0.0}}, quadratic);  // accepted: stretches of 5
    int32_t count = -1;
    EXPECT_TRUE(powderkit::selectBackgroundPoints(points.data(), 199, &count) == nullptr && fittedBackground(points.data(), 199) == nullptr);
    EXPECT_TRUE(powderkit::selectBackgroundPoints(nullptr, 200, &count) == nullptr && fittedBackground(nullptr, 200) == nullptr);
    EXPECT_TRUE(powderkit::selectBackgroundPoints(points.data(), 200, nullptr) == nullptr && count == -1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::vector<PatternPoint>> bad = {
        pk_test::makePattern(1.0, 0.0, 400, {{1.0, 9.0, 0.2, 0.0}}, [](double) { return 5.0; }), pk_test::makePattern(-5.0, -0.02, 400, {}, quadratic),
        std::vector<PatternPoint>(400, PatternPoint{nan, nan}), pk_test::makePattern(0.0, 0.1, 400, {}, [](double) { return 12.0; }),
        pk_test::makePattern(0.0, 0.1, 400, {}, [](double x) { return 3.0 + 5.0 * x; })};
    for (const auto &pattern : bad) EXPECT_EQ(fittedBackground(pattern.data(), 400), nullptr) << &pattern - &bad[0];
    PatternPoint *background = fittedBackground(points.data(), 200);
    EXPECT_NE(background, nullptr);
    std::free(background);
}

}  // namespace
