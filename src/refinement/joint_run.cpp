// The parts of a run that a joint refinement does histogram by histogram:
// each histogram's own statistics, and the lines of the verdict that one
// pattern shows.
#include <cmath>

#include "refinement/fit.hpp"

namespace powderkit::refinement {

void fillHistogramStatistics(pk_refinement &r, std::size_t freeCount,
                             void (*fill)(pk_refinement &, std::size_t)) {
    const double total = static_cast<double>(weightedPointCount(r));
    for (pk_refinement &member : r.members) {
        // A histogram's share of the free parameters: in proportion to its weighted points.
        const double share = total > 0.0 ? static_cast<double>(weightedPointCount(member)) / total : 0.0;
        fill(member, static_cast<std::size_t>(std::lround(share * static_cast<double>(freeCount))));
    }
}

std::string jointPatternReasons(const pk_refinement &r) {
    std::string reasons;
    for (std::size_t h = 0; h < r.members.size(); ++h) {
        reasons += prefixedLines(r.histograms[h].name, patternReasons(r.members[h]));
    }
    return reasons;
}

}  // namespace powderkit::refinement
