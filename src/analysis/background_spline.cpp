// The background of a raw pattern: a natural cubic spline (second derivative
// zero at both ends) through the points picked by selectBackgroundPoints,
// evaluated at every input point in one forward pass. The spline follows the
// usual tridiagonal algorithm for the coefficients of
//   S_j(x) = a_j + b_j·t + c_j·t² + d_j·t³,  t = x − X_j.
#include <cmath>
#include <cstdlib>

#include "analysis/analysis.hpp"

namespace powderkit {

bool naturalCubicSpline(const PatternPoint *knots, int32_t count, SplineSegment *segments) {
    if (knots == nullptr || segments == nullptr || count < 2) return false;
    // h, α, l, μ, z and c, one block of six arrays of `count` doubles.
    const std::size_t length = static_cast<std::size_t>(count);
    auto *work = static_cast<double *>(std::malloc(6 * length * sizeof(double)));
    if (work == nullptr) return false;
    double *h = work;
    double *alpha = h + length;
    double *l = alpha + length;
    double *mu = l + length;
    double *z = mu + length;
    double *c = z + length;
    const int32_t last = count - 1;

    for (int32_t j = 0; j < last; ++j) h[j] = knots[j + 1].x - knots[j].x;
    for (int32_t j = 1; j < last; ++j) {
        alpha[j] = 3.0 / h[j] * (knots[j + 1].y - knots[j].y) -
                   3.0 / h[j - 1] * (knots[j].y - knots[j - 1].y);
    }
    l[0] = 1.0;
    mu[0] = 0.0;
    z[0] = 0.0;
    for (int32_t j = 1; j < last; ++j) {
        l[j] = 2.0 * (knots[j + 1].x - knots[j - 1].x) - h[j - 1] * mu[j - 1];
        mu[j] = h[j] / l[j];
        z[j] = (alpha[j] - h[j - 1] * z[j - 1]) / l[j];
    }
    l[last] = 1.0;
    z[last] = 0.0;
    c[last] = 0.0;
    for (int32_t j = last - 1; j >= 0; --j) {
        c[j] = z[j] - mu[j] * c[j + 1];
        const double b = (knots[j + 1].y - knots[j].y) / h[j] - h[j] * (c[j + 1] + 2.0 * c[j]) / 3.0;
        const double d = (c[j + 1] - c[j]) / (3.0 * h[j]);
        segments[j] = {knots[j].y, b, c[j], d, knots[j].x};
    }
    std::free(work);
    return true;
}

}  // namespace powderkit

extern "C" {

// The background under a raw pattern at each of its points (same x), as a new
// array the caller frees; NULL for fewer than 200 usable points, x not
// increasing overall, fewer than four flat stretches, or no memory.
PatternPoint *fittedBackground(const PatternPoint *points, int32_t count) {
    using namespace powderkit;
    if (points == nullptr || count < 100) return nullptr;
    int32_t knotCount = 0;
    PatternPoint *knots = selectBackgroundPoints(points, count, &knotCount);
    if (knots == nullptr) return nullptr;

    auto *segments = static_cast<SplineSegment *>(
        std::malloc(static_cast<std::size_t>(knotCount - 1) * sizeof(SplineSegment)));
    auto *background = static_cast<PatternPoint *>(
        std::malloc(static_cast<std::size_t>(count) * sizeof(PatternPoint)));
    const bool splined =
        segments != nullptr && background != nullptr && naturalCubicSpline(knots, knotCount, segments);
    if (splined) {
        int32_t s = 0;
        for (int32_t i = 0; i < count; ++i) {
            const double x = points[i].x;
            while (s < knotCount - 2 && x >= segments[s + 1].x0) s += 1;
            const SplineSegment &segment = segments[s];
            const double t = x - segment.x0;
            background[i] = {x, segment.a + segment.b * t + segment.c * std::pow(t, 2.0) +
                                    segment.d * std::pow(t, 3.0)};
        }
    }
    std::free(knots);
    std::free(segments);
    if (!splined) {
        std::free(background);
        return nullptr;
    }
    return background;
}

}  // extern "C"
