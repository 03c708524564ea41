// Peak location: the hand-traced rules (margins, confirmation, flat tops,
// baselines, replacement in a full block, order along the pattern), peaks of
// a synthetic pattern, and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "analysis/analysis.hpp"
#include "support/allocation_failure.hpp"
#include "synthetic_pattern.hpp"

namespace {

// A flat pattern at y = 10 with single-point spikes of the given heights.
std::vector<PatternPoint> spikes(int count, std::vector<std::pair<int, double>> spikeList) {
    std::vector<PatternPoint> points(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) points[static_cast<std::size_t>(i)] = {0.1 * i, 10.0};
    for (auto [index, height] : spikeList) points[static_cast<std::size_t>(index)].y = 10.0 + height;
    return points;
}

struct Located {
    PeakRange *ranges = nullptr;
    int32_t count = -7;
    ~Located() { std::free(ranges); }
};

void locate(std::vector<PatternPoint> &points, int32_t maxPeaks, Located &out) {
    out.ranges = locatePeakRanges(points.data(), static_cast<int32_t>(points.size()), maxPeaks,
                                  &out.count);
}

long indexOf(const std::vector<PatternPoint> &points, const PatternPoint *p) {
    return p - points.data();
}

TEST(PeakLocation, RefusesShortPatternsAndBadArgumentsLeavingTheCount) {
    auto points = spikes(100, {{50, 40.0}});
    int32_t count = -7;
    EXPECT_EQ(locatePeakRanges(points.data(), 99, 3, &count), nullptr);
    EXPECT_EQ(locatePeakRanges(nullptr, 100, 3, &count), nullptr);
    EXPECT_EQ(locatePeakRanges(points.data(), 100, 0, &count), nullptr);
    EXPECT_EQ(locatePeakRanges(points.data(), 100, 3, nullptr), nullptr);
    EXPECT_EQ(count, -7);
    // 100 points: indices 30 … 69 are scanned, so the spike at 50 is
    // confirmed at index 61.
    Located found;
    locate(points, 3, found);
    ASSERT_EQ(found.count, 1);
    EXPECT_EQ(indexOf(points, found.ranges[0].maximum), 50);
    EXPECT_EQ(found.ranges[0].height, 40.0);
    EXPECT_EQ(found.ranges[0].baseline, 10.0);
    EXPECT_EQ(found.ranges[0].start, nullptr);
    EXPECT_EQ(found.ranges[0].pointCount, 0);
    // A spike at 60 would need index 71 to be confirmed: not within the scan.
    auto late = spikes(100, {{60, 40.0}});
    Located none;
    locate(late, 3, none);
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(none.ranges, nullptr);
}

TEST(PeakLocation, RisingPatternConfirmsNothing) {
    std::vector<PatternPoint> points(200);
    for (int i = 0; i < 200; ++i) points[static_cast<std::size_t>(i)] = {1.0 * i, 5.0 + i};
    Located found;
    locate(points, 4, found);
    EXPECT_EQ(found.count, 0);
    EXPECT_EQ(found.ranges, nullptr);
}

TEST(PeakLocation, BaselineIsTheLowestPointBeforeConfirmation) {
    // Spike at 40; a dip to 8 at 45, after the maximum but before the point
    // (51) that confirms it.
    auto points = spikes(120, {{40, 40.0}, {45, -2.0}});
    Located found;
    locate(points, 3, found);
    ASSERT_EQ(found.count, 1);
    EXPECT_EQ(indexOf(points, found.ranges[0].maximum), 40);
    EXPECT_EQ(found.ranges[0].baseline, 8.0);
    EXPECT_EQ(found.ranges[0].height, 42.0);
}

TEST(PeakLocation, FlatTopsAreNotRecorded) {
    // A plateau at 60 over indices 45 … 70. Traced by hand: the maximum at 45
    // (first point of the plateau) is confirmed at 56 and recorded; the scan
    // restarts at 57 on the plateau (confirmed at 68 with height 0) and at 69,
    // whose neighbour 68 is as high: confirmed at 80 with height 50 but not
    // recorded.
    std::vector<PatternPoint> points = spikes(120, {});
    for (int i = 45; i <= 70; ++i) points[static_cast<std::size_t>(i)].y = 60.0;
    Located found;
    locate(points, 5, found);
    ASSERT_EQ(found.count, 1);
    EXPECT_EQ(indexOf(points, found.ranges[0].maximum), 45);
    EXPECT_EQ(found.ranges[0].height, 50.0);
}

TEST(PeakLocation, FullBlockKeepsTheHighestInPatternOrder) {
    // Heights 30, 50, 20, 40 at 40, 60, 80, 100; the spike at 120 is not
    // confirmed before the scan ends at 129.
    auto points = spikes(160, {{40, 30.0}, {60, 50.0}, {80, 20.0}, {100, 40.0}, {120, 99.0}});
    Located two;
    locate(points, 2, two);
    ASSERT_EQ(two.count, 2);
    EXPECT_EQ(indexOf(points, two.ranges[0].maximum), 60);
    EXPECT_EQ(indexOf(points, two.ranges[1].maximum), 100);
    EXPECT_EQ(two.ranges[1].height, 40.0);
    Located all;
    locate(points, 10, all);
    ASSERT_EQ(all.count, 4);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(indexOf(points, all.ranges[k].maximum), 40 + 20 * k);
    // Equal heights with room for one: a later peak replaces only when higher.
    auto equal = spikes(160, {{40, 30.0}, {60, 30.0}});
    Located first;
    locate(equal, 1, first);
    ASSERT_EQ(first.count, 1);
    EXPECT_EQ(indexOf(equal, first.ranges[0].maximum), 40);
}

TEST(PeakLocation, FindsSyntheticPeaksStrongestFirstWhenRoomIsShort) {
    // Gaussian peaks (their tails reach the flat background, so each is
    // confirmed on the flat after it) on 0.01° steps.
    const std::vector<pk_test::Peak> peaks = {
        {12.0, 3.0, 0.08, 0.0}, {15.5, 9.0, 0.08, 0.0}, {19.0, 1.0, 0.08, 0.0},
        {23.0, 6.0, 0.08, 0.0}, {27.0, 2.0, 0.08, 0.0}};
    auto points = pk_test::makePattern(10.0, 0.01, 2000, peaks, [](double) { return 50.0; });
    Located all;
    locate(points, 8, all);
    ASSERT_EQ(all.count, 5);
    for (int k = 0; k < 5; ++k) {
        EXPECT_NEAR(all.ranges[k].maximum->x, peaks[static_cast<std::size_t>(k)].position, 0.0051);
        // Height above the flat: area·√(4 ln 2/π)/Γ at the centre (within a
        // half step of it, where the peak is lower by under 1 %).
        const double top = peaks[static_cast<std::size_t>(k)].area * std::sqrt(4.0 * std::log(2.0) / std::acos(-1.0)) / 0.08;
        EXPECT_NEAR(all.ranges[k].height, top, 0.01 * top);
        EXPECT_NEAR(all.ranges[k].baseline, 50.0, 1e-9);
    }
    Located strongest;
    locate(points, 2, strongest);
    ASSERT_EQ(strongest.count, 2);
    EXPECT_NEAR(strongest.ranges[0].maximum->x, 15.5, 0.0051);
    EXPECT_NEAR(strongest.ranges[1].maximum->x, 23.0, 0.0051);
}

TEST(PeakLocation, BadValuesAndAllocationFailuresDoNoHarm) {
    auto points = spikes(200, {{50, 40.0}, {90, 30.0}});
    points[60].y = std::numeric_limits<double>::quiet_NaN();
    points[70].y = std::numeric_limits<double>::infinity();
    points[120].y = -std::numeric_limits<double>::infinity();
    Located messy;
    locate(points, 3, messy);
    EXPECT_LE(messy.count, 3);
    EXPECT_GE(messy.count, 0);

    auto clean = spikes(200, {{50, 40.0}, {90, 30.0}});
    for (int32_t maxPeaks : {1, 5}) {
        for (long n = 1;; ++n) {
            int32_t count = -7;
            pk_test::failAllocationNumber(n);
            PeakRange *ranges = locatePeakRanges(clean.data(), 200, maxPeaks, &count);
            const bool failed = pk_test::allocationsCounted() >= n;
            pk_test::disarmAllocationFailure();
            std::free(ranges);
            if (!failed) break;
            if (n == 1) {
                EXPECT_EQ(ranges, nullptr);
                EXPECT_EQ(count, -7);
            } else {
                // Only the final shrink can fail: the larger block is kept.
                EXPECT_NE(ranges, nullptr);
                EXPECT_EQ(count, 2);
            }
            ASSERT_LT(n, 5);
        }
    }
}

}  // namespace
