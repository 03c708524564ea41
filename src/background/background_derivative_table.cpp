// The derivative table of the background by coefficient name, "B0" … "B12",
// each key holding the fixed-index derivative of its coefficient. Built like
// the other derivative tables: a new table (1024 slots) with the keys in
// order, the values function pointers, not owned, released by the caller with
// freeHashTable; a table that cannot be made comes back NULL.
#include "background/background.hpp"
#include "derivatives/derivatives.hpp"

namespace powderkit {
namespace {

const Entry<BackgroundDerivativeFunction> kBackgroundEntries[] = {
    {"B0", DiffBackgroundIntensityWrtB0},   {"B1", DiffBackgroundIntensityWrtB1},
    {"B2", DiffBackgroundIntensityWrtB2},   {"B3", DiffBackgroundIntensityWrtB3},
    {"B4", DiffBackgroundIntensityWrtB4},   {"B5", DiffBackgroundIntensityWrtB5},
    {"B6", DiffBackgroundIntensityWrtB6},   {"B7", DiffBackgroundIntensityWrtB7},
    {"B8", DiffBackgroundIntensityWrtB8},   {"B9", DiffBackgroundIntensityWrtB9},
    {"B10", DiffBackgroundIntensityWrtB10}, {"B11", DiffBackgroundIntensityWrtB11},
    {"B12", DiffBackgroundIntensityWrtB12},
};

}  // namespace
}  // namespace powderkit

extern "C" {

// "B0" … "B12" → BackgroundDerivativeFunction.
HashTable *BackgroundDerivativesHashTable(void) {
    return powderkit::tableOf(powderkit::kBackgroundEntries);
}

}  // extern "C"
