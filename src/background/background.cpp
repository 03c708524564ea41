// The pattern background as a Chebyshev series of the first kind with 13
// terms, Σ B_i T_i(u), over the reduced position u = 2(x − xMin)/(xMax − xMin)
// − 1 that maps the pattern's range onto [−1, 1]; its derivative by one
// coefficient, and the copy of a profile's coefficients.
#include <cstring>

#include "background/background.hpp"
#include "profiles/profiles.hpp"

namespace powderkit {

void fillBackgroundPowers(double x, double xMin, double xMax,
                          double powers[PK_BACKGROUND_COEFFICIENTS]) {
    // Positions outside the range are not clamped: |u| > 1 there.
    const double u = (x - xMin + (x - xMin)) / (xMax - xMin) - 1.0;
    powers[0] = 1.0;
    powers[1] = u;
    for (int k = 2; k < PK_BACKGROUND_COEFFICIENTS; ++k) powers[k] = powers[k - 1] * u;
}

// DiffBackgroundIntensityWrtB0 … DiffBackgroundIntensityWrtB12: the
// derivative by coefficient i, one named function for each.
#define PK_BACKGROUND_DERIVATIVE(i)                                              \
    double DiffBackgroundIntensityWrtB##i(double x, double xMin, double xMax) { \
        return DiffBackgroundIntensityWrtBi(i, x, xMin, xMax);                  \
    }
PK_BACKGROUND_DERIVATIVE(0)
PK_BACKGROUND_DERIVATIVE(1)
PK_BACKGROUND_DERIVATIVE(2)
PK_BACKGROUND_DERIVATIVE(3)
PK_BACKGROUND_DERIVATIVE(4)
PK_BACKGROUND_DERIVATIVE(5)
PK_BACKGROUND_DERIVATIVE(6)
PK_BACKGROUND_DERIVATIVE(7)
PK_BACKGROUND_DERIVATIVE(8)
PK_BACKGROUND_DERIVATIVE(9)
PK_BACKGROUND_DERIVATIVE(10)
PK_BACKGROUND_DERIVATIVE(11)
PK_BACKGROUND_DERIVATIVE(12)
#undef PK_BACKGROUND_DERIVATIVE

}  // namespace powderkit

extern "C" {

// The background at x: all 13 terms, summed in index order.
double BackgroundIntensity(const double *coefficients, double x, double xMin, double xMax) {
    double powers[PK_BACKGROUND_COEFFICIENTS];
    powderkit::fillBackgroundPowers(x, xMin, xMax, powers);
    double sum = 0.0;
    for (int i = 0; i < PK_BACKGROUND_COEFFICIENTS; ++i) {
        sum = sum + powderkit::chebyshevPolynomials[i](powers) * coefficients[i];
    }
    return sum;
}

// The range is the pattern's first and last position, in that order, so a
// descending pattern maps its first point to u = −1 all the same.
void CalculateBackgroundIntensity(double *background, const double *coefficients,
                                  const double *x, int32_t count) {
    if (count <= 0) return;
    const double xMin = x[0];
    const double xMax = x[count - 1];
    for (int32_t j = 0; j < count; ++j) {
        background[j] = BackgroundIntensity(coefficients, x[j], xMin, xMax);
    }
}

// T_i(u), independent of the coefficients; 0 for i outside 0 … 12.
double DiffBackgroundIntensityWrtBi(int32_t i, double x, double xMin, double xMax) {
    if (static_cast<uint32_t>(i) > 12u) return 0.0;
    double powers[PK_BACKGROUND_COEFFICIENTS];
    powderkit::fillBackgroundPowers(x, xMin, xMax, powers);
    return powderkit::chebyshevPolynomials[i](powers);
}

// Slot 1 of the profile method table; a null buffer does nothing.
void copyChebyschevPolynomialParametersToBuffer(const RefinementProfile *profile,
                                                double *buffer) {
    if (buffer == nullptr) return;
    std::memcpy(buffer, profile->backgroundCoefficients,
                sizeof(double) * PK_BACKGROUND_COEFFICIENTS);
}

}  // extern "C"
