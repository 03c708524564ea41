// The index box of reflexion generation, the two systematic-absence tests
// and the choice of one member of each Friedel pair. Lattice centring
// forbids the planes whose indices break the centring's parity rule; the
// symmetry translations forbid a plane when the structure-factor sum of
// e^{2πi h·t} over the operators vanishes.
#include <cmath>

#include "frame/frame.hpp"
#include "geometry/geometry.hpp"

namespace {

// hᵀ G* h for one axis, the other terms kept with a factor of 0.
double axisQuadraticForm(const double (*gs)[3], double h, double k, double l) {
    return h * h * gs[0][0] + k * k * gs[1][1] + l * l * gs[2][2] + 2.0 * h * k * gs[0][1] +
           2.0 * h * l * gs[0][2] + 2.0 * k * l * gs[1][2];
}

int32_t indexBound(double s, double q) {
    int32_t bound = powderkit::truncateToInt32(std::floor(s / std::sqrt(q)));
    if (bound < 1) bound = 1;
    if (bound > powderkit::kMaxIndexBound) bound = powderkit::kMaxIndexBound;
    return bound;
}

bool isOdd(int32_t value) { return value % 2 != 0; }

}  // namespace

extern "C" {

// hMax = floor(s / a*) and likewise, each clamped to 1 … 32000; returns the
// number of triples in the box less the origin, in 32-bit arithmetic.
int32_t maxNumRefs(RefinementCrystal *crystal, double maxReciprocalLength, int32_t *hMax,
                   int32_t *kMax, int32_t *lMax) {
    using powderkit::addInt32;
    using powderkit::multiplyInt32;
    const double(*gs)[3] = crystal->reciprocalMetricTensor;
    const int32_t h = indexBound(maxReciprocalLength, axisQuadraticForm(gs, 1.0, 0.0, 0.0));
    const int32_t k = indexBound(maxReciprocalLength, axisQuadraticForm(gs, 0.0, 1.0, 0.0));
    const int32_t l = indexBound(maxReciprocalLength, axisQuadraticForm(gs, 0.0, 0.0, 1.0));
    *hMax = h;
    *kMax = k;
    *lMax = l;
    const int32_t box = multiplyInt32(multiplyInt32(addInt32(multiplyInt32(2, l), 1),
                                                    addInt32(multiplyInt32(2, k), 1)),
                                      addInt32(multiplyInt32(2, h), 1));
    return powderkit::subtractInt32(box, 1);
}

// True when the centring letter forbids (h k l). R with β = γ is taken as
// rhombohedral axes (nothing forbidden); otherwise as hexagonal axes in the
// obverse setting, −h + k + l = 3n.
bool latticeAbsence(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    using powderkit::addInt32;
    switch (crystal->latticeType) {
        case 'A': return isOdd(addInt32(k, l));
        case 'B': return isOdd(addInt32(h, l));
        case 'C': return isOdd(addInt32(h, k));
        case 'I': return isOdd(addInt32(addInt32(h, k), l));
        case 'F': {
            const bool allOdd = isOdd(h) && isOdd(k) && isOdd(l);
            const bool allEven = !isOdd(h) && !isOdd(k) && !isOdd(l);
            return !allOdd && !allEven;
        }
        case 'R':
            if (crystal->gamma == crystal->beta) return false;
            return addInt32(powderkit::subtractInt32(k, h), l) % 3 != 0;
        default: return false;
    }
}

// False when Σ cos 2π h·t and Σ sin 2π h·t over the operators' translations
// both vanish. Exact for centring translations only: with screw axes and
// glide planes in the list it also rejects planes that they allow.
bool allowedReflexion(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    int32_t n = crystal->symmetryOperators->count;
    if (n < 2) return true;
    if (n == 2 && crystal->allowAllForTwoOperators != 0) return true;
    if (n > PK_MAX_SYMMETRY_OPERATORS) n = PK_MAX_SYMMETRY_OPERATORS;
    double c = 0.0;
    double s = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double *t = crystal->symmetryTranslations[i];
        const double phase =
            powderkit::kTwoPi * (static_cast<double>(h) * t[0] + static_cast<double>(k) * t[1] +
                                 static_cast<double>(l) * t[2]);
        c += std::cos(phase);
        s += std::sin(phase);
    }
    const double tolerance = powderkit::zeroTolerance();
    return !(std::fabs(c) < tolerance && std::fabs(s) < tolerance);
}

// The first non-zero index of l, k, h decides: negative means skip.
bool ignoreReflexionWithIndices(const int32_t *hkl) {
    for (int i = 2; i >= 0; --i) {
        if (hkl[i] != 0) return hkl[i] < 0;
    }
    return false;
}

// Larger d-spacing first; NaN compares equal to everything.
int32_t compareRefGenRecByDSpacing(const void *a, const void *b) {
    const double da = static_cast<const RefGenRec *>(a)->dSpacing;
    const double db = static_cast<const RefGenRec *>(b)->dSpacing;
    if (da > db) return -1;
    if (da < db) return 1;
    return 0;
}

}  // extern "C"
