/* The design matrix of a constant-wavelength pattern with respect to the
 * parameters a refinement of a hexagonal (or tetragonal) phase refines:
 * scale, a (with b tied to it), c, zero, U, V, W and the background
 * coefficients B0 … B5, built from the library's derivative tables. */
#ifndef EXAMPLES_PATTERN_JACOBIAN_H
#define EXAMPLES_PATTERN_JACOBIAN_H

#include <stdbool.h>

#include "powderkit.h"

enum {
    P_SCALE,
    P_A,
    P_C,
    P_ZERO,
    P_U,
    P_V,
    P_W,
    P_B0,
    BACKGROUND_TERMS = 6,
    PATTERN_PARAMETERS = P_B0 + BACKGROUND_TERMS
};

typedef struct PatternDerivatives {
    HashTable *profileTable, *reflexionTable, *backgroundTable;
    ProfileDerivativeFunction scale, a, b, c, zero, u, v, w;
    ReflexionDerivativeFunction intensityA, intensityB, intensityC;
    BackgroundDerivativeFunction background[BACKGROUND_TERMS];
} PatternDerivatives;

/* Builds the three tables and looks up every function by its key; false when
 * a table cannot be made or lacks a key. */
bool lookUpPatternDerivatives(PatternDerivatives *derivatives, int32_t profileType);

void releasePatternDerivatives(PatternDerivatives *derivatives);

/* jacobian(i, j) = ∂y(x_i)/∂p_j for y = Σ s·I·Φ(x) + background(x), over the
 * same FindReflexionRange windows as the calculated pattern. The reflexions
 * must carry current intensities, Lorentz-polarisation factors and positions.
 * The jacobian has `count` rows and PATTERN_PARAMETERS columns. */
void fillPatternJacobian(const PatternDerivatives *derivatives, RefinementCrystal *crystal,
                         RefinementProfile *profile, const double *x, int32_t count,
                         Matrix *jacobian);

#endif
