// Intensity derivatives by the parameters of one site. The structure factor
// of a reflexion is F = A + iB = Σ_sites g Σ_positions e^(iφ), φ = 2π(hx + ky + lz),
// and its intensity I = W (A² + B²), W gathering λ³ (constant wavelength),
// the Lorentz-polarisation factor, 1/V², the multiplicity or March
// correction and the second-wavelength ratio. So
//   ∂I/∂p = WA ∂A/∂p + WB ∂B/∂p,  WA = 2WA, WB = 2WB,
// and only the terms of the site in question move: by an occupancy through
// the occupant's own scattering factor, by Uiso through
// T = exp(−2π² U/d²), by Uij through the anisotropic exponent, and by a
// coordinate through the phases of the positions that the site's operators
// make from it. A and B are those stored by the last intensity calculation.
#include "derivatives/site_derivatives.hpp"

#include <cmath>

#include "frame/frame.hpp"
#include "model/model.hpp"

namespace powderkit {
namespace {

double intensityWeight(RefinementCrystal *crystal, Reflexion *reflexion,
                       RefinementProfile *profile, double part) {
    const bool secondary = reflexion->isSecondaryWavelength != 0;
    const double wavelength = secondary ? profile->secondaryWavelength : profile->wavelength;
    const double wavelengthTerm = profile->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT
                                      ? 1.0
                                      : std::pow(wavelength, 3.0);
    const double volume = crystal->volume;
    double weight =
        2.0 * wavelengthTerm * reflexion->lorentzPolarization * part / (volume * volume);
    if (secondary) weight = weight * (1.0 / profile->secondaryIntensityRatio);
    // The March correction takes the place of the multiplicity.
    if (crystal->usePreferredOrientation) {
        weight = weight * preferredOrientationCorrectionForReflexion(crystal, reflexion);
    } else {
        weight = weight * static_cast<double>(reflexion->multiplicity);
    }
    return weight;
}

double phase(const Reflexion *reflexion, const RefinementAtom *position) {
    return kTwoPi * (static_cast<double>(reflexion->h) * position->x +
                     static_cast<double>(reflexion->k) * position->y +
                     static_cast<double>(reflexion->l) * position->z);
}

const RefinementAtom *positionAt(const Site *site, int32_t i) {
    return static_cast<const RefinementAtom *>(site->atoms->items[i]);
}

int32_t positionCount(const Site *site) {
    return site->atoms != nullptr ? site->atoms->count : 0;
}

// Σ cos φ and Σ sin φ over the site's positions, in list order.
void phaseSums(const Reflexion *reflexion, const Site *site, double *cosines, double *sines) {
    double sumCos = 0.0;
    double sumSin = 0.0;
    for (int32_t i = 0; i < positionCount(site); ++i) {
        const RefinementAtom *position = positionAt(site, i);
        if (position == nullptr) continue;
        const double angle = phase(reflexion, position);
        sumCos = sumCos + std::cos(angle);
        sumSin = sumSin + std::sin(angle);
    }
    *cosines = sumCos;
    *sines = sumSin;
}

double temperatureFactorOf(RefinementThermalEllipsoidUij *displacement, const RefinementCrystal *crystal,
                           const Reflexion *reflexion) {
    return displacement->methods->temperatureFactor(displacement, reflexion->h, reflexion->k,
                                                    reflexion->l, reflexion->dSpacing,
                                                    crystal->aStar, crystal->bStar,
                                                    crystal->cStar);
}

double siteFactor(Site *site, const Reflexion *reflexion, const RefinementProfile *profile) {
    return site->methods->siteScatteringFactor(site, reflexion->dSpacing, profile->radiationType);
}

// WB·(Σs·D) + WA·(Σc·D) for a factor D common to every position of the site.
double derivativeOfCommonFactor(RefinementCrystal *crystal, Reflexion *reflexion,
                                RefinementProfile *profile, const Site *site, double factor) {
    const double weightA = realPartIntensityWeight(crystal, reflexion, profile);
    const double weightB = imaginaryPartIntensityWeight(crystal, reflexion, profile);
    double cosines, sines;
    phaseSums(reflexion, site, &cosines, &sines);
    return weightB * (sines * factor) + weightA * (cosines * factor);
}

}  // namespace

double realPartIntensityWeight(RefinementCrystal *crystal, Reflexion *reflexion,
                               RefinementProfile *profile) {
    return intensityWeight(crystal, reflexion, profile, reflexion->structureFactorReal);
}

double imaginaryPartIntensityWeight(RefinementCrystal *crystal, Reflexion *reflexion,
                                    RefinementProfile *profile) {
    return intensityWeight(crystal, reflexion, profile, reflexion->structureFactorImag);
}

double diffStructureFactorTermWrtAxis(const Reflexion *reflexion, const RefinementAtom *position,
                                      double scatteringFactor, int32_t outputIndex,
                                      bool wantSine) {
    double index;
    switch (outputIndex) {
        case 0:
            index = static_cast<double>(reflexion->h);
            break;
        case 1:
            index = static_cast<double>(reflexion->k);
            break;
        case 2:
            index = static_cast<double>(reflexion->l);
            break;
        default:
            return 0.0;
    }
    const double angle = phase(reflexion, position);
    const double trigonometric = wantSine ? -std::sin(angle) : std::cos(angle);
    return trigonometric * kTwoPi * scatteringFactor * index;
}

double coordinateCoefficient(const char *expression, int32_t siteAxis) {
    if (expression == nullptr) return 0.0;
    double sign = 0.0;  // no sign seen yet: a bare leading variable counts 0
    for (const char *c = expression; *c != '\0'; ++c) {
        switch (*c) {
            case '+':
                sign = 1.0;
                break;
            case '-':
                sign = -1.0;
                break;
            case 'x':
            case 'X':
                return siteAxis == 0 ? sign : 0.0;
            case 'y':
            case 'Y':
                return siteAxis == 1 ? sign : 0.0;
            case 'z':
            case 'Z':
                return siteAxis == 2 ? sign : 0.0;
            default:
                break;
        }
    }
    return 0.0;
}

}  // namespace powderkit

extern "C" {

// ∂I/∂(occupancy of one occupant): its own factor f = g/occupancy, with the
// site's temperature factor whenever the site has a displacement record.
double DiffReflexionIntensityWrtSiteOccupancy(RefinementCrystal *crystal, Reflexion *reflexion,
                                              RefinementProfile *profile, Site *site,
                                              RefinementSiteOccupant *occupant) {
    const double weighted = occupant->methods->siteOccupantScatteringFactor(
        occupant, reflexion->dSpacing, profile->radiationType);
    double factor = occupant->occupancy > 0.0 ? weighted / occupant->occupancy : 0.0;
    if (site->displacement != nullptr) {
        factor = factor * powderkit::temperatureFactorOf(site->displacement, crystal, reflexion);
    }
    return powderkit::derivativeOfCommonFactor(crystal, reflexion, profile, site, factor);
}

// ∂I/∂Uiso at U: ∂T/∂U = q T with q = −2π²/d². No anisotropic factor enters.
double DiffReflexionIntensityWrtSiteIsotropicTempFactor(RefinementCrystal *crystal,
                                                        Reflexion *reflexion,
                                                        RefinementProfile *profile, Site *site,
                                                        double uIso) {
    const double factor = powderkit::siteFactor(site, reflexion, profile);
    const double d = reflexion->dSpacing;
    const double q = -powderkit::kTwoPiSquared / (d * d);
    const double t = std::exp(q * uIso);
    return powderkit::derivativeOfCommonFactor(crystal, reflexion, profile, site, t * q * factor);
}

// ∂I/∂Uij, the component coded 1 … 6 as U11, U22, U33, U23, U13, U12; any
// other code gives 0. A site without a displacement record has no
// anisotropic parameters to refine: its derivative is 0 as well.
double DiffReflexionIntensityWrtSiteAnisotropicTempFactor(RefinementCrystal *crystal,
                                                          Reflexion *reflexion,
                                                          RefinementProfile *profile, Site *site,
                                                          int32_t component) {
    using powderkit::kTwoPiSquared;
    using powderkit::multiplyInt32;
    if (site->displacement == nullptr) return 0.0;
    const double factor = powderkit::siteFactor(site, reflexion, profile);
    const double t = powderkit::temperatureFactorOf(site->displacement, crystal, reflexion);
    const double h = static_cast<double>(reflexion->h);
    const double k = static_cast<double>(reflexion->k);
    const double l = static_cast<double>(reflexion->l);
    const double aStar = crystal->aStar;
    const double bStar = crystal->bStar;
    const double cStar = crystal->cStar;
    double rate;
    switch (component) {
        case PK_ANISO_U11:
            rate = -kTwoPiSquared * (aStar * aStar) * (h * h) * t;
            break;
        case PK_ANISO_U22:
            rate = -kTwoPiSquared * (bStar * bStar) * (k * k) * t;
            break;
        case PK_ANISO_U33:
            rate = -kTwoPiSquared * (cStar * cStar) * (l * l) * t;
            break;
        case PK_ANISO_U23:
            rate = -kTwoPiSquared * bStar * cStar *
                   static_cast<double>(multiplyInt32(multiplyInt32(2, reflexion->k), reflexion->l)) *
                   t;
            break;
        case PK_ANISO_U13:
            rate = -kTwoPiSquared * aStar * cStar *
                   static_cast<double>(multiplyInt32(multiplyInt32(2, reflexion->h), reflexion->l)) *
                   t;
            break;
        case PK_ANISO_U12:
            rate = -kTwoPiSquared * aStar * bStar *
                   static_cast<double>(multiplyInt32(multiplyInt32(2, reflexion->h), reflexion->k)) *
                   t;
            break;
        default:
            rate = 0.0;
            break;
    }
    return powderkit::derivativeOfCommonFactor(crystal, reflexion, profile, site, rate * factor);
}

// ∂I/∂x, ∂y or ∂z of the site. Each position moves with the site axis by the
// coefficient its operator's coordinate expressions give that axis (the sign
// before the first variable of each expression).
double DiffReflexionIntensityWrtSiteAxis(RefinementCrystal *crystal, Reflexion *reflexion,
                                         RefinementProfile *profile, Site *site,
                                         int32_t siteAxis) {
    if (static_cast<uint32_t>(siteAxis) > 2u) {
        powderkit::printToStream(stderr, "Invalid siteAxis supplied to partial derivative!\n");
        return 0.0;
    }
    double factor = powderkit::siteFactor(site, reflexion, profile);
    if (crystal->useAnisotropicDisplacement && site->displacement != nullptr) {
        factor = factor * powderkit::temperatureFactorOf(site->displacement, crystal, reflexion);
    }
    double dA = 0.0;
    double dB = 0.0;
    for (int32_t i = 0; i < powderkit::positionCount(site); ++i) {
        const RefinementAtom *position = powderkit::positionAt(site, i);
        if (position == nullptr || position->symmetryOperator == nullptr) continue;
        for (int32_t output = 0; output < 3; ++output) {
            const double coefficient = powderkit::coordinateCoefficient(
                position->symmetryOperator->coordinateExpressions[output], siteAxis);
            if (coefficient == 0.0) continue;
            dA += coefficient * powderkit::diffStructureFactorTermWrtAxis(reflexion, position,
                                                                          factor, output, true);
            dB += coefficient * powderkit::diffStructureFactorTermWrtAxis(reflexion, position,
                                                                          factor, output, false);
        }
    }
    return powderkit::imaginaryPartIntensityWeight(crystal, reflexion, profile) * dB +
           powderkit::realPartIntensityWeight(crystal, reflexion, profile) * dA;
}

}  // extern "C"
