// Peak location, fit and background on any pattern, allocation failAt of each call failing. Layout:
// bytes mode, maxPeaks (1 + b % 8), failAt (b % 8); mode even: (x, y) values to the end; odd: count
// (100 + 2 bytes % 1900), start, step, a, b, four peaks (centre, height, width), edits (2-byte index, y).
#include <cmath>
#include <vector>

#include "fuzz_input.hpp"
#include "support/allocation_failure.hpp"

using pk_fuzz::check;

template <typename Call>
static auto failing(long n, Call call) {
    if (n > 0) pk_test::failAllocationNumber(n);
    auto result = call();
    pk_test::disarmAllocationFailure();
    return result;
}

static std::vector<PatternPoint> pattern(pk_fuzz::Input &in, bool synthetic) {
    std::vector<PatternPoint> points;
    while (!synthetic && !in.exhausted() && points.size() < 4000) points.push_back({in.value(), in.value()});
    const int count = synthetic ? 100 + (in.byte() | (in.byte() << 8)) % 1900 : 0;
    const double start = in.value() * 10.0, step = in.value() * 0.05, a = in.value() * 20.0, b = in.value();
    double peaks[4][3];  // centre, height, width
    for (auto &p : peaks) {
        p[0] = start + (in.value() + 5.0) * 0.1 * step * count;
        p[1] = in.value() * 200.0;
        p[2] = in.value() * step * 3.0;
    }
    for (int i = 0; i < count; ++i) {
        const double x = start + step * i;
        points.push_back({x, a + b * (x - start)});
        for (auto *p : peaks) points.back().y += p[1] * std::exp(-0.5 * std::pow((x - p[0]) / p[2], 2));
    }
    while (count > 0 && !in.exhausted()) points[std::size_t((in.byte() | (in.byte() << 8)) % count)].y = in.value();
    return points;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    const bool synthetic = (in.byte() & 1) != 0;
    const int32_t maxPeaks = 1 + in.byte() % 8;
    const long failAt = in.byte() % 8;
    std::vector<PatternPoint> points = pattern(in, synthetic);
    const std::vector<PatternPoint> original = points;
    const int32_t count = static_cast<int32_t>(points.size());
    PatternPoint *first = points.empty() ? nullptr : points.data();
    int32_t found = -1;
    PeakRange *ranges = failing(failAt, [&] { return locatePeakRanges(first, count, maxPeaks, &found); });
    check(ranges != nullptr ? found >= 1 && found <= maxPeaks : found == -1 || found == 0, "the count of ranges");
    for (int32_t i = 0; ranges != nullptr && i < found; ++i) {
        PeakRange range = ranges[i];
        check(range.maximum >= first + 30 && range.maximum <= first + count - 31, "a maximum outside the scan");
        check(i == 0 || range.maximum > ranges[i - 1].maximum, "ranges out of pattern order");
        Matrix *fit = failing(failAt, [&] { return pseudoVoigtFit(&range); });
        double x0, area, base, fwhm, eta;
        check(fit == nullptr || (range.pointCount >= 5 && fit->rows == 5 && fit->columns == 1 &&
                                 peakParametersForPseudoVoigt(fit, &x0, &area, &base, &fwhm, &eta) == 1), "a fit");
        freeMatrix(fit);
    }
    std::free(ranges);
    PatternPoint *background = failing(failAt, [&] { return fittedBackground(first, count); });
    for (int32_t i = 0; background != nullptr && i < count; ++i) {
        check(count >= 200 && std::memcmp(&background[i].x, &first[i].x, sizeof(double)) == 0, "a background x");
    }
    std::free(background);
    check(count == 0 || std::memcmp(first, original.data(), points.size() * sizeof *first) == 0, "changed");
    return 0;
}
