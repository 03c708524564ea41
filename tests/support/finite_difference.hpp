// Central finite differences for checking analytic derivatives: for a
// parameter p and a value F(p), (F(p + h) − F(p − h)) / 2h with a step h
// chosen per parameter, and a comparison at a relative tolerance that the test
// states. The truncation error of the difference is about h²/6 · F''' and its
// rounding error about ε·|F|/h, so a step near 1e-5 of the parameter's scale
// leaves roughly 1e-8 relative: tolerances of 1e-6 are usual.
#ifndef PK_TEST_FINITE_DIFFERENCE_HPP
#define PK_TEST_FINITE_DIFFERENCE_HPP

#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "powderkit.h"

namespace pk_test {

// (F(p + h) − F(p − h)) / 2h.
double centralDifference(const std::function<double(double)> &value, double p, double step);

// The same for a parameter held in a record field: the field is set to
// p ± h, `value` re-evaluates whatever depends on it, and the field gets its
// old value back before returning.
double centralDifferenceOfField(double *field, double step, const std::function<double()> &value);

// Success when |analytic − numeric| ≤ relativeTolerance · max(|numeric|, scale).
// `scale` is the size of the derivative over the case at hand, so that values
// near a zero crossing are judged against it rather than against themselves.
::testing::AssertionResult derivativeAgrees(double analytic, double numeric,
                                            double relativeTolerance, double scale = 0.0);

// Degrees to radians with full precision: a derivative per degree times
// 180/π is the derivative per radian.
constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kDegreesPerRadian = 57.29577951308232;

// A cell parameter of the crystal record with its difference step and the
// factor that turns a derivative per degree into one per radian (1 for edges).
struct CellParameterStep {
    const char *key;
    double RefinementCrystal::*field;
    double step;
    double unitFactor;
};

// The six cell parameters, edges stepped by `edgeStep` (Å) and angles by
// `angleStep` (degrees).
std::array<CellParameterStep, 6> cellParameterSteps(double edgeStep, double angleStep);

// A new triclinic crystal record (a 5.1, b 6.3, c 7.2 Å, α 81°, β 97°,
// γ 104°, scale 2.5) with its reciprocal cell and metric tensors, so that
// every cell parameter moves every d-spacing.
RefinementCrystal *makeTriclinicCrystal();

}  // namespace pk_test

#endif
