// The integrated intensity of one reflexion:
//   I = m · |F|² · Lp · W / V²,
// with F = A + iB = Σ_sites g Σ_positions exp(2πi(hx + ky + lz)), g the
// site's scattering power (occupancy-weighted f or b, times the temperature
// factor when displacements are used), m the multiplicity or the March
// correction, and for constant wavelength Lp = (1 + cos² 2θ)/(2 sin 2θ sin θ)
// (no polarisation term for neutrons) with W = λ³; for time of flight
// L = d⁴ sin θ_bank and W = 1. The scale of the phase is not applied here.
#include <cmath>

#include "frame/frame.hpp"
#include "intensity/intensity.hpp"

namespace powderkit {
namespace {

// The cache index that no site carries before the first evaluation.
constexpr int32_t kNoSimilarityIndex = 999999;

// A and B of the structure factor. The scattering factor is evaluated once
// per run of sites with the same similarity index, the temperature factor
// once per site, and only the phase per position.
void structureFactor(RefinementCrystal *crystal, const Reflexion *reflexion, int32_t radiation,
                     double *real, double *imaginary) {
    const double h = static_cast<double>(reflexion->h);
    const double k = static_cast<double>(reflexion->k);
    const double l = static_cast<double>(reflexion->l);
    const double d = reflexion->dSpacing;
    double a = 0.0, b = 0.0, f = 0.0;
    int32_t cachedIndex = kNoSimilarityIndex;
    const DynamicArray *sites = crystal->sites;
    for (int32_t i = 0; sites != nullptr && i < sites->count; ++i) {
        Site *site = static_cast<Site *>(sites->items[i]);
        if (site == nullptr || !site->isIncluded) continue;
        if (site->similarityIndex != cachedIndex) {
            f = site->methods->siteScatteringFactor(site, d, radiation);
            cachedIndex = site->similarityIndex;
        }
        double g = f;
        RefinementThermalEllipsoidUij *displacement = site->displacement;
        if (crystal->useAnisotropicDisplacement && displacement != nullptr) {
            g = g * displacement->methods->temperatureFactor(displacement, reflexion->h,
                                                             reflexion->k, reflexion->l, d,
                                                             crystal->aStar, crystal->bStar,
                                                             crystal->cStar);
        }
        const DynamicArray *atoms = site->atoms;
        for (int32_t j = 0; atoms != nullptr && j < atoms->count; ++j) {
            const auto *atom = static_cast<const RefinementAtom *>(atoms->items[j]);
            const double phase = kTwoPi * (h * atom->x + k * atom->y + l * atom->z);
            a = a + g * std::cos(phase);
            b = b + g * std::sin(phase);
        }
    }
    *real = a;
    *imaginary = b;
}

}  // namespace

double constantWavelengthLorentzPolarization(double wavelength, double dSpacing, bool neutrons,
                                             bool *outOfBounds) {
    const double sine = wavelength * 0.5 / dSpacing;
    double theta = kHalfPi;
    double lorentz = 1.0;
    *outOfBounds = !(sine < 1.0);
    if (!*outOfBounds) {
        theta = std::asin(sine);
        lorentz = 1.0 / (std::sin(2.0 * theta) * sine);
    }
    if (neutrons) return lorentz;
    const double cosine = std::cos(2.0 * theta);
    return (1.0 + cosine * cosine) * 0.5 * lorentz;
}

}  // namespace powderkit

extern "C" void calculateIntensityForReflexion(RefinementCrystal *crystal, Reflexion *reflexion,
                                               RefinementProfile *profile) {
    if (crystal == nullptr || reflexion == nullptr || profile == nullptr) return;
    reflexion->intensity = 0.0;
    const int32_t radiation = profile->radiationType;
    double a = 0.0, b = 0.0;
    powderkit::structureFactor(crystal, reflexion, radiation, &a, &b);
    reflexion->structureFactorReal = a;
    reflexion->structureFactorImag = b;

    const double d = reflexion->dSpacing;
    double lorentzPolarization;
    double wavelengthTerm;
    if (profile->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT) {
        const double theta = profile->tofTwoTheta * powderkit::kHalfDegreesToRadians;
        const double lorentz = d * d * d * d * std::sin(theta);
        double polarization = 1.0;
        if (radiation != PK_RADIATION_NEUTRON) {
            const double cosine = std::cos(2.0 * theta);
            polarization = (1.0 + cosine * cosine) * 0.5;
        }
        lorentzPolarization = polarization * lorentz;
        wavelengthTerm = 1.0;
    } else {
        const double lambda = profile->wavelength;
        bool outOfBounds = false;
        lorentzPolarization = powderkit::constantWavelengthLorentzPolarization(
            lambda, d, radiation == PK_RADIATION_NEUTRON, &outOfBounds);
        if (outOfBounds) {
            powderkit::printToStream(stderr,
                                     "Reflexion %d %d %d is out-of-bounds (theta >= 90 degrees)\n",
                                     reflexion->h, reflexion->k, reflexion->l);
        }
        wavelengthTerm = lambda * lambda * lambda;
    }
    reflexion->lorentzPolarization = lorentzPolarization;
    double intensity = (a * a + b * b) * lorentzPolarization * wavelengthTerm /
                       (crystal->volume * crystal->volume);
    if (crystal->usePreferredOrientation) {
        intensity = preferredOrientationCorrectionForReflexion(crystal, reflexion) * intensity;
    } else {
        intensity = static_cast<double>(reflexion->multiplicity) * intensity;
    }
    reflexion->intensity = intensity;
}
