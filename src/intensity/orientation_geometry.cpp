// Angles between directions of a crystal in its own metric, for the March
// correction: unit vectors in a metric, the orthonormal frame of a metric,
// and the inverse of a 3×3 matrix by cofactors.
#include <cmath>

#include "frame/frame.hpp"
#include "geometry/geometry.hpp"
#include "intensity/intensity.hpp"

namespace powderkit {

using Vector = std::array<double, 3>;

namespace {
double dot(const Vector &p, const Vector &q) { return p[0] * q[0] + p[1] * q[1] + p[2] * q[2]; }
}  // namespace

Vector unitVectorInMetric(const Vector &x, const double (*m)[3]) {
    const double length = std::sqrt(dot(x, matrixTimesVector(m, x)));
    return {x[0] / length, x[1] / length, x[2] / length};
}

bool invertMatrix3(const Matrix3 &a, Matrix3 &inverse) {
    const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const double determinant = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    if (!(std::fabs(determinant) > 0.0)) {
        printToStream(stderr, "Sorry, an illegal operation occurred: singular matrix\n");
        return false;
    }
    inverse[0][0] = c00 / determinant;
    inverse[1][0] = c01 / determinant;
    inverse[2][0] = c02 / determinant;
    inverse[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / determinant;
    inverse[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / determinant;
    inverse[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / determinant;
    inverse[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / determinant;
    inverse[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / determinant;
    inverse[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / determinant;
    return true;
}

// Columns e_b, e_a, e_c: e_c along −c, e_a perpendicular to it, e_b their
// metric cross product; the frame matrix is the inverse of that basis.
bool cartesianFrameMatrix(const double (*m)[3], Matrix3 &frame) {
    const Vector ec = unitVectorInMetric({0.0, 0.0, -1.0}, m);
    const Vector y = matrixTimesVector(m, ec);
    const Vector u = std::fabs(y[0]) > 1e-5 ? Vector{-y[1], y[0], 0.0} : Vector{0.0, y[2], -y[1]};
    const Vector ea = unitVectorInMetric(u, m);
    const Vector eb = metricCrossProduct(ec, ea, m);
    Matrix3 basis;
    for (int i = 0; i < 3; ++i) {
        basis[static_cast<size_t>(i)] = {eb[static_cast<size_t>(i)], ea[static_cast<size_t>(i)],
                                          ec[static_cast<size_t>(i)]};
    }
    return invertMatrix3(basis, frame);
}

double angleBetweenVectors(const Vector &p, const Vector &q) {
    const double lengthP = std::sqrt(dot(p, p));
    const double lengthQ = std::sqrt(dot(q, q));
    if (!(lengthP > 0.0) || !(lengthQ > 0.0)) return kUndefinedAngle;
    const double cosine = dot(p, q) / (lengthP * lengthQ);
    if (cosine <= -1.0) return 180.0;
    if (cosine >= 1.0) return 0.0;
    return std::acos(cosine) * kRadiansToDegrees;
}

// A singular frame (only an invalid metric leads there) gives the undefined
// angle −999.9, like a zero vector.
double angleInMetric(const Vector &p, const Vector &q, const double (*m)[3]) {
    Matrix3 frame;
    if (!cartesianFrameMatrix(m, frame)) return kUndefinedAngle;
    Vector cp{}, cq{};
    for (size_t i = 0; i < 3; ++i) {
        cp[i] = frame[i][0] * p[0] + frame[i][1] * p[1] + frame[i][2] * p[2];
        cq[i] = frame[i][0] * q[0] + frame[i][1] * q[1] + frame[i][2] * q[2];
    }
    return angleBetweenVectors(cp, cq);
}

}  // namespace powderkit
