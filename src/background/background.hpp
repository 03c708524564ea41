// Internal interface of the Chebyshev background: the table of the thirteen
// polynomials and the fixed-index coefficient derivatives that the background
// derivative table files under "B0" … "B12".
#ifndef POWDERKIT_BACKGROUND_HPP
#define POWDERKIT_BACKGROUND_HPP

#include "powderkit.h"

namespace powderkit {

// T_i(u) from the powers u⁰ … u¹² of one reduced position.
using ChebyshevPolynomial = double (*)(const double *powers);
extern const ChebyshevPolynomial chebyshevPolynomials[PK_BACKGROUND_COEFFICIENTS];

// The reduced position u = 2(x − xMin)/(xMax − xMin) − 1 and its powers.
void fillBackgroundPowers(double x, double xMin, double xMax,
                          double powers[PK_BACKGROUND_COEFFICIENTS]);

// ∂background/∂B_i at x for a pattern running xMin … xMax, for a fixed i.
double DiffBackgroundIntensityWrtB0(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB1(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB2(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB3(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB4(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB5(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB6(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB7(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB8(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB9(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB10(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB11(double x, double xMin, double xMax);
double DiffBackgroundIntensityWrtB12(double x, double xMin, double xMax);

}  // namespace powderkit

#endif
