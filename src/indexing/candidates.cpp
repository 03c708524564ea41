// From fitted cells to ranked candidates: the lattice centring the lines
// allow, the Niggli reduced cell (gemmi's reduction) by which candidates of
// one lattice are merged, esd's of the cell, and supercells recognised.
#include <gemmi/cellred.hpp>
#include <gemmi/unitcell.hpp>

#include <algorithm>
#include <cmath>

#include "indexing/indexing.hpp"

namespace powderkit::indexing {
namespace {

// The centrings each system's conventional cell may carry, most absences first.
std::vector<char> centringsOf(LatticeSystem system) {
    switch (system) {
    case LatticeSystem::Cubic: return {'F', 'I'};
    case LatticeSystem::Tetragonal: return {'I'};
    case LatticeSystem::Hexagonal: return {'R'};
    case LatticeSystem::Orthorhombic: return {'F', 'I', 'C', 'A', 'B'};
    case LatticeSystem::Monoclinic: return {'C', 'A', 'I'};
    case LatticeSystem::Triclinic: return {};
    }
    return {};
}

int rankOf(LatticeSystem system) {
    int bit = static_cast<int>(system), rank = 0;
    while (bit > 1) bit >>= 1, ++rank;
    return rank;
}

}  // namespace

std::vector<std::vector<Hkl>> reflexionsOfLines(const CellFit &fit, const std::vector<Line> &lines,
                                                double wavelength, double maxError) {
    const double qMax = lines.empty() ? 0.0 : qAt(lines.back().twoTheta + 2 * maxError - fit.zero, wavelength);
    std::vector<std::vector<Hkl>> result(lines.size());
    for (const Reflexion &reflexion : reflexionsUpTo(fit.system, fit.parameters, qMax)) {
        const double position = twoThetaAt(reflexion.q, wavelength) + fit.zero;
        auto first = std::lower_bound(lines.begin(), lines.end(), position - maxError,
                                      [](const Line &line, double x) { return line.twoTheta < x; });
        for (auto it = first; it != lines.end() && it->twoTheta <= position + maxError; ++it)
            if (std::fabs(it->twoTheta - position) <= std::min(it->allowed, maxError))
                result[static_cast<std::size_t>(it - lines.begin())].push_back(reflexion.hkl);
    }
    return result;
}

char latticeCentring(const CellFit &fit, const std::vector<Line> &lines, double wavelength, double maxError) {
    const std::vector<std::vector<Hkl>> near = reflexionsOfLines(fit, lines, wavelength, maxError);
    char best = 'P';
    std::size_t fewest = possibleLines(fit.system, fit.parameters, 'P', lines.back().q).size();
    for (char centring : centringsOf(fit.system)) {
        bool allowed = true;
        for (std::size_t i = 0; i < lines.size() && allowed; ++i) {
            if (!fit.indexed[i]) continue;
            allowed = std::any_of(near[i].begin(), near[i].end(),
                                  [centring](const Hkl &hkl) { return centringAllows(centring, hkl); });
        }
        if (!allowed) continue;
        const std::size_t left = possibleLines(fit.system, fit.parameters, centring, lines.back().q).size();
        if (left < fewest) fewest = left, best = centring;
    }
    return best;
}

Candidate makeCandidate(const CellFit &fit, const std::vector<Line> &lines, const FitSettings &settings) {
    Candidate candidate;
    candidate.fit = fit;
    candidate.centring = latticeCentring(fit, lines, settings.wavelength, largestAllowed(lines));
    candidate.cell = cellOf(fit.system, fit.parameters);
    candidate.volume = cellVolume(fit.system, fit.parameters);
    candidate.figures = figuresOfMerit(fit, lines, candidate.centring, settings.wavelength, settings.maxError);
    // Esd's of the cell: its derivatives by the parameters (central
    // differences) through the parameters' covariance.
    const std::size_t n = fit.parameters.size();
    const std::size_t stride = static_cast<std::size_t>(std::sqrt(static_cast<double>(fit.covariance.size())));
    std::vector<std::array<double, 6>> derivative(n);
    for (std::size_t j = 0; j < n; ++j) {
        std::vector<double> up = fit.parameters, down = fit.parameters;
        const double h = 1e-6 * std::fabs(fit.parameters[j]) + 1e-12;
        up[j] += h;
        down[j] -= h;
        const std::array<double, 6> a = cellOf(fit.system, up), b = cellOf(fit.system, down);
        for (int k = 0; k < 6; ++k) derivative[j][k] = (a[k] - b[k]) / (2 * h);
    }
    for (int k = 0; k < 6; ++k) {
        double variance = 0.0;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j)
                variance += derivative[i][k] * fit.covariance[i * stride + j] * derivative[j][k];
        candidate.cellEsd[k] = std::sqrt(std::max(0.0, variance));
    }
    // Angles the system fixes (all but monoclinic β and the triclinic three) have none.
    for (int k = 3; k < 6; ++k) {
        const bool free = fit.system == LatticeSystem::Triclinic || (fit.system == LatticeSystem::Monoclinic && k == 4);
        if (!free) candidate.cellEsd[k] = 0.0;
    }
    // The Niggli reduced cell of the primitive lattice.
    const gemmi::UnitCell cell(candidate.cell[0], candidate.cell[1], candidate.cell[2], candidate.cell[3],
                               candidate.cell[4], candidate.cell[5]);
    gemmi::GruberVector gruber(cell, candidate.centring);
    gruber.niggli_reduce(1e-5 * gruber.A);
    candidate.reducedCell = gruber.cell_parameters();
    return candidate;
}

bool sameLattice(const Candidate &a, const Candidate &b) {
    for (int k = 0; k < 3; ++k)
        if (std::fabs(a.reducedCell[k] - b.reducedCell[k]) > 1e-2 * a.reducedCell[k]) return false;
    // Angles near 90° may reduce to either side of it.
    for (int k = 3; k < 6; ++k)
        if (std::fabs(std::fabs(a.reducedCell[k] - 90) - std::fabs(b.reducedCell[k] - 90)) > 1.0) return false;
    return true;
}

void rankCandidates(std::vector<Candidate> &candidates, std::size_t keep, double qMax) {
    // Best first: by M20 with the unindexed lines counted at the largest
    // error (a small cell that leaves lines out scores a high M20 on the
    // rest), then the higher symmetry.
    const auto score = [](const Candidate &c) { return c.figures.ranking; };
    const auto better = [&](const Candidate &a, const Candidate &b) {
        if (score(a) != score(b)) return score(a) > score(b);
        return rankOf(a.fit.system) < rankOf(b.fit.system);
    };
    std::sort(candidates.begin(), candidates.end(), better);
    std::vector<Candidate> merged;
    for (Candidate &candidate : candidates) {
        auto same = std::find_if(merged.begin(), merged.end(),
                                 [&](const Candidate &kept) { return sameLattice(kept, candidate); });
        if (same == merged.end()) {
            merged.push_back(std::move(candidate));
            continue;
        }
        // One lattice: the higher symmetry describes it when it indexes as
        // many lines (a lower one fits their errors with more freedom).
        if (rankOf(candidate.fit.system) < rankOf(same->fit.system) &&
            candidate.fit.unindexedSearched <= same->fit.unindexedSearched)
            *same = std::move(candidate);
    }
    std::sort(merged.begin(), merged.end(), better);
    if (merged.size() > keep) merged.resize(keep);
    // A supercell: its volume a whole multiple of a better candidate's, and
    // every possible line of that one among its own (the larger cell's
    // reciprocal lattice holds the smaller one's). A sub-cell: a better
    // candidate's volume a whole multiple of its own, and every possible
    // line of its own among that one's: it indexes the lines with a sublattice
    // of their reflexions (a derivative cell, found by a search of lower
    // symmetry or smaller volume).
    const auto within = [&](const Candidate &small, const Candidate &large) {
        const double ratio = large.volume / small.volume;
        const double whole = std::round(ratio);
        if (whole < 2 || std::fabs(ratio - whole) > 0.01 * whole) return false;
        const std::vector<double> fewer = possibleLines(small.fit.system, small.fit.parameters, small.centring, qMax);
        const std::vector<double> more =
            possibleLines(large.fit.system, large.fit.parameters, large.centring, qMax * 1.01);
        return std::all_of(fewer.begin(), fewer.end(), [&](double q) {
            auto it = std::lower_bound(more.begin(), more.end(), q * (1 - 2e-3));
            return it != more.end() && *it <= q * (1 + 2e-3);
        });
    };
    for (std::size_t i = 0; i < merged.size(); ++i) {
        for (std::size_t j = 0; j < i && merged[i].supercellOf < 0 && merged[i].subcellOf < 0; ++j) {
            if (within(merged[j], merged[i])) {
                merged[i].supercellOf = static_cast<int>(j);
            } else if (within(merged[i], merged[j])) {
                merged[i].subcellOf = static_cast<int>(j);
            }
        }
    }
    candidates = std::move(merged);
}

}  // namespace powderkit::indexing
