// Vector operations on a metric tensor M. The metric cross product
// (M·v × M·u) / √det M is the cross product of the two vectors' duals; summed
// over the unit vectors it gives √det M · M⁻¹ · x, which carries plane
// indices into direct-lattice components (M = G) and back (M = G*) without
// an explicit inverse.
#include <cmath>

#include "geometry/geometry.hpp"

namespace powderkit {
namespace {

double determinant(const double (*m)[3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

Vector3 cross(const Vector3 &a, const Vector3 &b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

}  // namespace

Vector3 matrixTimesVector(const double (*m)[3], const Vector3 &x) {
    return {m[0][0] * x[0] + m[0][1] * x[1] + m[0][2] * x[2],
            m[1][0] * x[0] + m[1][1] * x[1] + m[1][2] * x[2],
            m[2][0] * x[0] + m[2][1] * x[1] + m[2][2] * x[2]};
}

Vector3 metricCrossProduct(const Vector3 &u, const Vector3 &v, const double (*m)[3]) {
    const Vector3 product = cross(matrixTimesVector(m, v), matrixTimesVector(m, u));
    const double root = std::sqrt(determinant(m));
    return {product[0] / root, product[1] / root, product[2] / root};
}

Vector3 convertWithMetric(const Vector3 &x, const double (*m)[3]) {
    const Vector3 e1 = {1.0, 0.0, 0.0};
    const Vector3 e2 = {0.0, 1.0, 0.0};
    const Vector3 e3 = {0.0, 0.0, 1.0};
    const Vector3 a = metricCrossProduct(e2, e3, m);
    const Vector3 b = metricCrossProduct(e3, e1, m);
    const Vector3 c = metricCrossProduct(e1, e2, m);
    Vector3 result;
    for (int i = 0; i < 3; ++i) result[i] = x[0] * a[i] + x[1] * b[i] + x[2] * c[i];
    const double dot = result[0] * x[0] + result[1] * x[1] + result[2] * x[2];
    if (dot < 0.0) {
        for (double &component : result) component = -component;
    }
    return result;
}

Vector3 indicesToVector(int32_t h, int32_t k, int32_t l, const double (*m)[3]) {
    return convertWithMetric({static_cast<double>(h), static_cast<double>(k), static_cast<double>(l)},
                             m);
}

}  // namespace powderkit
