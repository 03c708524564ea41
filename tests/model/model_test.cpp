// The crystal model: operator arithmetic and folding (images by hand), temperature factors
// (hand values; an isotropic U as a tensor in an oblique cell against hᵀG*h), the Jacobi
// decomposition of tensors of known eigenvalues, site comparisons and the records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "model/model.hpp"
#include "support/output_capture.hpp"
#include "support/symmetry_operators.hpp"
#include "support/tolerances.hpp"

namespace {

using pk_test::closeTo;
using pk_test::kRoundOff;

bool near3(const double *v, double x, double y, double z) {
    return closeTo(v[0], x, kRoundOff) && closeTo(v[1], y, kRoundOff) && closeTo(v[2], z, kRoundOff);
}

// R with no zero entry, so that every term counts: for v = (0.1, 0.2, 0.3), R·v =
// (0.5, 0.1, 0.8); for o = (0.05, −0.1, 0.2), R·(v + o) + t − o = (1.05, −0.1, 0.65) + t − o.
TEST(OperatorArithmetic, RotationTranslationDisplacedOriginAndFoldingIntoTheCell) {
    RefinementSymmetryOperator *op = pk_test::makeOperator({1, -1, 2, 2, 1, -1, -1, 3, 1}, 0.5, 0.25, 0.125);
    double v[3] = {0.1, 0.2, 0.3}, out[3], origin[3] = {0.05, -0.1, 0.2};
    EXPECT_TRUE(near3(op->methods->rotateVector(out, op, v), 0.5, 0.1, 0.8));
    EXPECT_TRUE(near3(transformVectorWithDisplacedOrigin(out, op, v, origin), 1.5, 0.25, 0.575));
    EXPECT_TRUE(near3(op->methods->transformVectorWithDisplacedOrigin(origin, op, v, origin), 1.5, 0.25, 0.575));
    EXPECT_TRUE(near3(op->methods->transformVector(v, op, v), 1.0, 0.35, 0.925));
    EXPECT_TRUE(near3(op->methods->rotateVector(v, op, v), 2.5, 1.425, 0.975));
    op->methods->freeRefinementSymmetryOperator(op);
    // Folding into [0, 1), the faces within 1e-5 snapped to 0; coincidence per coordinate, no lattice translation.
    const double in[] = {0.3, -0.25, 2.25, -3.75, 1.0, -1.0, 0.999995, 0.000005, -0.000005, 3.0, 0.00002, 0.99998};
    const double folded[] = {0.3, 0.75, 0.25, 0.25, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.00002, 0.99998};
    Site *site = makeEmptySite();
    for (int i = 0; i < 12; ++i) {
        site->x = site->z = 0.5, site->y = in[i];
        site->methods->wrapSiteCoordinates(site);
        EXPECT_TRUE(site->y == folded[i] && site->x == 0.5 && site->z == 0.5) << in[i] << " " << site->y;
    }
    EXPECT_EQ(powderkit::reducedFractionalCoordinate(1e12 + 0.5), 0.0);  // past int32: the clamped fold is beyond the face
    site->methods->freeSite(site);
    const double p[3] = {0.2, 0.3, 0.4}, q[5][3] = {{0.2001, 0.3001, 0.4001}, {0.20012, 0.3, 0.4},
                                                    {0.2, 0.30012, 0.4}, {0.2, 0.3, 0.40012}, {0.99999, 0.3, 0.4}};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(powderkit::positionsCoincide(p, q[i], 0.00011), i == 0) << i;
}

RefinementThermalEllipsoidUij *makeTensor(const double u[3][3]) {
    RefinementThermalEllipsoidUij *record = makeRefinementThermalEllipsoidUij();
    std::copy(&u[0][0], &u[0][0] + 9, &record->u[0][0]);
    record->isAnisotropic = 2;  // any non-zero byte
    return record;
}

// exp(−2π²·Uiso/d²), 30 digits by hand; as a tensor U_ij = Uiso·cos(angle of reciprocal axes i, j)
// gives the same with 1/d² = hᵀG*h; the lower triangle (spoilt here) and uIso are not read.
TEST(TemperatureFactor, IsotropicHandValueAndTheTensorInAnObliqueCell) {
    RefinementThermalEllipsoidUij *isotropic = makeRefinementThermalEllipsoidUij();
    EXPECT_EQ(isotropic->methods->temperatureFactor(isotropic, 1, -2, 3, 0.3, 0.2, 0.3, 0.4), 1.0);
    isotropic->uIso = 0.025;
    EXPECT_NEAR(isotropic->methods->temperatureFactor(isotropic, 1, -2, 3, 0.8, 0.2, 0.3, 0.4), 0.462521219151724313, kRoundOff);
    const double star[3] = {0.21, 0.17, 0.12}, uIso = 0.0087, degree = M_PI / 180.0;
    const double ca = std::cos(97.0 * degree), cb = std::cos(71.0 * degree), cg = std::cos(104.0 * degree);
    const double cosine[3][3] = {{1.0, cg, cb}, {cg, 1.0, ca}, {cb, ca, 1.0}};
    double u[3][3];
    for (int i = 0; i < 9; ++i) u[i / 3][i % 3] = i / 3 > i % 3 ? 5.0 * i : uIso * cosine[i / 3][i % 3];
    RefinementThermalEllipsoidUij *tensor = makeTensor(u);
    tensor->uIso = 1.0, isotropic->uIso = uIso;
    for (const auto &hkl : {std::array<int, 3>{1, 0, 0}, {0, 1, -1}, {1, 2, 3}, {-3, 1, 2}, {4, -5, 6}}) {
        double q = 0.0;  // 1/d²
        for (int i = 0; i < 9; ++i) q += hkl[i / 3] * star[i / 3] * cosine[i / 3][i % 3] * star[i % 3] * hkl[i % 3];
        const double expected = std::exp(-2.0 * M_PI * M_PI * uIso * q), d = 1.0 / std::sqrt(q);
        for (auto *record : {tensor, isotropic})
            EXPECT_NEAR(record->methods->temperatureFactor(record, hkl[0], hkl[1], hkl[2], d, star[0], star[1], star[2]), expected, kRoundOff);
    }
    tensor->methods->freeRefinementThermalEllipsoidUij(tensor), isotropic->methods->freeRefinementThermalEllipsoidUij(isotropic);
}

// U = H·diag(λ)·H with H = I − 2nnᵀ, a reflection in a random plane: the eigenvalues come
// back, the vectors rebuild U, and the equivalent Uiso is their mean whatever the flag says.
TEST(Jacobi, RandomTensorsDecomposeExactlyAndNaNStopsAtTheSweepLimit) {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> eigenvalue(0.001, 0.08), component(-1.0, 1.0);
    for (int trial = 0; trial < 100; ++trial) {
        double lambda[3] = {eigenvalue(random), eigenvalue(random), eigenvalue(random)}, n[3], h[3][3], u[3][3] = {};
        if (trial % 10 == 0) lambda[1] = lambda[0];  // a degenerate pair now and then
        for (double &x : n) x = component(random);
        const double norm = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        for (int i = 0; i < 9; ++i) h[i / 3][i % 3] = (i % 4 == 0 ? 1.0 : 0.0) - 2.0 * n[i / 3] * n[i % 3] / norm;
        for (int i = 0; i < 27; ++i) u[i / 9][i / 3 % 3] += h[i / 9][i % 3] * lambda[i % 3] * h[i / 3 % 3][i % 3];
        double values[3], vectors[3][3], copy[3][3];
        int32_t rotations = -1;
        std::copy(&u[0][0], &u[0][0] + 9, &copy[0][0]);
        EXPECT_EQ(pk_test::captureStderr([&] { powderkit::jacobi(copy, values, vectors, &rotations); }), "");
        EXPECT_TRUE(rotations > 0 && rotations < 20) << rotations;  // a few sweeps of at most three
        for (int i = 0; i < 9; ++i)  // V·diag(values)·Vᵀ gives U back
            EXPECT_NEAR(vectors[i / 3][0] * values[0] * vectors[i % 3][0] + vectors[i / 3][1] * values[1] * vectors[i % 3][1] + vectors[i / 3][2] * values[2] * vectors[i % 3][2], u[i / 3][i % 3], kRoundOff);
        std::sort(values, values + 3), std::sort(lambda, lambda + 3);
        EXPECT_TRUE(near3(values, lambda[0], lambda[1], lambda[2]));
        RefinementThermalEllipsoidUij *record = makeTensor(u);
        record->isAnisotropic = trial % 2;
        EXPECT_NEAR(record->methods->uIsoEquivalent(record), (lambda[0] + lambda[1] + lambda[2]) / 3.0, kRoundOff);
        record->methods->freeRefinementThermalEllipsoidUij(record);
    }
    // No comparison with NaN succeeds: nothing rotates in fifty sweeps, the diagonal stays.
    const double stuck[3][3] = {{0.01, NAN, 0.0}, {NAN, 0.02, 0.0}, {0.0, 0.0, 0.03}};
    RefinementThermalEllipsoidUij *record = makeTensor(stuck);
    double value = 0.0;
    EXPECT_EQ(pk_test::captureStderr([&] { value = uIsoEquivalent(record); }), "Too many iterations in routine jacobi\n");
    EXPECT_NEAR(value, 0.02, kRoundOff);
    record->methods->freeRefinementThermalEllipsoidUij(record);
}

// Sites compare by occupants (byte-equal symbol, equal occupancy; each of the first site's finds a
// partner); a run of equal neighbours takes its first's index. Freeing skips null entries.
TEST(SiteStructure, ComparisonsSimilarityRunsAndTheRecordsTree) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    EXPECT_TRUE(crystal->scale == 1.0 && crystal->auxiliaryFactor == 1.0 && crystal->methods == &powderkit::kCrystalMethods);
    const std::vector<std::vector<std::pair<const char *, double>>> occupants = {{{"Fe", 0.5}, {"Fe", 0.5}}, {{"Fe", 0.5}, {"Ni", 0.5}},
        {{"Fe", 0.5}, {"Fe", 0.5}}, {{"Fe", 0.5}}, {{"Fe", 0.5000001}}, {{"Fe3+", 0.5}}, {{"Fe3+", 0.5}}, {}, {}};
    crystal->sites = makeDynamicArrayWithCapacity(4);
    for (const auto &list : occupants) {
        Site *site = makeEmptySite();
        site->occupants = makeDynamicArrayWithCapacity(1);
        char symbol[8] = "";
        for (const auto &[name, occupancy] : list) addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant(std::strcpy(symbol, name), occupancy, makeRefinementAtomicScatteringFactor()));
        symbol[0] = 'x';  // the occupant keeps its own copy
        site->atoms = makeDynamicArrayWithCapacity(1), site->displacement = makeRefinementThermalEllipsoidUij();
        addObjectToDynamicArray(site->atoms, makeRefinementAtom(0, 0, 0));
        addObjectToDynamicArray(crystal->sites, site);
    }
    addObjectToDynamicArray(crystal->sites, makeEmptySite());
    crystal->methods->calculateSimilarityIndices(crystal);
    Site **sites = reinterpret_cast<Site **>(crystal->sites->items);
    const int32_t expected[] = {0, 1, 1, 3, 4, 5, 5, 7, 7, 9};  // (Fe, Fe) matches the (Fe, Ni) before it
    for (int i = 0; i < 10; ++i) EXPECT_EQ(sites[i]->similarityIndex, expected[i]) << i;
    EXPECT_TRUE(sites[0]->methods->siteHasSameOccupants(sites[0], sites[1]));  // each Fe finds the Fe of (Fe, Ni)
    EXPECT_FALSE(powderkit::siteHasSameOccupants(sites[1], sites[0]) || powderkit::siteHasSameOccupants(sites[9], sites[9]));
    EXPECT_STREQ(static_cast<RefinementSiteOccupant *>(sites[5]->occupants->items[0])->symbol, "Fe3+");
    crystal->reflexions = makeDynamicArrayWithCapacity(2);
    addObjectToDynamicArray(crystal->reflexions, makeReflexion());
    for (DynamicArray *list : {crystal->sites, crystal->reflexions}) list->items[list->count++] = nullptr;
    freeRefinementCrystalReflexions(crystal);
    EXPECT_EQ(crystal->reflexions, nullptr);
    crystal->methods->freeRefinementCrystal(crystal);
    freeRefinementCrystal(nullptr), powderkit::freeSite(nullptr), powderkit::freeReflexion(nullptr), freeRefinementCrystalReflexions(nullptr);
}

TEST(SiteStructure, ConstraintTextIsFormattedAndMustFitWithItsNul) {
    Site site{};
    site.label = "O1", site.constraintX = -1, site.constraintY = 12;
    const std::string text = "Atomic coordinate constraints for site O1  : [x = -1, y = 12, z =  0]";
    char buffer[100], small[10];
    EXPECT_TRUE(powderkit::describeSiteConstraints(&site, buffer, int32_t(text.size()) + 1) && buffer == text);
    EXPECT_FALSE(powderkit::describeSiteConstraints(&site, buffer, int32_t(text.size())) || powderkit::describeSiteConstraints(&site, buffer, 0));
    EXPECT_TRUE(!powderkit::describeSiteConstraints(&site, small, 10) && std::string(small) == "Atomic co");
    site.label = nullptr;
    EXPECT_FALSE(powderkit::describeSiteConstraints(&site, buffer, 100));
}

}  // namespace
