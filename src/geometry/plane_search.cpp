// The search of a generation list sorted by decreasing d-spacing for a
// plane or its Friedel partner: bisection on the d-spacing, back to the
// first record of the run of equal d, then a scan for the indices.
#include <cstdint>

#include "powderkit.h"

namespace {

int32_t midpoint(int32_t a, int32_t b) {
    return static_cast<int32_t>((static_cast<int64_t>(a) + static_cast<int64_t>(b)) / 2);
}

bool holdsPlane(const RefGenRec &record, const int32_t *hkl) {
    const bool same = record.h == hkl[0] && record.k == hkl[1] && record.l == hkl[2];
    const bool opposite = static_cast<int64_t>(record.h) == -static_cast<int64_t>(hkl[0]) &&
                          static_cast<int64_t>(record.k) == -static_cast<int64_t>(hkl[1]) &&
                          static_cast<int64_t>(record.l) == -static_cast<int64_t>(hkl[2]);
    return same || opposite;
}

}  // namespace

// Index in records[first … last] of (h k l) or (−h −k −l), or PK_NOT_FOUND.
// The d-spacings are compared exactly, so the records must hold d-spacings
// from dSpacingForHKL on the same metric tensor.
extern "C" int32_t findPlaneWithIndices(RefinementCrystal *crystal, const int32_t *hkl,
                                        const RefGenRec *records, int32_t first, int32_t last) {
    const double d = dSpacingForHKL(crystal, hkl[0], hkl[1], hkl[2]);
    if (records[last].dSpacing > d || d > records[first].dSpacing) return PK_NOT_FOUND;

    int32_t lo = first;
    int32_t hi = last;
    int64_t width = static_cast<int64_t>(last) - first;
    int32_t mid = midpoint(first, last);
    int32_t candidate;
    for (;;) {
        if (records[mid].dSpacing > d) {
            if (mid > lo) {
                lo = mid;
                mid = midpoint(mid, hi);
            } else {
                candidate = hi;
                break;
            }
        } else if (records[mid].dSpacing < d) {
            hi = mid;
            mid = midpoint(mid, lo);
        } else {
            candidate = mid;
            break;
        }
        const int64_t span = static_cast<int64_t>(hi) - lo;
        if (span >= width) return PK_NOT_FOUND;
        width = span;
    }

    while (candidate > first && records[candidate - 1].dSpacing <= d) --candidate;
    if (candidate > last) return PK_NOT_FOUND;
    for (int32_t i = candidate; i <= last; ++i) {
        if (holdsPlane(records[i], hkl)) return i;
        if (i == INT32_MAX) break;
    }
    return PK_NOT_FOUND;
}
