// The finite-difference harness behind every derivative test, and the derivative tables by key. A row holds an
// analytic derivative, the parameter with its step, the value depending on it and, where the library documents a
// rule other than the exact derivative, that rule applied to the difference.
#ifndef PK_TEST_FINITE_DIFFERENCE_HPP
#define PK_TEST_FINITE_DIFFERENCE_HPP

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "powderkit.h"
#include "support/tolerances.hpp"

namespace pk_test {

// (F(p + h) − F(p − h)) / 2h.
double centralDifference(const std::function<double(double)> &value, double p, double step);

// The same for a record field set to p ± h, `value` re-evaluating its dependants; all restored after.
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

// Every row within tolerance × max(|expected|, S), S the largest |expected| of the rows with its key (1e-3 if all
// are 0): values near a zero crossing are judged against the size of the derivative over the table.
void expectDerivatives(const std::vector<DerivativeRow> &rows);

constexpr double kDegreesPerRadian = 57.29577951308232;

// The cell parameters with their steps (Å, degrees) and the factor to the derivatives' unit (per radian).
struct CellParameterStep {
    const char *key;
    double RefinementCrystal::*field;
    double step, unitFactor;
};
using RC = RefinementCrystal;
inline const CellParameterStep kCellSteps[6] = {
    {"a", &RC::a, 1e-6, 1.0}, {"b", &RC::b, 1e-6, 1.0}, {"c", &RC::c, 1e-6, 1.0},
    {"alpha", &RC::alpha, 1e-5, kDegreesPerRadian}, {"beta", &RC::beta, 1e-5, kDegreesPerRadian},
    {"gamma", &RC::gamma, 1e-5, kDegreesPerRadian}};

// A new triclinic crystal (a 5.1, b 6.3, c 7.2 Å, α 81°, β 97°, γ 104°, scale 2.5): every cell parameter moves
// every d-spacing. refreshCell brings the reciprocal cell and metric tensors up to date after a change.
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

// Exactly `keys` in a table of 1024 slots, each with a function.
inline void expectKeys(HashTable *built, const std::vector<std::string> &keys) {
    const TablePointer table = owned(built);
    ASSERT_TRUE(table && table->capacity == 1024 && table->count == static_cast<int32_t>(keys.size()));
    for (const std::string &key : keys) EXPECT_NE(pointerForKey(table.get(), key.c_str()), nullptr) << key;
}

}  // namespace pk_test

#endif
