// The crystal model: operators, folding, temperature factors, the Jacobi decomposition, sites.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "model/model.hpp"
#include "support/symmetry_operators.hpp"
#include "support/tolerances.hpp"

namespace {

using namespace pk_test;
using namespace powderkit;

bool near3(const double *v, double x, double y, double z) {
    return closeTo(v[0], x, kRoundOff) && closeTo(v[1], y, kRoundOff) && closeTo(v[2], z, kRoundOff);
}

// By hand: R·(0.1, 0.2, 0.3) = (0.5, 0.1, 0.8), R·(v + o) + t − o; folded into [0, 1), within 1e-5 of a face to 0.
TEST(OperatorArithmetic, RotationTranslationDisplacedOriginAndFoldingIntoTheCell) {
    RefinementSymmetryOperator *op = makeOperator({1, -1, 2, 2, 1, -1, -1, 3, 1}, {0.5, 0.25, 0.125});
    double v[3] = {0.1, 0.2, 0.3}, out[3], origin[3] = {0.05, -0.1, 0.2};
    EXPECT_TRUE(near3(op->methods->rotateVector(out, op, v), 0.5, 0.1, 0.8));
    EXPECT_TRUE(near3(op->methods->transformVectorWithDisplacedOrigin(origin, op, v, origin), 1.5, 0.25, 0.575));
    EXPECT_TRUE(near3(op->methods->transformVector(v, op, v), 1.0, 0.35, 0.925));  // in place
    op->methods->freeRefinementSymmetryOperator(op);
    const double in[] = {0.3, -0.25, 2.25, -3.75, 1.0, -1.0, 0.999995, 0.000005, -0.000005, 3.0, 0.00002, 0.99998};
    const double folded[] = {0.3, 0.75, 0.25, 0.25, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.00002, 0.99998};
    Site *site = makeEmptySite();
    for (int i = 0; i < 12; ++i) {
        site->x = site->y = site->z = in[i];
        site->methods->wrapSiteCoordinates(site);
        EXPECT_TRUE(site->x == folded[i] && site->y == folded[i] && site->z == folded[i]) << in[i] << " " << site->y;
    }
    site->methods->freeSite(site);
}

// exp(−2π²·Uiso·hᵀG*h) equals the tensor U_ij = Uiso·cos(reciprocal angle ij): its lower triangle is unread.
TEST(TemperatureFactor, IsotropicAndTheTensorInAnObliqueCell) {
    const double star[3] = {0.21, 0.17, 0.12}, hkl[3] = {4, -5, 6}, uIso = 0.0087, degree = M_PI / 180.0;
    const double ca = std::cos(97.0 * degree), cb = std::cos(71.0 * degree), cg = std::cos(104.0 * degree);
    const double cosine[3][3] = {{1.0, cg, cb}, {cg, 1.0, ca}, {cb, ca, 1.0}};
    RefinementThermalEllipsoidUij *tensor = makeRefinementThermalEllipsoidUij();
    double q = 0.0;  // 1/d²
    for (int i = 0; i < 9; ++i) {
        tensor->u[i / 3][i % 3] = i / 3 > i % 3 ? 5.0 * i : uIso * cosine[i / 3][i % 3];
        q += hkl[i / 3] * star[i / 3] * cosine[i / 3][i % 3] * star[i % 3] * hkl[i % 3];
    }
    tensor->uIso = uIso;
    const double expected = std::exp(-2.0 * M_PI * M_PI * uIso * q), d = 1.0 / std::sqrt(q);
    EXPECT_NEAR(powderkit::temperatureFactor(tensor, 4, -5, 6, d, 0.21, 0.17, 0.12), expected, kRoundOff);
    tensor->isAnisotropic = 2;  // any non-zero byte; uIso is then unread
    tensor->uIso = 1.0;
    EXPECT_NEAR(tensor->methods->temperatureFactor(tensor, 4, -5, 6, d, 0.21, 0.17, 0.12), expected, kRoundOff);
    powderkit::freeRefinementThermalEllipsoidUij(tensor);
}

// U = H·diag(λ)·H, H = I − 2nnᵀ/|n|²: λ comes back, the vectors rebuild U, Uiso is the mean (flag unread).
TEST(Jacobi, AReflectedDiagonalTensorDecomposes) {
    const double lambda[3] = {0.01, 0.03, 0.07}, n[3] = {0.3, -0.8, 0.5}, norm = 0.98;
    double h[3][3], u[3][3] = {}, values[3], v[3][3], rebuilt[3][3] = {};  // rebuilt: V·diag(values)·Vᵀ
    for (int i = 0; i < 9; ++i) h[i / 3][i % 3] = (i % 4 == 0) - 2.0 * n[i / 3] * n[i % 3] / norm;
    for (int i = 0; i < 27; ++i) u[i / 9][i / 3 % 3] += h[i / 9][i % 3] * lambda[i % 3] * h[i / 3 % 3][i % 3];
    RefinementThermalEllipsoidUij *record = makeRefinementThermalEllipsoidUij();
    std::copy(&u[0][0], &u[0][0] + 9, &record->u[0][0]);
    int32_t rotations = -1;
    powderkit::jacobi(u, values, v, &rotations);
    EXPECT_TRUE(rotations > 0 && rotations < 20) << rotations;  // a few sweeps of at most three
    for (int i = 0; i < 27; ++i) rebuilt[i / 9][i / 3 % 3] += v[i / 9][i % 3] * values[i % 3] * v[i / 3 % 3][i % 3];
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(near3(rebuilt[i], record->u[i][0], record->u[i][1], record->u[i][2])) << i;
    std::sort(values, values + 3);
    EXPECT_TRUE(near3(values, lambda[0], lambda[1], lambda[2]));
    EXPECT_NEAR(record->methods->uIsoEquivalent(record), (0.01 + 0.03 + 0.07) / 3.0, kRoundOff);
    powderkit::freeRefinementThermalEllipsoidUij(record);
}

// Equal neighbours (same occupant symbol bytes and occupancies) share the first's index; NULL sites are skipped.
TEST(SiteStructure, ComparisonsSimilarityRunsAndTheRecordsTree) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    using Occupants = std::vector<std::pair<const char *, double>>;
    const Occupants occupants[] = {{{"Fe", 0.5}, {"Fe", 0.5}}, {{"Fe", 0.5}, {"Ni", 0.5}}, {{"Fe", 0.5}, {"Fe", 0.5}},
                                   {{"Fe", 0.5}}, {{"Fe", 0.5000001}}, {{"Fe3+", 0.5}}, {{"Fe3+", 0.5}}, {}, {}};
    crystal->sites = makeDynamicArrayWithCapacity(4);
    for (const Occupants &list : occupants) {
        Site *site = makeEmptySite();
        site->occupants = makeDynamicArrayWithCapacity(1);
        char symbol[8] = "";
        for (const auto &[name, x] : list)
            addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant(std::strcpy(symbol, name), x, nullptr));
        symbol[0] = 'x';  // the occupant keeps its own copy
        addObjectToDynamicArray(crystal->sites, site);
    }
    addObjectToDynamicArray(crystal->sites, makeEmptySite());
    crystal->sites->items[crystal->sites->count++] = nullptr;
    crystal->methods->calculateSimilarityIndices(crystal);
    Site **sites = reinterpret_cast<Site **>(crystal->sites->items);
    const int32_t expected[] = {0, 1, 1, 3, 4, 5, 5, 7, 7, 9};  // (Fe, Fe) matches the (Fe, Ni) before it
    for (int i = 0; i < 10; ++i) EXPECT_EQ(sites[i]->similarityIndex, expected[i]) << i;
    EXPECT_FALSE(sites[1]->methods->siteHasSameOccupants(sites[1], sites[0]));  // Ni finds no partner
    EXPECT_FALSE(siteHasSameOccupants(sites[9], sites[9]));  // no occupant list
    EXPECT_FALSE(siteHasSameOccupants(sites[9], sites[0]));  // one list only, either way round
    EXPECT_FALSE(siteHasSameOccupants(sites[0], sites[9]));
    EXPECT_FALSE(siteHasSameOccupants(sites[0], nullptr));  // no site
    EXPECT_FALSE(siteHasSameOccupants(nullptr, sites[0]));
    crystal->methods->freeRefinementCrystal(crystal);
}

// The constraint line must fit with its NUL; what fits is copied; a site without label has none.
TEST(SiteStructure, ConstraintTextIsFormattedAndMustFitWithItsNul) {
    Site site{};
    site.label = "O1";
    site.constraintX = -1;
    site.constraintY = 12;
    const std::string text = "Atomic coordinate constraints for site O1  : [x = -1, y = 12, z =  0]";
    char buffer[100];
    EXPECT_TRUE(describeSiteConstraints(&site, buffer, int32_t(text.size()) + 1) && buffer == text);
    EXPECT_TRUE(!describeSiteConstraints(&site, buffer, int32_t(text.size())) && std::string(buffer) + "]" == text);
    site.label = nullptr;
    EXPECT_FALSE(describeSiteConstraints(&site, buffer, 100));
}

}  // namespace
