// The two computing methods of a displacement record. The temperature
// (Debye–Waller) factor of a reflexion is
//   isotropic:   T = exp(−8π²·Uiso·(sin θ/λ)²) = exp(−(8π²·Uiso)·0.25 / d²),
//   anisotropic: T = exp(−2π²·(U11·a*²·h² + U22·b*²·k² + U33·c*²·l²
//                        + 2·U12·a*·b*·h·k + 2·U23·b*·c*·k·l + 2·U13·a*·c*·h·l)),
// with U in Å² on the crystal axes (Trueblood et al., Acta Cryst. A52 (1996)
// 770). The equivalent isotropic U is a third of the trace of U, taken here as
// the mean of its eigenvalues from the Jacobi decomposition.
#include <cmath>

#include "model/model.hpp"

namespace powderkit {

// Only the upper triangle of u enters: U is taken to be symmetric. A null
// record has no factor to give and yields 0.
double temperatureFactor(RefinementThermalEllipsoidUij *record, int32_t h, int32_t k, int32_t l,
                         double dSpacing, double aStar, double bStar, double cStar) {
    if (record == nullptr) return 0.0;
    if (record->isAnisotropic == 0) {
        return std::exp(-(kEightPiSquared * record->uIso) * 0.25 / (dSpacing * dSpacing));
    }
    const double (*u)[3] = record->u;
    const double hh = static_cast<double>(h);
    const double kk = static_cast<double>(k);
    const double ll = static_cast<double>(l);
    const double exponent = kTwoPiSquared * u[1][1] * (bStar * bStar) * (kk * kk) +
                            kTwoPiSquared * u[0][0] * (aStar * aStar) * (hh * hh) +
                            kTwoPiSquared * u[2][2] * (cStar * cStar) * (ll * ll) +
                            2.0 * (kTwoPiSquared * aStar * bStar * u[0][1]) * hh * kk +
                            2.0 * (kTwoPiSquared * bStar * cStar * u[1][2]) * kk * ll +
                            2.0 * (kTwoPiSquared * aStar * cStar * u[0][2]) * hh * ll;
    return std::exp(-exponent);
}

}  // namespace powderkit

extern "C" {

// Mean of the three eigenvalues of u (Å²), whatever isAnisotropic says; uIso
// is not read. 0 for a null record.
double uIsoEquivalent(RefinementThermalEllipsoidUij *record) {
    if (record == nullptr) return 0.0;
    double matrix[9];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) matrix[i * 3 + j] = record->u[i][j];
    }
    double eigenvalues[3];
    double eigenvectors[9];
    powderkit::eigenvaluesOfSymmetricMatrix(matrix, eigenvalues, eigenvectors);
    return (eigenvalues[0] + eigenvalues[1] + eigenvalues[2]) / 3.0;
}

}  // extern "C"
