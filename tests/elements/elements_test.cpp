// The element data against tests/data/elements.tsv row by row, and against hand evaluations.
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
#include "support/test_data.hpp"
#include "support/tolerances.hpp"

namespace {

using pk_test::kRoundOff;
using powderkit::siteScatteringFactor;

// 56 comment lines, then the reference rows (fields, then the quoted note); load writes it all.
TEST(ElementTable, TheReferenceRowsWhichLoadWritesWithCarriageReturns) {
    std::istringstream stream(powderkit::kElementTableText);
    std::vector<std::string> lines;
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    const auto rows = pk_test::readTable("elements.tsv");
    ASSERT_TRUE(lines.size() == 159u && rows.size() == 103u);
    for (std::size_t i = 0; i < 159; ++i) {
        const std::size_t quote = lines[i].find('"');
        std::istringstream fields(lines[i].substr(0, quote));
        std::vector<std::string> row{std::istream_iterator<std::string>(fields), {}};
        row.push_back(quote == std::string::npos ? "" : lines[i].substr(quote + 1, lines[i].rfind('"') - quote - 1));
        EXPECT_TRUE(i < 56 ? lines[i][0] == '!' : row == rows[i - 56]) << lines[i];
    }
    char directory[] = "/tmp/pk_elements_XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string file = std::string(directory) + "/ASF.dat";
    std::ofstream(file) << std::string(40000, 'x');
    load(directory);  // truncates, not appends
    std::string expected;
    for (const std::string &line : lines) expected += line + "\r\n";
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(file).rdbuf()), {}), expected);
    load((file + "/absent").c_str());  // no such directory: nothing written
    std::remove(file.c_str());
    rmdir(directory);
}

// Weights to 0.3 % of the reference, the table's own choices exactly; corundum's density by hand.
TEST(AtomicWeights, EveryEntryAgainstTheReferenceAndADensityByHand) {
    const std::map<std::string, double> own = {{"Tc", 99}, {"Po", 210}, {"Pm", 147}, {"Pu", 242}, {"Cm", 248},
        {"Es", 254}, {"Fm", 253}, {"Md", 256}, {"No", 254}, {"Lw", 257}, {"##", 0}, {"H", 1.0078}};
    for (int32_t i = 0; i < powderkit::kAtomicWeightCount; ++i) {
        const char *symbol = powderkit::atomicWeightEntry(i).symbol;
        const std::vector<std::string> *row = pk_test::findElement(symbol);
        const double expected = own.count(symbol) ? own.at(symbol) : row != nullptr ? std::stod(row->at(2)) : -1.0;
        EXPECT_NEAR(powderkit::atomicWeightForSymbol(symbol), expected, 0.003 * expected) << symbol;
    }
    for (const char *absent : {"Fe3+", "fe", "Fe ", ""}) EXPECT_EQ(powderkit::atomicWeightForSymbol(absent), 0.0);
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("corundum");  // M·1660.56/V, V = a²c·sin 120°
    EXPECT_NEAR(calculateDensity(crystal), (12 * 26.98 + 18 * 16.0) * 1660.56 / 254.792343, 1e-5);
    freeRefinementCrystal(crystal);
}

// f(1 Å) of Fe by hand; exp(1 − s/2 + s²/10 − s³/100) only above s = 2 and with its flag.
TEST(ScatteringFactor, FourGaussianSumHighAngleFormAndFlags) {
    RefinementAtomicScatteringFactor *fe = pk_test::makeScatteringFactorFor("Fe");
    EXPECT_NEAR(fe->methods->xrayScatteringFactor(fe, 1.0), 11.505687515802262, kRoundOff);
    for (int i = 0; i < 4; ++i) fe->highAngleCoefficients[i] = std::vector<double>{1.0, -0.5, 0.1, -0.01}[i];
    EXPECT_NEAR(xrayScatteringFactor(fe, 0.2499), 3.1878495942015487, kRoundOff);
    fe->hasHighAngleCoefficients = 1;
    EXPECT_NEAR(xrayScatteringFactor(fe, 0.25), 3.1899663748359780, kRoundOff);
    fe->hasCromerMannCoefficients = 0;
    EXPECT_NEAR(xrayScatteringFactor(fe, 0.2499), 1.3768853494750413, kRoundOff);
    EXPECT_EQ(fe->methods->neutronScatteringLength(fe), 9.45);
    fe->hasNeutronScatteringLength = 0;
    EXPECT_EQ(xrayScatteringFactor(fe, 0.25) + neutronScatteringLength(fe), 0.0);
    freeRefinementAtomicScatteringFactor(fe);
}

// Σ occupancy × power at 2 Å by hand; a message per faulty occupant (no record: power 1).
TEST(SiteScattering, SumsOccupancyTimesPowerOrWeightAndReportsFaultsPerOccupant) {
    const std::pair<const char *, double> occupants[] = {{"Fe", 0.5}, {"Co", 0.3}, {"O", 0.2}, {"Ni", 0.0},
                                                         {"Ni", NAN}, {"Fe", 0.5}, {"Co", 0.25}};
    Site *site = makeEmptySite(), *bare = makeEmptySite();
    site->occupants = makeDynamicArrayWithCapacity(3);
    bare->occupants = makeDynamicArrayWithCapacity(4);
    for (const auto &[symbol, occupancy] : occupants) {
        const bool full = site->occupants->count < 3;
        auto *factor = full ? pk_test::makeScatteringFactorFor(symbol) : nullptr;
        addObjectToDynamicArray((full ? site : bare)->occupants, makeRefinementSiteOccupant(symbol, occupancy, factor));
    }
    const double xray = 0.5 * 18.362614936968781 + 0.3 * 19.372970267003815 + 0.2 * 4.8078353617527647;
    EXPECT_NEAR(site->methods->siteScatteringFactor(site, 2.0, PK_RADIATION_XRAY), xray, kRoundOff);
    EXPECT_NEAR(siteScatteringFactor(site, 2, PK_RADIATION_NEUTRON), 0.5 * 9.45 + 0.3 * 2.49 + 0.2 * 5.803, kRoundOff);
    EXPECT_NEAR(site->methods->siteWeight(site), 0.5 * 55.85 + 0.3 * 58.93 + 0.2 * 16.0, kRoundOff);
    double value = 1.0;
    const std::string invalid = "Invalid radiation type for refinement!\n";  // once per occupant
    EXPECT_EQ(pk_test::captureStderr([&] { value = siteScatteringFactor(site, 1.0, 1); }), invalid + invalid + invalid);
    EXPECT_EQ(value, 0.0);
    const std::string none = "Undefined atomic scattering factor for site occupant ";  // no line feed
    EXPECT_EQ(pk_test::captureStderr([&] { value = siteScatteringFactor(bare, 1, 7); }), none + "Fe" + none + "Co");
    EXPECT_EQ(value, 0.75);
    site->methods->freeSite(site);
    bare->methods->freeSite(bare);
}

}  // namespace
