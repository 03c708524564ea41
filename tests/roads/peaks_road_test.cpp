// The road of one raw pattern, through the peaks host: on the simulated
// corundum pattern the fitted positions of the ten strongest peaks lie within
// 0.01° of Bragg's 2θ of the reference d-spacings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "roads/road_runs.hpp"
#include "support/test_data.hpp"

namespace {

constexpr double kWavelength = 1.5406;
constexpr double kPi = 3.14159265358979323846;

struct Peak {
    double position = 0, intensity = 0;
};

// The reference reflexions of corundum on 10°–140°, those closer than 0.02°
// merged into one peak at their intensity-weighted position.
std::vector<Peak> referencePeaks() {
    std::vector<Peak> lines;
    for (const auto &row : pk_test::readTable("reflexions/corundum.tsv")) {
        const double d = std::strtod(row[3].c_str(), nullptr);
        const double twoTheta = 2.0 * std::asin(kWavelength / (2.0 * d)) * 180.0 / kPi;
        if (twoTheta > 10.0 && twoTheta < 140.0) {
            lines.push_back({twoTheta, std::strtod(row[8].c_str(), nullptr)});
        }
    }
    std::sort(lines.begin(), lines.end(),
              [](const Peak &a, const Peak &b) { return a.position < b.position; });
    std::vector<Peak> peaks;
    for (const Peak &line : lines) {
        if (!peaks.empty() && line.position - peaks.back().position < 0.02) {
            Peak &p = peaks.back();
            p.position = (p.position * p.intensity + line.position * line.intensity) /
                         (p.intensity + line.intensity);
            p.intensity += line.intensity;
        } else {
            peaks.push_back(line);
        }
    }
    std::sort(peaks.begin(), peaks.end(),
              [](const Peak &a, const Peak &b) { return a.intensity > b.intensity; });
    return peaks;
}

TEST(PeaksRoad, FindsTheTenStrongestCorundumPeaks) {
    const std::string folder = pk_roads::scratchFolder("peaks");
    const pk_roads::Run run = pk_roads::runProgram(PK_PEAKS_PROGRAM, "--out '" + folder + "'");
    ASSERT_EQ(run.status, 0) << run.output;
    // peaks.tsv: position, area, background, FWHM, η (and the nearest reflexion).
    std::vector<double> fitted;
    for (const auto &row : pk_roads::readRows(folder + "/peaks.tsv")) {
        fitted.push_back(std::strtod(row[0].c_str(), nullptr));
        EXPECT_GT(std::strtod(row[1].c_str(), nullptr), 0.0) << "area";
        const double fwhm = std::strtod(row[3].c_str(), nullptr);
        EXPECT_TRUE(fwhm > 0.03 && fwhm < 0.5) << "FWHM " << fwhm;
    }
    const std::vector<Peak> strongest = referencePeaks();
    ASSERT_GE(strongest.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        double nearest = 1e9;
        for (double x : fitted) {
            if (std::fabs(x - strongest[i].position) < std::fabs(nearest - strongest[i].position)) {
                nearest = x;
            }
        }
        EXPECT_NEAR(nearest, strongest[i].position, 0.01) << "peak " << i + 1;
    }
}

// The same host reads a pattern from a file: here the simulated one it wrote.
TEST(PeaksRoad, ReadsAPatternFile) {
    const std::string simulated = pk_roads::scratchFolder("peaks-simulated");
    ASSERT_EQ(pk_roads::runProgram(PK_PEAKS_PROGRAM, "--peaks 5 --out '" + simulated + "'").status, 0);
    const std::string folder = pk_roads::scratchFolder("peaks-file");
    const pk_roads::Run run = pk_roads::runProgram(
        PK_PEAKS_PROGRAM, "--peaks 5 --out '" + folder + "' '" + simulated + "/pattern.xy'");
    ASSERT_EQ(run.status, 0) << run.output;
    const auto fromFile = pk_roads::readRows(folder + "/peaks.tsv");
    const auto fromSimulation = pk_roads::readRows(simulated + "/peaks.tsv");
    ASSERT_EQ(fromFile.size(), fromSimulation.size());
    for (std::size_t i = 0; i < fromFile.size(); ++i) {
        // The file holds the counts exactly and 2θ to 1e-6°.
        EXPECT_NEAR(std::strtod(fromFile[i][0].c_str(), nullptr),
                    std::strtod(fromSimulation[i][0].c_str(), nullptr), 1e-4);
    }
    EXPECT_NE(pk_roads::runProgram(PK_PEAKS_PROGRAM, "'" + folder + "/absent.xy' 2>/dev/null").status, 0);
}

}  // namespace
