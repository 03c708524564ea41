// What the sample does to a reflexion beyond its structure: the absorption of
// a Debye–Scherrer capillary and the surface roughness of a flat
// Bragg–Brentano sample (factors on the intensity), and the transparency of
// that flat sample (a shift of the peak position).
#ifndef POWDERKIT_PHASE_SAMPLE_CORRECTIONS_HPP
#define POWDERKIT_PHASE_SAMPLE_CORRECTIONS_HPP

#include "powderkit.h"
#include "powderkit_phase.h"

namespace powderkit::phase {

// Transmission of a Debye–Scherrer capillary of μR = `muR` at Bragg angle θ
// (radians, 0 … π/2): the mean of exp(−μR (path in + path out)) over the unit
// disc, 1 at μR = 0 (the absolute scale goes into the scale factor). Within
// 2e-7 relative of the exact integral for 0 ≤ μR ≤ PK_ABSORPTION_MAX (10);
// the callers refuse more.
double capillaryAbsorption(double muR, double theta);

// Suortti's surface-roughness factor 1 − p e^(−q) + p e^(−q / sin θ), θ in radians.
double surfaceRoughness(double p, double q, double theta);

// The peak shift of sample transparency, degrees 2θ: −(1/μ) sin 2θ / (2R) · (180/π),
// with 1/μ and the goniometer radius R in mm and θ in radians.
double transparencyShift(double inverseMu, double radius, double theta);

// Multiplies the intensity of a reflexion (its d set) seen at `wavelength`
// by the instrument's absorption and roughness factors (2θ axis only; 1 when
// they are off). Lp is left alone: these belong to the sample, not the beam.
void correctForSample(const pk_instrument &instrument, double wavelength, Reflexion &reflexion);

}  // namespace powderkit::phase

#endif
