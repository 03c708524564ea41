// Intensities: the reference structures against the independent lists of
// tests/data/reflexions; single reflexions on a worked cubic cell against the
// textbook Lp = (1 + cos² 2θ)/(4 sin²θ cos θ), L = 1/(2 sin²θ cos θ) and
// d⁴ sin θ; the list passes; the March correction against P(α; r) evaluated
// at angles worked out by hand, and angles in a metric against Gram's formula.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "intensity/intensity.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"
#include "support/reference_phases.hpp"
#include "support/test_data.hpp"
#include "support/tolerances.hpp"

namespace {

using pk_test::kRoundOff;
using Indices = std::array<int32_t, 3>;

// X-rays and neutrons at λ = 1.5406 Å, each site with its isotropic displacement:
// multiplicities exactly, intensities to 1e-6 of the strongest (the lists are
// printed to 6-8 digits), the X-ray Lp to kSeries.
TEST(ReferenceIntensity, EveryReferenceStructureForXraysAndNeutrons) {
    for (const std::string &name : pk_test::referenceStructureNames()) {
        RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name, 0.8);
        const auto rows = pk_test::readTable("reflexions/" + name + ".tsv");
        ASSERT_TRUE(crystal != nullptr && !rows.empty() && crystal->reflexions->count == int32_t(rows.size())) << name;
        std::map<Indices, Reflexion *> planes;  // every plane of every reflexion, and its partner
        for (int32_t i = 0; i < crystal->reflexions->count; ++i) {
            auto *r = static_cast<Reflexion *>(crystal->reflexions->items[i]);
            int32_t count = 0;
            int32_t *list = planesRelatedBySymmetry(crystal, &r->h, 1, &count);
            for (int32_t p = 0; p < 3 * count; p += 3) planes[{list[p], list[p + 1], list[p + 2]}] = planes[{-list[p], -list[p + 1], -list[p + 2]}] = r;
            std::free(list);
        }
        for (int32_t radiation : {PK_RADIATION_XRAY, PK_RADIATION_NEUTRON}) {
            RefinementProfile *profile = makeRefinementProfile(1, radiation, 2, 1.5406, 5, 160);
            for (int32_t i = 0; i < crystal->reflexions->count; ++i)
                calculateIntensityForReflexion(crystal, static_cast<Reflexion *>(crystal->reflexions->items[i]), profile);
            const std::size_t column = radiation == PK_RADIATION_XRAY ? 8 : 9;
            double strongest = 0.0;
            for (const auto &row : rows) strongest = std::max(strongest, std::stod(row[column]));
            for (const auto &row : rows) {
                const auto found = planes.find({std::stoi(row[0]), std::stoi(row[1]), std::stoi(row[2])});
                ASSERT_NE(found, planes.end()) << name << " " << row[0] << row[1] << row[2];
                const Reflexion *r = found->second;
                EXPECT_EQ(r->multiplicity, std::stoi(row[4])) << name;
                EXPECT_NEAR(r->intensity, std::stod(row[column]), 1e-6 * strongest) << name << " " << row[0] << row[1] << row[2] << " " << radiation;
                EXPECT_TRUE(radiation != PK_RADIATION_XRAY || pk_test::closeTo(r->lorentzPolarization, std::stod(row[7]), pk_test::kSeries)) << name;
            }
            freeRefinementProfile(profile);
        }
        freeRefinementCrystal(crystal);
    }
}

// A cubic cell (a = 4 Å, identity only) whose sites sit at the origin and at
// `extra`, each with one occupant scattering with f = b = power.
struct Cubic {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, 1.5406, 5, 150);
    Reflexion r{};
    Cubic(std::vector<double> powers, std::vector<std::array<double, 3>> extra = {}) {
        crystal->a = crystal->b = crystal->c = 4.0, crystal->volume = 64.0;
        crystal->alpha = crystal->beta = crystal->gamma = 90.0;
        calculateReciprocalCell(crystal), calculateMetricTensor(crystal);
        crystal->sites = makeDynamicArrayWithCapacity(2);
        for (double power : powers) {
            Site *site = makeEmptySite();
            site->isIncluded = 1, site->occupants = makeDynamicArrayWithCapacity(1), site->atoms = makeDynamicArrayWithCapacity(1);
            RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
            factor->hasCromerMannCoefficients = factor->hasNeutronScatteringLength = 1;
            factor->cromerMannCoefficients[8] = factor->scatteringLength = power;
            addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant(std::to_string(power).c_str(), 1.0, factor));
            addObjectToDynamicArray(site->atoms, makeRefinementAtom(0.0, 0.0, 0.0));
            for (const auto &p : extra) addObjectToDynamicArray(site->atoms, makeRefinementAtom(p[0], p[1], p[2]));
            addObjectToDynamicArray(crystal->sites, site);
        }
        calculateSimilarityIndices(crystal);
        r.h = 1, r.multiplicity = 6, r.dSpacing = 4.0;
    }
    ~Cubic() { freeRefinementCrystal(crystal), freeRefinementProfile(profile); }
    Site *site(int i) { return static_cast<Site *>(crystal->sites->items[i]); }
    void compute() { calculateIntensityForReflexion(crystal, &r, profile); }
};

double xrayLp(double d, double lambda = 1.5406) {
    const double s = lambda / (2 * d), c2 = 1 - 2 * s * s;
    return (1 + c2 * c2) / (4 * s * s * std::sqrt(1 - s * s));
}

TEST(Intensity, WorkedCubicExamplesOfEveryGeometryAndRadiation) {
    Cubic cubic({1.0});
    const double lambda3 = std::pow(1.5406, 3), s = 1.5406 / 8.0, theta = 75.0 * M_PI / 180.0, c2 = std::cos(2 * theta);
    const struct { int32_t experiment, radiation; double d, lp, wavelengthTerm; } cases[] = {
        {1, PK_RADIATION_XRAY, 4.0, xrayLp(4.0), lambda3},  // 12.75839 at θ = 11.1031°
        {1, PK_RADIATION_NEUTRON, 4.0, 1 / (2 * s * s * std::sqrt(1 - s * s)), lambda3},  // 13.73967
        {PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON, 1.2, std::pow(1.2, 4) * std::sin(theta), 1.0},  // bank at 150°
        {PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_XRAY, 1.2, std::pow(1.2, 4) * std::sin(theta) * (1 + c2 * c2) / 2, 1.0}};
    cubic.profile->tofTwoTheta = 150.0;
    for (const auto &c : cases) {
        cubic.profile->experimentType = c.experiment, cubic.profile->radiationType = c.radiation, cubic.r.dSpacing = c.d;
        cubic.compute();
        EXPECT_EQ(cubic.r.structureFactorReal, 1.0);
        EXPECT_NEAR(cubic.r.lorentzPolarization, c.lp, pk_test::kSeries) << c.experiment << " " << c.radiation;
        EXPECT_NEAR(cubic.r.intensity, 6 * c.lp * c.wavelengthTerm / 4096, kRoundOff) << c.experiment << " " << c.radiation;
    }
    EXPECT_NEAR(xrayLp(4.0), 12.75839, 1e-5);  // the formula itself, against a printed value
    // Beyond θ = 90° the message is printed and θ = 90° is used (L = P = 1).
    cubic.profile->experimentType = 1, cubic.profile->radiationType = PK_RADIATION_XRAY, cubic.r.dSpacing = 0.5;
    EXPECT_EQ(pk_test::captureStderr([&] { cubic.compute(); }), "Reflexion 1 0 0 is out-of-bounds (theta >= 90 degrees)\n");
    EXPECT_NEAR(cubic.r.intensity, 6 * lambda3 / 4096, kRoundOff);
}

TEST(Intensity, PhasesIncludedSitesTheSharedScatteringFactorAndTheTemperatureFactor) {
    Cubic cubic({2.0, 5.0}, {{0.25, 0.1, 0.0}});
    cubic.site(1)->isIncluded = 0;
    cubic.r.k = 2;  // (1 2 0): phases 0 and 2π·0.45
    cubic.compute();
    EXPECT_NEAR(cubic.r.structureFactorReal, 2.0 + 2.0 * std::cos(2 * M_PI * 0.45), kRoundOff);
    EXPECT_NEAR(cubic.r.structureFactorImag, 2.0 * std::sin(2 * M_PI * 0.45), kRoundOff);
    cubic.site(0)->isIncluded = 0;
    cubic.compute();
    EXPECT_EQ(cubic.r.intensity, 0.0);
    // The similarity index, not the occupants, decides: equal indices reuse the first f.
    Cubic shared({1.0, 3.0});
    shared.site(1)->similarityIndex = 0;
    shared.compute();
    EXPECT_EQ(shared.r.structureFactorReal, 2.0);
    shared.site(1)->similarityIndex = 1;
    shared.compute();
    EXPECT_EQ(shared.r.structureFactorReal, 4.0);
    // exp(−8π²U/(4d²)) only with the crystal's flag and a record.
    Cubic warm({1.0});
    warm.site(0)->displacement = makeRefinementThermalEllipsoidUij();
    warm.site(0)->displacement->uIso = 0.02;
    warm.r.dSpacing = 2.0;
    warm.compute();
    EXPECT_EQ(warm.r.structureFactorReal, 1.0);
    warm.crystal->useAnisotropicDisplacement = 1;
    warm.compute();
    EXPECT_NEAR(warm.r.structureFactorReal, std::exp(-8 * M_PI * M_PI * 0.02 / 16.0), kRoundOff);
    // The second wavelength: its own Lp and λ³, the intensity over the ratio (0 for a ratio 0).
    EXPECT_EQ(secondaryWavelengthReflexion(warm.crystal, &warm.r, warm.profile), nullptr);  // flag clear
    warm.profile->useSecondaryWavelength = 1, warm.profile->secondaryWavelength = 1.5444, warm.r.dSpacing = 4.0;
    warm.compute();
    for (double ratio : {2.0, 0.0}) {
        warm.profile->secondaryIntensityRatio = ratio;
        Reflexion *second = secondaryWavelengthReflexion(warm.crystal, &warm.r, warm.profile);
        ASSERT_NE(second, nullptr);
        const double f2 = std::pow(warm.r.structureFactorReal, 2), lp = xrayLp(4.0, 1.5444);
        EXPECT_TRUE(second->isSecondaryWavelength == 1 && pk_test::closeTo(second->lorentzPolarization, lp, pk_test::kSeries));
        EXPECT_NEAR(second->intensity, ratio == 0.0 ? 0.0 : 6 * f2 * lp * std::pow(1.5444, 3) / 4096 / ratio, kRoundOff);
        second->methods->freeReflexion(second);
    }
    warm.profile->radiationType = PK_RADIATION_NEUTRON;
    EXPECT_EQ(secondaryWavelengthReflexion(warm.crystal, &warm.r, warm.profile), nullptr);
}

DynamicArray *listOf(const std::vector<double> &intensities) {
    DynamicArray *list = makeDynamicArrayWithCapacity(int32_t(intensities.size()));
    for (double intensity : intensities) {
        Reflexion *r = makeReflexion();
        r->intensity = intensity, r->dSpacing = 1.5406 / (1 + 0.2 * list->count);  // sin θ = 0.5, 0.6, …
        addObjectToDynamicArray(list, r);
    }
    return list;
}

std::vector<double> valuesOf(const DynamicArray *list, double Reflexion::*field) {
    std::vector<double> values;
    for (int32_t i = 0; list != nullptr && i < list->count; ++i) values.push_back(static_cast<Reflexion *>(list->items[i])->*field);
    return values;
}

// Zero (|I| below 2^-44) intensities go, the list shrunk; relative intensities;
// peak positions at 2θ of each d; without memory for a fresh list the old one is
// compacted in place, and an emptied one shrunk to nothing becomes null.
TEST(ReflexionList, ZeroIntensitiesDroppedRelativeIntensitiesAndPeakPositions) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->reflexions = listOf({5, 0, 1e-20, 3, -2e-14});
    removeZeroIntensityReflexions(crystal);
    EXPECT_EQ(valuesOf(crystal->reflexions, &Reflexion::intensity), (std::vector<double>{5, 3}));
    EXPECT_EQ(crystal->reflexions->capacity, 2);
    ASSERT_TRUE(calculateRelativeIntensities(crystal));
    EXPECT_EQ(valuesOf(crystal->reflexions, &Reflexion::relativeIntensity), (std::vector<double>{1.0, 0.6}));
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, 1.5406, 5, 150);
    calculatePeakPositionsForPlot(crystal, profile);
    const std::vector<double> peaks = valuesOf(crystal->reflexions, &Reflexion::peakPosition);
    EXPECT_TRUE(pk_test::closeTo(peaks[0], 60.0, pk_test::kSeries) && pk_test::closeTo(peaks[1], 360 / M_PI * std::asin(0.8), pk_test::kSeries));
    freeRefinementProfile(profile);
    freeRefinementCrystalReflexions(crystal);
    crystal->reflexions = listOf({0, 7, 0});
    pk_test::failAllocationNumber(1);
    removeZeroIntensityReflexions(crystal);
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(valuesOf(crystal->reflexions, &Reflexion::intensity), (std::vector<double>{7}));
    static_cast<Reflexion *>(crystal->reflexions->items[0])->intensity = 0.0;
    removeZeroIntensityReflexions(crystal);
    removeZeroIntensityReflexions(crystal);
    EXPECT_EQ(crystal->reflexions, nullptr);
    crystal->reflexions = listOf({-1, 0, NAN});
    bool result = true;
    EXPECT_EQ(pk_test::captureStderr([&] { result = calculateRelativeIntensities(crystal); }),
              "error calculating relative intensities - all intensities are zero\n");
    EXPECT_FALSE(result || calculateRelativeIntensities(nullptr));
    freeRefinementCrystal(crystal);
}

using Rotation = std::array<int32_t, 9>;

// A crystal of the cell and the point group closed here from its generators
// (rotation matrices multiplied until nothing new appears).
RefinementCrystal *crystalOf(double a, double c, double beta, double gamma, const std::vector<Rotation> &generators) {
    std::vector<Rotation> group{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
    for (std::size_t i = 0; i < group.size(); ++i) {
        for (const Rotation &g : generators) {
            Rotation product{};
            for (int k = 0; k < 27; ++k) product[std::size_t(k / 9 * 3 + k % 3)] += group[i][std::size_t(k / 9 * 3 + k / 3 % 3)] * g[std::size_t(k / 3 % 3 * 3 + k % 3)];
            if (std::find(group.begin(), group.end(), product) == group.end()) group.push_back(product);
        }
    }
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = crystal->b = a, crystal->c = c, crystal->alpha = 90.0, crystal->beta = beta, crystal->gamma = gamma;
    calculateReciprocalCell(crystal), calculateMetricTensor(crystal);
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(48);
    for (const Rotation &r : group) {
        RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
        std::copy(r.begin(), r.end(), &op->rotation[0][0]);
        addObjectToDynamicArray(crystal->symmetryOperators, op);
    }
    crystal->usePreferredOrientation = 1, crystal->preferredOrientationMode = 1;
    return crystal;
}

double march(double alphaDegrees, double r) {  // P(α; r) from its definition
    const double a = alphaDegrees * M_PI / 180.0;
    return std::pow(r * r * std::cos(a) * std::cos(a) + std::sin(a) * std::sin(a) / r, -1.5);
}

double correction(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l, int32_t multiplicity) {
    Reflexion r{};
    r.h = h, r.k = k, r.l = l, r.multiplicity = multiplicity, r.dSpacing = dSpacingForHKL(crystal, h, k, l);
    return preferredOrientationCorrectionForReflexion(crystal, &r);
}

const Rotation kInversion{-1, 0, 0, 0, -1, 0, 0, 0, -1}, kFourZ{0, -1, 0, 1, 0, 0, 0, 0, 1}, kSixZ{1, -1, 0, 1, 0, 0, 0, 0, 1};
const Rotation kTwoXY{0, 1, 0, 1, 0, 0, 0, 0, -1}, kThree111{0, 0, 1, 1, 0, 0, 0, 1, 0};

// The midpoint rule (1000 steps over 0…π/2) against a 200000-step one: they agree
// to 2e-6, the first rule's own error. Planes are weighed by P at their angle to the
// axis, r = 1 − t (mode 1, else 1/r); r = 1 (t = 0) weighs each plane 1.
TEST(PreferredOrientation, MarchIntegralAndCorrectionsOnCubicTetragonalAndHexagonalPlanes) {
    EXPECT_NEAR(integrateMarchEquationWithRValue(1.0), M_PI, kRoundOff);
    for (double r : {0.5, 0.8, 1.7}) {
        double exact = 0.0;
        for (int i = 0; i < 200000; ++i) exact += march((i + 0.5) * 90.0 / 200000, r) * (M_PI / 400000);
        EXPECT_NEAR(integrateMarchEquationWithRValue(r), 2.0 * exact, 2e-6 * exact) << r;
    }
    RefinementCrystal *cubic = crystalOf(4, 4, 90, 90, {kFourZ, kThree111, kTwoXY, kInversion});
    ASSERT_EQ(cubic->symmetryOperators->count, 48);
    cubic->preferredOrientation = 1.5;  // r = 0.0001, not 0
    normalizeMarchEquation(cubic);
    EXPECT_NEAR(cubic->marchNormalization * integrateMarchEquationWithRValue(0.0001), M_PI, kRoundOff);
    cubic->preferredOrientation = 0.5, cubic->marchNormalization = 1.0, cubic->preferredOrientationAxis[2] = 1.0;
    // {0 0 1} about [0 0 1]: two planes along the axis (8 each), four across (2^-1.5); mode 0: r = 2.
    EXPECT_NEAR(correction(cubic, 0, 0, 1, 6), 2 * 8.0 + 4 * std::pow(2.0, -1.5), kRoundOff);
    cubic->preferredOrientationMode = 0;
    EXPECT_NEAR(correction(cubic, 0, 0, 1, 6), 2 * 0.125 + 4 * std::pow(2.0, 1.5), kRoundOff);
    // {1 1 0} about (1 1 0), as plane indices and as a direction: two planes at 0°, two at 90°, eight at 60°.
    cubic->preferredOrientationMode = 1, cubic->preferredOrientationAxis[0] = cubic->preferredOrientationAxis[1] = 1.0;
    cubic->preferredOrientationAxis[2] = 0.0;
    normalizeMarchEquation(cubic);
    const double expected = (2 * march(0, 0.5) + 2 * march(90, 0.5) + 8 * march(60, 0.5)) * cubic->marchNormalization;
    for (uint8_t type : {0, 2}) EXPECT_NEAR(correction((cubic->preferredOrientationAxisType = type, cubic), 1, 1, 0, 12), expected, pk_test::kSeries);
    cubic->usePreferredOrientation = 0;  // off, or a zero axis: the multiplicity; t = 0: 48 × 1
    EXPECT_EQ(correction(cubic, 1, 2, 3, 48), 48.0);
    cubic->usePreferredOrientation = 1, cubic->preferredOrientationAxis[0] = cubic->preferredOrientationAxis[1] = 0.0;
    EXPECT_EQ(correction(cubic, 1, 2, 3, 48), 48.0);
    cubic->preferredOrientationAxis[2] = 1.0, cubic->preferredOrientation = 0.0;
    normalizeMarchEquation(cubic);
    EXPECT_NEAR(correction(cubic, 1, 2, 3, 48), 48.0, pk_test::kSeries);
    // 4/mmm, a = 3, c = 5, axis (0 0 1): the eight planes of {1 0 1} at tan α = c/a;
    // 6/mmm: the twelve of {1 0 2} at cos α = l·d/c with 1/d² = 4(h² + hk + k²)/(3a²) + l²/c²;
    // an axis component 2.9 is truncated to 2, the same axis.
    const struct { double gamma; Rotation generator; int32_t h, k, l, m; double t, axis, alpha; } cases[] = {
        {90, kFourZ, 1, 0, 1, 8, 0.3, 1.0, std::atan(5.0 / 3.0) * 180 / M_PI},
        {120, kSixZ, 1, 0, 2, 12, -0.4, 2.9, std::acos(2.0 / 5.0 / std::sqrt(4.0 / 27.0 + 4.0 / 25.0)) * 180 / M_PI}};
    for (const auto &c : cases) {
        RefinementCrystal *crystal = crystalOf(3, 5, 90, c.gamma, {c.generator, kTwoXY, kInversion});
        crystal->preferredOrientation = c.t, crystal->preferredOrientationAxis[2] = c.axis;
        normalizeMarchEquation(crystal);
        EXPECT_NEAR(correction(crystal, c.h, c.k, c.l, c.m), c.m * march(c.alpha, 1 - c.t) * crystal->marchNormalization, pk_test::kSeries) << c.gamma;
        freeRefinementCrystal(crystal);
    }
    freeRefinementCrystal(cubic);
}

// The angle between directions p and q of a cell, cos α = pᵀGq/√(pᵀGp·qᵀGq), in
// monoclinic (β = 98.7°), hexagonal and tetragonal metrics; cosines compared (acos
// amplifies round-off near 0°), to kSeries as the library's degree factor has 13 digits.
TEST(PreferredOrientation, AnglesInAMetricVectorsAndTheInverseOfAMatrix) {
    const std::array<double, 3> directions[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {1, 2, 0}, {1, 0, 1}, {-2, 1, 3}};
    for (double beta : {98.7, 90.0}) {
        for (double gamma : {90.0, 120.0}) {
            RefinementCrystal *crystal = crystalOf(3, 5, beta, gamma, {});
            const double(*g)[3] = crystal->metricTensor;
            const auto dot = [g](const std::array<double, 3> &p, const std::array<double, 3> &q) {
                double sum = 0.0;
                for (int i = 0; i < 9; ++i) sum += p[std::size_t(i / 3)] * g[i / 3][i % 3] * q[std::size_t(i % 3)];
                return sum;
            };
            for (const auto &p : directions)
                for (const auto &q : directions)
                    EXPECT_NEAR(std::cos(powderkit::angleInMetric(p, q, g) * M_PI / 180), dot(p, q) / std::sqrt(dot(p, p) * dot(q, q)), pk_test::kSeries)
                        << beta << " " << gamma << ": " << p[0] << p[1] << p[2] << " " << q[0] << q[1] << q[2];
            freeRefinementCrystal(crystal);
        }
    }
    EXPECT_EQ(powderkit::angleBetweenVectors({0, 0, 0}, {1, 0, 0}), -999.9);
    EXPECT_EQ(powderkit::angleBetweenVectors({1, 0, 0}, {-2, 0, 0}), 180.0);
    EXPECT_EQ(powderkit::angleBetweenVectors({0, 3, 0}, {0, 1, 0}), 0.0);
    powderkit::Matrix3 singular{{{1, 2, 3}, {2, 4, 6}, {0, 0, 1}}}, inverse{}, m{{{2, 1, -1}, {-3, 3, 1}, {1, 5, 4}}};
    bool inverted = true;
    EXPECT_EQ(pk_test::captureStderr([&] { inverted = powderkit::invertMatrix3(singular, inverse); }), "Sorry, an illegal operation occurred: singular matrix\n");
    EXPECT_FALSE(inverted);
    ASSERT_TRUE(powderkit::invertMatrix3(m, inverse));
    for (std::size_t i = 0; i < 9; ++i)  // M·M⁻¹ = I
        EXPECT_NEAR(m[i / 3][0] * inverse[0][i % 3] + m[i / 3][1] * inverse[1][i % 3] + m[i / 3][2] * inverse[2][i % 3], i % 4 == 0, kRoundOff) << i;
}

}  // namespace
