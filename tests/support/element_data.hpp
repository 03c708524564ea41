// Element data for tests: the rows of tests/data/elements.tsv and records filled from them.
#ifndef PK_TEST_ELEMENT_DATA_HPP
#define PK_TEST_ELEMENT_DATA_HPP

#include <string>
#include <vector>

#include "powderkit.h"

namespace pk_test {

// The fields of the row of `symbol` (symbol, Z, weight, a1 b1 a2 b2 a3 b3 a4 b4 c, b in fm, note), or NULL.
const std::vector<std::string> *findElement(const std::string &symbol);

// A new record with the four-Gaussian coefficients and neutron scattering length of `symbol`.
RefinementAtomicScatteringFactor *makeScatteringFactorFor(const std::string &symbol);

}  // namespace pk_test

#endif
