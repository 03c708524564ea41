// Structure factors, Lorentz-polarisation factors and intensities of single
// reflexions, and the passes over a reflexion list. Expected values are
// worked out here from the textbook formulas, e.g. for X-rays
// Lp = (1 + cos² 2θ) / (4 sin²θ cos θ), a second form of the library's.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "intensity/cubic_fixture.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"

namespace {

constexpr double kLambda = 1.5406;

// A site at the origin (one position) whose single occupant scatters with
// f = power for X-rays (the constant term c) and b = power for neutrons.
Site *pointSite(double power) {
    Site *site = makeEmptySite();
    site->isIncluded = 1;
    site->occupants = makeDynamicArrayWithCapacity(1);
    RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
    factor->hasCromerMannCoefficients = 1;
    factor->cromerMannCoefficients[8] = power;
    factor->hasNeutronScatteringLength = 1;
    factor->scatteringLength = power;
    char symbol[32];
    std::snprintf(symbol, sizeof symbol, "X%g", power);
    addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant(symbol, 1.0, factor));
    site->atoms = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(site->atoms, makeRefinementAtom(0.0, 0.0, 0.0));
    return site;
}

Reflexion *reflexion100(double d = 4.0) {
    Reflexion *r = makeReflexion();
    r->h = 1;
    r->multiplicity = 6;
    r->dSpacing = d;
    return r;
}

double xrayLp(double lambda, double d) {
    const double theta = std::asin(lambda / (2 * d));
    const double c2 = std::cos(2 * theta);
    return (1 + c2 * c2) / (4 * std::sin(theta) * std::sin(theta) * std::cos(theta));
}

struct Cubic {
    RefinementCrystal *crystal = pk_test::makeCrystal(4, 4, 4, 90, 90, 90, {{1, 0, 0, 0, 1, 0, 0, 0, 1}});
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, kLambda, 5, 150);
    ~Cubic() {
        freeRefinementCrystal(crystal);
        freeRefinementProfile(profile);
    }
};

TEST(Intensity, WorkedCubicExampleForXraysAndNeutrons) {
    Cubic cubic;
    addObjectToDynamicArray(cubic.crystal->sites, pointSite(1.0));
    calculateSimilarityIndices(cubic.crystal);
    Reflexion *r = reflexion100();
    calculateIntensityForReflexion(cubic.crystal, r, cubic.profile);
    EXPECT_NEAR(r->structureFactorReal, 1.0, 1e-15);
    EXPECT_NEAR(r->structureFactorImag, 0.0, 1e-15);
    EXPECT_NEAR(std::asin(kLambda / 8) * 180 / M_PI, 11.1031, 1e-4);
    EXPECT_NEAR(r->lorentzPolarization, 12.75839, 1e-5);
    EXPECT_NEAR(r->lorentzPolarization, xrayLp(kLambda, 4.0), 1e-9);
    EXPECT_NEAR(r->intensity, 0.0683371, 1e-7);
    EXPECT_NEAR(r->intensity, 6 * xrayLp(kLambda, 4.0) * std::pow(kLambda, 3) / 4096, 1e-12);

    cubic.profile->radiationType = PK_RADIATION_NEUTRON;
    calculateIntensityForReflexion(cubic.crystal, r, cubic.profile);
    const double theta = std::asin(kLambda / 8);
    EXPECT_NEAR(r->lorentzPolarization, 13.73967, 1e-5);
    EXPECT_NEAR(r->lorentzPolarization, 1 / (2 * std::sin(theta) * std::sin(theta) * std::cos(theta)), 1e-9);
    r->methods->freeReflexion(r);
}

TEST(Intensity, PhasesOfSeveralPositionsAndExcludedSites) {
    Cubic cubic;
    Site *site = pointSite(2.0);
    addObjectToDynamicArray(site->atoms, makeRefinementAtom(0.25, 0.1, 0.0));
    addObjectToDynamicArray(cubic.crystal->sites, site);
    Site *excluded = pointSite(5.0);
    excluded->isIncluded = 0;
    addObjectToDynamicArray(cubic.crystal->sites, excluded);
    calculateSimilarityIndices(cubic.crystal);
    Reflexion *r = reflexion100();
    r->k = 2;  // (1 2 0): phases 0 and 2π(0.25 + 0.2)
    calculateIntensityForReflexion(cubic.crystal, r, cubic.profile);
    const double phase = 2 * M_PI * 0.45;
    EXPECT_NEAR(r->structureFactorReal, 2.0 + 2.0 * std::cos(phase), 1e-12);
    EXPECT_NEAR(r->structureFactorImag, 2.0 * std::sin(phase), 1e-12);

    site->isIncluded = 0;
    calculateIntensityForReflexion(cubic.crystal, r, cubic.profile);
    EXPECT_EQ(r->structureFactorReal, 0.0);
    EXPECT_EQ(r->intensity, 0.0);
    calculateIntensityForReflexion(nullptr, r, cubic.profile);
    calculateIntensityForReflexion(cubic.crystal, nullptr, cubic.profile);
    calculateIntensityForReflexion(cubic.crystal, r, nullptr);
    r->methods->freeReflexion(r);
}

TEST(Intensity, SimilarityIndexNotOccupantsDecidesTheSharedFactor) {
    Cubic cubic;
    addObjectToDynamicArray(cubic.crystal->sites, pointSite(1.0));
    addObjectToDynamicArray(cubic.crystal->sites, pointSite(3.0));
    Reflexion *r = reflexion100();
    // Indices never set: both 0, so the second site reuses f = 1.
    calculateIntensityForReflexion(cubic.crystal, r, cubic.profile);
    EXPECT_NEAR(r->structureFactorReal, 2.0, 1e-15);
    calculateSimilarityIndices(cubic.crystal);
    calculateIntensityForReflexion(cubic.crystal, r, cubic.profile);
    EXPECT_NEAR(r->structureFactorReal, 4.0, 1e-15);
    r->methods->freeReflexion(r);
}

TEST(Intensity, TemperatureFactorOnlyWithTheFlagAndARecord) {
    Cubic cubic;
    Site *site = pointSite(1.0);
    site->displacement = makeRefinementThermalEllipsoidUij();
    site->displacement->uIso = 0.02;
    addObjectToDynamicArray(cubic.crystal->sites, site);
    calculateSimilarityIndices(cubic.crystal);
    Reflexion *r = reflexion100(2.0);
    calculateIntensityForReflexion(cubic.crystal, r, cubic.profile);
    EXPECT_NEAR(r->structureFactorReal, 1.0, 1e-15);
    cubic.crystal->useAnisotropicDisplacement = 1;
    calculateIntensityForReflexion(cubic.crystal, r, cubic.profile);
    // exp(−8π² U (sin θ/λ)²) with sin θ/λ = 1/(2d).
    EXPECT_NEAR(r->structureFactorReal, std::exp(-8 * M_PI * M_PI * 0.02 / 16.0), 1e-12);
    r->methods->freeReflexion(r);
}

TEST(Intensity, TimeOfFlightAndOutOfBoundsGeometry) {
    Cubic cubic;
    addObjectToDynamicArray(cubic.crystal->sites, pointSite(1.0));
    calculateSimilarityIndices(cubic.crystal);
    Reflexion *r = reflexion100(1.2);
    cubic.profile->experimentType = PK_EXPERIMENT_TIME_OF_FLIGHT;
    cubic.profile->radiationType = PK_RADIATION_NEUTRON;
    cubic.profile->tofTwoTheta = 150.0;
    calculateIntensityForReflexion(cubic.crystal, r, cubic.profile);
    const double lorentz = std::pow(1.2, 4) * std::sin(75.0 * M_PI / 180.0);
    EXPECT_NEAR(r->lorentzPolarization, lorentz, 1e-10);
    EXPECT_NEAR(r->intensity, 6 * lorentz / 4096, 1e-12);

    cubic.profile->experimentType = 1;
    cubic.profile->radiationType = PK_RADIATION_XRAY;
    Reflexion *beyond = reflexion100(0.5);  // λ/2d > 1
    const std::string err = pk_test::captureStderr(
        [&] { calculateIntensityForReflexion(cubic.crystal, beyond, cubic.profile); });
    EXPECT_EQ(err, "Reflexion 1 0 0 is out-of-bounds (theta >= 90 degrees)\n");
    EXPECT_NEAR(beyond->lorentzPolarization, 1.0, 1e-15);  // θ = 90°: L = 1, P = 1
    EXPECT_NEAR(beyond->intensity, 6 * std::pow(kLambda, 3) / 4096, 1e-12);
    r->methods->freeReflexion(r);
    beyond->methods->freeReflexion(beyond);
}

// A reflexion list with the given intensities.
DynamicArray *listOf(const std::vector<double> &intensities) {
    DynamicArray *list = makeDynamicArrayWithCapacity(static_cast<int32_t>(intensities.size()));
    for (double intensity : intensities) {
        Reflexion *r = makeReflexion();
        r->intensity = intensity;
        addObjectToDynamicArray(list, r);
    }
    return list;
}

std::vector<double> intensitiesOf(const DynamicArray *list) {
    std::vector<double> values;
    for (int32_t i = 0; i < list->count; ++i) values.push_back(static_cast<Reflexion *>(list->items[i])->intensity);
    return values;
}

TEST(ReflexionList, ZeroIntensitiesAreDroppedInOrder) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->reflexions = listOf({5, 0, 1e-20, 3, -2e-14});
    removeZeroIntensityReflexions(crystal);
    EXPECT_EQ(intensitiesOf(crystal->reflexions), (std::vector<double>{5, 3}));
    EXPECT_EQ(crystal->reflexions->capacity, 2);

    // Without memory for the fresh list the old one is compacted in place.
    freeRefinementCrystalReflexions(crystal);
    crystal->reflexions = listOf({0, 7, 0});
    pk_test::failAllocationNumber(1);
    removeZeroIntensityReflexions(crystal);
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(intensitiesOf(crystal->reflexions), (std::vector<double>{7}));

    // An empty list shrunk to nothing cannot be copied: the list becomes null.
    crystal->reflexions->count = 1;
    static_cast<Reflexion *>(crystal->reflexions->items[0])->intensity = 0.0;
    removeZeroIntensityReflexions(crystal);
    ASSERT_NE(crystal->reflexions, nullptr);
    EXPECT_EQ(crystal->reflexions->count, 0);
    removeZeroIntensityReflexions(crystal);
    EXPECT_EQ(crystal->reflexions, nullptr);
    removeZeroIntensityReflexions(nullptr);
    freeRefinementCrystal(crystal);
}

TEST(ReflexionList, RelativeIntensitiesNeedAPositiveMaximum) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->reflexions = listOf({-1, 0});
    bool result = true;
    const std::string err = pk_test::captureStderr([&] { result = calculateRelativeIntensities(crystal); });
    EXPECT_FALSE(result);
    EXPECT_EQ(err, "error calculating relative intensities - all intensities are zero\n");
    freeRefinementCrystalReflexions(crystal);
    crystal->reflexions = listOf({2, 8, -4});
    ASSERT_TRUE(calculateRelativeIntensities(crystal));
    EXPECT_EQ(crystal->maxIntensity, 8.0);
    auto *last = static_cast<Reflexion *>(crystal->reflexions->items[2]);
    EXPECT_EQ(last->relativeIntensity, -0.5);
    EXPECT_FALSE(calculateRelativeIntensities(nullptr));
    freeRefinementCrystal(crystal);
}

TEST(ReflexionList, SecondWavelengthCompanion) {
    Cubic cubic;
    addObjectToDynamicArray(cubic.crystal->sites, pointSite(1.0));
    calculateSimilarityIndices(cubic.crystal);
    Reflexion *r = reflexion100();
    calculateIntensityForReflexion(cubic.crystal, r, cubic.profile);
    EXPECT_EQ(secondaryWavelengthReflexion(cubic.crystal, r, cubic.profile), nullptr);  // flag clear
    cubic.profile->useSecondaryWavelength = 1;
    cubic.profile->secondaryWavelength = 1.5444;
    cubic.profile->secondaryIntensityRatio = 2.0;
    Reflexion *second = secondaryWavelengthReflexion(cubic.crystal, r, cubic.profile);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->isSecondaryWavelength, 1);
    EXPECT_EQ(second->multiplicity, 6);
    EXPECT_NEAR(second->lorentzPolarization, xrayLp(1.5444, 4.0), 1e-9);
    EXPECT_NEAR(second->intensity, 6 * xrayLp(1.5444, 4.0) * std::pow(1.5444, 3) / 4096 / 2.0, 1e-12);
    second->methods->freeReflexion(second);

    cubic.profile->secondaryIntensityRatio = 0.0;
    second = secondaryWavelengthReflexion(cubic.crystal, r, cubic.profile);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->intensity, 0.0);
    EXPECT_NEAR(second->lorentzPolarization, xrayLp(1.5444, 4.0), 1e-9);
    second->methods->freeReflexion(second);

    cubic.profile->radiationType = PK_RADIATION_NEUTRON;
    EXPECT_EQ(secondaryWavelengthReflexion(cubic.crystal, r, cubic.profile), nullptr);
    r->methods->freeReflexion(r);
}

TEST(ReflexionList, PeakPositionsThroughTheProfile) {
    Cubic cubic;
    cubic.crystal->reflexions = listOf({1, 1});
    auto *r = static_cast<Reflexion *>(cubic.crystal->reflexions->items[0]);
    r->dSpacing = kLambda;  // 2θ = 60°
    static_cast<Reflexion *>(cubic.crystal->reflexions->items[1])->dSpacing = 2.0;
    calculatePeakPositionsForPlot(cubic.crystal, cubic.profile);
    EXPECT_NEAR(r->peakPosition, 60.0, 1e-8);
    EXPECT_NEAR(static_cast<Reflexion *>(cubic.crystal->reflexions->items[1])->peakPosition,
                2 * std::asin(kLambda / 4) * 180 / M_PI, 1e-8);
    calculatePeakPositionsForPlot(cubic.crystal, nullptr);
}

}  // namespace
