// The example programs run as a user runs them, checked against tests/data/reflexions/corundum.tsv
// and, for the refinement, against the values its measurement was simulated from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_data.hpp"

using Rows = std::vector<std::vector<double>>;

static std::string run(const std::string &program, const std::string &arguments) {
    const std::string folder = std::string(PK_ROADS_OUTPUT) + "/" + std::filesystem::path(program).filename().string();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    EXPECT_EQ(std::system(("cd '" + folder + "' && '" + program + "' " + arguments + " >stdout.txt").c_str()), 0);
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

// The two-phase refinement: every free parameter within 3 esd of the value the mixture was simulated from
// (they start 0.5 % to 20 % off), Rwp within 3 % of Rexp (their ratio √(χ²/(N − P)) spreads by 0.6 % at
// 14,001 points), and the measurement and the fit written point by point.
TEST(Roads, RefineRecoversTheSimulatedMixture) {
    const std::string folder = run(PK_REFINE_PROGRAM, "--out .");
    const Rows parameters = read(folder + "parameters.tsv");  // (name,) start, refined, esd, true
    EXPECT_EQ(parameters.size(), 22u);  // 2 scales, corundum a c, silicon a, 2 × U V W X Y, zero, 6 background
    for (const auto &r : parameters) {
        ASSERT_EQ(r.size(), 4u);
        EXPECT_GT(r[2], 0.0);
        EXPECT_LE(std::fabs(r[1] - r[3]), 3.0 * r[2]);
    }
    std::ifstream printed(folder + "stdout.txt");
    double rwp = 0.0;
    double rexp = 0.0;
    for (std::string line; std::getline(printed, line);) {
        if (line.rfind("Rwp ", 0) == 0) std::sscanf(line.c_str(), "Rwp %lf %% Rexp %lf", &rwp, &rexp);
    }
    ASSERT_GT(rexp, 0.0);
    EXPECT_NEAR(rwp / rexp, 1.0, 0.03);
    const Rows measured = read(folder + "mixture.xy");  // 2θ, counts, σ
    ASSERT_EQ(measured.size(), 14001u);
    EXPECT_EQ(measured.back().size(), 3u);
    const Rows fit = read(folder + "fit.xy");  // 2θ, observed, calculated, difference, background
    ASSERT_EQ(fit.size(), 14001u);
    EXPECT_EQ(fit.back().size(), 5u);
    EXPECT_GT(std::filesystem::file_size(folder + "fit.svg"), 10000u);
}
