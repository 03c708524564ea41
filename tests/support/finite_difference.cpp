#include "support/finite_difference.hpp"

#include <algorithm>
#include <cmath>
#include <map>

namespace pk_test {

double centralDifference(const std::function<double(double)> &value, double p, double step) {
    const double up = value(p + step), down = value(p - step);
    return (up - down) / ((p + step) - (p - step));  // the step taken, after rounding
}

double centralDifferenceOfField(double *field, double step, const std::function<double()> &value) {
    const double saved = *field;
    const double difference = centralDifference([&](double p) { return *field = p, value(); }, saved, step);
    *field = saved;
    value();
    return difference;
}

void expectDerivatives(const std::vector<DerivativeRow> &rows) {
    std::vector<double> expected;
    std::map<std::string, double> scale;
    for (const DerivativeRow &row : rows) {
        const double difference = centralDifferenceOfField(row.field, row.step, row.value);
        expected.push_back(row.rule ? row.rule(difference) : difference);
        scale[row.key] = std::max(scale[row.key], std::fabs(expected.back()));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double analytic = rows[i].analytic(), s = scale[rows[i].key] > 0.0 ? scale[rows[i].key] : 1e-3;
        EXPECT_LE(std::fabs(analytic - expected[i]), rows[i].tolerance * std::max(std::fabs(expected[i]), s))
            << rows[i].key << " row " << i << ": analytic " << analytic << ", expected " << expected[i];
    }
}

void refreshCell(RefinementCrystal *crystal) {
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
}

RefinementCrystal *makeTriclinicCrystal() {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    std::tie(crystal->a, crystal->b, crystal->c, crystal->scale) = std::make_tuple(5.1, 6.3, 7.2, 2.5);
    std::tie(crystal->alpha, crystal->beta, crystal->gamma) = std::make_tuple(81.0, 97.0, 104.0);
    refreshCell(crystal);
    return crystal;
}

}  // namespace pk_test
