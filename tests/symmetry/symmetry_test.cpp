// Symmetry on sites: the point-operation table row by row against U = R U Rᵀ solved here,
// site constraints (textbook restrictions in the library's codes), unit cells (Wyckoff
// multiplicities, images by hand), the operator relating an atom to its site, site groups.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"
#include "support/reference_phases.hpp"
#include "support/symmetry_operators.hpp"
#include "support/tolerances.hpp"
#include "symmetry/site_constraints.hpp"

namespace {

using pk_test::Rotation;
using Tensor = std::array<double, 6>;  // U11 U22 U33 U23 U13 U12, the table's order
constexpr int kRow[6] = {0, 1, 2, 1, 0, 0}, kColumn[6] = {0, 1, 2, 2, 2, 1};

Tensor transformed(const int32_t *r, const Tensor &u) {  // R U Rᵀ of a symmetric U
    double m[3][3];
    for (int k = 0; k < 6; ++k) m[kRow[k]][kColumn[k]] = m[kColumn[k]][kRow[k]] = u[std::size_t(k)];
    Tensor out{};
    for (int k = 0; k < 54; ++k) out[std::size_t(k / 9)] += r[3 * kRow[k / 9] + k % 9 / 3] * m[k % 9 / 3][k % 3] * r[3 * kColumn[k / 9] + k % 3];
    return out;
}

Tensor unit(int k) { return Tensor{double(k == 0), double(k == 1), double(k == 2), double(k == 3), double(k == 4), double(k == 5)}; }

// The dimension of the solutions of R U Rᵀ = U with every pair of components that R maps onto
// each other with opposite signs zero (no code says "equal and opposite"), by elimination.
int conditionDimension(const int32_t *r) {
    std::vector<Tensor> rows;
    for (int k = 0; k < 6; ++k) {
        const Tensor image = transformed(r, unit(k));
        int nonzero = 0;
        for (double v : image) nonzero += std::fabs(v) > 1e-12;
        for (int j = 0; j < 6; ++j)
            if (nonzero == 1 && j != k && std::fabs(image[std::size_t(j)] + 1.0) < 1e-12) rows.push_back(unit(k)), rows.push_back(unit(j));
    }
    for (int j = 0; j < 6; ++j) {  // Σ_k (R e_k Rᵀ)_j U_k − U_j = 0
        Tensor equation{};
        for (int k = 0; k < 6; ++k) equation[std::size_t(k)] = transformed(r, unit(k))[std::size_t(j)] - (j == k);
        rows.push_back(equation);
    }
    std::size_t rank = 0;
    for (std::size_t column = 0; column < 6 && rank < rows.size(); ++column) {
        std::size_t pivot = rank;
        while (pivot < rows.size() && std::fabs(rows[pivot][column]) < 1e-12) ++pivot;
        if (pivot == rows.size()) continue;
        std::swap(rows[rank], rows[pivot]);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const double f = i == rank ? 0.0 : rows[i][column] / rows[rank][column];
            for (std::size_t j = 0; j < 6; ++j) rows[i][j] -= f * rows[rank][j];
        }
        ++rank;
    }
    return 6 - int(rank);
}

// A row's codes allow, as a basis: each free component (−1) alone; the diagonal ones coded 1
// together, U12 at half of them where coded 2; the off-diagonal ones coded 3 together, one
// coded 6 at half; those coded 0 zero. The basis must satisfy the condition and span its
// solutions; as the table is defined, of the pairs R, −R (1/2, 12/14, 50/60) rows 1, 14, 50 do not.
TEST(PointOperationTable, CodesAreTheSolutionsOfTheSiteCondition) {
    for (int n = 0; n < powderkit::kPointOperationCount; ++n) {
        const auto &row = powderkit::kPointOperationConstraints[n];
        std::vector<Tensor> basis;
        Tensor tied{}, shared{};
        for (int k = 0; k < 6; ++k) {
            const int32_t code = row.codes[k];
            if (code == -1) basis.push_back(unit(k));
            else if (k < 3 && code == 1) tied[std::size_t(k)] = 1.0;
            else if (k == 5 && code == 2) tied[5] = 0.5;
            else if (k >= 3 && code == 3) shared[std::size_t(k)] = 1.0;
            else if (k >= 3 && code == 6) shared[std::size_t(k)] = 0.5;
            else EXPECT_TRUE(k >= 3 && code == 0) << "row " << n << ": code " << code << " of component " << k;
        }
        if (tied[0] + tied[1] + tied[2] > 0) basis.push_back(tied);
        if (shared[3] + shared[4] + shared[5] > 0) basis.push_back(shared);
        bool allSatisfy = true;
        for (const Tensor &u : basis)
            for (std::size_t k = 0; k < 6; ++k) allSatisfy = allSatisfy && std::fabs(transformed(row.rotation, u)[k] - u[k]) < 1e-12;
        EXPECT_EQ(allSatisfy && int(basis.size()) == conditionDimension(row.rotation), n != 1 && n != 14 && n != 50) << "row " << n;
    }
}

using Codes = std::array<int32_t, 6>;  // U11 U22 U33 U23 U13 U12
const Codes kFree = {-1, -1, -1, -1, -1, -1};
const Rotation kOne = pk_test::kIdentity, kBar = pk_test::kInversion, kTwoZ = {-1, 0, 0, 0, -1, 0, 0, 0, 1};
const Rotation kMirrorZ = {1, 0, 0, 0, 1, 0, 0, 0, -1}, kThreeZ = {0, -1, 0, 1, -1, 0, 0, 0, 1}, kThreeZ2 = {-1, 1, 0, -1, 0, 0, 0, 0, 1};
const Rotation kThree111 = {0, 0, 1, 1, 0, 0, 0, 1, 0}, kThree111Squared = {0, 1, 0, 0, 0, 1, 1, 0, 0}, kFourZ = {0, -1, 0, 1, 0, 0, 0, 0, 1};

// A crystal of the given operators and one site at `site` for each entry.
RefinementCrystal *crystalWith(const std::vector<RefinementSymmetryOperator *> &ops, const std::vector<std::array<double, 3>> &sites) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
    for (RefinementSymmetryOperator *op : ops) addObjectToDynamicArray(crystal->symmetryOperators, op);
    crystal->sites = makeDynamicArrayWithCapacity(1);
    for (const auto &p : sites) {
        Site *site = makeEmptySite();
        site->x = p[0], site->y = p[1], site->z = p[2], addObjectToDynamicArray(crystal->sites, site);
    }
    return crystal;
}

std::vector<RefinementSymmetryOperator *> operators(const std::vector<Rotation> &rotations, double shift = 0.0) {
    std::vector<RefinementSymmetryOperator *> ops;  // the first translated by `shift` along x
    for (const Rotation &r : rotations) ops.push_back(pk_test::makeOperator(r, ops.empty() ? shift : 0.0));
    return ops;
}

// By hand (on a three-fold axis along c: U11 = U22 = 2·U12, U13 = U23 = 0); corundum Al on 3,
// O on a two-fold axis along a (U12 = U22/2, U13 = U23/2); rutile Ti, O on mmm and m.2m (the x↔y
// mirror row ties U12 to U13, and the merge, traced by hand, zeroes both); lowsym general.
TEST(SiteConstraints, CodesOfSiteSymmetries) {
    const struct { std::vector<Rotation> rotations; double shift, x, y, z; Codes expected; } cases[] = {
        {{kOne, kBar, kTwoZ}, 0, 0.1, 0.2, 0.3, kFree}, {{kOne, kBar, kTwoZ}, 0, 0.0, 0.0, 0.3, {-1, -1, -1, 0, 0, -1}},
        {{kOne, kBar}, 0, 0.5, 0.5, 0.0, kFree}, {{kOne, kThreeZ, kThreeZ2}, 0, 0.0, 0.0, 0.35, {1, 1, -1, 0, 0, 2}},
        {{kOne, kThreeZ, kThreeZ2}, 0, 0.3, 0.1, 0.35, kFree}, {{kOne, kThree111, kThree111Squared}, 0, 0.2, 0.2, 0.2, {1, 1, 1, 3, 3, 3}},
        {{kOne, kTwoZ, kMirrorZ, kBar}, 0, 0.0, 0.0, 0.0, {-1, -1, -1, 0, 0, -1}}, {{kOne, kFourZ, kTwoZ}, 0, 0.0, 0.0, 0.1, {1, 1, -1, 0, 0, 0}},
        {{kMirrorZ}, 1.0, 0.2, 0.3, 0.0, {-1, -1, -1, 0, 0, -1}},  // x + 1 folds back onto x …
        {{kMirrorZ}, 2.0, 0.2, 0.3, 0.0, kFree}};                     // … x + 2 is folded once only
    for (const auto &c : cases) {
        RefinementCrystal *crystal = crystalWith(operators(c.rotations, c.shift), {});
        Codes codes{};
        EXPECT_TRUE(TemperatureConstraintsForASite(crystal, std::array<double, 3>{c.x, c.y, c.z}.data(), codes.data()) && codes == c.expected)
            << c.rotations.size() << " operators, site " << c.x << " " << c.y << " " << c.z << ": " << ::testing::PrintToString(codes);
        freeRefinementCrystal(crystal);
    }
    const struct { const char *structure; int site; Codes expected; } references[] = {{"corundum", 0, {1, 1, -1, 0, 0, 2}},
        {"corundum", 1, {-1, 1, -1, 3, 6, 2}}, {"rutile", 0, {1, 1, -1, 0, 0, 0}}, {"rutile", 1, {1, 1, -1, 0, 0, 0}}, {"lowsym", 0, kFree}};
    for (const auto &c : references) {
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(c.structure);
        Codes codes{};
        EXPECT_TRUE(TemperatureConstraintsForASite(crystal, &static_cast<Site *>(crystal->sites->items[c.site])->x, codes.data()) && codes == c.expected)
            << c.structure << " site " << c.site << ": " << ::testing::PrintToString(codes);
        freeRefinementCrystal(crystal);
    }
}

TEST(SiteConstraints, MissingArgumentsAndTheListingOnStandardOutput) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    const double site[3] = {0, 0, 0};
    Codes codes{5, 5, 5, 5, 5, 5};
    EXPECT_TRUE(!TemperatureConstraintsForASite(crystal, site, codes.data()) && codes == kFree);  // no operator list: made free all the same
    EXPECT_FALSE(TemperatureConstraintsForASite(crystal, nullptr, codes.data()) || TemperatureConstraintsForASite(crystal, site, nullptr));
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(1);
    codes.fill(5);
    EXPECT_TRUE(TemperatureConstraintsForASite(crystal, site, codes.data()) && codes == kFree);  // an empty list
    freeRefinementCrystal(crystal);
    crystal = crystalWith(operators({kOne, kThreeZ, kThreeZ2}), {{0.3, 0, 0}, {0, 0, 0}, {}});  // off the axis, on it, none
    static_cast<Site *>(crystal->sites->items[2])->methods->freeSite(static_cast<Site *>(crystal->sites->items[2])), crystal->sites->items[2] = nullptr;
    std::string err;
    const std::string out = pk_test::captureStdout([&] { err = pk_test::captureStderr([&] { FindTemperatureConstraintsForCrystal(crystal); }); });
    EXPECT_EQ(out + err, "Site 0, constraints[-1  -1  -1  -1  -1 -1]\n\nSite 1, constraints[1  1  -1  0  0 2]\n\nSite 2, constraints[-1  -1  -1  -1  -1 -1]\n\n");
    freeRefinementCrystal(crystal);
}

Site *firstSite(RefinementCrystal *crystal) { return static_cast<Site *>(crystal->sites->items[0]); }
RefinementAtom *position(RefinementCrystal *crystal, int32_t i) { return static_cast<RefinementAtom *>(firstSite(crystal)->atoms->items[i]); }

// Reference sites get their Wyckoff multiplicity, the site itself first (the identity leads);
// images within 1e-4 after folding are kept once, each with the first operator making it.
TEST(UnitCellGeneration, WyckoffMultiplicitiesCoincidingImagesAndTheirOperators) {
    const std::map<std::string, std::vector<int32_t>> expected = {{"Si", {8}}, {"NaCl", {4, 4}}, {"CeO2", {4, 8}},
        {"LaB6", {1, 6}}, {"corundum", {12, 18}}, {"rutile", {2, 4}}, {"ZnO", {2, 2}}, {"lowsym", {4, 4, 4, 4}}};
    for (const auto &[name, counts] : expected) {
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name);
        ASSERT_EQ(crystal->sites->count, int32_t(counts.size())) << name;
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const auto *site = static_cast<const Site *>(crystal->sites->items[i]);
            const auto *first = static_cast<const RefinementAtom *>(site->atoms->items[0]);
            EXPECT_TRUE(site->atoms->count == counts[i] && site->atoms->capacity == counts[i]) << name << " " << site->label;
            EXPECT_TRUE(first->x == site->x && first->symmetryOperator == crystal->symmetryOperators->items[0]) << name;
        }
        freeRefinementCrystal(crystal);
    }
    const struct { std::array<double, 3> site; std::vector<RefinementSymmetryOperator *> more; int32_t count; } cases[] = {
        {{0.5, 0.5, 0.5}, {pk_test::makeOperator(kBar)}, 1},  // −½ folds to ½
        {{0.0, 0.3, 0.3}, {pk_test::makeOperator(kOne, 0.999995)}, 1},  // 0.999995 folds to 0
        {{0.2, 0.3, 0.4}, {pk_test::makeOperator(kOne, 1e-4, 1e-4, 1e-4), pk_test::makeOperator(kOne, 1.2e-4, 1.2e-4, 1.2e-4)}, 2}};
    for (const auto &c : cases) {
        std::vector<RefinementSymmetryOperator *> ops = {pk_test::makeOperator(kOne)};
        ops.insert(ops.end(), c.more.begin(), c.more.end());
        RefinementCrystal *crystal = crystalWith(ops, {c.site});
        crystal->methods->generateUnitCell(crystal);
        EXPECT_EQ(firstSite(crystal)->atoms->count, c.count) << c.site[0];
        freeRefinementCrystal(crystal);
    }
    // A two-fold axis along z leaves (0, 0, z) in place; the inversion's image comes
    // before the mirror's; with the origin at (0, 0, 0.1) the inversion maps z to −z − 0.2.
    std::vector<RefinementSymmetryOperator *> ops = operators({kOne, kTwoZ, kBar, kMirrorZ});
    RefinementCrystal *crystal = crystalWith(ops, {{0.0, 0.0, 0.2}});
    generateUnitCell(crystal);
    ASSERT_EQ(firstSite(crystal)->atoms->count, 2);
    EXPECT_TRUE(position(crystal, 0)->symmetryOperator == ops[0] && position(crystal, 1)->symmetryOperator == ops[2]);
    EXPECT_NEAR(position(crystal, 1)->z, 0.8, pk_test::kRoundOff);
    crystal->originShift[2] = 0.1;
    generateUnitCell(crystal);  // replaces the previous list
    EXPECT_NEAR(position(crystal, 1)->z, 0.6, pk_test::kRoundOff);
    freeRefinementCrystal(crystal);
    crystal = crystalWith({}, {{1.5, 0, 0}});  // no operators: an empty list, the site still folded
    generateUnitCell(crystal);
    EXPECT_TRUE(firstSite(crystal)->atoms != nullptr && firstSite(crystal)->atoms->count == 0 && firstSite(crystal)->x == 0.5);
    freeRefinementCrystal(crystal);
    // A site of NaN: no image coincides with another, and no operator fixes it.
    crystal = crystalWith(operators({kOne, kBar, kTwoZ}), {{NAN, 0.1, 0.2}});
    Codes codes{};
    EXPECT_TRUE(TemperatureConstraintsForASite(crystal, std::array<double, 3>{NAN, 0.1, 0.2}.data(), codes.data()) && codes == kFree);
    generateUnitCell(crystal);
    EXPECT_EQ(firstSite(crystal)->atoms->count, 3);
    freeRefinementCrystal(crystal);
}

// The list position of the operator carrying the site (labelled O2) onto the atom; −1 for none.
int32_t relate(std::vector<Rotation> rotations, std::vector<std::array<double, 3>> translations, std::array<double, 3> site,
               std::array<double, 3> atom, double originShiftX = 0.0) {
    std::vector<RefinementSymmetryOperator *> ops;
    for (std::size_t i = 0; i < rotations.size(); ++i) ops.push_back(pk_test::makeOperator(rotations[i], translations[i][0], translations[i][1], translations[i][2]));
    RefinementCrystal *crystal = crystalWith(ops, {site});
    crystal->originShift[0] = originShiftX;
    firstSite(crystal)->label = "O2";
    RefinementAtom a{atom[0], atom[1], atom[2], nullptr, nullptr};
    const void *found = crystal->methods->symmetryOperatorRelatingAtomToSite(crystal, &a, firstSite(crystal));
    const int32_t index = found == nullptr ? -1 : int32_t(std::find(ops.begin(), ops.end(), found) - ops.begin());
    firstSite(crystal)->label = nullptr;
    freeRefinementCrystal(crystal);
    return index;
}

TEST(AtomSiteOperator, TheFirstOperatorCarryingTheSiteOntoTheAtom) {
    const std::vector<Rotation> three = {kOne, kTwoZ, kMirrorZ}, inversion = {kOne, kBar};
    const std::vector<std::array<double, 3>> screwAndGlide = {{0, 0, 0}, {0, 0, 0.5}, {0, 0, 0.5}}, none = {{0, 0, 0}, {0, 0, 0}};
    EXPECT_EQ(relate({kOne}, none, {0, 0, 0}, {0.9, 0.9, 0.9}), 0);  // a single operator is returned untested
    // 1.0 folds to 0 and matches the identity image, although the mirror maps the site there too.
    EXPECT_EQ(relate(three, screwAndGlide, {0.0, 0.5, 0.5}, {1.0, 0.5, 0.5}), 0);
    EXPECT_EQ(relate(three, screwAndGlide, {0.1, 0.2, 0.3}, {-0.1, 0.8, 0.8}), 1);  // (−x, −y, z + ½) folded
    EXPECT_EQ(relate(three, screwAndGlide, {0.1, 0.2, 0.3}, {0.1, 0.2, 0.2}), 2);   // (x, y, −z + ½)
    EXPECT_EQ(relate(inversion, none, {0.2, 0, 0}, {0.55, 0, 0}, 0.125), 1);        // through x = −0.125: 0.2 → −0.45
    EXPECT_EQ(relate({}, {}, {0.2, 0.3, 0.4}, {0.2, 0.3, 0.4}), -1);                  // an empty list
    int32_t found = 0;
    EXPECT_EQ(pk_test::captureStderr([&] { found = relate(inversion, none, {0.2, 0.3, 0.4}, {1.200105, 0.3, 0.4}); }),
              "unable to find symmetry operator for atom O2 at {1.2001, 0.3000, 0.4000}\n");  // 1.05e-4 ≥ 1e-4 off
    EXPECT_EQ(found, -1);
}

// Sites go under their first occupant's symbol in crystal order; empty sites are reported
// and skipped; a failed allocation gives nothing.
TEST(GroupSites, SitesUnderTheirFirstOccupantEmptySitesReported) {
    const std::vector<std::vector<const char *>> occupants = {{"O"}, {"Si"}, {"O", "F"}, {"Fe3+", "Mg"}, {}, {"Si"}};
    RefinementCrystal *crystal = crystalWith({}, std::vector<std::array<double, 3>>(occupants.size()));
    for (std::size_t i = 0; i < occupants.size(); ++i) {
        Site *site = static_cast<Site *>(crystal->sites->items[i]);
        site->occupants = makeDynamicArrayWithCapacity(1);
        for (const char *symbol : occupants[i]) addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant(symbol, 1.0, nullptr));
    }
    addObjectToDynamicArray(crystal->sites, makeEmptySite());
    const auto freeGroups = [](HashTable *table, bool = false) {
        for (int32_t i = 0; table != nullptr && i < table->capacity; ++i)
            if (table->entries[i].key != nullptr) freeDynamicArray(static_cast<DynamicArray *>(table->entries[i].value));
        freeHashTable(table);
    };
    HashTable *table = nullptr;
    EXPECT_EQ(pk_test::captureStderr([&] { table = crystal->methods->groupSitesByElement(crystal); }), "Error: empty site detected!\n");
    ASSERT_TRUE(table != nullptr && table->count == 3);
    const auto *oxygen = static_cast<DynamicArray *>(pointerForKey(table, "O")), *silicon = static_cast<DynamicArray *>(pointerForKey(table, "Si"));
    EXPECT_TRUE(oxygen->count == 2 && oxygen->items[0] == crystal->sites->items[0] && oxygen->items[1] == crystal->sites->items[2]);
    EXPECT_TRUE(silicon->count == 2 && silicon->items[0] == crystal->sites->items[1] && silicon->items[1] == crystal->sites->items[5]);
    EXPECT_TRUE(pointerForKey(table, "Fe3+") != nullptr && pointerForKey(table, "Fe") == nullptr && pointerForKey(table, "Mg") == nullptr);
    freeGroups(table);
    crystal->sites->count = 4;  // no empty site: nothing printed
    EXPECT_GT(pk_test::forEachFailedAllocation([&] { return groupSitesByElement(crystal); },
                                               [&](HashTable *result, bool failed) { EXPECT_EQ(result == nullptr, failed), freeGroups(result); }), 4);
    crystal->sites->count = 1;  // only an empty site
    std::swap(crystal->sites->items[0], crystal->sites->items[4]);
    EXPECT_EQ(pk_test::captureStderr([&] { table = groupSitesByElement(crystal); }), "Error: empty site detected!\n");
    EXPECT_EQ(table, nullptr);
    crystal->sites->count = 0;
    EXPECT_TRUE(groupSitesByElement(crystal) == nullptr && groupSitesByElement(nullptr) == nullptr);
    crystal->sites->count = 7;
    freeRefinementCrystal(crystal);
}

}  // namespace
