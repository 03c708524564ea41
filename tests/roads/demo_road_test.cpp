// The shortest host, run as a user runs it: the pattern of a CIF file through
// the phase layer, two columns on standard output or in a file. (What the
// pattern holds is the layer's to test; here: the program's grid, that its
// highest point is one of corundum's strongest reflexions, every CIF file of
// examples/data, and failures.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>

#include "roads/road_runs.hpp"
#include "support/test_data.hpp"

namespace {

constexpr double kCuKAlpha1 = 1.540593;
constexpr double kPi = 3.14159265358979323846;

pk_roads::Pattern patternOf(const std::string &text) {
    pk_roads::Pattern pattern;
    std::istringstream lines(text);
    double x = 0.0, y = 0.0;
    while (lines >> x >> y) {
        pattern.x.push_back(x);
        pattern.y.push_back(y);
    }
    return pattern;
}

TEST(DemoRoad, CorundumByDefaultIntoAFile) {
    const std::string file = pk_roads::scratchFolder("demo") + ".xy";
    const pk_roads::Run run = pk_roads::runProgram(PK_DEMO_PROGRAM, "'" PK_EXAMPLE_DATA_DIR "/corundum.cif' '" + file + "'");
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "");
    const pk_roads::Pattern pattern = pk_roads::readPattern(file);
    // 2θ from 10° to 150° in 0.02° steps: 7001 points.
    ASSERT_EQ(pattern.x.size(), 7001u);
    EXPECT_NEAR(pattern.x.front(), 10.0, 1e-9);
    EXPECT_NEAR(pattern.x[3500], 80.0, 1e-9);
    EXPECT_NEAR(pattern.x.back(), 150.0, 1e-9);
    const auto highest = std::max_element(pattern.y.begin(), pattern.y.end()) - pattern.y.begin();
    ASSERT_GT(pattern.y[static_cast<std::size_t>(highest)], 0.0);
    // The three strongest reflexions of the reference list lie within 4 % of
    // one another in integrated intensity: the highest point is at the Cu Kα1
    // Bragg angle of one of them (Kα2 and the asymmetry move it by less than
    // a tenth of a degree).
    auto rows = pk_test::readTable("reflexions/corundum.tsv");  // … d (3) … I_xray (8)
    ASSERT_GE(rows.size(), 3u);
    std::sort(rows.begin(), rows.end(),
              [](const auto &a, const auto &b) { return std::stod(a[8]) > std::stod(b[8]); });
    double nearest = 1e9;
    for (std::size_t i = 0; i < 3; ++i) {
        const double bragg = 2.0 * std::asin(kCuKAlpha1 / (2.0 * std::stod(rows[i][3]))) * 180.0 / kPi;
        nearest = std::min(nearest, std::fabs(pattern.x[static_cast<std::size_t>(highest)] - bragg));
    }
    EXPECT_LT(nearest, 0.1);
}

TEST(DemoRoad, EveryExampleFileOnStandardOutputAndFailures) {
    for (const char *name : {"corundum", "silicon", "rutile", "NaCl", "CeO2", "ZnO", "LaB6", "lowsym"}) {
        const pk_roads::Run run =
            pk_roads::runProgram(PK_DEMO_PROGRAM, std::string("'" PK_EXAMPLE_DATA_DIR "/") + name + ".cif'");
        ASSERT_EQ(run.status, 0) << name;
        const pk_roads::Pattern pattern = patternOf(run.output);
        ASSERT_EQ(pattern.x.size(), 7001u) << name;
        EXPECT_GT(*std::max_element(pattern.y.begin(), pattern.y.end()), 0.0) << name;
    }
    EXPECT_NE(pk_roads::runProgram(PK_DEMO_PROGRAM, "/nonexistent/absent.cif 2>/dev/null").status, 0);
    const std::string folder = pk_roads::scratchFolder("demo-failures");
    EXPECT_NE(pk_roads::runProgram(PK_DEMO_PROGRAM, "'" PK_EXAMPLE_DATA_DIR "/NaCl.cif' '" + folder +
                                                         "/no/such/folder/out.xy' 2>/dev/null")
                  .status,
              0);
}

}  // namespace
