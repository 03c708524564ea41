// The road of one calculated pattern, through the demo host: every built-in
// structure with X-rays and neutrons against the independent reference lists
// of tests/data/reflexions, and the pattern's integrated intensity against the
// reflexions' intensities.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "roads/road_runs.hpp"
#include "support/test_data.hpp"

namespace {

using pk_roads::readRows;

constexpr double kWavelength = 1.5406;
constexpr double kPi = 3.14159265358979323846;

double number(const std::string &text) { return std::strtod(text.c_str(), nullptr); }

struct Line {
    std::array<int, 3> hkl{};
    double d = 0, position = 0, intensity = 0;
    int multiplicity = 0;
};

// reflexions.tsv: h k l d position multiplicity |F| intensity relative.
std::vector<Line> demoReflexions(const std::string &folder) {
    std::vector<Line> lines;
    for (const auto &row : readRows(folder + "/reflexions.tsv")) {
        if (row.size() < 9) continue;
        Line line;
        line.hkl = {std::atoi(row[0].c_str()), std::atoi(row[1].c_str()), std::atoi(row[2].c_str())};
        line.d = number(row[3]);
        line.position = number(row[4]);
        line.multiplicity = std::atoi(row[5].c_str());
        line.intensity = number(row[7]);
        lines.push_back(line);
    }
    return lines;
}

// Reference rows: h k l d multiplicity F2_xray F2_neutron Lp I_xray I_neutron.
std::vector<Line> referenceReflexions(const std::string &name, bool xray) {
    std::vector<std::vector<std::string>> rows = pk_test::readTable("reflexions/" + name + ".tsv");
    double largestF2 = 0.0;
    for (const auto &row : rows) largestF2 = std::max(largestF2, number(row[xray ? 5 : 6]));
    std::vector<Line> lines;
    for (const auto &row : rows) {
        // Reflexions the structure extinguishes carry |F|² at rounding level.
        if (number(row[xray ? 5 : 6]) < 1e-12 * largestF2) continue;
        Line line;
        line.hkl = {std::atoi(row[0].c_str()), std::atoi(row[1].c_str()), std::atoi(row[2].c_str())};
        line.d = number(row[3]);
        line.multiplicity = std::atoi(row[4].c_str());
        line.intensity = number(row[xray ? 8 : 9]);
        lines.push_back(line);
    }
    return lines;
}

double largestIntensity(const std::vector<Line> &lines) {
    double largest = 0.0;
    for (const Line &line : lines) largest = std::max(largest, line.intensity);
    return largest;
}

std::map<std::string, std::string> spaceGroups() {
    std::map<std::string, std::string> groups;
    for (const auto &row : pk_test::readTable("structures.tsv")) groups[row[0]] = row[1];
    return groups;
}

// Σ (y − background)·step against scale·Σ intensity of the reflexions on the
// pattern. They differ by the parts of peaks that straddle an end of the range
// (bounded by the reflexions within `edge` of an end, and by what the pattern
// holds there) and by the tails beyond the evaluation windows (below 1 %).
void expectIntegratedIntensity(const std::string &folder, double axisFactor, double edge) {
    const pk_roads::Pattern pattern = pk_roads::readPattern(folder + "/pattern.xy");
    const pk_roads::Pattern background = pk_roads::readPattern(folder + "/background.xy");
    const double scale = pk_roads::commentValue(folder + "/reflexions.tsv", "scale");
    ASSERT_EQ(pattern.x.size(), background.x.size());
    ASSERT_GT(pattern.x.size(), 2u);
    ASSERT_TRUE(scale > 0.0);
    const double first = pattern.x.front(), last = pattern.x.back();
    const double step = (last - first) / static_cast<double>(pattern.x.size() - 1);
    double area = 0.0, edgeArea = 0.0;
    for (std::size_t i = 0; i < pattern.x.size(); ++i) {
        const double peak = (pattern.y[i] - background.y[i]) * step;
        area += peak;
        if (pattern.x[i] - first < edge || last - pattern.x[i] < edge) edgeArea += peak;
    }
    double expected = 0.0, edgeIntensity = 0.0;
    for (const Line &line : demoReflexions(folder)) {
        const double contribution = scale * axisFactor * line.intensity;
        expected += contribution;
        if (line.position - first < edge || last - line.position < edge) edgeIntensity += contribution;
    }
    EXPECT_NEAR(area, expected, edgeIntensity + edgeArea + 0.01 * expected) << folder;
    EXPECT_LT(edgeIntensity + edgeArea, 0.25 * expected) << folder << ": the bound says little";
}

TEST(DemoRoad, EveryStructureMatchesItsReferenceList) {
    const auto groups = spaceGroups();
    ASSERT_EQ(groups.size(), 8u);
    for (const auto &[name, group] : groups) {
        const auto rotations = pk_roads::spaceGroupRotations(group);
        ASSERT_FALSE(rotations.empty()) << group;
        for (const bool xray : {true, false}) {
            SCOPED_TRACE(name + (xray ? " X-rays" : " neutrons"));
            const std::string folder = pk_roads::scratchFolder(name + (xray ? "-xray" : "-neutron"));
            const pk_roads::Run run = pk_roads::runProgram(
                PK_DEMO_PROGRAM, "--structure " + name + (xray ? " --xray" : " --neutron") +
                                     " --out '" + folder + "'");
            ASSERT_EQ(run.status, 0) << run.output;
            EXPECT_NE(run.output.find(folder), std::string::npos) << "names its folder";

            // 2θ from 10° to 150° in 0.01° steps: 14,001 points.
            const pk_roads::Pattern pattern = pk_roads::readPattern(folder + "/pattern.xy");
            ASSERT_EQ(pattern.x.size(), 14001u);
            EXPECT_NEAR(pattern.x.front(), 10.0, 1e-9);
            EXPECT_NEAR(pattern.x.back(), 150.0, 1e-9);
            EXPECT_NEAR(pattern.x[7000], 80.0, 1e-9);

            std::vector<Line> mine;
            for (const Line &line : demoReflexions(folder)) {
                if (line.d >= 0.8) mine.push_back(line);
            }
            const std::vector<Line> reference = referenceReflexions(name, xray);
            ASSERT_EQ(mine.size(), reference.size());
            const double myLargest = largestIntensity(mine);
            const double referenceLargest = largestIntensity(reference);
            std::set<std::size_t> matched;
            for (const Line &line : mine) {
                std::size_t found = reference.size();
                for (std::size_t r = 0; r < reference.size(); ++r) {
                    if (std::fabs(reference[r].d - line.d) < 2e-8 * line.d &&
                        pk_roads::equivalentPlanes(rotations, reference[r].hkl, line.hkl)) {
                        found = r;
                        break;
                    }
                }
                ASSERT_LT(found, reference.size())
                    << line.hkl[0] << " " << line.hkl[1] << " " << line.hkl[2] << " not listed";
                EXPECT_TRUE(matched.insert(found).second) << "listed twice";
                const Line &expected = reference[found];
                EXPECT_EQ(line.multiplicity, expected.multiplicity);
                EXPECT_NEAR(line.intensity / myLargest, expected.intensity / referenceLargest, 1e-6)
                    << line.hkl[0] << " " << line.hkl[1] << " " << line.hkl[2];
                // The position is Bragg's 2θ of the reference d.
                const double twoTheta = 2.0 * std::asin(kWavelength / (2.0 * expected.d)) * 180.0 / kPi;
                EXPECT_NEAR(line.position, twoTheta, 1e-5);
            }
            expectIntegratedIntensity(folder, 1.0, 1.0);
        }
    }
}

TEST(DemoRoad, CorundumHasItsThreeStrongestReflexions) {
    const std::string folder = pk_roads::scratchFolder("corundum-default");
    const pk_roads::Run run = pk_roads::runProgram(PK_DEMO_PROGRAM, "--out '" + folder + "'");
    ASSERT_EQ(run.status, 0);
    std::vector<Line> lines = demoReflexions(folder);
    ASSERT_GE(lines.size(), 3u);
    std::sort(lines.begin(), lines.end(),
              [](const Line &a, const Line &b) { return a.intensity > b.intensity; });
    const auto rotations = pk_roads::spaceGroupRotations("R -3 c :H");
    const std::array<int, 3> expected[3] = {{1, 0, 4}, {1, 1, 3}, {1, 1, 6}};
    const double positions[3] = {35.15, 43.36, 57.50};
    for (int i = 0; i < 3; ++i) {
        bool found = false;
        for (int j = 0; j < 3; ++j) {
            if (pk_roads::equivalentPlanes(rotations, lines[j].hkl, expected[i])) {
                found = true;
                EXPECT_NEAR(lines[j].position, positions[i], 0.01);
            }
        }
        EXPECT_TRUE(found) << "(" << expected[i][0] << " " << expected[i][1] << " "
                           << expected[i][2] << ") among the three strongest";
    }
    // The table printed on standard output starts with the strongest.
    EXPECT_NE(run.output.find("ten strongest"), std::string::npos);
}

// Time of flight: the bank at 90°, dtt1 = 10,000 µs/Å, so a reflexion of d Å
// lies at 10·d ms; the shapes have unit area over microseconds, 0.001 over
// the millisecond axis.
TEST(DemoRoad, TimeOfFlightPatterns) {
    for (const char *option : {"--tof", "--tof-voigt"}) {
        SCOPED_TRACE(option);
        const std::string folder = pk_roads::scratchFolder(std::string("corundum") + option);
        const pk_roads::Run run = pk_roads::runProgram(
            PK_DEMO_PROGRAM, std::string(option) + " --out '" + folder + "'");
        ASSERT_EQ(run.status, 0) << run.output;
        const pk_roads::Pattern pattern = pk_roads::readPattern(folder + "/pattern.xy");
        ASSERT_EQ(pattern.x.size(), 17501u);  // 5 to 40 ms in steps of 0.002 ms
        EXPECT_NEAR(pattern.x.back(), 40.0, 1e-9);
        const std::vector<Line> lines = demoReflexions(folder);
        ASSERT_FALSE(lines.empty());
        for (const Line &line : lines) EXPECT_NEAR(line.position, 10.0 * line.d, 1e-6);
        expectIntegratedIntensity(folder, 0.001, 0.3);
    }
}

TEST(DemoRoad, HelpAndBadOptions) {
    const pk_roads::Run help = pk_roads::runProgram(PK_DEMO_PROGRAM, "--help");
    EXPECT_EQ(help.status, 0);
    for (const char *option : {"--structure", "--xray", "--neutron", "--wavelength", "--tof",
                               "--tof-voigt", "--from", "--to", "--step", "--out", "--list"}) {
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    }
    const pk_roads::Run list = pk_roads::runProgram(PK_DEMO_PROGRAM, "--list");
    EXPECT_EQ(list.status, 0);
    for (const auto &[name, group] : spaceGroups()) {
        EXPECT_NE(list.output.find(name), std::string::npos) << name;
    }
    EXPECT_NE(pk_roads::runProgram(PK_DEMO_PROGRAM, "--structure quartz 2>/dev/null").status, 0);
    EXPECT_NE(pk_roads::runProgram(PK_DEMO_PROGRAM, "--step -1 2>/dev/null").status, 0);
    EXPECT_NE(pk_roads::runProgram(PK_DEMO_PROGRAM, "--from 20 --to 10 2>/dev/null").status, 0);
    EXPECT_NE(pk_roads::runProgram(PK_DEMO_PROGRAM, "--wavelength x 2>/dev/null").status, 0);
}

}  // namespace
