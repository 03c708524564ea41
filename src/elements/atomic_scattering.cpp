// The scattering power of one species: the X-ray atomic scattering factor f(s)
// and the coherent neutron scattering length b of a scattering-factor record.
// f is the four-Gaussian (Cromer–Mann) fit of International Tables Volume C,
//   f(s) = a1·exp(−b1·s²) + a2·exp(−b2·s²) + a3·exp(−b3·s²) + a4·exp(−b4·s²) + c,
// with s = sin θ / λ = 1 / (2d) in Å⁻¹; beyond s = 2 Å⁻¹, when the record has
// them, the high-angle logarithmic form of the same tables,
//   ln f = c0 + c1·s + c2·s² + c3·s³.
#include <cmath>

#include "elements/elements.hpp"

extern "C" {

// X-ray scattering factor f (electrons) at the d-spacing d (Å); 0 when the
// record has neither set of coefficients (or is null).
double xrayScatteringFactor(RefinementAtomicScatteringFactor *record, double dSpacing) {
    if (record == nullptr) return 0.0;
    const double s = 0.5 / dSpacing;
    if (s > powderkit::kHighAngleScatteringLimit && record->hasHighAngleCoefficients != 0) {
        const double *c = record->highAngleCoefficients;
        return std::exp(c[0] + c[1] * s + c[2] * (s * s) + c[3] * (s * s * s));
    }
    if (record->hasCromerMannCoefficients != 0) {
        const double *a = record->cromerMannCoefficients;
        const double s2 = s * s;
        return a[0] * std::exp(-a[1] * s2) + a[2] * std::exp(-a[3] * s2) +
               a[4] * std::exp(-a[5] * s2) + a[6] * std::exp(-a[7] * s2) + a[8];
    }
    return 0.0;
}

// Coherent neutron scattering length b in the units of the element table
// (fm); 0 when the record has none (or is null).
double neutronScatteringLength(RefinementAtomicScatteringFactor *record) {
    if (record == nullptr || record->hasNeutronScatteringLength == 0) return 0.0;
    return record->scatteringLength;
}

}  // extern "C"
