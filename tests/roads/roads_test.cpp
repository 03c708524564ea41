// The example programs run as a user runs them, checked against tests/data/reflexions/corundum.tsv.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_data.hpp"

using Rows = std::vector<std::vector<double>>;

static std::string run(const std::string &program, const std::string &arguments) {
    const std::string folder = std::string(PK_ROADS_OUTPUT) + "/" + std::filesystem::path(program).filename().string();
    std::filesystem::remove_all(folder), std::filesystem::create_directories(folder);
    EXPECT_EQ(std::system(("cd '" + folder + "' && '" + program + "' " + arguments + " >/dev/null").c_str()), 0);
    return folder + "/";
}

static Rows read(const std::string &path) {
    Rows rows;
    std::ifstream in(path);
    for (std::string line, field; std::getline(in, line);) {
        std::istringstream fields(line[0] == '#' ? "" : line);
        for (rows.emplace_back(); fields >> field;) {
            char *end = nullptr;
            const double value = std::strtod(field.c_str(), &end);
            if (*end == '\0') rows.back().push_back(value);
        }
        if (rows.back().empty()) rows.pop_back();
    }
    return rows;
}

// Bragg's 2θ (degrees) of the five strongest corundum lines, each 0.05° or more from any other.
static std::vector<double> strongestCorundumLines(double lambda) {
    auto rows = pk_test::readTable("reflexions/corundum.tsv");  // … d (3) … I_xray (8)
    std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return std::stod(a[8]) > std::stod(b[8]); });
    std::vector<double> lines;
    for (auto i = 0u; i < 5; ++i) lines.push_back(360.0 / M_PI * std::asin(lambda / (2.0 * std::stod(rows[i][3]))));
    return lines;
}

// The demo's 10°…150° by 0.02° peaks at one of the three strongest lines (equal within 4 %).
TEST(Roads, DemoPatternPeaksAtAStrongestCorundumLine) {
    const Rows pattern = read(run(PK_DEMO_PROGRAM, "'" PK_EXAMPLE_DATA_DIR "/corundum.cif' pattern.xy") + "pattern.xy");
    ASSERT_EQ(pattern.size(), 7001u);
    const double top = (*std::max_element(pattern.begin(), pattern.end(),
                                          [](const auto &a, const auto &b) { return a[1] < b[1]; }))[0];
    const std::vector<double> l = strongestCorundumLines(1.540593);
    EXPECT_LT(std::min({std::fabs(top - l[0]), std::fabs(top - l[1]), std::fabs(top - l[2])}), 0.1);
}

// The peaks program fits its simulated corundum pattern: a position within 0.01° of each strongest line.
TEST(Roads, PeaksFindsTheStrongestCorundumLines) {
    const Rows peaks = read(run(PK_PEAKS_PROGRAM, "--out .") + "peaks.tsv");  // position, area, …
    for (double line : strongestCorundumLines(1.5406)) {
        const auto closer = [line](auto &a, auto &b) { return std::fabs(a[0] - line) < std::fabs(b[0] - line); };
        EXPECT_NEAR((*std::min_element(peaks.begin(), peaks.end(), closer))[0], line, 0.01);
    }
}

// The refinement: Rwp ends within 3 % of Rexp, every parameter within 3σ of its simulated value.
TEST(Roads, RefineRecoversTheSimulatedParameters) {
    const std::string folder = run(PK_REFINE_PROGRAM, "--out .");
    const Rows cycles = read(folder + "cycles.tsv");  // stage, cycle, χ², GoF, Rp, Rwp, Rexp
    ASSERT_EQ(cycles.back().size(), 7u);
    EXPECT_NEAR(cycles.back()[5] / cycles.back()[6], 1.0, 0.03);
    const Rows parameters = read(folder + "parameters.tsv");  // name, start, refined, σ, true
    ASSERT_EQ(parameters.size(), 13u);
    for (const auto &r : parameters) EXPECT_LE(std::fabs(r[r.size() - 3] - r.back()), 3.0 * r[r.size() - 2]);
}
