/* The road of one calculated pattern, from a built crystal and a filled
 * profile record to intensities on a pattern axis. */
#ifndef EXAMPLES_CALCULATED_PATTERN_H
#define EXAMPLES_CALCULATED_PATTERN_H

#include <stdbool.h>

#include "powderkit.h"

/* Intensity, relative intensity and peak position of every reflexion; the
 * reflexions the structure extinguishes are dropped when `dropExtinct` is set.
 * False when no reflexion has a positive intensity. */
bool calculateReflexionIntensities(RefinementCrystal *crystal, RefinementProfile *profile,
                                   bool dropExtinct);

/* Half-width, in axis units, of the window on which a reflexion's peak is
 * evaluated: wide enough that the profile left outside is negligible. On a 2θ
 * axis forty widths when a Lorentzian part is present (its tails beyond hold
 * 0.8 % of its area), twelve for a Gaussian, plus the asymmetry's reach; on a
 * time-of-flight axis ten σ, twenty-five γ and eight or nine decay lengths of
 * the rising and falling exponentials. */
double peakWindowHalfWidth(const RefinementProfile *profile, const Reflexion *reflexion);

/* Number of pattern points of the window of a reflexion (odd). */
int32_t peakWindowPoints(const RefinementProfile *profile, const Reflexion *reflexion,
                         const double *x, int32_t count);

/* peaks[i] = Σ over reflexions of scale × intensity × profile(x[i]), each
 * reflexion evaluated on the points that FindReflexionRange gives for its
 * window. `peaks` is overwritten. Returns the number of reflexions placed on
 * the pattern, or -1 when the profile type has no shape. */
int addReflexionPeaks(RefinementCrystal *crystal, RefinementProfile *profile, const double *x,
                      int32_t count, double *peaks);

/* Sets the crystal's scale so that the highest point of the peaks (without
 * background) on x[0 … count − 1] is `height`; `work` holds count doubles and
 * receives the peaks at that scale. False when there is no peak. */
bool scaleToPeakHeight(RefinementCrystal *crystal, RefinementProfile *profile, const double *x,
                       int32_t count, double height, double *work);

/* background[i] = Chebyshev background of the profile's coefficients at x[i],
 * over the profile's range xMin … xMax. */
void calculateBackground(RefinementProfile *profile, const double *x, int32_t count,
                         double *background);

/* Positions xMin, xMin + step, … up to xMax (inclusive within half a step):
 * a new array (release with free) and its length, or NULL. */
double *makeAxis(double xMin, double xMax, double step, int32_t *count);

#endif
