// The single-peak fit: window and starting values traced by hand, the refusals,
// recovery of a known peak from counting noise within the errors that noise
// implies, the noise-free peak that never meets the convergence test, bad
// input and allocation failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <limits>
#include <vector>

#include "analysis/analysis.hpp"
#include "refinement/matrix.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"
#include "synthetic_pattern.hpp"

namespace {

const double kPi = std::acos(-1.0);

PeakRange rangeAt(std::vector<PatternPoint> &points, int index, double baseline) {
    PatternPoint *maximum = &points[static_cast<std::size_t>(index)];
    return PeakRange{nullptr, maximum, 0, baseline, maximum->y - baseline};
}

TEST(PseudoVoigtFit, RefusesRangesWithoutAPeakLeavingThemAlone) {
    std::vector<PatternPoint> points(100, PatternPoint{0.0, 1.0});
    PatternPoint marker{};
    PeakRange flat{&marker, &points[50], 17, 1.0, 0.0};
    EXPECT_EQ(pseudoVoigtFit(&flat), nullptr);
    EXPECT_EQ(flat.start, &marker);
    EXPECT_EQ(flat.pointCount, 17);
    PeakRange empty{&marker, nullptr, 17, 0.0, 5.0};
    EXPECT_EQ(pseudoVoigtFit(&empty), nullptr);
    EXPECT_EQ(empty.pointCount, 17);
    PeakRange negative{&marker, &points[50], 17, 1.0, -2.0};
    EXPECT_EQ(pseudoVoigtFit(&negative), nullptr);
    EXPECT_EQ(pseudoVoigtFit(nullptr), nullptr);
    EXPECT_EQ(powderkit::initialPseudoVoigtParameters(&flat), nullptr);
}

TEST(PseudoVoigtFit, WindowRunsBetweenTheLowestPointsOnEitherSide) {
    // Lower points right beside the maximum and higher ones beyond: a window
    // of 3 points, set on the range, and no fit.
    std::vector<PatternPoint> points(100);
    for (int i = 0; i < 100; ++i) points[static_cast<std::size_t>(i)] = {0.01 * i, 20.0};
    points[49].y = 5.0;
    points[50].y = 30.0;
    points[51].y = 5.0;
    PeakRange narrow = rangeAt(points, 50, 5.0);
    EXPECT_EQ(pseudoVoigtFit(&narrow), nullptr);
    EXPECT_EQ(narrow.start, &points[49]);
    EXPECT_EQ(narrow.pointCount, 3);
    // Equal lowest values: the nearer point bounds the window; points more
    // than 29 away are not searched.
    points[49].y = 20.0;
    points[51].y = 20.0;
    points[45].y = 3.0;
    points[40].y = 3.0;
    points[77].y = 4.0;
    points[80].y = 1.0;
    PeakRange wider = rangeAt(points, 50, 3.0);
    pk_test::captureStdout([&] { freeMatrix(pseudoVoigtFit(&wider)); });
    EXPECT_EQ(wider.start, &points[45]);
    EXPECT_EQ(wider.pointCount, 77 - 45 + 1);
}

TEST(PseudoVoigtFit, StartingValuesFromTheHalfHeightPoints) {
    // A triangle on 0.01 steps: y − 10 = 100 − 10·|i − 50|. Half height (50)
    // is first reached 5 points out on each side, so Γ = 0.10; the area gives
    // the height 100 for η = 0.5: A = 100 / (½·2/(πΓ) + ½·2√(ln 2/π)/Γ).
    std::vector<PatternPoint> points(101);
    for (int i = 0; i <= 100; ++i) {
        points[static_cast<std::size_t>(i)] = {20.0 + 0.01 * i, 10.0 + std::fmax(0.0, 100.0 - 10.0 * std::abs(i - 50))};
    }
    PeakRange range = rangeAt(points, 50, 10.0);
    Matrix *p = powderkit::initialPseudoVoigtParameters(&range);
    ASSERT_NE(p, nullptr);
    const double fwhm = 0.10;
    EXPECT_EQ(p->rowPointers[0][0], 20.5);
    EXPECT_EQ(p->rowPointers[2][0], 10.0);
    EXPECT_NEAR(p->rowPointers[3][0], fwhm, 1e-12);
    EXPECT_EQ(p->rowPointers[4][0], 0.5);
    const double area = 100.0 / (0.5 * 2.0 / (kPi * fwhm) + 0.5 * 2.0 * std::sqrt(std::log(2.0) / kPi) / fwhm);
    EXPECT_NEAR(p->rowPointers[1][0], area, 1e-9 * area);
    EXPECT_NEAR(pseudoVoigt(20.5, p), 110.0, 1e-9);
    freeMatrix(p);

    // A peak too broad to fall to half height within 29 points: Γ spans the
    // 60 intervals between the points 30 places either side.
    for (int i = 0; i <= 100; ++i) points[static_cast<std::size_t>(i)].y = 200.0 - 0.01 * (i - 50) * (i - 50);
    range = rangeAt(points, 50, 100.0);
    p = powderkit::initialPseudoVoigtParameters(&range);
    ASSERT_NE(p, nullptr);
    EXPECT_NEAR(p->rowPointers[3][0], 0.60, 1e-12);
    freeMatrix(p);
}

// Standard errors of an unweighted least-squares fit under counting noise
// (variance y): the sandwich (JᵀJ)⁻¹·JᵀVJ·(JᵀJ)⁻¹, with J taken by central
// differences of the independently written peak over the fitted window.
std::vector<double> expectedErrors(const PeakRange &range, const pk_test::Peak &truth,
                                   double background) {
    const int32_t n = range.pointCount;
    Matrix *j = powderkit::makeMatrix(n, 5);
    Matrix *jv = powderkit::makeMatrix(n, 5);
    for (int32_t i = 0; i < n; ++i) {
        const double x = range.start[i].x;
        const double values[5] = {truth.position, truth.area, background, truth.fwhm, truth.eta};
        for (int32_t c = 0; c < 5; ++c) {
            double up[5], down[5];
            for (int k = 0; k < 5; ++k) up[k] = down[k] = values[k];
            const double h = 1e-6 * std::fabs(values[c]);
            up[c] += h;
            down[c] -= h;
            const auto model = [x](const double *v) {
                return pk_test::peakValue({v[0], v[1], v[3], v[4]}, x) + v[2];
            };
            j->rowPointers[i][c] = (model(up) - model(down)) / (2.0 * h);
            jv->rowPointers[i][c] = j->rowPointers[i][c] * model(values);
        }
    }
    Matrix *jt = powderkit::makeMatrix(5, n);
    transposeMatrixDst(jt, j);
    Matrix *normal = powderkit::multMatrices(jt, j);
    Matrix *middle = powderkit::multMatrices(jt, jv);
    Matrix *inverse = powderkit::makeMatrix(5, 5);
    EXPECT_TRUE(inverseMatrixDst(inverse, normal));
    Matrix *left = powderkit::multMatrices(inverse, middle);
    Matrix *covariance = powderkit::multMatrices(left, inverse);
    std::vector<double> errors(5);
    for (int32_t c = 0; c < 5; ++c) errors[static_cast<std::size_t>(c)] = std::sqrt(covariance->rowPointers[c][c]);
    for (Matrix *m : {j, jv, jt, normal, middle, inverse, left, covariance}) freeMatrix(m);
    return errors;
}

TEST(PseudoVoigtFit, RecoversANoisyPeakWithinTheErrorsTheNoiseImplies) {
    // Area 500 counts·degree over 0.01° steps: about 50,000 counts in the
    // peak, on a flat 100; position between two points.
    const pk_test::Peak truth{35.0037, 500.0, 0.08, 0.4};
    const double background = 100.0;
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
        auto points = pk_test::makePattern(34.0, 0.01, 201, {truth}, [](double) { return 100.0; });
        pk_test::addCountingNoise(points, seed);
        int32_t found = 0;
        PeakRange *ranges = locatePeakRanges(points.data(), 201, 1, &found);
        ASSERT_EQ(found, 1) << seed;
        Matrix *p = pseudoVoigtFit(&ranges[0]);
        ASSERT_NE(p, nullptr) << seed;
        double fitted[5];
        ASSERT_EQ(peakParametersForPseudoVoigt(p, &fitted[0], &fitted[1], &fitted[2], &fitted[3],
                                               &fitted[4]),
                  1);
        const std::vector<double> sigma = expectedErrors(ranges[0], truth, background);
        const double truths[5] = {truth.position, truth.area, background, truth.fwhm, truth.eta};
        for (int c = 0; c < 5; ++c) {
            EXPECT_NEAR(fitted[c], truths[c], 4.0 * sigma[static_cast<std::size_t>(c)])
                << "seed " << seed << " parameter " << c;
        }
        // The position to a small fraction of the 0.01° step.
        EXPECT_LT(4.0 * sigma[0], 0.001);
        EXPECT_NEAR(fitted[0], truth.position, 0.001) << seed;
        freeMatrix(p);
        std::free(ranges);
    }
}

TEST(PseudoVoigtFit, NoiseFreePeakNeverMeetsTheConvergenceTest) {
    // χ² falls to rounding level within a few steps; every later step is
    // rejected, so the 20-step budget runs out and the fit gives null.
    const pk_test::Peak truth{35.0037, 500.0, 0.08, 0.4};
    auto points = pk_test::makePattern(34.0, 0.01, 201, {truth}, [](double) { return 100.0; });
    int32_t found = 0;
    PeakRange *ranges = locatePeakRanges(points.data(), 201, 1, &found);
    ASSERT_EQ(found, 1);
    EXPECT_EQ(pseudoVoigtFit(&ranges[0]), nullptr);
    EXPECT_GT(ranges[0].pointCount, 5);
    std::free(ranges);
}

TEST(PseudoVoigtFit, StepRefusesUnusableArguments) {
    Matrix *column = powderkit::makeMatrix(5, 1);
    Matrix *wide = powderkit::makeMatrix(5, 2);
    Matrix *r = powderkit::makeMatrix(8, 1);
    Matrix *j = powderkit::makeMatrix(8, 5);
    double chi2 = 1.0, lambda = 1.0;
    PeakRange range{};
    EXPECT_EQ(powderkit::pseudoVoigtFitStep(wide, r, j, &range, &chi2, &lambda), 2);
    EXPECT_EQ(powderkit::pseudoVoigtFitStep(column, wide, j, &range, &chi2, &lambda), 2);
    EXPECT_EQ(powderkit::pseudoVoigtFitStep(column, r, nullptr, &range, &chi2, &lambda), 2);
    EXPECT_EQ(powderkit::pseudoVoigtFitStep(column, r, j, &range, nullptr, &lambda), 2);
    EXPECT_EQ(powderkit::pseudoVoigtFitStep(column, r, j, &range, &chi2, nullptr), 2);
    // A zero Jacobian gives a singular normal matrix: 2, P unchanged.
    column->elements[0] = 3.0;
    std::string printed;
    printed = pk_test::captureStdout([&] {
        EXPECT_EQ(powderkit::pseudoVoigtFitStep(column, r, j, &range, &chi2, &lambda), 2);
    });
    EXPECT_EQ(printed, "The matrix is not invertible.\n");
    EXPECT_EQ(column->elements[0], 3.0);
    for (Matrix *m : {column, wide, r, j}) freeMatrix(m);
}

TEST(PseudoVoigtFit, BadValuesAndAllocationFailuresDoNoHarm) {
    const pk_test::Peak truth{35.0037, 500.0, 0.08, 0.4};
    auto points = pk_test::makePattern(34.0, 0.01, 201, {truth}, [](double) { return 100.0; });
    pk_test::addCountingNoise(points, 9u);
    int32_t found = 0;
    PeakRange *ranges = locatePeakRanges(points.data(), 201, 1, &found);
    ASSERT_EQ(found, 1);
    const PeakRange located = ranges[0];
    std::free(ranges);

    pk_test::forEachFailedAllocation(
        [&located] {
            PeakRange range = located;
            return pseudoVoigtFit(&range);
        },
        [](Matrix *p, bool failed) {
            EXPECT_EQ(p == nullptr, failed);
            freeMatrix(p);
        });

    // Not-a-number and infinite values inside the window: no fault.
    auto spoiled = points;
    const std::ptrdiff_t top = located.maximum - points.data();
    spoiled[static_cast<std::size_t>(top + 3)].y = std::numeric_limits<double>::quiet_NaN();
    spoiled[static_cast<std::size_t>(top - 4)].y = std::numeric_limits<double>::infinity();
    PeakRange range = located;
    range.maximum = spoiled.data() + top;
    pk_test::captureStdout([&] { freeMatrix(pseudoVoigtFit(&range)); });
}

}  // namespace
