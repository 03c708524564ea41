// Selection of background points on a raw pattern. The pattern is smoothed
// and differentiated with the nine-point Savitzky–Golay filters (quadratic
// smoothing, cubic first derivative; the published weights). It is then
// scanned in stretches of 2.5 % of the points: in each, the lowest smoothed
// point where the slope is below a tenth of the steepest slope is picked,
// the best value carrying over from one stretch to the next.
#include <cmath>
#include <cstdlib>

#include "analysis/analysis.hpp"
#include "frame/frame.hpp"

namespace powderkit {

const FilterTable smoothingCoefficients = {
    9, 231, {-21.0, 14.0, 39.0, 54.0, 59.0, 54.0, 39.0, 14.0, -21.0}};
const FilterTable firstDerivativeCoefficients = {
    9, 1188, {86.0, -142.0, -193.0, -126.0, 0.0, 126.0, 193.0, 142.0, -86.0}};

namespace {

constexpr int32_t kMinimumPoints = 100;
constexpr double kStretchFraction = 0.025;
constexpr int32_t kMinimumStretch = 5;
constexpr int32_t kMinimumSegments = 4;
constexpr int32_t kMinimumPicks = 4;
// The smoothing divisor, applied as a literal rather than read from its table.
constexpr double kSmoothingDivisor = 231.0;
// A point is flat when its slope is below this fraction of the steepest one.
constexpr double kFlatSlopeFraction = 0.1;

// The filter's weighted sum over the window of points first … first + 8.
double filterSum(const FilterTable &filter, const PatternPoint *first) {
    double sum = 0.0;
    for (int32_t k = 0; k < 9; ++k) sum += filter.coefficients[k] * first[k].y;
    return sum;
}

}  // namespace

PatternPoint *selectBackgroundPoints(const PatternPoint *points, int32_t count,
                                     int32_t *outCount) {
    if (points == nullptr || outCount == nullptr || count < kMinimumPoints) return nullptr;
    const int32_t step = truncateToInt32(static_cast<double>(count) * kStretchFraction);
    if (step < kMinimumStretch) return nullptr;
    const int32_t segments = count / step;
    if (segments < kMinimumSegments) return nullptr;
    const double dx = (points[count - 1].x - points[0].x) / static_cast<double>(count);
    if (!(dx > 0.0)) return nullptr;

    // The filtered values are recomputed where the scan needs them rather
    // than stored: the same sums, without touching two more blocks of the
    // pattern's size.
    const int32_t filtered = count - firstDerivativeCoefficients.window;
    auto *picked = static_cast<PatternPoint *>(
        std::malloc(static_cast<std::size_t>(segments) * sizeof(PatternPoint)));
    if (picked == nullptr) return nullptr;
    const double normaliser = static_cast<double>(firstDerivativeCoefficients.normaliser);
    const auto smoothedAt = [points](int32_t i) -> PatternPoint {
        return {points[i + 4].x, filterSum(smoothingCoefficients, points + i) / kSmoothingDivisor};
    };
    const auto slopeAt = [points, normaliser, dx](int32_t i) {
        return filterSum(firstDerivativeCoefficients, points + i) / normaliser / dx;
    };

    double steepest = 0.0;
    for (int32_t i = 0; i < filtered; ++i) {
        const double slope = std::fabs(slopeAt(i));
        if (slope > steepest) steepest = slope;
    }

    int32_t n = 0;
    picked[n++] = {points[0].x, smoothedAt(0).y};
    int32_t position = 0;  // within the current stretch
    int32_t candidates = 0;
    PatternPoint best = smoothedAt(0);
    int32_t bestIndex = 0;
    const double flat = kFlatSlopeFraction * steepest;
    int32_t i = step;
    while (i < filtered - step) {
        const PatternPoint smoothed = smoothedAt(i);
        if ((position == 0 || best.y > smoothed.y) && std::fabs(slopeAt(i)) < flat) {
            best = smoothed;
            bestIndex = i;
            candidates += 1;
        }
        if (position == step) {
            const bool found = candidates > 0;
            position = 0;
            candidates = 0;
            if (found) {
                picked[n++] = best;
                if (n >= segments - 1) break;
                // The next stretch starts step + 1 points after the pick.
                i = bestIndex + step + 1;
                continue;
            }
        } else {
            position += 1;
        }
        i += 1;
    }
    picked[n++] = {points[count - 1].x, smoothedAt(filtered - 1).y};

    if (n < kMinimumPicks) {
        std::free(picked);
        return nullptr;
    }
    if (n < segments) {
        // A failed shrink keeps the larger block, which is just as good.
        void *shrunk = std::realloc(picked, static_cast<std::size_t>(n) * sizeof(PatternPoint));
        if (shrunk != nullptr) picked = static_cast<PatternPoint *>(shrunk);
    }
    *outCount = n;
    return picked;
}

}  // namespace powderkit
