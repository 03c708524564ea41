// The finite-difference harness behind every derivative test, and the
// derivative tables by key. A harness table holds rows, each an analytic derivative, the parameter it is taken by with its
// difference step, the value that depends on the parameter and, where the
// library documents a rule other than the exact derivative, that rule applied
// to the difference. The central difference has truncation error h²F'''/6 and
// rounding error ε|F|/h: steps near 1e-5 of the parameter leave about 1e-8.
#ifndef PK_TEST_FINITE_DIFFERENCE_HPP
#define PK_TEST_FINITE_DIFFERENCE_HPP

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "powderkit.h"
#include "support/allocation_failure.hpp"
#include "support/tolerances.hpp"

namespace pk_test {

// (F(p + h) − F(p − h)) / 2h.
double centralDifference(const std::function<double(double)> &value, double p, double step);

// The same for a record field: set to p ± h, `value` re-evaluates what
// depends on it; the field and its dependants get their old values back.
double centralDifferenceOfField(double *field, double step, const std::function<double()> &value);

struct DerivativeRow {
    std::string key;
    std::function<double()> analytic;
    double *field;
    double step;
    std::function<double()> value;
    std::function<double(double)> rule = nullptr;  // expected from the difference; none: itself
    double tolerance = kFiniteDifference;
};

// Every row within tolerance × max(|expected|, S), S the largest |expected|
// of the rows with its key (1e-3 if all are 0): values near a zero crossing
// are judged against the size of the derivative over the table.
void expectDerivatives(const std::vector<DerivativeRow> &rows);

constexpr double kDegreesPerRadian = 57.29577951308232;

// The cell parameters with their steps (Å, degrees) and the factor to the
// analytic derivatives' unit, per radian for the angles.
struct CellParameterStep {
    const char *key;
    double RefinementCrystal::*field;
    double step, unitFactor;
};
inline const CellParameterStep kCellSteps[6] = {
    {"a", &RefinementCrystal::a, 1e-6, 1.0},     {"b", &RefinementCrystal::b, 1e-6, 1.0},
    {"c", &RefinementCrystal::c, 1e-6, 1.0},     {"alpha", &RefinementCrystal::alpha, 1e-5, kDegreesPerRadian},
    {"beta", &RefinementCrystal::beta, 1e-5, kDegreesPerRadian}, {"gamma", &RefinementCrystal::gamma, 1e-5, kDegreesPerRadian}};

// A new triclinic crystal (a 5.1, b 6.3, c 7.2 Å, α 81°, β 97°, γ 104°,
// scale 2.5): every cell parameter moves every d-spacing. refreshCell brings
// the reciprocal cell and metric tensors up to date after a change.
RefinementCrystal *makeTriclinicCrystal();
void refreshCell(RefinementCrystal *crystal);

// A derivative table held by its owner.
using TablePointer = std::unique_ptr<HashTable, decltype(&freeHashTable)>;
inline TablePointer owned(HashTable *table) { return TablePointer(table, freeHashTable); }

// The function stored under `key` (kept as an untyped value), or nullptr.
template <typename Function>
Function functionForKey(const HashTable *table, const std::string &key) {
    void *value = pointerForKey(table, key.c_str());
    Function function = nullptr;
    static_assert(sizeof(function) == sizeof(value), "function and data pointers differ");
    std::memcpy(&function, &value, sizeof(function));
    return function;
}

// Exactly `keys`, each with a function. Built with allocation n failing: the
// table and its slots come first (no table), then one copy per key in order,
// so failing copy i leaves exactly the i-th key out.
template <typename Builder>
void expectKeysInOrder(Builder build, const std::vector<std::string> &keys) {
    const auto count = static_cast<int32_t>(keys.size());
    for (long n = 0; n <= count + 2; ++n) {
        if (n > 0) failAllocationNumber(n);
        TablePointer table = owned(build());
        disarmAllocationFailure();
        ASSERT_EQ(table == nullptr, n == 1 || n == 2) << n;
        if (table == nullptr) continue;
        EXPECT_TRUE(table->capacity == 1024 && table->count == count - (n > 0)) << n;
        for (int32_t i = 0; i < count; ++i) {
            EXPECT_EQ(pointerForKey(table.get(), keys[i].c_str()) == nullptr, i == n - 3) << keys[i];
        }
    }
}

}  // namespace pk_test

#endif
