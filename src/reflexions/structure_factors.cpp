// Structure factors F = A + iB = Σ_sites g Σ_positions exp(2πi(hx + ky + lz)),
// g = f T: f the site's occupancy-weighted scattering factor (X-ray f(d) or
// neutron b) from the core's own site function, once per scattering class,
// plus for X-rays the occupancy-weighted anomalous dispersion f′ + i f″ of
// each line (dispersion.hpp) when the instrument asks for it;
// T the temperature factor, once per displacement class,
//   isotropic     T = exp(−8π² U sin²θ/λ²) = exp(−8π² U / (4 d²)),
//   anisotropic   T = exp(−2π² Σ_ij U_ij h_i h_j a*_i a*_j),
// written term for term as the core writes it, with e^v from vector_math.hpp.
// The phase sum takes sin and cos of 2π(hx + ky + lz) from sinCosTurns and
// adds position i into partial sum i mod 8; the eight are added pairwise.
// A complex f takes one sum for f0 + f′ and one for f″ (see compute).
#include "boundary/constants.hpp"
#include "reflexions/structure_factors.hpp"

#include <cmath>
#include <map>
#include <vector>

#include "crystal/dispersion.hpp"
#include "reflexions/vector_math.hpp"

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

// The cosine and sine sums of W weight arrays over the positions,
// a[w] = Σ g[w][n] cos 2πt_n and b[w] = Σ g[w][n] sin 2πt_n, t_n = h x_n + k y_n + l z_n,
// g[w][n] = g[w·count + n], position n into partial sum n mod 8 of each.
template <int W>
[[gnu::always_inline]] inline void phaseSums(const double *x, const double *y, const double *z, const double *g,
                                            std::size_t count, double h, double k, double l, double *a, double *b) {
    double sa[W][kLanes] = {};
    double sb[W][kLanes] = {};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        for (int lane = 0; lane < kLanes; ++lane) {
            const std::size_t n = i + static_cast<std::size_t>(lane);
            double sine, cosine;
            sinCosTurns(h * x[n] + k * y[n] + l * z[n], sine, cosine);
            for (int w = 0; w < W; ++w) {
                sa[w][lane] += g[w * count + n] * cosine;
                sb[w][lane] += g[w * count + n] * sine;
            }
        }
    }
    for (int lane = 0; i < count; ++i, ++lane) {
        double sine, cosine;
        sinCosTurns(h * x[i] + k * y[i] + l * z[i], sine, cosine);
        for (int w = 0; w < W; ++w) {
            sa[w][lane] += g[w * count + i] * cosine;
            sb[w][lane] += g[w * count + i] * sine;
        }
    }
    for (int w = 0; w < W; ++w) {
        const double *p = sa[w], *q = sb[w];
        a[w] = ((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + (p[6] + p[7]));
        b[w] = ((q[0] + q[1]) + (q[2] + q[3])) + ((q[4] + q[5]) + (q[6] + q[7]));
    }
}

// One real weight per position; with dispersion f0 + f′ and f″ of one line; of two lines.
PK_VECTOR_CLONES
void phaseSum(const double *x, const double *y, const double *z, const double *g, std::size_t count, double h, double k,
              double l, double *a, double *b) {
    phaseSums<1>(x, y, z, g, count, h, k, l, a, b);
}

PK_VECTOR_CLONES
void phaseSumOneLine(const double *x, const double *y, const double *z, const double *g, std::size_t count, double h,
                     double k, double l, double *a, double *b) {
    phaseSums<2>(x, y, z, g, count, h, k, l, a, b);
}

PK_VECTOR_CLONES
void phaseSumTwoLines(const double *x, const double *y, const double *z, const double *g, std::size_t count, double h,
                      double k, double l, double *a, double *b) {
    phaseSums<4>(x, y, z, g, count, h, k, l, a, b);
}

// A and B whose squares sum to the Friedel mean A′² + B′² + A″² + B″²,
// with the signs of A′ and B′.
void friedelMean(double aReal, double bReal, double aImag, double bImag, double &a, double &b) {
    a = std::copysign(std::sqrt(aReal * aReal + aImag * aImag), aReal);
    b = std::copysign(std::sqrt(bReal * bReal + bImag * bImag), bReal);
}

// Σ occupancy·(f′, f″) of a site's occupants at each of the instrument's lines.
std::array<double, 4> siteDispersion(const Site *site, const pk_instrument &instrument) {
    std::array<double, 4> sum{};
    for (int32_t i = 0; site->occupants != nullptr && i < site->occupants->count; ++i) {
        const auto *occupant = static_cast<const RefinementSiteOccupant *>(site->occupants->items[i]);
        if (occupant == nullptr) continue;
        const Dispersion first = anomalousDispersion(occupant->symbol, instrument.wavelength);
        sum[0] += occupant->occupancy * first.fPrime;
        sum[1] += occupant->occupancy * first.fDoublePrime;
        if (instrument.wavelength2 > 0.0) {
            const Dispersion second = anomalousDispersion(occupant->symbol, instrument.wavelength2);
            sum[2] += occupant->occupancy * second.fPrime;
            sum[3] += occupant->occupancy * second.fDoublePrime;
        }
    }
    return sum;
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

StructureFactors::StructureFactors(RefinementCrystal *crystal, const pk_instrument *instrument) : crystal_(crystal) {
    const bool dispersive = instrument != nullptr && instrument->dispersion != 0 &&
                            instrument->radiation == PK_RADIATION_XRAY && instrument->axis == PK_AXIS_TWO_THETA;
    secondLine_ = dispersive && instrument->wavelength2 > 0.0;
    std::map<std::vector<double>, int32_t> scattering;
    std::map<std::array<double, 8>, int32_t> displacement;
    const DynamicArray *sites = crystal->sites;
    for (int32_t i = 0; sites != nullptr && i < sites->count; ++i) {
        Site *site = static_cast<Site *>(sites->items[i]);
        if (site == nullptr || !site->isIncluded) continue;
        std::vector<double> classKey = scatteringKey(site);
        std::array<double, 4> terms{};
        if (dispersive) {
            terms = siteDispersion(site, *instrument);
            classKey.insert(classKey.end(), terms.begin(), terms.end());
        }
        const auto found = scattering.emplace(classKey, static_cast<int32_t>(scatteringClasses_.size()));
        if (found.second) {
            scatteringClasses_.push_back(site);
            if (dispersive) dispersion_.push_back(terms);
        }
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

void StructureFactors::compute(Reflexion &reflexion, int32_t radiation, Scratch &scratch,
                               std::array<double, 2> *second) const {
    const double d = reflexion.dSpacing;
    const double h = reflexion.h, k = reflexion.k, l = reflexion.l;
    // The weight arrays: f (or b) alone; or f0 + f′ and f″ of the first line,
    // then of the second.
    const bool dispersive = !dispersion_.empty() && radiation == PK_RADIATION_XRAY;
    const int arrays = !dispersive ? 1 : secondLine_ ? 4 : 2;
    const std::size_t kinds = scatteringClasses_.size();
    scratch.scattering.resize(kinds * static_cast<std::size_t>(arrays));
    for (std::size_t c = 0; c < kinds; ++c) {
        Site *site = scatteringClasses_[c];
        const double f0 = site->methods->siteScatteringFactor(site, d, radiation);
        scratch.scattering[c] = dispersive ? f0 + dispersion_[c][0] : f0;
        for (int w = 1; w < arrays; ++w) {
            const std::size_t slot = static_cast<std::size_t>(w) * kinds + c;
            scratch.scattering[slot] = w == 2 ? f0 + dispersion_[c][2] : dispersion_[c][static_cast<std::size_t>(w)];
        }
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
    // g = f T of each position's site, one array per weight.
    const std::size_t count = x_.size();
    scratch.atom.resize(count * static_cast<std::size_t>(arrays));
    for (int w = 0; w < arrays; ++w) {
        weights(scratch.scattering.data() + static_cast<std::size_t>(w) * kinds, scratch.temperature.data(),
                atomScattering_.data(), atomDisplacement_.data(), scratch.atom.data() + static_cast<std::size_t>(w) * count,
                count);
    }
    double a[4] = {0.0, 0.0, 0.0, 0.0}, b[4] = {0.0, 0.0, 0.0, 0.0};
    const double *g = scratch.atom.data();
    if (arrays == 1) {
        phaseSum(x_.data(), y_.data(), z_.data(), g, count, h, k, l, a, b);
    } else if (arrays == 2) {
        phaseSumOneLine(x_.data(), y_.data(), z_.data(), g, count, h, k, l, a, b);
    } else {
        phaseSumTwoLines(x_.data(), y_.data(), z_.data(), g, count, h, k, l, a, b);
    }
    if (arrays == 1) {
        reflexion.structureFactorReal = a[0];
        reflexion.structureFactorImag = b[0];
    } else {
        friedelMean(a[0], b[0], a[1], b[1], reflexion.structureFactorReal, reflexion.structureFactorImag);
    }
    if (second != nullptr) {
        if (arrays == 4) {
            friedelMean(a[2], b[2], a[3], b[3], (*second)[0], (*second)[1]);
        } else {
            *second = {reflexion.structureFactorReal, reflexion.structureFactorImag};
        }
    }
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
