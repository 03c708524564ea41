// The reflexions of a phase: one entry per set of symmetry-equivalent planes
// down to a d-spacing, and the core profile record that an instrument and a
// profile describe, through which intensities and positions are computed.
#ifndef POWDERKIT_PHASE_REFLEXION_GENERATION_HPP
#define POWDERKIT_PHASE_REFLEXION_GENERATION_HPP

#include <array>
#include <memory>
#include <vector>

#include "crystal/phase.hpp"

namespace powderkit::phase {

// One set of equivalent planes: a representative (the plane of the set with
// the fewest negative indices, then the largest h k l in lexicographic
// order), its multiplicity (Friedel mates included) and d.
struct PlaneSet {
    std::array<int32_t, 3> hkl;
    int32_t multiplicity;
    double d;
};

// Every set with d ≥ dMin, largest d first (equal d: larger h k l first).
// The index box is exact for any cell: |h| ≤ a / dMin, |k| ≤ b / dMin,
// |l| ≤ c / dMin. Absences by the exact rule.
std::vector<PlaneSet> planeSetsOf(const pk_phase &phase, double dMin);

// Puts sets in the order planeSetsOf gives them: largest d first (d to the
// nearest 1e-9 Å), equal d by larger h k l.
void sortPlaneSets(std::vector<PlaneSet> &sets);

// A core reflexion record of a set (h k l, multiplicity, d; nothing else).
Reflexion reflexionOf(const PlaneSet &set);

// The exact absence rule: h is absent when some operator (R, t) has h·R = h
// and h·t not an integer.
bool isSystematicallyAbsent(const Symmetry &symmetry, const std::array<int32_t, 3> &hkl);

struct ProfileDeleter {
    void operator()(RefinementProfile *profile) const { freeRefinementProfile(profile); }
};
using ProfilePointer = std::unique_ptr<RefinementProfile, ProfileDeleter>;

// The largest d a time-of-flight calibration must keep rising to, Å: a
// negative dtt2 turns it back at d = −dtt1 / (2 dtt2), which must lie beyond.
constexpr double kLongestTofD = 100.0;

// Fails naming the field when the instrument cannot be used.
void validateInstrument(const pk_instrument &instrument);

// The core's profile record of an instrument and (when not NULL) a profile,
// its asymmetry included, over the span xMin … xMax.
ProfilePointer coreProfileOf(const pk_instrument &instrument, const pk_profile *profile,
                             double xMin, double xMax);

// The d-spacing at axis position x (2θ beyond 179.9° + zero counts as 179.9°).
// On a time-of-flight axis `difB` (µs·Å) adds difB / d to the calibration
// (flightTime below); the d returned is then dSpacingOfFlightTime's.
double dSpacingAt(const pk_instrument &instrument, RefinementProfile *profile, double x, double difB = 0.0);

// The flight time of d, µs: TOF = difC d + difA d² + difB / d + zero, the
// instrument's calibration with the 1/d term the record does not hold.
double flightTime(const pk_instrument &instrument, double difB, double d);

// The d of flight time t (µs) on the same calibration: the quadratic's root
// when difB is 0, else Newton's steps from it along the rising branch. A t
// below the calibration's least time (difB > 0 turns it back at small d,
// where difC + 2 difA d − difB / d² = 0) gives the d where it turns.
double dSpacingOfFlightTime(const pk_instrument &instrument, double difB, double t);

// The peak position of a reflexion on the axis: the core's conversion (zero
// included) plus, on a 2θ axis, the sample-displacement shift
// Δ2θ = −(2 s cos θ / R)·(180/π) degrees and the transparency shift
// Δ2θ = −(1/μ) sin 2θ / (2R) · (180/π) degrees; on a time-of-flight axis,
// difB / d (µs, the axis in ms).
double peakPositionOf(const pk_instrument &instrument, RefinementProfile *profile,
                      Reflexion *reflexion, double difB = 0.0);

// A crystal record that shares the phase's sites and operators (never freed
// through the core) with the March correction of `ratio` about `axis` set,
// normalised.
RefinementCrystal marchView(const pk_phase &phase, double ratio, const double axis[3]);

}  // namespace powderkit::phase

#endif
