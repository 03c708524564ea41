// The window of pattern points around a reflexion, on the positions 0 … 9.
#include <gtest/gtest.h>

#include "powderkit.h"

namespace {

TEST(ReflexionRange, NearestPointAndWindowOnTenPositions) {
    const double positions[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    Reflexion *reflexion = makeReflexion();
    const struct {
        double peak;
        int32_t window, first, nearest, last, count;
    } cases[] = {
        {3.5, 5, 1, 3, 5, 5},   // a tie goes to the lower index
        {3.51, 5, 2, 4, 6, 5},
        {0.2, 5, 0, 0, 2, 3},   // cut at the first point
        {9.9, 5, 7, 9, 9, 3},   // beyond the last point, within 2 × 9 / 10 = 1.8
        {10.5, 5, 7, 9, 9, 3},
        {-1.7, 5, 0, 0, 2, 3},  // below the first point, within 1.8
        {6.0, 1, 6, 6, 6, 1},   // window 1: the nearest point alone
        {6.2, 4, 5, 6, 7, 3},   // window 4: half-width (4 − 1) / 2 = 1
    };
    for (const auto &c : cases) {
        reflexion->peakPosition = c.peak;
        ReflexionRange range{-1, -1, -1, -1};
        ASSERT_TRUE(FindReflexionRange(reflexion, positions, 10, c.window, &range)) << c.peak;
        EXPECT_EQ(range.firstIndex, c.first) << c.peak;
        EXPECT_EQ(range.nearestIndex, c.nearest) << c.peak;
        EXPECT_EQ(range.lastIndex, c.last) << c.peak;
        EXPECT_EQ(range.pointCount, c.count) << c.peak;
    }
    reflexion->methods->freeReflexion(reflexion);
}

TEST(ReflexionRange, PeaksOffThePatternAndBadArgumentsLeaveTheRangeUntouched) {
    const double positions[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    Reflexion *reflexion = makeReflexion();
    ReflexionRange range{-1, -2, -3, -4};
    for (const double peak : {12.0, 10.81, -1.81}) {
        reflexion->peakPosition = peak;
        EXPECT_FALSE(FindReflexionRange(reflexion, positions, 10, 5, &range)) << peak;
    }
    reflexion->peakPosition = 9.01;  // window 2: tolerance 0
    EXPECT_FALSE(FindReflexionRange(reflexion, positions, 10, 2, &range));
    reflexion->peakPosition = 5.0;
    EXPECT_FALSE(FindReflexionRange(nullptr, positions, 10, 5, &range));
    EXPECT_FALSE(FindReflexionRange(reflexion, nullptr, 10, 5, &range));
    EXPECT_FALSE(FindReflexionRange(reflexion, positions, 10, 5, nullptr));
    EXPECT_FALSE(FindReflexionRange(reflexion, positions, 0, 5, &range));
    EXPECT_FALSE(FindReflexionRange(reflexion, positions, 10, 0, &range));
    EXPECT_EQ(range.firstIndex, -1);
    EXPECT_EQ(range.nearestIndex, -2);
    EXPECT_EQ(range.lastIndex, -3);
    EXPECT_EQ(range.pointCount, -4);
    reflexion->methods->freeReflexion(reflexion);
}

}  // namespace
