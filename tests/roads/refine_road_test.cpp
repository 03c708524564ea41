// The road of one refinement, through the refinement host: from the perturbed
// start, Rwp falls to within a few percent of Rexp and every refined parameter
// ends within three standard errors of the value the measurement was
// simulated with (the noise is seeded, so the run is the same every time).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "roads/road_runs.hpp"

namespace {

double number(const std::string &text) { return std::strtod(text.c_str(), nullptr); }

TEST(RefineRoad, RecoversTheSimulatedParameters) {
    const std::string folder = pk_roads::scratchFolder("refine");
    const pk_roads::Run run = pk_roads::runProgram(PK_REFINE_PROGRAM, "--out '" + folder + "'");
    ASSERT_EQ(run.status, 0) << run.output;

    // cycles.tsv: stage, cycle, χ², GoF, Rp, Rwp, Rexp; stage 0 is the whole
    // pattern at the start, the last row the whole pattern at the end.
    const auto cycles = pk_roads::readRows(folder + "/cycles.tsv");
    ASSERT_GE(cycles.size(), 4u);
    ASSERT_EQ(cycles.front()[0], "0");
    ASSERT_EQ(cycles.back()[0], "3");
    const double startRwp = number(cycles.front()[5]);
    const auto &last = cycles.back();
    const double gof = number(last[3]), rwp = number(last[5]), rexp = number(last[6]);
    EXPECT_GT(startRwp, 5.0 * rwp) << "the perturbed start fits badly";
    EXPECT_LT(rwp, 1.03 * rexp);
    EXPECT_GT(rwp, 0.97 * rexp) << "a fit better than the noise allows";
    // GoF is the reduced χ², (Rwp/Rexp)², both from the same sums.
    EXPECT_NEAR(gof, (rwp / rexp) * (rwp / rexp), 1e-4 * gof);

    // parameters.tsv: name (two words for "a (= b)"), start, refined, σ, true.
    const auto parameters = pk_roads::readRows(folder + "/parameters.tsv");
    ASSERT_EQ(parameters.size(), 13u);
    for (const auto &row : parameters) {
        ASSERT_GE(row.size(), 5u);
        const std::size_t n = row.size();
        const double start = number(row[n - 4]), refined = number(row[n - 3]);
        const double sigma = number(row[n - 2]), truth = number(row[n - 1]);
        SCOPED_TRACE(row[0]);
        EXPECT_GT(sigma, 0.0);
        EXPECT_LE(std::fabs(refined - truth), 3.0 * sigma);
        EXPECT_GT(std::fabs(start - truth), 3.0 * sigma) << "the start was really off";
    }
}

}  // namespace
