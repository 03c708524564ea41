// Raw-pattern analysis on synthetic patterns: background, peak location and one fit step traced by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "analysis/analysis.hpp"
#include "linalg/linalg.hpp"
#include "support/finite_difference.hpp"
#include "support/output_capture.hpp"

namespace {

using Values = std::array<double, 5>;  // x0, A, B, Γ, η
using pk_test::kRoundOff;

double truthModel(const Values &v, double x) {
    const double delta = x - v[0], sigma = v[3] / (2.0 * std::sqrt(2.0 * std::log(2.0))), gamma = v[3] / 2.0;
    const double gaussian = std::exp(-delta * delta / (2.0 * sigma * sigma)) / (sigma * std::sqrt(2.0 * M_PI));
    const double lorentzian = gamma / (M_PI * (delta * delta + gamma * gamma));
    return v[1] * (v[4] * lorentzian + (1.0 - v[4]) * gaussian) + v[2];
}

std::vector<PatternPoint> makePattern(double first, double step, int count, const std::function<double(double)> &f) {
    std::vector<PatternPoint> points(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < points.size(); ++i) points[i] = {first + step * double(i), f(first + step * double(i))};
    return points;
}

TEST(BackgroundEstimation, FiltersAndTheSplineByHand) {
    // Nine-point Savitzky–Golay moments of 1, k, k², k³: smoothing 1, 0, 0, 0; first derivative 0, 1, 0, 0.
    for (int m = 0; m < 4; ++m) {
        double smooth = 0.0, slope = 0.0;
        for (int k = 0; k < 9; ++k) {
            smooth += powderkit::smoothingCoefficients.coefficients[k] * std::pow(k - 4, m);
            slope += powderkit::firstDerivativeCoefficients.coefficients[k] * std::pow(k - 4, m);
        }
        EXPECT_EQ(smooth / powderkit::smoothingCoefficients.normaliser, m == 0 ? 1.0 : 0.0) << m;
        EXPECT_EQ(slope / powderkit::firstDerivativeCoefficients.normaliser, m == 1 ? 1.0 : 0.0) << m;
    }
    const PatternPoint knots[4] = {{0, 0}, {1, 1}, {2, 0}, {3, 1}};
    powderkit::SplineSegment s[4];  // by hand: c = (0, −2, 2, 0), b = (5/3, −1/3, −1/3), d = (−2/3, 4/3, −2/3)
    ASSERT_TRUE(powderkit::naturalCubicSpline(knots, 4, s) && !powderkit::naturalCubicSpline(knots, 1, s));
    const double third = 1.0 / 3.0, expected[3][5] = {{0, 5 * third, 0, -2 * third, 0}, {1, -third, -2, 4 * third, 1},
                                                      {0, -third, 2, -2 * third, 2}};
    for (int j = 0; j < 3; ++j) {
        const double got[5] = {s[j].a, s[j].b, s[j].c, s[j].d, s[j].x0};
        for (int k = 0; k < 5; ++k) EXPECT_NEAR(got[k], expected[j][k], pk_test::kExact) << j << " " << k;
    }
}

TEST(BackgroundEstimation, PicksFlatPointsSplinesThemAndRefusesPatterns) {
    // A line under a peak at 350: lowest of 11 smoothed points (x + 4) picked, rising 14, 25, …, falling 24, 45, ….
    for (const double slope : {0.01, -0.01}) {
        auto points = makePattern(0.0, 1.0, 400, [slope](double x) {
            return 100.0 + slope * x + truthModel({350.0, 2000.0, 0, 2.0, 0.0}, x);
        });
        int32_t count = 0;
        PatternPoint *picked = powderkit::selectBackgroundPoints(points.data(), 400, &count);
        ASSERT_TRUE(picked != nullptr && count > 10 && count < 40) << count;
        EXPECT_TRUE(picked[0].x == 0.0 && picked[count - 1].x == 399.0);
        EXPECT_NEAR(picked[0].y, 100.0 + slope * 4.0, kRoundOff * 100);
        for (int32_t k = 1; k <= 3; ++k) {
            const double x = slope > 0 ? 3.0 + 11.0 * k : 3.0 + 21.0 * k;
            EXPECT_EQ(picked[k].x, x) << slope << " " << k;
            EXPECT_NEAR(picked[k].y, 100.0 + slope * x, kRoundOff * 100) << k;
        }
        std::vector<powderkit::SplineSegment> s(static_cast<std::size_t>(count));
        PatternPoint *background = fittedBackground(points.data(), 400);  // the spline through the picks
        ASSERT_TRUE(background && powderkit::naturalCubicSpline(picked, count, s.data()));
        for (std::size_t i = 0, j = 0; i < 400; ++i) {
            while (j + 2 < static_cast<std::size_t>(count) && points[i].x >= s[j + 1].x0) ++j;
            const double t = points[i].x - s[j].x0, spline = s[j].a + t * (s[j].b + t * (s[j].c + t * s[j].d));
            EXPECT_TRUE(background[i].x == points[i].x && pk_test::closeTo(background[i].y, spline, kRoundOff)) << i;
        }
        std::free(picked);
        std::free(background);
    }
    auto points = makePattern(0.0, 0.1, 200, [](double x) { return 150 + x * x + truthModel({10, 20, 0, 0.3, 0}, x); });
    PatternPoint *background = fittedBackground(points.data(), 200);  // accepted: stretches of 5
    EXPECT_TRUE(background != nullptr && fittedBackground(points.data(), 199) == nullptr);  // stretches below 5
    const double nan = std::nan("");  // refused: x all equal or not numbers; flat (no slope under a tenth of max)
    const std::vector<std::vector<PatternPoint>> bad = {makePattern(1.0, 0.0, 400, [](double x) { return x * x; }),
                                                        makePattern(0.0, 0.1, 400, [](double) { return 12.0; }),
                                                        std::vector<PatternPoint>(400, PatternPoint{nan, nan})};
    for (const auto &pattern : bad) EXPECT_EQ(fittedBackground(pattern.data(), 400), nullptr) << &pattern - &bad[0];
    std::free(background);
}

std::vector<std::array<double, 3>> locate(std::vector<PatternPoint> &points, int32_t maxPeaks) {
    int32_t count = -7;  // {index of the maximum, height, baseline} of each range found, in order
    PeakRange *ranges = locatePeakRanges(points.data(), static_cast<int32_t>(points.size()), maxPeaks, &count);
    std::vector<std::array<double, 3>> found;
    for (int32_t k = 0; k < count; ++k)
        found.push_back({static_cast<double>(ranges[k].maximum - points.data()), ranges[k].height, ranges[k].baseline});
    std::free(ranges);
    return found;
}

// Of 100 points 30 … 69 are scanned (50 confirmed at 61, 59 would need 70); a dip before confirmation: the baseline.
TEST(PeakLocation, HandTracedRulesAndRefusals) {
    using Bump = std::array<int, 3>;  // first index, last index, height above the flat 10
    using Found = std::vector<std::array<double, 3>>;
    const struct { int count; std::vector<Bump> bumps; int32_t maxPeaks; Found found; } cases[] = {
        {100, {{50, 50, 40}}, 3, {{50, 40, 10}}}, {100, {{59, 59, 40}}, 3, {}}, {100, {{29, 29, 40}}, 3, {}},
        {120, {{40, 40, 40}, {45, 45, -2}}, 3, {{40, 42, 8}}},
        {120, {{45, 70, 50}}, 5, {{45, 50, 10}}},  // plateau: 45 recorded, rescan from 57, 69 confirmed, unrecorded
        {160, {{40, 40, 30}, {60, 60, 50}, {80, 80, 20}, {100, 100, 40}, {120, 120, 99}}, 2,
         {{60, 50, 10}, {100, 40, 10}}},  // a full block keeps the highest; 120 not confirmed before 129
        {160, {{40, 40, 30}, {60, 60, 30}}, 1, {{40, 30, 10}}},  // ties: only a higher one replaces, the first lowest
        {160, {{40, 40, 30}, {60, 60, 30}, {80, 80, 50}}, 2, {{60, 30, 10}, {80, 50, 10}}}};
    for (const auto &c : cases) {
        auto points = makePattern(0.0, 0.1, c.count, [](double) { return 10.0; });
        for (const Bump &b : c.bumps)
            for (int i = b[0]; i <= b[1]; ++i) points[static_cast<std::size_t>(i)].y = 10.0 + b[2];
        EXPECT_EQ(locate(points, c.maxPeaks), c.found) << c.count << " points, " << c.maxPeaks;
    }
    auto rising = makePattern(0.0, 1.0, 200, [](double x) { return 5.0 + x; });  // nothing; too few points: refused
    int32_t count = -7;
    EXPECT_TRUE(locate(rising, 4).empty() && !locatePeakRanges(rising.data(), 99, 3, &count));
    EXPECT_TRUE(!locatePeakRanges(rising.data(), 100, 0, &count) && count == -7);
}

Matrix *parametersOf(const Values &values) {
    Matrix *p = powderkit::makeMatrix(5, 1);
    std::copy(values.begin(), values.end(), p->elements);
    return p;
}

TEST(PseudoVoigtModel, ValuesDerivativesAndReadOut) {
    const std::vector<Values> truths = {{40, 12, 7.5, 0.12, 0}, {40, 12, 7, 0.1, 1}, {60, 150, 2, 0.45, 0.8}};
    for (const Values &truth : truths) {
        Matrix *p = parametersOf(truth);
        std::vector<pk_test::DerivativeRow> rows;
        for (const double offset : {0.0, 0.021, -0.043, 0.11, -0.3, 4.0}) {
            const double x = truth[0] + offset * truth[3] * 10.0;
            EXPECT_TRUE(pk_test::closeTo(pseudoVoigt(x, p), truthModel(truth, x), kRoundOff)) << x;
            for (int32_t c = 0; c < 5; ++c) {
                const auto analytic = [=] { return powderkit::pseudoVoigtDerivatives[c](x, p); };
                const double step = 1e-6 * (std::fabs(truth[c]) + 1e-3);
                rows.push_back({std::to_string(c), analytic, &p->elements[c], step, [=] { return pseudoVoigt(x, p); }});
            }
        }
        pk_test::expectDerivatives(rows);
        freeMatrix(p);
    }
    Matrix *p = parametersOf({1, 2, 3, 4, 5}), *four = powderkit::makeMatrix(4, 1);
    Values o = {-1, -1, -1, -1, -1};  // read out of a 5 × 1 matrix only
    EXPECT_FALSE(peakParametersForPseudoVoigt(four, &o[0], &o[1], &o[2], &o[3], &o[4]) || o[0] != -1);
    EXPECT_TRUE(peakParametersForPseudoVoigt(p, &o[0], &o[1], &o[2], &o[3], &o[4]) && o == (Values{1, 2, 3, 4, 5}));
    EXPECT_TRUE(pseudoVoigt(1.0, four) == 0.0 && powderkit::pseudoVoigtDerivatives[5] == nullptr);
    for (Matrix *m : {p, four}) freeMatrix(m);
}

TEST(PseudoVoigtFit, WindowStartingValuesAndOneStepByHand) {
    auto points = makePattern(0.0, 0.01, 100, [](double) { return 20.0; });  // lower beside the top, higher beyond
    points[49].y = points[51].y = 5.0, points[50].y = 30.0;
    PeakRange narrow{nullptr, &points[50], 0, 5.0, 25.0};
    EXPECT_TRUE(pseudoVoigtFit(&narrow) == nullptr && narrow.start == &points[49] && narrow.pointCount == 3);  // no fit
    for (std::size_t i = 0; i < 100; ++i) points[i].y = 10.0 + std::fmax(0.0, 100.0 - 10.0 * std::abs(int(i) - 50));
    PeakRange triangle{nullptr, &points[50], 0, 10.0, 100.0};  // 100 − 10|i − 50| over 10: Γ = 0.1
    Matrix *p = powderkit::initialPseudoVoigtParameters(&triangle);
    const double fwhm = points[55].x - points[45].x;  // for η = ½, A = 100 / (1/(πΓ) + √(ln 2/π)/Γ)
    const double area = 100.0 / (1.0 / (M_PI * fwhm) + std::sqrt(std::log(2.0) / M_PI) / fwhm);
    const Values start = {points[50].x, area, 10.0, fwhm, 0.5};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(p->elements[i], start[i], kRoundOff * start[i]) << i;
    freeMatrix(p);
    std::tie(triangle.start, triangle.pointCount) =
        std::make_tuple(&points[46], 8);  // J = unit columns: shift r₀…₄/2 at λ = 1
    Matrix *j = powderkit::makeMatrix(8, 5);
    for (int32_t c = 0; c < 5; ++c) j->rowPointers[c][c] = 1.0;
    const double rStart[8] = {0.002, 30.0, -4.0, 0.004, -0.1, 1.0, 2.0, 3.0};
    const Values moved = {start[0] + 0.001, start[1] + 15.0, 8.0, fwhm + 0.002, 0.45};
    double updated = 0.0;
    for (std::size_t i = 46; i < 54; ++i) updated += std::pow(points[i].y - truthModel(moved, points[i].x), 2);
    for (const double previous : {1e30, updated * (1 + 5e-8), updated * (1 + 2e-7), updated * 0.999}) {
        p = parametersOf(start);
        Matrix *r = powderkit::makeMatrix(8, 1);
        std::copy(rStart, rStart + 8, r->elements);
        double chi2 = previous, lambda = 1.0;
        const int32_t status = powderkit::pseudoVoigtFitStep(p, r, j, &triangle, &chi2, &lambda);
        const bool taken = previous > updated;  // a larger χ² takes it (λ/3), a smaller λ·2
        EXPECT_EQ(status, previous == updated * (1 + 5e-8) ? 0 : 1) << previous;  // converged under 1e-7
        EXPECT_EQ(lambda, taken ? 1.0 / 3.0 : 2.0);
        EXPECT_NEAR(chi2, taken ? updated : previous, kRoundOff * previous);
        for (int i = 0; i < 5; ++i) EXPECT_NEAR(p->elements[i], (taken ? moved : start)[i], kRoundOff * start[i]);
        EXPECT_NEAR(r->elements[7], taken ? points[53].y - truthModel(moved, points[53].x) : 3.0, kRoundOff * 100);
        for (Matrix *m : {p, r}) freeMatrix(m);
    }
    freeMatrix(j);
}

TEST(PseudoVoigtFit, RefusesWhatItCannotFit) {
    // Noise-free, every step after χ² hits rounding is rejected: null; a ±2 ripple converges within 1e-3 of the truth.
    const Values truth = {35.0037, 500.0, 100.0, 0.08, 0.4};
    auto points = makePattern(34.0, 0.01, 201, [&](double x) { return truthModel(truth, x); });
    int32_t found = 0;
    PeakRange *ranges = locatePeakRanges(points.data(), 201, 1, &found);
    ASSERT_EQ(found, 1);
    EXPECT_TRUE(pseudoVoigtFit(ranges) == nullptr && ranges->pointCount > 5);
    for (std::size_t i = 0; i < 201; ++i) points[i].y += 2.0 * std::sin(1.7 * double(i));
    Matrix *fit = pseudoVoigtFit(ranges);
    ASSERT_NE(fit, nullptr);
    for (int c = 0; c < 5; ++c) EXPECT_NEAR(fit->elements[c], truth[c], 1e-3 * truth[c]) << c;
    freeMatrix(fit);
    std::free(ranges);
    PeakRange flat{nullptr, &points[50], 17, 1, 0};  // no height: refused, the range left alone
    EXPECT_TRUE(!pseudoVoigtFit(&flat) && !powderkit::initialPseudoVoigtParameters(&flat) && flat.pointCount == 17);
    Matrix *c = parametersOf({3, 0, 0, 0, 0}), *r = powderkit::makeMatrix(8, 1), *j = powderkit::makeMatrix(8, 5);
    double chi2 = 1.0, lambda = 1.0;  // a zero Jacobian: a singular normal matrix refused, P unchanged
    PeakRange range{};
    pk_test::captureStdout([&] { EXPECT_EQ(powderkit::pseudoVoigtFitStep(c, r, j, &range, &chi2, &lambda), 2); });
    EXPECT_EQ(c->elements[0], 3.0);
    for (Matrix *m : {c, r, j}) freeMatrix(m);
}

}  // namespace
