// Element data for tests: the rows of tests/data/elements.tsv and records filled from them.
#ifndef PK_TEST_ELEMENT_DATA_HPP
#define PK_TEST_ELEMENT_DATA_HPP

#include <string>

#include "powderkit.h"

namespace pk_test {

struct ElementRow {
    std::string symbol;
    double weight = 0.0;
    double coefficients[9] = {};    // a1 b1 a2 b2 a3 b3 a4 b4 c
    double scatteringLength = 0.0;  // b, fm
};

const ElementRow *findElement(const std::string &symbol);

// A new record with the four-Gaussian coefficients and neutron scattering length of `symbol`.
RefinementAtomicScatteringFactor *makeScatteringFactorFor(const std::string &symbol);

}  // namespace pk_test

#endif
