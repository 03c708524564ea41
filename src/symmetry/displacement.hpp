// Internal interface of the displacement parameters: the temperature factor of
// a displacement record (its method slot 2) and the eigen-decomposition of a
// symmetric 3×3 tensor by cyclic Jacobi rotations.
#ifndef POWDERKIT_DISPLACEMENT_HPP
#define POWDERKIT_DISPLACEMENT_HPP

#include <cstdint>

#include "powderkit.h"

namespace powderkit {

// 8π² and 2π², written once with the digits the temperature factors use.
constexpr double kEightPiSquared = 78.95683520871486;
constexpr double kTwoPiSquared = 19.739208802178716;

// Sweeps of the Jacobi method before it gives up.
constexpr int32_t kJacobiMaximumSweeps = 50;

// Debye–Waller factor of the reflexion (h, k, l) with d-spacing d (Å) for the
// reciprocal cell lengths a*, b*, c* (Å⁻¹): isotropic from uIso, or
// anisotropic from the upper triangle of u.
double temperatureFactor(RefinementThermalEllipsoidUij *record, int32_t h, int32_t k, int32_t l,
                         double dSpacing, double aStar, double bStar, double cStar);

// Cyclic Jacobi decomposition of the symmetric matrix `a`, which it destroys
// above the diagonal. The eigenvalues are left in `eigenvalues` in the order
// of the diagonal positions they converged in (not sorted); the eigenvectors
// are the columns of `eigenvectors`; `rotations` counts the rotations made.
// After kJacobiMaximumSweeps sweeps without convergence it prints a message
// and leaves the partial result.
void jacobi(double a[3][3], double eigenvalues[3], double eigenvectors[3][3],
            int32_t *rotations);

// Eigenvalues and eigenvectors (columns of the row-major `eigenvectors`) of
// the symmetric matrix `matrix` (nine doubles, row-major), which is not
// changed.
void eigenvaluesOfSymmetricMatrix(const double matrix[9], double eigenvalues[3],
                                  double eigenvectors[9]);

}  // namespace powderkit

#endif
