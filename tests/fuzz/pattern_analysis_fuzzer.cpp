// Peak location, the single-peak fit and the background estimate on
// arbitrary patterns: any doubles, NaN and infinities included, unsorted x,
// too few points. Every call must return (the fit is bounded by its step
// budget), never read outside the pattern, never change it, and release all
// it made (LeakSanitizer). Results must respect their contracts: at most
// maxPeaks ranges, maxima inside the scanned part of the pattern and in
// pattern order, fit windows inside the pattern, one background point per
// pattern point with the pattern's x.
//
// Layout: byte mode, byte maxPeaks (1 + b % 8), byte allocation to fail in
// each call (0: none), then
//   mode even: raw points, (x value, y value) pairs to the end of the input;
//   mode odd: a synthetic pattern: count (100 + two bytes % 1900), x start
//     (value), x step (value), background a, b (values), up to four peaks
//     (centre, height, width: values), then any number of edits, each a
//     point index (two bytes) and a new y (value).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.hpp"
#include "powderkit.h"
#include "support/allocation_failure.hpp"

namespace {

void check(bool condition, const char *what) {
    if (condition) return;
    std::fprintf(stderr, "pattern analysis: %s\n", what);
    std::abort();
}

std::vector<PatternPoint> rawPattern(pk_fuzz::Input &in) {
    std::vector<PatternPoint> points;
    while (in.remaining() > 0 && points.size() < 4000) {
        const double x = in.value();
        points.push_back(PatternPoint{x, in.value()});
    }
    return points;
}

std::vector<PatternPoint> syntheticPattern(pk_fuzz::Input &in) {
    const int count = 100 + (in.byte() | (in.byte() << 8)) % 1900;
    const double start = in.value() * 10.0;
    const double step = in.value() * 0.05;
    const double a = in.value() * 20.0;
    const double b = in.value();
    double centres[4], heights[4], widths[4];
    for (int p = 0; p < 4; ++p) {
        centres[p] = start + (in.value() + 5.0) * 0.1 * step * count;
        heights[p] = in.value() * 200.0;
        widths[p] = in.value() * step * 3.0;
    }
    std::vector<PatternPoint> points(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double x = start + step * i;
        double y = a + b * (x - start);
        for (int p = 0; p < 4; ++p) {
            const double u = (x - centres[p]) / widths[p];
            y += heights[p] * std::exp(-0.5 * u * u);
        }
        points[static_cast<std::size_t>(i)] = PatternPoint{x, y};
    }
    while (in.remaining() > 0) {
        const int index = (in.byte() | (in.byte() << 8)) % count;
        points[static_cast<std::size_t>(index)].y = in.value();
    }
    return points;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    const uint8_t mode = in.byte();
    const int32_t maxPeaks = 1 + in.byte() % 8;
    const long failAt = in.byte() % 8;
    std::vector<PatternPoint> points = (mode & 1) != 0 ? syntheticPattern(in) : rawPattern(in);
    const std::vector<PatternPoint> original = points;
    const int32_t count = static_cast<int32_t>(points.size());
    PatternPoint *first = points.empty() ? nullptr : points.data();

    int32_t found = -1;
    if (failAt > 0) pk_test::failAllocationNumber(failAt);
    PeakRange *ranges = locatePeakRanges(first, count, maxPeaks, &found);
    pk_test::disarmAllocationFailure();
    if (ranges == nullptr) {
        check(found == -1 || found == 0, "NULL with a count of ranges");
    } else {
        check(found >= 1 && found <= maxPeaks, "count of ranges out of bounds");
        for (int32_t i = 0; i < found; ++i) {
            const PeakRange &range = ranges[i];
            check(range.start == nullptr && range.pointCount == 0, "fit fields set by location");
            check(range.maximum >= first + 30 && range.maximum <= first + count - 31,
                  "maximum outside the scanned points");
            if (i > 0) check(range.maximum > ranges[i - 1].maximum, "ranges out of pattern order");
        }
        for (int32_t i = 0; i < found; ++i) {
            PeakRange range = ranges[i];
            if (failAt > 0) pk_test::failAllocationNumber(failAt);
            Matrix *fit = pseudoVoigtFit(&range);
            pk_test::disarmAllocationFailure();
            if (range.start != nullptr) {
                check(range.start >= first && range.start <= range.maximum, "window start");
                check(range.pointCount >= 1 && range.start + range.pointCount <= first + count &&
                          range.start + range.pointCount > range.maximum,
                      "window end");
            }
            if (fit != nullptr) {
                check(range.pointCount >= 5, "a fit from fewer than five points");
                check(fit->rows == 5 && fit->columns == 1, "fit shape");
                double x0, area, background, fwhm, eta;
                check(peakParametersForPseudoVoigt(fit, &x0, &area, &background, &fwhm, &eta) == 1,
                      "fit parameters not readable");
                volatile double value = pseudoVoigt(range.maximum->x, fit);
                (void)value;
            }
            freeMatrix(fit);
        }
        std::free(ranges);
    }

    if (failAt > 0) pk_test::failAllocationNumber(failAt);
    PatternPoint *background = fittedBackground(first, count);
    pk_test::disarmAllocationFailure();
    if (background != nullptr) {
        check(count >= 200, "a background from fewer than 200 points");
        for (int32_t i = 0; i < count; ++i) {
            check(std::memcmp(&background[i].x, &points[static_cast<std::size_t>(i)].x,
                              sizeof(double)) == 0,
                  "background x differs from the pattern x");
        }
        std::free(background);
    }
    check(points.empty() ||
              std::memcmp(points.data(), original.data(), points.size() * sizeof(PatternPoint)) == 0,
          "the pattern was changed");
    return 0;
}
