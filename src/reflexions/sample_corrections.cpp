// Sample corrections on a 2θ axis.
//
// Capillary absorption, the exact transmission integral, is in
// capillary_absorption.cpp.
//
// Surface roughness (Suortti 1972): a rough flat sample loses intensity at low
// angles, where the beam grazes the surface relief, by 1 − p e^(−q) + p e^(−q / sin θ).
//
// Transparency: a flat sample into which X-rays reach 1/μ diffracts, on
// average, from below its surface; seen from the detector the peak moves to
// lower angle by Δ2θ = −(1/μ) sin 2θ / (2R) radians (the thick-sample limit).
#include "reflexions/sample_corrections.hpp"

#include <cmath>

#include "boundary/constants.hpp"

namespace powderkit::phase {

double surfaceRoughness(double p, double q, double theta) {
    if (p == 0.0) return 1.0;
    return 1.0 - p * std::exp(-q) + p * std::exp(-q / std::sin(theta));
}

double transparencyShift(double inverseMu, double radius, double theta) {
    if (inverseMu == 0.0) return 0.0;
    return -inverseMu * std::sin(2.0 * theta) / (2.0 * radius) * kRadiansToDegrees;
}

void correctForSample(const pk_instrument &instrument, double wavelength, Reflexion &reflexion) {
    if (instrument.axis != PK_AXIS_TWO_THETA) return;
    if (instrument.absorption == 0.0 && instrument.roughness_p == 0.0) return;
    // The Bragg angle of this line: θ = asin(λ / 2d), 90° past the limit.
    const double sine = wavelength * 0.5 / reflexion.dSpacing;
    const double theta = sine < 1.0 ? std::asin(sine) : 0.5 * kPi;
    reflexion.intensity *= capillaryAbsorption(instrument.absorption, theta) *
                           surfaceRoughness(instrument.roughness_p, instrument.roughness_q, theta);
}

}  // namespace powderkit::phase
