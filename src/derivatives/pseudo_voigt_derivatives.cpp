// The derivative members of the pseudo-Voigt shape (profile type 2), one per
// key of its table: LX and LY through ∂Φ/∂H_L, the Caglioti terms through
// ∂Φ/∂H_G (each width reaching the shape through the Thompson–Cox–Hastings
// total width and mixing), the zero shift and the cell through dΦ/d2θ₀, the
// scale, and the asymmetry parameter of the five-point average.
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
    const double widthRate = diffPseudoVoigtWrtGaussianFwhm(x, reflexion, profile);
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

double DiffPseudoVoigtProfileWrtLX(double x, RefinementCrystal *, Reflexion *reflexion,
                                   RefinementProfile *profile) {
    const double theta = braggAngle(reflexion->peakPosition);
    return diffPseudoVoigtWrtLorentzianFwhm(x, reflexion, profile) / std::cos(theta);
}

double DiffPseudoVoigtProfileWrtLY(double x, RefinementCrystal *, Reflexion *reflexion,
                                   RefinementProfile *profile) {
    const double theta = braggAngle(reflexion->peakPosition);
    return diffPseudoVoigtWrtLorentzianFwhm(x, reflexion, profile) * std::tan(theta);
}

double DiffPseudoVoigtProfileWrtGU(double x, RefinementCrystal *, Reflexion *reflexion,
                                   RefinementProfile *profile) {
    return cagliotiMember(x, reflexion, profile, 2);
}

double DiffPseudoVoigtProfileWrtGV(double x, RefinementCrystal *, Reflexion *reflexion,
                                   RefinementProfile *profile) {
    return cagliotiMember(x, reflexion, profile, 1);
}

double DiffPseudoVoigtProfileWrtGW(double x, RefinementCrystal *, Reflexion *reflexion,
                                   RefinementProfile *profile) {
    return cagliotiMember(x, reflexion, profile, 0);
}

double DiffPseudoVoigtProfileWrtZero(double x, RefinementCrystal *, Reflexion *reflexion,
                                     RefinementProfile *profile) {
    return diffPseudoVoigtWrtPosition(x, reflexion, profile);
}

double DiffPseudoVoigtProfileWrtCellA(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                      RefinementProfile *profile) {
    return diffPseudoVoigtWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellA(crystal, reflexion, profile);
}

double DiffPseudoVoigtProfileWrtCellB(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                      RefinementProfile *profile) {
    return diffPseudoVoigtWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellB(crystal, reflexion, profile);
}

double DiffPseudoVoigtProfileWrtCellC(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                      RefinementProfile *profile) {
    return diffPseudoVoigtWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellC(crystal, reflexion, profile);
}

double DiffPseudoVoigtProfileWrtCellAlpha(double x, RefinementCrystal *crystal,
                                          Reflexion *reflexion, RefinementProfile *profile) {
    return diffPseudoVoigtWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellAlpha(crystal, reflexion, profile);
}

double DiffPseudoVoigtProfileWrtCellBeta(double x, RefinementCrystal *crystal,
                                         Reflexion *reflexion, RefinementProfile *profile) {
    return diffPseudoVoigtWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellBeta(crystal, reflexion, profile);
}

double DiffPseudoVoigtProfileWrtCellGamma(double x, RefinementCrystal *crystal,
                                          Reflexion *reflexion, RefinementProfile *profile) {
    return diffPseudoVoigtWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellGamma(crystal, reflexion, profile);
}

double DiffPseudoVoigtProfileWrtScale(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                      RefinementProfile *profile) {
    return pseudoVoigtProfile(x, reflexion, profile) / crystal->scale;
}

double DiffPseudoVoigtProfileWrtAsymmetry(double x, RefinementCrystal *, Reflexion *reflexion,
                                          RefinementProfile *profile) {
    const double twoTheta = reflexion->peakPosition;
    if (!usesAsymmetryAverage(profile->asymmetry, twoTheta)) return 0.0;
    PseudoVoigtWidths widths;
    pseudoVoigtWidths(reflexion, profile, &widths);
    const double h = widths.fwhm;
    const double eta = widths.eta;
    const auto centreRate = [&](double position) {
        return (1.0 - eta) * diffGaussianWrtCentre(position, twoTheta, h) +
               eta * diffLorentzianWrtCentre(position, twoTheta, h);
    };
    return diffAsymmetryAverageWrtAsymmetry(centreRate, x, profile->asymmetry,
                                            asymmetryShifts(twoTheta));
}

}  // namespace powderkit
