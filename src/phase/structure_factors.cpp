// Structure factors F = A + iB = Σ_sites g Σ_positions exp(2πi(hx + ky + lz)),
// g = f T: f the site's occupancy-weighted scattering factor (X-ray f(d) or
// neutron b) from the core's own site function, once per scattering class;
// T the temperature factor, once per displacement class,
//   isotropic     T = exp(−8π² U sin²θ/λ²) = exp(−8π² U / (4 d²)),
//   anisotropic   T = exp(−2π² Σ_ij U_ij h_i h_j a*_i a*_j),
// written term for term as the core writes it, with e^v from vector_math.hpp.
// The phase sum takes sin and cos of 2π(hx + ky + lz) from sinCosTurns and
// adds position i into partial sum i mod 8; the eight are added pairwise.
#include "phase/constants.hpp"
#include "phase/structure_factors.hpp"

#include <cmath>
#include <map>
#include <vector>

#include "phase/vector_math.hpp"

namespace powderkit::phase {

namespace {

constexpr double kTwoPiSquared = 19.739208802178716;
constexpr double kHalfDegreesToRadians = 0.00872664625995;
constexpr double kHalfPi = 1.5707963267948966;
constexpr int kLanes = 8;

// What decides a site's scattering factor: per occupant its occupancy and its
// scattering-factor record's numbers.
std::vector<double> scatteringKey(const Site *site) {
    std::vector<double> key;
    for (int32_t i = 0; site->occupants != nullptr && i < site->occupants->count; ++i) {
        const auto *occupant = static_cast<const RefinementSiteOccupant *>(site->occupants->items[i]);
        if (occupant == nullptr) continue;
        key.push_back(occupant->occupancy);
        const RefinementAtomicScatteringFactor *record = occupant->scatteringFactor;
        if (record == nullptr) {
            key.push_back(-1.0);
            continue;
        }
        key.insert(key.end(), {static_cast<double>(record->hasNeutronScatteringLength),
                               static_cast<double>(record->hasHighAngleCoefficients),
                               static_cast<double>(record->hasCromerMannCoefficients), record->scatteringLength});
        key.insert(key.end(), record->highAngleCoefficients, record->highAngleCoefficients + 4);
        key.insert(key.end(), record->cromerMannCoefficients, record->cromerMannCoefficients + 9);
    }
    return key;
}

// A B over the positions: Σ g_i cos 2πt_i and Σ g_i sin 2πt_i, t_i = h x_i + k y_i + l z_i,
// position i into partial sum i mod 8.
PK_VECTOR_CLONES
void phaseSum(const double *x, const double *y, const double *z, const double *g, std::size_t count, double h, double k,
              double l, double &a, double &b) {
    double sa[kLanes] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    double sb[kLanes] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        for (int lane = 0; lane < kLanes; ++lane) {
            const std::size_t n = i + static_cast<std::size_t>(lane);
            double sine, cosine;
            sinCosTurns(h * x[n] + k * y[n] + l * z[n], sine, cosine);
            sa[lane] += g[n] * cosine;
            sb[lane] += g[n] * sine;
        }
    }
    for (int lane = 0; i < count; ++i, ++lane) {
        double sine, cosine;
        sinCosTurns(h * x[i] + k * y[i] + l * z[i], sine, cosine);
        sa[lane] += g[i] * cosine;
        sb[lane] += g[i] * sine;
    }
    a = ((sa[0] + sa[1]) + (sa[2] + sa[3])) + ((sa[4] + sa[5]) + (sa[6] + sa[7]));
    b = ((sb[0] + sb[1]) + (sb[2] + sb[3])) + ((sb[4] + sb[5]) + (sb[6] + sb[7]));
}

// e^v over an array: the vector e^v where v ≤ 0, the library's where v > 0
// (a displacement that is not positive definite).
PK_VECTOR_CLONES
void exponentials(const double *v, double *out, std::size_t count) {
    for (std::size_t c = 0; c < count; ++c) out[c] = expNonPositive(v[c] < 0.0 ? v[c] : 0.0);
    for (std::size_t c = 0; c < count; ++c) {
        if (v[c] > 0.0) out[c] = std::exp(v[c]);
    }
}

// g_n = f[scattering class of n] T[displacement class of n].
PK_VECTOR_CLONES
void weights(const double *f, const double *t, const int32_t *scattering, const int32_t *displacement, double *g,
             std::size_t count) {
    for (std::size_t n = 0; n < count; ++n) g[n] = f[scattering[n]] * t[displacement[n]];
}

}  // namespace

StructureFactors::StructureFactors(RefinementCrystal *crystal) : crystal_(crystal) {
    std::map<std::vector<double>, int32_t> scattering;
    std::map<std::array<double, 8>, int32_t> displacement;
    const DynamicArray *sites = crystal->sites;
    for (int32_t i = 0; sites != nullptr && i < sites->count; ++i) {
        Site *site = static_cast<Site *>(sites->items[i]);
        if (site == nullptr || !site->isIncluded) continue;
        const auto found = scattering.emplace(scatteringKey(site), static_cast<int32_t>(scatteringClasses_.size()));
        if (found.second) scatteringClasses_.push_back(site);
        Displacement d;
        const RefinementThermalEllipsoidUij *u = site->displacement;
        if (crystal->useAnisotropicDisplacement && u != nullptr) {
            d.kind = u->isAnisotropic != 0 ? 2 : 1;
            d.uIso = u->uIso;
            if (d.kind == 2) d.u = {u->u[0][0], u->u[1][1], u->u[2][2], u->u[0][1], u->u[0][2], u->u[1][2]};
        }
        const std::array<double, 8> key = {
            static_cast<double>(d.kind), d.kind == 1 ? d.uIso : 0.0, d.u[0], d.u[1], d.u[2], d.u[3], d.u[4], d.u[5]};
        const auto placed = displacement.emplace(key, static_cast<int32_t>(displacementClasses_.size()));
        if (placed.second) displacementClasses_.push_back(d);
        for (int32_t j = 0; site->atoms != nullptr && j < site->atoms->count; ++j) {
            const auto *atom = static_cast<const RefinementAtom *>(site->atoms->items[j]);
            atomScattering_.push_back(found.first->second);
            atomDisplacement_.push_back(placed.first->second);
            x_.push_back(atom->x);
            y_.push_back(atom->y);
            z_.push_back(atom->z);
        }
    }
}

void StructureFactors::compute(Reflexion &reflexion, int32_t radiation, Scratch &scratch) const {
    const double d = reflexion.dSpacing;
    const double h = reflexion.h, k = reflexion.k, l = reflexion.l;
    scratch.scattering.resize(scatteringClasses_.size());
    for (std::size_t c = 0; c < scatteringClasses_.size(); ++c) {
        Site *site = scatteringClasses_[c];
        scratch.scattering[c] = site->methods->siteScatteringFactor(site, d, radiation);
    }
    // The exponents as the core writes them; a class without displacement has T = e⁰ = 1.
    const std::size_t classes = displacementClasses_.size();
    scratch.exponent.resize(classes);
    scratch.temperature.resize(classes);
    const double as = crystal_->aStar, bs = crystal_->bStar, cs = crystal_->cStar;
    for (std::size_t c = 0; c < classes; ++c) {
        const Displacement &u = displacementClasses_[c];
        if (u.kind == 0) {
            scratch.exponent[c] = 0.0;
        } else if (u.kind == 1) {
            scratch.exponent[c] = -(kEightPiSquared * u.uIso) * 0.25 / (d * d);
        } else {
            scratch.exponent[c] =
                -(kTwoPiSquared * u.u[1] * (bs * bs) * (k * k) + kTwoPiSquared * u.u[0] * (as * as) * (h * h) +
                  kTwoPiSquared * u.u[2] * (cs * cs) * (l * l) + 2.0 * (kTwoPiSquared * as * bs * u.u[3]) * h * k +
                  2.0 * (kTwoPiSquared * bs * cs * u.u[5]) * k * l + 2.0 * (kTwoPiSquared * as * cs * u.u[4]) * h * l);
        }
    }
    exponentials(scratch.exponent.data(), scratch.temperature.data(), classes);
    // g = f T of each position's site.
    scratch.atom.resize(x_.size());
    weights(scratch.scattering.data(), scratch.temperature.data(), atomScattering_.data(), atomDisplacement_.data(),
            scratch.atom.data(), x_.size());
    double a = 0.0, b = 0.0;
    phaseSum(x_.data(), y_.data(), z_.data(), scratch.atom.data(), x_.size(), h, k, l, a, b);
    reflexion.structureFactorReal = a;
    reflexion.structureFactorImag = b;
}

void setIntensity(RefinementCrystal *crystal, Reflexion &reflexion, RefinementProfile *profile) {
    const double a = reflexion.structureFactorReal, b = reflexion.structureFactorImag;
    const bool neutrons = profile->radiationType == PK_RADIATION_NEUTRON;
    const double d = reflexion.dSpacing;
    double lorentzPolarization, wavelengthTerm;
    if (profile->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT) {
        const double theta = profile->tofTwoTheta * kHalfDegreesToRadians;
        const double lorentz = d * d * d * d * std::sin(theta);
        double polarization = 1.0;
        if (!neutrons) {
            const double cosine = std::cos(2.0 * theta);
            polarization = (1.0 + cosine * cosine) * 0.5;
        }
        lorentzPolarization = polarization * lorentz;
        wavelengthTerm = 1.0;
    } else {
        // Lp = (1 + cos² 2θ) / (2 sin 2θ sin θ), without the polarisation for neutrons.
        const double lambda = profile->wavelength;
        const double sine = lambda * 0.5 / d;
        double theta = kHalfPi, lorentz = 1.0;
        if (sine < 1.0) {
            theta = std::asin(sine);
            lorentz = 1.0 / (std::sin(2.0 * theta) * sine);
        }
        lorentzPolarization = lorentz;
        if (!neutrons) {
            const double cosine = std::cos(2.0 * theta);
            lorentzPolarization = (1.0 + cosine * cosine) * 0.5 * lorentz;
        }
        wavelengthTerm = lambda * lambda * lambda;
    }
    reflexion.lorentzPolarization = lorentzPolarization;
    double intensity = (a * a + b * b) * lorentzPolarization * wavelengthTerm / (crystal->volume * crystal->volume);
    if (crystal->usePreferredOrientation) {
        intensity = crystal->methods->preferredOrientationCorrectionForReflexion(crystal, &reflexion) * intensity;
    } else {
        intensity = static_cast<double>(reflexion.multiplicity) * intensity;
    }
    reflexion.intensity = intensity;
}

double monochromatorFactor(double monochromator, double wavelength, double d) {
    if (monochromator == 0.0) return 1.0;
    const double sine = wavelength * 0.5 / d;
    const double theta = sine < 1.0 ? std::asin(sine) : kHalfPi;
    const double c = std::cos(2.0 * theta), m = std::cos(monochromator * 2.0 * kHalfDegreesToRadians);
    return ((1.0 + m * m * (c * c)) / (1.0 + m * m)) / ((1.0 + c * c) * 0.5);
}

void polarise(const pk_instrument &instrument, double wavelength, Reflexion &reflexion) {
    if (instrument.axis != PK_AXIS_TWO_THETA || instrument.radiation != PK_RADIATION_XRAY) return;
    const double factor = monochromatorFactor(instrument.monochromator, wavelength, reflexion.dSpacing);
    reflexion.lorentzPolarization *= factor;
    reflexion.intensity *= factor;
}

}  // namespace powderkit::phase
