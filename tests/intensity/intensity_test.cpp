// Intensities against tests/data/reflexions and hand-placed atoms; list passes; the March correction; angles.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <tuple>
#include <vector>

#include "intensity/intensity.hpp"
#include "support/output_capture.hpp"
#include "support/reference_phases.hpp"
#include "support/test_data.hpp"
#include "support/tolerances.hpp"

namespace {

using namespace pk_test;
constexpr int32_t kXray = PK_RADIATION_XRAY, kNeutron = PK_RADIATION_NEUTRON, kTof = PK_EXPERIMENT_TIME_OF_FLIGHT;

// Listed m exactly, I to 1e-6: 1.5406 Å as listed (λ = 2d sin θ); TOF 150°: |F|²·m·d⁴ sin θ/V²; 20 Å: L = P = 1.
TEST(ReferenceIntensity, EveryReferenceStructureInEveryGeometry) {
    const double tof = std::sin(75 * M_PI / 180), polar = (1 + std::pow(std::cos(150 * M_PI / 180), 2)) / 2;
    const struct { int32_t type, radiation; double lambda; std::size_t column; int power; double scale; } cases[] = {
        {1, kXray, 1.5406, 8, 0, 0}, {1, kNeutron, 1.5406, 9, 0, 0}, {kTof, kNeutron, 1, 6, 4, tof},
        {kTof, kXray, 1, 5, 4, tof * polar}, {1, kXray, 20, 5, 0, 8000}};  // scale 0: the listed intensity itself
    for (const std::string &name : pk_test::referenceStructureNames()) {
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name, 0.8);
        const auto rows = pk_test::readTable("reflexions/" + name + ".tsv");
        Reflexion **reflexions = reinterpret_cast<Reflexion **>(crystal->reflexions->items);
        std::map<std::array<int32_t, 3>, Reflexion *> planes;  // every plane of every reflexion
        for (int32_t i = 0, count = 0; i < crystal->reflexions->count; ++i) {
            int32_t *list = planesRelatedBySymmetry(crystal, &reflexions[i]->h, 1, &count);
            for (int32_t p = 0; p < 3 * count; p += 3) planes[{list[p], list[p + 1], list[p + 2]}] = reflexions[i];
            std::free(list);
        }
        for (const auto &c : cases) {
            RefinementProfile *profile = makeRefinementProfile(c.type, c.radiation, 2, c.lambda, 5, 160);
            profile->tofTwoTheta = 150.0;
            const std::string err = pk_test::captureStderr([&] {
                for (int32_t i = 0; i < crystal->reflexions->count; ++i)
                    calculateIntensityForReflexion(crystal, reflexions[i], profile);
            });
            EXPECT_EQ(err.find(" is out-of-bounds (theta >= 90 degrees)\n") != std::string::npos, c.lambda > 2) << name;
            calculatePeakPositionsForPlot(crystal, profile);
            for (const auto &row : rows) {
                const std::array<int32_t, 3> hkl = {std::stoi(row[0]), std::stoi(row[1]), std::stoi(row[2])};
                const Reflexion *r = planes.count(hkl) ? planes.at(hkl) : planes.at({-hkl[0], -hkl[1], -hkl[2]});
                const double d = std::stod(row[3]), multiplicity = std::stod(row[4]);
                const double perCell = std::pow(d, c.power) * multiplicity / std::pow(crystal->volume, 2);
                const double expected = std::stod(row[c.column]) * (c.scale == 0 ? 1.0 : c.scale * perCell);
                EXPECT_TRUE(r->multiplicity == std::stoi(row[4]) && closeTo(r->intensity, expected, 1e-6))
                    << name << " " << row[0] << row[1] << row[2] << " case " << &c - cases;
                EXPECT_TRUE(c.column != 8 || closeTo(2 * d * std::sin(r->peakPosition * M_PI / 360), 1.5406, kSeries));
            }
            freeRefinementProfile(profile);
        }
        freeRefinementCrystal(crystal);
    }
}

Site *addSite(RefinementCrystal *crystal, double power, const std::vector<std::array<double, 3>> &atoms) {
    Site *site = makeEmptySite();  // atoms at the given positions, one occupant of f = power at every d
    site->occupants = makeDynamicArrayWithCapacity(1);
    site->atoms = makeDynamicArrayWithCapacity(1);
    RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
    factor->hasCromerMannCoefficients = 1;
    factor->cromerMannCoefficients[8] = power;
    addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant("X", 1.0, factor));
    for (const auto &p : atoms) addObjectToDynamicArray(site->atoms, makeRefinementAtom(p[0], p[1], p[2]));
    addObjectToDynamicArray(crystal->sites, site);
    return site;
}

// F(1 2 0) by hand over included sites (f anew per similarity index), exp(−8π²U/4d²) by flag; second λ: Lp, λ³.
TEST(Intensity, PhasesSitesSharedFactorsTemperatureFactorAndTheSecondWavelength) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->volume = 64.0;
    crystal->sites = makeDynamicArrayWithCapacity(2);
    Site *first = addSite(crystal, 2.0, {{0, 0, 0}, {0.25, 0.1, 0.0}}), *second = addSite(crystal, 5.0, {{0, 0, 0}});
    first->displacement = makeRefinementThermalEllipsoidUij();
    first->displacement->uIso = 0.02;
    RefinementProfile *profile = makeRefinementProfile(1, kXray, 2, 1.5406, 5, 150);
    Reflexion r{};
    std::tie(r.h, r.k, r.multiplicity, r.dSpacing) = std::make_tuple(1, 2, 6, 4.0);
    const double phased = 2.0 + 2.0 * std::cos(2 * M_PI * 0.45), damped = std::exp(-8 * M_PI * M_PI * 0.02 / 64.0);
    const struct { uint8_t first, second; int32_t index; uint8_t flag; double real; } sums[] = {{1, 0, 1, 0, phased},
        {1, 1, 1, 0, phased + 5}, {1, 1, 0, 0, phased + 2}, {0, 1, 0, 0, 5}, {1, 0, 1, 1, damped * phased}};
    for (const auto &s : sums) {
        std::tie(first->isIncluded, second->isIncluded, second->similarityIndex) = std::tie(s.first, s.second, s.index);
        crystal->useAnisotropicDisplacement = s.flag;
        calculateIntensityForReflexion(crystal, &r, profile);
        EXPECT_NEAR(r.structureFactorReal, s.real, kRoundOff) << &s - sums;
    }
    EXPECT_NEAR(r.structureFactorImag, damped * 2.0 * std::sin(2 * M_PI * 0.45), kRoundOff);
    const double s = 1.5444 / 8.0, c2 = 1 - 2 * s * s, lp = (1 + c2 * c2) / (4 * s * s * std::sqrt(1 - s * s));
    const double f2 = std::pow(r.structureFactorReal, 2) + std::pow(r.structureFactorImag, 2);
    profile->useSecondaryWavelength = 1;
    profile->secondaryWavelength = 1.5444;
    profile->secondaryIntensityRatio = 2.0;
    Reflexion *companion = secondaryWavelengthReflexion(crystal, &r, profile);
    EXPECT_TRUE(companion->isSecondaryWavelength == 1 && closeTo(companion->lorentzPolarization, lp, kSeries));
    EXPECT_NEAR(companion->intensity, 6 * f2 * lp * std::pow(1.5444, 3) / 4096 / 2.0, kRoundOff);
    companion->methods->freeReflexion(companion);
    profile->radiationType = kNeutron;
    EXPECT_EQ(secondaryWavelengthReflexion(crystal, &r, profile), nullptr);
    freeRefinementProfile(profile);
    freeRefinementCrystal(crystal);
}

// |I| < 2^-44 dropped, the list shrunk (to null once empty); relative intensities (none if all zero).
TEST(ReflexionList, ZeroIntensitiesDroppedAndRelativeIntensities) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->reflexions = makeDynamicArrayWithCapacity(5);
    for (double intensity : {5.0, 0.0, 1e-20, 3.0, -2e-14}) {
        Reflexion *r = makeReflexion();
        r->intensity = intensity;
        addObjectToDynamicArray(crystal->reflexions, r);
    }
    const auto at = [&crystal](int32_t i) { return static_cast<Reflexion *>(crystal->reflexions->items[i]); };
    removeZeroIntensityReflexions(crystal);
    ASSERT_TRUE(crystal->reflexions->count == 2 && crystal->reflexions->capacity == 2 && at(1)->intensity == 3.0);
    EXPECT_TRUE(calculateRelativeIntensities(crystal));
    EXPECT_TRUE(at(0)->relativeIntensity == 1.0 && at(1)->relativeIntensity == 0.6);
    at(0)->intensity = at(1)->intensity = 0.0;
    captureStderr([&] { EXPECT_FALSE(calculateRelativeIntensities(crystal)); });  // all zero: reported, refused
    removeZeroIntensityReflexions(crystal);
    removeZeroIntensityReflexions(crystal);  // the emptied list goes on the next pass
    EXPECT_EQ(crystal->reflexions, nullptr);
    freeRefinementCrystal(crystal);
}

double march(double alphaDegrees, double r) {  // P(α; r) from its definition
    const double c = std::cos(alphaDegrees * M_PI / 180.0);
    return std::pow(r * r * c * c + (1 - c * c) / r, -1.5);
}

double correction(RefinementCrystal *c, int32_t h, int32_t k, int32_t l) {
    Reflexion r{};
    std::tie(r.h, r.k, r.l, r.multiplicity, r.dSpacing) = std::make_tuple(h, k, l, 48, dSpacingForHKL(c, h, k, l));
    return preferredOrientationCorrectionForReflexion(c, &r);
}

// Midpoint rule against 200000 steps (2e-6); P at each plane's angle to the axis, r ≥ 0.0001; β of lowsym's frame.
TEST(PreferredOrientation, MarchIntegralCorrectionsOnCubicPlanesAndAnglesInAMetric) {
    double exact = 0.0;
    for (int i = 0; i < 200000; ++i) exact += march((i + 0.5) * 90.0 / 200000, 0.5) * (M_PI / 400000);
    EXPECT_NEAR(integrateMarchEquationWithRValue(0.5), 2.0 * exact, 2e-6 * exact);
    RefinementCrystal *cubic = pk_test::makeReferenceCrystal("LaB6");  // m-3m
    cubic->preferredOrientationAxis[0] = cubic->preferredOrientationAxis[1] = 1.0;
    EXPECT_EQ(correction(cubic, 1, 2, 3), 48.0);  // off
    cubic->usePreferredOrientation = 1;
    cubic->preferredOrientation = NAN;  // r = 0.0001, not NaN
    normalizeMarchEquation(cubic);
    EXPECT_NEAR(cubic->marchNormalization * integrateMarchEquationWithRValue(0.0001), M_PI, kRoundOff);
    cubic->preferredOrientation = 0.5;
    cubic->marchNormalization = 1.0;
    for (const auto &[type, mode, r] : {std::tuple<uint8_t, uint8_t, double>{0, 1, 0.5}, {2, 1, 0.5}, {2, 0, 2.0}}) {
        cubic->preferredOrientationAxisType = type;  // (1 1 0) as plane indices or as a direction
        cubic->preferredOrientationMode = mode;  // {1 1 0}: two planes at 0°, two at 90°, eight at 60°
        EXPECT_NEAR(correction(cubic, 1, 1, 0), 2 * march(0, r) + 2 * march(90, r) + 8 * march(60, r), kSeries);
    }
    cubic->preferredOrientationAxis[0] = cubic->preferredOrientationAxis[1] = 0.0;
    EXPECT_EQ(correction(cubic, 1, 2, 3), 48.0);
    freeRefinementCrystal(cubic);
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("lowsym");
    EXPECT_NEAR(powderkit::angleInMetric({1, 0, 0}, {0, 0, 1}, crystal->metricTensor), 98.7, kSeries);
    EXPECT_NEAR(powderkit::angleInMetric({1, 0, 0}, {0, 1, 0}, crystal->metricTensor), 90.0, kSeries);
    // Every entry counts: none is ±1, which would make a product a quotient.
    const powderkit::Matrix3 m{{{2, -1.5, 3}, {0.5, 4, -2}, {1.25, 0.75, 5}}};
    powderkit::Matrix3 inverse{};
    ASSERT_TRUE(powderkit::invertMatrix3(m, inverse));
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const double product = m[i][0] * inverse[0][j] + m[i][1] * inverse[1][j] + m[i][2] * inverse[2][j];
            EXPECT_NEAR(product, i == j ? 1.0 : 0.0, kRoundOff) << i << j;  // M·M⁻¹ = I
        }
    }
    EXPECT_EQ(powderkit::angleBetweenVectors({0, 0, 0}, {1, 0, 0}), -999.9);  // no angle to a zero vector
    const double zero[3][3] = {};  // a frame that cannot be inverted
    captureStderr([&] { EXPECT_EQ(powderkit::angleInMetric({1, 0, 0}, {0, 1, 0}, zero), -999.9); });
    freeRefinementCrystal(crystal);
}

}  // namespace
