// The derivative members of the Gaussian shape (profile type 0), one per key
// of its table: the Caglioti terms through ∂Φ/∂H_G with
// ∂H_G/∂U = t²/(2 H_G), ∂H_G/∂V = t/(2 H_G), ∂H_G/∂W = 1/(2 H_G); the zero
// shift and the cell through dΦ/d2θ₀; the scale; and the Rietveld asymmetry
// parameter, which the Gaussian always applies below the cut-off.
#include <cmath>

#include "derivatives/cell_derivatives.hpp"
#include "derivatives/profile_derivatives.hpp"

namespace powderkit {
namespace {

// ∂Φ/∂H_G × ∂H_G/∂(Caglioti term), the term's rate being t^power / (2 H_G).
double cagliotiMember(double x, Reflexion *reflexion, RefinementProfile *profile, int power) {
    const double twoTheta = reflexion->peakPosition;
    const double t = std::tan(braggAngle(twoTheta));
    const double hG = gaussianFwhm(profile, twoTheta);
    const double widthRate = diffGaussianProfileWrtFwhm(x, reflexion, profile);
    switch (power) {
        case 2:
            return widthRate * (t * t) * 0.5 / hG;
        case 1:
            return widthRate * t * 0.5 / hG;
        default:
            return widthRate * 0.5 / hG;
    }
}

}  // namespace

double DiffGaussianProfileWrtGU(double x, RefinementCrystal *, Reflexion *reflexion,
                                RefinementProfile *profile) {
    return cagliotiMember(x, reflexion, profile, 2);
}

double DiffGaussianProfileWrtGV(double x, RefinementCrystal *, Reflexion *reflexion,
                                RefinementProfile *profile) {
    return cagliotiMember(x, reflexion, profile, 1);
}

double DiffGaussianProfileWrtGW(double x, RefinementCrystal *, Reflexion *reflexion,
                                RefinementProfile *profile) {
    return cagliotiMember(x, reflexion, profile, 0);
}

double DiffGaussianProfileWrtZero(double x, RefinementCrystal *, Reflexion *reflexion,
                                  RefinementProfile *profile) {
    return diffGaussianProfileWrtPosition(x, reflexion, profile);
}

double DiffGaussianProfileWrtCellA(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                   RefinementProfile *profile) {
    return diffGaussianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellA(crystal, reflexion, profile);
}

double DiffGaussianProfileWrtCellB(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                   RefinementProfile *profile) {
    return diffGaussianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellB(crystal, reflexion, profile);
}

double DiffGaussianProfileWrtCellC(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                   RefinementProfile *profile) {
    return diffGaussianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellC(crystal, reflexion, profile);
}

double DiffGaussianProfileWrtCellAlpha(double x, RefinementCrystal *crystal,
                                       Reflexion *reflexion, RefinementProfile *profile) {
    return diffGaussianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellAlpha(crystal, reflexion, profile);
}

double DiffGaussianProfileWrtCellBeta(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                      RefinementProfile *profile) {
    return diffGaussianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellBeta(crystal, reflexion, profile);
}

double DiffGaussianProfileWrtCellGamma(double x, RefinementCrystal *crystal,
                                       Reflexion *reflexion, RefinementProfile *profile) {
    return diffGaussianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellGamma(crystal, reflexion, profile);
}

double DiffGaussianProfileWrtScale(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                   RefinementProfile *profile) {
    return gaussianProfile(x, reflexion, profile) / crystal->scale;
}

// ∂(G × (1 − P |Δ| Δ / t))/∂P = −(|Δ| Δ / t) G, whatever the sign of P.
double DiffGaussianProfileWrtAsymmetry(double x, RefinementCrystal *, Reflexion *reflexion,
                                       RefinementProfile *profile) {
    const double twoTheta = reflexion->peakPosition;
    if (!isBelowAsymmetryCutoff(twoTheta)) return 0.0;
    const double delta = x - twoTheta;
    const double t = std::tan(braggAngle(twoTheta));
    return -(std::fabs(delta) * delta / t) * unitGaussian(delta, gaussianFwhm(profile, twoTheta));
}

}  // namespace powderkit
