// Index bounds, absence tests, Friedel choice, ordering and plane search on
// small hand-checked cases; the plane search also against a plain linear
// scan over a whole generation list with many runs of equal d.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/crystal_builder.hpp"
#include "support/reflexion_builder.hpp"

namespace {

RefinementCrystal *cubicCell(double a) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = crystal->b = crystal->c = a;
    crystal->alpha = crystal->beta = crystal->gamma = 90.0;
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    return crystal;
}

TEST(ReflexionGeneration, IndexBox) {
    RefinementCrystal *crystal = cubicCell(4.0);
    int32_t h = 0, k = 0, l = 0;
    EXPECT_EQ(crystal->methods->maxNumRefs(crystal, 1.0, &h, &k, &l), 728);
    EXPECT_EQ(h, 4);
    EXPECT_EQ(k, 4);
    EXPECT_EQ(l, 4);
    EXPECT_EQ(maxNumRefs(crystal, 0.1, &h, &k, &l), 26);  // raised to 1 each
    EXPECT_EQ(h, 1);
    // Capped at 32000; the count is formed in wrapping 32-bit arithmetic.
    EXPECT_EQ(maxNumRefs(crystal, 1e9, &h, &k, &l),
              static_cast<int32_t>(static_cast<uint32_t>(64001ull * 64001ull * 64001ull - 1ull)));
    EXPECT_EQ(l, 32000);
    freeRefinementCrystal(crystal);

    // Oblique axes: floor(s / a*) with a* = 1 / (a sin β) for a monoclinic cell.
    RefinementCrystal *mono = makeEmptyRefinementCrystal();
    mono->a = 6.3;
    mono->b = 7.9;
    mono->c = 9.4;
    mono->alpha = mono->gamma = 90.0;
    mono->beta = 98.7;
    calculateReciprocalCell(mono);
    calculateMetricTensor(mono);
    const double sinBeta = std::sin(98.7 * 3.14159265358979323846 / 180.0);
    maxNumRefs(mono, 1.25, &h, &k, &l);
    EXPECT_EQ(h, static_cast<int32_t>(std::floor(1.25 * 6.3 * sinBeta)));  // 7
    EXPECT_EQ(k, 9);
    EXPECT_EQ(l, static_cast<int32_t>(std::floor(1.25 * 9.4 * sinBeta)));  // 11
    freeRefinementCrystal(mono);
}

TEST(ReflexionGeneration, LatticeAbsences) {
    RefinementCrystal *crystal = cubicCell(4.0);
    const auto absent = [&](char type, int32_t h, int32_t k, int32_t l) {
        crystal->latticeType = type;
        return crystal->methods->latticeAbsence(crystal, h, k, l);
    };
    EXPECT_FALSE(absent('I', 1, 1, 0));
    EXPECT_TRUE(absent('I', 1, 0, 0));
    EXPECT_TRUE(absent('I', -1, 0, 0));
    EXPECT_FALSE(absent('F', 1, 1, 1));
    EXPECT_FALSE(absent('F', -1, 1, 3));
    EXPECT_FALSE(absent('F', 2, 0, 0));
    EXPECT_TRUE(absent('F', 1, 1, 0));
    EXPECT_TRUE(absent('A', 1, 1, 0));
    EXPECT_FALSE(absent('A', 1, 1, 1));
    EXPECT_TRUE(absent('B', 0, 1, 1));
    EXPECT_FALSE(absent('B', 1, 0, 1));
    EXPECT_TRUE(absent('C', 1, 0, 0));
    EXPECT_FALSE(absent('C', 1, 1, 0));
    EXPECT_FALSE(absent('P', 1, 0, 0));
    EXPECT_FALSE(absent('X', 1, 0, 0));
    // R: rhombohedral axes (β = γ) forbid nothing; hexagonal axes need −h + k + l = 3n.
    EXPECT_FALSE(absent('R', 1, 0, 0));
    crystal->gamma = 120.0;
    EXPECT_FALSE(absent('R', 1, 0, 1));
    EXPECT_TRUE(absent('R', 1, 0, 0));
    EXPECT_TRUE(absent('R', -1, 0, 0));
    EXPECT_FALSE(absent('R', 2, -1, 0));
    EXPECT_FALSE(absent('R', 0, 1, 2));
    freeRefinementCrystal(crystal);
}

TEST(ReflexionGeneration, TranslationSumsAllowOrForbid) {
    RefinementCrystal *crystal = cubicCell(4.0);
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
    addObjectToDynamicArray(crystal->symmetryOperators, makeRefinementSymmetryOperator());
    EXPECT_TRUE(allowedReflexion(crystal, 1, 1, 1));  // a single operator allows all
    addObjectToDynamicArray(crystal->symmetryOperators, makeRefinementSymmetryOperator());
    crystal->symmetryTranslations[1][0] = crystal->symmetryTranslations[1][1] =
        crystal->symmetryTranslations[1][2] = 0.5;
    EXPECT_FALSE(crystal->methods->allowedReflexion(crystal, 1, 1, 1));
    EXPECT_TRUE(allowedReflexion(crystal, 1, 1, 0));
    crystal->allowAllForTwoOperators = 1;
    EXPECT_TRUE(allowedReflexion(crystal, 1, 1, 1));
    EXPECT_TRUE(allowedReflexion(crystal, 1, 1, 0));
    freeRefinementCrystal(crystal);

    // With the four F-centring translations the sum is exact: it agrees with
    // the parity rule on every small plane.
    RefinementCrystal *centred = cubicCell(4.0);
    centred->latticeType = 'F';
    centred->symmetryOperators = makeDynamicArrayWithCapacity(4);
    const double t[4][3] = {{0, 0, 0}, {0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}};
    for (int i = 0; i < 4; ++i) {
        addObjectToDynamicArray(centred->symmetryOperators, makeRefinementSymmetryOperator());
        for (int j = 0; j < 3; ++j) centred->symmetryTranslations[i][j] = t[i][j];
    }
    for (int32_t h = -3; h <= 3; ++h)
        for (int32_t k = -3; k <= 3; ++k)
            for (int32_t l = -3; l <= 3; ++l)
                EXPECT_EQ(allowedReflexion(centred, h, k, l), !latticeAbsence(centred, h, k, l))
                    << h << " " << k << " " << l;
    freeRefinementCrystal(centred);
}

TEST(ReflexionGeneration, FriedelChoiceAndOrdering) {
    const int32_t cases[][3] = {{1, 2, -3}, {1, -2, 0}, {-1, 0, 0}, {-1, 2, 0}, {0, 0, 0}, {0, 0, 1}};
    const bool expected[] = {true, true, true, false, false, false};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(ignoreReflexionWithIndices(cases[i]), expected[i]) << i;
    // Of every pair exactly one is ignored.
    for (int32_t h = -2; h <= 2; ++h)
        for (int32_t k = -2; k <= 2; ++k)
            for (int32_t l = -2; l <= 2; ++l) {
                if (h == 0 && k == 0 && l == 0) continue;
                const int32_t plus[3] = {h, k, l};
                const int32_t minus[3] = {-h, -k, -l};
                EXPECT_NE(ignoreReflexionWithIndices(plus), ignoreReflexionWithIndices(minus));
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

TEST(ReflexionGeneration, PlaneSearchFindsAPlaneOrItsPartner) {
    RefinementCrystal *crystal = cubicCell(4.0);
    // d-spacings 4, 2.83, 2.83, 2, 1.79: (1 0 0), (1 1 0), (0 1 1), (2 0 0), (2 1 0).
    const int32_t planes[][3] = {{1, 0, 0}, {1, 1, 0}, {0, 1, 1}, {2, 0, 0}, {2, 1, 0}};
    std::vector<RefGenRec> records;
    for (const auto &p : planes) {
        RefGenRec r{};
        r.h = p[0];
        r.k = p[1];
        r.l = p[2];
        r.dSpacing = dSpacingForHKL(crystal, p[0], p[1], p[2]);
        records.push_back(r);
    }
    const auto find = [&](int32_t h, int32_t k, int32_t l) {
        const int32_t hkl[3] = {h, k, l};
        return crystal->methods->findPlaneWithIndices(crystal, hkl, records.data(), 0, 4);
    };
    EXPECT_EQ(find(1, 0, 0), 0);
    EXPECT_EQ(find(-1, 0, 0), 0);
    EXPECT_EQ(find(0, -1, -1), 2);  // second of a run of equal d
    EXPECT_EQ(find(-2, 0, 0), 3);
    EXPECT_EQ(find(2, 1, 0), 4);
    EXPECT_EQ(find(1, 0, 1), PK_NOT_FOUND);  // d in the list, indices not
    EXPECT_EQ(find(1, 1, 1), PK_NOT_FOUND);  // d between two records
    EXPECT_EQ(find(3, 0, 0), PK_NOT_FOUND);  // d beyond the last
    const int32_t origin[3] = {0, 0, 0};
    EXPECT_EQ(findPlaneWithIndices(crystal, origin, records.data(), 0, 4), PK_NOT_FOUND);
    // A sub-range: (1 0 0) lies before it.
    const int32_t hkl[3] = {1, 0, 0};
    EXPECT_EQ(findPlaneWithIndices(crystal, hkl, records.data(), 1, 4), PK_NOT_FOUND);
    freeRefinementCrystal(crystal);
}

TEST(ReflexionGeneration, PlaneSearchAgreesWithALinearScan) {
    for (const char *name : {"lowsym", "Si", "corundum"}) {
        SCOPED_TRACE(name);
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name);
        const std::vector<RefGenRec> records = pk_test::generationRecords(crystal, 0.7);
        ASSERT_GT(records.size(), 100u);
        const int32_t last = static_cast<int32_t>(records.size()) - 1;
        for (std::size_t i = 0; i < records.size(); ++i) {
            const RefGenRec &r = records[i];
            const int32_t plane[3] = {r.h, r.k, r.l};
            const int32_t partner[3] = {-r.h, -r.k, -r.l};
            // The linear scan: the first record holding ±(h k l) is this one.
            EXPECT_EQ(findPlaneWithIndices(crystal, plane, records.data(), 0, last),
                      static_cast<int32_t>(i));
            EXPECT_EQ(findPlaneWithIndices(crystal, partner, records.data(), 0, last),
                      static_cast<int32_t>(i));
        }
        freeRefinementCrystal(crystal);
    }
}

}  // namespace
