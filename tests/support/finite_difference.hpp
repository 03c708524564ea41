// The finite-difference harness behind every derivative test: a table of
// rows, each an analytic derivative and the parameter it is taken by, with
// the difference step, the value that depends on the parameter and,
// where the library documents a rule other than the exact derivative, that
// rule applied to the difference. The central difference (F(p + h) −
// F(p − h)) / 2h has truncation error h²F'''/6 and rounding error ε|F|/h, so
// steps near 1e-5 of the parameter's scale leave about 1e-8 relative.
#ifndef PK_TEST_FINITE_DIFFERENCE_HPP
#define PK_TEST_FINITE_DIFFERENCE_HPP

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "powderkit.h"
#include "support/tolerances.hpp"

namespace pk_test {

// (F(p + h) − F(p − h)) / 2h.
double centralDifference(const std::function<double(double)> &value, double p, double step);

// The same with the parameter held in a record field: the field is set to
// p ± h, `value` re-evaluates whatever depends on it, and the field and its
// dependants get their old values back.
double centralDifferenceOfField(double *field, double step, const std::function<double()> &value);

// One row of a derivative table. `rule` turns the difference into the
// expected value (the identity for an exact derivative).
struct DerivativeRow {
    std::string key;
    std::function<double()> analytic;
    double *field;
    double step;
    std::function<double()> value;
    std::function<double(double)> rule = nullptr;
    double tolerance = kFiniteDifference;
};

// Checks every row: |analytic − expected| ≤ tolerance × max(|expected|, S),
// where S is the largest |expected| of the rows with the same key, so that
// values near a zero crossing are judged against the size of the derivative
// over the table (a key whose every expected value is 0 must give 0 within
// tolerance × 1e-3).
void expectDerivatives(const std::vector<DerivativeRow> &rows);

constexpr double kDegreesPerRadian = 57.29577951308232;

// A cell parameter of the crystal record with its difference step and the
// factor that turns a derivative per degree into one per radian (1 for edges).
struct CellParameterStep {
    const char *key;
    double RefinementCrystal::*field;
    double step;
    double unitFactor;
};
std::array<CellParameterStep, 6> cellParameterSteps(double edgeStep, double angleStep);

// A new triclinic crystal (a 5.1, b 6.3, c 7.2 Å, α 81°, β 97°, γ 104°,
// scale 2.5) with its reciprocal cell and metric tensors, so that every cell
// parameter moves every d-spacing.
RefinementCrystal *makeTriclinicCrystal();
void refreshCell(RefinementCrystal *crystal);

}  // namespace pk_test

#endif
