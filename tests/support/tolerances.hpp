// The tolerances the tests compare numbers with, each named for why two numbers may differ; a test that
// needs another size says why beside it.
#ifndef PK_TEST_TOLERANCES_HPP
#define PK_TEST_TOLERANCES_HPP

#include <algorithm>
#include <cmath>

namespace pk_test {

// The same arithmetic done twice, or a value copied or rounded exactly: the last bit at most.
constexpr double kExact = 1e-15;

// Two formulas for one quantity, a few dozen double operations each (a metric two ways, a structure
// factor summed in another order): relative round-off of a few hundred ulps.
constexpr double kRoundOff = 1e-12;

// A truncated series, an iteration stopped at its tolerance, or a table printed to 8-10 digits.
constexpr double kSeries = 1e-8;

// A central difference with step h against a derivative: truncation h² f''' plus round-off ε f / h,
// both below about 1e-6 relative with the steps of finite_difference.hpp.
constexpr double kFiniteDifference = 1e-6;

// |a − b| within tolerance × max(1, |a|, |b|): relative for large numbers, absolute near zero.
inline bool closeTo(double a, double b, double tolerance) {
    return std::fabs(a - b) <= tolerance * std::max({1.0, std::fabs(a), std::fabs(b)});
}

}  // namespace pk_test

#endif
