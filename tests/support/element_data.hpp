// Element data for tests: the rows of tests/data/elements.tsv (X-ray
// four-Gaussian coefficients, weights, neutron scattering lengths) and
// scattering-factor records filled from them, as a host would fill them from
// the element table.
#ifndef PK_TEST_ELEMENT_DATA_HPP
#define PK_TEST_ELEMENT_DATA_HPP

#include <string>
#include <vector>

#include "powderkit.h"

namespace pk_test {

// One row of tests/data/elements.tsv, with its numbers both parsed and as
// written in the file.
struct ElementRow {
    std::string symbol;
    int atomicNumber = 0;
    double weight = 0.0;
    double coefficients[9] = {};    // a1 b1 a2 b2 a3 b3 a4 b4 c
    double scatteringLength = 0.0;  // b, fm
    std::string note;
    std::vector<std::string> fields;  // the row's fields as written
};

// All 103 rows in table order (read once); empty when the file is missing.
const std::vector<ElementRow> &elementRows();

// The row of `symbol` (exact match), or nullptr.
const ElementRow *findElement(const std::string &symbol);

// Fills `record` with the Cromer–Mann coefficients and the neutron scattering
// length of `symbol` and sets both flags (the high-angle flag is cleared).
// Returns false, leaving the record unchanged, for an unknown symbol.
bool fillScatteringFactor(RefinementAtomicScatteringFactor *record, const std::string &symbol);

// A new record filled for `symbol` (free it with
// freeRefinementAtomicScatteringFactor, or let an occupant own it); nullptr
// for an unknown symbol.
RefinementAtomicScatteringFactor *makeScatteringFactorFor(const std::string &symbol);

}  // namespace pk_test

#endif
