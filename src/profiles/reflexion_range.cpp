// The window of pattern points around one reflexion: the point nearest to its
// peak, found by halving over the ascending positions, and `window` points
// centred on it, cut at the ends of the pattern.
#include "powderkit.h"

extern "C" bool FindReflexionRange(Reflexion *reflexion, const double *positions, int32_t count,
                                   int32_t window, ReflexionRange *range) {
    if (reflexion == nullptr || positions == nullptr || range == nullptr || count < 1 ||
        window < 1) {
        return false;
    }
    const int32_t half = (window - 1) / 2;
    const double peak = reflexion->peakPosition;
    const double first = positions[0];
    const double last = positions[count - 1];
    if (peak < first || peak > last) {
        // The span over the number of points, not the number of gaps.
        const double tolerance = static_cast<double>(half) * (last - first) /
                                 static_cast<double>(count);
        if (peak - last > tolerance || first - peak > tolerance) return false;
    }
    int32_t lo = 0;
    int32_t hi = count;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (peak > positions[mid]) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    int32_t nearest;
    if (lo == count) {
        nearest = count - 1;
    } else if (lo == 0) {
        nearest = 0;
    } else {
        // A tie goes to the lower index.
        const double below = peak - positions[lo - 1];
        const double above = peak - positions[lo];
        nearest = (below < 0.0 ? -below : below) > (above < 0.0 ? -above : above) ? lo : lo - 1;
    }
    range->nearestIndex = nearest;
    range->firstIndex = nearest - half > 0 ? nearest - half : 0;
    range->lastIndex = nearest < count - 1 - half ? nearest + half : count - 1;
    range->pointCount = range->lastIndex - range->firstIndex + 1;
    return true;
}
