// The single-peak fit: window and starting values traced by hand, the refusals,
// recovery of a known peak from counting noise within the errors that noise
// implies, the noise-free peak that never meets the convergence test, bad
// input and allocation failure.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "analysis/analysis.hpp"
#include "linalg/linalg.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"
#include "synthetic_pattern.hpp"

namespace {

using Values = std::array<double, 5>;  // x0, A, B, Γ, η
const Values kTruth = {35.0037, 500.0, 100.0, 0.08, 0.4};  // x0 between two of the 0.01° steps

double truthModel(const Values &v, double x) { return pk_test::peakValue({v[0], v[1], v[3], v[4]}, x) + v[2]; }

// The peak located on the truth from 34° to 36°, with counting noise unless the seed is 0.
PeakRange locatedTruth(std::vector<PatternPoint> &points, unsigned seed) {
    points = pk_test::makePattern(34.0, 0.01, 201, {}, [](double x) { return truthModel(kTruth, x); });
    if (seed != 0) pk_test::addCountingNoise(points, seed);
    int32_t found = 0;
    PeakRange *ranges = locatePeakRanges(points.data(), 201, 1, &found);
    EXPECT_EQ(found, 1);
    const PeakRange range = ranges != nullptr ? ranges[0] : PeakRange{};
    std::free(ranges);
    return range;
}

PeakRange rangeAt(std::vector<PatternPoint> &points, std::size_t index, double baseline) {
    return PeakRange{nullptr, &points[index], 0, baseline, points[index].y - baseline};
}

TEST(PseudoVoigtFit, NullAndBadArgumentsAreRefused) {
    // No peak: the range is left alone.
    std::vector<PatternPoint> points(100, PatternPoint{0.0, 1.0});
    PatternPoint marker{};
    for (PeakRange bad : {PeakRange{&marker, &points[50], 17, 1.0, 0.0}, {&marker, nullptr, 17, 0.0, 5.0},
                          {&marker, &points[50], 17, 1.0, -2.0}}) {
        EXPECT_EQ(pseudoVoigtFit(&bad), nullptr);
        EXPECT_EQ(powderkit::initialPseudoVoigtParameters(&bad), nullptr);
        EXPECT_TRUE(bad.start == &marker && bad.pointCount == 17);
    }
    EXPECT_EQ(pseudoVoigtFit(nullptr), nullptr);
    // The step refuses unusable arguments, and a singular normal matrix (a zero
    // Jacobian) with the message, leaving P unchanged.
    Matrix *column = powderkit::makeMatrix(5, 1), *wide = powderkit::makeMatrix(5, 2);
    Matrix *r = powderkit::makeMatrix(8, 1), *j = powderkit::makeMatrix(8, 5);
    double chi2 = 1.0, lambda = 1.0;
    PeakRange range{};
    using powderkit::pseudoVoigtFitStep;
    EXPECT_EQ(pseudoVoigtFitStep(wide, r, j, &range, &chi2, &lambda), 2);
    EXPECT_EQ(pseudoVoigtFitStep(column, wide, j, &range, &chi2, &lambda), 2);
    EXPECT_EQ(pseudoVoigtFitStep(column, r, nullptr, &range, &chi2, &lambda), 2);
    EXPECT_EQ(pseudoVoigtFitStep(column, r, j, &range, nullptr, &lambda), 2);
    EXPECT_EQ(pseudoVoigtFitStep(column, r, j, &range, &chi2, nullptr), 2);
    column->elements[0] = 3.0;
    int32_t status = 0;
    const auto step = [&] { status = pseudoVoigtFitStep(column, r, j, &range, &chi2, &lambda); };
    EXPECT_EQ(pk_test::captureStdout(step), "The matrix is not invertible.\n");
    EXPECT_TRUE(status == 2 && column->elements[0] == 3.0);
    for (Matrix *m : {column, wide, r, j}) freeMatrix(m);
}

TEST(PseudoVoigtFit, WindowAndStartingValuesTracedByHand) {
    // Lower points right beside the maximum, higher beyond: a window of 3 points and no fit.
    auto points = pk_test::makePattern(0.0, 0.01, 100, {}, [](double) { return 20.0; });
    points[49].y = points[51].y = 5.0;
    points[50].y = 30.0;
    PeakRange narrow = rangeAt(points, 50, 5.0);
    EXPECT_EQ(pseudoVoigtFit(&narrow), nullptr);
    EXPECT_TRUE(narrow.start == &points[49] && narrow.pointCount == 3);
    // Equal lowest values: the nearer bounds the window; points beyond 29 are not searched.
    points[49].y = points[51].y = 20.0;
    points[45].y = points[40].y = 3.0;
    points[77].y = 4.0;
    points[80].y = 1.0;
    PeakRange wider = rangeAt(points, 50, 3.0);
    pk_test::captureStdout([&] { freeMatrix(pseudoVoigtFit(&wider)); });
    EXPECT_TRUE(wider.start == &points[45] && wider.pointCount == 77 - 45 + 1);
    // A triangle y − 10 = 100 − 10·|i − 50| falls to half height 5 points out: Γ = 0.05 − (−0.05),
    // and the area gives the height 100 for η = 0.5: A = 100 / (½·2/(πΓ) + ½·2√(ln 2/π)/Γ).
    for (int i = 0; i < 100; ++i) {
        points[static_cast<std::size_t>(i)].y = 10.0 + std::fmax(0.0, 100.0 - 10.0 * std::abs(i - 50));
    }
    PeakRange triangle = rangeAt(points, 50, 10.0);
    Matrix *p = powderkit::initialPseudoVoigtParameters(&triangle);
    ASSERT_NE(p, nullptr);
    const double pi = std::acos(-1.0), fwhm = points[55].x - points[45].x;
    const double area = 100.0 / (0.5 * 2.0 / (pi * fwhm) + 0.5 * 2.0 * std::sqrt(std::log(2.0) / pi) / fwhm);
    const double expected[5] = {points[50].x, area, 10.0, 0.1, 0.5};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(p->elements[i], expected[i], 1e-9 * expected[i]) << i;
    EXPECT_NEAR(pseudoVoigt(points[50].x, p), 110.0, 1e-9);
    freeMatrix(p);
    // Too broad to fall to half height within 29 points: Γ spans the 60 intervals 30 places either side.
    for (int i = 0; i < 100; ++i) points[static_cast<std::size_t>(i)].y = 200.0 - 0.01 * (i - 50) * (i - 50);
    PeakRange broad = rangeAt(points, 50, 100.0);
    p = powderkit::initialPseudoVoigtParameters(&broad);
    ASSERT_NE(p, nullptr);
    EXPECT_NEAR(p->elements[3], points[80].x - points[20].x, 1e-12);
    freeMatrix(p);
}

// Standard errors of an unweighted least-squares fit under counting noise (variance y):
// the sandwich (JᵀJ)⁻¹·JᵀVJ·(JᵀJ)⁻¹, J by central differences of the independent peak.
Values expectedErrors(const PeakRange &range) {
    const int32_t n = range.pointCount;
    Matrix *j = powderkit::makeMatrix(n, 5), *jv = powderkit::makeMatrix(n, 5);
    Matrix *jt = powderkit::makeMatrix(5, n);
    for (int32_t i = 0; i < n; ++i) {
        for (std::size_t c = 0; c < 5; ++c) {
            Values up = kTruth, down = kTruth;
            up[c] += 1e-6 * kTruth[c];
            down[c] -= 1e-6 * kTruth[c];
            const double x = range.start[i].x;
            j->rowPointers[i][c] = (truthModel(up, x) - truthModel(down, x)) / (2e-6 * kTruth[c]);
            jv->rowPointers[i][c] = j->rowPointers[i][c] * truthModel(kTruth, x);
        }
    }
    transposeMatrixDst(jt, j);
    Matrix *normal = powderkit::multMatrices(jt, j), *middle = powderkit::multMatrices(jt, jv);
    Matrix *inverse = powderkit::makeMatrix(5, 5);
    EXPECT_TRUE(inverseMatrixDst(inverse, normal));
    Matrix *left = powderkit::multMatrices(inverse, middle);
    Matrix *covariance = powderkit::multMatrices(left, inverse);
    Values errors;
    for (std::size_t c = 0; c < 5; ++c) errors[c] = std::sqrt(covariance->elements[c * 6]);
    for (Matrix *m : {j, jv, jt, normal, middle, inverse, left, covariance}) freeMatrix(m);
    return errors;
}

TEST(PseudoVoigtFit, RecoversANoisyPeakWithinTheErrorsTheNoiseImplies) {
    std::vector<PatternPoint> points;
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {  // about 50,000 counts in the peak
        PeakRange range = locatedTruth(points, seed);
        Matrix *p = pseudoVoigtFit(&range);
        ASSERT_NE(p, nullptr) << seed;
        Values fitted;
        ASSERT_EQ(peakParametersForPseudoVoigt(p, &fitted[0], &fitted[1], &fitted[2], &fitted[3], &fitted[4]), 1)
            << seed;
        const Values sigma = expectedErrors(range);
        for (std::size_t c = 0; c < 5; ++c) EXPECT_NEAR(fitted[c], kTruth[c], 4.0 * sigma[c]) << seed << c;
        EXPECT_LT(4.0 * sigma[0], 0.001);  // the position to a tenth of the step
        freeMatrix(p);
    }
}

TEST(PseudoVoigtFit, NoiseFreePeakNeverMeetsTheConvergenceTest) {
    // χ² falls to rounding level within a few steps; every later step is rejected,
    // so the 20-step budget runs out and the fit gives null.
    std::vector<PatternPoint> points;
    PeakRange range = locatedTruth(points, 0);
    EXPECT_EQ(pseudoVoigtFit(&range), nullptr);
    EXPECT_GT(range.pointCount, 5);
}

TEST(PseudoVoigtFit, BadValuesAndAllocationFailuresDoNoHarm) {
    std::vector<PatternPoint> points;
    const PeakRange located = locatedTruth(points, 9u);
    const auto fit = [&located] {
        PeakRange range = located;
        return pseudoVoigtFit(&range);
    };
    pk_test::forEachFailedAllocation(fit, [](Matrix *p, bool failed) {
        EXPECT_EQ(p == nullptr, failed);
        freeMatrix(p);
    });
    // Not-a-number and infinite values inside the window: no fault.
    located.maximum[3].y = std::numeric_limits<double>::quiet_NaN();
    located.maximum[-4].y = std::numeric_limits<double>::infinity();
    pk_test::captureStdout([&] { freeMatrix(fit()); });
}

}  // namespace
