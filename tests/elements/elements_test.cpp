// The element data: the table text and the atomic weights against tests/data/elements.tsv
// row by row, the file load writes, and scattering factors and site sums against hand
// evaluations (40-digit arithmetic from the reference coefficients).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "elements/elements.hpp"
#include "support/element_data.hpp"
#include "support/output_capture.hpp"
#include "support/reference_phases.hpp"
#include "support/tolerances.hpp"

namespace {

using pk_test::kRoundOff;

TEST(ElementTable, FiftySixCommentLinesThenTheReferenceRowsWhichLoadWritesWithCarriageReturns) {
    std::istringstream stream(powderkit::kElementTableText);
    std::vector<std::string> lines;
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    ASSERT_TRUE(lines.size() == 159u && pk_test::elementRows().size() == 103u);
    for (std::size_t i = 0; i < 159; ++i) EXPECT_EQ(lines[i][0] == '!', i < 56) << lines[i];
    for (std::size_t i = 0; i < 103; ++i) {  // whitespace-separated fields, then the quoted note or ""
        const std::string &line = lines[56 + i];
        const std::size_t quote = line.find('"');
        std::istringstream fields(line.substr(0, quote));
        std::vector<std::string> row{std::istream_iterator<std::string>(fields), {}};
        row.push_back(quote == std::string::npos ? "" : line.substr(quote + 1, line.rfind('"') - quote - 1));
        EXPECT_EQ(row, pk_test::elementRows()[i].fields) << line;
    }
    char directory[] = "/tmp/pk_elements_XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string file = std::string(directory) + "/ASF.dat", missing = std::string(directory) + "/absent";
    std::ofstream(file) << std::string(40000, 'x');
    load(directory);
    load(directory);  // truncates, not appends
    std::string expected;
    for (const std::string &line : lines) expected += line + "\r\n";
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(file, std::ios::binary).rdbuf()), {}), expected);
    load(nullptr), load(missing.c_str());  // no such directory: nothing made
    EXPECT_NE(access(missing.c_str(), F_OK), 0);
    std::remove(file.c_str()), rmdir(directory);
}

// Each entry within 0.3 % of the reference (the table's four-digit values are older), but the
// table's own choices (isotopes, H, "Lw", "##") exactly; each symbol once: the first match wins.
TEST(AtomicWeights, EveryEntryAgainstTheReferenceAndADensityByHand) {
    const std::map<std::string, double> own = {{"Tc", 99}, {"Po", 210}, {"Pm", 147}, {"Pu", 242}, {"Cm", 248},
        {"Es", 254}, {"Fm", 253}, {"Md", 256}, {"No", 254}, {"Lw", 257}, {"##", 0}, {"H", 1.0078}};
    for (int32_t i = 0; i < powderkit::kAtomicWeightCount; ++i) {
        const powderkit::AtomicWeightEntry &entry = powderkit::atomicWeightEntry(i);
        const pk_test::ElementRow *row = pk_test::findElement(entry.symbol);
        ASSERT_TRUE(own.count(entry.symbol) || row != nullptr) << entry.symbol;
        const double expected = own.count(entry.symbol) ? own.at(entry.symbol) : row->weight;
        EXPECT_NEAR(powderkit::atomicWeightForSymbol(entry.symbol), expected, 0.003 * expected) << entry.symbol;
        for (int32_t j = 0; j < i; ++j) ASSERT_STRNE(powderkit::atomicWeightEntry(j).symbol, entry.symbol);
    }
    for (const char *absent : {"Fe3+", "fe", "Fe ", "Lr", "", "X"}) EXPECT_EQ(powderkit::atomicWeightForSymbol(absent), 0.0);
    EXPECT_EQ(powderkit::atomicWeightForSymbol(nullptr), 0.0);
    // Density M·1660.56/V by hand: corundum, 12 Al + 18 O in V = a²c·sin 120° = 254.792343 Å³ (to 9 digits).
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("corundum");
    EXPECT_NEAR(calculateDensity(crystal), (12 * 26.98 + 18 * 16.0) * 1660.56 / 254.792343, 1e-5);
    freeRefinementCrystal(crystal);
}

// f(d) by hand; d = ∞ gives a1 + a2 + a3 + a4 + c; the high-angle form
// exp(1 − s/2 + s²/10 − s³/100) only above s = 2 and only with its flag.
TEST(ScatteringFactor, FourGaussianSumHighAngleFormAndFlags) {
    const struct { const char *symbol; double d, f; } cases[] = {
        {"Fe", 1.0, 11.505687515802262}, {"Fe", 2.5, 20.045226063617262}, {"O", 0.7, 1.6897824284611101},
        {"Si", 1.3, 7.3514462181204232}, {"N", 0.9, 1.7845721355795824}, {"U", 0.5, 35.456612830208858},
        {"H-", 3.0, 0.68676266370408470}, {"Cf", 0.25, 19.682176475876946}, {"Fe", INFINITY, 25.9904}};
    for (const auto &c : cases) {
        RefinementAtomicScatteringFactor *record = pk_test::makeScatteringFactorFor(c.symbol);
        EXPECT_NEAR(record->methods->xrayScatteringFactor(record, c.d), c.f, kRoundOff * c.f) << c.symbol << c.d;
        freeRefinementAtomicScatteringFactor(record);
    }
    RefinementAtomicScatteringFactor *fe = pk_test::makeScatteringFactorFor("Fe");
    for (int i = 0; i < 4; ++i) fe->highAngleCoefficients[i] = std::vector<double>{1.0, -0.5, 0.1, -0.01}[i];
    EXPECT_NEAR(xrayScatteringFactor(fe, 0.2499), 3.1878495942015487, kRoundOff);
    fe->hasHighAngleCoefficients = 1;
    EXPECT_NEAR(xrayScatteringFactor(fe, 0.25), 3.1899663748359780, kRoundOff);
    fe->hasCromerMannCoefficients = 0;
    EXPECT_NEAR(xrayScatteringFactor(fe, 0.2499), 1.3768853494750413, kRoundOff);
    EXPECT_EQ(fe->methods->neutronScatteringLength(fe), 9.45);
    fe->hasNeutronScatteringLength = 0;
    EXPECT_EQ(xrayScatteringFactor(fe, 0.25) + neutronScatteringLength(fe) + neutronScatteringLength(nullptr), 0.0);
    freeRefinementAtomicScatteringFactor(fe);
}

// Σ occupancy × power at d = 2 Å (hand f of Fe, Co, O; b and weights from the table).
TEST(SiteScattering, SumsOccupancyTimesPowerOrWeightAndReportsFaultsPerOccupant) {
    const std::pair<const char *, double> occupants[] = {{"Fe", 0.5}, {"Co", 0.3}, {"O", 0.2}, {"Ni", 0.0},
                                                         {"Ni", -0.5}, {"Ni", NAN}, {"Fe", 0.5}, {"Co", 0.25}};
    Site *site = makeEmptySite(), *bare = makeEmptySite();
    site->occupants = makeDynamicArrayWithCapacity(3);
    bare->occupants = makeDynamicArrayWithCapacity(5);
    for (int i = 0; i < 8; ++i)
        addObjectToDynamicArray(i < 3 ? site->occupants : bare->occupants, makeRefinementSiteOccupant(occupants[i].first,
            occupants[i].second, i < 3 ? pk_test::makeScatteringFactorFor(occupants[i].first) : nullptr));
    EXPECT_NEAR(site->methods->siteScatteringFactor(site, 2.0, PK_RADIATION_XRAY),
                0.5 * 18.362614936968781 + 0.3 * 19.372970267003815 + 0.2 * 4.8078353617527647, kRoundOff);
    EXPECT_NEAR(site->methods->siteScatteringFactor(site, 2.0, PK_RADIATION_NEUTRON), 0.5 * 9.45 + 0.3 * 2.49 + 0.2 * 5.803, kRoundOff);
    EXPECT_NEAR(site->methods->siteWeight(site), 0.5 * 55.85 + 0.3 * 58.93 + 0.2 * 16.0, kRoundOff);
    double value = 1.0;
    const std::string invalid = "Invalid radiation type for refinement!\n";
    EXPECT_EQ(pk_test::captureStderr([&] { value = site->methods->siteScatteringFactor(site, 1.0, 1); }), invalid + invalid + invalid);
    EXPECT_EQ(value, 0.0);
    // Empty occupants (NaN too) are silent; without a record: power 1 and a message without a line feed.
    EXPECT_EQ(pk_test::captureStderr([&] { value = bare->methods->siteScatteringFactor(bare, 1.0, 7); }),
              "Undefined atomic scattering factor for site occupant FeUndefined atomic scattering factor for site occupant Co");
    EXPECT_EQ(value, 0.75);
    site->methods->freeSite(site), bare->methods->freeSite(bare);
}

}  // namespace
