// The extinction classes against reflection conditions worked out by hand
// from International Tables: their symbols and groups, and the classes that
// patterns built from a group's conditions allow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "indexing/extinction.hpp"

namespace {

using namespace powderkit::indexing;

using Lines = std::vector<std::vector<Hkl>>;
using Allowed = std::function<bool(const Hkl &)>;

struct Pattern {
    Lines observed, possible;
    int absentUnderTruth = 0;  // possible lines holding no allowed reflexion
};

// Every reflexion (one of each Friedel pair) of |h|,|k|,|l| <= limit with
// 0 < Q <= qMax, gathered into lines of equal Q; a line is observed when
// one of its reflexions is allowed.
Pattern patternOf(const std::function<double(const Hkl &)> &q, double qMax, int limit, const Allowed &allowed) {
    std::vector<std::pair<double, Hkl>> reflexions;
    for (int h = -limit; h <= limit; ++h)
        for (int k = -limit; k <= limit; ++k)
            for (int l = -limit; l <= limit; ++l) {
                const Hkl hkl{h, k, l};
                const int first = h != 0 ? h : k != 0 ? k : l;
                if (first > 0 && q(hkl) <= qMax) reflexions.push_back({q(hkl), hkl});
            }
    std::sort(reflexions.begin(), reflexions.end());
    Pattern pattern;
    for (std::size_t i = 0; i < reflexions.size();) {
        std::vector<Hkl> line;
        const double q0 = reflexions[i].first;
        for (; i < reflexions.size() && reflexions[i].first - q0 < 1e-9 * q0; ++i) line.push_back(reflexions[i].second);
        const bool seen = std::any_of(line.begin(), line.end(), allowed);
        if (seen) pattern.observed.push_back(line);
        pattern.absentUnderTruth += !seen;
        pattern.possible.push_back(line);
    }
    return pattern;
}

const ExtinctionClass *find(const std::vector<ExtinctionClass> &classes, const std::string &symbol) {
    for (const ExtinctionClass &c : classes)
        if (c.symbol == symbol) return &c;
    return nullptr;
}

std::size_t rank(const std::vector<ExtinctionClass> &classes, const std::string &symbol) {
    const auto at = std::find_if(classes.begin(), classes.end(), [&](const auto &c) { return c.symbol == symbol; });
    return static_cast<std::size_t>(at - classes.begin());
}

const ExtinctionClass *classOfGroup(LatticeSystem system, const std::string &group) {
    static std::map<LatticeSystem, std::vector<ExtinctionClass>> all;
    auto &classes = all[system];
    if (classes.empty()) classes = consistentExtinctionClasses(system, {}, {});
    for (const ExtinctionClass &c : classes)
        if (std::find(c.groups.begin(), c.groups.end(), group) != c.groups.end()) return &c;
    return nullptr;
}

bool odd(int n) { return n % 2 != 0; }

// Monoclinic, b unique: a 5.3, b 7.1, c 8.9 Å, β 103°.
double monoclinicQ(const Hkl &r) {
    const double beta = 103.0 * std::acos(-1.0) / 180.0, s2 = std::pow(std::sin(beta), 2), c = std::cos(beta);
    return (r[0] * r[0] / (5.3 * 5.3) + r[2] * r[2] / (8.9 * 8.9) - 2.0 * r[0] * r[2] * c / (5.3 * 8.9)) / s2 +
           r[1] * r[1] / (7.1 * 7.1);
}
// P 1 21/c 1: h0l l = 2n, 0k0 k = 2n.
bool p21cAllows(const Hkl &r) { return !(r[1] == 0 && odd(r[2])) && !(r[0] == 0 && r[2] == 0 && odd(r[1])); }

TEST(ExtinctionClasses, EachSystemHasItsTabulatedNumberOfSymbols) {
    // Orthorhombic 111 and tetragonal 31 as tabulated; cubic 7 P + 5 I + 5 F;
    // hexagonal axes P - - -, 31, 61, 63, - c -, - - c, - c c, R - - -, R - c -;
    // monoclinic P (-, 21, c, n, a, 21/c, 21/n, 21/a), C and A and I with or without a glide.
    const std::vector<std::pair<LatticeSystem, std::size_t>> counts{
        {LatticeSystem::Cubic, 17},       {LatticeSystem::Tetragonal, 31}, {LatticeSystem::Hexagonal, 9},
        {LatticeSystem::Orthorhombic, 111}, {LatticeSystem::Monoclinic, 14}, {LatticeSystem::Triclinic, 1}};
    for (const auto &[system, count] : counts) {
        const auto classes = consistentExtinctionClasses(system, {}, {});
        EXPECT_EQ(classes.size(), count) << static_cast<int>(system);
        for (const ExtinctionClass &c : classes) {
            EXPECT_LT(c.symbol.size(), 32u);
            EXPECT_EQ(c.absentLines, 0);
            EXPECT_EQ(c.symbol[0], c.centring);
        }
    }
}

TEST(ExtinctionClasses, SymbolsAndGroupsOfWellKnownClasses) {
    struct Case {
        LatticeSystem system;
        const char *group, *symbol;
    };
    const std::vector<Case> cases{
        {LatticeSystem::Monoclinic, "P 1 21/c 1", "P 1 21/c 1"}, {LatticeSystem::Monoclinic, "P 1 2/c 1", "P 1 c 1"},
        {LatticeSystem::Monoclinic, "P 1 m 1", "P 1 - 1"},       {LatticeSystem::Monoclinic, "P 1 21/m 1", "P 1 21 1"},
        {LatticeSystem::Orthorhombic, "I 21 21 21", "I - - -"},  {LatticeSystem::Orthorhombic, "P b c a", "P b c a"},
        {LatticeSystem::Orthorhombic, "P n m a", "P n - a"},     {LatticeSystem::Orthorhombic, "I b a m", "I b a -"},
        {LatticeSystem::Orthorhombic, "P 21 21 2", "P 21 21 -"}, {LatticeSystem::Orthorhombic, "F d d d", "F d d d"},
        {LatticeSystem::Tetragonal, "P 4/n m m", "P n - -"},     {LatticeSystem::Tetragonal, "I 41/a m d", "I a - d"},
        {LatticeSystem::Tetragonal, "I 41 c d", "I - c d"},      {LatticeSystem::Tetragonal, "P 42/n b c", "P n b c"},
        {LatticeSystem::Tetragonal, "P 43 21 2", "P 41 21 -"},   {LatticeSystem::Tetragonal, "P 42 21 2", "P 42 21 -"},
        {LatticeSystem::Hexagonal, "P 63/m m c", "P - - c"},     {LatticeSystem::Hexagonal, "P 63/m c m", "P - c -"},
        {LatticeSystem::Hexagonal, "P 63 2 2", "P 63 - -"},      {LatticeSystem::Hexagonal, "P 64 2 2", "P 31 - -"},
        {LatticeSystem::Hexagonal, "R -3 c", "R - c -"},         {LatticeSystem::Hexagonal, "R 3 m", "R - - -"},
        {LatticeSystem::Cubic, "F d -3 m", "F d - -"},           {LatticeSystem::Cubic, "I a -3 d", "I a - d"},
        {LatticeSystem::Cubic, "P 42 3 2", "P 21 - -"},          {LatticeSystem::Cubic, "P n -3 n", "P n - n"},
        {LatticeSystem::Triclinic, "P -1", "P -"}};
    for (const Case &c : cases) {
        const ExtinctionClass *found = classOfGroup(c.system, c.group);
        ASSERT_NE(found, nullptr) << c.group;
        EXPECT_EQ(found->symbol, c.symbol) << c.group;
    }
    using Set = std::set<std::string>;
    const auto groupsOf = [](LatticeSystem system, const char *group) {
        const ExtinctionClass *found = classOfGroup(system, group);
        return found != nullptr ? Set(found->groups.begin(), found->groups.end()) : Set{};
    };
    EXPECT_EQ(groupsOf(LatticeSystem::Monoclinic, "P 1 21/c 1"), Set{"P 1 21/c 1"});
    EXPECT_EQ(groupsOf(LatticeSystem::Monoclinic, "P 1 c 1"), (Set{"P 1 c 1", "P 1 2/c 1"}));
    EXPECT_EQ(groupsOf(LatticeSystem::Cubic, "F d -3 m"), (Set{"F d -3", "F d -3 m"}));
    EXPECT_EQ(groupsOf(LatticeSystem::Hexagonal, "P 63/m m c"),
              (Set{"P 3 1 c", "P -3 1 c", "P 63 m c", "P -6 2 c", "P 63/m m c"}));
    EXPECT_EQ(groupsOf(LatticeSystem::Orthorhombic, "I 2 2 2"),
              (Set{"I 2 2 2", "I 21 21 21", "I m m 2", "I 2 m m", "I m 2 m", "I m m m"}));
}

TEST(ExtinctionClasses, BodyCentredOrthorhombicCellRanksIFirst) {
    const auto q = [](const Hkl &r) { return r[0] * r[0] / 26.01 + r[1] * r[1] / 39.69 + r[2] * r[2] / 59.29; };
    const Pattern p = patternOf(q, 0.45, 5, [](const Hkl &r) { return !odd(r[0] + r[1] + r[2]); });
    const auto classes = consistentExtinctionClasses(LatticeSystem::Orthorhombic, p.observed, p.possible);
    ASSERT_FALSE(classes.empty());
    EXPECT_EQ(classes.front().symbol, "I - - -");
    EXPECT_EQ(classes.front().centring, 'I');
    EXPECT_EQ(classes.front().absentLines, p.absentUnderTruth);
    EXPECT_GT(p.absentUnderTruth, 10);
    const ExtinctionClass *primitive = find(classes, "P - - -");
    ASSERT_NE(primitive, nullptr);
    EXPECT_EQ(primitive->absentLines, 0);
    EXPECT_NE(find(classes, "P 21 21 21"), nullptr);  // its h00, 0k0, 00l odd lines are unobserved too
    for (const char *excluded : {"F - - -", "C - - -", "A - - -", "B - - -", "I b a -", "I - - a"})
        EXPECT_EQ(find(classes, excluded), nullptr) << excluded;
    for (std::size_t i = 1; i < classes.size(); ++i) EXPECT_LT(classes[i].absentLines, p.absentUnderTruth);
    for (const ExtinctionClass &c : classes) EXPECT_EQ(c.ambiguousLines, 0) << c.symbol;
}

TEST(ExtinctionClasses, MonoclinicGlideAndScrewConditions) {
    // P 1 c 1: h0l l = 2n only; 0k0 with odd k stays observed.
    const Pattern pc = patternOf(monoclinicQ, 0.5, 6, [](const Hkl &r) { return !(r[1] == 0 && odd(r[2])); });
    auto classes = consistentExtinctionClasses(LatticeSystem::Monoclinic, pc.observed, pc.possible);
    ASSERT_FALSE(classes.empty());
    EXPECT_EQ(classes.front().symbol, "P 1 c 1");
    EXPECT_EQ(classes.front().absentLines, pc.absentUnderTruth);
    ASSERT_NE(find(classes, "P 1 - 1"), nullptr);
    EXPECT_GT(rank(classes, "P 1 - 1"), rank(classes, "P 1 c 1"));
    for (const char *excluded : {"P 1 21/c 1", "P 1 21 1", "P 1 n 1", "P 1 a 1", "C 1 c 1", "I 1 - 1"})
        EXPECT_EQ(find(classes, excluded), nullptr) << excluded;

    // P 1 21/c 1 adds 0k0: k = 2n; its subgroups' classes follow with fewer absences.
    Pattern p21c = patternOf(monoclinicQ, 0.5, 6, p21cAllows);
    classes = consistentExtinctionClasses(LatticeSystem::Monoclinic, p21c.observed, p21c.possible);
    ASSERT_FALSE(classes.empty());
    EXPECT_EQ(classes.front().symbol, "P 1 21/c 1");
    EXPECT_EQ(classes.front().groups, std::vector<std::string>{"P 1 21/c 1"});
    EXPECT_EQ(classes.front().absentLines, p21c.absentUnderTruth);
    for (const char *kept : {"P 1 c 1", "P 1 21 1", "P 1 - 1"}) {
        ASSERT_NE(find(classes, kept), nullptr) << kept;
        EXPECT_LT(find(classes, kept)->absentLines, p21c.absentUnderTruth) << kept;
    }
    // Odd 0k0 within Q 0.5 (Q = k²/7.1²): 0 1 0, 0 3 0, 0 5 0 (0.496).
    EXPECT_EQ(find(classes, "P 1 21 1")->absentLines, 3);

    // An observed 0 1 0 rules out the 21 axis; with 1 0 0 on the same line
    // it only makes the line ambiguous.
    Pattern violated = p21c;
    violated.observed.push_back({{0, 1, 0}});
    classes = consistentExtinctionClasses(LatticeSystem::Monoclinic, violated.observed, violated.possible);
    EXPECT_EQ(classes.front().symbol, "P 1 c 1");
    EXPECT_EQ(find(classes, "P 1 21/c 1"), nullptr);
    EXPECT_EQ(find(classes, "P 1 21 1"), nullptr);

    Pattern coincident = p21c;
    coincident.observed.push_back({{0, 1, 0}, {1, 0, 0}});
    classes = consistentExtinctionClasses(LatticeSystem::Monoclinic, coincident.observed, coincident.possible);
    EXPECT_EQ(classes.front().symbol, "P 1 21/c 1");
    EXPECT_EQ(classes.front().ambiguousLines, 1);
    EXPECT_EQ(find(classes, "P 1 21 1")->ambiguousLines, 1);
    EXPECT_EQ(find(classes, "P 1 c 1")->ambiguousLines, 0);
    EXPECT_EQ(find(classes, "P 1 - 1")->ambiguousLines, 0);
}

TEST(ExtinctionClasses, DiamondLikeFCubicGivesTheDGlide) {
    // F d -3 m: h k l all even or all odd; 0kl: k + l = 4n (so h00: h = 4n).
    const auto allowed = [](const Hkl &r) {
        if (odd(r[0] + r[1]) || odd(r[1] + r[2])) return false;
        for (std::size_t zero = 0; zero < 3; ++zero)
            if (r[zero] == 0 && (r[(zero + 1) % 3] + r[(zero + 2) % 3]) % 4 != 0) return false;
        return true;
    };
    const auto q = [](const Hkl &r) { return double(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]); };
    const Pattern p = patternOf(q, 48.0, 7, allowed);
    const auto classes = consistentExtinctionClasses(LatticeSystem::Cubic, p.observed, p.possible);
    ASSERT_FALSE(classes.empty());
    EXPECT_EQ(classes.front().symbol, "F d - -");
    EXPECT_EQ(classes.front().absentLines, p.absentUnderTruth);
    for (const char *kept : {"F 41 - -", "F - - -", "P - - -"}) EXPECT_NE(find(classes, kept), nullptr) << kept;
    EXPECT_GT(rank(classes, "F 41 - -"), 0u);
    // 1 1 1 is hhl with odd l: the c glides of F d - c and F - - c forbid it.
    for (const char *excluded : {"F d - c", "F - - c", "I - - -"})
        EXPECT_EQ(find(classes, excluded), nullptr) << excluded;
}

TEST(ExtinctionClasses, ALineStandsForItsWholeHolohedryOrbit) {
    // P a -3 forbids 0 1 2 (0kl, k odd) but allows 0 2 1, at the same Q; h00 needs h even.
    auto classes = consistentExtinctionClasses(LatticeSystem::Cubic, {{{0, 1, 2}}}, {{{0, 1, 2}}});
    ASSERT_NE(find(classes, "P a - -"), nullptr);
    EXPECT_EQ(find(classes, "P a - -")->ambiguousLines, 0);
    EXPECT_EQ(find(classes, "P a - -")->absentLines, 0);
    classes = consistentExtinctionClasses(LatticeSystem::Cubic, {{{0, 0, 1}}}, {});
    EXPECT_EQ(find(classes, "P a - -"), nullptr);
    EXPECT_EQ(find(classes, "P 21 - -"), nullptr);
    EXPECT_EQ(find(classes, "P - - n"), nullptr);  // h h l, l odd, takes in 1 0 0 = l h h with h = 0
    EXPECT_NE(find(classes, "P - - -"), nullptr);
}

}  // namespace
