#include "support/element_data.hpp"

#include "support/test_data.hpp"

namespace pk_test {

const std::vector<std::string> *findElement(const std::string &symbol) {
    static const std::vector<std::vector<std::string>> rows = readTable("elements.tsv");
    for (const std::vector<std::string> &row : rows)
        if (row.at(0) == symbol) return &row;
    return nullptr;
}

RefinementAtomicScatteringFactor *makeScatteringFactorFor(const std::string &symbol) {
    const std::vector<std::string> &row = *findElement(symbol);
    RefinementAtomicScatteringFactor *record = makeRefinementAtomicScatteringFactor();
    for (std::size_t i = 0; i < 9; ++i) record->cromerMannCoefficients[i] = std::stod(row.at(3 + i));
    record->scatteringLength = std::stod(row.at(12));
    record->hasCromerMannCoefficients = record->hasNeutronScatteringLength = 1;
    return record;
}

}  // namespace pk_test
