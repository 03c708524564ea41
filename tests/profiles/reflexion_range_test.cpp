// The window of pattern points around a reflexion, on the positions 0 … 9.
#include <gtest/gtest.h>

#include <array>

#include "powderkit.h"

namespace {

using Indices = std::array<int32_t, 4>;  // first, nearest, last, count
const Indices kUntouched = {-1, -2, -3, -4};

Indices indicesOf(const ReflexionRange &range) {
    return {range.firstIndex, range.nearestIndex, range.lastIndex, range.pointCount};
}

TEST(ReflexionRange, NearestPointWindowAndPeaksOffThePattern) {
    const double positions[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    Reflexion *reflexion = makeReflexion();
    // Off the pattern the tolerance is half × span / count: 2 × 9 / 10 = 1.8 for window 5.
    const struct {
        double peak;
        int32_t window;
        Indices expected;
    } cases[] = {
        {3.5, 5, {1, 3, 5, 5}},  // a tie goes to the lower index
        {3.51, 5, {2, 4, 6, 5}}, {0.2, 5, {0, 0, 2, 3}},   {9.9, 5, {7, 9, 9, 3}},
        {10.5, 5, {7, 9, 9, 3}}, {-1.7, 5, {0, 0, 2, 3}},  {12.0, 5, kUntouched},
        {10.81, 5, kUntouched},  {-1.81, 5, kUntouched},
        {6.0, 1, {6, 6, 6, 1}},  // window 1: the nearest point alone
        {6.2, 4, {5, 6, 7, 3}},  // window 4: half-width (4 − 1) / 2 = 1
        {9.01, 2, kUntouched},   // window 2: tolerance 0
    };
    for (const auto &c : cases) {
        reflexion->peakPosition = c.peak;
        ReflexionRange range{-1, -2, -3, -4};
        EXPECT_EQ(FindReflexionRange(reflexion, positions, 10, c.window, &range),
                  c.expected != kUntouched) << c.peak;
        EXPECT_EQ(indicesOf(range), c.expected) << c.peak;
    }
    // Null and bad arguments: false with the range untouched.
    reflexion->peakPosition = 5.0;
    ReflexionRange range{-1, -2, -3, -4};
    EXPECT_FALSE(FindReflexionRange(nullptr, positions, 10, 5, &range) ||
                 FindReflexionRange(reflexion, nullptr, 10, 5, &range) ||
                 FindReflexionRange(reflexion, positions, 10, 5, nullptr) ||
                 FindReflexionRange(reflexion, positions, 0, 5, &range) ||
                 FindReflexionRange(reflexion, positions, 10, 0, &range));
    EXPECT_EQ(indicesOf(range), kUntouched);
    reflexion->methods->freeReflexion(reflexion);
}

}  // namespace
