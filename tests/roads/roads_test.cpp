// The three example programs run as a user runs them, a few numbers of what they
// write checked against independent values: the reference list of corundum
// (tests/data/reflexions/corundum.tsv) and the refinement's simulated truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/test_data.hpp"

namespace {

using Rows = std::vector<std::vector<double>>;

// Runs the program in a fresh folder named after it; returns the folder.
std::string run(const std::string &program, const std::string &arguments) {
    const std::string folder = std::string(PK_ROADS_OUTPUT) + "/" + std::filesystem::path(program).filename().string();
    std::filesystem::remove_all(folder), std::filesystem::create_directories(folder);
    EXPECT_EQ(std::system(("cd '" + folder + "' && '" + program + "' " + arguments + " >/dev/null").c_str()), 0);
    return folder;
}

// The numbers of each line of a file (comment lines and words skipped).
Rows read(const std::string &path) {
    Rows rows;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        rows.emplace_back();
        for (std::string field; fields >> field;) {
            char *end = nullptr;
            const double value = std::strtod(field.c_str(), &end);
            if (*end == '\0') rows.back().push_back(value);
        }
    }
    return rows;
}

// Bragg's 2θ (degrees) of the five strongest corundum lines, each 0.05° or more from any other.
std::vector<double> strongestCorundumLines(double wavelength) {
    auto rows = pk_test::readTable("reflexions/corundum.tsv");  // … d (3) … I_xray (8)
    std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return std::stod(a[8]) > std::stod(b[8]); });
    std::vector<double> lines;
    for (std::size_t i = 0; i < 5; ++i) lines.push_back(2.0 * std::asin(wavelength / (2.0 * std::stod(rows[i][3]))) * 180.0 / M_PI);
    return lines;
}

// The demo writes 10° … 150° by 0.02°. The three strongest lines lie within
// 4 % in intensity: the highest point is at one of them (Kα2 and the
// asymmetry move it by less than 0.1°).
TEST(Roads, DemoPatternPeaksAtAStrongestCorundumLine) {
    const Rows pattern = read(run(PK_DEMO_PROGRAM, "'" PK_EXAMPLE_DATA_DIR "/corundum.cif' pattern.xy") + "/pattern.xy");
    ASSERT_EQ(pattern.size(), 7001u);
    EXPECT_NEAR(pattern.back()[0], 150.0, 1e-9);  // the grid's end, printed exactly
    const auto highest = *std::max_element(pattern.begin(), pattern.end(), [](const auto &a, const auto &b) { return a[1] < b[1]; });
    const std::vector<double> lines = strongestCorundumLines(1.540593);
    EXPECT_LT(std::min({std::fabs(highest[0] - lines[0]), std::fabs(highest[0] - lines[1]), std::fabs(highest[0] - lines[2])}), 0.1);
}

// The peaks program fits its simulated corundum pattern: a fitted position
// within 0.01° of each of the five strongest lines.
TEST(Roads, PeaksFindsTheStrongestCorundumLines) {
    const Rows peaks = read(run(PK_PEAKS_PROGRAM, "--out .") + "/peaks.tsv");  // position, area, …
    for (double line : strongestCorundumLines(1.5406)) {
        double nearest = 1e9;
        for (const auto &row : peaks) nearest = !row.empty() && std::fabs(row[0] - line) < std::fabs(nearest - line) ? row[0] : nearest;
        EXPECT_NEAR(nearest, line, 0.01);
    }
}

// The refinement from its perturbed start (seeded noise): Rwp ends within 3 %
// of Rexp, and every parameter within three standard errors of the value the
// measurement was simulated with.
TEST(Roads, RefineRecoversTheSimulatedParameters) {
    const std::string folder = run(PK_REFINE_PROGRAM, "--out .");
    const Rows cycles = read(folder + "/cycles.tsv");  // stage, cycle, χ², GoF, Rp, Rwp, Rexp
    ASSERT_EQ(cycles.back().size(), 7u);
    EXPECT_GT(cycles.front()[5], 5.0 * cycles.back()[5]);  // the start was really off
    EXPECT_NEAR(cycles.back()[5] / cycles.back()[6], 1.0, 0.03);
    const Rows parameters = read(folder + "/parameters.tsv");  // name, start, refined, σ, true
    ASSERT_EQ(parameters.size(), 13u);
    for (const auto &row : parameters) EXPECT_LE(std::fabs(row[row.size() - 3] - row.back()), 3.0 * row[row.size() - 2]);
}

}  // namespace
