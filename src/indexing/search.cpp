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
    if (system == LatticeSystem::Triclinic) {
        // det G* ≤ ABC ≤ 2 det G* for a reduced cell (the bound reached by
        // the face-centred cubic lattice's): tight in A B C whatever the
        // width of D E F.
        const double vMax2 = limits.volumeMax * limits.volumeMax, vMin2 = limits.volumeMin * limits.volumeMin;
        if (limits.volumeMax > 0.0 && p[0].hi * p[1].hi * p[2].hi * vMax2 < 1.0) return false;
        if (limits.volumeMin > 0.0 && p[0].lo * p[1].lo * p[2].lo * vMin2 > 2.0) return false;
    }
    const Interval det = metricDeterminant(system, p);
    if (det.hi <= 0.0) return false;
    if (limits.volumeMax > 0.0 && det.hi < 1.0 / (limits.volumeMax * limits.volumeMax)) return false;
    if (limits.volumeMin > 0.0 && det.lo > 1.0 / (limits.volumeMin * limits.volumeMin)) return false;
    return true;
}

// The least Q a reflexion can have in a reduced cell of the box, beyond
// its interval sum: in the Buerger-reduced reciprocal cell A ≤ B ≤ C are the
// successive minima, so a vector off the a* line has Q ≥ B and one off the
// a*b* plane Q ≥ C; in the monoclinic cell the a*c* plane is reduced
// (|E| ≤ A ≤ C), so h k l with l ≠ 0 has Q ≥ k²B + C.
double floorOf(LatticeSystem system, const Hkl &hkl, const std::vector<Interval> &p) {
    switch (system) {
    case LatticeSystem::Triclinic:
        if (hkl[2] != 0) return p[2].lo;
        if (hkl[1] != 0) return p[1].lo;
        return 0.0;
    case LatticeSystem::Monoclinic:
        if (hkl[2] != 0) return hkl[1] * hkl[1] * p[1].lo + p[2].lo;
        return 0.0;
    default: return 0.0;
    }
}

// A reflexion's range of Q meeting a line's window at the zero shifts from … to.
struct Match {
    int line, term;
    double from, to, width;
};

// Whether some zero shift in z lets `need` of the lines be explained
// together (a line counted once however many reflexions explain it); if so,
// z becomes the range of those shifts. `matches` stay as they are.
struct ZeroSweep {
    std::vector<int> start, fill;  // per line, its first interval in `byLine`, and the next free
    std::vector<char> full;        // per line, explained at every shift
    std::vector<std::pair<double, double>> byLine;
    std::vector<std::pair<double, int>> events;
};
bool sharedZero(const std::vector<Match> &matches, int lineCount, int need, ZeroSweep &sweep, Interval &z) {
    std::vector<int> &start = sweep.start;
    start.assign(static_cast<std::size_t>(lineCount) + 1, 0);
    int whole = 0, some = 0;  // lines explained at every shift of z, at some
    std::vector<char> &full = sweep.full;
    full.assign(static_cast<std::size_t>(lineCount), 0);
    for (const Match &m : matches) {
        const auto line = static_cast<std::size_t>(m.line);
        if (start[line + 1]++ == 0) ++some;
        if (m.from <= z.lo && m.to >= z.hi && !full[line]) {
            full[line] = 1;
            ++whole;
        }
    }
    if (some < need) return false;   // too few lines at any shift
    if (whole >= need) return true;  // every shift serves: nothing to narrow
    for (int i = 0; i < lineCount; ++i) start[static_cast<std::size_t>(i) + 1] += start[static_cast<std::size_t>(i)];
    sweep.byLine.resize(matches.size());
    std::vector<int> &fill = sweep.fill;
    fill.assign(start.begin(), start.end() - 1);
    for (const Match &m : matches)
        sweep.byLine[static_cast<std::size_t>(fill[static_cast<std::size_t>(m.line)]++)] = {m.from, m.to};
    std::vector<std::pair<double, int>> &events = sweep.events;
    events.clear();
    for (int i = 0; i < lineCount; ++i) {
        const auto first = sweep.byLine.begin() + start[static_cast<std::size_t>(i)];
        const auto last = sweep.byLine.begin() + start[static_cast<std::size_t>(i) + 1];
        if (first == last) continue;
        if (full[static_cast<std::size_t>(i)]) {
            events.emplace_back(z.lo, 1);
            events.emplace_back(z.hi, -1);
            continue;
        }
        // The union of the line's shifts, as disjoint intervals.
        std::sort(first, last);
        double from = first->first, to = first->second;
        for (auto it = first + 1; it != last; ++it) {
            if (it->first > to) {
                events.emplace_back(from, 1);
                events.emplace_back(to, -1);
                from = it->first;
            }
            to = std::max(to, it->second);
        }
        events.emplace_back(from, 1);
        events.emplace_back(to, -1);
    }
    // Openings before closings at one shift: the intervals are closed.
    std::sort(events.begin(), events.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first < b.first : a.second > b.second;
    });
    int count = 0;
    double low = INFINITY, high = -INFINITY;
    for (const auto &[at, step] : events) {
        if (step < 0 && count >= need) high = at;
        count += step;
        if (step > 0 && count >= need && at < low) low = at;
    }
    if (!(low <= high)) return false;
    z = {low, high};
    return true;
}

struct Term {
    std::array<double, 6> c, size;  // the coefficients and their magnitudes
    Hkl hkl;
};

// A box is a leaf once each line's reflexion ranges over no more than this
// many times the line's tolerance. The least-squares fit from its centre
// settles such a box's lines on their reflexions; halving on to one
// tolerance cost more boxes than the fit (three to seven times as many on
// monoclinic and triclinic lists, most of them in the narrow valleys of
// cells that index all but a few lines).
constexpr double kLeafReach = 4.0;

struct Box {
    std::vector<Interval> p;
    std::vector<int> terms;
    double fraction;  // of the whole space
    int depth;
    std::array<int, 3> pinned{-1, -1, -1};  // the line each diagonal term sits on, or −1
};

// The distinct coefficient rows of the reflexions that can reach the lines.
std::vector<Term> searchTerms(LatticeSystem system, double qTop, double axisMax) {
    // h = q·a, so |h| ≤ √Q_max · a_max for every index.
    const int limit = static_cast<int>(std::ceil(std::sqrt(qTop) * axisMax));
    std::map<std::array<double, 6>, Hkl> distinct;
    for (const Hkl &hkl : indexBox(system, limit)) distinct.emplace(coefficients(system, hkl), hkl);
    std::vector<Term> terms;
    terms.reserve(distinct.size());
    for (const auto &entry : distinct) {
        Term term{entry.first, entry.first, entry.second};
        for (double &v : term.size) v = std::fabs(v);
        terms.push_back(term);
    }
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
    std::vector<int> allTerms(terms.size());
    for (std::size_t t = 0; t < terms.size(); ++t) allTerms[t] = static_cast<int>(t);
    const Interval zeroRange{-zw, zw};
    for (int sign : {1, -1}) {
        if (sign < 0 && system != LatticeSystem::Triclinic) break;
        if (system == LatticeSystem::Triclinic && limits.axesOffLines < 3) {
            // The reduced cell's axes on the lines: A on one of the first
            // maxUnindexed + 1 (or below them), B and C on any line (or
            // anywhere), at most axesOffLines of the three off the lines.
            // Each axis on a line starts as that line's window over the
            // zero shifts and stays within it as the zero narrows.
            const auto window = [&](int i) {
                const Line &l = lines[static_cast<std::size_t>(i)];
                return Interval{l.q - l.slope * zw - l.error, l.q + l.slope * zw + l.error};
            };
            const Interval aOff{diagonalLow, window(limits.maxUnindexed).hi}, off{diagonalLow, qTop};
            for (int i = -1; i <= limits.maxUnindexed; ++i)
                for (int j = -1; j < lineCount; ++j)
                    for (int k = -1; k < lineCount; ++k) {
                        if ((i < 0) + (j < 0) + (k < 0) > limits.axesOffLines) continue;
                        const Interval a = i < 0 ? aOff : window(i), b = j < 0 ? off : window(j),
                                       c = k < 0 ? off : window(k);
                        if (a.lo > b.hi || b.lo > c.hi) continue;  // A ≤ B ≤ C
                        Box top{{a, b, c}, allTerms, 0.0, 0, {i, j, k}};
                        // |D| ≤ B, |E| ≤ A, |F| ≤ A, one sign for all three.
                        for (double bound : {b.hi, a.hi, a.hi})
                            top.p.push_back(sign > 0 ? Interval{0.0, bound} : Interval{-bound, 0.0});
                        if (withZero) top.p.push_back(zeroRange);
                        stack.push_back(std::move(top));
                    }
            continue;
        }
        Box top{{}, allTerms, 0.0, 0, {-1, -1, -1}};
        for (int j = 0; j < diagonals; ++j) top.p.push_back({diagonalLow, diagonalHigh});
        for (int j = 0; j < offDiagonal; ++j) top.p.push_back(sign > 0 ? Interval{0.0, qTop} : Interval{-qTop, 0.0});
        if (withZero) top.p.push_back(zeroRange);
        stack.push_back(std::move(top));
    }
    for (Box &box : stack) box.fraction = 1.0 / static_cast<double>(stack.size());

    double done = 0.0;
    long visited = 0;
    std::vector<char> covered(lines.size());
    std::vector<double> narrowest(lines.size());  // per line, the narrowest range of Q reaching it
    std::vector<int> narrowestTerm(lines.size());  // and its reflexion
    std::set<std::vector<int>> assignments;       // of the leaves met: each gives its fit once
    std::vector<Match> matches;                   // with a zero shift: the (line, reflexion) pairs that meet
    ZeroSweep sweep;
    // The sweep pays where the zero is one dimension among four or more
    // (monoclinic 470 Å³ from cubic up: 5.8 s to 4.0 s); in the smaller
    // searches halving it is cheaper (tetragonal: 40 ms, 63 ms with the sweep).
    const bool sweepZero = withZero && n >= 3;
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
        Interval z = withZero ? box.p[static_cast<std::size_t>(n)] : Interval{0.0, 0.0};
        const double reach = errorMax + slopeMax * std::max(std::fabs(z.lo), std::fabs(z.hi));
        matches.clear();
        // Q over the box is the sum of c_j times each parameter's middle,
        // give or take the sum of |c_j| times its half-width.
        std::array<double, 6> mid{}, half{};
        for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j) {
            mid[j] = 0.5 * (box.p[j].lo + box.p[j].hi);
            half[j] = 0.5 * (box.p[j].hi - box.p[j].lo);
        }
        for (int t : box.terms) {
            const Term &term = terms[static_cast<std::size_t>(t)];
            double centre = 0.0, spread = 0.0;
            for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j) {
                centre += term.c[j] * mid[j];
                spread += term.size[j] * half[j];
            }
            double lo = centre - spread;
            const double hi = centre + spread;
            // In a reduced cell no reflexion is shorter than the axis it
            // leaves: those off the a* line reach B at least, those off the
            // a*b* plane (monoclinic: the a*c* plane's vectors off a*, plus
            // k²B) reach C.
            lo = std::max(lo, floorOf(system, term.hkl, box.p));
            if (lo > qTop) continue;
            auto first = std::lower_bound(lines.begin(), lines.end(), lo - reach,
                                          [](const Line &line, double q) { return line.q < q; });
            bool reaches = false;
            for (auto it = first; it != lines.end() && it->q - reach <= hi; ++it) {
                const auto i = static_cast<int>(it - lines.begin());
                if (sweepZero) {
                    // The zero shifts at which the line's window meets the range.
                    const double from = std::max(z.lo, (it->q - it->error - hi) / it->slope);
                    const double to = std::min(z.hi, (it->q + it->error - lo) / it->slope);
                    if (from <= to) matches.push_back({i, t, from, to, hi - lo});
                    continue;
                }
                if (it->q - it->slope * z.lo + it->error >= lo && it->q - it->slope * z.hi - it->error <= hi) {
                    covered[static_cast<std::size_t>(i)] = 1;
                    if (hi - lo < narrowest[static_cast<std::size_t>(i)]) {
                        narrowest[static_cast<std::size_t>(i)] = hi - lo;
                        narrowestTerm[static_cast<std::size_t>(i)] = t;
                    }
                    reaches = true;
                }
            }
            if (reaches) kept.push_back(t);
        }
        if (sweepZero) {
            // One zero shift serves every line: the shifts at which enough
            // lines are explained together bound the box's zero, and a box
            // where no shift explains enough is dropped.
            if (!sharedZero(matches, lineCount, lineCount - limits.maxUnindexed, sweep, z)) {
                done += box.fraction;
                continue;
            }
            box.p[static_cast<std::size_t>(n)] = z;
            // An axis on a line stays within that line's window over the
            // zero shifts left.
            bool empty = false;
            for (std::size_t a = 0; a < 3; ++a) {
                if (box.pinned[a] < 0) continue;
                const Line &line = lines[static_cast<std::size_t>(box.pinned[a])];
                Interval &axis = box.p[a];
                axis.lo = std::max(axis.lo, line.q - line.slope * z.hi - line.error);
                axis.hi = std::min(axis.hi, line.q - line.slope * z.lo + line.error);
                empty = empty || axis.lo > axis.hi;
            }
            if (empty) {
                done += box.fraction;
                continue;
            }
            int last = -1;
            for (const Match &m : matches) {
                if (m.to < z.lo || m.from > z.hi) continue;
                const auto i = static_cast<std::size_t>(m.line);
                covered[i] = 1;
                if (m.width < narrowest[i]) {
                    narrowest[i] = m.width;
                    narrowestTerm[i] = m.term;
                }
                if (m.term != last) kept.push_back(m.term);
                last = m.term;
            }
        }
        const int unexplained = lineCount - static_cast<int>(std::count(covered.begin(), covered.end(), 1));
        if (unexplained > limits.maxUnindexed) {
            done += box.fraction;
            continue;
        }
        // A leaf when every line it explains has a reflexion whose range,
        // widened by the zero shift's, lies within kLeafReach times the
        // line's tolerance: the fit takes it from there. Otherwise the box
        // is halved along the parameter that widens such a line's narrowest
        // range most. Reflexions no line
        // needs do not choose: halving for them would only walk along
        // directions the lines do not fix, into leaves by the hundred
        // thousand that all give one fit.
        std::vector<double> widest(static_cast<std::size_t>(dimensions), 0.0);
        bool small = true;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const double shift = lines[i].slope * (z.hi - z.lo);
            if (!covered[i] || narrowest[i] + shift <= kLeafReach * lines[i].error) continue;
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
        Box upper{box.p, kept, box.fraction / 2, box.depth + 1, box.pinned};
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
