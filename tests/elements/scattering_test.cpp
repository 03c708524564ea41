// Scattering factors of records, occupants and sites, and site weights. The
// expected X-ray factors were evaluated separately (40-digit decimal
// arithmetic in Python) from the coefficients of tests/data/elements.tsv.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "elements/elements.hpp"
#include "model/model.hpp"
#include "support/element_data.hpp"
#include "support/output_capture.hpp"

namespace {

using pk_test::captureStderr;
using powderkit::freeSite;
using powderkit::siteOccupantScatteringFactor;
using powderkit::siteScatteringFactor;
using powderkit::siteWeight;

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A site whose occupants are (symbol, occupancy) pairs, each with a record
// filled from the reference table, or none when `withRecords` is false.
Site *makeSite(std::initializer_list<std::pair<const char *, double>> occupants,
               bool withRecords = true) {
    Site *site = makeEmptySite();
    site->occupants = makeDynamicArrayWithCapacity(4);
    for (const auto &entry : occupants) {
        RefinementAtomicScatteringFactor *record =
            withRecords ? pk_test::makeScatteringFactorFor(entry.first) : nullptr;
        addObjectToDynamicArray(site->occupants,
                                makeRefinementSiteOccupant(entry.first, entry.second, record));
    }
    return site;
}

RefinementSiteOccupant *occupantOf(Site *site, int32_t index) {
    return static_cast<RefinementSiteOccupant *>(site->occupants->items[index]);
}

TEST(ScatteringFactor, FourGaussianSumAgainstHandEvaluation) {
    struct Case {
        const char *symbol;
        double d;
        double f;
    };
    const Case cases[] = {
        {"Fe", 1.0, 11.505687515802262},  {"Fe", 2.5, 20.045226063617262},
        {"O", 2.0, 4.8078353617527647},   {"O", 0.7, 1.6897824284611101},
        {"Si", 1.3, 7.3514462181204232},  {"N", 0.9, 1.7845721355795824},
        {"U", 0.5, 35.456612830208858},   {"H-", 3.0, 0.68676266370408470},
        {"Cf", 0.25, 19.682176475876946},
    };
    for (const Case &c : cases) {
        RefinementAtomicScatteringFactor *record = pk_test::makeScatteringFactorFor(c.symbol);
        ASSERT_NE(record, nullptr) << c.symbol;
        EXPECT_NEAR(xrayScatteringFactor(record, c.d), c.f, 1e-13 * c.f) << c.symbol << " " << c.d;
        EXPECT_EQ(record->methods->xrayScatteringFactor(record, c.d),
                  xrayScatteringFactor(record, c.d));
        freeRefinementAtomicScatteringFactor(record);
    }
}

TEST(ScatteringFactor, ForwardScatteringIsTheCoefficientSum) {
    // a1 + a2 + a3 + a4 + c, added by hand from the table rows.
    const std::pair<const char *, double> sums[] = {{"Fe", 25.9904}, {"O", 7.9994}, {"N", 6.9946}};
    for (const auto &entry : sums) {
        RefinementAtomicScatteringFactor *record = pk_test::makeScatteringFactorFor(entry.first);
        EXPECT_NEAR(xrayScatteringFactor(record, kInfinity), entry.second, 1e-12) << entry.first;
        freeRefinementAtomicScatteringFactor(record);
    }
}

TEST(ScatteringFactor, HighAngleFormOnlyAboveTwoReciprocalAngstroms) {
    RefinementAtomicScatteringFactor *record = pk_test::makeScatteringFactorFor("Fe");
    record->highAngleCoefficients[0] = 1.0;
    record->highAngleCoefficients[1] = -0.5;
    record->highAngleCoefficients[2] = 0.1;
    record->highAngleCoefficients[3] = -0.01;
    const double gaussianAtQuarter = 3.1899663748359780;   // Fe, s = 2
    const double gaussianBelowQuarter = 3.1878495942015487;  // Fe, s = 2.0008
    const double logarithmicBelowQuarter = 1.3768853494750413;  // exp(1 − s/2 + s²/10 − s³/100)
    // Without the flag the four Gaussians serve at every s.
    EXPECT_NEAR(xrayScatteringFactor(record, 0.25), gaussianAtQuarter, 1e-13);
    EXPECT_NEAR(xrayScatteringFactor(record, 0.2499), gaussianBelowQuarter, 1e-13);
    record->hasHighAngleCoefficients = 1;
    // s = 0.5 / 0.25 = 2 exactly is not above 2.
    EXPECT_NEAR(xrayScatteringFactor(record, 0.25), gaussianAtQuarter, 1e-13);
    EXPECT_NEAR(xrayScatteringFactor(record, 0.2499), logarithmicBelowQuarter, 1e-13);
    // The logarithmic form needs no Gaussian coefficients.
    record->hasCromerMannCoefficients = 0;
    EXPECT_NEAR(xrayScatteringFactor(record, 0.2499), logarithmicBelowQuarter, 1e-13);
    EXPECT_EQ(xrayScatteringFactor(record, 0.25), 0.0);
    freeRefinementAtomicScatteringFactor(record);
}

TEST(ScatteringFactor, NoFlagsGiveZeroAndTheNeutronLengthNeedsItsFlag) {
    RefinementAtomicScatteringFactor *record = pk_test::makeScatteringFactorFor("Ti");
    EXPECT_EQ(neutronScatteringLength(record), -3.438);
    EXPECT_EQ(record->methods->neutronScatteringLength(record), -3.438);
    record->hasCromerMannCoefficients = 0;
    record->hasNeutronScatteringLength = 0;
    EXPECT_EQ(xrayScatteringFactor(record, 1.0), 0.0);
    EXPECT_EQ(xrayScatteringFactor(record, 0.1), 0.0);
    EXPECT_EQ(neutronScatteringLength(record), 0.0);
    EXPECT_EQ(xrayScatteringFactor(nullptr, 1.0), 0.0);
    EXPECT_EQ(neutronScatteringLength(nullptr), 0.0);
    freeRefinementAtomicScatteringFactor(record);
}

TEST(OccupantScattering, OccupancyTimesThePowerOfTheRadiation) {
    Site *site = makeSite({{"Fe", 0.75}});
    RefinementSiteOccupant *fe = occupantOf(site, 0);
    const double f = 11.505687515802262;  // Fe at d = 1 Å
    EXPECT_NEAR(fe->methods->siteOccupantScatteringFactor(fe, 1.0, PK_RADIATION_XRAY), 0.75 * f,
                1e-13);
    EXPECT_NEAR(fe->methods->siteOccupantScatteringFactor(fe, 1.0, PK_RADIATION_NEUTRON),
                0.75 * 9.45, 1e-15);
    freeSite(site);
}

TEST(OccupantScattering, EmptyOccupantsContributeNothingSilently) {
    Site *site = makeSite({{"Fe", 0.0}, {"Co", -0.5}, {"Ni", kNaN}});
    std::string printed = captureStderr([&] {
        for (int32_t i = 0; i < 3; ++i) {
            RefinementSiteOccupant *occupant = occupantOf(site, i);
            EXPECT_EQ(siteOccupantScatteringFactor(occupant, 1.0, 7), 0.0);
            // Even without a record.
            RefinementAtomicScatteringFactor *record = occupant->scatteringFactor;
            occupant->scatteringFactor = nullptr;
            EXPECT_EQ(siteOccupantScatteringFactor(occupant, 1.0, PK_RADIATION_XRAY), 0.0);
            occupant->scatteringFactor = record;
        }
    });
    EXPECT_EQ(printed, "");
    freeSite(site);
}

TEST(OccupantScattering, MissingRecordAndInvalidRadiationAreReported) {
    Site *site = makeSite({{"Fe", 0.5}, {"Co", 0.25}}, false);
    RefinementSiteOccupant *fe = occupantOf(site, 0);
    double value = -1.0;
    // No record: the message has no line feed and the power is 1.
    std::string printed = captureStderr([&] { value = siteOccupantScatteringFactor(fe, 1.0, 7); });
    EXPECT_EQ(printed, "Undefined atomic scattering factor for site occupant Fe");
    EXPECT_EQ(value, 0.5);
    // Printed on every evaluation, once per occupant.
    printed = captureStderr([&] { value = siteScatteringFactor(site, 1.0, PK_RADIATION_XRAY); });
    EXPECT_EQ(printed,
              "Undefined atomic scattering factor for site occupant Fe"
              "Undefined atomic scattering factor for site occupant Co");
    EXPECT_EQ(value, 0.75);
    // With a record, an unknown radiation type gives power 0.
    fe->scatteringFactor = pk_test::makeScatteringFactorFor("Fe");
    printed = captureStderr([&] { value = siteOccupantScatteringFactor(fe, 1.0, 1); });
    EXPECT_EQ(printed, "Invalid radiation type for refinement!\n");
    EXPECT_EQ(value, 0.0);
    freeSite(site);
}

TEST(SiteScattering, SumsItsOccupantsInOrder) {
    Site *site = makeSite({{"Fe", 0.5}, {"Co", 0.3}, {"O", 0.2}});
    // Hand values at d = 2 Å (s = 0.25): Fe, Co, O.
    const double fe = 18.362614936968781;
    const double co = 19.372970267003815;
    const double o = 4.8078353617527647;
    const double expected = 0.5 * fe + 0.3 * co + 0.2 * o;
    EXPECT_NEAR(site->methods->siteScatteringFactor(site, 2.0, PK_RADIATION_XRAY), expected, 1e-13);
    EXPECT_NEAR(site->methods->siteScatteringFactor(site, 2.0, PK_RADIATION_NEUTRON),
                0.5 * 9.45 + 0.3 * 2.49 + 0.2 * 5.803, 1e-14);
    Site *empty = makeSite({});
    EXPECT_EQ(siteScatteringFactor(empty, 2.0, PK_RADIATION_XRAY), 0.0);
    freeSite(empty);
    freeSite(site);
}

TEST(SiteWeight, SumsTheTableWeightsByExactSymbol) {
    Site *site = makeSite({{"Fe", 0.5}, {"Co", 0.5}});
    EXPECT_NEAR(site->methods->siteWeight(site), 57.39, 1e-12);
    freeSite(site);
    // The table's own values, not the weights column of the text.
    site = makeSite({{"H", 1.0}, {"Tc", 1.0}, {"Pm", 1.0}, {"Pu", 1.0}, {"Lw", 1.0}}, false);
    EXPECT_NEAR(siteWeight(site), 1.0078 + 99.0 + 147.0 + 242.0 + 257.0, 1e-12);
    freeSite(site);
    // No exact match, an ion, an over-long symbol, the last entry: nothing.
    site = makeSite({{"Fe3+", 1.0}, {"Li+", 1.0}, {"fe", 1.0}, {"Fe ", 1.0}, {"##", 1.0}}, false);
    EXPECT_EQ(siteWeight(site), 0.0);
    freeSite(site);
    site = makeSite({{"Wa", 0.5}, {"OH", 2.0}}, false);
    EXPECT_NEAR(siteWeight(site), 0.5 * 18.016 + 2.0 * 17.008, 1e-12);
    freeSite(site);
    Site *empty = makeSite({});
    EXPECT_EQ(siteWeight(empty), 0.0);
    freeSite(empty);
}

TEST(SiteWeight, TableHoldsDistinctSymbolsInItsOwnOrder) {
    using powderkit::atomicWeightEntry;
    EXPECT_STREQ(atomicWeightEntry(0).symbol, "Wa");
    EXPECT_STREQ(atomicWeightEntry(77).symbol, "Ac");
    EXPECT_STREQ(atomicWeightEntry(78).symbol, "Ce");  // the lanthanides follow Ac
    EXPECT_STREQ(atomicWeightEntry(105).symbol, "Lw");
    EXPECT_STREQ(atomicWeightEntry(106).symbol, "##");
    for (int32_t i = 0; i < powderkit::kAtomicWeightCount; ++i) {
        for (int32_t j = 0; j < i; ++j) {
            EXPECT_STRNE(atomicWeightEntry(i).symbol, atomicWeightEntry(j).symbol);
        }
        EXPECT_EQ(powderkit::atomicWeightForSymbol(atomicWeightEntry(i).symbol),
                  atomicWeightEntry(i).weight);
    }
    EXPECT_EQ(powderkit::atomicWeightForSymbol(nullptr), 0.0);
}

}  // namespace
