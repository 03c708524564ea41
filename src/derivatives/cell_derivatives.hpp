// Internal interface of the cell-parameter derivatives: how the reciprocal
// cell, the inverse d-spacing d* = 1/d, the d-spacing, the cell volume, the
// Lorentz-polarisation factor, the constant-wavelength peak position and the
// reflexion intensity change with the six cell parameters a, b, c, α, β, γ.
// Every derivative with respect to an angle is per radian of that angle,
// although the crystal stores its angles in degrees. The profile derivatives
// use the d* and 2θ derivatives; the reflexion derivative table files the
// intensity derivatives.
#ifndef POWDERKIT_CELL_DERIVATIVES_HPP
#define POWDERKIT_CELL_DERIVATIVES_HPP

#include "powderkit.h"

namespace powderkit {

// For the reciprocal angle p* opposite the direct angle p of a cell whose
// other two angles are q and r (all in degrees), with
// cos p* = (cos q cos r − cos p)/(sin q sin r): ∂p*/∂p and ∂p*/∂q.
double diffReciprocalAngleWrtOwnAngle(double p, double q, double r);
double diffReciprocalAngleWrtOtherAngle(double p, double q, double r);

// ∂d*/∂a*, ∂d*/∂b*, ∂d*/∂c* of the reflexion, from
// d*² = h²a*² + k²b*² + l²c*² + 2hk a*b* cos γ* + 2hl a*c* cos β* + 2kl b*c* cos α*.
double diffInverseDSpacingWrtAStar(const RefinementCrystal *crystal, const Reflexion *reflexion);
double diffInverseDSpacingWrtBStar(const RefinementCrystal *crystal, const Reflexion *reflexion);
double diffInverseDSpacingWrtCStar(const RefinementCrystal *crystal, const Reflexion *reflexion);

// ∂d*/∂α, ∂d*/∂β, ∂d*/∂γ: the full chain through the three reciprocal edges
// and the three reciprocal angles.
double diffInverseDSpacingWrtAlpha(const RefinementCrystal *crystal, const Reflexion *reflexion);
double diffInverseDSpacingWrtBeta(const RefinementCrystal *crystal, const Reflexion *reflexion);
double diffInverseDSpacingWrtGamma(const RefinementCrystal *crystal, const Reflexion *reflexion);

// ∂d/∂p of the reflexion for each cell parameter: −d² ∂d*/∂p, where an edge
// moves only its own reciprocal edge.
double diffDSpacingWrtCellA(const RefinementCrystal *crystal, const Reflexion *reflexion);
double diffDSpacingWrtCellB(const RefinementCrystal *crystal, const Reflexion *reflexion);
double diffDSpacingWrtCellC(const RefinementCrystal *crystal, const Reflexion *reflexion);
double diffDSpacingWrtCellAlpha(const RefinementCrystal *crystal, const Reflexion *reflexion);
double diffDSpacingWrtCellBeta(const RefinementCrystal *crystal, const Reflexion *reflexion);
double diffDSpacingWrtCellGamma(const RefinementCrystal *crystal, const Reflexion *reflexion);

// ∂V/∂p of the cell volume V = abc sin α* sin β sin γ, Å³ per Å or per radian.
double diffVolumeWrtA(const RefinementCrystal *crystal);
double diffVolumeWrtB(const RefinementCrystal *crystal);
double diffVolumeWrtC(const RefinementCrystal *crystal);
double diffVolumeWrtAlpha(const RefinementCrystal *crystal);
double diffVolumeWrtBeta(const RefinementCrystal *crystal);
double diffVolumeWrtGamma(const RefinementCrystal *crystal);

// ∂(L·P)/∂d of the reflexion's Lorentz-polarisation factor, per Å.
double diffLorentzPolarizationWrtDSpacing(const Reflexion *reflexion,
                                          const RefinementProfile *profile);

// The six cell parameters, in the order the derivative tables list them.
enum class CellParameter { a, b, c, alpha, beta, gamma };
constexpr int kCellParameterCount = 6;

// ∂(2θ)/∂p of a constant-wavelength peak position, in degrees of 2θ per Å or
// per radian of the cell angle. Zero shift and asymmetry do not enter.
double diffTwoThetaWrtCell(CellParameter parameter, RefinementCrystal *crystal,
                           Reflexion *reflexion, RefinementProfile *profile);

// ∂I/∂p of the stored reflexion intensity through the 1/V² of the intensity
// scale and the Lorentz-polarisation factor (scattering and temperature
// factors are taken as fixed). The reflexion's intensity and
// lorentzPolarization must come from an intensity calculation with the same
// crystal and profile. The reflexion derivative table files it under the
// parameter's key.
double diffReflexionIntensityWrtCell(CellParameter parameter, RefinementCrystal *crystal,
                                     Reflexion *reflexion, RefinementProfile *profile);

}  // namespace powderkit

#endif
