// The finite-difference harness of the derivative tests, and the derivative tables by key.
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

// (F(p + h) − F(p − h)) / 2h; of a record field set to p ± h, `value` re-evaluating its dependants, all restored after.
double centralDifference(const std::function<double(double)> &value, double p, double step);
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

// Each row within tolerance × max(|expected|, largest |expected| of its key or 1e-3): zero crossings judged by scale.
void expectDerivatives(const std::vector<DerivativeRow> &rows);

constexpr double kDegreesPerRadian = 57.29577951308232;

// The cell parameters with their steps (Å, degrees) and the factor to the derivatives' unit (per radian).
struct CellParameterStep { const char *key; double RefinementCrystal::*field; double step, unitFactor; };
using RC = RefinementCrystal;
inline const CellParameterStep kCellSteps[6] = {
    {"a", &RC::a, 1e-6, 1.0}, {"b", &RC::b, 1e-6, 1.0}, {"c", &RC::c, 1e-6, 1.0},
    {"alpha", &RC::alpha, 1e-5, kDegreesPerRadian}, {"beta", &RC::beta, 1e-5, kDegreesPerRadian},
    {"gamma", &RC::gamma, 1e-5, kDegreesPerRadian}};

RefinementCrystal *makeTriclinicCrystal();  // 5.1, 6.3, 7.2 Å, 81°, 97°, 104°, scale 2.5
void refreshCell(RefinementCrystal *crystal);  // its reciprocal cell and metrics brought up to date

using TablePointer = std::unique_ptr<HashTable, decltype(&freeHashTable)>;
inline TablePointer owned(HashTable *table) { return TablePointer(table, freeHashTable); }

template <typename Function>  // the function stored under `key` (kept as an untyped value), or nullptr
Function functionForKey(const HashTable *table, const std::string &key) {
    void *value = pointerForKey(table, key.c_str());
    Function function = nullptr;
    static_assert(sizeof(function) == sizeof(value), "function and data pointers differ");
    std::memcpy(&function, &value, sizeof(function));
    return function;
}

inline void expectKeys(HashTable *built, const std::vector<std::string> &keys) {
    const TablePointer table = owned(built);  // exactly `keys` in a table of 1024 slots, each with a function
    ASSERT_TRUE(table && table->capacity == 1024 && table->count == static_cast<int32_t>(keys.size()));
    for (const std::string &key : keys) EXPECT_NE(pointerForKey(table.get(), key.c_str()), nullptr) << key;
}

}  // namespace pk_test

#endif
