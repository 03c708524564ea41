// Internal interface of the symmetry folder shared with the rest of the
// library: the operator arithmetic behind the operator's method table, the
// folding of fractional coordinates into the cell and the coincidence test
// for positions and plane normals.
#ifndef POWDERKIT_SYMMETRY_HPP
#define POWDERKIT_SYMMETRY_HPP

#include "powderkit.h"

namespace powderkit {

// Generated positions (or rotated plane normals) closer than this in every
// component are one.
constexpr double kCoincidenceTolerance = 0.00011;
// Folded coordinates within this of either cell face become 0.
constexpr double kCellFaceMargin = 0.00001;
constexpr double kCellFaceUpper = 0.99999;

// out = R·v (operator slot 1). out may be v. Returns out.
double *rotateVector(double *out, const RefinementSymmetryOperator *op, const double *v);

// out = R·v + t (operator slot 2). out may be v. Returns out.
double *transformVector(double *out, const RefinementSymmetryOperator *op, const double *v);

// One fractional coordinate folded into the cell: the result is exactly 0
// or lies in [1e-5, 0.99999]; values within 1e-5 of either face give 0.
double reducedFractionalCoordinate(double u);

// True when every component of p and q differs by less than `tolerance`
// (strictly); no lattice translation is applied.
bool positionsCoincide(const double *p, const double *q, double tolerance);

}  // namespace powderkit

#endif
