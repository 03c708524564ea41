// Structure factors, Lorentz-polarisation factors and intensities of single
// reflexions, and the passes over a reflexion list. Expected values come from
// the textbook forms Lp = (1 + cos² 2θ)/(4 sin²θ cos θ) (X-rays) and
// L = 1/(2 sin²θ cos θ) (neutrons), worked out here.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "intensity/cubic_fixture.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"

namespace {

constexpr double kLambda = 1.5406;

// A site with positions at the origin and `extra`, whose one occupant
// scatters with f = b = power (the constant term c and the neutron length).
Site *pointSite(double power, std::vector<std::array<double, 3>> extra = {}) {
    Site *site = makeEmptySite();
    site->isIncluded = 1;
    site->occupants = makeDynamicArrayWithCapacity(1);
    RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
    factor->hasCromerMannCoefficients = factor->hasNeutronScatteringLength = 1;
    factor->cromerMannCoefficients[8] = factor->scatteringLength = power;
    addObjectToDynamicArray(site->occupants,
                            makeRefinementSiteOccupant(std::to_string(power).c_str(), 1.0, factor));
    site->atoms = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(site->atoms, makeRefinementAtom(0.0, 0.0, 0.0));
    for (const auto &p : extra) addObjectToDynamicArray(site->atoms, makeRefinementAtom(p[0], p[1], p[2]));
    return site;
}

double sinTheta(double d, double lambda = kLambda) { return lambda / (2 * d); }
double xrayLp(double d, double lambda = kLambda) {
    const double s = sinTheta(d, lambda), c = std::cos(std::asin(s)), c2 = 1 - 2 * s * s;
    return (1 + c2 * c2) / (4 * s * s * c);
}

struct Cubic {
    RefinementCrystal *crystal = pk_test::makeCrystal(4, 4, 4, 90, 90, 90, {{1, 0, 0, 0, 1, 0, 0, 0, 1}});
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, kLambda, 5, 150);
    Reflexion r{};
    explicit Cubic(std::vector<Site *> sites) {
        for (Site *s : sites) addObjectToDynamicArray(crystal->sites, s);
        calculateSimilarityIndices(crystal);
        r.h = 1;
        r.multiplicity = 6;
        r.dSpacing = 4.0;
    }
    ~Cubic() {
        freeRefinementCrystal(crystal);
        freeRefinementProfile(profile);
    }
    void compute() { calculateIntensityForReflexion(crystal, &r, profile); }
};

TEST(Intensity, WorkedCubicExampleForXraysNeutronsAndTimeOfFlight) {
    Cubic cubic({pointSite(1.0)});
    cubic.compute();
    EXPECT_EQ(cubic.r.structureFactorReal, 1.0);
    EXPECT_NEAR(std::asin(sinTheta(4.0)) * 180 / M_PI, 11.1031, 1e-4);
    EXPECT_NEAR(cubic.r.lorentzPolarization, 12.75839, 1e-5);
    EXPECT_NEAR(cubic.r.lorentzPolarization, xrayLp(4.0), 1e-9);
    EXPECT_NEAR(cubic.r.intensity, 0.0683371, 1e-7);
    EXPECT_NEAR(cubic.r.intensity, 6 * xrayLp(4.0) * std::pow(kLambda, 3) / 4096, 1e-12);

    cubic.profile->radiationType = PK_RADIATION_NEUTRON;
    cubic.compute();
    const double s = sinTheta(4.0);
    EXPECT_NEAR(cubic.r.lorentzPolarization, 13.73967, 1e-5);
    EXPECT_NEAR(cubic.r.lorentzPolarization, 1 / (2 * s * s * std::sqrt(1 - s * s)), 1e-9);

    // Time of flight: L = d⁴ sin(bank/2), no wavelength term.
    cubic.profile->experimentType = PK_EXPERIMENT_TIME_OF_FLIGHT;
    cubic.profile->tofTwoTheta = 150.0;
    cubic.r.dSpacing = 1.2;
    cubic.compute();
    const double lorentz = std::pow(1.2, 4) * std::sin(75.0 * M_PI / 180.0);
    EXPECT_NEAR(cubic.r.lorentzPolarization, lorentz, 1e-10);
    EXPECT_NEAR(cubic.r.intensity, 6 * lorentz / 4096, 1e-12);

    // Beyond θ = 90° the message is printed and θ = 90° is used (L = P = 1).
    cubic.profile->experimentType = 1;
    cubic.profile->radiationType = PK_RADIATION_XRAY;
    cubic.r.dSpacing = 0.5;
    EXPECT_EQ(pk_test::captureStderr([&] { cubic.compute(); }),
              "Reflexion 1 0 0 is out-of-bounds (theta >= 90 degrees)\n");
    EXPECT_NEAR(cubic.r.lorentzPolarization, 1.0, 1e-15);
    EXPECT_NEAR(cubic.r.intensity, 6 * std::pow(kLambda, 3) / 4096, 1e-12);
}

TEST(Intensity, PhasesSitesAndTheSharedScatteringFactor) {
    Site *two = pointSite(2.0, {{0.25, 0.1, 0.0}});
    Site *excluded = pointSite(5.0);
    excluded->isIncluded = 0;
    Cubic cubic({two, excluded});
    cubic.r.k = 2;  // (1 2 0): phases 0 and 2π·0.45
    cubic.compute();
    EXPECT_NEAR(cubic.r.structureFactorReal, 2.0 + 2.0 * std::cos(2 * M_PI * 0.45), 1e-12);
    EXPECT_NEAR(cubic.r.structureFactorImag, 2.0 * std::sin(2 * M_PI * 0.45), 1e-12);
    two->isIncluded = 0;
    cubic.compute();
    EXPECT_EQ(cubic.r.intensity, 0.0);

    // The similarity index, not the occupants, decides: unset indices (all 0)
    // make the second site reuse the first one's f = 1.
    Cubic shared({pointSite(1.0), pointSite(3.0)});
    for (int i = 0; i < 2; ++i) static_cast<Site *>(shared.crystal->sites->items[i])->similarityIndex = 0;
    shared.compute();
    EXPECT_EQ(shared.r.structureFactorReal, 2.0);
    calculateSimilarityIndices(shared.crystal);
    shared.compute();
    EXPECT_EQ(shared.r.structureFactorReal, 4.0);

    // The temperature factor exp(−8π²U/(4d²)) only with the flag and a record.
    Site *vibrating = pointSite(1.0);
    vibrating->displacement = makeRefinementThermalEllipsoidUij();
    vibrating->displacement->uIso = 0.02;
    Cubic warm({vibrating});
    warm.r.dSpacing = 2.0;
    warm.compute();
    EXPECT_EQ(warm.r.structureFactorReal, 1.0);
    warm.crystal->useAnisotropicDisplacement = 1;
    warm.compute();
    EXPECT_NEAR(warm.r.structureFactorReal, std::exp(-8 * M_PI * M_PI * 0.02 / 16.0), 1e-12);

    calculateIntensityForReflexion(nullptr, &warm.r, warm.profile);
    calculateIntensityForReflexion(warm.crystal, nullptr, warm.profile);
    calculateIntensityForReflexion(warm.crystal, &warm.r, nullptr);
}

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

TEST(ReflexionList, ZeroIntensitiesAreDroppedAndRelativeIntensitiesNormalised) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->reflexions = listOf({5, 0, 1e-20, 3, -2e-14});
    removeZeroIntensityReflexions(crystal);
    EXPECT_EQ(intensitiesOf(crystal->reflexions), (std::vector<double>{5, 3}));
    EXPECT_EQ(crystal->reflexions->capacity, 2);
    ASSERT_TRUE(calculateRelativeIntensities(crystal));
    EXPECT_EQ(static_cast<Reflexion *>(crystal->reflexions->items[1])->relativeIntensity, 0.6);

    // Without memory for a fresh list the old one is compacted in place; an
    // emptied list shrunk to capacity 0 cannot be copied and becomes null.
    freeRefinementCrystalReflexions(crystal);
    crystal->reflexions = listOf({0, 7, 0});
    pk_test::failAllocationNumber(1);
    removeZeroIntensityReflexions(crystal);
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(intensitiesOf(crystal->reflexions), (std::vector<double>{7}));
    static_cast<Reflexion *>(crystal->reflexions->items[0])->intensity = 0.0;
    removeZeroIntensityReflexions(crystal);
    EXPECT_EQ(crystal->reflexions->count, 0);
    removeZeroIntensityReflexions(crystal);
    EXPECT_EQ(crystal->reflexions, nullptr);

    crystal->reflexions = listOf({-1, 0});
    bool result = true;
    EXPECT_EQ(pk_test::captureStderr([&] { result = calculateRelativeIntensities(crystal); }),
              "error calculating relative intensities - all intensities are zero\n");
    EXPECT_FALSE(result);
    EXPECT_FALSE(calculateRelativeIntensities(nullptr));
    removeZeroIntensityReflexions(nullptr);
    freeRefinementCrystal(crystal);
}

TEST(ReflexionList, SecondWavelengthCompanionAndPeakPositions) {
    Cubic cubic({pointSite(1.0)});
    cubic.compute();
    EXPECT_EQ(secondaryWavelengthReflexion(cubic.crystal, &cubic.r, cubic.profile), nullptr);  // flag clear
    cubic.profile->useSecondaryWavelength = 1;
    cubic.profile->secondaryWavelength = 1.5444;
    for (double ratio : {2.0, 0.0}) {
        cubic.profile->secondaryIntensityRatio = ratio;
        Reflexion *second = secondaryWavelengthReflexion(cubic.crystal, &cubic.r, cubic.profile);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(second->isSecondaryWavelength, 1);
        EXPECT_NEAR(second->lorentzPolarization, xrayLp(4.0, 1.5444), 1e-9);
        const double expected = ratio == 0.0 ? 0.0 : 6 * xrayLp(4.0, 1.5444) * std::pow(1.5444, 3) / 4096 / ratio;
        EXPECT_NEAR(second->intensity, expected, 1e-12);
        second->methods->freeReflexion(second);
    }
    cubic.profile->radiationType = PK_RADIATION_NEUTRON;
    EXPECT_EQ(secondaryWavelengthReflexion(cubic.crystal, &cubic.r, cubic.profile), nullptr);

    cubic.crystal->reflexions = listOf({1, 1});
    static_cast<Reflexion *>(cubic.crystal->reflexions->items[0])->dSpacing = kLambda;  // 2θ = 60°
    static_cast<Reflexion *>(cubic.crystal->reflexions->items[1])->dSpacing = 2.0;
    calculatePeakPositionsForPlot(cubic.crystal, cubic.profile);
    EXPECT_NEAR(static_cast<Reflexion *>(cubic.crystal->reflexions->items[0])->peakPosition, 60.0, 1e-8);
    EXPECT_NEAR(static_cast<Reflexion *>(cubic.crystal->reflexions->items[1])->peakPosition,
                2 * std::asin(kLambda / 4) * 180 / M_PI, 1e-8);
    calculatePeakPositionsForPlot(cubic.crystal, nullptr);
}

}  // namespace
