// Peak location on a raw pattern: one pass over the y values (30 points kept
// clear at each end) following a running maximum and a running minimum. A
// maximum is confirmed once a point more than 10 points beyond it is neither
// higher than it nor lower than the minimum; it is recorded unless the point
// before it is as high (a flat top). A full block keeps the highest peaks.
#include <cstdint>
#include <cstdlib>

#include "analysis/analysis.hpp"

namespace powderkit {

namespace {

constexpr int32_t kMinimumPoints = 100;
constexpr int32_t kEdgeMargin = 30;
constexpr int32_t kConfirmationDistance = 10;

int compareByMaximum(const void *left, const void *right) {
    const auto a = reinterpret_cast<std::uintptr_t>(static_cast<const PeakRange *>(left)->maximum);
    const auto b = reinterpret_cast<std::uintptr_t>(static_cast<const PeakRange *>(right)->maximum);
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

}  // namespace powderkit

extern "C" {

// Up to maxPeaks confirmed maxima, the highest above their baselines, in
// pattern order; the caller frees the block. NULL (outCount untouched) for bad
// arguments or no memory; NULL with *outCount = 0 when nothing was confirmed.
PeakRange *locatePeakRanges(PatternPoint *points, int32_t count, int32_t maxPeaks,
                            int32_t *outCount) {
    using namespace powderkit;
    if (points == nullptr || count < kMinimumPoints || maxPeaks < 1 || outCount == nullptr) {
        return nullptr;
    }
    auto *ranges = static_cast<PeakRange *>(
        std::malloc(static_cast<std::size_t>(maxPeaks) * sizeof(PeakRange)));
    if (ranges == nullptr) return nullptr;

    int32_t n = 0;
    double lowestHeight = 0.0;
    int32_t lowestIndex = 0;
    bool tracking = false;
    int32_t maximum = 0;
    double minimum = 0.0;
    for (int32_t i = kEdgeMargin; i <= count - kEdgeMargin - 1; ++i) {
        const double y = points[i].y;
        if (!tracking) {
            minimum = y;
            maximum = i;
            tracking = true;
        } else if (y > points[maximum].y) {
            maximum = i;
        } else if (y < minimum) {
            minimum = y;
        } else if (i - maximum > kConfirmationDistance) {
            const double height = points[maximum].y - minimum;
            if (points[maximum].y > points[maximum - 1].y) {
                const PeakRange peak = {nullptr, &points[maximum], 0, minimum, height};
                if (n < maxPeaks) {
                    if (n == 0 || height < lowestHeight) {
                        lowestHeight = height;
                        lowestIndex = n;
                    }
                    ranges[n] = peak;
                    n += 1;
                } else if (height > lowestHeight) {
                    ranges[lowestIndex] = peak;
                    lowestIndex = 0;
                    lowestHeight = ranges[0].height;
                    for (int32_t k = 1; k < n; ++k) {
                        if (ranges[k].height < lowestHeight) {
                            lowestHeight = ranges[k].height;
                            lowestIndex = k;
                        }
                    }
                }
            }
            tracking = false;
            minimum = 0.0;
        }
    }

    *outCount = n;
    if (n == maxPeaks) {
        // Replacements may have broken the pattern order.
        std::qsort(ranges, static_cast<std::size_t>(n), sizeof(PeakRange), compareByMaximum);
        return ranges;
    }
    if (n == 0) {
        std::free(ranges);
        return nullptr;
    }
    // A failed shrink keeps the larger block, which is just as good.
    void *shrunk = std::realloc(ranges, static_cast<std::size_t>(n) * sizeof(PeakRange));
    return shrunk != nullptr ? static_cast<PeakRange *>(shrunk) : ranges;
}

}  // extern "C"
