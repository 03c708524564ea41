// Internal interface of the geometry folder: the constants of the cell,
// axis and reflexion-generation code, and the small vector operations on
// metric tensors that the preferred-orientation code reuses.
#ifndef POWDERKIT_GEOMETRY_HPP
#define POWDERKIT_GEOMETRY_HPP

#include <array>

#include "powderkit.h"

namespace powderkit {

// Smallest d worth generating on a 2θ axis is λ/2 raised by this (Å); on
// any other axis it is kMinDSpacingOtherAxis.
constexpr double kMinDSpacingRaise = 0.00001;
constexpr double kMinDSpacingOtherAxis = 0.1;

// Time of flight: microseconds to milliseconds and back.
constexpr double kMicrosecondsToMilliseconds = 0.001;
constexpr double kMillisecondsToMicroseconds = 1000.0;

// Index bounds of the generation box.
constexpr int32_t kMaxIndexBound = 32000;

// Largest distance of a converted index from its rounded integer (the
// single-precision value of 1e-6).
constexpr double kIndexRoundingTolerance = 9.999999974752427e-7;
// Planes whose d-spacings differ by less than this are equivalent.
constexpr double kEquivalentDSpacingTolerance = 0.00011;
// Room of the working list of symmetry-related planes: the largest number of
// distinct images under a crystallographic point group.
constexpr int32_t kMaxRelatedPlanes = 48;

using Vector3 = std::array<double, 3>;

// M·x for a row-major 3×3 matrix.
Vector3 matrixTimesVector(const double (*m)[3], const Vector3 &x);

// (M·v × M·u) / √det M, det M by cofactor expansion along the first row.
Vector3 metricCrossProduct(const Vector3 &u, const Vector3 &v, const double (*m)[3]);

// x0·A + x1·B + x2·C with A, B, C the metric cross products of the unit
// vectors (e2,e3), (e3,e1), (e1,e2); negated when it points away from x.
// For a positive-definite M this is √det M · M⁻¹ · x.
Vector3 convertWithMetric(const Vector3 &x, const double (*m)[3]);

// convertWithMetric of (h, k, l): with G, the plane normal V·G*·h in direct
// components; with G*, direct components back into plane indices.
Vector3 indicesToVector(int32_t h, int32_t k, int32_t l, const double (*m)[3]);

}  // namespace powderkit

#endif
