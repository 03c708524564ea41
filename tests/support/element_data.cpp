#include "support/element_data.hpp"

#include <cstdlib>

#include "support/test_data.hpp"

namespace pk_test {

namespace {

std::vector<ElementRow> readElementRows() {
    std::vector<ElementRow> rows;
    for (const auto &fields : readTable("elements.tsv")) {
        if (fields.size() < 13) continue;
        ElementRow row;
        row.symbol = fields[0];
        row.atomicNumber = std::atoi(fields[1].c_str());
        row.weight = std::strtod(fields[2].c_str(), nullptr);
        for (int i = 0; i < 9; ++i) {
            row.coefficients[i] =
                std::strtod(fields[static_cast<std::size_t>(3 + i)].c_str(), nullptr);
        }
        row.scatteringLength = std::strtod(fields[12].c_str(), nullptr);
        if (fields.size() > 13) row.note = fields[13];
        row.fields = fields;
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

const std::vector<ElementRow> &elementRows() {
    static const std::vector<ElementRow> rows = readElementRows();
    return rows;
}

const ElementRow *findElement(const std::string &symbol) {
    for (const ElementRow &row : elementRows()) {
        if (row.symbol == symbol) return &row;
    }
    return nullptr;
}

bool fillScatteringFactor(RefinementAtomicScatteringFactor *record, const std::string &symbol) {
    const ElementRow *row = findElement(symbol);
    if (record == nullptr || row == nullptr) return false;
    for (int i = 0; i < 9; ++i) record->cromerMannCoefficients[i] = row->coefficients[i];
    record->hasCromerMannCoefficients = 1;
    record->scatteringLength = row->scatteringLength;
    record->hasNeutronScatteringLength = 1;
    record->hasHighAngleCoefficients = 0;
    return true;
}

RefinementAtomicScatteringFactor *makeScatteringFactorFor(const std::string &symbol) {
    if (findElement(symbol) == nullptr) return nullptr;
    RefinementAtomicScatteringFactor *record = makeRefinementAtomicScatteringFactor();
    if (record != nullptr) fillScatteringFactor(record, symbol);
    return record;
}

}  // namespace pk_test
