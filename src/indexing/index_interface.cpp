// The exported indexing functions: the peak list checked and made into lines,
// the search, the extinction symbols and Le Bail fits of the best candidates,
// and the getters of the result.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>

#include "boundary/boundary.hpp"
#include "indexing/extinction.hpp"
#include "indexing/indexing.hpp"
#include "powderkit_phase.h"

using powderkit::phase::copyOut;
using powderkit::phase::fail;
using powderkit::phase::guarded;
using powderkit::phase::requireArgument;
using powderkit::phase::requireIndex;
using powderkit::phase::shortest;
namespace ix = powderkit::indexing;

struct pk_indexing {
    std::vector<ix::Candidate> candidates;
    std::vector<std::vector<ix::ExtinctionClass>> classes;  // per candidate
    std::vector<double> given;                              // the lines used, as given (2θ or d)
    bool stopped = false;
    std::string notes;
};

namespace {

// Extinction symbols are worked out for this many of the best candidates.
constexpr std::size_t kSymbolCandidates = 5;

void checkOptions(const pk_index_options &o) {
    const auto positive = [](double value, const char *name) {
        if (!(value > 0.0) || !std::isfinite(value))
            fail(PK_ERROR_ARGUMENT, std::string("options.") + name + " = " + shortest(value) + " is not a number > 0");
    };
    if (o.systems < 0 || o.systems > 63)
        fail(PK_ERROR_ARGUMENT, "options.systems = " + std::to_string(o.systems) + " holds no PK_SYSTEM_* bits only");
    if (!(o.volume_min >= 0.0) || !(o.volume_max >= 0.0) || !std::isfinite(o.volume_max) ||
        (o.volume_max > 0 && o.volume_min >= o.volume_max))
        fail(PK_ERROR_ARGUMENT, "options.volume_min … volume_max = " + shortest(o.volume_min) + " … " +
                                    shortest(o.volume_max) + " is not a range of volumes (both 0: from the lines)");
    positive(o.max_error, "max_error");
    if (o.max_error > 1.0) fail(PK_ERROR_ARGUMENT, "options.max_error = " + shortest(o.max_error) + "° is above 1°");
    if (!(o.zero_window >= 0.0) || o.zero_window > 2.0)
        fail(PK_ERROR_ARGUMENT, "options.zero_window = " + shortest(o.zero_window) + " is not within 0 … 2°");
    positive(o.d_max, "d_max");
    positive(o.axis_max, "axis_max");
    if (o.axis_max > 100.0) fail(PK_ERROR_ARGUMENT, "options.axis_max = " + shortest(o.axis_max) + " Å is above 100 Å");
    if (o.line_count < 6 || o.line_count > 60)
        fail(PK_ERROR_ARGUMENT, "options.line_count = " + std::to_string(o.line_count) + " is not within 6 … 60");
    if (o.max_unindexed < 0 || o.max_unindexed > o.line_count / 2)
        fail(PK_ERROR_ARGUMENT, "options.max_unindexed = " + std::to_string(o.max_unindexed) +
                                    " is not within 0 … half of line_count");
    if (o.candidate_count < 1 || o.candidate_count > 1000)
        fail(PK_ERROR_ARGUMENT, "options.candidate_count = " + std::to_string(o.candidate_count) + " is not within 1 … 1000");
    if (o.le_bail_count < 0) fail(PK_ERROR_ARGUMENT, "options.le_bail_count is negative");
}

// The peak list of a measured pattern by its instrument's lines, with the esd's of the positions.
std::vector<double> peaksOf(const pk_measured_pattern &measured, const pk_instrument *instrument, double &wavelength,
                            std::vector<double> &esd) {
    pk_peak_search search;
    pk_peak_search_default(&search);
    if (instrument != nullptr) {
        if (instrument->axis != PK_AXIS_TWO_THETA) fail(PK_ERROR_ARGUMENT, "indexing needs a 2θ axis, not time of flight");
        search.wavelength = instrument->wavelength;
        search.wavelength2 = instrument->wavelength2;
        search.ratio2 = instrument->ratio2;
    }
    wavelength = search.wavelength;
    pk_error error{};
    int32_t count = 0, failures = 0;
    if (pk_find_peaks(&measured, &search, nullptr, 0, &count, nullptr, 0, &failures, &error) != PK_OK)
        fail(error.code, error.message);
    std::vector<pk_peak> peaks(static_cast<std::size_t>(count));
    if (pk_find_peaks(&measured, &search, peaks.data(), count, &count, nullptr, 0, &failures, &error) != PK_OK)
        fail(error.code, error.message);
    std::vector<double> positions;
    for (const pk_peak &peak : peaks) {
        positions.push_back(peak.position);
        esd.push_back(std::isfinite(peak.position_esd) ? peak.position_esd : 0.0);
    }
    return positions;
}

}  // namespace

extern "C" {

void pk_index_options_default(pk_index_options *options) {
    if (options == nullptr) return;
    *options = pk_index_options{};
    options->systems = 0;
    options->max_error = 0.03;
    options->max_unindexed = 2;
    options->zero_window = 0.1;
    options->d_max = 20.0;
    options->axis_max = 30.0;
    options->line_count = 20;
    options->candidate_count = 10;
    options->le_bail_count = 3;
}

int32_t pk_index(const double *positions, const double *esd, int32_t count, double wavelength,
                 const pk_measured_pattern *measured, const pk_instrument *instrument,
                 const pk_index_options *options, pk_index_progress progress, void *context, pk_indexing **indexing,
                 pk_error *error) {
    if (indexing != nullptr) *indexing = nullptr;
    return guarded(error, [&] {
        requireArgument(indexing, "indexing");
        requireArgument(options, "options");
        checkOptions(*options);
        if (count < 0) fail(PK_ERROR_ARGUMENT, "count = " + std::to_string(count) + " is negative");
        if (!(wavelength >= 0.0) || !std::isfinite(wavelength) || wavelength > 5.0)
            fail(PK_ERROR_ARGUMENT, "wavelength = " + shortest(wavelength) + " Å is not within 0 … 5 Å");
        std::vector<double> given, givenEsd;
        if (count == 0) {
            if (measured == nullptr) fail(PK_ERROR_ARGUMENT, "no positions given (count 0) and no measured pattern");
            given = peaksOf(*measured, instrument, wavelength, givenEsd);
        } else {
            requireArgument(positions, "positions");
            given.assign(positions, positions + count);
            if (esd != nullptr) givenEsd.assign(esd, esd + count);
            for (std::size_t i = 0; i < givenEsd.size(); ++i)
                if (!(givenEsd[i] >= 0.0) || !std::isfinite(givenEsd[i]))
                    fail(PK_ERROR_ARGUMENT, "esd " + std::to_string(i) + " = " + shortest(givenEsd[i]) +
                                                " is not an esd ≥ 0 (0: not known)");
        }
        givenEsd.resize(given.size(), 0.0);
        const bool asD = wavelength == 0.0;
        auto result = std::make_unique<pk_indexing>();
        std::ostringstream notes;
        // Everything as 2θ: d-spacings at a wavelength that puts the smallest below 2θ = 60°.
        double lambda = wavelength;
        if (asD) {
            double smallest = INFINITY;
            for (double d : given) smallest = std::min(smallest, d);
            lambda = std::min(1.5406, smallest);
        }
        struct Given {
            double twoTheta, value, esd;  // 2θ, as given, the esd of 2θ (degrees)
        };
        std::vector<Given> lines;
        for (std::size_t i = 0; i < given.size(); ++i) {
            const double value = given[i];
            const double d = asD ? value : lambda / (2.0 * std::sin(value * M_PI / 360.0));
            if (!std::isfinite(value) || value <= 0.0 || (!asD && value >= 180.0))
                fail(PK_ERROR_ARGUMENT, "position " + std::to_string(i) + " = " + shortest(value) +
                                            (asD ? " Å is not a d-spacing > 0" : "° is not a 2θ within (0, 180)"));
            if (d > options->d_max) {
                notes << "line at " << shortest(value) << (asD ? " Å" : "°") << " ignored: d = " << shortest(d)
                      << " Å is above the " << shortest(options->d_max) << " Å limit\n";
                continue;
            }
            const double twoTheta = asD ? ix::twoThetaAt(1.0 / (d * d), lambda) : value;
            // A d's esd as 2θ's: |∂2θ/∂d| = 2 tan θ / d radians per Å.
            const double esd2Theta =
                asD ? 2.0 * std::tan(twoTheta * M_PI / 360.0) * givenEsd[i] / d * 180.0 / M_PI : givenEsd[i];
            lines.push_back({twoTheta, value, esd2Theta});
        }
        std::sort(lines.begin(), lines.end(), [](const Given &a, const Given &b) { return a.twoTheta < b.twoTheta; });
        for (std::size_t i = 1; i < lines.size(); ++i)
            if (lines[i].twoTheta - lines[i - 1].twoTheta < 1e-9)
                fail(PK_ERROR_ARGUMENT, "two lines at one position, " + shortest(lines[i].value));
        const std::size_t needed = static_cast<std::size_t>(options->max_unindexed) + 6;
        if (lines.size() < needed)
            fail(PK_ERROR_ARGUMENT, std::to_string(lines.size()) + " lines are too few to index: at least " +
                                        std::to_string(needed) + " (6 and the unindexed allowed) are needed");
        std::vector<double> twoTheta, lineEsd;
        for (const Given &line : lines) {
            twoTheta.push_back(line.twoTheta);
            lineEsd.push_back(line.esd);
            result->given.push_back(line.value);
        }
        pk_index_options used = *options;
        if (asD) used.zero_window = 0.0;
        bool stopped = false;
        const auto report = [&](double fraction, const char *stage) {
            if (progress != nullptr && progress(context, std::min(1.0, fraction), stage) != 0) stopped = true;
            return stopped;
        };
        ix::SearchOutcome outcome = ix::searchCells(twoTheta, lineEsd, lambda, used, report);
        result->stopped = outcome.stopped;
        notes << outcome.notes;
        result->candidates = std::move(outcome.candidates);
        for (std::size_t c = 0; c < result->candidates.size(); ++c) {
            std::vector<ix::ExtinctionClass> classes;
            if (c < kSymbolCandidates) {
                const ix::Candidate &candidate = result->candidates[c];
                std::vector<std::vector<ix::Hkl>> observed =
                    ix::reflexionsOfLines(candidate.fit, outcome.lines, lambda, ix::largestAllowed(outcome.lines));
                std::vector<std::vector<ix::Hkl>> indexedLines;
                for (std::size_t i = 0; i < observed.size(); ++i)
                    if (candidate.fit.indexed[i]) indexedLines.push_back(observed[i]);
                // The possible lines up to the last line, each its reflexions.
                std::vector<std::vector<ix::Hkl>> possible;
                double last = -1.0;
                const double qMax = outcome.lines.back().q;
                for (const ix::Reflexion &r : ix::reflexionsUpTo(candidate.fit.system, candidate.fit.parameters, qMax)) {
                    if (possible.empty() || r.q - last > 1e-9 * r.q) possible.emplace_back();
                    possible.back().push_back(r.hkl);
                    last = r.q;
                }
                classes = ix::consistentExtinctionClasses(candidate.fit.system, indexedLines, possible);
            }
            result->classes.push_back(std::move(classes));
        }
        // Le Bail fits of the best candidates.
        if (measured != nullptr && instrument != nullptr && options->le_bail_count > 0 && !result->stopped) {
            if (instrument->axis != PK_AXIS_TWO_THETA) {
                notes << "no Le Bail fits: the pattern is not on a 2θ axis\n";
            } else {
                int ran = 0;
                for (std::size_t c = 0; c < result->candidates.size() && ran < options->le_bail_count; ++c) {
                    ix::Candidate &candidate = result->candidates[c];
                    if (report(0.99, "Le Bail fits")) break;
                    std::string failure;
                    candidate.leBailRwp = ix::leBailCheck(candidate, *measured, *instrument, [&] { return report(0.99, "Le Bail fits"); }, failure);
                    if (!failure.empty()) notes << "Le Bail fit of candidate " << c + 1 << " failed: " << failure << "\n";
                    ++ran;
                }
                if (stopped) result->stopped = true;
            }
        }
        if (progress != nullptr && !result->stopped) progress(context, 1.0, "done");
        result->notes = notes.str();
        *indexing = result.release();
    });
}

void pk_indexing_free(pk_indexing *indexing) { delete indexing; }

int32_t pk_indexing_candidate_count(const pk_indexing *indexing) {
    return indexing == nullptr ? 0 : static_cast<int32_t>(indexing->candidates.size());
}

int32_t pk_indexing_candidate(const pk_indexing *indexing, int32_t rank, pk_index_candidate *candidate,
                              pk_error *error) {
    return guarded(error, [&] {
        requireArgument(indexing, "indexing");
        requireArgument(candidate, "candidate");
        const ix::Candidate &c = indexing->candidates[requireIndex(rank, indexing->candidates.size(), "candidate rank")];
        pk_index_candidate out{};
        out.system = static_cast<int32_t>(c.fit.system);
        out.centring = c.centring;
        std::copy(c.cell.begin(), c.cell.end(), out.cell);
        std::copy(c.cellEsd.begin(), c.cellEsd.end(), out.cell_esd);
        std::copy(c.reducedCell.begin(), c.reducedCell.end(), out.reduced_cell);
        out.volume = c.volume;
        out.zero = c.fit.zero;
        out.M20 = c.figures.M20;
        out.F_N = c.figures.FN;
        out.N = c.figures.N;
        out.mean_error = c.figures.meanError;
        out.possible_lines = c.figures.possible;
        out.indexed = static_cast<int32_t>(std::count(c.fit.indexed.begin(), c.fit.indexed.end(), true));
        out.unindexed = c.fit.unindexedSearched;
        out.supercell_of = c.supercellOf;
        out.subcell_of = c.subcellOf;
        out.le_bail_rwp = c.leBailRwp;
        *candidate = out;
    });
}

int32_t pk_indexing_unindexed(const pk_indexing *indexing, int32_t rank, double *positions, int32_t capacity,
                              int32_t *written, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(indexing, "indexing");
        const ix::Candidate &c = indexing->candidates[requireIndex(rank, indexing->candidates.size(), "candidate rank")];
        std::vector<double> left;
        const std::size_t searched = std::min<std::size_t>(c.fit.indexed.size(), 60);
        for (std::size_t i = 0; i < searched && static_cast<int>(left.size()) < c.fit.unindexedSearched; ++i)
            if (!c.fit.indexed[i]) left.push_back(indexing->given[i]);
        copyOut(left, positions, capacity, written, "positions");
    });
}

int32_t pk_indexing_line_indices(const pk_indexing *indexing, int32_t rank, int32_t *hkl, int32_t capacity,
                                 int32_t *written, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(indexing, "indexing");
        const ix::Candidate &c = indexing->candidates[requireIndex(rank, indexing->candidates.size(), "candidate rank")];
        const std::size_t count = c.fit.hkl.size();
        if (written != nullptr) *written = static_cast<int32_t>(count);
        if (capacity < static_cast<int32_t>(count))
            fail(PK_ERROR_ARGUMENT, "capacity = " + std::to_string(capacity) + " is below the " + std::to_string(count) + " lines");
        requireArgument(hkl, "hkl");
        for (std::size_t i = 0; i < count; ++i)
            for (int j = 0; j < 3; ++j) hkl[3 * i + static_cast<std::size_t>(j)] = c.fit.hkl[i][static_cast<std::size_t>(j)];
    });
}

int32_t pk_indexing_extinction_count(const pk_indexing *indexing, int32_t rank) {
    if (indexing == nullptr || rank < 0 || static_cast<std::size_t>(rank) >= indexing->classes.size()) return 0;
    return static_cast<int32_t>(indexing->classes[static_cast<std::size_t>(rank)].size());
}

int32_t pk_indexing_extinction(const pk_indexing *indexing, int32_t rank, int32_t index, pk_extinction_class *symbol,
                               pk_error *error) {
    return guarded(error, [&] {
        requireArgument(indexing, "indexing");
        requireArgument(symbol, "symbol");
        const auto &classes = indexing->classes[requireIndex(rank, indexing->classes.size(), "candidate rank")];
        const ix::ExtinctionClass &c = classes[requireIndex(index, classes.size(), "extinction symbol index")];
        pk_extinction_class out{};
        std::snprintf(out.symbol, sizeof out.symbol, "%s", c.symbol.c_str());
        std::string groups;
        for (const std::string &group : c.groups) {
            const std::string next = groups.empty() ? group : groups + ", " + group;
            if (next.size() + 4 >= sizeof out.groups) {
                groups += ", …";
                break;
            }
            groups = next;
        }
        std::snprintf(out.groups, sizeof out.groups, "%s", groups.c_str());
        out.absent_lines = c.absentLines;
        out.ambiguous_lines = c.ambiguousLines;
        *symbol = out;
    });
}

int32_t pk_indexing_line_count(const pk_indexing *indexing) {
    return indexing == nullptr ? 0 : static_cast<int32_t>(indexing->given.size());
}

int32_t pk_indexing_lines(const pk_indexing *indexing, double *positions, int32_t capacity, int32_t *written,
                          pk_error *error) {
    return guarded(error, [&] {
        requireArgument(indexing, "indexing");
        copyOut(indexing->given, positions, capacity, written, "positions");
    });
}

int32_t pk_indexing_stopped(const pk_indexing *indexing) { return indexing != nullptr && indexing->stopped ? 1 : 0; }

const char *pk_indexing_notes(const pk_indexing *indexing) { return indexing == nullptr ? "" : indexing->notes.c_str(); }

}  // extern "C"
