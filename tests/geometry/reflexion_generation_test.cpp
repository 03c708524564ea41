// Index bounds, the two absence tests against the centring sum, Friedel
// choice, ordering, and the plane search on whole generation lists.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/reference_phases.hpp"

namespace {

// The generation list of a crystal's reflexion list: every plane of every set
// once, of each Friedel pair the one ignoreReflexionWithIndices keeps, sorted
// by decreasing d.
std::vector<RefGenRec> generationList(RefinementCrystal *crystal) {
    std::vector<RefGenRec> list;
    for (int32_t i = 0; i < crystal->reflexions->count; ++i) {
        const auto *r = static_cast<const Reflexion *>(crystal->reflexions->items[i]);
        int32_t count = 0;
        int32_t *planes = planesRelatedBySymmetry(crystal, &r->h, 1, &count);
        for (int32_t p = 0; p < count; ++p) {
            int32_t hkl[3] = {planes[3 * p], planes[3 * p + 1], planes[3 * p + 2]};
            if (ignoreReflexionWithIndices(hkl)) {
                for (int32_t &index : hkl) index = -index;
            }
            bool listed = false;
            for (const RefGenRec &record : list) {
                listed = listed || (record.h == hkl[0] && record.k == hkl[1] && record.l == hkl[2]);
            }
            if (listed) continue;
            RefGenRec record{};
            record.h = hkl[0];
            record.k = hkl[1];
            record.l = hkl[2];
            record.dSpacing = dSpacingForHKL(crystal, hkl[0], hkl[1], hkl[2]);
            list.push_back(record);
        }
        std::free(planes);
    }
    std::qsort(list.data(), list.size(), sizeof(RefGenRec), compareRefGenRecByDSpacing);
    return list;
}

TEST(ReflexionGeneration, IndexBox) {
    using Bounds = std::array<int32_t, 3>;
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("NaCl");  // a = 5.6402 Å
    Bounds b{};
    EXPECT_EQ(crystal->methods->maxNumRefs(crystal, 1.0, &b[0], &b[1], &b[2]), 1330);  // 11·11·11 − 1
    EXPECT_EQ(b, (Bounds{5, 5, 5}));
    EXPECT_EQ(maxNumRefs(crystal, 0.1, &b[0], &b[1], &b[2]), 26);  // raised to 1 on each axis
    EXPECT_EQ(b, (Bounds{1, 1, 1}));
    // Capped at 32000; the count is formed in wrapping 32-bit arithmetic.
    EXPECT_EQ(maxNumRefs(crystal, 1e9, &b[0], &b[1], &b[2]),
              static_cast<int32_t>(static_cast<uint32_t>(64001ull * 64001ull * 64001ull - 1ull)));
    EXPECT_EQ(b, (Bounds{32000, 32000, 32000}));
    freeRefinementCrystal(crystal);
    // Oblique axes: floor(s / a*) with a* = 1 / (a sin β) in the monoclinic lowsym cell.
    RefinementCrystal *mono = pk_test::makeReferenceCrystal("lowsym");
    const double sinBeta = std::sin(98.7 * 3.14159265358979323846 / 180.0);
    maxNumRefs(mono, 1.25, &b[0], &b[1], &b[2]);
    EXPECT_EQ(b, (Bounds{int32_t(std::floor(1.25 * 6.3 * sinBeta)), 9, int32_t(std::floor(1.25 * 9.4 * sinBeta))}));
    freeRefinementCrystal(mono);
}

// A second formula: (h k l) is absent exactly when Σ exp(2πi h·t) over the
// lattice translations t of the centring vanishes. Given those translations as
// its operators', allowedReflexion must agree.
TEST(ReflexionGeneration, CentringAbsencesAgreeWithTheTranslationSum) {
    const struct {
        char type;
        double gamma;
        std::vector<std::array<double, 3>> centring;
    } lattices[] = {
        {'P', 90, {}}, {'X', 90, {}}, {'A', 90, {{0, 0.5, 0.5}}}, {'B', 90, {{0.5, 0, 0.5}}},
        {'C', 90, {{0.5, 0.5, 0}}}, {'I', 90, {{0.5, 0.5, 0.5}}},
        {'F', 90, {{0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}}},
        {'R', 120, {{2.0 / 3, 1.0 / 3, 1.0 / 3}, {1.0 / 3, 2.0 / 3, 2.0 / 3}}},  // hexagonal axes, obverse
        {'R', 90, {}},  // γ = β: rhombohedral axes, nothing absent
    };
    for (const auto &lattice : lattices) {
        RefinementCrystal *crystal = makeEmptyRefinementCrystal();
        crystal->latticeType = lattice.type;
        crystal->beta = 90.0;
        crystal->gamma = lattice.gamma;
        crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
        addObjectToDynamicArray(crystal->symmetryOperators, makeRefinementSymmetryOperator());
        for (std::size_t n = 0; n < lattice.centring.size(); ++n) {
            addObjectToDynamicArray(crystal->symmetryOperators, makeRefinementSymmetryOperator());
            for (int j = 0; j < 3; ++j) crystal->symmetryTranslations[n + 1][j] = lattice.centring[n][j];
        }
        for (int32_t i = 0; i < 343; ++i) {
            const int32_t h = i / 49 - 3, k = i / 7 % 7 - 3, l = i % 7 - 3;
            double sum = 1.0;
            for (const auto &t : lattice.centring) sum += std::cos(2.0 * M_PI * (h * t[0] + k * t[1] + l * t[2]));
            const bool absent = std::abs(sum) < 1e-9;
            EXPECT_EQ(crystal->methods->latticeAbsence(crystal, h, k, l), absent) << lattice.type << h << k << l;
            EXPECT_EQ(crystal->methods->allowedReflexion(crystal, h, k, l), !absent) << lattice.type << h << k << l;
        }
        crystal->allowAllForTwoOperators = 1;  // lets everything through with exactly two operators
        EXPECT_EQ(allowedReflexion(crystal, 1, 0, 0),
                  crystal->symmetryOperators->count == 2 || !latticeAbsence(crystal, 1, 0, 0)) << lattice.type;
        freeRefinementCrystal(crystal);
    }
}

TEST(ReflexionGeneration, FriedelChoiceAndOrdering) {
    const int32_t cases[][3] = {{1, 2, -3}, {1, -2, 0}, {-1, 0, 0}, {-1, 2, 0}, {0, 0, 0}, {0, 0, 1}};
    const bool expected[] = {true, true, true, false, false, false};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(ignoreReflexionWithIndices(cases[i]), expected[i]) << i;
    for (int32_t i = 0; i < 125; ++i) {  // of every pair exactly one is ignored
        const int32_t plus[3] = {i / 25 - 2, i / 5 % 5 - 2, i % 5 - 2}, minus[3] = {-plus[0], -plus[1], -plus[2]};
        if (plus[0] != 0 || plus[1] != 0 || plus[2] != 0) {
            EXPECT_NE(ignoreReflexionWithIndices(plus), ignoreReflexionWithIndices(minus)) << i;
        }
    }
    RefGenRec a{}, b{};
    a.dSpacing = 2.0;
    b.dSpacing = 1.0;
    EXPECT_EQ(compareRefGenRecByDSpacing(&a, &b), -1);
    EXPECT_EQ(compareRefGenRecByDSpacing(&b, &a), 1);
    EXPECT_EQ(compareRefGenRecByDSpacing(&a, &a), 0);
    b.dSpacing = std::nan("");
    EXPECT_EQ(compareRefGenRecByDSpacing(&a, &b), 0);
    EXPECT_EQ(compareRefGenRecByDSpacing(&b, &a), 0);
}

// Against a plain linear scan over whole generation lists with many runs of
// equal d; and planes that are not there, in Si (Fd-3m) above 0.7 Å.
TEST(ReflexionGeneration, PlaneSearchFindsAPlaneOrItsPartner) {
    for (const char *name : {"lowsym", "corundum", "Si"}) {
        SCOPED_TRACE(name);
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name, 0.7);
        const std::vector<RefGenRec> list = generationList(crystal);
        ASSERT_GT(list.size(), 100u);
        const int32_t last = static_cast<int32_t>(list.size()) - 1;
        for (int32_t i = 0; i <= last; ++i) {  // the first record holding ±(h k l) is this one
            const int32_t plane[3] = {list[i].h, list[i].k, list[i].l};
            const int32_t partner[3] = {-plane[0], -plane[1], -plane[2]};
            EXPECT_EQ(crystal->methods->findPlaneWithIndices(crystal, plane, list.data(), 0, last), i);
            EXPECT_EQ(findPlaneWithIndices(crystal, partner, list.data(), 0, last), i);
        }
        if (std::string(name) != "Si") {
            freeRefinementCrystal(crystal);
            continue;
        }
        const int32_t missing[][3] = {
            {6, 0, 0},  // absent, with the d of the allowed (4 4 2)
            {2, 0, 0},  // absent, d between (1 1 1) and (2 2 0)
            {9, 9, 9},  // d beyond the last
            {0, 0, 0},  // infinite d
        };
        for (const auto &hkl : missing) {
            EXPECT_EQ(findPlaneWithIndices(crystal, hkl, list.data(), 0, last), PK_NOT_FOUND)
                << hkl[0] << " " << hkl[1] << " " << hkl[2];
        }
        // A plane just before the sub-range, in one run of equal d with its first records.
        ASSERT_EQ(list[1].dSpacing, list[2].dSpacing);
        const int32_t before[3] = {list[1].h, list[1].k, list[1].l};
        EXPECT_EQ(findPlaneWithIndices(crystal, before, list.data(), 2, last), PK_NOT_FOUND);
        freeRefinementCrystal(crystal);
    }
}

}  // namespace
