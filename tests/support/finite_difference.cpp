// Central finite differences and their comparison with analytic derivatives.
#include "support/finite_difference.hpp"

#include <algorithm>
#include <cmath>

namespace pk_test {

double centralDifference(const std::function<double(double)> &value, double p, double step) {
    const double up = value(p + step);
    const double down = value(p - step);
    // The step actually taken, after rounding of p ± h.
    return (up - down) / ((p + step) - (p - step));
}

double centralDifferenceOfField(double *field, double step, const std::function<double()> &value) {
    const double saved = *field;
    const double difference = centralDifference(
        [&](double p) {
            *field = p;
            return value();
        },
        saved, step);
    *field = saved;
    value();  // leave everything that depends on the field as it was
    return difference;
}

::testing::AssertionResult derivativeAgrees(double analytic, double numeric,
                                            double relativeTolerance, double scale) {
    const double bound = relativeTolerance * std::max(std::fabs(numeric), std::fabs(scale));
    const double error = std::fabs(analytic - numeric);
    if (error <= bound) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "analytic " << analytic << " vs central difference " << numeric << ": error "
           << error << " exceeds " << bound;
}

std::array<CellParameterStep, 6> cellParameterSteps(double edgeStep, double angleStep) {
    return {{{"a", &RefinementCrystal::a, edgeStep, 1.0},
             {"b", &RefinementCrystal::b, edgeStep, 1.0},
             {"c", &RefinementCrystal::c, edgeStep, 1.0},
             {"alpha", &RefinementCrystal::alpha, angleStep, kDegreesPerRadian},
             {"beta", &RefinementCrystal::beta, angleStep, kDegreesPerRadian},
             {"gamma", &RefinementCrystal::gamma, angleStep, kDegreesPerRadian}}};
}

RefinementCrystal *makeTriclinicCrystal() {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = 5.1;
    crystal->b = 6.3;
    crystal->c = 7.2;
    crystal->alpha = 81.0;
    crystal->beta = 97.0;
    crystal->gamma = 104.0;
    crystal->scale = 2.5;
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    return crystal;
}

}  // namespace pk_test
