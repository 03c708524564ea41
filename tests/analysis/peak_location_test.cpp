// Peak location: the hand-traced rules (margins, confirmation, baselines, flat
// tops, replacement in a full block, order along the pattern), and refused
// or meaningless input.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "analysis/analysis.hpp"
#include "synthetic_pattern.hpp"

namespace {

// {first index, last index, height above the flat}: a spike, or a plateau.
using Bump = std::array<int, 3>;

// {index of the maximum, height, baseline} of each range found, in order.
std::vector<std::array<double, 3>> locate(std::vector<PatternPoint> &points, int32_t maxPeaks) {
    int32_t count = -7;
    PeakRange *ranges = locatePeakRanges(points.data(), static_cast<int32_t>(points.size()), maxPeaks, &count);
    EXPECT_EQ(ranges == nullptr, count == 0);
    std::vector<std::array<double, 3>> found;
    for (int32_t k = 0; k < count; ++k) {
        EXPECT_TRUE(ranges[k].start == nullptr && ranges[k].pointCount == 0);
        found.push_back({static_cast<double>(ranges[k].maximum - points.data()), ranges[k].height, ranges[k].baseline});
    }
    std::free(ranges);
    return found;
}

TEST(PeakLocation, HandTracedRules) {
    const struct { int count; std::vector<Bump> bumps; int32_t maxPeaks; std::vector<std::array<double, 3>> expected; } cases[] = {
        // 100 points: indices 30 … 69 are scanned; 50 is confirmed at 61, 59 would need 70, 29 is not seen.
        {100, {{50, 50, 40}}, 3, {{50, 40, 10}}}, {100, {{59, 59, 40}}, 3, {}}, {100, {{29, 29, 40}}, 3, {}},
        // A dip to 8 after the maximum but before its confirmation sets the baseline.
        {120, {{40, 40, 40}, {45, 45, -2}}, 3, {{40, 42, 8}}},
        // A plateau 45 … 70: 45 is recorded; the scan restarts at 57, on the plateau, and the
        // maximum at 69, whose neighbour is as high, is confirmed at 80 but not recorded.
        {120, {{45, 70, 50}}, 5, {{45, 50, 10}}},
        // A full block keeps the highest in pattern order; 120 is not confirmed before 129.
        {160, {{40, 40, 30}, {60, 60, 50}, {80, 80, 20}, {100, 100, 40}, {120, 120, 99}}, 2, {{60, 50, 10}, {100, 40, 10}}},
        {160, {{40, 40, 30}, {60, 60, 50}, {80, 80, 20}, {100, 100, 40}, {120, 120, 99}}, 10,
         {{40, 30, 10}, {60, 50, 10}, {80, 20, 10}, {100, 40, 10}}},
        // Equal heights: a later peak replaces only when higher, and displaces the first lowest.
        {160, {{40, 40, 30}, {60, 60, 30}}, 1, {{40, 30, 10}}},
        {160, {{40, 40, 30}, {60, 60, 30}, {80, 80, 50}}, 2, {{60, 30, 10}, {80, 50, 10}}},
        {160, {{40, 40, 50}, {60, 60, 20}, {80, 80, 30}, {100, 100, 40}}, 2, {{40, 50, 10}, {100, 40, 10}}},
    };
    for (const auto &c : cases) {
        auto points = pk_test::makePattern(0.0, 0.1, c.count, {}, [](double) { return 10.0; });
        for (const Bump &b : c.bumps) {
            for (int i = b[0]; i <= b[1]; ++i) points[static_cast<std::size_t>(i)].y = 10.0 + b[2];
        }
        EXPECT_EQ(locate(points, c.maxPeaks), c.expected) << c.count << " points, " << c.maxPeaks;
    }
}

TEST(PeakLocation, RefusedAndMeaninglessInput) {
    auto points = pk_test::makePattern(0.0, 0.1, 200, {{5.0, 20.0, 0.3, 0.0}, {9.0, 10.0, 0.3, 0.0}}, [](double) { return 50.0; });
    // A rising pattern, x all equal with y flat, or not numbers: nothing.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto rising = pk_test::makePattern(0.0, 1.0, 200, {}, [](double x) { return 5.0 + x; });
    std::vector<PatternPoint> flat(400, PatternPoint{5.0, 1.0}), nans(400, PatternPoint{nan, nan});
    EXPECT_TRUE(locate(rising, 4).empty() && locate(flat, 3).empty() && locate(nans, 3).empty());
    // Too few points, no room, null: refused with the count untouched; infinities do no harm.
    int32_t count = -7;
    EXPECT_TRUE(locatePeakRanges(points.data(), 99, 3, &count) == nullptr && locatePeakRanges(nullptr, 100, 3, &count) == nullptr);
    EXPECT_TRUE(locatePeakRanges(points.data(), 100, 0, &count) == nullptr && locatePeakRanges(points.data(), 100, 3, nullptr) == nullptr);
    EXPECT_EQ(count, -7);
    points[60].y = nan, points[70].y = std::numeric_limits<double>::infinity(), points[120].y = -points[70].y;
    EXPECT_LE(locate(points, 3).size(), 3u);
}

}  // namespace
