// How the Lorentz-polarisation factor L·P of a reflexion moves with its
// d-spacing. Constant wavelength: sin θ = s = λ/(2d), L = 1/(sin 2θ · s) and,
// for X-rays, P = (1 + cos² 2θ)/2, both differentiated through
// ∂θ/∂d = −s/(d √(1 − s²)). Time of flight: L = d⁴ sin θ_bank with the bank
// angle fixed, so ∂L/∂d = 4 d³ sin θ_bank.
#include <cmath>

#include "derivatives/cell_derivatives.hpp"
#include "frame/frame.hpp"

namespace powderkit {

double diffLorentzPolarizationWrtDSpacing(const Reflexion *reflexion,
                                          const RefinementProfile *profile) {
    const double d = reflexion->dSpacing;
    const double wavelength = reflexion->isSecondaryWavelength != 0
                                  ? profile->secondaryWavelength
                                  : profile->wavelength;
    const double s = wavelength * 0.5 / d;
    const bool timeOfFlight = profile->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT;

    // The Lorentz factor and its angle.
    double theta;
    double lorentz;
    if (timeOfFlight) {
        theta = profile->tofTwoTheta * kHalfDegreesToRadians;
        lorentz = d * d * d * d * std::sin(theta);
    } else if (s < 1.0) {
        theta = std::asin(s);
        lorentz = 1.0 / (std::sin(2.0 * theta) * s);
    } else {
        theta = kHalfPi;
        lorentz = 1.0;
    }

    // The Bragg angle of the wavelength, and how it moves with d.
    const double braggTheta = s < 1.0 ? std::asin(s) : kHalfPi;
    const double dThetaDd = (1.0 / std::sqrt(1.0 - s * s)) * (-s / d);

    // Polarisation. A time-of-flight bank sits at a fixed angle, so its
    // polarisation factor (used for X-rays only) does not move with d: its
    // derivative is 0 rather than one taken from the wavelength fields.
    double polarization = 1.0;
    double dPolarization = 0.0;
    if (profile->radiationType != PK_RADIATION_NEUTRON) {
        const double cosine = std::cos(2.0 * theta);
        polarization = (cosine * cosine + 1.0) * 0.5;
        if (!timeOfFlight) {
            dPolarization = dThetaDd * (-2.0 * std::sin(2.0 * braggTheta)) *
                            (2.0 * std::cos(2.0 * braggTheta)) * 0.5;
        }
    }

    double dLorentz;
    if (timeOfFlight) {
        dLorentz = 4.0 * d * d * d * std::sin(theta);
    } else {
        const double product = s * std::sin(2.0 * braggTheta);
        const double dProduct = (-s / d) * std::sin(2.0 * braggTheta) +
                                s * 2.0 * std::cos(2.0 * braggTheta) * dThetaDd;
        dLorentz = -dProduct / (product * product);
    }
    return dLorentz * polarization + lorentz * dPolarization;
}

}  // namespace powderkit
