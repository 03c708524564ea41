// The lattice search by successive dichotomy. A box of reciprocal-metric
// parameters gives each reflexion an exact range of Q = Σ c_j p_j (the sum of
// each c_j p_j at the end of p_j's interval that makes it least, or most);
// a line is explained by the box when some reflexion's range reaches within
// its tolerance. Every cell inside the box explains at most the lines the box
// explains, so dropping a box that leaves too many lines unexplained loses
// no solution. Reflexions whose range meets no line are dropped for the
// box's halves, whose ranges lie within the parent's.
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "indexing/indexing.hpp"

namespace powderkit::indexing {
namespace {

// Closed intervals and the arithmetic that bounds the volume over a box.
struct Interval {
    double lo, hi;
};
Interval operator+(Interval a, Interval b) { return {a.lo + b.lo, a.hi + b.hi}; }
Interval operator-(Interval a, Interval b) { return {a.lo - b.hi, a.hi - b.lo}; }
Interval operator*(Interval a, Interval b) {
    const double v[4] = {a.lo * b.lo, a.lo * b.hi, a.hi * b.lo, a.hi * b.hi};
    return {*std::min_element(v, v + 4), *std::max_element(v, v + 4)};
}
Interval scaled(Interval a, double s) { return s >= 0 ? Interval{a.lo * s, a.hi * s} : Interval{a.hi * s, a.lo * s}; }

// det G* = 1/V² over the box.
Interval metricDeterminant(LatticeSystem system, const std::vector<Interval> &p) {
    switch (system) {
    case LatticeSystem::Cubic: return p[0] * p[0] * p[0];
    case LatticeSystem::Tetragonal: return p[0] * p[0] * p[1];
    case LatticeSystem::Hexagonal: return scaled(p[0] * p[0] * p[1], 0.75);
    case LatticeSystem::Orthorhombic: return p[0] * p[1] * p[2];
    case LatticeSystem::Monoclinic: return p[1] * (p[0] * p[2] - scaled(p[3] * p[3], 0.25));
    case LatticeSystem::Triclinic:
        return p[0] * p[1] * p[2] + scaled(p[3] * p[4] * p[5], 0.25) -
               scaled(p[0] * p[3] * p[3] + p[1] * p[4] * p[4] + p[2] * p[5] * p[5], 0.25);
    }
    return {0.0, 0.0};
}

double magnitudeLow(Interval a) { return a.lo > 0 ? a.lo : (a.hi < 0 ? -a.hi : 0.0); }

// The reduction conditions each system's cells are searched in (every
// lattice has a cell that meets them), and the volume limits: false when no
// point of the box can meet them.
bool admissible(LatticeSystem system, const std::vector<Interval> &p, const SearchLimits &limits) {
    switch (system) {
    case LatticeSystem::Orthorhombic:  // a ≤ b ≤ c
        if (p[0].hi < p[1].lo || p[1].hi < p[2].lo) return false;
        break;
    case LatticeSystem::Monoclinic:  // a* ≤ c*, 0 ≤ 2a*c* cos β* ≤ a*²: β from 90° to 120°
        if (p[0].lo > p[2].hi || p[3].lo > p[0].hi) return false;
        break;
    case LatticeSystem::Triclinic:  // the Buerger-reduced reciprocal cell
        if (p[0].lo > p[1].hi || p[1].lo > p[2].hi) return false;
        if (magnitudeLow(p[5]) > p[0].hi || magnitudeLow(p[4]) > p[0].hi || magnitudeLow(p[3]) > p[1].hi)
            return false;
        if (-(p[3].hi + p[4].hi + p[5].hi) > p[0].hi + p[1].hi) return false;
        break;
    default: break;
    }
    // No edge below kShortestEdge. A diagonal term is 1/a² (4/(3a²) on
    // hexagonal axes) for every system but monoclinic, whose a² = 4C/S and
    // c² = 4A/S with S = 4AC − E² (b² = 1/B as elsewhere).
    const double edge2 = kShortestEdge * kShortestEdge;
    switch (system) {
    case LatticeSystem::Triclinic: break;
    case LatticeSystem::Monoclinic: {
        const Interval S = scaled(p[0] * p[2], 4.0) - p[3] * p[3];
        if (p[1].lo * edge2 > 1.0 || S.lo * edge2 > 4.0 * p[0].hi || S.lo * edge2 > 4.0 * p[2].hi) return false;
        break;
    }
    case LatticeSystem::Hexagonal:
        if (p[0].lo * edge2 > 4.0 / 3.0 || p[1].lo * edge2 > 1.0) return false;
        break;
    default:
        for (int j = 0; j < parameterCount(system); ++j) {
            if (p[static_cast<std::size_t>(j)].lo * edge2 > 1.0) return false;
        }
    }
    const Interval det = metricDeterminant(system, p);
    if (det.hi <= 0.0) return false;
    if (limits.volumeMax > 0.0 && det.hi < 1.0 / (limits.volumeMax * limits.volumeMax)) return false;
    if (limits.volumeMin > 0.0 && det.lo > 1.0 / (limits.volumeMin * limits.volumeMin)) return false;
    return true;
}

struct Term {
    std::array<double, 6> c;
    Hkl hkl;
};

struct Box {
    std::vector<Interval> p;
    std::vector<int> terms;
    double fraction;  // of the whole space
    int depth;
};

// The distinct coefficient rows of the reflexions that can reach the lines.
std::vector<Term> searchTerms(LatticeSystem system, double qTop, double axisMax) {
    // h = q·a, so |h| ≤ √Q_max · a_max for every index.
    const int limit = static_cast<int>(std::ceil(std::sqrt(qTop) * axisMax));
    std::map<std::array<double, 6>, Hkl> distinct;
    for (const Hkl &hkl : indexBox(system, limit)) distinct.emplace(coefficients(system, hkl), hkl);
    std::vector<Term> terms;
    terms.reserve(distinct.size());
    for (const auto &entry : distinct) terms.push_back({entry.first, entry.second});
    return terms;
}

}  // namespace

double cellVolume(LatticeSystem system, const std::vector<double> &parameters) {
    std::vector<Interval> p;
    for (double v : parameters) p.push_back({v, v});
    const double det = metricDeterminant(system, p).lo;
    return det > 0.0 ? 1.0 / std::sqrt(det) : std::nan("");
}

bool dichotomySearch(LatticeSystem system, const std::vector<Line> &lines, const SearchLimits &limits,
                     const LeafVisitor &leaf, const SearchProgress &progress) {
    const int n = parameterCount(system);
    const bool withZero = limits.zeroWindow > 0.0;
    const int dimensions = n + (withZero ? 1 : 0);
    const int lineCount = static_cast<int>(lines.size());
    if (lineCount <= limits.maxUnindexed) return true;
    // A zero shift z moves line i to Q_i − s_i z (s_i = ∂Q/∂2θ): its window
    // over the box's z is [Q_i − s_i z_hi − e_i, Q_i − s_i z_lo + e_i].
    double errorMax = 0.0, slopeMax = 0.0;
    for (const Line &line : lines) {
        errorMax = std::max(errorMax, line.error);
        slopeMax = std::max(slopeMax, line.slope);
    }
    const double zw = withZero ? limits.zeroWindow : 0.0;
    const double qTop = lines.back().q + lines.back().error + lines.back().slope * zw;
    // The shortest reciprocal vector of a reduced cell is one of its axes,
    // and some line among the first maxUnindexed + 1 is indexed: the
    // smallest diagonal term is at most that line's Q.
    const Line &early = lines[static_cast<std::size_t>(limits.maxUnindexed)];
    const double smallestTop = early.q + early.error + early.slope * zw;
    const double diagonalLow = 1.0 / (limits.axisMax * limits.axisMax);
    // Below every system's largest diagonal term with no edge under
    // kShortestEdge (4/(3e²): hexagonal A, monoclinic A and C at β = 120°).
    const double diagonalHigh = system == LatticeSystem::Triclinic
                                    ? qTop
                                    : std::min(qTop, 4.0 / (3.0 * kShortestEdge * kShortestEdge));
    const std::vector<Term> terms = searchTerms(system, qTop, limits.axisMax);

    std::vector<Box> stack;
    const int diagonals = std::min(n, 3);
    const int offDiagonal = n - diagonals;
    for (int sign : {1, -1}) {
        if (sign < 0 && system != LatticeSystem::Triclinic) break;
        Box top;
        for (int j = 0; j < diagonals; ++j) top.p.push_back({diagonalLow, diagonalHigh});
        for (int j = 0; j < offDiagonal; ++j)
            top.p.push_back(sign > 0 ? Interval{0.0, qTop} : Interval{-qTop, 0.0});
        if (withZero) top.p.push_back({-zw, zw});
        top.terms.resize(terms.size());
        for (std::size_t t = 0; t < terms.size(); ++t) top.terms[t] = static_cast<int>(t);
        top.fraction = system == LatticeSystem::Triclinic ? 0.5 : 1.0;
        top.depth = 0;
        stack.push_back(std::move(top));
    }

    double done = 0.0;
    long visited = 0;
    std::vector<char> covered(lines.size());
    std::vector<double> narrowest(lines.size());  // per line, the narrowest range of Q reaching it
    std::vector<int> narrowestTerm(lines.size());  // and its reflexion
    std::set<std::vector<int>> assignments;       // of the leaves met: each gives its fit once
    while (!stack.empty()) {
        Box box = std::move(stack.back());
        stack.pop_back();
        if (++visited % 4096 == 1 && progress && progress(done)) return false;
        double smallestLow = box.p[0].lo;
        for (int j = 1; j < diagonals; ++j) smallestLow = std::min(smallestLow, box.p[j].lo);
        if (smallestLow > smallestTop || !admissible(system, box.p, limits)) {
            done += box.fraction;
            continue;
        }
        // Each reflexion's range of Q over the box, and the lines it reaches.
        std::fill(covered.begin(), covered.end(), 0);
        std::fill(narrowest.begin(), narrowest.end(), INFINITY);
        std::vector<int> kept;
        const Interval z = withZero ? box.p[static_cast<std::size_t>(n)] : Interval{0.0, 0.0};
        const double reach = errorMax + slopeMax * std::max(std::fabs(z.lo), std::fabs(z.hi));
        for (int t : box.terms) {
            const Term &term = terms[static_cast<std::size_t>(t)];
            double lo = 0.0, hi = 0.0;
            for (int j = 0; j < n; ++j) {
                const double a = term.c[j] * box.p[j].lo, b = term.c[j] * box.p[j].hi;
                lo += std::min(a, b);
                hi += std::max(a, b);
            }
            if (lo > qTop) continue;
            auto first = std::lower_bound(lines.begin(), lines.end(), lo - reach,
                                          [](const Line &line, double q) { return line.q < q; });
            bool reaches = false;
            for (auto it = first; it != lines.end() && it->q - reach <= hi; ++it) {
                if (it->q - it->slope * z.lo + it->error >= lo && it->q - it->slope * z.hi - it->error <= hi) {
                    const auto i = static_cast<std::size_t>(it - lines.begin());
                    covered[i] = 1;
                    if (hi - lo < narrowest[i]) {
                        narrowest[i] = hi - lo;
                        narrowestTerm[i] = t;
                    }
                    reaches = true;
                }
            }
            if (!reaches) continue;
            kept.push_back(t);
        }
        const int unexplained = lineCount - static_cast<int>(std::count(covered.begin(), covered.end(), 1));
        if (unexplained > limits.maxUnindexed) {
            done += box.fraction;
            continue;
        }
        // A leaf when every line it explains has a reflexion whose range,
        // widened by the zero shift's, lies within the line's tolerance:
        // each cell of the box then indexes them alike, and the fit takes it
        // from there. Otherwise the box is halved along the parameter that
        // widens such a line's narrowest range most. Reflexions no line
        // needs do not choose: halving for them would only walk along
        // directions the lines do not fix, into leaves by the hundred
        // thousand that all give one fit.
        std::vector<double> widest(static_cast<std::size_t>(dimensions), 0.0);
        bool small = true;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const double shift = lines[i].slope * (z.hi - z.lo);
            if (!covered[i] || narrowest[i] + shift <= lines[i].error) continue;
            small = false;
            const Term &term = terms[static_cast<std::size_t>(narrowestTerm[i])];
            for (int j = 0; j < n; ++j)
                widest[j] = std::max(widest[j], std::fabs(term.c[j]) * (box.p[j].hi - box.p[j].lo));
            if (withZero) widest[static_cast<std::size_t>(n)] = std::max(widest[static_cast<std::size_t>(n)], shift);
        }
        if (small || box.depth >= 80) {
            std::vector<double> centre(static_cast<std::size_t>(dimensions));
            for (int j = 0; j < dimensions; ++j) centre[j] = 0.5 * (box.p[j].lo + box.p[j].hi);
            std::vector<int> assignment(lines.size(), -1);
            for (std::size_t i = 0; i < lines.size(); ++i)
                if (covered[i]) assignment[i] = narrowestTerm[i];
            // Leaves with one assignment of reflexions to lines give one fit.
            if (assignments.insert(std::move(assignment)).second) {
                std::vector<Hkl> reflexions;
                for (int t : kept) reflexions.push_back(terms[static_cast<std::size_t>(t)].hkl);
                leaf(centre, reflexions);
            }
            done += box.fraction;
            continue;
        }
        const int split = static_cast<int>(std::max_element(widest.begin(), widest.end()) - widest.begin());
        Box upper{box.p, kept, box.fraction / 2, box.depth + 1};
        const double middle = 0.5 * (box.p[split].lo + box.p[split].hi);
        upper.p[split].lo = middle;
        box.p[split].hi = middle;
        box.terms = std::move(kept);
        box.fraction /= 2;
        box.depth += 1;
        stack.push_back(std::move(upper));
        stack.push_back(std::move(box));
    }
    if (progress) progress(1.0);
    return true;
}

}  // namespace powderkit::indexing
