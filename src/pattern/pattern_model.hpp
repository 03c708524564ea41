// The peaks of one phase in a calculated pattern, worked out once from the
// phase, its setting and the instrument: the reflexions that can reach the
// span with their intensities, positions and windows, and the Kα2
// companions. The pattern model sums them; the refinement builds them for
// each trial of its parameters and reads them reflexion by reflexion.
#ifndef POWDERKIT_PHASE_PATTERN_MODEL_HPP
#define POWDERKIT_PHASE_PATTERN_MODEL_HPP

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "pattern/axial_divergence.hpp"
#include "pattern/peak_shapes.hpp"
#include "reflexions/plane_set_cache.hpp"
#include "pattern/profile_check.hpp"
#include "reflexions/reflexion_generation.hpp"
#include "pattern/tof_peaks.hpp"
#include "pattern/window_kernels.hpp"
#include "powderkit.h"
#include "powderkit_phase.h"

namespace powderkit::phase {

struct PhasePeaks {
    ProfilePointer profile;       // the core record, asymmetry zero
    int32_t type = 0;
    double asymmetry = 0.0;       // P
    double cutoff = 0.0;          // 2θ above which peaks are symmetric
    double scale = 1.0;
    std::size_t primaryCount = 0;        // reflexions of the (Kα1) line; companion n is primary n − primaryCount
    std::vector<Reflexion> reflexions;   // Kα1, then Kα2 companions
    std::vector<CwPeak> cwPeaks;         // on a 2θ axis, one per reflexion
    std::vector<TofPeak> tofPeaks;       // on a time-of-flight axis, one per reflexion
    std::vector<AxialNodes> axial;       // on a 2θ axis with an axial divergence, one per reflexion; else empty
    std::vector<double> halfWidths;      // window half-widths, axis units
    std::vector<double> ticks;           // Kα1 positions inside the span
    // Each reflexion's window over the points, once findWindows has found them all (pointCount 0: the window
    // reaches no point); else empty, and each pass over the windows finds them afresh.
    std::vector<ReflexionRange> ranges;
};

// The profile taken when a setting gives none (pk_profile_default_for).
pk_profile defaultProfileFor(const pk_instrument &instrument);

// The peaks of `setting` for `instrument` that can reach x_min … x_max;
// `where` prefixes every message ("phase 0"). A cache, when given, keeps the
// plane sets from one call to the next (a phase whose cell is refined).
// `difB` (µs·Å) adds difB / d to a time-of-flight calibration. The
// reflexions are shared among at most `threads` threads; the peaks are the
// same to the bit on any count.
PhasePeaks makePhasePeaks(const pk_instrument &instrument, const pk_phase_setting &setting,
                          const std::string &where, double xMin, double xMax, PlaneSetCache *cache = nullptr,
                          double difB = 0.0, std::size_t threads = 1);

// y[i] += factor × (reflexion n's unit-area 2θ peak at x[i]) for i = first … last,
// its axial divergence included.
inline void addCwPeak(const PhasePeaks &peaks, std::size_t n, const double *x, int32_t first, int32_t last,
                      double factor, double *y) {
    if (peaks.axial.empty()) {
        addCwWindow(peaks.cwPeaks[n], x, first, last, factor, y);
    } else {
        addAxialWindow(peaks.cwPeaks[n], peaks.axial[n], x, first, last, factor, y);
    }
}

// Reflexion n's window over x[count] (ascending): the core's range of points
// around its peak, as many on each side as its half-width spans in mean
// steps; false when it reaches no point.
inline bool windowOf(const PhasePeaks &peaks, std::size_t n, const double *x, int32_t count, ReflexionRange &range) {
    const double step = count > 1 ? (x[count - 1] - x[0]) / (count - 1) : 1.0;
    double half = std::ceil(peaks.halfWidths[n] / step);
    if (!(half >= 1.0)) half = 1.0;
    if (half > count) half = count;
    return FindReflexionRange(const_cast<Reflexion *>(&peaks.reflexions[n]), x, count, 2 * static_cast<int32_t>(half) + 1,
                              &range);
}

// The windows of reflexions first … end − 1 into peaks.ranges, which must
// hold one per reflexion (threads may find separate runs of them). Whoever
// then changes a position or half-width clears the ranges.
void findWindows(PhasePeaks &peaks, const double *x, int32_t count, std::size_t first, std::size_t end);

// Calls visit(n, range) for every reflexion n whose window reaches x[count]
// (ascending), with the points range.firstIndex … range.lastIndex it covers:
// the windows found by findWindows when there, else each found now.
template <typename Visit>
void visitWindows(const PhasePeaks &peaks, const double *x, int32_t count, Visit &&visit) {
    const bool found = peaks.ranges.size() == peaks.reflexions.size();
    for (std::size_t n = 0; n < peaks.reflexions.size(); ++n) {
        ReflexionRange range;
        if (found) {
            if (peaks.ranges[n].pointCount > 0) visit(n, peaks.ranges[n]);
        } else if (windowOf(peaks, n, x, count, range)) {
            visit(n, range);
        }
    }
}

// Calls visit(n, i, value) for every reflexion n and every point i of its
// window in x[count] (ascending), with the unit-area peak's value there.
// On a 2θ axis each window's values come from the window loop, through a
// buffer of the pattern's length.
template <typename Visit>
void visitPeakPoints(const PhasePeaks &peaks, const double *x, int32_t count, Visit &&visit) {
    if (peaks.cwPeaks.empty()) {
        visitWindows(peaks, x, count, [&](std::size_t n, const ReflexionRange &range) {
            for (int32_t i = range.firstIndex; i <= range.lastIndex; ++i) {
                visit(n, i, tofPeakValue(peaks.tofPeaks[n], x[i]));
            }
        });
        return;
    }
    std::vector<double> values(static_cast<std::size_t>(count), 0.0);
    visitWindows(peaks, x, count, [&](std::size_t n, const ReflexionRange &range) {
        std::fill(values.begin() + range.firstIndex, values.begin() + range.lastIndex + 1, 0.0);
        addCwPeak(peaks, n, x, range.firstIndex, range.lastIndex, 1.0, values.data());
        for (int32_t i = range.firstIndex; i <= range.lastIndex; ++i) visit(n, i, values[static_cast<std::size_t>(i)]);
    });
}

// y[i] += scale × intensity × peak over every reflexion's window.
void addPhase(const PhasePeaks &peaks, const double *x, int32_t count, double *y);

// The same for the points first … last alone, the windows found over all
// count points: each point's sum is the one addPhase makes, to the bit, so
// that threads may share the points.
void addPhase(const PhasePeaks &peaks, const double *x, int32_t count, double *y, int32_t first, int32_t last);

// The work of the peaks' windows along the points, for sharing them out, in
// blocks of 2^shift points: adds each window's length in points to the
// block of its first point (work holds (count >> shift) + 1 entries).
void addWindowWork(const PhasePeaks &peaks, const double *x, int32_t count, int shift, std::vector<std::int64_t> &work);

}  // namespace powderkit::phase

#endif
