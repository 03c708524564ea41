// Starting values before the first cycle. The scales and the background
// enter the pattern linearly, so for any cell their best values are one
// weighted linear least-squares solve; the profile χ² that remains, as a
// function of the free cell lengths, is searched on a grid in two stages
// (the low-angle part of the range over ±1.5 %, where peaks move least,
// then the whole range over ±0.1 %), so that a literature cell some tenths
// of a per cent off, whose peaks at high angle miss the measured ones by more
// than their width, still starts Levenberg–Marquardt inside its basin.
#include <cmath>

#include "boundary/boundary.hpp"
#include "refinement/fit.hpp"

namespace powderkit::refinement {

namespace {

constexpr int kScanPasses = 4;

// Coefficient of every phase at scale 1 and every background polynomial that
// best fits the points below `last` (exclusive); χ² of that fit in `chi2`.
Eigen::VectorXd linearFit(const pk_refinement &r, std::size_t last, double &chi2) {
    const auto phases = static_cast<Eigen::Index>(r.phases.size());
    const auto columns = phases + r.options.background_count;
    const auto rows = static_cast<Eigen::Index>(last);
    Eigen::MatrixXd a(rows, columns);
    Eigen::VectorXd b(rows);
    for (Eigen::Index i = 0; i < rows; ++i) {
        const auto point = static_cast<std::size_t>(i);
        const double root = std::sqrt(r.weight[point]);
        for (Eigen::Index p = 0; p < phases; ++p) a(i, p) = root * r.phases[static_cast<std::size_t>(p)].unit[point];
        for (int k = 0; k < r.options.background_count; ++k) {
            std::array<double, PK_BACKGROUND_COEFFICIENTS> unit{};
            unit[static_cast<std::size_t>(k)] = 1.0;
            a(i, phases + k) = root * BackgroundIntensity(unit.data(), r.x[point], r.xMin, r.xMax);
        }
        b(i) = root * r.y[point];
    }
    const Eigen::VectorXd solution = a.colPivHouseholderQr().solve(b);
    chi2 = (a * solution - b).squaredNorm();
    return solution;
}

// Sets every free cell length of phase p in turn to the grid value of least
// χ² (after the linear fit) over value·(1 + f), f = −span … span; whether
// any moved.
bool scanCell(pk_refinement &r, std::size_t p, std::size_t last, double span, int steps) {
    bool moved = false;
    const std::vector<bool> only = [&] {
        std::vector<bool> marked(r.phases.size(), false);
        marked[p] = true;
        return marked;
    }();
    for (std::size_t k = 0; k < 3; ++k) {
        const int index = r.phases[p].cellParameter[k];
        if (index < 0 || r.parameters[static_cast<std::size_t>(index)].state == PK_PARAMETER_FIXED) continue;
        Parameter &parameter = r.parameters[static_cast<std::size_t>(index)];
        const double start = parameter.value;
        double best = start;
        double bestChi2 = INFINITY;
        for (int step = -steps; step <= steps; ++step) {
            parameter.value = start * (1.0 + span * step / steps);
            applyParameters(r);
            try {
                evaluate(r, only);
            } catch (const phase::Failure &) {
                continue;
            }
            double chi2 = 0.0;
            linearFit(r, last, chi2);
            if (chi2 < bestChi2) {
                bestChi2 = chi2;
                best = parameter.value;
            }
        }
        moved = moved || best != start;
        parameter.value = best;
        applyParameters(r);
        evaluate(r, only);
    }
    return moved;
}

// Coordinate by coordinate over every phase's lengths, until none moves
// (each length's own lines set its minimum; a few passes settle the others).
void scanCells(pk_refinement &r, std::size_t last, double span, int steps) {
    for (int pass = 0; pass < kScanPasses; ++pass) {
        bool moved = false;
        for (std::size_t p = 0; p < r.phases.size(); ++p) moved = scanCell(r, p, last, span, steps) || moved;
        if (!moved) return;
    }
}

}  // namespace

void startingValues(pk_refinement &r) {
    applyParameters(r);
    evaluate(r, {});
    bool cellFree = false;
    for (const Parameter &parameter : r.parameters) {
        if (parameter.target == Target::Cell && parameter.state != PK_PARAMETER_FIXED) cellFree = true;
    }
    if (cellFree) {
        const std::size_t lowAngle = std::max<std::size_t>(r.x.size() * 2 / 5, 2);
        scanCells(r, lowAngle, 0.015, 30);
        scanCells(r, r.x.size(), 0.001, 10);
    }
    // The linear parameters at their best for these values, where free.
    double chi2 = 0.0;
    const Eigen::VectorXd solution = linearFit(r, r.x.size(), chi2);
    const auto phases = static_cast<Eigen::Index>(r.phases.size());
    for (Parameter &parameter : r.parameters) {
        if (parameter.state == PK_PARAMETER_FIXED || parameter.state == PK_PARAMETER_TIED) continue;
        if (parameter.target == Target::Background) parameter.value = solution(phases + parameter.index);
        const double scale = solution(parameter.phase >= 0 ? parameter.phase : 0);
        if (parameter.target == Target::Scale && scale > 0.0) parameter.value = scale;
    }
    if (r.options.mode == PK_REFINE_LE_BAIL) {
        for (std::size_t p = 0; p < r.phases.size(); ++p) {
            const double factor = solution(static_cast<Eigen::Index>(p));
            PhaseModel &model = r.phases[p];
            for (std::size_t n = 0; n < model.peaks.primaryCount; ++n) {
                const Reflexion &reflexion = model.peaks.reflexions[n];
                model.extracted[{reflexion.h, reflexion.k, reflexion.l}] = std::fabs(factor) * reflexion.intensity;
            }
        }
    }
    applyParameters(r);
    evaluate(r, {});
}

}  // namespace powderkit::refinement
