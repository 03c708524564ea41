// The derivative members of the Lorentzian shape (profile type 1), one per key
// of its table: LX and LY through ∂Φ/∂H_L with ∂H_L/∂LX = 1/cos θ₀ and
// ∂H_L/∂LY = tan θ₀; the zero shift and the cell through dΦ/d2θ₀; the scale;
// and the asymmetry parameter, which moves the shifted points of the
// five-point average and so is 0 whenever the shape is evaluated symmetric.
#include <cmath>

#include "derivatives/cell_derivatives.hpp"
#include "derivatives/profile_derivatives.hpp"

namespace powderkit {

double DiffLorentzianProfileWrtLX(double x, RefinementCrystal *, Reflexion *reflexion,
                                  RefinementProfile *profile) {
    const double theta = braggAngle(reflexion->peakPosition);
    return diffLorentzianProfileWrtFwhm(x, reflexion, profile) / std::cos(theta);
}

double DiffLorentzianProfileWrtLY(double x, RefinementCrystal *, Reflexion *reflexion,
                                  RefinementProfile *profile) {
    const double theta = braggAngle(reflexion->peakPosition);
    return diffLorentzianProfileWrtFwhm(x, reflexion, profile) * std::tan(theta);
}

double DiffLorentzianProfileWrtZero(double x, RefinementCrystal *, Reflexion *reflexion,
                                    RefinementProfile *profile) {
    return diffLorentzianProfileWrtPosition(x, reflexion, profile);
}

double DiffLorentzianProfileWrtCellA(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                     RefinementProfile *profile) {
    return diffLorentzianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellA(crystal, reflexion, profile);
}

double DiffLorentzianProfileWrtCellB(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                     RefinementProfile *profile) {
    return diffLorentzianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellB(crystal, reflexion, profile);
}

double DiffLorentzianProfileWrtCellC(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                     RefinementProfile *profile) {
    return diffLorentzianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellC(crystal, reflexion, profile);
}

double DiffLorentzianProfileWrtCellAlpha(double x, RefinementCrystal *crystal,
                                         Reflexion *reflexion, RefinementProfile *profile) {
    return diffLorentzianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellAlpha(crystal, reflexion, profile);
}

double DiffLorentzianProfileWrtCellBeta(double x, RefinementCrystal *crystal,
                                        Reflexion *reflexion, RefinementProfile *profile) {
    return diffLorentzianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellBeta(crystal, reflexion, profile);
}

double DiffLorentzianProfileWrtCellGamma(double x, RefinementCrystal *crystal,
                                         Reflexion *reflexion, RefinementProfile *profile) {
    return diffLorentzianProfileWrtPosition(x, reflexion, profile) *
           diffTwoThetaWrtCellGamma(crystal, reflexion, profile);
}

double DiffLorentzianProfileWrtScale(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                                     RefinementProfile *profile) {
    return lorentzianProfile(x, reflexion, profile) / crystal->scale;
}

double DiffLorentzianProfileWrtAsymmetry(double x, RefinementCrystal *, Reflexion *reflexion,
                                         RefinementProfile *profile) {
    const double twoTheta = reflexion->peakPosition;
    if (!usesAsymmetryAverage(profile->asymmetry, twoTheta)) return 0.0;
    const double hL = lorentzianFwhm(profile, twoTheta);
    const auto centreRate = [&](double position) {
        return diffLorentzianWrtCentre(position, twoTheta, hL);
    };
    return diffAsymmetryAverageWrtAsymmetry(centreRate, x, profile->asymmetry,
                                            asymmetryShifts(twoTheta));
}

}  // namespace powderkit
