// FindReflexionRange on any input: a true answer gives a window of at most `window` points around the
// nearest point (for sorted finite input the nearest by a plain scan). Layout: byte flags (bit 0: sort,
// NaN as 0), int32 window, peak, positions.
#include <algorithm>

#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    const bool sorted = (in.byte() & 1) != 0;
    const int32_t window = in.int32();
    Reflexion reflexion{};
    const double peak = reflexion.peakPosition = in.value();
    std::vector<double> x;
    while (!in.exhausted()) x.push_back(in.value());
    for (double &p : x) p = sorted && std::isnan(p) ? 0.0 : p;
    if (sorted) std::sort(x.begin(), x.end());
    const int32_t count = static_cast<int32_t>(x.size());
    ReflexionRange r{};
    if (!FindReflexionRange(&reflexion, x.empty() ? nullptr : x.data(), count, window, &r)) return 0;
    check(window >= 1 && 0 <= r.firstIndex && r.firstIndex <= r.nearestIndex && r.nearestIndex <= r.lastIndex, "order");
    check(r.lastIndex < count && r.pointCount == r.lastIndex - r.firstIndex + 1 && r.pointCount <= window, "count");
    double best = std::isfinite(peak) ? INFINITY : NAN;
    for (double p : x) best = std::isfinite(p) ? std::min(best, std::fabs(peak - p)) : NAN;
    check(!sorted || std::isnan(best) || std::fabs(peak - x[std::size_t(r.nearestIndex)]) == best, "not nearest");
    return 0;
}
