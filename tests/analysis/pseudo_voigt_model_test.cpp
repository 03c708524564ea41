// The pseudo-Voigt model of the single-peak fit: values against an
// independently written peak, the five derivatives against central finite
// differences, and the parameter read-out.
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/analysis.hpp"
#include "refinement/matrix.hpp"
#include "synthetic_pattern.hpp"

namespace {

Matrix *parametersOf(double position, double area, double background, double fwhm, double eta) {
    Matrix *p = powderkit::makeMatrix(5, 1);
    const double values[5] = {position, area, background, fwhm, eta};
    for (int32_t i = 0; i < 5; ++i) p->rowPointers[i][0] = values[i];
    return p;
}

TEST(PseudoVoigtModel, ValuesMatchAnIndependentlyWrittenPeak) {
    for (double eta : {0.0, 0.3, 1.0}) {
        Matrix *p = parametersOf(40.0, 12.0, 7.5, 0.12, eta);
        const pk_test::Peak peak{40.0, 12.0, 0.12, eta};
        for (double x : {40.0, 40.03, 39.9, 40.5, 35.0}) {
            const double expected = pk_test::peakValue(peak, x) + 7.5;
            EXPECT_NEAR(pseudoVoigt(x, p), expected, 1e-12 * expected) << eta << " " << x;
        }
        freeMatrix(p);
    }
    // Heights at the centre by hand: L = 2/(πΓ), G = 2√(ln 2/π)/Γ.
    Matrix *p = parametersOf(0.0, 1.0, 0.0, 2.0, 0.5);
    const double pi = std::acos(-1.0);
    EXPECT_NEAR(pseudoVoigt(0.0, p), 0.5 / pi + 0.5 * std::sqrt(std::log(2.0) / pi), 1e-15);
    // FWHM: both components are at half their height at Δ = ±Γ/2.
    EXPECT_NEAR(powderkit::unitLorentzian(1.0, 2.0), powderkit::unitLorentzian(0.0, 2.0) / 2, 1e-15);
    EXPECT_NEAR(powderkit::unitGaussian(-1.0, 2.0), powderkit::unitGaussian(0.0, 2.0) / 2, 1e-15);
    freeMatrix(p);
    EXPECT_EQ(pseudoVoigt(1.0, nullptr), 0.0);
}

TEST(PseudoVoigtModel, DerivativesMatchCentralDifferences) {
    const double truths[2][5] = {{25.0, 3.0, 40.0, 0.1, 0.35}, {60.2, 150.0, 2.0, 0.45, 0.8}};
    const double offsets[5] = {0.0, 0.021, -0.043, 0.11, -0.3};
    for (const auto &truth : truths) {
        for (int32_t parameter = 0; parameter < 5; ++parameter) {
            const auto derivative = powderkit::pseudoVoigtDerivatives[parameter];
            ASSERT_NE(derivative, nullptr);
            for (double offset : offsets) {
                const double x = truth[0] + offset * truth[3] * 10.0;
                Matrix *p = parametersOf(truth[0], truth[1], truth[2], truth[3], truth[4]);
                const double h = 1e-6 * (std::fabs(truth[parameter]) + 1e-3);
                p->rowPointers[parameter][0] = truth[parameter] + h;
                const double up = pseudoVoigt(x, p);
                p->rowPointers[parameter][0] = truth[parameter] - h;
                const double down = pseudoVoigt(x, p);
                p->rowPointers[parameter][0] = truth[parameter];
                const double numeric = (up - down) / (2.0 * h);
                const double analytic = derivative(x, p);
                EXPECT_NEAR(analytic, numeric, 1e-6 * (std::fabs(numeric) + 1.0))
                    << "parameter " << parameter << " at x = " << x;
                freeMatrix(p);
            }
        }
    }
    EXPECT_EQ(powderkit::pseudoVoigtDerivatives[5], nullptr);
}

TEST(PseudoVoigtModel, ParameterReadOutNeedsAFiveByOneMatrixAndEveryOutput) {
    Matrix *p = parametersOf(1, 2, 3, 4, 5);
    double out[5] = {-1, -1, -1, -1, -1};
    EXPECT_EQ(peakParametersForPseudoVoigt(p, &out[0], &out[1], &out[2], &out[3], &out[4]), 1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], i + 1.0);
    double untouched[5] = {-1, -1, -1, -1, -1};
    Matrix *four = powderkit::makeMatrix(4, 1);
    Matrix *wide = powderkit::makeMatrix(5, 2);
    for (const Matrix *bad : {four, wide, static_cast<Matrix *>(nullptr)}) {
        EXPECT_EQ(peakParametersForPseudoVoigt(bad, &untouched[0], &untouched[1], &untouched[2],
                                               &untouched[3], &untouched[4]),
                  0);
    }
    EXPECT_EQ(peakParametersForPseudoVoigt(p, &untouched[0], &untouched[1], nullptr,
                                           &untouched[3], &untouched[4]),
              0);
    for (double value : untouched) EXPECT_EQ(value, -1.0);
    for (Matrix *m : {p, four, wide}) freeMatrix(m);
}

}  // namespace
