// Patterns whose peaks span many points (a fine-step scan: 5 million points
// over 80° put thousands of points in a 0.05° peak). Counting noise then
// makes hundreds of local maxima on every peak, and testing each of them
// over its peak's width costs the square of the width. Such a pattern is
// searched on bins of k consecutive points, k chosen so that the peaks keep
// about kPointsPerWidth points across their FWHM: the bin's x and y are the
// means of its points and σ = √(Σσ²)/k, the esd of that mean. A box of
// FWHM/kPointsPerWidth broadens a Gaussian's FWHM by about
// (2.355²/24)/kPointsPerWidth² ≈ 0.2 %, below the esd of any width the
// search reports.
#include <algorithm>
#include <cmath>
#include <vector>

#include "peaks/peaks.hpp"

namespace powderkit::peaks {

namespace {

constexpr double kPointsPerWidth = 12.0;
// The strongest peaks whose widths decide k, each masked over ±kMaskWidths of
// its FWHM before the next is looked for.
constexpr int kWidthSamples = 9;
constexpr double kMaskWidths = 3.0;
// A top below this many of its point's σ is noise, not a peak to measure
// (the running mean's own σ is σ/√5).
constexpr double kLeastTop = 3.0;

}  // namespace

int32_t binningFactor(const double *y, const double *sigma, const double *background, int32_t count,
                      int32_t widest) {
    std::vector<double> smoothed(static_cast<std::size_t>(count));
    // Running mean of y − b over i − kSmoothing … i + kSmoothing (fewer at the ends), from prefix sums.
    std::vector<double> prefix(static_cast<std::size_t>(count) + 1, 0.0);
    for (int32_t i = 0; i < count; ++i) prefix[i + 1] = prefix[i] + (y[i] - background[i]);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t first = std::max(i - kSmoothing, 0);
        const int32_t last = std::min(i + kSmoothing, count - 1);
        smoothed[i] = (prefix[last + 1] - prefix[first]) / (last - first + 1);
    }
    std::vector<bool> masked(static_cast<std::size_t>(count), false);
    std::vector<double> widths;
    for (int sample = 0; sample < kWidthSamples; ++sample) {
        int32_t top = -1;
        for (int32_t i = 0; i < count; ++i) {
            if (!masked[i] && (top < 0 || smoothed[i] > smoothed[top])) top = i;
        }
        if (top < 0 || !(smoothed[top] > kLeastTop * sigma[top])) break;
        const double half = 0.5 * smoothed[top];
        int32_t left = top, right = top;
        while (left > 0 && top - left < widest && smoothed[left - 1] > half) --left;
        while (right < count - 1 && right - top < widest && smoothed[right + 1] > half) ++right;
        const int32_t width = right - left + 1;
        widths.push_back(width);
        const auto reach = static_cast<int32_t>(kMaskWidths * width);
        for (int32_t i = std::max(top - reach, 0); i <= std::min(top + reach, count - 1); ++i) masked[i] = true;
    }
    if (widths.empty()) return 1;
    const auto middle = widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2);
    std::nth_element(widths.begin(), middle, widths.end());
    return std::max<int32_t>(1, static_cast<int32_t>(*middle / kPointsPerWidth));
}

BinnedPattern binned(const double *x, const double *y, const double *sigma, int32_t count, int32_t k) {
    BinnedPattern b;
    for (int32_t first = 0; first < count; first += k) {
        const int32_t n = std::min(k, count - first);
        double sx = 0.0, sy = 0.0, variance = 0.0;
        for (int32_t i = first; i < first + n; ++i) {
            sx += x[i];
            sy += y[i];
            variance += sigma[i] * sigma[i];
        }
        b.x.push_back(sx / n);
        b.y.push_back(sy / n);
        b.sigma.push_back(std::sqrt(variance) / n);
    }
    return b;
}

}  // namespace powderkit::peaks
