// Fit statistics of a refinement cycle, with r the residuals, w the weights,
// N observations and P parameters:
//   χ² = Σ w·r²,  goodness of fit = χ²/(N − P),
//   Rwp = 100·√(χ²/Σ w·y²),  Rp = 100·Σ|r|/Σ y,  Rexp = 100·√((N − P)/Σ w·y²),
// the residuals being percentages. Sums run in index order from 0.0. Residual
// vectors are matrices read by their vector length.
#include <cmath>

#include "frame/frame.hpp"
#include "linalg/linalg.hpp"

extern "C" {

double calculateWeightedSumSquares(const double *values, const double *weights, int32_t count) {
    if (values == nullptr || weights == nullptr || count <= 0) return 0.0;
    double sum = 0.0;
    for (int32_t i = 0; i < count; ++i) sum += (values[i] * values[i]) * weights[i];
    return sum;
}

double calculateSumValues(const double *values, int32_t count) {
    if (values == nullptr || count < 1) return 0.0;
    double sum = 0.0;
    for (int32_t i = 0; i < count; ++i) sum += values[i];
    return sum;
}

double calculateChi2(const Matrix *residuals, const double *weights) {
    if (residuals == nullptr || weights == nullptr) return 0.0;
    const int32_t length = powderkit::vectorLength(residuals);
    double sum = 0.0;
    for (int32_t i = 0; i < length; ++i) sum += std::pow(residuals->elements[i], 2.0) * weights[i];
    return sum;
}

double calculateGoodnessOfFit(double chi2, int32_t observationCount, int32_t parameterCount) {
    return chi2 / static_cast<double>(powderkit::subtractInt32(observationCount, parameterCount));
}

double calculateWeightedProfileResidual(double chi2, double weightedObservedSquares) {
    return 100.0 * std::sqrt(chi2 / weightedObservedSquares);
}

double calculateProfileResidual(const Matrix *residuals, double observedSum) {
    if (residuals == nullptr) return 0.0;
    const int32_t length = powderkit::vectorLength(residuals);
    double sum = 0.0;
    for (int32_t i = 0; i < length; ++i) sum += std::fabs(residuals->elements[i]);
    return 100.0 * sum / observedSum;
}

double calculateExpectedProfileResidual(int32_t observationCount, int32_t parameterCount,
                                        double weightedObservedSquares) {
    const double freedom =
        static_cast<double>(powderkit::subtractInt32(observationCount, parameterCount));
    return 100.0 * std::sqrt(freedom / weightedObservedSquares);
}

}  // extern "C"
