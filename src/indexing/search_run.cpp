// One indexing search over the systems asked for: the lines made from the
// positions, each system's dichotomy with its leaves fitted, the solutions
// gathered once each, merged and ranked.
#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "indexing/indexing.hpp"

namespace powderkit::indexing {
namespace {

constexpr LatticeSystem kOrder[] = {LatticeSystem::Cubic, LatticeSystem::Tetragonal, LatticeSystem::Hexagonal,
                                    LatticeSystem::Orthorhombic, LatticeSystem::Monoclinic,
                                    LatticeSystem::Triclinic};

// The share of the work each system takes, roughly as its search does.
double weightOf(LatticeSystem system) {
    switch (system) {
    case LatticeSystem::Cubic: return 1;
    case LatticeSystem::Tetragonal:
    case LatticeSystem::Hexagonal: return 2;
    case LatticeSystem::Orthorhombic: return 8;
    case LatticeSystem::Monoclinic: return 30;
    case LatticeSystem::Triclinic: return 60;
    }
    return 1;
}

// The M20 from which a cell that indexes every searched line is taken as found.
constexpr double kSound = 20.0;

// Two fits of one system with the same cell (a leaf's neighbours find it again).
bool sameFit(const CellFit &a, const CellFit &b) {
    for (std::size_t j = 0; j < a.parameters.size(); ++j)
        if (std::fabs(a.parameters[j] - b.parameters[j]) > 1e-4 * std::fabs(a.parameters[0])) return false;
    return true;
}

// Of two fits of one cell, whether `a` gives its lines the better reflexions:
// fewer searched lines left out, then more lines indexed, then a smaller misfit.
bool betterFit(const CellFit &a, const CellFit &b) {
    if (a.unindexedSearched != b.unindexedSearched) return a.unindexedSearched < b.unindexedSearched;
    const auto count = [](const CellFit &f) { return std::count(f.indexed.begin(), f.indexed.end(), true); };
    if (count(a) != count(b)) return count(a) > count(b);
    return a.misfit < b.misfit * (1 - 1e-9);
}

}  // namespace

std::array<double, 2> defaultVolumes(LatticeSystem system, const std::vector<Line> &lines) {
    // The Laue group's order, and how far beyond the estimate to look: lines
    // missing (weak, or absent by centring and glides) make the true cell
    // larger than the one that would give each line a reflexion.
    double order = 2, margin = 3;
    switch (system) {
    case LatticeSystem::Cubic: order = 48, margin = 4; break;
    case LatticeSystem::Tetragonal: order = 16, margin = 3; break;
    case LatticeSystem::Hexagonal: order = 24, margin = 3; break;
    case LatticeSystem::Orthorhombic: order = 8, margin = 4; break;
    case LatticeSystem::Monoclinic: order = 4, margin = 4; break;
    case LatticeSystem::Triclinic: order = 2, margin = 2.5; break;
    }
    const double q = lines.back().q;
    const double estimate = static_cast<double>(lines.size()) * order / (4.0 * 3.14159265358979 / 3.0 * std::pow(q, 1.5));
    return {0.0, margin * estimate};
}

SearchOutcome searchCells(const std::vector<double> &twoTheta, const std::vector<double> &esd, double wavelength,
                          const pk_index_options &options, const RunProgress &progress) {
    SearchOutcome outcome;
    std::ostringstream notes;
    for (std::size_t i = 0; i < twoTheta.size(); ++i) {
        const double allowed = allowedError(options.max_error, i < esd.size() ? esd[i] : 0.0);
        outcome.lines.push_back(lineAt(twoTheta[i], wavelength, allowed, options.zero_window));
    }
    const std::size_t searchedCount = std::min<std::size_t>(outcome.lines.size(), static_cast<std::size_t>(options.line_count));
    const std::vector<Line> searched(outcome.lines.begin(), outcome.lines.begin() + static_cast<long>(searchedCount));

    FitSettings settings;
    settings.wavelength = wavelength;
    settings.maxError = options.max_error;
    settings.zeroWindow = options.zero_window;
    settings.searched = static_cast<int>(searchedCount);
    settings.maxUnindexed = options.max_unindexed;
    settings.axisMax = options.axis_max;

    const int asked = options.systems != 0 ? options.systems : (PK_SYSTEM_TRICLINIC - 1);
    double total = 0.0;
    for (LatticeSystem system : kOrder)
        if (asked & static_cast<int>(system)) total += weightOf(system);
    double done = 0.0;
    std::vector<Candidate> found;
    // A lattice found with a sound figure of merit bounds the volumes the
    // systems below it search: their cells of that lattice are no larger.
    double cap = 0.0;
    // Such a lattice also gives the zero shift, the instrument's and not the
    // lattice's: the systems below search their lines corrected by it, with
    // one parameter fewer (the fits still refine it). Without it the zero's
    // dimension multiplies the boxes of the low systems many times over.
    bool zeroKnown = false;
    double knownZero = 0.0, knownZeroM20 = 0.0;
    const auto searchOne = [&](LatticeSystem system) {
        // A fit needs twice as many indexed lines as unknowns, and one
        // (cell_fit.cpp); with fewer lines searched than that and the
        // unindexed allowed, the system's cells cannot be told apart.
        const int unknowns = parameterCount(system) + (options.zero_window > 0 ? 1 : 0);
        const std::size_t fewest = static_cast<std::size_t>(2 * unknowns + 1 + options.max_unindexed);
        if (searched.size() < fewest) {
            notes << systemName(system) << ": not searched, " << searched.size() << " lines are too few (" << fewest
                  << " needed)\n";
            done += weightOf(system) / total;
            return true;
        }
        SearchLimits limits;
        limits.axisMax = options.axis_max;
        limits.maxUnindexed = options.max_unindexed;
        limits.zeroWindow = zeroKnown ? 0.0 : options.zero_window;
        std::vector<Line> lines = searched;
        if (zeroKnown) {
            for (Line &line : lines) line = lineAt(line.twoTheta - knownZero, wavelength, line.allowed, 0.0);
        }
        double volumeMin = options.volume_min, volumeMax = options.volume_max;
        const bool given = volumeMin > 0 || volumeMax > 0;
        if (!given) volumeMax = defaultVolumes(system, searched)[1];
        if (cap > 0 && cap < volumeMax && !given) volumeMax = cap;
        // Shells of volume, smallest first; after a shell that gave a cell
        // of M20 ≥ kSound, larger ones are not searched (their solutions are
        // the same lattice's supercells or worse).
        std::vector<double> edges;
        if (volumeMax <= 0) {
            edges = {volumeMin, 0.0};
        } else {
            edges.push_back(volumeMin);
            // Triclinic shells are thinner: their search costs about as
            // much per Å³, and one ends nearer a cell found.
            const double step = system == LatticeSystem::Triclinic ? 1.3 : 1.6;
            for (double v = std::max(volumeMin, volumeMax) / 40.0; v < volumeMax; v *= step)
                if (v > volumeMin * 1.2) edges.push_back(v);
            edges.push_back(volumeMax);
        }
        std::vector<CellFit> fits;
        std::multimap<double, std::size_t> byFirst;  // the fits by their first parameter, to find one again
        std::vector<std::size_t> candidateOf;        // per fit, its candidate in `found` once made
        std::vector<std::size_t> bettered;           // fits whose cell was found again with better reflexions
        const double weight = weightOf(system) / total;
        const double shells = static_cast<double>(edges.size() - 1);
        double best = 0.0, partial = 0.0;
        // Triclinic lattices are searched first with the reduced cell's
        // three axial lines (1 0 0, 0 1 0, 0 0 1 of the reduced reciprocal
        // cell) among the lines, then with one of them missing; the whole
        // reduced domain would take hours. The other systems search theirs whole.
        const bool triclinic = system == LatticeSystem::Triclinic;
        const std::vector<int> tiers = triclinic ? std::vector<int>{0, 1} : std::vector<int>{3};
        const double tierShare[2] = {0.2, 0.8};
        double tierStart = 0.0;
        for (std::size_t tier = 0; tier < tiers.size(); ++tier) {
            limits.axesOffLines = tiers[tier];
            const double share = triclinic ? tierShare[tier] : 1.0;
            bool partialStop = false;
            std::size_t shell = 0;
            for (; shell + 1 < edges.size(); ++shell) {
                limits.volumeMin = edges[shell];
                limits.volumeMax = edges[shell + 1];
                const std::size_t before = fits.size();
                const bool finished = dichotomySearch(
                    system, lines, limits,
                    [&](const std::vector<double> &centre, const std::vector<Hkl> &reflexions) {
                        CellFit fit;
                        const std::size_t n = static_cast<std::size_t>(parameterCount(system));
                        const std::vector<double> start(centre.begin(), centre.begin() + static_cast<long>(n));
                        const double zero = centre.size() > n ? centre[n] : knownZero;
                        if (!fitCell(system, outcome.lines, start, zero, reflexions, settings, fit)) return;
                        const double first = fit.parameters[0], near = 1e-4 * std::fabs(first);
                        for (auto it = byFirst.lower_bound(first - 2 * near);
                             it != byFirst.end() && it->first <= first + 2 * near; ++it) {
                            if (!sameFit(fits[it->second], fit)) continue;
                            // Found again: kept as the better of the two.
                            if (betterFit(fit, fits[it->second])) {
                                fits[it->second] = std::move(fit);
                                bettered.push_back(it->second);
                            }
                            return;
                        }
                        byFirst.emplace(first, fits.size());
                        fits.push_back(fit);
                    },
                    [&](double fraction) {
                        const double part = tierStart + share * (static_cast<double>(shell) + fraction) / shells;
                        return progress && progress(done + weight * part, systemName(system));
                    });
                for (std::size_t f : bettered)
                    if (f < candidateOf.size()) found[candidateOf[f]] = makeCandidate(fits[f], outcome.lines, settings);
                bettered.clear();
                for (std::size_t f = before; f < fits.size(); ++f) {
                    candidateOf.push_back(found.size());
                    found.push_back(makeCandidate(fits[f], outcome.lines, settings));
                    // Only a cell that indexes every searched line counts as
                    // found: a sub-cell leaving lines out has a high M20 too.
                    // One that leaves some out but ranks as sound ends the
                    // search of the low systems at twice its volume.
                    if (found.back().fit.unindexedSearched > 0) {
                        if (found.back().figures.ranking >= kSound && (partial == 0 || found.back().volume < partial))
                            partial = found.back().volume;
                        continue;
                    }
                    best = std::max(best, found.back().figures.M20);
                    if (found.back().figures.M20 >= kSound && found.back().figures.M20 > knownZeroM20) {
                        zeroKnown = options.zero_window > 0.0;
                        knownZero = found.back().fit.zero;
                        knownZeroM20 = found.back().figures.M20;
                    }
                    if (found.back().figures.M20 >= kSound && (cap == 0 || found.back().volume * 1.02 < cap))
                        cap = found.back().volume * 1.02;
                }
                if (!finished) return false;
                if (best >= kSound) break;
                const bool costly = system == LatticeSystem::Orthorhombic || system == LatticeSystem::Monoclinic ||
                                    system == LatticeSystem::Triclinic;
                if (costly && partial > 0 && edges[shell + 1] >= 2 * partial) {
                    partialStop = true;
                    break;
                }
            }
            tierStart += share;
            const double reached = shell + 1 < edges.size() ? edges[shell + 1] : edges.back();
            notes << systemName(system) << ": volumes " << static_cast<long>(std::lround(edges.front())) << " to "
                  << static_cast<long>(std::lround(reached)) << " Å³ searched";
            if (triclinic)
                notes << (tiers[tier] == 0 ? " with the reduced cell's three axial lines observed"
                                           : " with two of the reduced cell's three axial lines observed");
            if (shell + 2 < edges.size() && !partialStop)
                notes << " (a cell indexing every line with M20 ≥ " << kSound << " found: larger ones not)";
            else if (partialStop)
                notes << " (a sound cell leaving lines unindexed found at " << static_cast<long>(std::lround(partial))
                      << " Å³: volumes to twice that)";
            if (zeroKnown && limits.zeroWindow == 0.0)
                notes << "; lines corrected by the zero shift " << knownZero << "° of the sound cell above";
            notes << "\n";
            if (best >= kSound) break;
        }
        done += weight;
        return true;
    };
    for (LatticeSystem system : kOrder) {
        if (!(asked & static_cast<int>(system))) continue;
        if (!searchOne(system)) {
            outcome.stopped = true;
            notes << "stopped during the " << systemName(system) << " search\n";
            break;
        }
    }
    rankCandidates(found, static_cast<std::size_t>(std::max(1, options.candidate_count)), searched.back().q);
    outcome.candidates = std::move(found);
    outcome.notes = notes.str();
    return outcome;
}

}  // namespace powderkit::indexing
