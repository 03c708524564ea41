// Starting values before the first cycle, from what the measured pattern
// shows: its resolved peaks, the cells and zero shift that match them, the
// widths they have, whether a Kα2 line is there, and the scales and
// background at their best for those values.
#ifndef POWDERKIT_STARTING_VALUES_STARTING_VALUES_HPP
#define POWDERKIT_STARTING_VALUES_STARTING_VALUES_HPP

#include <Eigen/Dense>
#include <vector>

#include "refinement_model/refinement.hpp"

namespace powderkit::refinement {

// Thrown by pk_refinement::beat when the host asks to stop before the first cycle.
struct StartStopped {};

// Calls the refinement's beat, when it has one: each long step of the
// starting values calls it.
inline void beat(pk_refinement &refinement) {
    if (refinement.beat) refinement.beat();
}

// A resolved peak of the measured pattern, as its pseudo-Voigt fit gives it
// (axis units; the area normalised where a match needs it).
struct ObservedPeak {
    double position, fwhm, eta, height, area;
    bool clear;  // resolved: clear of its neighbours, its width known to better than a quarter
};

// The peak list of the refinement's points (none when the points are too
// few for one), each peak marked clear or not.
std::vector<ObservedPeak> observedPeaks(const pk_refinement &refinement);

// Where the source does not say whether the pattern holds a Kα2 line (the
// option alpha2_from_data), decides it from the counts at the Kα2 offset of
// the strong resolved peaks (above each peak's own tail: the line is there).
// Says the decision in the notes.
void decideAlpha2(pk_refinement &refinement, const std::vector<ObservedPeak> &peaks);

// Moves the free zero shift and free cell lengths, within the options'
// windows, to where the phases' strongest lines best match `peaks`, where
// that clearly improves the match; says each move in the notes.
void matchPositions(pk_refinement &refinement, const std::vector<ObservedPeak> &peaks);

// Starts each phase's free widths U V W X Y from the peaks its lines
// explain (unless the instrument's profile is known); says so in the notes.
void profileFromPeaks(pk_refinement &refinement, const std::vector<ObservedPeak> &peaks);

// Scales each phase's free widths together (U V W by m², X Y by m; on time of flight σ by m², γ by m, the rates α β by 1/m) to the
// least χ² of the whole pattern after the linear fit, unless the instrument's
// profile is known; says so in the notes.
void scaleWidths(pk_refinement &refinement);

// The coefficient of every phase at scale 1 and every background polynomial
// that best fits the weighted points (one linear least-squares solve); the
// χ² of that fit in `chi2`.
Eigen::VectorXd linearFit(pk_refinement &refinement, double &chi2);

// Starting values before the first cycle: the free widths from the measured
// peaks (profileFromPeaks), the free zero shift and cells by matching the
// phases' lines to the peaks (matchPositions), then the free scales and
// background at their best for those values; in Le Bail, every reflexion's
// first intensity. Each move is said in the refinement's notes.
void startingValues(pk_refinement &refinement);

// Of a joint refinement: the starting values of each histogram from its own
// pattern (a shared cell matched to the first's), its notes named.
void jointStartingValues(pk_refinement &refinement);

}  // namespace powderkit::refinement

#endif
