// The reciprocal metric of each lattice system: which of its six terms are
// free, the reflexions of its Laue half-space, and the cell they make.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

#include "indexing/indexing.hpp"

namespace powderkit::indexing {
namespace {

constexpr double kDegrees = 180.0 / 3.14159265358979323846;

// The reciprocal metric tensor G* of a system's parameters: 1/d² = hᵀ G* h.
Eigen::Matrix3d reciprocalMetric(LatticeSystem system, const std::vector<double> &p) {
    Eigen::Matrix3d g = Eigen::Matrix3d::Zero();
    switch (system) {
    case LatticeSystem::Cubic:
        g(0, 0) = g(1, 1) = g(2, 2) = p[0];
        break;
    case LatticeSystem::Tetragonal:
        g(0, 0) = g(1, 1) = p[0];
        g(2, 2) = p[1];
        break;
    case LatticeSystem::Hexagonal:  // γ* = 60°: a*·b* = a*²/2
        g(0, 0) = g(1, 1) = p[0];
        g(0, 1) = g(1, 0) = p[0] / 2.0;
        g(2, 2) = p[1];
        break;
    case LatticeSystem::Orthorhombic:
        g(0, 0) = p[0];
        g(1, 1) = p[1];
        g(2, 2) = p[2];
        break;
    case LatticeSystem::Monoclinic:
        g(0, 0) = p[0];
        g(1, 1) = p[1];
        g(2, 2) = p[2];
        g(0, 2) = g(2, 0) = p[3] / 2.0;
        break;
    case LatticeSystem::Triclinic:
        g(0, 0) = p[0];
        g(1, 1) = p[1];
        g(2, 2) = p[2];
        g(1, 2) = g(2, 1) = p[3] / 2.0;
        g(0, 2) = g(2, 0) = p[4] / 2.0;
        g(0, 1) = g(1, 0) = p[5] / 2.0;
        break;
    }
    return g;
}

}  // namespace

const char *systemName(LatticeSystem system) {
    switch (system) {
    case LatticeSystem::Cubic: return "cubic";
    case LatticeSystem::Tetragonal: return "tetragonal";
    case LatticeSystem::Hexagonal: return "hexagonal";
    case LatticeSystem::Orthorhombic: return "orthorhombic";
    case LatticeSystem::Monoclinic: return "monoclinic";
    case LatticeSystem::Triclinic: return "triclinic";
    }
    return "?";
}

int parameterCount(LatticeSystem system) {
    switch (system) {
    case LatticeSystem::Cubic: return 1;
    case LatticeSystem::Tetragonal:
    case LatticeSystem::Hexagonal: return 2;
    case LatticeSystem::Orthorhombic: return 3;
    case LatticeSystem::Monoclinic: return 4;
    case LatticeSystem::Triclinic: return 6;
    }
    return 0;
}

std::array<double, 6> coefficients(LatticeSystem system, const Hkl &hkl) {
    const double h = hkl[0], k = hkl[1], l = hkl[2];
    switch (system) {
    case LatticeSystem::Cubic: return {h * h + k * k + l * l, 0, 0, 0, 0, 0};
    case LatticeSystem::Tetragonal: return {h * h + k * k, l * l, 0, 0, 0, 0};
    case LatticeSystem::Hexagonal: return {h * h + h * k + k * k, l * l, 0, 0, 0, 0};
    case LatticeSystem::Orthorhombic: return {h * h, k * k, l * l, 0, 0, 0};
    case LatticeSystem::Monoclinic: return {h * h, k * k, l * l, h * l, 0, 0};
    case LatticeSystem::Triclinic: return {h * h, k * k, l * l, k * l, h * l, h * k};
    }
    return {};
}

// The direct metric G = (G*)⁻¹ gives a = √G₁₁, cos α = G₂₃/(bc), ….
std::array<double, 6> cellOf(LatticeSystem system, const std::vector<double> &parameters) {
    const Eigen::Matrix3d g = reciprocalMetric(system, parameters).inverse();
    const double a = std::sqrt(g(0, 0)), b = std::sqrt(g(1, 1)), c = std::sqrt(g(2, 2));
    return {a, b, c, std::acos(g(1, 2) / (b * c)) * kDegrees, std::acos(g(0, 2) / (a * c)) * kDegrees,
            std::acos(g(0, 1) / (a * b)) * kDegrees};
}

std::vector<double> parametersOf(LatticeSystem system, const std::array<double, 6> &cell) {
    const double ca = std::cos(cell[3] / kDegrees), cb = std::cos(cell[4] / kDegrees),
                 cg = std::cos(cell[5] / kDegrees);
    Eigen::Matrix3d g;
    g << cell[0] * cell[0], cell[0] * cell[1] * cg, cell[0] * cell[2] * cb,  //
        cell[0] * cell[1] * cg, cell[1] * cell[1], cell[1] * cell[2] * ca,   //
        cell[0] * cell[2] * cb, cell[1] * cell[2] * ca, cell[2] * cell[2];
    const Eigen::Matrix3d r = g.inverse();
    switch (system) {
    case LatticeSystem::Cubic: return {r(0, 0)};
    case LatticeSystem::Tetragonal:
    case LatticeSystem::Hexagonal: return {r(0, 0), r(2, 2)};
    case LatticeSystem::Orthorhombic: return {r(0, 0), r(1, 1), r(2, 2)};
    case LatticeSystem::Monoclinic: return {r(0, 0), r(1, 1), r(2, 2), 2.0 * r(0, 2)};
    case LatticeSystem::Triclinic:
        return {r(0, 0), r(1, 1), r(2, 2), 2.0 * r(1, 2), 2.0 * r(0, 2), 2.0 * r(0, 1)};
    }
    return {};
}

std::vector<Hkl> indexBox(LatticeSystem system, int limit) { return indexBox(system, {limit, limit, limit}); }

std::vector<Hkl> indexBox(LatticeSystem system, const std::array<int, 3> &limits) {
    std::vector<Hkl> box;
    const int hMax = limits[0], kMax = limits[1], lMax = limits[2];
    for (int h = 0; h <= hMax; ++h) {
        int kLow = -kMax, kHigh = kMax, lLow = -lMax;
        switch (system) {
        case LatticeSystem::Cubic:
        case LatticeSystem::Tetragonal:
        case LatticeSystem::Hexagonal:  // k ≤ h, both ≥ 0 (and l ≤ k for cubic)
            kLow = 0, kHigh = std::min(h, kMax), lLow = 0;
            break;
        case LatticeSystem::Orthorhombic: kLow = 0, lLow = 0; break;
        // (h k l), (h −k l) and (−h k −l) coincide: k ≥ 0, and l ≥ 0 where h = 0.
        case LatticeSystem::Monoclinic: kLow = 0, lLow = h == 0 ? 0 : -lMax; break;
        // Friedel pairs: the half-space h > 0, or h = 0 and k > 0, or h = k = 0 and l > 0.
        case LatticeSystem::Triclinic: kLow = h == 0 ? 0 : -kMax; break;
        }
        for (int k = kLow; k <= kHigh; ++k) {
            int low = lLow, high = lMax;
            if (system == LatticeSystem::Cubic) high = std::min(k, lMax);
            if (system == LatticeSystem::Triclinic && h == 0 && k == 0) low = 1;
            for (int l = low; l <= high; ++l)
                if (h != 0 || k != 0 || l != 0) box.push_back({h, k, l});
        }
    }
    return box;
}

bool centringAllows(char centring, const Hkl &hkl) {
    const int h = hkl[0], k = hkl[1], l = hkl[2];
    const auto even = [](int v) { return v % 2 == 0; };
    switch (centring) {
    case 'A': return even(k + l);
    case 'B': return even(h + l);
    case 'C': return even(h + k);
    case 'I': return even(h + k + l);
    case 'F': return even(h + k) && even(h + l) && even(k + l);
    // Obverse on hexagonal axes, −h + k + l = 3n; a metric-equivalent
    // reflexion (k h l) carries the reverse condition h − k + l = 3n, and
    // the line is seen when either holds.
    case 'R': return (-h + k + l) % 3 == 0 || (h - k + l) % 3 == 0;
    default: return true;
    }
}

}  // namespace powderkit::indexing
