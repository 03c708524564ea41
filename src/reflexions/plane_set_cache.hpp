// The plane sets of a phase whose cell moves a little from one call to the
// next, as in a refinement: listed once with a margin, then only re-measured.
#ifndef POWDERKIT_PHASE_PLANE_SET_CACHE_HPP
#define POWDERKIT_PHASE_PLANE_SET_CACHE_HPP

#include <array>
#include <vector>

#include "reflexions/reflexion_generation.hpp"

namespace powderkit::phase {

class PlaneSetCache {
public:
    // The sets of `phase` with d ≥ dMin, equal to planeSetsOf(phase, dMin).
    // The kept list, made at a limit 3 % below dMin, serves as long as it
    // provably holds every set the current cell puts above dMin; otherwise
    // it is listed again. The symmetry must stay that of the first call.
    const std::vector<PlaneSet> &setsOf(const pk_phase &phase, double dMin);

private:
    std::vector<PlaneSet> kept_;        // every set with d ≥ keptLimit_ for keptCell_
    std::array<double, 6> keptCell_{};  // a b c (Å), α β γ (degrees)
    double keptLimit_ = 0.0;            // Å; 0 before the first call
    std::vector<PlaneSet> current_;
};

}  // namespace powderkit::phase

#endif
