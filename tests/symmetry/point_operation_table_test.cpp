// The table of point operations against the condition a site symmetry puts on
// its displacement tensor, worked out here independently: U = R U Rᵀ, with R
// acting on fractional coordinates. Each row's codes can say "free", "zero",
// "equal" and "half of", but not "equal and opposite": where the condition
// ties two components with opposite signs (U13 = −U23 for x,y swapped and z
// reversed), the table sets both to zero. So for each row the tensors its
// codes allow must all satisfy the condition, and must be exactly the
// solutions of the condition with every such opposite-sign pair set to zero
// (the same dimension). Three rows deviate, as the table is defined: the rows
// of R and of −R should impose the same condition, and for the pairs 1/2,
// 12/14 and 50/60 they do not; there the row of 2, 12 and 60 follows the
// condition, the other not.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "symmetry/site_constraints.hpp"

namespace {

using Tensor = std::array<double, 6>;  // U11 U22 U33 U23 U13 U12, the table's order
// Matrix position of each component.
constexpr int kRow[6] = {0, 1, 2, 1, 0, 0};
constexpr int kColumn[6] = {0, 1, 2, 2, 2, 1};

// R U Rᵀ of a symmetric U, as six components.
Tensor transformed(const int32_t *r, const Tensor &u) {
    double m[3][3];
    for (int k = 0; k < 6; ++k) m[kRow[k]][kColumn[k]] = m[kColumn[k]][kRow[k]] = u[static_cast<std::size_t>(k)];
    Tensor out{};
    for (int k = 0; k < 6; ++k) {
        double sum = 0.0;
        for (int a = 0; a < 3; ++a) {
            for (int b = 0; b < 3; ++b) sum += r[3 * kRow[k] + a] * m[a][b] * r[3 * kColumn[k] + b];
        }
        out[static_cast<std::size_t>(k)] = sum;
    }
    return out;
}

// The dimension of the solutions of R U Rᵀ = U in which every pair of
// components that R maps onto each other with opposite signs is zero.
int conditionDimension(const int32_t *r) {
    std::vector<std::array<double, 6>> rows;
    for (int k = 0; k < 6; ++k) {
        Tensor unit{};
        unit[static_cast<std::size_t>(k)] = 1.0;
        const Tensor image = transformed(r, unit);
        int nonzero = 0;
        for (double v : image) nonzero += std::fabs(v) > 1e-12 ? 1 : 0;
        for (int j = 0; j < 6; ++j) {
            const double v = image[static_cast<std::size_t>(j)];
            // R carries U_k onto −U_j alone.
            if (nonzero == 1 && j != k && std::fabs(v + 1.0) < 1e-12) {
                Tensor zeroK{}, zeroJ{};
                zeroK[static_cast<std::size_t>(k)] = 1.0;
                zeroJ[static_cast<std::size_t>(j)] = 1.0;
                rows.push_back(zeroK);
                rows.push_back(zeroJ);
            }
        }
    }
    // The equations of the condition: for each output component j,
    // Σ_k (image of e_k)_j U_k − U_j = 0.
    for (int j = 0; j < 6; ++j) {
        std::array<double, 6> equation{};
        for (int k = 0; k < 6; ++k) {
            Tensor unit{};
            unit[static_cast<std::size_t>(k)] = 1.0;
            equation[static_cast<std::size_t>(k)] = transformed(r, unit)[static_cast<std::size_t>(j)];
        }
        equation[static_cast<std::size_t>(j)] -= 1.0;
        rows.push_back(equation);
    }
    int rank = 0;
    const std::size_t count = rows.size();
    for (std::size_t column = 0; column < 6 && static_cast<std::size_t>(rank) < count; ++column) {
        std::size_t pivot = count;
        for (std::size_t i = static_cast<std::size_t>(rank); i < count; ++i) {
            if (std::fabs(rows[i][column]) > 1e-12) pivot = i;
        }
        if (pivot == count) continue;
        std::swap(rows[static_cast<std::size_t>(rank)], rows[pivot]);
        const auto &p = rows[static_cast<std::size_t>(rank)];
        for (std::size_t i = 0; i < count; ++i) {
            if (i == static_cast<std::size_t>(rank)) continue;
            const double f = rows[i][column] / p[column];
            for (std::size_t j = 0; j < 6; ++j) rows[i][j] -= f * p[j];
        }
        ++rank;
    }
    return 6 - rank;
}

// The tensors a row's codes allow, as a basis: every free component (−1) on
// its own; the diagonal components coded 1 together, with U12 at half of them
// where U12 is coded 2; the off-diagonal components coded 3 together, with the
// one coded 6 at half of them; components coded 0 (off the diagonal) zero.
std::vector<Tensor> allowedBasis(const int32_t *codes) {
    std::vector<Tensor> basis;
    Tensor tied{}, shared{};
    bool hasTied = false, hasShared = false;
    for (int k = 0; k < 6; ++k) {
        const int32_t code = codes[k];
        const auto at = static_cast<std::size_t>(k);
        if (code == -1) {
            Tensor unit{};
            unit[at] = 1.0;
            basis.push_back(unit);
        } else if (k < 3 && code == 1) {
            tied[at] = 1.0;
            hasTied = true;
        } else if (k == 5 && code == 2) {
            tied[at] = 0.5;
        } else if (k >= 3 && code == 3) {
            shared[at] = 1.0;
            hasShared = true;
        } else if (k >= 3 && code == 6) {
            shared[at] = 0.5;
        } else {
            EXPECT_TRUE(k >= 3 && code == 0) << "code " << code << " of component " << k;
        }
    }
    if (hasTied) basis.push_back(tied);
    if (hasShared) basis.push_back(shared);
    return basis;
}

TEST(PointOperationTable, CodesAreTheSolutionsOfTheSiteCondition) {
    for (int n = 0; n < powderkit::kPointOperationCount; ++n) {
        SCOPED_TRACE("row " + std::to_string(n));
        const auto &row = powderkit::kPointOperationConstraints[n];
        const bool deviates = n == 1 || n == 14 || n == 50;
        bool allSatisfy = true;
        const std::vector<Tensor> basis = allowedBasis(row.codes);
        for (const Tensor &u : basis) {
            const Tensor image = transformed(row.rotation, u);
            for (std::size_t k = 0; k < 6; ++k) allSatisfy = allSatisfy && std::fabs(image[k] - u[k]) < 1e-12;
        }
        const bool sameDimension = static_cast<int>(basis.size()) == conditionDimension(row.rotation);
        EXPECT_EQ(allSatisfy && sameDimension, !deviates);
    }
}

}  // namespace
