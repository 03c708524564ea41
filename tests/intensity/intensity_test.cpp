// Intensities: the reference structures against the independent lists of
// tests/data/reflexions in every geometry; structure factors of a worked cubic cell;
// the list passes; the March correction against P(α; r) at angles worked out by hand;
// angles in a metric against Gram's formula.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <vector>

#include "intensity/intensity.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"
#include "support/reference_phases.hpp"
#include "support/test_data.hpp"
#include "support/tolerances.hpp"

namespace {

using pk_test::closeTo;
using pk_test::kRoundOff;
using pk_test::kSeries;

// λ = 1.5406 Å: multiplicities exactly, intensities to 1e-6 of the strongest (the lists carry
// 6-8 digits), X-ray Lp to kSeries; time of flight (bank at 150°): listed |F|² times d⁴ sin θ
// (and (1 + cos² 2θ)/2 for X-rays); at λ = 20 Å every θ is beyond 90°: L = P = 1, and a message.
TEST(ReferenceIntensity, EveryReferenceStructureInEveryGeometry) {
    const double sine = std::sin(75.0 * M_PI / 180.0), c2 = std::cos(150.0 * M_PI / 180.0);
    const struct { int32_t experiment, radiation; double lambda; std::size_t column; } cases[] = {{1, PK_RADIATION_XRAY, 1.5406, 8},
        {1, PK_RADIATION_NEUTRON, 1.5406, 9}, {PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON, 1.0, 6}, {PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_XRAY, 1.0, 5}, {1, PK_RADIATION_XRAY, 20.0, 5}};
    for (const std::string &name : pk_test::referenceStructureNames()) {
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name, 0.8);
        const auto rows = pk_test::readTable("reflexions/" + name + ".tsv");
        ASSERT_TRUE(crystal != nullptr && !rows.empty() && crystal->reflexions->count == int32_t(rows.size())) << name;
        std::map<std::array<int32_t, 3>, Reflexion *> planes;  // every plane of every reflexion, and its partner
        for (int32_t i = 0, count = 0; i < crystal->reflexions->count; ++i) {
            auto *r = static_cast<Reflexion *>(crystal->reflexions->items[i]);
            int32_t *list = planesRelatedBySymmetry(crystal, &r->h, 1, &count);
            for (int32_t p = 0; p < 3 * count; p += 3) planes[{list[p], list[p + 1], list[p + 2]}] = planes[{-list[p], -list[p + 1], -list[p + 2]}] = r;
            std::free(list);
        }
        for (const auto &c : cases) {
            RefinementProfile *profile = makeRefinementProfile(c.experiment, c.radiation, 2, c.lambda, 5, 160);
            profile->tofTwoTheta = 150.0;
            const std::string err = pk_test::captureStderr([&] {
                for (int32_t i = 0; i < crystal->reflexions->count; ++i)
                    calculateIntensityForReflexion(crystal, static_cast<Reflexion *>(crystal->reflexions->items[i]), profile);
            });
            const auto *first = static_cast<const Reflexion *>(crystal->reflexions->items[0]);
            EXPECT_EQ(err.substr(0, err.find('\n') + 1), c.lambda < 2 ? "" : "Reflexion " + std::to_string(first->h) + " " + std::to_string(first->k) + " " +
                                                                             std::to_string(first->l) + " is out-of-bounds (theta >= 90 degrees)\n");
            std::vector<double> expected;
            for (const auto &row : rows) {
                const double d = std::stod(row[3]), multiple = std::stod(row[4]) / (crystal->volume * crystal->volume);
                expected.push_back(c.column > 6 ? std::stod(row[c.column]) : c.lambda > 2 ? std::stod(row[5]) * 8000 * multiple
                                   : std::stod(row[c.column]) * std::pow(d, 4) * sine * (c.column == 5 ? (1 + c2 * c2) / 2 : 1) * multiple);
            }
            const double strongest = *std::max_element(expected.begin(), expected.end());
            for (std::size_t n = 0; n < rows.size(); ++n) {
                const auto &row = rows[n];
                const auto found = planes.find({std::stoi(row[0]), std::stoi(row[1]), std::stoi(row[2])});
                ASSERT_NE(found, planes.end()) << name << " " << row[0] << row[1] << row[2];
                const Reflexion *r = found->second;
                EXPECT_EQ(r->multiplicity, std::stoi(row[4])) << name;
                EXPECT_NEAR(r->intensity, expected[n], 1e-6 * strongest) << name << " " << row[0] << row[1] << row[2] << " case " << &c - cases;
                EXPECT_TRUE(c.column != 8 || closeTo(r->lorentzPolarization, std::stod(row[7]), kSeries)) << name;
            }
            freeRefinementProfile(profile);
        }
        freeRefinementCrystal(crystal);
    }
}

// A cubic cell (a = 4 Å, identity only), each site at the origin and `extra` with one
// occupant of f = b = its power; the reflexion (1 0 0).
struct Cubic {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, 1.5406, 5, 150);
    Reflexion r{};
    Cubic(std::vector<double> powers, std::vector<std::array<double, 3>> extra = {}) {
        crystal->a = crystal->b = crystal->c = 4.0, crystal->alpha = crystal->beta = crystal->gamma = 90.0, crystal->volume = 64.0;
        crystal->sites = makeDynamicArrayWithCapacity(2);
        extra.insert(extra.begin(), {0.0, 0.0, 0.0});
        for (double power : powers) {
            Site *site = makeEmptySite();
            site->isIncluded = 1, site->occupants = makeDynamicArrayWithCapacity(1), site->atoms = makeDynamicArrayWithCapacity(1);
            RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
            factor->hasCromerMannCoefficients = factor->hasNeutronScatteringLength = 1;
            factor->cromerMannCoefficients[8] = factor->scatteringLength = power;
            addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant(std::to_string(power).c_str(), 1.0, factor));
            for (const auto &p : extra) addObjectToDynamicArray(site->atoms, makeRefinementAtom(p[0], p[1], p[2]));
            addObjectToDynamicArray(crystal->sites, site);
        }
        calculateReciprocalCell(crystal), calculateSimilarityIndices(crystal);
        r.h = 1, r.multiplicity = 6, r.dSpacing = 4.0;
    }
    ~Cubic() { freeRefinementCrystal(crystal), freeRefinementProfile(profile); }
    Site *site(int i) { return static_cast<Site *>(crystal->sites->items[i]); }
    const Reflexion &compute() {
        calculateIntensityForReflexion(crystal, &r, profile);
        return r;
    }
};

double xrayLp(double d, double lambda) {  // (1 + cos² 2θ)/(4 sin²θ cos θ)
    const double s = lambda / (2 * d), c2 = 1 - 2 * s * s;
    return (1 + c2 * c2) / (4 * s * s * std::sqrt(1 - s * s));
}

// F = Σ f·exp(2πi h·x) over included sites, one f per similarity index; exp(−8π²U/(4d²)) only
// with the flag; the second wavelength's companion: own Lp and λ³, intensity over the ratio.
TEST(Intensity, PhasesSitesSharedFactorsTemperatureFactorAndTheSecondWavelength) {
    Cubic cubic({2.0, 5.0}, {{0.25, 0.1, 0.0}});
    cubic.site(1)->isIncluded = 0, cubic.r.k = 2;  // (1 2 0): phases 0 and 2π·0.45
    EXPECT_NEAR(cubic.compute().structureFactorReal, 2.0 + 2.0 * std::cos(2 * M_PI * 0.45), kRoundOff);
    EXPECT_NEAR(cubic.r.structureFactorImag, 2.0 * std::sin(2 * M_PI * 0.45), kRoundOff);
    cubic.site(0)->isIncluded = 0;
    EXPECT_EQ(cubic.compute().intensity, 0.0);
    Cubic shared({1.0, 3.0});
    EXPECT_EQ(shared.compute().structureFactorReal, 4.0);
    shared.site(1)->similarityIndex = 0;
    EXPECT_EQ(shared.compute().structureFactorReal, 2.0);
    Cubic warm({1.0});
    warm.site(0)->displacement = makeRefinementThermalEllipsoidUij();
    warm.site(0)->displacement->uIso = 0.02, warm.r.dSpacing = 2.0;
    EXPECT_EQ(warm.compute().structureFactorReal, 1.0);
    warm.crystal->useAnisotropicDisplacement = 1;
    EXPECT_NEAR(warm.compute().structureFactorReal, std::exp(-8 * M_PI * M_PI * 0.02 / 16.0), kRoundOff);
    warm.profile->useSecondaryWavelength = 1, warm.profile->secondaryWavelength = 1.5444, warm.r.dSpacing = 4.0;
    const double f2 = std::pow(warm.compute().structureFactorReal, 2), lp = xrayLp(4.0, 1.5444);
    for (double ratio : {2.0, 0.0}) {
        warm.profile->secondaryIntensityRatio = ratio;
        Reflexion *second = secondaryWavelengthReflexion(warm.crystal, &warm.r, warm.profile);
        EXPECT_TRUE(second->isSecondaryWavelength == 1 && closeTo(second->lorentzPolarization, lp, kSeries) && second->multiplicity == 6);
        EXPECT_NEAR(second->intensity, ratio == 0.0 ? 0.0 : 6 * f2 * lp * std::pow(1.5444, 3) / 4096 / ratio, kRoundOff);
        second->methods->freeReflexion(second);
    }
    warm.profile->radiationType = PK_RADIATION_NEUTRON;
    EXPECT_EQ(secondaryWavelengthReflexion(warm.crystal, &warm.r, warm.profile), nullptr);
}

// |I| below 2^-44 goes, the list shrunk; relative intensities; peaks at 2θ of each d; without
// memory for a fresh list the old one is compacted in place, and one shrunk to nothing is null.
TEST(ReflexionList, ZeroIntensitiesDroppedRelativeIntensitiesAndPeakPositions) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    const auto listOf = [](std::vector<double> intensities) {
        DynamicArray *list = makeDynamicArrayWithCapacity(int32_t(intensities.size()));
        for (double intensity : intensities) {
            Reflexion *r = makeReflexion();
            r->intensity = intensity, r->dSpacing = 1.5406 / (1 + 0.2 * list->count);  // sin θ = 0.5, 0.6, …
            addObjectToDynamicArray(list, r);
        }
        return list;
    };
    const auto valuesOf = [&crystal](double Reflexion::*field) {
        std::vector<double> values;
        for (int32_t i = 0; i < crystal->reflexions->count; ++i) values.push_back(static_cast<Reflexion *>(crystal->reflexions->items[i])->*field);
        return values;
    };
    crystal->reflexions = listOf({5, 0, 1e-20, 3, -2e-14});
    removeZeroIntensityReflexions(crystal);
    EXPECT_TRUE(valuesOf(&Reflexion::intensity) == std::vector<double>({5, 3}) && crystal->reflexions->capacity == 2);
    EXPECT_TRUE(calculateRelativeIntensities(crystal) && valuesOf(&Reflexion::relativeIntensity) == std::vector<double>({1.0, 0.6}));
    freeRefinementCrystalReflexions(crystal);
    crystal->reflexions = listOf({1, 1, 1});
    crystal->reflexions->count = 2;  // the third is past the end
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, 1.5406, 5, 150);
    calculatePeakPositionsForPlot(crystal, profile);
    const std::vector<double> peaks = valuesOf(&Reflexion::peakPosition);
    EXPECT_TRUE(closeTo(peaks[0], 60.0, kSeries) && closeTo(peaks[1], 360 / M_PI * std::asin(0.6), kSeries));
    EXPECT_EQ(static_cast<Reflexion *>(crystal->reflexions->items[2])->peakPosition, 0.0);
    crystal->reflexions->count = 3;
    freeRefinementProfile(profile);
    freeRefinementCrystalReflexions(crystal);
    crystal->reflexions = listOf({0, 7, 0});
    pk_test::failAllocationNumber(1);
    removeZeroIntensityReflexions(crystal);
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(valuesOf(&Reflexion::intensity), std::vector<double>({7}));
    static_cast<Reflexion *>(crystal->reflexions->items[0])->intensity = 0.0;
    removeZeroIntensityReflexions(crystal), removeZeroIntensityReflexions(crystal);
    EXPECT_EQ(crystal->reflexions, nullptr);
    crystal->reflexions = listOf({-1, 0, NAN});
    bool result = true;
    EXPECT_EQ(pk_test::captureStderr([&] { result = calculateRelativeIntensities(crystal); }), "error calculating relative intensities - all intensities are zero\n");
    EXPECT_FALSE(result || calculateRelativeIntensities(nullptr));
    freeRefinementCrystal(crystal);
}

double march(double alphaDegrees, double r) {  // P(α; r) from its definition
    const double c = std::cos(alphaDegrees * M_PI / 180.0);
    return std::pow(r * r * c * c + (1 - c * c) / r, -1.5);
}

double correction(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    Reflexion r{};
    r.h = h, r.k = k, r.l = l, r.multiplicity = 48, r.dSpacing = dSpacingForHKL(crystal, h, k, l);
    return preferredOrientationCorrectionForReflexion(crystal, &r);
}

// The 1000-step midpoint rule against a 200000-step one, to 2e-6 (the first rule's error). Planes
// weigh P at their angle to the axis, r = 1 − t (1/r in mode 0); off or a zero axis: the multiplicity.
TEST(PreferredOrientation, MarchIntegralAndCorrectionsOnCubicTetragonalAndHexagonalPlanes) {
    EXPECT_NEAR(integrateMarchEquationWithRValue(1.0), M_PI, kRoundOff);
    for (double r : {0.5, 0.8, 1.7}) {
        double exact = 0.0;
        for (int i = 0; i < 200000; ++i) exact += march((i + 0.5) * 90.0 / 200000, r) * (M_PI / 400000);
        EXPECT_NEAR(integrateMarchEquationWithRValue(r), 2.0 * exact, 2e-6 * exact) << r;
    }
    EXPECT_TRUE(integrateMarchEquationWithRValue(0.0) == 0.0 && std::isnan(integrateMarchEquationWithRValue(-1.0)));
    RefinementCrystal *cubic = pk_test::makeReferenceCrystal("LaB6");  // m-3m
    cubic->usePreferredOrientation = 1;
    for (double t : {1.5, double(NAN)}) {  // r = 0.0001, not 0 nor NaN
        cubic->preferredOrientation = t;
        normalizeMarchEquation(cubic);
        EXPECT_NEAR(cubic->marchNormalization * integrateMarchEquationWithRValue(0.0001), M_PI, kRoundOff) << t;
    }
    // {0 0 1} about [0 0 1], r = 0.5: two planes along the axis (8 each), four across (2^-1.5); mode 0: r = 2.
    cubic->preferredOrientation = 0.5, cubic->marchNormalization = 1.0, cubic->preferredOrientationAxis[2] = 1.0;
    cubic->preferredOrientationMode = 1;
    EXPECT_NEAR(correction(cubic, 0, 0, 1), 2 * 8.0 + 4 * std::pow(2.0, -1.5), kRoundOff);
    cubic->preferredOrientationMode = 0;
    EXPECT_NEAR(correction(cubic, 0, 0, 1), 2 * 0.125 + 4 * std::pow(2.0, 1.5), kRoundOff);
    // {1 1 0} about (1 1 0), as plane indices and as a direction: two planes at 0°, two at 90°, eight at 60°.
    cubic->preferredOrientationMode = 1, cubic->preferredOrientationAxis[0] = cubic->preferredOrientationAxis[1] = 1.0, cubic->preferredOrientationAxis[2] = 0.0;
    normalizeMarchEquation(cubic);
    const double expected = (2 * march(0, 0.5) + 2 * march(90, 0.5) + 8 * march(60, 0.5)) * cubic->marchNormalization;
    for (uint8_t type : {0, 2}) {
        cubic->preferredOrientationAxisType = type;
        EXPECT_NEAR(correction(cubic, 1, 1, 0), expected, kSeries) << int(type);
    }
    cubic->preferredOrientationAxis[0] = cubic->preferredOrientationAxis[1] = 0.0;
    EXPECT_EQ(correction(cubic, 1, 2, 3), 48.0);
    cubic->preferredOrientationAxis[2] = 1.0, cubic->preferredOrientation = 0.0;
    normalizeMarchEquation(cubic);
    EXPECT_NEAR(correction(cubic, 1, 2, 3), 48.0, kSeries);
    cubic->usePreferredOrientation = 0, cubic->preferredOrientation = 0.5;
    EXPECT_EQ(correction(cubic, 1, 2, 3), 48.0);
    freeRefinementCrystal(cubic);
    // Axis (0 0 1): rutile (4/mmm), the eight planes of {1 0 1} at tan α = c/a; ZnO (6mm and Friedel
    // mates), the twelve of {1 0 2} at cos α = l·d/c with 1/d² = 4(h² + hk + k²)/(3a²) + l²/c², the axis 2.9 truncated to 2.
    const double a = 3.2498, c = 5.2066, d = 1 / std::sqrt(4 / (3 * a * a) + 4 / (c * c));
    const struct { const char *name; int32_t h, k, l, planes; double t, axis, alpha; } cases[] = {
        {"rutile", 1, 0, 1, 8, 0.3, 1.0, std::atan(2.9587 / 4.5937) * 180 / M_PI}, {"ZnO", 1, 0, 2, 12, -0.4, 2.9, std::acos(2 * d / c) * 180 / M_PI}};
    for (const auto &e : cases) {
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(e.name);
        crystal->preferredOrientation = e.t, crystal->preferredOrientationAxis[2] = e.axis, crystal->preferredOrientationMode = crystal->addFriedelMates = crystal->usePreferredOrientation = 1;
        normalizeMarchEquation(crystal);
        EXPECT_NEAR(correction(crystal, e.h, e.k, e.l), e.planes * march(e.alpha, 1 - e.t) * crystal->marchNormalization, kSeries) << e.name;
        freeRefinementCrystal(crystal);
    }
}

// cos α = pᵀGq/√(pᵀGp·qᵀGq) in four crystal systems, cosines compared (acos amplifies round-off
// near 0°) to kSeries (a 13-digit degree factor); the inverse of a matrix: M·M⁻¹ = I.
TEST(PreferredOrientation, AnglesInAMetricVectorsAndTheInverseOfAMatrix) {
    const std::array<double, 3> directions[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {1, 2, 0}, {1, 0, 1}, {-2, 1, 3}};
    for (const char *name : {"lowsym", "ZnO", "rutile", "LaB6"}) {
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name);
        const double(*g)[3] = crystal->metricTensor;
        const auto dot = [g](const std::array<double, 3> &p, const std::array<double, 3> &q) {
            double sum = 0.0;
            for (std::size_t i = 0; i < 9; ++i) sum += p[i / 3] * g[i / 3][i % 3] * q[i % 3];
            return sum;
        };
        for (const auto &p : directions)
            for (const auto &q : directions)
                EXPECT_NEAR(std::cos(powderkit::angleInMetric(p, q, g) * M_PI / 180), dot(p, q) / std::sqrt(dot(p, p) * dot(q, q)), kSeries) << name;
        freeRefinementCrystal(crystal);
    }
    EXPECT_TRUE(powderkit::angleBetweenVectors({0, 0, 0}, {1, 0, 0}) == -999.9 && powderkit::angleBetweenVectors({1, 0, 0}, {-2, 0, 0}) == 180.0 &&
                powderkit::angleBetweenVectors({0, 3, 0}, {0, 1, 0}) == 0.0);
    powderkit::Matrix3 singular{{{1, 2, 3}, {2, 4, 6}, {0, 0, 1}}}, inverse{}, m{{{2, 3, -4}, {-3, 5, 2}, {4, -2, 3}}};
    bool inverted = true;
    EXPECT_EQ(pk_test::captureStderr([&] { inverted = powderkit::invertMatrix3(singular, inverse); }), "Sorry, an illegal operation occurred: singular matrix\n");
    EXPECT_TRUE(!inverted && powderkit::invertMatrix3(m, inverse));
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_NEAR(m[i / 3][0] * inverse[0][i % 3] + m[i / 3][1] * inverse[1][i % 3] + m[i / 3][2] * inverse[2][i % 3], i % 4 == 0, kRoundOff) << i;
}

}  // namespace
