// Peak location, fit and background on any pattern: at most maxPeaks ranges. Layout: bytes mode, maxPeaks
// (1 + b % 8), one unused (once the allocation to fail); mode even: (x, y) values to the end; odd: count
// (100 + 2 bytes % 1900), start, step, a, b, four peaks (centre, height, width), edits (2-byte index, y).
#include <array>

#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    const bool synthetic = (in.byte() & 1) != 0;
    const int32_t maxPeaks = 1 + in.byte() % 8;
    in.byte();  // once the allocation to fail
    std::vector<PatternPoint> points;
    while (!synthetic && !in.exhausted() && points.size() < 4000) points.push_back({in.value(), in.value()});
    const int count = synthetic ? 100 + (in.byte() | (in.byte() << 8)) % 1900 : 0;
    const double start = in.value() * 10.0, step = in.value() * 0.05, a = in.value() * 20.0, b = in.value();
    std::array<double, 3> peaks[4];  // centre, height, width
    for (auto &p : peaks) {
        p = {start + (in.value() + 5.0) * 0.1 * step * count, in.value() * 200.0, in.value() * step * 3.0};
    }
    for (int i = 0; i < count; ++i) {
        const double x = start + step * i;
        points.push_back({x, a + b * (x - start)});
        for (auto &p : peaks) points.back().y += p[1] * std::exp(-0.5 * std::pow((x - p[0]) / p[2], 2));
    }
    while (count > 0 && !in.exhausted()) points[std::size_t((in.byte() | (in.byte() << 8)) % count)].y = in.value();
    const int32_t n = static_cast<int32_t>(points.size());
    PatternPoint *first = points.empty() ? nullptr : points.data();
    int32_t found = -1;
    PeakRange *ranges = locatePeakRanges(first, n, maxPeaks, &found);
    check(ranges != nullptr ? found >= 1 && found <= maxPeaks : found == -1 || found == 0, "the count of ranges");
    for (int32_t i = 0; ranges != nullptr && i < found; ++i) freeMatrix(pseudoVoigtFit(&ranges[i]));
    std::free(fittedBackground(first, n));
    std::free(ranges);
    return 0;
}
