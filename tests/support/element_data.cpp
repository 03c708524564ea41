#include "support/element_data.hpp"

#include <cstdlib>
#include <vector>

#include "support/test_data.hpp"

namespace pk_test {

const ElementRow *findElement(const std::string &symbol) {
    static const std::vector<ElementRow> rows = [] {
        std::vector<ElementRow> parsed;
        for (const auto &fields : readTable("elements.tsv")) {
            ElementRow row;
            row.symbol = fields.at(0);
            row.weight = std::strtod(fields.at(2).c_str(), nullptr);
            for (std::size_t i = 0; i < 9; ++i) row.coefficients[i] = std::strtod(fields.at(3 + i).c_str(), nullptr);
            row.scatteringLength = std::strtod(fields.at(12).c_str(), nullptr);
            parsed.push_back(row);
        }
        return parsed;
    }();
    for (const ElementRow &row : rows)
        if (row.symbol == symbol) return &row;
    return nullptr;
}

RefinementAtomicScatteringFactor *makeScatteringFactorFor(const std::string &symbol) {
    const ElementRow *row = findElement(symbol);
    RefinementAtomicScatteringFactor *record = makeRefinementAtomicScatteringFactor();
    for (int i = 0; i < 9; ++i) record->cromerMannCoefficients[i] = row->coefficients[i];
    record->scatteringLength = row->scatteringLength;
    record->hasCromerMannCoefficients = 1;
    record->hasNeutronScatteringLength = 1;
    return record;
}

}  // namespace pk_test
