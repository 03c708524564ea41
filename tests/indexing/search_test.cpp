// Indexing against peak lists simulated from known cells: the positions come
// from the cells' reciprocal vectors (cross products here, not the search's
// metric), with a zero shift, errors of ±0.015°, weak lines missing and lines
// of an impurity; a candidate is the true lattice when its possible lines
// (its cell and centring) are the truth's. The figures of merit are checked
// against a list worked by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ostream>
#include <random>
#include <utility>
#include <vector>

#include "indexing/indexing.hpp"
#include "powderkit_phase.h"

namespace {

using Cell = std::array<double, 6>;
constexpr double kLambda = 1.5406;
constexpr double kPi = 3.14159265358979323846;

using Vector = std::array<double, 3>;
Vector cross(const Vector &a, const Vector &b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vector &a, const Vector &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

bool allowed(char centring, int h, int k, int l) {
    switch (centring) {
    case 'I': return (h + k + l) % 2 == 0;
    case 'F': return (h + k) % 2 == 0 && (k + l) % 2 == 0;
    case 'C': return (h + k) % 2 == 0;
    case 'R': return (-h + k + l) % 3 == 0;
    default: return true;
    }
}

// The distinct 1/d² of a cell's reflexions up to qMax: a* = (b × c)/V, ….
std::vector<double> linesOf(const Cell &cell, char centring, double qMax) {
    const double ca = std::cos(cell[3] * kPi / 180), cb = std::cos(cell[4] * kPi / 180),
                 cg = std::cos(cell[5] * kPi / 180), sg = std::sin(cell[5] * kPi / 180);
    const Vector a{cell[0], 0, 0}, b{cell[1] * cg, cell[1] * sg, 0};
    const double cx = cell[2] * cb, cy = cell[2] * (ca - cb * cg) / sg;
    const Vector c{cx, cy, std::sqrt(cell[2] * cell[2] - cx * cx - cy * cy)};
    const double volume = dot(a, cross(b, c));
    const Vector as = cross(b, c), bs = cross(c, a), cs = cross(a, b);
    std::vector<double> q;
    for (int h = -25; h <= 25; ++h)
        for (int k = -25; k <= 25; ++k)
            for (int l = -25; l <= 25; ++l) {
                if ((h == 0 && k == 0 && l == 0) || !allowed(centring, h, k, l)) continue;
                Vector s{};
                for (int j = 0; j < 3; ++j) s[j] = (h * as[j] + k * bs[j] + l * cs[j]) / volume;
                if (dot(s, s) <= qMax) q.push_back(dot(s, s));
            }
    std::sort(q.begin(), q.end());
    std::vector<double> distinct;
    for (double v : q)
        if (distinct.empty() || v - distinct.back() > 1e-9 * v) distinct.push_back(v);
    return distinct;
}

double twoTheta(double q) { return 2 * std::asin(kLambda * std::sqrt(q) / 2) * 180 / kPi; }

// A measured-like peak list: zero shift 0.05°, errors within ±0.015°, every
// sixth line too weak to see, lines closer than 0.05° seen as one, the
// impurities' lines added; the first `count` lines.
std::vector<double> peakList(const Cell &cell, char centring, std::size_t count, std::vector<double> impurities = {}) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> error(-0.015, 0.015);
    std::vector<double> seen;
    const std::vector<double> q = linesOf(cell, centring, 1.2);
    for (std::size_t i = 0; i < q.size(); ++i) {
        const double position = twoTheta(q[i]) + 0.05;
        if (i % 6 == 4 || (!seen.empty() && position - seen.back() < 0.05)) continue;
        seen.push_back(position);
    }
    for (double &position : seen) position += error(random);
    seen.insert(seen.end(), impurities.begin(), impurities.end());
    std::sort(seen.begin(), seen.end());
    seen.resize(std::min(count, seen.size()));
    return seen;
}

struct Indexing {
    pk_indexing *result = nullptr;
    Indexing() = default;
    Indexing(Indexing &&other) noexcept : result(std::exchange(other.result, nullptr)) {}
    Indexing &operator=(Indexing &&) = delete;
    ~Indexing() { pk_indexing_free(result); }
};

// The search on `lines` (2θ at kLambda; d when `wavelength` is 0); a refusal
// fails the test, naming why.
Indexing indexed(const std::vector<double> &lines, const pk_index_options &options, const double *esd = nullptr,
                 double wavelength = kLambda) {
    Indexing indexing;
    pk_error error{};
    EXPECT_EQ(pk_index(lines.data(), esd, static_cast<int32_t>(lines.size()), wavelength, nullptr, nullptr, &options,
                       nullptr, nullptr, &indexing.result, &error),
              PK_OK)
        << error.message;
    return indexing;
}

pk_index_options optionsFor(int systems) {
    pk_index_options options;
    pk_index_options_default(&options);
    options.systems = systems;
    return options;
}

// Whether a candidate is the truth's lattice: the same possible lines, each
// of one list within 0.2 % in Q (0.1 % in d) of one of the other.
bool sameLines(const pk_index_candidate &candidate, const Cell &truth, char centring) {
    const double qMax = 0.25;
    const Cell found{candidate.cell[0], candidate.cell[1], candidate.cell[2],
                     candidate.cell[3], candidate.cell[4], candidate.cell[5]};
    const std::vector<double> a = linesOf(found, candidate.centring, qMax), b = linesOf(truth, centring, qMax * 0.99);
    const auto within = [](const std::vector<double> &list, double q) {
        return std::any_of(list.begin(), list.end(), [q](double v) { return std::fabs(v - q) <= 2e-3 * q; });
    };
    return std::all_of(b.begin(), b.end(), [&](double q) { return within(a, q); }) &&
           std::all_of(a.begin(), a.end(), [&](double q) { return q > qMax * 0.98 || within(b, q); });
}

struct Case {
    const char *name;
    int systems;  // the true system and those it is confused with
    Cell cell;
    char centring;
    int impurities;
    double volumeMax;  // Å³, twice the cell's or more (sub- and supercells inside); 0: from the lines
};

// By name: the raw bytes gtest would print otherwise hold the record's padding.
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class TrueCellRanksFirst : public ::testing::TestWithParam<Case> {};

TEST_P(TrueCellRanksFirst, WithItsCentringAndM20AboveTwenty) {
    const Case &c = GetParam();
    std::vector<double> impurities;
    if (c.impurities > 0) impurities = {22.37, 31.91};
    const std::vector<double> lines = peakList(c.cell, c.centring, 25, impurities);
    pk_index_options options = optionsFor(c.systems);
    options.volume_max = c.volumeMax;
    const Indexing indexing = indexed(lines, options);
    pk_error error{};
    ASSERT_GT(pk_indexing_candidate_count(indexing.result), 0) << pk_indexing_notes(indexing.result);
    pk_index_candidate best{};
    ASSERT_EQ(pk_indexing_candidate(indexing.result, 0, &best, &error), PK_OK);
    // A triclinic cell's lines are too dense to tell it by them: its reduced cell is compared.
    if (c.systems == PK_SYSTEM_TRICLINIC) {
        for (int k = 0; k < 6; ++k) EXPECT_NEAR(best.reduced_cell[k], c.cell[k], k < 3 ? 0.02 : 0.3) << k;
    } else {
        EXPECT_TRUE(sameLines(best, c.cell, c.centring))
            << c.name << ": best " << best.cell[0] << " " << best.cell[1] << " " << best.cell[2] << " " << best.cell[3]
            << " " << best.cell[4] << " " << best.cell[5] << " " << best.centring;
    }
    EXPECT_EQ(best.centring, c.centring);
    EXPECT_GT(best.M20, 20.0);
    EXPECT_NEAR(best.zero, 0.05, 0.02);
    EXPECT_EQ(best.unindexed, c.impurities > 0 ? 2 : 0);
    if (c.impurities > 0) {
        double left[4];
        int32_t written = 0;
        ASSERT_EQ(pk_indexing_unindexed(indexing.result, 0, left, 4, &written, &error), PK_OK);
        ASSERT_EQ(written, 2);
        EXPECT_DOUBLE_EQ(left[0], 22.37);
        EXPECT_DOUBLE_EQ(left[1], 31.91);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EverySystem, TrueCellRanksFirst,
    ::testing::Values(
        Case{"cubic F (spinel-like)", PK_SYSTEM_CUBIC | PK_SYSTEM_TETRAGONAL, {8.08, 8.08, 8.08, 90, 90, 90}, 'F', 0, 0},
        Case{"tetragonal I", PK_SYSTEM_TETRAGONAL | PK_SYSTEM_ORTHORHOMBIC, {7.1, 7.1, 5.3, 90, 90, 90}, 'I', 0, 0},
        // An orthohexagonal C cell (a, a√3, c) indexes the same lines: the hexagonal one is kept.
        Case{"hexagonal P", PK_SYSTEM_HEXAGONAL | PK_SYSTEM_ORTHORHOMBIC, {5.0, 5.0, 7.9, 90, 90, 120}, 'P', 0, 0},
        Case{"rhombohedral on hexagonal axes", PK_SYSTEM_HEXAGONAL, {6.9, 6.9, 11.2, 90, 90, 120}, 'R', 0, 0},
        Case{"orthorhombic P with two impurity lines", PK_SYSTEM_ORTHORHOMBIC, {5.1, 7.3, 9.8, 90, 90, 90}, 'P', 2, 800},
        Case{"orthorhombic C", PK_SYSTEM_ORTHORHOMBIC, {5.6, 7.3, 9.1, 90, 90, 90}, 'C', 0, 0},
        // β far from 90°: the reduced cell (β 107.7°) is the one found.
        Case{"monoclinic P, β 125.5°", PK_SYSTEM_MONOCLINIC, {7.9, 5.6, 9.4, 90, 125.5, 90}, 'P', 0, 0},
        // Niggli-reduced as given, so the candidate's reduced cell is this one:
        // all angles obtuse (2|b·c| = 26.7 ≤ b² = 54.8, 2|a·c| = 13.2 and
        // 2|a·b| = 27.0 ≤ a² = 37.2, their sum 66.9 ≤ a² + b²), 382 Å³, whose
        // reciprocal angles are acute; and all acute (2|b·c| = 8.8 ≤ 31.4,
        // 2|a·c| = 12.8 and 2|a·b| = 14.3 ≤ 24.0), 203 Å³, each cosine above
        // the product of the other two, so that the reciprocal ones are obtuse.
        Case{"triclinic P, obtuse", PK_SYSTEM_TRICLINIC, {6.1, 7.4, 9.2, 101.3, 96.8, 107.4}, 'P', 0, 0},
        Case{"triclinic P, acute", PK_SYSTEM_TRICLINIC, {4.9, 5.6, 7.8, 84.2, 80.4, 74.9}, 'P', 0, 0}));

TEST(Indexing, TooManyImpurityLinesFindNoSoundCell) {
    // Three lines of an impurity where two may stay unindexed: the true cell
    // cannot be found with all its lines, and nothing is claimed in its place.
    const Cell cell{5.1, 7.3, 9.8, 90, 90, 90};
    const std::vector<double> lines = peakList(cell, 'P', 25, {22.37, 27.63, 31.91});
    pk_index_options options = optionsFor(PK_SYSTEM_ORTHORHOMBIC);
    options.volume_max = 800;  // twice the cell's
    const Indexing indexing = indexed(lines, options);
    for (int32_t rank = 0; rank < pk_indexing_candidate_count(indexing.result); ++rank) {
        pk_index_candidate candidate{};
        pk_indexing_candidate(indexing.result, rank, &candidate, nullptr);
        EXPECT_FALSE(sameLines(candidate, cell, 'P'));
        EXPECT_FALSE(candidate.unindexed == 0 && candidate.M20 >= 20.0) << "a sound cell claimed: " << candidate.cell[0];
    }
}

TEST(Indexing, ALineWithALargeEsdIsToleratedWhereATightOneIsNot) {
    // The sixth line moved 0.08° off, beyond the 0.03° allowed: with an esd
    // of 0.002° it stays unindexed (the one line allowed), with 0.04° (three
    // esd's 0.12°) it is indexed. The other lines' esd's are below a third
    // of 0.03° and change nothing.
    const Cell cell{8.08, 8.08, 8.08, 90, 90, 90};
    std::vector<double> lines = peakList(cell, 'F', 20);
    lines[5] += 0.08;
    pk_index_options options = optionsFor(PK_SYSTEM_CUBIC);
    options.max_unindexed = 1;
    for (double esd : {0.002, 0.04}) {
        std::vector<double> esds(lines.size(), 0.002);
        esds[5] = esd;
        const Indexing indexing = indexed(lines, options, esds.data());
        pk_index_candidate best{};
        ASSERT_EQ(pk_indexing_candidate(indexing.result, 0, &best, nullptr), PK_OK);
        EXPECT_NEAR(best.cell[0], 8.08, 0.01) << esd;
        double left[2] = {0, 0};
        int32_t written = -1;
        ASSERT_EQ(pk_indexing_unindexed(indexing.result, 0, left, 2, &written, nullptr), PK_OK);
        EXPECT_EQ(written, esd < 0.01 ? 1 : 0) << esd;
        if (esd < 0.01) {
            EXPECT_DOUBLE_EQ(left[0], lines[5]);
        }
    }
}

// A primitive cubic cell (LaB6-like, a = 4.1569 Å) searched as cubic and
// tetragonal: the cubic cell ranks first, and the tetragonal cell of half its
// volume, a/√2 × a/√2 × a (its lattice holds the cubic one: 2h² + 2k² + l²
// takes every value h² + k² + l² does below 7), indexes the same lines and is
// named its sub-cell. pk_indexing_lines gives back the lines used, ascending.
TEST(Indexing, ASubCellIsNamedBesideTheCellItDerivesFrom) {
    const double a = 4.1569;
    const std::vector<double> lines = peakList({a, a, a, 90, 90, 90}, 'P', 20);
    pk_index_options options = optionsFor(PK_SYSTEM_CUBIC | PK_SYSTEM_TETRAGONAL);
    const Indexing indexing = indexed(lines, options);
    pk_error error{};
    pk_index_candidate best{};
    ASSERT_EQ(pk_indexing_candidate(indexing.result, 0, &best, &error), PK_OK);
    EXPECT_EQ(best.system, PK_SYSTEM_CUBIC);
    EXPECT_NEAR(best.cell[0], a, 2e-3);
    EXPECT_EQ(best.subcell_of, -1);
    EXPECT_EQ(best.supercell_of, -1);
    bool named = false;
    for (int32_t rank = 1; rank < pk_indexing_candidate_count(indexing.result); ++rank) {
        pk_index_candidate c{};
        ASSERT_EQ(pk_indexing_candidate(indexing.result, rank, &c, &error), PK_OK);
        const bool half = c.system == PK_SYSTEM_TETRAGONAL && std::fabs(c.cell[0] - a / std::sqrt(2.0)) < 3e-3 &&
                          std::fabs(c.cell[2] - a) < 3e-3;
        if (half) {
            EXPECT_EQ(c.subcell_of, 0) << "rank " << rank;
            EXPECT_EQ(c.supercell_of, -1) << "rank " << rank;
            EXPECT_NEAR(c.volume, best.volume / 2, 0.01 * best.volume);
            named = true;
        }
        EXPECT_LT(c.subcell_of, rank);
    }
    EXPECT_TRUE(named) << pk_indexing_notes(indexing.result);

    std::vector<double> used(lines.size() + 1, 0.0);
    int32_t written = 0;
    ASSERT_EQ(pk_indexing_lines(indexing.result, used.data(), static_cast<int32_t>(used.size()), &written, &error),
              PK_OK);
    ASSERT_EQ(written, static_cast<int32_t>(lines.size()));
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_DOUBLE_EQ(used[i], lines[i]) << i;
    EXPECT_EQ(pk_indexing_lines(indexing.result, used.data(), 3, &written, &error), PK_ERROR_ARGUMENT);
}

TEST(Indexing, FiguresOfMeritOfAHandWorkedCubicList) {
    // Cubic P, a = 4 Å: Q = N/16 for N = 1 … 6, each observed Q off by
    // −0.0002, +0.0002, … Å⁻². M6 = Q₆/(2 ⟨ε⟩ N₆) with the observed
    // Q₆ = 0.375 + 0.0002, ⟨ε⟩ = 0.0002 and the six possible lines N = 1 … 6
    // up to it: 0.3752 / (2 × 0.0002 × 6) = 156.3333. F6 = 6 / (⟨|Δ2θ|⟩ × 6),
    // the mean from Bragg's law here.
    namespace ix = powderkit::indexing;
    std::vector<ix::Line> lines;
    ix::CellFit fit;
    fit.system = ix::LatticeSystem::Cubic;
    fit.parameters = {1.0 / 16};
    const ix::Hkl indices[6] = {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {2, 0, 0}, {2, 1, 0}, {2, 1, 1}};
    double sum2Theta = 0;
    for (int n = 1; n <= 6; ++n) {
        const double q = n / 16.0 + (n % 2 == 1 ? -0.0002 : 0.0002);
        lines.push_back(ix::lineAt(twoTheta(q), kLambda, 0.03, 0.0));
        fit.hkl.push_back(indices[n - 1]);
        fit.indexed.push_back(true);
        sum2Theta += std::fabs(twoTheta(q) - twoTheta(n / 16.0));
    }
    const ix::Figures figures = ix::figuresOfMerit(fit, lines, 'P', kLambda);
    EXPECT_NEAR(figures.M20, 156.3333, 1e-3);
    EXPECT_EQ(figures.N, 6);
    EXPECT_EQ(figures.possible, 6);
    EXPECT_NEAR(figures.meanError, sum2Theta / 6, 1e-9);
    EXPECT_NEAR(figures.FN, 1.0 / (sum2Theta / 6), 1e-6);
    // Declared body-centred, N = 1, 3, 5 are impossible: three possible lines
    // up to Q₆ and M6 twice as high.
    EXPECT_NEAR(ix::figuresOfMerit(fit, lines, 'I', kLambda).M20, 2 * 156.3333, 2e-3);
}

TEST(Indexing, ExtinctionSymbolOfAnIcentredCell) {
    const Cell cell{7.1, 7.1, 5.3, 90, 90, 90};
    const std::vector<double> lines = peakList(cell, 'I', 25);
    const pk_index_options options = optionsFor(PK_SYSTEM_TETRAGONAL);
    Indexing indexing;
    ASSERT_EQ(pk_index(lines.data(), nullptr, static_cast<int32_t>(lines.size()), kLambda, nullptr, nullptr, &options,
                       nullptr, nullptr, &indexing.result, nullptr),
              PK_OK);
    // Every sixth line is missing, so some serial conditions may hold by
    // chance; the body centring always does, and the symbol with no other
    // condition is among those allowed.
    const int32_t count = pk_indexing_extinction_count(indexing.result, 0);
    ASSERT_GT(count, 0);
    pk_extinction_class symbol{};
    ASSERT_EQ(pk_indexing_extinction(indexing.result, 0, 0, &symbol, nullptr), PK_OK);
    EXPECT_EQ(symbol.symbol[0], 'I') << symbol.symbol;
    bool plain = false;
    for (int32_t i = 0; i < count; ++i) {
        ASSERT_EQ(pk_indexing_extinction(indexing.result, 0, i, &symbol, nullptr), PK_OK);
        if (std::string(symbol.symbol) == "I - - -") plain = std::string(symbol.groups).find("I 4/m m m") != std::string::npos;
    }
    EXPECT_TRUE(plain);
}

TEST(Indexing, DSpacingsAsInputAndLinesBeyondTheDLimitIgnored) {
    const Cell cell{8.08, 8.08, 8.08, 90, 90, 90};
    std::vector<double> d;
    const std::vector<double> lines = peakList(cell, 'F', 20);
    for (double position : lines) d.push_back(kLambda / (2 * std::sin((position - 0.05) * kPi / 360)));
    d.push_back(25.0);  // an artefact at very low angle
    const pk_index_options options = optionsFor(PK_SYSTEM_CUBIC);
    const Indexing indexing = indexed(d, options, nullptr, 0.0);
    EXPECT_EQ(pk_indexing_line_count(indexing.result), static_cast<int32_t>(lines.size()));
    EXPECT_NE(std::string(pk_indexing_notes(indexing.result)).find("25 Å ignored"), std::string::npos);
    pk_index_candidate best{};
    ASSERT_EQ(pk_indexing_candidate(indexing.result, 0, &best, nullptr), PK_OK);
    EXPECT_NEAR(best.cell[0], 8.08, 0.005);
    EXPECT_EQ(best.zero, 0.0);
}

TEST(Indexing, BadInputIsRefusedAndTheSearchCanBeStopped) {
    const std::vector<double> lines = peakList({5.1, 7.3, 9.8, 90, 90, 90}, 'P', 25);
    pk_index_options options = optionsFor(PK_SYSTEM_ORTHORHOMBIC);
    pk_indexing *result = nullptr;
    pk_error error{};
    EXPECT_EQ(pk_index(lines.data(), nullptr, 5, kLambda, nullptr, nullptr, &options, nullptr, nullptr, &result, &error),
              PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(error.message).find("too few"), std::string::npos) << error.message;
    std::vector<double> bad = lines;
    bad[3] = std::nan("");
    EXPECT_EQ(pk_index(bad.data(), nullptr, 25, kLambda, nullptr, nullptr, &options, nullptr, nullptr, &result, &error),
              PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(error.message).find("position 3"), std::string::npos) << error.message;
    std::vector<double> esds(25, 0.01);
    esds[2] = -0.01;
    EXPECT_EQ(pk_index(lines.data(), esds.data(), 25, kLambda, nullptr, nullptr, &options, nullptr, nullptr, &result,
                       &error),
              PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(error.message).find("esd 2"), std::string::npos) << error.message;
    options.max_error = -1;
    EXPECT_EQ(pk_index(lines.data(), nullptr, 25, kLambda, nullptr, nullptr, &options, nullptr, nullptr, &result, &error),
              PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(error.message).find("max_error"), std::string::npos);
    EXPECT_EQ(result, nullptr);

    options = optionsFor(PK_SYSTEM_ORTHORHOMBIC | PK_SYSTEM_MONOCLINIC);
    int calls = 0;
    const auto stopAtOnce = [](void *context, double, const char *) -> int32_t {
        ++*static_cast<int *>(context);
        return 1;
    };
    Indexing indexing;
    ASSERT_EQ(pk_index(lines.data(), nullptr, 25, kLambda, nullptr, nullptr, &options, stopAtOnce, &calls,
                       &indexing.result, &error),
              PK_OK);
    EXPECT_EQ(pk_indexing_stopped(indexing.result), 1);
    EXPECT_GE(calls, 1);
}

}  // namespace
