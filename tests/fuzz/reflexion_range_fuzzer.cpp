// FindReflexionRange on arbitrary positions, peaks, counts and windows. When
// it answers true the window must lie inside the pattern around the nearest
// index and hold at most `window` points; for sorted, finite positions and a
// finite peak the nearest index must be at the smallest distance from the
// peak (found here by a plain scan). A false answer leaves the range as it
// was.
//
// Layout: byte flags (bit 0: sort the positions), window (int32), peak
// (value), then the positions (values) up to the end of the input.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_input.hpp"
#include "powderkit.h"

namespace {

void check(bool condition, const char *what) {
    if (condition) return;
    std::fprintf(stderr, "FindReflexionRange: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    const uint8_t flags = in.byte();
    const int32_t window = in.int32();
    Reflexion reflexion{};
    reflexion.peakPosition = in.value();
    std::vector<double> positions;
    while (!in.exhausted()) positions.push_back(in.value());
    bool sorted = (flags & 1) != 0;
    if (sorted) {
        // NaN has no place in an order: replace it so that sorting is defined.
        for (double &p : positions) {
            if (std::isnan(p)) p = 0.0;
        }
        std::sort(positions.begin(), positions.end());
    }
    const int32_t count = static_cast<int32_t>(positions.size());
    ReflexionRange range{-1, -2, -3, -4};
    const bool found = FindReflexionRange(&reflexion, positions.empty() ? nullptr : positions.data(),
                                          count, window, &range);
    if (!found) {
        check(range.firstIndex == -1 && range.nearestIndex == -2 && range.lastIndex == -3 &&
                  range.pointCount == -4,
              "a false answer changed the range");
        return 0;
    }
    check(count >= 1 && window >= 1, "true for an empty pattern or window");
    check(0 <= range.firstIndex && range.firstIndex <= range.nearestIndex, "first index");
    check(range.nearestIndex <= range.lastIndex && range.lastIndex < count, "last index");
    check(range.pointCount == range.lastIndex - range.firstIndex + 1, "point count");
    check(range.pointCount <= window, "more points than the window");

    const double peak = reflexion.peakPosition;
    bool finite = std::isfinite(peak);
    for (double p : positions) finite = finite && std::isfinite(p);
    if (sorted && finite) {
        double best = INFINITY;
        for (double p : positions) best = std::min(best, std::fabs(peak - p));
        check(std::fabs(peak - positions[static_cast<std::size_t>(range.nearestIndex)]) == best,
              "the nearest index is not the nearest point");
    }
    return 0;
}
