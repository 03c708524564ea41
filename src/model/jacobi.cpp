// Eigenvalues and eigenvectors of a real symmetric 3×3 matrix by the cyclic
// Jacobi method with threshold sweeps (Jacobi 1846; in the form of Rutishauser,
// Handbook for Automatic Computation II, 1971): each sweep annihilates the
// three off-diagonal entries in turn with plane rotations, skipping entries
// below a threshold in the first three sweeps and, from the fifth on, entries
// too small to change the diagonal; the diagonal corrections are accumulated
// separately (z) and folded back after each sweep to limit rounding.
#include <cmath>
#include <cstdio>

#include "frame/frame.hpp"
#include "model/model.hpp"

namespace powderkit {

namespace {

constexpr int32_t kOrder = 3;

// The rotation of one pair of entries: x′ = x − s·(y + τ·x), y′ = y + s·(x − τ·y).
inline void rotatePair(double &x, double &y, double s, double tau) {
    const double g = x;
    const double h = y;
    x = g - s * (h + g * tau);
    y = h + s * (g - h * tau);
}

}  // namespace

void jacobi(double a[3][3], double eigenvalues[3], double eigenvectors[3][3],
            int32_t *rotations) {
    double *d = eigenvalues;
    double (*v)[3] = eigenvectors;
    // The work vectors live on the stack: three doubles each, no allocation.
    double b[kOrder];
    double z[kOrder];
    for (int32_t p = 0; p < kOrder; ++p) {
        for (int32_t q = 0; q < kOrder; ++q) v[p][q] = 0.0;
        v[p][p] = 1.0;
        b[p] = d[p] = a[p][p];
        z[p] = 0.0;
    }
    *rotations = 0;
    for (int32_t sweep = 1; sweep <= kJacobiMaximumSweeps; ++sweep) {
        double sm = 0.0;
        for (int32_t p = 0; p < kOrder - 1; ++p) {
            for (int32_t q = p + 1; q < kOrder; ++q) sm += std::fabs(a[p][q]);
        }
        if (sm == 0.0) return;
        const double threshold = sweep < 4 ? 0.2 * sm / (kOrder * kOrder) : 0.0;
        for (int32_t p = 0; p < kOrder - 1; ++p) {
            for (int32_t q = p + 1; q < kOrder; ++q) {
                const double g = 100.0 * std::fabs(a[p][q]);
                if (sweep > 4 && std::fabs(d[p]) + g == std::fabs(d[p]) &&
                    std::fabs(d[q]) + g == std::fabs(d[q])) {
                    a[p][q] = 0.0;
                } else if (std::fabs(a[p][q]) > threshold) {
                    double h = d[q] - d[p];
                    double t;
                    if (std::fabs(h) + g == std::fabs(h)) {
                        t = a[p][q] / h;
                    } else {
                        const double theta = 0.5 * h / a[p][q];
                        t = 1.0 / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                        if (theta < 0.0) t = -t;
                    }
                    const double c = 1.0 / std::sqrt(t * t + 1.0);
                    const double s = t * c;
                    const double tau = s / (1.0 + c);
                    h = t * a[p][q];
                    z[p] -= h;
                    z[q] += h;
                    d[p] -= h;
                    d[q] += h;
                    a[p][q] = 0.0;
                    for (int32_t j = 0; j < p; ++j) rotatePair(a[j][p], a[j][q], s, tau);
                    for (int32_t j = p + 1; j < q; ++j) rotatePair(a[p][j], a[j][q], s, tau);
                    for (int32_t j = q + 1; j < kOrder; ++j) rotatePair(a[p][j], a[q][j], s, tau);
                    for (int32_t j = 0; j < kOrder; ++j) rotatePair(v[j][p], v[j][q], s, tau);
                    ++*rotations;
                }
            }
        }
        for (int32_t p = 0; p < kOrder; ++p) {
            b[p] += z[p];
            d[p] = b[p];
            z[p] = 0.0;
        }
    }
    printToStream(stderr, "Too many iterations in routine jacobi\n");
}

void eigenvaluesOfSymmetricMatrix(const double matrix[9], double eigenvalues[3],
                                  double eigenvectors[9]) {
    double a[3][3];
    double v[3][3];
    for (int32_t i = 0; i < kOrder; ++i) {
        for (int32_t j = 0; j < kOrder; ++j) a[i][j] = matrix[i * kOrder + j];
    }
    int32_t rotations = 0;
    jacobi(a, eigenvalues, v, &rotations);
    for (int32_t i = 0; i < kOrder; ++i) {
        for (int32_t j = 0; j < kOrder; ++j) eigenvectors[i * kOrder + j] = v[i][j];
    }
}

}  // namespace powderkit
