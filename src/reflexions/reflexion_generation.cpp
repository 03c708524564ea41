// Generating the reflexions of a phase. Every h k l of the index box with d at
// or above the limit and not systematically absent is a candidate; sets of
// equivalent planes are gathered with the core's planesRelatedBySymmetry.
#include "boundary/constants.hpp"
#include "reflexions/reflexion_generation.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "boundary/boundary.hpp"
#include "boundary/progress.hpp"
#include "crystal/dispersion.hpp"
#include "reflexions/sample_corrections.hpp"

namespace powderkit::phase {

namespace {

// Largest index the box may reach: beyond it a d limit is meaningless.
constexpr double kMaxIndex = 1000.0;

using Indices = std::array<int32_t, 3>;

// d to the nearest 1e-9 Å: the sort key that keeps planes of equal d
// together whatever their last bits.
long long dKey(double d) { return std::llround(d * 1e9); }

// The most indices the half box may hold: 2.5·10⁸ (a 300 Å cubic cell to
// 2θ = 150° at Cu Kα1), some seconds of listing and 31 MB of marks.
constexpr double kMostIndices = 2.5e8;

// Which planes of the half of the index box ±box that the search walks (the
// first non-zero index positive) are already in a set: a bit each, and a
// set beside them for planes just outside the box (which rounding could
// make). Planes of the other half are never asked about.
class PlaneMarks {
public:
    explicit PlaneMarks(const int32_t box[3]) {
        for (int i = 0; i < 3; ++i) box_[i] = box[i];
        bits_.assign(static_cast<std::size_t>((box[0] + 1L) * (2L * box[1] + 1) * (2L * box[2] + 1)), false);
    }
    bool contains(const Indices &hkl) const {
        const long index = indexOf(hkl);
        return index >= 0 ? static_cast<bool>(bits_[static_cast<std::size_t>(index)]) : others_.count(hkl) != 0;
    }
    void mark(const Indices &hkl) {
        if (hkl[0] < 0 || (hkl[0] == 0 && (hkl[1] < 0 || (hkl[1] == 0 && hkl[2] <= 0)))) return;
        const long index = indexOf(hkl);
        if (index >= 0) {
            bits_[static_cast<std::size_t>(index)] = true;
        } else {
            others_.insert(hkl);
        }
    }

private:
    long indexOf(const Indices &hkl) const {
        if (hkl[0] < 0 || hkl[0] > box_[0]) return -1;
        for (std::size_t i = 1; i < 3; ++i) {
            if (hkl[i] < -box_[i] || hkl[i] > box_[i]) return -1;
        }
        return (static_cast<long>(hkl[0]) * (2L * box_[1] + 1) + (hkl[1] + box_[1])) * (2L * box_[2] + 1) +
               (hkl[2] + box_[2]);
    }
    int32_t box_[3];
    std::vector<bool> bits_;
    std::set<Indices> others_;
};

// The representative of a set: fewest negative indices, then the largest
// h k l in lexicographic order ((0 1 2) rather than (1 0 -2) or (-1 1 2)).
bool betterRepresentative(const Indices &candidate, const Indices &current) {
    const auto negatives = [](const Indices &hkl) {
        return (hkl[0] < 0 ? 1 : 0) + (hkl[1] < 0 ? 1 : 0) + (hkl[2] < 0 ? 1 : 0);
    };
    const int nc = negatives(candidate), nr = negatives(current);
    return nc != nr ? nc < nr : candidate > current;
}

// The set of `hkl` (its planes marked in `covered`), represented by its best plane.
PlaneSet gatheredSet(RefinementCrystal *crystal, const Indices &hkl, PlaneMarks &covered) {
    int32_t count = 0;
    Indices first = hkl;
    int32_t *planes = planesRelatedBySymmetry(crystal, first.data(), 1, &count);
    if (planes == nullptr) throw std::bad_alloc();
    Indices representative = hkl;
    try {
        for (int32_t p = 0; p < count; ++p) {
            const Indices plane{planes[3 * p], planes[3 * p + 1], planes[3 * p + 2]};
            covered.mark(plane);
            if (betterRepresentative(plane, representative)) representative = plane;
        }
    } catch (...) {
        std::free(planes);
        throw;
    }
    std::free(planes);
    covered.mark(hkl);
    return {representative, count, dSpacingForHKL(crystal, representative[0], representative[1], representative[2])};
}

}  // namespace

namespace {

// Whether h·R = h and h·t is not an integer for operator (R, t).
bool extinguishes(const SymmetryOperation &op, const Indices &hkl) {
    for (std::size_t j = 0; j < 3; ++j) {
        const long image = static_cast<long>(hkl[0]) * op.rotation[j] + static_cast<long>(hkl[1]) * op.rotation[3 + j] +
                           static_cast<long>(hkl[2]) * op.rotation[6 + j];
        if (image != hkl[j]) return false;
    }
    const double phase = hkl[0] * op.translation[0] + hkl[1] * op.translation[1] + hkl[2] * op.translation[2];
    return std::fabs(phase - std::floor(phase + 0.5)) > 1e-6;
}

}  // namespace

bool isSystematicallyAbsent(const Symmetry &symmetry, const Indices &hkl) {
    for (const SymmetryOperation &op : symmetry.operations) {
        if (extinguishes(op, hkl)) return true;
    }
    return false;
}

std::vector<PlaneSet> planeSetsOf(const pk_phase &phase, double dMin) {
    if (!(dMin > 0.0) || !std::isfinite(dMin)) {
        fail(PK_ERROR_ARGUMENT, "the d-spacing limit must be a positive number of Å");
    }
    RefinementCrystal *crystal = phase.crystal.get();
    const auto &cell = phase.description.cell;
    int32_t box[3];
    for (int i = 0; i < 3; ++i) {
        const double bound = std::floor(cell[static_cast<std::size_t>(i)] / dMin);
        if (bound > kMaxIndex) {
            fail(PK_ERROR_ARGUMENT, "the d-spacing limit is too small for this cell (indices beyond 1000)");
        }
        box[i] = static_cast<int32_t>(bound);
    }
    const double indices = (box[0] + 1.0) * (2.0 * box[1] + 1.0) * (2.0 * box[2] + 1.0);
    if (indices > kMostIndices) {
        char text[320];
        std::snprintf(text, sizeof text,
                      "the cell (%.6g × %.6g × %.6g Å) down to d = %.4g Å means testing %.3g indices h k l, more than "
                      "the %.3g a list may take (minutes of work): raise the d-spacing limit or end the 2θ range "
                      "lower",
                      cell[0], cell[1], cell[2], dMin, indices, kMostIndices);
        fail(PK_ERROR_ARGUMENT, text);
    }
    // Only operators with a translation can extinguish a reflexion.
    std::vector<const SymmetryOperation *> translating;
    for (const SymmetryOperation &op : phase.description.symmetry.operations) {
        if (op.translation[0] != 0.0 || op.translation[1] != 0.0 || op.translation[2] != 0.0)
            translating.push_back(&op);
    }
    // Every set holds −h beside h (the inversion, or Friedel's law the core
    // adds to non-centrosymmetric sets), so the half of the box with the
    // first non-zero index positive meets every set. Each set is gathered
    // from its first index met (the representative is chosen among all its
    // planes, and the sets are sorted at the end), so that nothing but the
    // sets and the box's marks is kept: a large cell's box holds far more
    // indices than sets.
    std::vector<PlaneSet> sets;
    PlaneMarks covered(box);
    Progress progress("listing reflexions");
    for (int32_t h = 0; h <= box[0]; ++h) {
        for (int32_t k = h == 0 ? 0 : -box[1]; k <= box[1]; ++k) {
            progress.at((h * (2.0 * box[1] + 1.0) + k + box[1]) / ((box[0] + 1.0) * (2.0 * box[1] + 1.0)));
            for (int32_t l = h == 0 && k == 0 ? 1 : -box[2]; l <= box[2]; ++l) {
                const Indices hkl{h, k, l};
                if (covered.contains(hkl)) continue;
                const double d = dSpacingForHKL(crystal, h, k, l);
                if (d < dMin) continue;
                bool absent = false;
                for (const SymmetryOperation *op : translating) {
                    if (extinguishes(*op, hkl)) {
                        absent = true;
                        break;
                    }
                }
                if (!absent) sets.push_back(gatheredSet(crystal, hkl, covered));
            }
        }
    }
    sortPlaneSets(sets);
    return sets;
}

void sortPlaneSets(std::vector<PlaneSet> &sets) {
    std::stable_sort(sets.begin(), sets.end(), [](const PlaneSet &x, const PlaneSet &y) {
        const long long kx = dKey(x.d), ky = dKey(y.d);
        return kx != ky ? kx > ky : x.hkl > y.hkl;
    });
}

Reflexion reflexionOf(const PlaneSet &set) {
    Reflexion reflexion{};
    reflexion.h = set.hkl[0];
    reflexion.k = set.hkl[1];
    reflexion.l = set.hkl[2];
    reflexion.multiplicity = set.multiplicity;
    reflexion.dSpacing = set.d;
    return reflexion;
}

void validateInstrument(const pk_instrument &instrument) {
    const auto positive = [](double value) {
        return std::isfinite(value) && value > 0.0;
    };
    if (instrument.axis != PK_AXIS_TWO_THETA && instrument.axis != PK_AXIS_TOF) {
        fail(PK_ERROR_ARGUMENT, "instrument.axis " + std::to_string(instrument.axis) + " is neither 2θ nor TOF");
    }
    if (instrument.radiation != PK_RADIATION_XRAY && instrument.radiation != PK_RADIATION_NEUTRON) {
        fail(PK_ERROR_ARGUMENT, "instrument.radiation " + std::to_string(instrument.radiation) +
                                    " is neither X-rays (2) nor neutrons (3)");
    }
    if (!std::isfinite(instrument.zero)) fail(PK_ERROR_ARGUMENT, "instrument.zero is not a number");
    if (instrument.dispersion != 0 && instrument.dispersion != 1) {
        fail(PK_ERROR_ARGUMENT, "instrument.dispersion must be 0 (off) or 1 (on), not " +
                                    std::to_string(instrument.dispersion));
    }
    if (instrument.axis == PK_AXIS_TWO_THETA) {
        if (!positive(instrument.wavelength)) fail(PK_ERROR_ARGUMENT, "instrument.wavelength must be positive");
        if (!(instrument.wavelength2 >= 0.0) || !std::isfinite(instrument.wavelength2)) {
            fail(PK_ERROR_ARGUMENT, "instrument.wavelength2 must be 0 (none) or positive");
        }
        if (instrument.wavelength2 > 0.0 && !(instrument.ratio2 >= 0.0 && std::isfinite(instrument.ratio2))) {
            fail(PK_ERROR_ARGUMENT, "instrument.ratio2 must be a non-negative number");
        }
        if (!std::isfinite(instrument.displacement)) {
            fail(PK_ERROR_ARGUMENT, "instrument.displacement is not a number");
        }
        if (!(instrument.transparency >= 0.0) || !std::isfinite(instrument.transparency)) {
            fail(PK_ERROR_ARGUMENT, "instrument.transparency must be 0 (none) or a positive 1/μ in mm");
        }
        if ((instrument.displacement != 0.0 || instrument.transparency != 0.0) && !positive(instrument.radius)) {
            fail(PK_ERROR_ARGUMENT, "instrument.radius must be positive");
        }
        if (!(instrument.monochromator >= 0.0 && instrument.monochromator < 180.0)) {
            fail(PK_ERROR_ARGUMENT, "instrument.monochromator must be 0 (none) or a 2θ below 180°");
        }
        if (instrument.dispersion != 0 && instrument.radiation == PK_RADIATION_XRAY) {
            checkDispersionWavelength(instrument.wavelength, "instrument.wavelength");
            if (instrument.wavelength2 > 0.0) checkDispersionWavelength(instrument.wavelength2, "instrument.wavelength2");
        }
        // The capillary transmission is held to its bound up to PK_ABSORPTION_MAX.
        if (!(instrument.absorption >= 0.0 && instrument.absorption <= PK_ABSORPTION_MAX)) {
            fail(PK_ERROR_ARGUMENT, "instrument.absorption must be 0 (none) or a μR of at most 10");
        }
        // Roughness only removes intensity, and never more than all of it:
        // with 0 ≤ p ≤ 1 and q ≥ 0 the factor lies between 1 − p e^(−q) and 1.
        if (!(instrument.roughness_p >= 0.0 && instrument.roughness_p <= 1.0)) {
            fail(PK_ERROR_ARGUMENT, "instrument.roughness_p must lie between 0 (none) and 1");
        }
        if (!(instrument.roughness_q >= 0.0) || !std::isfinite(instrument.roughness_q)) {
            fail(PK_ERROR_ARGUMENT, "instrument.roughness_q must be a non-negative number");
        }
    } else {
        if (!positive(instrument.dtt1)) fail(PK_ERROR_ARGUMENT, "instrument.dtt1 must be positive");
        // A negative dtt2 (real banks have a small one) bends the calibration
        // back at d = −dtt1 / (2 dtt2): that must lie beyond any d measured.
        if (!std::isfinite(instrument.dtt2) || instrument.dtt1 + 2.0 * instrument.dtt2 * kLongestTofD <= 0.0) {
            fail(PK_ERROR_ARGUMENT, "instrument.dtt2 must be a number above −dtt1 / " +
                                        shortest(2.0 * kLongestTofD) + " (" + shortest(-instrument.dtt1 / (2.0 * kLongestTofD)) +
                                        "): with " + shortest(instrument.dtt2) +
                                        " the flight time turns back before d = " + shortest(kLongestTofD) + " Å");
        }
        if (!std::isfinite(instrument.tof_two_theta)) {
            fail(PK_ERROR_ARGUMENT, "instrument.tof_two_theta is not a number");
        }
        // Absorption, roughness and transparency are written for a 2θ scan; a
        // time-of-flight bank would need them per wavelength, which they are not.
        if (instrument.absorption != 0.0 || instrument.roughness_p != 0.0 || instrument.transparency != 0.0) {
            fail(PK_ERROR_ARGUMENT,
                 "instrument.absorption, roughness_p and transparency apply to a 2θ axis only: set them to 0 for "
                 "time of flight");
        }
    }
}

ProfilePointer coreProfileOf(const pk_instrument &instrument, const pk_profile *profile, double xMin, double xMax) {
    const bool tof = instrument.axis == PK_AXIS_TOF;
    const int32_t type =
        profile != nullptr ? profile->type : (tof ? PK_PROFILE_TOF_EXP_PSEUDO_VOIGT : PK_PROFILE_PSEUDO_VOIGT);
    ProfilePointer core(
        checked(makeRefinementProfile(tof ? PK_EXPERIMENT_TIME_OF_FLIGHT : PK_EXPERIMENT_CONSTANT_WAVELENGTH,
                                      instrument.radiation, type, instrument.wavelength, xMin, xMax)));
    RefinementProfile *p = core.get();
    p->zero = instrument.zero;
    p->tofTwoTheta = instrument.tof_two_theta;
    p->dtt1 = instrument.dtt1;
    p->dtt2 = instrument.dtt2;
    if (!tof && instrument.wavelength2 > 0.0 && instrument.radiation == PK_RADIATION_XRAY) {
        // The core keeps the ratio as primary over secondary.
        p->secondaryWavelength = instrument.wavelength2;
        p->secondaryIntensityRatio = instrument.ratio2 > 0.0 ? 1.0 / instrument.ratio2 : 0.0;
        p->useSecondaryWavelength = instrument.ratio2 > 0.0 ? 1 : 0;
    }
    if (profile != nullptr) {
        p->U = profile->U;
        p->V = profile->V;
        p->W = profile->W;
        p->LX = profile->X;
        p->LY = profile->Y;
        p->asymmetry = profile->asymmetry;
        p->sigma0 = profile->sigma0;
        p->sigma1 = profile->sigma1;
        p->sigma2 = profile->sigma2;
        p->gamma0 = profile->gamma0;
        p->gamma1 = profile->gamma1;
        p->gamma2 = profile->gamma2;
        p->alpha0 = profile->alpha0;
        p->alpha1 = profile->alpha1;
        p->beta0 = profile->beta0;
        p->beta1 = profile->beta1;
    }
    return core;
}

double flightTime(const pk_instrument &instrument, double difB, double d) {
    return instrument.dtt1 * d + instrument.dtt2 * d * d + difB / d + instrument.zero;
}

double dSpacingOfFlightTime(const pk_instrument &instrument, double difB, double t) {
    const double b = instrument.dtt1, a = instrument.dtt2, c = instrument.zero - t;
    // The rising root of a d² + b d + c = 0, written to keep its digits when a is small.
    const double discriminant = b * b - 4.0 * a * c;
    double d = a == 0.0 ? -c / b : discriminant >= 0.0 ? -2.0 * c / (b + std::sqrt(discriminant)) : 0.0;
    if (difB == 0.0 || !(d > 0.0)) return d;
    const auto slope = [&](double at) { return b + 2.0 * a * at - difB / (at * at); };
    double rising = d;  // the last d where the calibration rises
    for (int step = 0; step < 60; ++step) {
        if (!(slope(d) > 0.0)) {
            // Below the calibration's least time: the d where it turns, by
            // bisection between a falling and a rising d.
            double low = d, high = rising;
            for (int halving = 0; halving < 60; ++halving) {
                const double middle = 0.5 * (low + high);
                (slope(middle) > 0.0 ? high : low) = middle;
            }
            return high;
        }
        rising = d;
        const double next = d - (flightTime(instrument, difB, d) - t) / slope(d);
        const double taken = next > 0.0 ? next : 0.5 * d;  // never at or below d = 0
        if (std::fabs(taken - d) <= 1e-14 * d) return taken;
        d = taken;
    }
    return d;
}

double dSpacingAt(const pk_instrument &instrument, RefinementProfile *profile, double x, double difB) {
    if (instrument.axis == PK_AXIS_TOF) {
        if (difB != 0.0) return dSpacingOfFlightTime(instrument, difB, x * 1000.0);
        return dSpacingForTOFMilliseconds(profile, x);
    }
    // Past 179.9° the limit is taken at 179.9°: d stays above λ/2, where
    // the Bragg angle exists.
    const double theta = std::min(0.5 * (x - instrument.zero), 89.95);
    if (!(theta > 0.0)) fail(PK_ERROR_ARGUMENT, "the 2θ limit lies at or below the zero shift");
    return 0.5 * instrument.wavelength / std::sin(theta * kDegreesToRadians);
}

double peakPositionOf(const pk_instrument &instrument, RefinementProfile *profile, Reflexion *reflexion,
                      double difB) {
    const double x = xForReflexion(profile, reflexion);
    if (instrument.axis == PK_AXIS_TOF) return x + difB / reflexion->dSpacing * 1e-3;
    if (instrument.displacement == 0.0 && instrument.transparency == 0.0) return x;
    const double theta = 0.5 * (x - instrument.zero) * kDegreesToRadians;
    double shifted = x;
    if (instrument.displacement != 0.0) {
        shifted -= 2.0 * instrument.displacement * std::cos(theta) / instrument.radius * kRadiansToDegrees;
    }
    return shifted + transparencyShift(instrument.transparency, instrument.radius, theta);
}

RefinementCrystal marchView(const pk_phase &phase, double ratio, const double axis[3]) {
    if (!(ratio > 0.0) || !std::isfinite(ratio)) fail(PK_ERROR_ARGUMENT, "the March ratio must be positive");
    if (std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]) < 1e-5) {
        fail(PK_ERROR_ARGUMENT, "the March axis is zero");
    }
    RefinementCrystal view = *phase.crystal;
    view.usePreferredOrientation = 1;
    // The core's March r is max(1 − amount, 0.0001) in mode 1.
    view.preferredOrientation = 1.0 - ratio;
    view.preferredOrientationMode = 1;
    view.preferredOrientationAxisType = 1;
    for (int i = 0; i < 3; ++i) view.preferredOrientationAxis[i] = axis[i];
    normalizeMarchEquation(&view);
    return view;
}

}  // namespace powderkit::phase
