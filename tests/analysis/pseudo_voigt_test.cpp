// The single-peak pseudo-Voigt: the model's values against an independently
// written peak and its five derivatives through the finite-difference
// harness; the parameter read-out; the window and starting values traced by
// hand; one damped step traced by hand (accepted, rejected, converged); the
// recovery of a known peak from counting noise, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "analysis/analysis.hpp"
#include "linalg/linalg.hpp"
#include "support/finite_difference.hpp"
#include "support/output_capture.hpp"
#include "synthetic_pattern.hpp"

namespace {

using Values = std::array<double, 5>;  // x0, A, B, Γ, η

Matrix *parametersOf(const Values &values) {
    Matrix *p = powderkit::makeMatrix(5, 1);
    std::copy(values.begin(), values.end(), p->elements);
    return p;
}
double truthModel(const Values &v, double x) { return pk_test::peakValue({v[0], v[1], v[3], v[4]}, x) + v[2]; }

TEST(PseudoVoigtModel, ValuesDerivativesAndReadOut) {
    // η = 0 and 1 give the pure shapes.
    for (const Values &truth : std::vector<Values>{{40.0, 12.0, 7.5, 0.12, 0.0}, {40.0, 12.0, 7.5, 0.12, 1.0},
                                                  {25.0, 3.0, 40.0, 0.1, 0.35}, {60.2, 150.0, 2.0, 0.45, 0.8}}) {
        Matrix *p = parametersOf(truth);
        std::vector<pk_test::DerivativeRow> rows;
        for (const double offset : {0.0, 0.021, -0.043, 0.11, -0.3, 4.0}) {
            const double x = truth[0] + offset * truth[3] * 10.0;
            EXPECT_NEAR(pseudoVoigt(x, p), truthModel(truth, x), pk_test::kRoundOff * truthModel(truth, x)) << truth[4] << " " << x;
            for (int32_t c = 0; c < 5; ++c) {
                rows.push_back({std::to_string(c), [=] { return powderkit::pseudoVoigtDerivatives[c](x, p); }, &p->elements[c],
                                1e-6 * (std::fabs(truth[c]) + 1e-3), [=] { return pseudoVoigt(x, p); }});
            }
        }
        pk_test::expectDerivatives(rows);
        freeMatrix(p);
    }
    EXPECT_EQ(powderkit::pseudoVoigtDerivatives[5], nullptr);
    // The read-out needs a 5 × 1 matrix and every output; the value five entries.
    Matrix *p = parametersOf({1, 2, 3, 4, 5}), *four = powderkit::makeMatrix(4, 1), *wide = powderkit::makeMatrix(5, 2);
    Values out = {-1, -1, -1, -1, -1};
    for (const Matrix *bad : {four, wide, static_cast<Matrix *>(nullptr)}) {
        EXPECT_EQ(peakParametersForPseudoVoigt(bad, &out[0], &out[1], &out[2], &out[3], &out[4]), 0);
    }
    EXPECT_EQ(peakParametersForPseudoVoigt(p, &out[0], &out[1], nullptr, &out[3], &out[4]), 0);
    EXPECT_EQ(out, (Values{-1, -1, -1, -1, -1}));
    EXPECT_EQ(peakParametersForPseudoVoigt(p, &out[0], &out[1], &out[2], &out[3], &out[4]), 1);
    EXPECT_EQ(out, (Values{1, 2, 3, 4, 5}));
    EXPECT_TRUE(pseudoVoigt(1.0, nullptr) == 0.0 && pseudoVoigt(1.0, four) == 0.0 && pseudoVoigt(1.0, wide) != 0.0);
    for (Matrix *m : {p, four, wide}) freeMatrix(m);
}

PeakRange rangeAt(std::vector<PatternPoint> &points, std::size_t index, double baseline) {
    return PeakRange{nullptr, &points[index], 0, baseline, points[index].y - baseline};
}

TEST(PseudoVoigtFit, WindowStartingValuesAndOneStepByHand) {
    // Lower points right beside the maximum, higher beyond: a window of 3 points and no fit.
    auto points = pk_test::makePattern(0.0, 0.01, 100, {}, [](double) { return 20.0; });
    points[49].y = points[51].y = 5.0, points[50].y = 30.0;
    PeakRange narrow = rangeAt(points, 50, 5.0);
    EXPECT_TRUE(pseudoVoigtFit(&narrow) == nullptr && narrow.start == &points[49] && narrow.pointCount == 3);
    // Equal lowest values: the nearer bounds the window; points beyond 29 are not searched.
    points[49].y = points[51].y = 20.0, points[45].y = points[40].y = 3.0, points[77].y = 4.0, points[80].y = 1.0;
    PeakRange wider = rangeAt(points, 50, 3.0);
    pk_test::captureStdout([&] { freeMatrix(pseudoVoigtFit(&wider)); });
    EXPECT_TRUE(wider.start == &points[45] && wider.pointCount == 77 - 45 + 1);
    // A triangle y − 10 = 100 − 10·|i − 50| falls to half height 5 points out: Γ = 0.1, and
    // the height 100 for η = 0.5 gives A = 100 / (½·2/(πΓ) + ½·2√(ln 2/π)/Γ).
    for (int i = 0; i < 100; ++i) points[static_cast<std::size_t>(i)].y = 10.0 + std::fmax(0.0, 100.0 - 10.0 * std::abs(i - 50));
    PeakRange triangle = rangeAt(points, 50, 10.0);
    Matrix *p = powderkit::initialPseudoVoigtParameters(&triangle);
    const double fwhm = points[55].x - points[45].x, area = 100.0 / (1.0 / (M_PI * fwhm) + std::sqrt(std::log(2.0) / M_PI) / fwhm);
    const Values start = {points[50].x, area, 10.0, fwhm, 0.5};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(p->elements[i], start[i], pk_test::kRoundOff * start[i]) << i;
    freeMatrix(p);
    // Too broad to fall to half height within 29 points: Γ spans the 60 intervals 30 places either side.
    std::vector<PatternPoint> broad = pk_test::makePattern(0.0, 0.01, 100, {}, [](double x) { return 200.0 - 100.0 * (x - 0.5) * (x - 0.5); });
    PeakRange top = rangeAt(broad, 50, 100.0);
    p = powderkit::initialPseudoVoigtParameters(&top);
    EXPECT_NEAR(p->elements[3], broad[80].x - broad[20].x, pk_test::kRoundOff);
    freeMatrix(p);
    // One step with J the first five unit columns: JᵀJ(1 + λ) = 2I for λ = 1, so the shift
    // is r₀…₄ / 2; then r = y − model at the new values. Against a larger χ² the step is
    // taken, λ divided by 3, and converged when χ² moved by less than 1e-7 of itself;
    // against a smaller one it is undone and λ doubled.
    triangle.start = &points[46], triangle.pointCount = 8;
    Matrix *j = powderkit::makeMatrix(8, 5);
    for (int32_t c = 0; c < 5; ++c) j->rowPointers[c][c] = 1.0;
    const double rStart[8] = {0.002, 30.0, -4.0, 0.004, -0.1, 1.0, 2.0, 3.0};
    const Values moved = {start[0] + 0.001, start[1] + 15.0, 8.0, fwhm + 0.002, 0.45};
    double updated = 0.0;
    for (int i = 0; i < 8; ++i) updated += std::pow(points[46 + static_cast<std::size_t>(i)].y - truthModel(moved, points[46 + static_cast<std::size_t>(i)].x), 2);
    for (const double previous : {1e30, updated * (1 + 5e-8), updated * (1 + 2e-7), updated * 0.999}) {
        p = parametersOf(start);
        Matrix *r = powderkit::makeMatrix(8, 1);
        std::copy(rStart, rStart + 8, r->elements);
        double chi2 = previous, lambda = 1.0;
        const int32_t status = powderkit::pseudoVoigtFitStep(p, r, j, &triangle, &chi2, &lambda);
        const bool taken = previous > updated;
        EXPECT_EQ(status, previous == updated * (1 + 5e-8) ? 0 : 1) << previous;
        EXPECT_EQ(lambda, taken ? 1.0 / 3.0 : 2.0);
        EXPECT_NEAR(chi2, taken ? updated : previous, pk_test::kRoundOff * previous);
        for (int i = 0; i < 5; ++i) EXPECT_NEAR(p->elements[i], (taken ? moved : start)[i], pk_test::kRoundOff * start[i]) << i;
        EXPECT_NEAR(r->elements[7], taken ? points[53].y - truthModel(moved, points[53].x) : 3.0, pk_test::kRoundOff * 100.0);
        for (Matrix *m : {p, r}) freeMatrix(m);
    }
    freeMatrix(j);
}

// The peak located on the truth from 34° to 36°, x0 between two steps, with counting noise unless the seed is 0.
const Values kTruth = {35.0037, 500.0, 100.0, 0.08, 0.4};
PeakRange locatedTruth(std::vector<PatternPoint> &points, unsigned seed) {
    points = pk_test::makePattern(34.0, 0.01, 201, {}, [](double x) { return truthModel(kTruth, x); });
    if (seed != 0) pk_test::addCountingNoise(points, seed);
    int32_t found = 0;
    PeakRange *ranges = locatePeakRanges(points.data(), 201, 1, &found);
    const PeakRange range = found == 1 ? ranges[0] : PeakRange{};
    std::free(ranges);
    return range;
}

TEST(PseudoVoigtFit, RecoversANoisyPeakAndRefusesWhatItCannotFit) {
    // About 50,000 counts in the peak. The errors counting noise implies for an unweighted
    // fit, σ = (2.2e-4, 5.3, 6.2, 6.6e-4, 0.029), come from (JᵀJ)⁻¹JᵀVJ(JᵀJ)⁻¹ with V = diag(y)
    // and J by central differences of the peak written here; every fit lands within 4σ.
    const Values sigma = {2.2e-4, 5.3, 6.2, 6.6e-4, 0.029};
    std::vector<PatternPoint> points;
    for (const unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
        PeakRange range = locatedTruth(points, seed);
        Matrix *p = pseudoVoigtFit(&range);
        ASSERT_NE(p, nullptr) << seed;
        for (std::size_t c = 0; c < 5; ++c) EXPECT_NEAR(p->elements[c], kTruth[c], 4.0 * sigma[c]) << seed << " " << c;
        freeMatrix(p);
    }
    // Noise-free, χ² falls to rounding level within a few steps; every later step is
    // rejected, so the 20-step budget runs out and the fit gives null.
    PeakRange exact = locatedTruth(points, 0);
    EXPECT_TRUE(pseudoVoigtFit(&exact) == nullptr && exact.pointCount > 5);
    // No peak (height not positive, no maximum, not a number): the range left alone.
    PatternPoint marker{};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (PeakRange bad : {PeakRange{&marker, &points[50], 17, 1.0, 0.0}, {&marker, nullptr, 17, 0.0, 5.0},
                          {&marker, &points[50], 17, 1.0, -2.0}, {&marker, &points[50], 17, nan, nan}}) {
        EXPECT_TRUE(pseudoVoigtFit(&bad) == nullptr && powderkit::initialPseudoVoigtParameters(&bad) == nullptr);
        EXPECT_TRUE(bad.start == &marker && bad.pointCount == 17);
    }
    EXPECT_EQ(pseudoVoigtFit(nullptr), nullptr);
    // The step refuses unusable shapes, and a singular normal matrix (a zero Jacobian)
    // with the message, leaving P unchanged.
    Matrix *column = powderkit::makeMatrix(5, 1), *wide = powderkit::makeMatrix(5, 2), *r = powderkit::makeMatrix(8, 1), *j = powderkit::makeMatrix(8, 5);
    double chi2 = 1.0, lambda = 1.0;
    PeakRange range{};
    using powderkit::pseudoVoigtFitStep;
    EXPECT_TRUE(pseudoVoigtFitStep(wide, r, j, &range, &chi2, &lambda) == 2 && pseudoVoigtFitStep(column, wide, j, &range, &chi2, &lambda) == 2);
    EXPECT_TRUE(pseudoVoigtFitStep(column, r, nullptr, &range, &chi2, &lambda) == 2 && pseudoVoigtFitStep(column, r, j, &range, nullptr, &lambda) == 2);
    EXPECT_EQ(pseudoVoigtFitStep(column, r, j, &range, &chi2, nullptr), 2);
    column->elements[0] = 3.0;
    int32_t status = 0;
    EXPECT_EQ(pk_test::captureStdout([&] { status = pseudoVoigtFitStep(column, r, j, &range, &chi2, &lambda); }), "The matrix is not invertible.\n");
    EXPECT_TRUE(status == 2 && column->elements[0] == 3.0);
    // Not-a-number and infinite values inside the window: no fault.
    PeakRange spoiled = locatedTruth(points, 9u);
    spoiled.maximum[3].y = nan, spoiled.maximum[-4].y = std::numeric_limits<double>::infinity();
    pk_test::captureStdout([&] { freeMatrix(pseudoVoigtFit(&spoiled)); });
    for (Matrix *m : {column, wide, r, j}) freeMatrix(m);
}

}  // namespace
