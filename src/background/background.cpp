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

double DiffBackgroundIntensityWrtB0(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(0, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB1(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(1, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB2(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(2, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB3(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(3, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB4(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(4, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB5(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(5, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB6(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(6, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB7(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(7, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB8(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(8, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB9(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(9, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB10(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(10, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB11(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(11, x, xMin, xMax);
}
double DiffBackgroundIntensityWrtB12(double x, double xMin, double xMax) {
    return DiffBackgroundIntensityWrtBi(12, x, xMin, xMax);
}

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
