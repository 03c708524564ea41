// Internal interface of the intensity folder: the geometric operations of the
// March correction, shared with the site derivatives.
#ifndef POWDERKIT_INTENSITY_HPP
#define POWDERKIT_INTENSITY_HPP

#include <array>

#include "powderkit.h"

namespace powderkit {

using Matrix3 = std::array<std::array<double, 3>, 3>;

// The value −999.9 that angleBetweenVectors gives for a zero vector.
constexpr double kUndefinedAngle = -999.9;

// x / √(x·(M·x)): x scaled to unit length in the metric M.
std::array<double, 3> unitVectorInMetric(const std::array<double, 3> &x, const double (*m)[3]);

// Inverse by cofactors over the determinant (expanded along the first row);
// false, with a message on standard error, when |det| is not above 0.
bool invertMatrix3(const Matrix3 &matrix, Matrix3 &inverse);

// The matrix turning direct-lattice components into orthonormal Cartesian
// ones for the metric M; false when the frame is singular.
bool cartesianFrameMatrix(const double (*m)[3], Matrix3 &frame);

// Angle between two Cartesian vectors in degrees; −999.9 for a zero vector.
double angleBetweenVectors(const std::array<double, 3> &p, const std::array<double, 3> &q);

// Angle in degrees between two direct-lattice vectors in the metric M.
double angleInMetric(const std::array<double, 3> &p, const std::array<double, 3> &q,
                     const double (*m)[3]);

// The Lorentz-polarisation factor at 2θ of d for wavelength λ: θ = asin(λ/2d)
// (π/2 beyond the last angle, then `outOfBounds` is set), L = 1/(sin 2θ·sin θ),
// P = (1 + cos² 2θ)/2 unless `neutrons`.
double constantWavelengthLorentzPolarization(double wavelength, double dSpacing, bool neutrons,
                                             bool *outOfBounds);

}  // namespace powderkit

#endif
