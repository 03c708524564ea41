// The tolerances the tests compare numbers with, each sized for why two
// numbers may differ. A test picks the one that names its reason; a test that
// needs something else says why beside it.
#ifndef PK_TEST_TOLERANCES_HPP
#define PK_TEST_TOLERANCES_HPP

#include <algorithm>
#include <cmath>

namespace pk_test {

// The same arithmetic done twice, or a value the code copies or rounds
// exactly: only the last bit may differ.
constexpr double kExact = 1e-15;

// Two formulas for one quantity, a few dozen operations each in double
// precision (a cell's metric two ways, a structure factor summed in another
// order): relative round-off grows with the operation count, so a few
// hundred ulps.
constexpr double kRoundOff = 1e-12;

// A truncated series or a tabulated value against a closed form (the
// exponential integral's expansions, tables printed to 8-10 digits, an
// iterative solution stopped at its tolerance).
constexpr double kSeries = 1e-8;

// A central finite difference with step h against an analytic derivative:
// truncation error of order h² f''' plus round-off of order ε f / h; with the
// steps of finite_difference.hpp both stay below about 1e-6 relative.
constexpr double kFiniteDifference = 1e-6;

// |a - b| within tolerance × max(1, |a|, |b|): relative for large numbers,
// absolute near zero.
inline bool closeTo(double a, double b, double tolerance) {
    return std::fabs(a - b) <= tolerance * std::max({1.0, std::fabs(a), std::fabs(b)});
}

}  // namespace pk_test

#endif
