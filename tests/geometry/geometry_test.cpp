// Cell geometry against second routes: metrics by cofactors, axes by std::asin, absences by sums.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "geometry/geometry.hpp"
#include "support/reference_phases.hpp"
#include "support/tolerances.hpp"

namespace {

using namespace pk_test;  // kSeries where the library's degree factor (13 digits) enters
constexpr double kDegree = M_PI / 180.0;

// G from lengths and angles, V² = det G, G* = G⁻¹ by cofactors, a* = √G*₁₁, d = 1/√(xᵀG⁻¹x); the index box.
TEST(UnitCell, TriclinicMetricsSpacingsNormalAndIndexBox) {
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("lowsym");  // a, b, c = 6.3, 7.9, 9.4 Å; β = 98.7°
    crystal->alpha = 83.0;
    crystal->gamma = 104.2;
    crystal->methods->calculateReciprocalCell(crystal);
    crystal->methods->calculateMetricTensor(crystal);
    const double length[3] = {6.3, 7.9, 9.4}, ca = std::cos(83.0 * kDegree), cb = std::cos(98.7 * kDegree);
    const double cg = std::cos(104.2 * kDegree), cosine[3][3] = {{1, cg, cb}, {cg, 1, ca}, {cb, ca, 1}};
    const double det = std::pow(6.3 * 7.9 * 9.4, 2) * (1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg);
    const double(*g)[3] = crystal->metricTensor, (*gs)[3] = crystal->reciprocalMetricTensor;
    const double x[3] = {2.0, -3.0, 5.0}, stars[3] = {crystal->aStar, crystal->bStar, crystal->cStar};
    double inverse[3][3], q = 0.0;
    for (int i = 0; i < 9; ++i) {
        const int r0 = (i % 3 + 1) % 3, r1 = (i % 3 + 2) % 3, c0 = (i / 3 + 1) % 3, c1 = (i / 3 + 2) % 3;
        inverse[i / 3][i % 3] = (g[r0][c0] * g[r1][c1] - g[r0][c1] * g[r1][c0]) / det;
        q += x[i / 3] * inverse[i / 3][i % 3] * x[i % 3];
        EXPECT_TRUE(closeTo(g[i / 3][i % 3], length[i / 3] * length[i % 3] * cosine[i / 3][i % 3], kSeries)) << i;
        EXPECT_TRUE(closeTo(gs[i / 3][i % 3], inverse[i / 3][i % 3], kSeries)) << i;
    }
    EXPECT_TRUE(closeTo(crystal->volume, std::sqrt(det), kSeries));
    EXPECT_NEAR(dSpacingForHKL(crystal, 2, -3, 5), 1.0 / std::sqrt(q), kSeries);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(closeTo(stars[i], std::sqrt(inverse[i][i]), kSeries)) << i;
    int32_t h = 0, k = 0, l = 0;
    const int32_t box = crystal->methods->maxNumRefs(crystal, 1.25, &h, &k, &l);
    EXPECT_EQ(box, (2 * h + 1) * (2 * k + 1) * (2 * l + 1) - 1);
    EXPECT_TRUE(h == int32_t(1.25 / stars[0]) && k == int32_t(1.25 / stars[1]) && l == int32_t(1.25 / stars[2]));
    EXPECT_EQ(maxNumRefs(crystal, 1e9, &h, &k, &l), int32_t(uint32_t(64001ull * 64001 * 64001 - 1)));  // ≤ 32000
    EXPECT_TRUE(maxNumRefs(crystal, 1e-3, &h, &k, &l) == 26 && h == 1 && k == 1 && l == 1);  // at least 1
    freeRefinementCrystal(crystal);
}

// t = dtt2·d² + dtt1·d + zero (µs) solved for d (t in ms) in every branch by hand; 2θ stops at λ/2, 180° + zero.
TEST(AxisConversions, TimeOfFlightAndBraggAngleBothWays) {
    RefinementProfile *p = makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, 2, 0, 1.5406, 0.04, 1.01);
    const struct { double dtt1, dtt2, zero, t, d; } cases[] = {{1000, 0, 0, 2.0, 2.0}, {1000, 0, 5, 2.005, 2.0},
        {1000, 10, 5, 1.015, 1.0}, {1000, -5, 0, 1.98, 2.0}, {0, 10, 0, 0.04, 2.0}, {1000, -5, 0, 50.1, 0.0},
        {0, 0, 0, 2.0, 0.0}, {1e-14, 0, 0, 2.0, 0.0}, {0, 10, 100, 0.05, 0.0}};
    for (const auto &c : cases) {
        std::tie(p->dtt1, p->dtt2, p->zero) = std::tie(c.dtt1, c.dtt2, c.zero);
        EXPECT_NEAR(p->methods->dSpacingForX(p, c.t), c.d, kRoundOff) << c.dtt1 << " " << c.dtt2 << " " << c.t;
    }
    p->dtt1 = 1000.0;  // 10·2² + 1000·2 + 100 µs
    EXPECT_TRUE(tofForDSpacingMicroseconds(p, 2.0) == 2140.0 && closeTo(tofForDSpacing(p, 2.0), 2.14, kRoundOff));
    p->dtt1 = 0.0;
    double dMin = 1.0, dMax = 1.0;
    p->methods->dSpacingRange(p, &dMin, &dMax);  // from 40 µs (before the zero: d = 0) to 1010 µs
    EXPECT_TRUE(dMin == 0.0 && closeTo(dMax, std::sqrt(91.0), kRoundOff)) << dMin << " " << dMax;
    p->experimentType = 1;
    p->secondaryWavelength = 1.5444;
    const struct { double zero; uint8_t secondary; double d, twoTheta; } bragg[] = {{0.0, 0, 1.5406, 60.0},
        {0.0, 1, 2.0, 2.0 * std::asin(1.5444 / 4.0) / kDegree}, {0.1, 0, 0.7703, 180.1}, {0.1, 0, 0.5, 180.1}};
    for (const auto &c : bragg) {
        p->zero = c.zero;
        EXPECT_NEAR(twoThetaForDSpacing(p, c.d, c.secondary), c.twoTheta, kSeries) << c.d;
        const double primary = std::max(c.d, 0.7703) * (c.secondary ? 1.5406 / 1.5444 : 1.0);  // d from x: always λ₁
        EXPECT_NEAR(p->methods->dSpacingForX(p, c.twoTheta), primary, kSeries) << c.d;
    }
    for (const auto &[type, smallest] : {std::pair<int32_t, double>{1, 0.77031}, {2, 0.77031}, {4, 0.1}}) {
        p->experimentType = type;
        EXPECT_NEAR(minDSpacingForPlot(p), smallest, kRoundOff) << type;  // λ/2 + 1e-5 on a 2θ axis
    }
    freeRefinementProfile(p);
}

// Absent exactly when Σ exp(2πi h·t) over the centring translations (also as operators') vanishes; R, γ = β: none.
TEST(ReflexionConditions, CentringAbsencesAgainstTheTranslationSum) {
    const struct { char type; double gamma; std::vector<std::vector<double>> centring; } rows[] = {
        {'P', 90, {}}, {'A', 90, {{0, 0.5, 0.5}}}, {'B', 90, {{0.5, 0, 0.5}}}, {'C', 90, {{0.5, 0.5, 0}}},
        {'I', 90, {{0.5, 0.5, 0.5}}}, {'F', 90, {{0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}}},
        {'R', 120, {{2.0 / 3, 1.0 / 3, 1.0 / 3}, {1.0 / 3, 2.0 / 3, 2.0 / 3}}}, {'R', 0, {}}};
    for (const auto &row : rows) {
        RefinementCrystal *crystal = makeEmptyRefinementCrystal();
        std::tie(crystal->latticeType, crystal->gamma) = std::tie(row.type, row.gamma);
        crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
        for (std::size_t n = 0; n <= row.centring.size(); ++n) {
            addObjectToDynamicArray(crystal->symmetryOperators, makeRefinementSymmetryOperator());
            for (int j = 0; j < 3 && n > 0; ++j) crystal->symmetryTranslations[n][j] = row.centring[n - 1][j];
        }
        for (int32_t i = 0; i < 343; ++i) {
            const int32_t h = i / 49 - 3, k = i / 7 % 7 - 3, l = i % 7 - 3;
            double sum = 1.0;
            for (const auto &t : row.centring) sum += std::cos(2.0 * M_PI * (h * t[0] + k * t[1] + l * t[2]));
            EXPECT_EQ(crystal->methods->latticeAbsence(crystal, h, k, l), std::abs(sum) < 1e-9) << row.type << i;
            EXPECT_EQ(crystal->methods->allowedReflexion(crystal, h, k, l), std::abs(sum) > 1e-9) << row.type << i;
        }
        crystal->allowAllForTwoOperators = 1;  // lets everything through with exactly two operators
        EXPECT_EQ(allowedReflexion(crystal, 1, 0, 0), row.centring.size() == 1 || !latticeAbsence(crystal, 1, 0, 0));
        freeRefinementCrystal(crystal);
    }
}

// P6₃mc (ZnO): (1 0 1) has 6 planes, 12 with Friedel mates, which suppressFriedelMates overrides.
TEST(RelatedPlanes, FriedelFlags) {
    RefinementCrystal *zno = pk_test::makeReferenceCrystal("ZnO");
    const int32_t hkl[3] = {1, 0, 1};
    for (int i = 0; i < 4; ++i) {
        zno->addFriedelMates = i & 1;
        zno->suppressFriedelMates = uint8_t(i >> 1);
        int32_t count = -1;
        std::free(zno->methods->planesRelatedBySymmetry(zno, hkl, 1, &count));
        EXPECT_EQ(count, i == 1 ? 12 : 6) << i;
    }
    freeRefinementCrystal(zno);
}

// Si's planes in ±3 by d, one per Friedel pair: each and its partner found at its record; NaN d ties with any.
TEST(PlaneSearch, FindsAPlaneOrItsPartnerAtItsRecord) {
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("Si");
    std::vector<RefGenRec> list;
    for (int32_t i = 0; i < 343; ++i) {
        const int32_t h = i / 49 - 3, k = i / 7 % 7 - 3, l = i % 7 - 3, hkl[3] = {h, k, l};
        const bool ignored = l < 0 || (l == 0 && (k < 0 || (k == 0 && h < 0)));  // the last non-zero index positive
        EXPECT_EQ(ignoreReflexionWithIndices(hkl), ignored) << h << k << l;
        if (!ignored && i != 171 && i != 269) list.push_back({h, k, l, 0, dSpacingForHKL(crystal, h, k, l), 0});
    }
    std::qsort(list.data(), list.size(), sizeof(RefGenRec), compareRefGenRecByDSpacing);
    const int32_t last = int32_t(list.size()) - 1;
    const RefGenRec nan{0, 0, 0, 0, NAN, 0};
    EXPECT_TRUE(compareRefGenRecByDSpacing(&nan, &list[0]) == 0 && compareRefGenRecByDSpacing(&list[0], &nan) == 0);
    for (int32_t i = 0; i <= last; ++i) {
        const int32_t plane[3] = {list[i].h, list[i].k, list[i].l}, partner[3] = {-plane[0], -plane[1], -plane[2]};
        EXPECT_EQ(crystal->methods->findPlaneWithIndices(crystal, plane, list.data(), 0, last), i);
        EXPECT_EQ(findPlaneWithIndices(crystal, partner, list.data(), 0, last), i);
    }
    const int32_t missing[5][3] = {{2, 0, 0}, {4, 0, 0}, {4, 4, 4}, {0, 0, 0}, {list[1].h, list[1].k, list[1].l}};
    for (int i = 0; i < 5; ++i)  // (2 0 0), (4 0 0) between, (4 4 4) beyond, d = ∞, one before the range: not found
        EXPECT_EQ(findPlaneWithIndices(crystal, missing[i], list.data(), i < 4 ? 0 : 2, last), PK_NOT_FOUND) << i;
    freeRefinementCrystal(crystal);
}

}  // namespace
