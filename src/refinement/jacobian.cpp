// The Jacobian of the calculated pattern by the free parameters. Scales and
// background coefficients enter linearly: their columns are the phase at
// scale 1 and the Chebyshev polynomial T_k(u). Every other parameter moves
// positions, widths or intensities through the phase's reflexions, and its
// column is the central difference of the pattern rebuilt at ±h, where h is
// the parameter's step (the truncation error is O(h²), far below the
// counting noise; one-sided at a limit). The differenced columns may be
// shared among threads (options.threads), each on its own copy of the
// refinement: a column depends only on the values, so it is the same to the
// bit on any thread.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>

#include "boundary/boundary.hpp"
#include "refinement/column_shares.hpp"
#include "refinement/fit.hpp"

namespace powderkit::refinement {

namespace {

// The step of a parameter's difference: small against the precision the
// data give it, large against the round-off of the pattern.
double stepOf(const Parameter &parameter) {
    switch (parameter.target) {
    case Target::Cell:
        return parameter.index < 3 ? 1e-5 * std::fabs(parameter.value) : 1e-4;
    case Target::Coordinate:
        return 1e-5;
    case Target::Uiso:
        return 1e-5;
    case Target::Occupancy:
        return 1e-5;
    case Target::Profile:
        // The TOF terms (µs², µs, 1/µs) span many decades: a step relative to each.
        if (parameter.index >= 5) return 1e-5 * std::max(std::fabs(parameter.value), 1e-3);
        return parameter.index < 3 ? 1e-6 : 1e-5;
    case Target::Calibration:
        // difC ≈ 10⁴ µs/Å moves a peak by d·h µs: 1e-6 of it is ~0.02 µs at 2 Å.
        // difB moves a line by h / d µs: 1e-3 µs·Å is a thousandth of a µs at 1 Å.
        if (parameter.index == 2) return 1e-3;
        return parameter.index == 0 ? 1e-6 * std::max(std::fabs(parameter.value), 1.0) : 1e-4;
    case Target::Asymmetry:
        return 1e-5;
    case Target::Axial:
        // S/L and H/L lie near 0.01 … 0.05: truncation (h/S)² ≈ 1e-5, while the
        // quadrature's changing panel count (~1e-9 of a height) stays below h.
        return 1e-4;
    case Target::March:
        return 1e-5;
    case Target::Zero:
        return 1e-4;
    case Target::Displacement:
        return 1e-4;
    case Target::Absorption:
    case Target::RoughnessP:
    case Target::RoughnessQ:
        return 1e-5;
    case Target::Transparency:
        return 1e-4;
    case Target::Strain:
        // G* terms lie near 0.01 … 0.1 Å⁻²: 1e-7 is a few parts in a million of them.
        return 1e-7;
    default:
        return 1e-6;
    }
}

// The phases a parameter changes (all when it is the instrument's), its
// followers' included.
std::vector<bool> phasesOf(const pk_refinement &r, int index) {
    std::vector<bool> marked(r.phases.size(), false);
    for (std::size_t i = 0; i < r.parameters.size(); ++i) {
        const Parameter &parameter = r.parameters[i];
        if (static_cast<int>(i) != index && parameter.leader != index) continue;
        if (parameter.phase < 0) return std::vector<bool>(r.phases.size(), true);
        marked[static_cast<std::size_t>(parameter.phase)] = true;
    }
    return marked;
}

// The histograms of a joint refinement a parameter changes (all when it is
// shared, or followed from another histogram); empty for one pattern.
std::vector<bool> membersOf(const pk_refinement &r, int index) {
    if (!isJoint(r)) return {};
    std::vector<bool> marked(r.members.size(), false);
    for (std::size_t i = 0; i < r.parameters.size(); ++i) {
        const Parameter &parameter = r.parameters[i];
        if (static_cast<int>(i) != index && parameter.leader != index) continue;
        if (parameter.histogram < 0) return std::vector<bool>(r.members.size(), true);
        marked[static_cast<std::size_t>(parameter.histogram)] = true;
    }
    return marked;
}

// What evaluate() replaces in the marked phases (their peaks, unit patterns
// and densities), moved aside while the trial patterns are made and moved
// back once; in a joint refinement, the same of each marked member, and the
// calculated patterns the members' evaluations overwrite (`calculated`: the
// joint one and each member's; the background stays).
class Snapshot {
public:
    Snapshot(pk_refinement &r, const std::vector<bool> &phases, const std::vector<bool> &members, bool calculated)
        : phases_(phases), keptCalculated_(calculated), calculated_(calculated ? r.calculated : std::vector<double>{}) {
        for (std::size_t h = 0; h < r.members.size(); ++h) {
            if (members[h]) members_.emplace_back(h, Snapshot(r.members[h], phases, {}, true));
        }
        for (std::size_t p = 0; p < r.phases.size() && !isJoint(r); ++p) {
            if (phases[p]) kept_.push_back({std::move(r.phases[p].peaks), r.phases[p].unit, r.phases[p].density});
        }
    }
    void restore(pk_refinement &r) {
        for (auto &member : members_) member.second.restore(r.members[member.first]);
        std::size_t next = 0;
        for (std::size_t p = 0; p < r.phases.size() && !isJoint(r); ++p) {
            if (!phases_[p]) continue;
            r.phases[p].peaks = std::move(kept_[next].peaks);
            r.phases[p].unit.swap(kept_[next].unit);
            r.phases[p].density = kept_[next].density;
            ++next;
        }
        if (keptCalculated_) r.calculated.swap(calculated_);
    }

private:
    struct Kept {
        PhasePeaks peaks;
        std::vector<double> unit;
        double density;
    };
    std::vector<bool> phases_;
    bool keptCalculated_;
    std::vector<Kept> kept_;
    std::vector<std::pair<std::size_t, Snapshot>> members_;
    std::vector<double> calculated_;
};

// What of the calculated pattern parameter `index` moves, at `value`: on one
// pattern the marked phases at their scales (the background and the other
// phases cancel in the difference, so they are neither added nor copied);
// in a joint refinement the whole calculated pattern.
std::vector<double> movedPartAt(pk_refinement &r, int index, double value, const std::vector<bool> &phases,
                                const std::vector<bool> &members) {
    Parameter &parameter = r.parameters[static_cast<std::size_t>(index)];
    const double kept = parameter.value;
    parameter.value = value;
    std::vector<double> part;
    try {
        applyParameters(r);
        if (isJoint(r)) {
            evaluateMembers(r, phases, members);
            part = r.calculated;
        } else {
            rebuildPhases(r, phases);
            part.assign(r.x.size(), 0.0);
            for (std::size_t p = 0; p < r.phases.size(); ++p) {
                if (!phases[p]) continue;
                const double scale = r.phases[p].scale;
                const std::vector<double> &unit = r.phases[p].unit;
                for (std::size_t i = 0; i < part.size(); ++i) part[i] += scale * unit[i];
            }
        }
    } catch (...) {
        parameter.value = kept;
        throw;
    }
    parameter.value = kept;
    return part;
}

// The central difference of the pattern by parameter `index` into `column`
// (zero when neither side makes a pattern); the refinement's values
// and calculated pattern are as they were afterwards.
void differenceColumn(pk_refinement &r, int index, double *column) {
    const Parameter &parameter = r.parameters[static_cast<std::size_t>(index)];
    const std::vector<bool> phases = phasesOf(r, index);
    const std::vector<bool> members = membersOf(r, index);
    const double value = parameter.value;
    const double h = stepOf(parameter);
    double below = value - h;
    double above = value + h;
    if (below < parameter.lower) below = value;
    if (above > parameter.upper) above = value;
    // What the two trial patterns overwrite, put back afterwards.
    Snapshot kept(r, phases, members, isJoint(r));
    // A side whose values make no valid pattern (a width through zero)
    // gives way to the one-sided difference, from the part as it stands.
    std::vector<double> high, low;
    try {
        high = movedPartAt(r, index, above, phases, members);
    } catch (const phase::Failure &) {
        above = value;
    }
    try {
        low = movedPartAt(r, index, below, phases, members);
    } catch (const phase::Failure &) {
        below = value;
    }
    if (above > below) {
        if (high.empty() || low.empty()) {
            // One side failed: the other is differenced against the current values.
            (high.empty() ? high : low) = movedPartAt(r, index, value, phases, members);
        }
        for (std::size_t i = 0; i < high.size(); ++i) column[i] = (high[i] - low[i]) / (above - below);
    } else {
        std::fill(column, column + r.x.size(), 0.0);
    }
    applyParameters(r);
    kept.restore(r);
}

// A differenced column's work (see JacobianColumn).
std::int64_t workOf(const pk_refinement &r, int index, const std::vector<std::int64_t> &windowPoints) {
    const auto points = static_cast<std::int64_t>(r.x.size());
    if (isJoint(r)) return points;
    const std::vector<bool> phases = phasesOf(r, index);
    std::int64_t work = 10 * points;
    for (std::size_t p = 0; p < r.phases.size(); ++p) work += phases[p] ? 6 * windowPoints[p] : 0;
    return work;
}

// The column of a joint refinement's scale or background coefficient: each
// member's phase at scale 1 or Chebyshev polynomial, over that member's points,
// for every member parameter that follows it.
void jointLinearColumn(pk_refinement &r, int index, double *column) {
    for (std::size_t h = 0; h < r.members.size(); ++h) {
        pk_refinement &member = r.members[h];
        const std::vector<int> &of = r.histograms[h].parameterOf;
        for (std::size_t k = 0; k < of.size(); ++k) {
            const Parameter &joint = r.parameters[static_cast<std::size_t>(of[k])];
            if (of[k] != index && joint.leader != index) continue;
            const Parameter &given = member.parameters[k];
            const std::vector<double> &values = given.target == Target::Scale
                                                    ? member.phases[static_cast<std::size_t>(given.phase)].unit
                                                    : chebyshevColumn(member, given.index);
            double *out = column + r.histograms[h].first;
            for (std::size_t i = 0; i < values.size(); ++i) out[i] += values[i];
        }
    }
}

// The column of a scale or background coefficient, which the pattern
// follows linearly.
void linearColumn(pk_refinement &r, int index, const PolynomialOf &polynomialOf, double *column) {
    const Parameter &parameter = r.parameters[static_cast<std::size_t>(index)];
    const std::size_t count = r.x.size();
    if (isJoint(r)) {
        std::fill(column, column + count, 0.0);
        jointLinearColumn(r, index, column);
    } else if (parameter.target == Target::Scale) {
        std::fill(column, column + count, 0.0);
        const std::vector<bool> phases = phasesOf(r, index);
        for (std::size_t p = 0; p < r.phases.size(); ++p) {
            if (!phases[p]) continue;
            const std::vector<double> &unit = r.phases[p].unit;
            for (std::size_t i = 0; i < count; ++i) column[i] += unit[i];
        }
    } else {
        const double *polynomial = polynomialOf(parameter.index);
        std::copy(polynomial, polynomial + count, column);
    }
}

}  // namespace

Eigen::MatrixXd jacobian(pk_refinement &r, const std::vector<int> &free) {
    const auto count = static_cast<Eigen::Index>(r.x.size());
    // Every column is written whole below (the sums' columns zeroed first): no pass zeroes the matrix.
    Eigen::MatrixXd j(count, static_cast<Eigen::Index>(free.size()));
    std::vector<JacobianColumn> columns;
    const std::vector<std::int64_t> windows = isJoint(r) ? std::vector<std::int64_t>{} : windowPoints(r);
    for (std::size_t column = 0; column < free.size(); ++column) {
        const int index = free[column];
        const Target target = r.parameters[static_cast<std::size_t>(index)].target;
        const bool linear = target == Target::Scale || target == Target::Background;
        columns.push_back({index, static_cast<Eigen::Index>(column), linear,
                           linear ? 0 : workOf(r, index, windows)});
    }
    shareColumns(r, columns, linearColumn, differenceColumn, j);
    return j;
}

}  // namespace powderkit::refinement
