// Scattering factors of records, occupants and sites, and site weights. The
// expected X-ray factors were evaluated separately (40-digit decimal
// arithmetic) from the coefficients of tests/data/elements.tsv.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>

#include "elements/elements.hpp"
#include "model/model.hpp"
#include "support/element_data.hpp"
#include "support/output_capture.hpp"

namespace {

using Occupants = std::initializer_list<std::pair<const char *, double>>;

// A site with the given (symbol, occupancy) occupants, each holding a record
// filled from the reference table, or none when `withRecords` is false.
Site *makeSite(Occupants occupants, bool withRecords = true) {
    Site *site = makeEmptySite();
    site->occupants = makeDynamicArrayWithCapacity(4);
    for (const auto &o : occupants) {
        addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant(
            o.first, o.second, withRecords ? pk_test::makeScatteringFactorFor(o.first) : nullptr));
    }
    return site;
}

TEST(ScatteringFactor, FourGaussianSumAgainstHandEvaluation) {
    const double infinity = std::numeric_limits<double>::infinity();
    const struct {
        const char *symbol;
        double d, f;
    } cases[] = {
        {"Fe", 1.0, 11.505687515802262}, {"Fe", 2.5, 20.045226063617262},
        {"O", 0.7, 1.6897824284611101},  {"Si", 1.3, 7.3514462181204232},
        {"N", 0.9, 1.7845721355795824},  {"U", 0.5, 35.456612830208858},
        {"H-", 3.0, 0.68676266370408470}, {"Cf", 0.25, 19.682176475876946},
        // d → ∞ (s = 0): a1 + a2 + a3 + a4 + c, added by hand.
        {"Fe", infinity, 25.9904}, {"N", infinity, 6.9946},
    };
    for (const auto &c : cases) {
        RefinementAtomicScatteringFactor *record = pk_test::makeScatteringFactorFor(c.symbol);
        EXPECT_NEAR(record->methods->xrayScatteringFactor(record, c.d), c.f, 1e-13 * c.f)
            << c.symbol << " " << c.d;
        freeRefinementAtomicScatteringFactor(record);
    }
}

TEST(ScatteringFactor, HighAngleFormOnlyAboveTwoAndOnlyWithItsFlag) {
    RefinementAtomicScatteringFactor *record = pk_test::makeScatteringFactorFor("Fe");
    const double highAngle[4] = {1.0, -0.5, 0.1, -0.01};
    for (int i = 0; i < 4; ++i) record->highAngleCoefficients[i] = highAngle[i];
    const double gaussianAtTwo = 3.1899663748359780;     // Fe, d = 0.25, s = 2
    const double gaussianAboveTwo = 3.1878495942015487;  // Fe, d = 0.2499
    const double logarithmic = 1.3768853494750413;  // exp(1 − s/2 + s²/10 − s³/100), d = 0.2499
    EXPECT_NEAR(xrayScatteringFactor(record, 0.2499), gaussianAboveTwo, 1e-13);
    record->hasHighAngleCoefficients = 1;
    EXPECT_NEAR(xrayScatteringFactor(record, 0.25), gaussianAtTwo, 1e-13);
    EXPECT_NEAR(xrayScatteringFactor(record, 0.2499), logarithmic, 1e-13);
    record->hasCromerMannCoefficients = 0;
    EXPECT_NEAR(xrayScatteringFactor(record, 0.2499), logarithmic, 1e-13);
    // No usable flag: f = 0; the neutron length too needs its flag.
    EXPECT_EQ(xrayScatteringFactor(record, 0.25), 0.0);
    EXPECT_EQ(record->methods->neutronScatteringLength(record), 9.45);
    record->hasNeutronScatteringLength = 0;
    record->hasHighAngleCoefficients = 0;
    EXPECT_EQ(xrayScatteringFactor(record, 0.1), 0.0);
    EXPECT_EQ(neutronScatteringLength(record), 0.0);
    freeRefinementAtomicScatteringFactor(record);
}

TEST(SiteScattering, SumsOccupancyTimesPowerAndReportsFaultsEachTime) {
    Site *site = makeSite({{"Fe", 0.5}, {"Co", 0.3}, {"O", 0.2}});
    // Hand values at d = 2 Å (s = 0.25) for Fe, Co and O; b from the table.
    const double xray = 0.5 * 18.362614936968781 + 0.3 * 19.372970267003815 + 0.2 * 4.8078353617527647;
    EXPECT_NEAR(site->methods->siteScatteringFactor(site, 2.0, PK_RADIATION_XRAY), xray, 1e-13);
    EXPECT_NEAR(site->methods->siteScatteringFactor(site, 2.0, PK_RADIATION_NEUTRON),
                0.5 * 9.45 + 0.3 * 2.49 + 0.2 * 5.803, 1e-14);
    // With a record, an unknown radiation type gives power 0 and a message, per occupant.
    double value = 1.0;
    const std::string invalid = "Invalid radiation type for refinement!\n";
    EXPECT_EQ(pk_test::captureStderr([&] { value = powderkit::siteScatteringFactor(site, 1.0, 1); }),
              invalid + invalid + invalid);
    EXPECT_EQ(value, 0.0);
    powderkit::freeSite(site);
    // Empty occupants are silent, whatever the radiation type; no record: power 1, and a
    // message without a line feed, per occupant; no occupants at all: 0.
    site = makeSite({{"Fe", 0.0}, {"Co", -0.5}, {"Ni", std::numeric_limits<double>::quiet_NaN()},
                     {"Fe", 0.5}, {"Co", 0.25}}, false);
    EXPECT_EQ(pk_test::captureStderr([&] { value = powderkit::siteScatteringFactor(site, 1.0, 7); }),
              "Undefined atomic scattering factor for site occupant Fe"
              "Undefined atomic scattering factor for site occupant Co");
    EXPECT_EQ(value, 0.75);
    powderkit::freeSite(site);
    site = makeSite({});
    EXPECT_EQ(powderkit::siteScatteringFactor(site, 2.0, PK_RADIATION_XRAY), 0.0);
    powderkit::freeSite(site);
}

TEST(SiteWeight, SumsTheTableWeightsOfExactSymbols) {
    const struct {
        Occupants occupants;
        double weight;
    } cases[] = {
        {{{"Fe", 0.5}, {"Co", 0.5}}, 57.39},
        // The table's own values, not the weights column of the text.
        {{{"H", 1.0}, {"Tc", 1.0}, {"Pm", 1.0}, {"Pu", 1.0}, {"Lw", 1.0}},
         1.0078 + 99.0 + 147.0 + 242.0 + 257.0},
        {{{"Wa", 0.5}, {"OH", 2.0}, {"Ce", 1.0}}, 9.008 + 34.016 + 140.1},
        // No exact match, an ion, the last entry "##": nothing.
        {{{"Fe3+", 1.0}, {"Li+", 1.0}, {"fe", 1.0}, {"Fe ", 1.0}, {"##", 1.0}}, 0.0},
        {{}, 0.0},
    };
    for (const auto &c : cases) {
        Site *site = makeSite(c.occupants, false);
        EXPECT_NEAR(site->methods->siteWeight(site), c.weight, 1e-12);
        powderkit::freeSite(site);
    }
    EXPECT_EQ(powderkit::atomicWeightForSymbol(nullptr), 0.0);
    // First match wins, so every symbol must be there once.
    for (int32_t i = 0; i < powderkit::kAtomicWeightCount; ++i) {
        for (int32_t j = 0; j < i; ++j)
            ASSERT_STRNE(powderkit::atomicWeightEntry(i).symbol, powderkit::atomicWeightEntry(j).symbol);
    }
}

}  // namespace
