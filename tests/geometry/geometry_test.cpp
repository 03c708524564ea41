// Cell geometry against second routes: a triclinic G* against the cofactor inverse of G, V from
// the angles; axis conversions against std::asin and the forward calibration; absences against
// the centring sum; related planes against forms enumerated here; plane search against a scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <set>
#include <vector>

#include "geometry/geometry.hpp"
#include "support/reference_phases.hpp"
#include "support/tolerances.hpp"

namespace {

using pk_test::closeTo;
using pk_test::kRoundOff;
constexpr double kDegree = M_PI / 180.0;  // the library's own factor is cut to 13 digits: kSeries below

TEST(UnitCell, TriclinicMetricsSpacingsAndMetricVectorsAgainstTheCofactorInverse) {
    const double a = 6.3, b = 7.9, c = 9.4, alpha = 83.0, beta = 98.7, gamma = 104.2;
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("lowsym");  // a, b, c and β as above
    crystal->alpha = alpha, crystal->gamma = gamma;
    crystal->methods->calculateReciprocalCell(crystal), crystal->methods->calculateMetricTensor(crystal);
    const double(*g)[3] = crystal->metricTensor, (*gs)[3] = crystal->reciprocalMetricTensor;
    const double det = g[0][0] * (g[1][1] * g[2][2] - g[1][2] * g[2][1]) - g[0][1] * (g[1][0] * g[2][2] - g[1][2] * g[2][0]) +
                       g[0][2] * (g[1][0] * g[2][1] - g[1][1] * g[2][0]);
    double inverse[3][3];
    for (int i = 0; i < 9; ++i) {
        const int r0 = (i % 3 + 1) % 3, r1 = (i % 3 + 2) % 3, c0 = (i / 3 + 1) % 3, c1 = (i / 3 + 2) % 3;
        inverse[i / 3][i % 3] = (g[r0][c0] * g[r1][c1] - g[r0][c1] * g[r1][c0]) / det;
        EXPECT_TRUE(g[i / 3][i % 3] == g[i % 3][i / 3] && closeTo(gs[i / 3][i % 3], inverse[i / 3][i % 3], pk_test::kSeries)) << i;
    }
    const double ca = std::cos(alpha * kDegree), cb = std::cos(beta * kDegree), cg = std::cos(gamma * kDegree);
    const double volume = a * b * c * std::sqrt(1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg);
    EXPECT_TRUE(closeTo(crystal->volume / volume, 1.0, pk_test::kSeries) && closeTo(crystal->volume * crystal->volume / det, 1.0, pk_test::kSeries));
    const double stars[3] = {b * c * std::sin(alpha * kDegree) / volume, a * c * std::sin(beta * kDegree) / volume,
                             a * b * std::sin(gamma * kDegree) / volume};
    EXPECT_TRUE(closeTo(crystal->aStar, stars[0], pk_test::kSeries) && closeTo(crystal->bStar, stars[1], pk_test::kSeries) &&
                closeTo(crystal->cStar, stars[2], pk_test::kSeries));
    // For x = (2 −3 5): d = 1/√(xᵀG⁻¹x); as indices, the normal is √det G · G⁻¹x; (Mv) × (Mu) = det M · M⁻ᵀ(v × u).
    const powderkit::Vector3 x = {2.0, -3.0, 5.0}, y = {-1.0, 4.0, 0.5}, cross = {y[1] * x[2] - y[2] * x[1], y[2] * x[0] - y[0] * x[2], y[0] * x[1] - y[1] * x[0]};
    double q = 0.0;
    powderkit::Vector3 scaled{}, product{};
    for (int i = 0; i < 9; ++i) {
        q += x[i / 3] * inverse[i / 3][i % 3] * x[i % 3];
        scaled[i / 3] += std::sqrt(det) * inverse[i / 3][i % 3] * x[i % 3];
        product[i / 3] += std::sqrt(det) * inverse[i / 3][i % 3] * cross[i % 3];
    }
    EXPECT_NEAR(dSpacingForHKL(crystal, 2, -3, 5), 1.0 / std::sqrt(q), pk_test::kSeries);
    EXPECT_TRUE(dSpacingForHKL(crystal, 2, -3, 5) == dSpacingForHKL(crystal, -2, 3, -5) && std::isinf(dSpacingForHKL(crystal, 0, 0, 0)));
    const powderkit::Vector3 normal = powderkit::indicesToVector(2, -3, 5, g), back = powderkit::convertWithMetric(normal, gs);
    const powderkit::Vector3 crossed = powderkit::metricCrossProduct(x, y, g);
    for (int i = 0; i < 3; ++i)  // back through G*, made from the reciprocal cell: to the truncated angle factor
        EXPECT_TRUE(closeTo(normal[i], scaled[i], kRoundOff) && closeTo(crossed[i], product[i], kRoundOff) && closeTo(back[i], x[i], pk_test::kSeries)) << i;
    for (int32_t sign : {1, -1}) {  // with a zero index, each sign once
        const powderkit::Vector3 zero = powderkit::indicesToVector(0, sign, -sign, g);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(zero[i], sign * std::sqrt(det) * (inverse[i][1] - inverse[i][2]), kRoundOff * std::sqrt(det)) << i;
    }
    // The index box: floor(s / a*) etc., at least 1, at most 32000, whatever the length.
    int32_t h = 0, k = 0, l = 0;
    const int32_t box = crystal->methods->maxNumRefs(crystal, 1.25, &h, &k, &l);
    EXPECT_EQ(box, (2 * h + 1) * (2 * k + 1) * (2 * l + 1) - 1);
    EXPECT_EQ(std::vector<int32_t>({h, k, l}), std::vector<int32_t>({int32_t(1.25 / stars[0]), int32_t(1.25 / stars[1]), int32_t(1.25 / stars[2])}));
    for (double length : {0.1, -1.0, double(NAN), double(INFINITY), 1e300}) {
        maxNumRefs(crystal, length, &h, &k, &l);
        EXPECT_TRUE(h == k && k == l && l == (length > 1.0 ? 32000 : 1)) << length << ": " << h << " " << k << " " << l;
    }
    EXPECT_EQ(maxNumRefs(crystal, 1e9, &h, &k, &l), int32_t(uint32_t(64001ull * 64001ull * 64001ull - 1ull)));  // wraps
    // Index products wrap in 32 bits: MAX² ≡ 1, MIN² ≡ 0, 2·MAX·MIN ≡ 0, 2·MAX·7 ≡ −14, as for (1 0 −7).
    EXPECT_EQ(dSpacingForHKL(crystal, INT32_MAX, INT32_MIN, 7), dSpacingForHKL(crystal, 1, 0, -7));
    crystal->a = NAN;  // a cell of NaN: every bound 1
    crystal->methods->calculateReciprocalCell(crystal), crystal->methods->calculateMetricTensor(crystal);
    EXPECT_TRUE(maxNumRefs(crystal, 2.0, &h, &k, &l) == 26 && h == 1 && k == 1 && l == 1) << h << " " << k << " " << l;
    freeRefinementCrystal(crystal);
}

TEST(AxisConversions, TimeOfFlightAndBraggAngleBothWays) {
    RefinementProfile *p = makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, 2, 0, 1.5406, 10.0, 120.0);
    // t = dtt2·d² + dtt1·d + zero (µs), d from t (ms): linear, the positive root, the smaller root of a
    // negative dtt2 (none past the top, dtt1²/(4|dtt2|) = 50 ms), pure quadratic; no calibration: 0.
    const struct { double dtt1, dtt2, zero, t, d; } cases[] = {{1000, 0, 0, 2.0, 2.0}, {1000, 0, 5, 2.005, 2.0},
        {1000, 10, 5, 1.015, 1.0}, {1000, -5, 0, 1.98, 2.0}, {0, 10, 0, 0.04, 2.0}, {1000, -5, 0, 50.1, 0.0},
        {0, 0, 0, 2.0, 0.0}, {1e-14, 0, 0, 2.0, 0.0}, {0, 10, 100, 0.05, 0.0}};
    for (const auto &c : cases) {
        p->dtt1 = c.dtt1, p->dtt2 = c.dtt2, p->zero = c.zero;
        EXPECT_NEAR(p->methods->dSpacingForX(p, c.t), c.d, kRoundOff) << c.dtt1 << " " << c.dtt2 << " " << c.t;
        EXPECT_TRUE(c.d == 0.0 || (closeTo(tofForDSpacing(p, c.d), c.t, kRoundOff) && closeTo(tofForDSpacingMicroseconds(p, c.d), 1000 * c.t, kRoundOff)));
    }
    Reflexion *r = makeReflexion();
    r->dSpacing = 1.0, r->isSecondaryWavelength = 1;  // plays no part in time of flight
    EXPECT_DOUBLE_EQ(p->methods->xForReflexion(p, r), 0.11);
    p->xMin = 1.01, p->xMax = 0.04;  // (dtt1, dtt2, zero) = (0, 10, 100)
    double dMin = 0.0, dMax = 0.0;
    p->methods->dSpacingRange(p, &dMin, &dMax);
    EXPECT_TRUE(dMin == 0.0 && closeTo(dMax, std::sqrt(91.0), kRoundOff)) << dMin << " " << dMax;
    // 2θ: at λ/2 and below 180° + zero, which maps back to λ/2; the range on 10…120°.
    p->experimentType = 1, p->secondaryWavelength = 1.5444;
    const struct { double zero; uint8_t secondary; double d, twoTheta; } bragg[] = {{0.0, 0, 1.5406, 60.0},
        {0.0, 0, 2.7, 2.0 * std::asin(1.5406 / 5.4) / kDegree}, {0.0, 1, 2.0, 2.0 * std::asin(1.5444 / 4.0) / kDegree},
        {0.1, 0, 1.5406, 60.1}, {0.1, 0, 0.7703, 180.1}, {0.1, 0, 0.5, 180.1}};
    for (const auto &c : bragg) {
        p->zero = c.zero, r->dSpacing = c.d, r->isSecondaryWavelength = c.secondary;
        EXPECT_NEAR(twoThetaForDSpacing(p, c.d, c.secondary), c.twoTheta, pk_test::kSeries) << c.d;
        EXPECT_NEAR(p->methods->xForReflexion(p, r), c.twoTheta, pk_test::kSeries) << c.d;
        EXPECT_NEAR(dSpacingForTwoTheta(p, c.twoTheta, c.secondary), std::max(c.d, 0.7703 + 0.0019 * c.secondary), pk_test::kSeries);
    }
    p->zero = 0.0, p->xMin = 10.0, p->xMax = 120.0;
    p->methods->dSpacingRange(p, &dMin, &dMax);
    EXPECT_TRUE(closeTo(dMin, 0.7703 / std::sin(60.0 * kDegree), pk_test::kSeries) && closeTo(dMax, 0.7703 / std::sin(5.0 * kDegree), pk_test::kSeries));
    const int32_t experiments[] = {1, 2, 4, 0};
    const double smallest[] = {0.77031, 0.77031, 0.1, 0.1};  // λ/2 + 1e-5 on a 2θ axis
    for (int i = 0; i < 4; ++i) {
        p->experimentType = experiments[i];
        EXPECT_NEAR(minDSpacingForPlot(p), smallest[i], kRoundOff) << experiments[i];
    }
    r->methods->freeReflexion(r);
    freeRefinementProfile(p);
}

// (h k l) is absent exactly when Σ exp(2πi h·t) over the centring translations t
// vanishes; given those as its operators' translations, allowedReflexion agrees.
TEST(ReflexionConditions, CentringAbsencesAgainstTheTranslationSumFriedelChoiceAndOrder) {
    const struct { char type; double gamma; std::vector<std::array<double, 3>> centring; } lattices[] = {
        {'P', 90, {}}, {'X', 90, {}}, {'A', 90, {{0, 0.5, 0.5}}}, {'B', 90, {{0.5, 0, 0.5}}}, {'C', 90, {{0.5, 0.5, 0}}},
        {'I', 90, {{0.5, 0.5, 0.5}}}, {'F', 90, {{0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}}},
        {'R', 120, {{2.0 / 3, 1.0 / 3, 1.0 / 3}, {1.0 / 3, 2.0 / 3, 2.0 / 3}}}, {'R', 90, {}}};  // γ = β: rhombohedral axes
    for (const auto &lattice : lattices) {
        RefinementCrystal *crystal = makeEmptyRefinementCrystal();
        crystal->latticeType = lattice.type, crystal->beta = 90.0, crystal->gamma = lattice.gamma;
        crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
        for (std::size_t n = 0; n <= lattice.centring.size(); ++n) {
            addObjectToDynamicArray(crystal->symmetryOperators, makeRefinementSymmetryOperator());
            for (int j = 0; j < 3 && n > 0; ++j) crystal->symmetryTranslations[n][j] = lattice.centring[n - 1][j];
        }
        for (int32_t i = 0; i < 343; ++i) {
            const int32_t h = i / 49 - 3, k = i / 7 % 7 - 3, l = i % 7 - 3;
            double sum = 1.0;
            for (const auto &t : lattice.centring) sum += std::cos(2.0 * M_PI * (h * t[0] + k * t[1] + l * t[2]));
            EXPECT_EQ(crystal->methods->latticeAbsence(crystal, h, k, l), std::abs(sum) < 1e-9) << lattice.type << h << k << l;
            EXPECT_EQ(crystal->methods->allowedReflexion(crystal, h, k, l), std::abs(sum) >= 1e-9) << lattice.type << h << k << l;
        }
        crystal->allowAllForTwoOperators = 1;  // lets everything through with exactly two operators
        EXPECT_EQ(allowedReflexion(crystal, 1, 0, 0), crystal->symmetryOperators->count == 2 || !latticeAbsence(crystal, 1, 0, 0));
        freeRefinementCrystal(crystal);
    }
    // Of each Friedel pair the one whose last non-zero index is negative is ignored.
    for (int32_t i = 0; i < 125; ++i) {
        const int32_t hkl[3] = {i / 25 - 2, i / 5 % 5 - 2, i % 5 - 2};
        EXPECT_EQ(ignoreReflexionWithIndices(hkl), hkl[2] < 0 || (hkl[2] == 0 && (hkl[1] < 0 || (hkl[1] == 0 && hkl[0] < 0)))) << i;
    }
    RefGenRec records[3] = {{0, 0, 0, 0, 2.0, 0}, {0, 0, 0, 0, 1.0, 0}, {0, 0, 0, 0, NAN, 0}};
    const int32_t order[3][3] = {{0, -1, 0}, {1, 0, 0}, {0, 0, 0}};  // by decreasing d; NaN equal to all
    for (int i = 0; i < 9; ++i) EXPECT_EQ(compareRefGenRecByDSpacing(&records[i / 3], &records[i % 3]), order[i / 3][i % 3]) << i;
    RefinementCrystal *body = makeEmptyRefinementCrystal();  // extreme indices wrap in 32 bits: 2^32 − 1 is odd
    body->latticeType = 'I';
    EXPECT_TRUE(latticeAbsence(body, INT32_MAX, INT32_MAX, 1) && !latticeAbsence(body, INT32_MIN, INT32_MIN, 0));
    freeRefinementCrystal(body);
}

using Plane = std::array<int32_t, 3>;

std::set<Plane> relatedPlanes(RefinementCrystal *crystal, const Plane &hkl) {
    int32_t count = -1;
    int32_t *planes = crystal->methods->planesRelatedBySymmetry(crystal, hkl.data(), 1, &count);
    std::set<Plane> result;
    for (int32_t i = 0; i < count; ++i) result.insert({planes[3 * i], planes[3 * i + 1], planes[3 * i + 2]});
    EXPECT_EQ(result.size(), std::size_t(count)) << "repeated planes";
    std::free(planes);
    return result;
}

// m-3m (LaB6): every permutation and choice of signs of (1 2 3). P6₃mc (ZnO): {1 0 0} found through
// the metric; (1 0 1) has 6 planes, 12 with Friedel mates, which suppressFriedelMates overrides.
TEST(RelatedPlanes, CubicAndHexagonalFormsFriedelFlagsAndHostileOperators) {
    std::set<Plane> form;
    Plane p = {1, 2, 3};
    do {
        for (int s = 0; s < 8; ++s) form.insert({s & 1 ? -p[0] : p[0], s & 2 ? -p[1] : p[1], s & 4 ? -p[2] : p[2]});
    } while (std::next_permutation(p.begin(), p.end()));
    RefinementCrystal *cubic = pk_test::makeReferenceCrystal("LaB6");
    EXPECT_EQ(relatedPlanes(cubic, {1, 2, 3}), form);
    cubic->addFriedelMates = 1;  // the inversion is there already: nothing new
    EXPECT_EQ(relatedPlanes(cubic, {1, 2, 3}), form);
    RefinementCrystal *zno = pk_test::makeReferenceCrystal("ZnO");
    EXPECT_EQ(relatedPlanes(zno, {1, 0, 0}), (std::set<Plane>{{1, 0, 0}, {0, 1, 0}, {-1, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {1, -1, 0}}));
    const uint8_t flags[][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};  // add, suppress
    for (int i = 0; i < 4; ++i) {
        zno->addFriedelMates = flags[i][0], zno->suppressFriedelMates = flags[i][1];
        EXPECT_EQ(relatedPlanes(zno, {1, 0, 1}).size(), i == 1 ? 12u : 6u) << i;
    }
    freeRefinementCrystal(zno);
    // Hostile operators: integer shears are no group, their images many and distinct, but at most 48 are kept.
    for (int32_t i = 0; i < cubic->symmetryOperators->count; ++i) {
        auto *op = static_cast<RefinementSymmetryOperator *>(cubic->symmetryOperators->items[i]);
        op->rotation[0][1] = i * 1000, op->rotation[2][0] = INT32_MAX;
    }
    EXPECT_LE(relatedPlanes(cubic, {1, 2, 3}).size(), 48u);
    freeRefinementCrystal(cubic);
}

// Generation lists (each plane once, of a Friedel pair the one kept, by decreasing d, many runs of
// equal d): every plane and its partner is found at its record; planes not there in Si are not.
TEST(PlaneSearch, FindsAPlaneOrItsPartnerAgainstALinearScan) {
    for (const char *name : {"lowsym", "corundum", "Si"}) {
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name, 0.7);
        std::vector<RefGenRec> list;
        std::set<Plane> listed;
        for (int32_t i = 0; i < crystal->reflexions->count; ++i) {
            for (Plane plane : relatedPlanes(crystal, {static_cast<const Reflexion *>(crystal->reflexions->items[i])->h,
                                                       static_cast<const Reflexion *>(crystal->reflexions->items[i])->k,
                                                       static_cast<const Reflexion *>(crystal->reflexions->items[i])->l})) {
                if (ignoreReflexionWithIndices(plane.data())) plane = {-plane[0], -plane[1], -plane[2]};
                if (listed.insert(plane).second) list.push_back({plane[0], plane[1], plane[2], 0, dSpacingForHKL(crystal, plane[0], plane[1], plane[2]), 0});
            }
        }
        std::qsort(list.data(), list.size(), sizeof(RefGenRec), compareRefGenRecByDSpacing);
        const int32_t last = int32_t(list.size()) - 1;
        ASSERT_GT(last, 100) << name;
        for (int32_t i = 0; i <= last; ++i) {
            const int32_t plane[3] = {list[i].h, list[i].k, list[i].l}, partner[3] = {-plane[0], -plane[1], -plane[2]};
            EXPECT_EQ(crystal->methods->findPlaneWithIndices(crystal, plane, list.data(), 0, last), i) << name;
            EXPECT_EQ(findPlaneWithIndices(crystal, partner, list.data(), 0, last), i) << name;
        }
        // Absent with the d of the allowed (4 4 2); absent between (1 1 1) and (2 2 0); beyond the last; infinite d.
        const int32_t missing[4][3] = {{6, 0, 0}, {2, 0, 0}, {9, 9, 9}, {0, 0, 0}};
        for (int i = 0; i < 4 && name == std::string("Si"); ++i) EXPECT_EQ(findPlaneWithIndices(crystal, missing[i], list.data(), 0, last), PK_NOT_FOUND) << i;
        // A plane of a run of equal d, before the sub-range.
        const int32_t before[3] = {list[1].h, list[1].k, list[1].l};
        EXPECT_TRUE(name != std::string("Si") || (list[1].dSpacing == list[2].dSpacing && findPlaneWithIndices(crystal, before, list.data(), 2, last) == PK_NOT_FOUND));
        freeRefinementCrystal(crystal);
    }
}

}  // namespace
