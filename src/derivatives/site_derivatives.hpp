// Internal interface of the intensity derivatives by site parameter: the
// weights that turn derivatives of the structure-factor parts A and B into
// derivatives of the intensity, one position's term of ∂A/∂x, and the
// coefficient of a site axis in a coordinate expression.
#ifndef POWDERKIT_SITE_DERIVATIVES_HPP
#define POWDERKIT_SITE_DERIVATIVES_HPP

#include <cstdint>

#include "powderkit.h"

namespace powderkit {

// With I = W (A² + B²): WA = 2 W A and WB = 2 W B, from the A and B, the
// Lorentz-polarisation factor and the flags stored in the reflexion.
double realPartIntensityWeight(RefinementCrystal *crystal, Reflexion *reflexion,
                               RefinementProfile *profile);
double imaginaryPartIntensityWeight(RefinementCrystal *crystal, Reflexion *reflexion,
                                    RefinementProfile *profile);

// For one position and output coordinate i (0, 1, 2): (−sin φ if wantSine,
// else cos φ) × 2π × F × hᵢ with φ = 2π(h·x + k·y + l·z); 0 for any other i.
double diffStructureFactorTermWrtAxis(const Reflexion *reflexion, const RefinementAtom *position,
                                      double scatteringFactor, int32_t outputIndex,
                                      bool wantSine);

// The coefficient (+1, −1 or 0) of site axis 0, 1 or 2 in a coordinate
// expression such as "-y+1/2": the sign written before the expression's
// first variable when that variable is the axis, else 0. A variable with no
// sign before it, a later variable, or no variable at all gives 0.
double coordinateCoefficient(const char *expression, int32_t siteAxis);

}  // namespace powderkit

#endif
