// Allocation failures in the raw-pattern analysis: peak location gives NULL
// with the count untouched, the peak fit gives NULL (releasing every
// intermediate matrix and the partly refined parameters), the background
// gives NULL; none of them touches the host's pattern.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "powderkit.h"
#include "sweep.hpp"

namespace {

using pk_reliability::sweepAllocations;
using pk_reliability::Trial;

// 600 points over 2θ 10° … 69.9°: a slowly rising background and three
// Gaussian peaks (heights 500, 300, 800; σ 0.15°) at points 100, 250, 400.
// A shrink that fails keeps the larger block and the full result, so a run
// with a failed allocation gives either NULL or exactly the result of a run
// without failure.
std::vector<PatternPoint> pattern() {
    std::vector<PatternPoint> points(600);
    const double centres[3] = {20.0, 35.0, 50.0};
    const double heights[3] = {500.0, 300.0, 800.0};
    for (int i = 0; i < 600; ++i) {
        const double x = 10.0 + 0.1 * i;
        double y = 50.0 + 0.3 * x;
        for (int p = 0; p < 3; ++p) {
            const double u = (x - centres[p]) / 0.15;
            y += heights[p] * std::exp(-0.5 * u * u);
        }
        points[static_cast<std::size_t>(i)] = PatternPoint{x, y};
    }
    return points;
}

bool samePattern(const std::vector<PatternPoint> &a, const std::vector<PatternPoint> &b) {
    return std::memcmp(a.data(), b.data(), a.size() * sizeof(PatternPoint)) == 0;
}

TEST(AnalysisSweep, PeakLocationGivesNullAndLeavesTheCount) {
    sweepAllocations("locatePeakRanges", [](Trial &t) {
        std::vector<PatternPoint> points = pattern();
        const std::vector<PatternPoint> original = points;
        int32_t count = -3;
        PeakRange *ranges = nullptr;
        t.run([&] { ranges = locatePeakRanges(points.data(), 600, 5, &count); });
        EXPECT_TRUE(samePattern(points, original));
        if (ranges == nullptr) {
            EXPECT_TRUE(t.failed());
            EXPECT_EQ(count, -3);
        } else {
            ASSERT_EQ(count, 3);
            EXPECT_EQ(ranges[0].maximum, &points[100]);
            EXPECT_EQ(ranges[1].maximum, &points[250]);
            EXPECT_EQ(ranges[2].maximum, &points[400]);
        }
        std::free(ranges);
    });
}

TEST(AnalysisSweep, PeakFitGivesNullAndReleasesEverything) {
    std::vector<PatternPoint> points = pattern();
    int32_t count = 0;
    PeakRange *ranges = locatePeakRanges(points.data(), 600, 5, &count);
    ASSERT_EQ(count, 3);
    const PeakRange located = ranges[1];
    const std::vector<PatternPoint> original = points;
    sweepAllocations("pseudoVoigtFit", [&](Trial &t) {
        PeakRange range = located;
        Matrix *parameters = nullptr;
        t.run([&] { parameters = pseudoVoigtFit(&range); });
        EXPECT_TRUE(samePattern(points, original));
        EXPECT_EQ(range.maximum, located.maximum);
        EXPECT_NE(range.start, nullptr);  // the window is set before any allocation
        if (t.failed()) {
            EXPECT_EQ(parameters, nullptr);
        } else {
            ASSERT_NE(parameters, nullptr);
            double x0, area, background, fwhm, eta;
            ASSERT_EQ(peakParametersForPseudoVoigt(parameters, &x0, &area, &background, &fwhm,
                                                   &eta),
                      1);
            // The 35° Gaussian: FWHM = 2√(2 ln 2)·0.15°, area = 300·0.15·√(2π).
            EXPECT_NEAR(x0, 35.0, 1e-3);
            EXPECT_NEAR(fwhm, 2.0 * std::sqrt(2.0 * std::log(2.0)) * 0.15, 0.02);
            EXPECT_NEAR(area, 300.0 * 0.15 * std::sqrt(2.0 * M_PI), 5.0);
        }
        freeMatrix(parameters);
    });
    std::free(ranges);
}

TEST(AnalysisSweep, BackgroundGivesNullAndLeavesThePattern) {
    std::vector<PatternPoint> points = pattern();
    PatternPoint *reference = fittedBackground(points.data(), 600);
    ASSERT_NE(reference, nullptr);
    // Between the peaks the background follows the pattern (and its line).
    for (int i : {50, 175, 325, 500}) {
        EXPECT_EQ(reference[i].x, points[static_cast<std::size_t>(i)].x);
        EXPECT_NEAR(reference[i].y, 50.0 + 0.3 * points[static_cast<std::size_t>(i)].x, 1.0) << i;
    }
    const std::vector<PatternPoint> expected(reference, reference + 600);
    std::free(reference);
    sweepAllocations("fittedBackground", [&](Trial &t) {
        const std::vector<PatternPoint> original = points;
        PatternPoint *background = nullptr;
        t.run([&] { background = fittedBackground(points.data(), 600); });
        EXPECT_TRUE(samePattern(points, original));
        if (background == nullptr) {
            EXPECT_TRUE(t.failed());
        } else {
            EXPECT_TRUE(samePattern(std::vector<PatternPoint>(background, background + 600),
                                    expected));
        }
        std::free(background);
    });
}

}  // namespace
