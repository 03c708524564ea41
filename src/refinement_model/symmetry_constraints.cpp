// What symmetry leaves free. The metric tensor G of a cell is invariant under
// every rotation of its group, Rᵀ G R = G; averaging any metric over the
// group gives an invariant one, so the cell quantities that are equal (or
// constant) in every averaged metric are tied (or fixed) by symmetry. A site
// moves only within the space its site-symmetry group leaves fixed, the range
// of the projector P = (1/m) Σ R over that group.
#include <cmath>

#include "refinement_model/symmetry_constraints.hpp"

namespace powderkit::refinement {

namespace {

using Matrix3 = std::array<std::array<double, 3>, 3>;

constexpr double kPi = 3.14159265358979323846;
// Site symmetry: an operator fixes a site when it maps it within this
// distance (fractional) of a lattice translate of itself.
constexpr double kSiteTolerance = 1e-3;

Matrix3 rotationOf(const phase::SymmetryOperation &operation) {
    Matrix3 r{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) r[i][j] = operation.rotation[static_cast<std::size_t>(3 * i + j)];
    }
    return r;
}

// (1/n) Σ Rᵀ M R over the operators.
Matrix3 averagedMetric(const phase::Symmetry &symmetry, const Matrix3 &m) {
    Matrix3 sum{};
    for (const auto &operation : symmetry.operations) {
        const Matrix3 r = rotationOf(operation);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                for (int k = 0; k < 3; ++k) {
                    for (int l = 0; l < 3; ++l) sum[i][j] += r[k][i] * m[k][l] * r[l][j];
                }
            }
        }
    }
    const double n = static_cast<double>(symmetry.operations.size());
    for (auto &row : sum) {
        for (double &value : row) value /= n;
    }
    return sum;
}

// a b c α β γ (degrees) of a metric tensor.
std::array<double, 6> cellOfMetric(const Matrix3 &g) {
    const double a = std::sqrt(g[0][0]);
    const double b = std::sqrt(g[1][1]);
    const double c = std::sqrt(g[2][2]);
    const double degrees = 180.0 / kPi;
    return {a,
            b,
            c,
            std::acos(g[1][2] / (b * c)) * degrees,
            std::acos(g[0][2] / (a * c)) * degrees,
            std::acos(g[0][1] / (a * b)) * degrees};
}

bool same(double first, double second) { return std::fabs(first - second) < 1e-9 * (1.0 + std::fabs(first)); }

}  // namespace

CellSymmetry cellSymmetry(const phase::Symmetry &symmetry) {
    // Two unrelated metrics, each the identity plus a different off-diagonal mix.
    const Matrix3 first{{{1.3, 0.11, 0.07}, {0.11, 1.7, 0.05}, {0.07, 0.05, 2.3}}};
    const Matrix3 second{{{2.1, -0.13, 0.17}, {-0.13, 1.1, 0.19}, {0.17, 0.19, 1.9}}};
    const auto p = cellOfMetric(averagedMetric(symmetry, first));
    const auto q = cellOfMetric(averagedMetric(symmetry, second));
    CellSymmetry result;
    for (int k = 0; k < 6; ++k) {
        result.leader[static_cast<std::size_t>(k)] = k;
        const bool angle = k >= 3;
        if (angle && same(p[static_cast<std::size_t>(k)], q[static_cast<std::size_t>(k)])) {
            result.leader[static_cast<std::size_t>(k)] = -1;
            result.fixedValue[static_cast<std::size_t>(k)] = p[static_cast<std::size_t>(k)];
            continue;
        }
        for (int j = angle ? 3 : 0; j < k; ++j) {
            const auto uj = static_cast<std::size_t>(j);
            const auto uk = static_cast<std::size_t>(k);
            if (result.leader[uj] == j && same(p[uk], p[uj]) && same(q[uk], q[uj])) {
                result.leader[uk] = j;
                break;
            }
        }
    }
    return result;
}

SiteSymmetry siteSymmetry(const phase::Symmetry &symmetry, const std::array<double, 3> &position) {
    Matrix3 projector{};
    std::array<double, 3> mean{};
    int members = 0;
    for (const auto &operation : symmetry.operations) {
        const Matrix3 r = rotationOf(operation);
        std::array<double, 3> image{};
        bool fixes = true;
        for (int i = 0; i < 3; ++i) {
            const auto ui = static_cast<std::size_t>(i);
            image[ui] = operation.translation[ui];
            for (int j = 0; j < 3; ++j) image[ui] += r[i][j] * position[static_cast<std::size_t>(j)];
            image[ui] -= std::round(image[ui] - position[ui]);
            if (std::fabs(image[ui] - position[ui]) > kSiteTolerance) fixes = false;
        }
        if (!fixes) continue;
        ++members;
        for (int i = 0; i < 3; ++i) {
            mean[static_cast<std::size_t>(i)] += image[static_cast<std::size_t>(i)];
            for (int j = 0; j < 3; ++j) projector[i][j] += r[i][j];
        }
    }
    SiteSymmetry result;
    for (int i = 0; i < 3; ++i) {
        result.anchor[static_cast<std::size_t>(i)] = mean[static_cast<std::size_t>(i)] / members;
        for (int j = 0; j < 3; ++j) projector[i][j] /= members;
    }
    // The rows of Pᵀ (the columns of P) span the allowed space; reduced to
    // row-echelon form, each pivot row moves its own coordinate by one and no
    // other pivot coordinate.
    Matrix3 rows{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) rows[i][j] = projector[j][i];
    }
    int rank = 0;
    for (int column = 0; column < 3 && rank < 3; ++column) {
        int pivot = rank;
        for (int i = rank + 1; i < 3; ++i) {
            if (std::fabs(rows[i][column]) > std::fabs(rows[pivot][column])) pivot = i;
        }
        if (std::fabs(rows[pivot][column]) < 1e-8) continue;
        std::swap(rows[pivot], rows[rank]);
        const double lead = rows[rank][column];
        for (double &value : rows[rank]) value /= lead;
        for (int i = 0; i < 3; ++i) {
            if (i == rank) continue;
            const double factor = rows[i][column];
            for (int j = 0; j < 3; ++j) rows[i][j] -= factor * rows[rank][j];
        }
        result.free[static_cast<std::size_t>(column)] = true;
        result.direction[static_cast<std::size_t>(column)] = rows[rank];
        ++rank;
    }
    return result;
}

}  // namespace powderkit::refinement
