// Symmetry on sites: the point-operation table against U = R U Rᵀ solved here; constraints, images, groups.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

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
    for (int k = 0; k < 6; ++k) m[kRow[k]][kColumn[k]] = m[kColumn[k]][kRow[k]] = u[k];
    Tensor out{};
    for (int k = 0; k < 54; ++k)
        out[k / 9] += r[3 * kRow[k / 9] + k % 9 / 3] * m[k % 9 / 3][k % 3] * r[3 * kColumn[k / 9] + k % 3];
    return out;
}

const Tensor kUnit[6] = {{1, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}, {0, 0, 1, 0, 0, 0}, {0, 0, 0, 1, 0, 0},
                         {0, 0, 0, 0, 1, 0}, {0, 0, 0, 0, 0, 1}};

int conditionDimension(const int32_t *r) {  // of R U Rᵀ = U's solutions; pairs R swaps with opposite signs zero
    std::vector<Tensor> rows;
    for (int k = 0; k < 6; ++k) {
        const Tensor image = transformed(r, kUnit[k]);  // of integers, exactly
        const bool single = std::count(image.begin(), image.end(), 0.0) == 5;
        for (int j = 0; j < 6; ++j)
            if (single && j != k && image[j] == -1.0) rows.insert(rows.end(), {kUnit[k], kUnit[j]});
        Tensor equation{};  // Σ_k (R e_k Rᵀ)_j U_k − U_j = 0
        for (int j = 0; j < 6; ++j) equation[j] = transformed(r, kUnit[j])[k] - (j == k);
        rows.push_back(equation);
    }
    std::size_t rank = 0;
    for (int c = 0; c < 6 && rank < rows.size(); ++c) {  // column by column
        std::size_t pivot = rank;
        while (pivot < rows.size() && std::fabs(rows[pivot][c]) < 1e-12) ++pivot;
        if (pivot == rows.size()) continue;
        std::swap(rows[rank], rows[pivot]);
        for (std::size_t i = 0; i < rows.size(); ++i)  // the pivot row is zero left of c; column c itself last
            for (int j = 5; j >= c && i != rank; --j) rows[i][j] -= rows[i][c] / rows[rank][c] * rows[rank][j];
        ++rank;
    }
    return 6 - int(rank);
}

// Each row's code basis (−1 alone; 1s, 2 at half; 3s, 6 at half; 0 zero) spans the solutions, but rows 1, 14, 50.
TEST(PointOperationTable, CodesAreTheSolutionsOfTheSiteCondition) {
    for (int n = 0; n < powderkit::kPointOperationCount; ++n) {
        const auto &row = powderkit::kPointOperationConstraints[n];
        std::vector<Tensor> basis;
        Tensor tied{}, shared{};
        for (int k = 0; k < 6; ++k) {
            const int32_t code = row.codes[k];
            if (code == -1) basis.push_back(kUnit[k]);
            else if (k < 3 && code == 1) tied[k] = 1.0;
            else if (k == 5 && code == 2) tied[5] = 0.5;
            else if (k >= 3 && (code == 3 || code == 6)) shared[k] = code == 3 ? 1.0 : 0.5;
            else EXPECT_TRUE(k >= 3 && code == 0) << "row " << n << ": code " << code << " of component " << k;
        }
        if (tied[0] + tied[1] + tied[2] > 0) basis.push_back(tied);
        if (shared[3] + shared[4] + shared[5] > 0) basis.push_back(shared);
        const auto satisfies = [&row](const Tensor &u) { return transformed(row.rotation, u) == u; };
        const bool ok = std::all_of(basis.begin(), basis.end(), satisfies);
        EXPECT_EQ(ok && int(basis.size()) == conditionDimension(row.rotation), n != 1 && n != 14 && n != 50) << n;
    }
}

using Codes = std::array<int32_t, 6>;  // U11 U22 U33 U23 U13 U12
using Position = std::array<double, 3>;
const Codes kFree = {-1, -1, -1, -1, -1, -1};
const Rotation kOne = pk_test::kIdentity, kBar = pk_test::kInversion, kTwoZ = {-1, 0, 0, 0, -1, 0, 0, 0, 1};
const Rotation kMirrorZ = {1, 0, 0, 0, 1, 0, 0, 0, -1}, kThreeZ = {0, -1, 0, 1, -1, 0, 0, 0, 1};

RefinementCrystal *crystalWith(const std::vector<Rotation> &rotations, const std::vector<Position> &sites) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();  // the operators x' = R·x, a site at each position
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
    for (const Rotation &r : rotations) addObjectToDynamicArray(crystal->symmetryOperators, pk_test::makeOperator(r));
    crystal->sites = makeDynamicArrayWithCapacity(1);
    for (const auto &p : sites) {
        Site *site = makeEmptySite();
        std::tie(site->x, site->y, site->z) = std::tie(p[0], p[1], p[2]);
        addObjectToDynamicArray(crystal->sites, site);
    }
    return crystal;
}

using Operator = RefinementSymmetryOperator;
Operator *op(RefinementCrystal *c, int i) { return static_cast<Operator *>(c->symmetryOperators->items[i]); }
Site *siteAt(RefinementCrystal *crystal, int i) { return static_cast<Site *>(crystal->sites->items[i]); }

// By hand (3 along c: U11 = U22 = 2·U12; x + 1 folds back, x + 2 once only; m.2m: the merge zeroes U12); listing.
TEST(SiteConstraints, CodesOfSiteSymmetriesAndTheirListing) {
    const struct { std::vector<Rotation> rotations; double shift, x, y, z; Codes expected; } cases[] = {
        {{kOne, kBar, kTwoZ}, 0, 0, 0, 0.3, {-1, -1, -1, 0, 0, -1}}, {{kOne, kBar}, 0, 0.5, 0.5, 0.0, kFree},
        {{kOne, kThreeZ, {-1, 1, 0, -1, 0, 0, 0, 0, 1}}, 0, 0, 0, 0.35, {1, 1, -1, 0, 0, 2}},
        {{kOne, {0, 0, 1, 1, 0, 0, 0, 1, 0}, {0, 1, 0, 0, 0, 1, 1, 0, 0}}, 0, 0.2, 0.2, 0.2, {1, 1, 1, 3, 3, 3}},
        {{kMirrorZ}, 1.0, 0.2, 0.3, 0.0, {-1, -1, -1, 0, 0, -1}}, {{kMirrorZ}, 2.0, 0.2, 0.3, 0.0, kFree},
        {{{0, 1, 0, 1, 0, 0, 0, 0, 1}, kMirrorZ, {0, 1, 0, 1, 0, 0, 0, 0, -1}}, 0, 0.3, 0.3, 0, {1, 1, -1, 0, 0, 0}}};
    Codes codes{};
    for (const auto &c : cases) {
        RefinementCrystal *crystal = crystalWith(c.rotations, {{c.x, c.y, c.z}});
        op(crystal, 0)->translation[0] = c.shift;
        const bool done = TemperatureConstraintsForASite(crystal, &siteAt(crystal, 0)->x, codes.data());
        EXPECT_TRUE(done && codes == c.expected) << c.rotations.size() << " operators, site " << c.x << " " << c.z;
        freeRefinementCrystal(crystal);
    }
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("corundum");  // Al on 3 along c, O on 2 along a
    const std::string out = pk_test::captureStdout([&] { FindTemperatureConstraintsForCrystal(crystal); });
    EXPECT_EQ(out, "Site 0, constraints[1  1  -1  0  0 2]\n\nSite 1, constraints[-1  1  -1  3  6 2]\n\n");
    DynamicArray *operators = std::exchange(crystal->symmetryOperators, nullptr);  // no list: free codes, but false
    EXPECT_TRUE(!TemperatureConstraintsForASite(crystal, &siteAt(crystal, 0)->x, codes.data()) && codes == kFree);
    crystal->symmetryOperators = operators;
    freeRefinementCrystal(crystal);
}

// Images within 1e-4 after folding count once: −½ folds to ½, 0.999995 to 0, 1e-4 along x coincides, 1.2e-4 not.
TEST(UnitCellGeneration, CoincidingImagesAndTheirOperators) {
    const struct { Rotation r; double shift; Position site; int32_t count; } cases[] = {{kBar, 0, {0.5, 0.5, 0.5}, 1},
        {kOne, 0.999995, {0.0, 0.3, 0.3}, 1}, {kOne, 1e-4, {0.2, 0.3, 0.4}, 1}, {kOne, 1.2e-4, {0.2, 0.3, 0.4}, 2}};
    for (const auto &c : cases) {
        RefinementCrystal *crystal = crystalWith({c.r, kOne}, {c.site});
        op(crystal, 0)->translation[0] = c.shift;
        crystal->methods->generateUnitCell(crystal);
        EXPECT_EQ(siteAt(crystal, 0)->atoms->count, c.count) << c.shift;
        freeRefinementCrystal(crystal);
    }
    RefinementCrystal *crystal = crystalWith({kOne, kTwoZ, kBar, kMirrorZ}, {{0.0, 0.0, 0.2}});
    crystal->originShift[2] = 0.1;  // the inversion's image (−z − 2o, origin at o) precedes the mirror's
    generateUnitCell(crystal);
    generateUnitCell(crystal);  // lists replaced
    ASSERT_EQ(siteAt(crystal, 0)->atoms->count, 2);  // 2 along z leaves (0, 0, z)
    RefinementAtom **atoms = reinterpret_cast<RefinementAtom **>(siteAt(crystal, 0)->atoms->items);
    EXPECT_TRUE(atoms[0]->symmetryOperator == op(crystal, 0) && atoms[1]->symmetryOperator == op(crystal, 2));
    EXPECT_NEAR(atoms[1]->z, 0.6, pk_test::kRoundOff);
    freeRefinementCrystal(crystal);
}

int32_t relate(RefinementCrystal *crystal, const Position &p, double originX = 0.0) {
    RefinementAtom atom{p[0], p[1], p[2], nullptr, nullptr};  // list index of the operator taking site 0 to p, or −1
    crystal->originShift[0] = originX;
    const void *found = crystal->methods->symmetryOperatorRelatingAtomToSite(crystal, &atom, siteAt(crystal, 0));
    void **items = crystal->symmetryOperators->items;
    return found == nullptr ? -1 : int32_t(std::find(items, items + 4, found) - items);
}

// Of x; −x, −y, z + ½; x, y, −z + ½; −x, −y, −z (also through x = −0.125) the first carrying site onto atom.
TEST(AtomSiteOperator, TheFirstOperatorCarryingTheSiteOntoTheAtom) {
    RefinementCrystal *crystal = crystalWith({kOne, kTwoZ, kMirrorZ, kBar}, {{0.1, 0.2, 0.3}});
    op(crystal, 1)->translation[2] = op(crystal, 2)->translation[2] = 0.5;
    const struct { Position atom; double origin; int32_t index; } cases[] = {{{0.1, 0.2, 0.3}, 0, 0},
        {{-0.1, 0.8, 1.8}, 0, 1}, {{0.1, 0.2, 0.2}, 0, 2}, {{0.9, 0.8, 0.7}, 0, 3}, {{0.65, 0.8, 0.7}, 0.125, 3}};
    for (const auto &c : cases) EXPECT_EQ(relate(crystal, c.atom, c.origin), c.index) << c.atom[0] << " " << c.atom[2];
    EXPECT_EQ(pk_test::captureStderr([&] { EXPECT_EQ(relate(crystal, {1.100105, 0.2, 0.3}), -1); }),
              "unable to find symmetry operator for atom  at {1.1001, 0.2000, 0.3000}\n");  // 1.05e-4 off; no label
    crystal->symmetryOperators->count = 1;  // a single operator is returned untested
    EXPECT_EQ(relate(crystal, {0.9, 0.9, 0.9}), 0);
    crystal->symmetryOperators->count = 4;
    pk_test::captureStderr([&] { EXPECT_EQ(groupSitesByElement(crystal), nullptr); });  // only an empty site to group
    freeRefinementCrystal(crystal);
}

// Sites go under their first occupant's symbol in crystal order; empty sites are reported and skipped.
TEST(GroupSites, SitesUnderTheirFirstOccupantEmptySitesReported) {
    const std::vector<std::vector<const char *>> occupants = {{}, {"O"}, {"Si"}, {"O", "F"}, {"Fe3+", "Mg"}, {"Si"}};
    RefinementCrystal *crystal = crystalWith({}, std::vector<Position>(occupants.size() + 1));
    for (int i = 0; i < int(occupants.size()); ++i) {
        siteAt(crystal, i)->occupants = makeDynamicArrayWithCapacity(1);
        for (const char *symbol : occupants[i])
            addObjectToDynamicArray(siteAt(crystal, i)->occupants, makeRefinementSiteOccupant(symbol, 1.0, nullptr));
    }
    HashTable *table = nullptr;
    const std::string err = pk_test::captureStderr([&] { table = crystal->methods->groupSitesByElement(crystal); });
    EXPECT_EQ(err, "Error: empty site detected!\n");
    ASSERT_TRUE(table != nullptr && table->count == 3 && pointerForKey(table, "Fe3+") != nullptr);
    const auto group = [&table](const char *key) { return static_cast<DynamicArray *>(pointerForKey(table, key)); };
    void **sites = crystal->sites->items;
    EXPECT_TRUE(group("O")->count == 2 && group("O")->items[0] == sites[1] && group("O")->items[1] == sites[3]);
    EXPECT_TRUE(group("Si")->count == 2 && group("Si")->items[0] == sites[2] && group("Si")->items[1] == sites[5]);
    for (const char *key : {"O", "Si", "Fe3+"}) freeDynamicArray(group(key));
    freeHashTable(table);
    freeRefinementCrystal(crystal);
}

}  // namespace
