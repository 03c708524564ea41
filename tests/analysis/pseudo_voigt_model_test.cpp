// The pseudo-Voigt model of the single-peak fit: values against an
// independently written peak, the five derivatives against central finite
// differences, and the parameter read-out.
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/analysis.hpp"
#include "linalg/linalg.hpp"
#include "synthetic_pattern.hpp"

namespace {

Matrix *parametersOf(const double (&values)[5]) {
    Matrix *p = powderkit::makeMatrix(5, 1);
    for (int32_t i = 0; i < 5; ++i) p->rowPointers[i][0] = values[i];
    return p;
}

TEST(PseudoVoigtModel, ValuesAndDerivativesAgainstAnIndependentPeak) {
    // (x0, A, B, Γ, η); η = 0 and 1 give the pure shapes.
    const double cases[][5] = {{40.0, 12.0, 7.5, 0.12, 0.0}, {40.0, 12.0, 7.5, 0.12, 1.0},
                               {25.0, 3.0, 40.0, 0.1, 0.35}, {60.2, 150.0, 2.0, 0.45, 0.8}};
    for (const auto &truth : cases) {
        Matrix *p = parametersOf(truth);
        for (double offset : {0.0, 0.021, -0.043, 0.11, -0.3, 4.0}) {
            const double x = truth[0] + offset * truth[3] * 10.0;
            const double expected = pk_test::peakValue({truth[0], truth[1], truth[3], truth[4]}, x) + truth[2];
            EXPECT_NEAR(pseudoVoigt(x, p), expected, 1e-12 * expected) << truth[4] << " " << x;
            for (int32_t parameter = 0; parameter < 5; ++parameter) {
                const double h = 1e-6 * (std::fabs(truth[parameter]) + 1e-3);
                p->rowPointers[parameter][0] = truth[parameter] + h;
                const double up = pseudoVoigt(x, p);
                p->rowPointers[parameter][0] = truth[parameter] - h;
                const double numeric = (up - pseudoVoigt(x, p)) / (2.0 * h);
                p->rowPointers[parameter][0] = truth[parameter];
                EXPECT_NEAR(powderkit::pseudoVoigtDerivatives[parameter](x, p), numeric,
                            1e-6 * (std::fabs(numeric) + 1.0))
                    << "parameter " << parameter << " at x = " << x;
            }
        }
        freeMatrix(p);
    }
    EXPECT_EQ(powderkit::pseudoVoigtDerivatives[5], nullptr);
}

TEST(PseudoVoigtModel, ParameterReadOutNeedsAFiveByOneMatrixAndEveryOutput) {
    Matrix *p = parametersOf({1, 2, 3, 4, 5});
    Matrix *four = powderkit::makeMatrix(4, 1), *wide = powderkit::makeMatrix(5, 2);
    double out[5] = {-1, -1, -1, -1, -1};
    for (const Matrix *bad : {four, wide, static_cast<Matrix *>(nullptr)}) {
        EXPECT_EQ(peakParametersForPseudoVoigt(bad, &out[0], &out[1], &out[2], &out[3], &out[4]), 0);
    }
    EXPECT_EQ(peakParametersForPseudoVoigt(p, &out[0], &out[1], nullptr, &out[3], &out[4]), 0);
    for (double value : out) EXPECT_EQ(value, -1.0);
    EXPECT_EQ(peakParametersForPseudoVoigt(p, &out[0], &out[1], &out[2], &out[3], &out[4]), 1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], i + 1.0);
    EXPECT_EQ(pseudoVoigt(1.0, nullptr), 0.0);
    EXPECT_EQ(pseudoVoigt(1.0, four), 0.0);  // fewer than five values
    for (Matrix *m : {p, four, wide}) freeMatrix(m);
}

}  // namespace
