#include "support/crystal_builder.hpp"

#include <cstdlib>
#include <set>
#include <sstream>

#include "support/test_data.hpp"

namespace pk_test {
namespace {

// "1/4", "-1/2", "0".
double parseFraction(const std::string &text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) return std::strtod(text.c_str(), nullptr);
    return std::strtod(text.substr(0, slash).c_str(), nullptr) /
           std::strtod(text.substr(slash + 1).c_str(), nullptr);
}

bool isInversion(const int32_t rotation[9]) {
    for (int i = 0; i < 9; ++i) {
        if (rotation[i] != (i % 4 == 0 ? -1 : 0)) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> referenceStructureNames() {
    std::vector<std::string> names;
    for (const auto &row : readTable("structures.tsv")) {
        if (!row.empty() && (names.empty() || names.back() != row[0])) names.push_back(row[0]);
    }
    return names;
}

const char *persistentText(const std::string &text) {
    static std::set<std::string> texts;
    return texts.insert(text).first->c_str();
}

RefinementSymmetryOperator *makeSymmetryOperator(const int32_t rotation[9],
                                                 const double translation[3],
                                                 const std::string &x, const std::string &y,
                                                 const std::string &z) {
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    if (op == nullptr) return nullptr;
    for (int i = 0; i < 9; ++i) op->rotation[i / 3][i % 3] = rotation[i];
    for (int i = 0; i < 3; ++i) op->translation[i] = translation[i];
    op->coordinateExpressions[0] = persistentText(x);
    op->coordinateExpressions[1] = persistentText(y);
    op->coordinateExpressions[2] = persistentText(z);
    return op;
}

bool addSpaceGroup(RefinementCrystal *crystal, const std::string &spaceGroup) {
    if (crystal == nullptr || crystal->symmetryOperators != nullptr || spaceGroup.empty()) {
        return false;
    }
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(PK_MAX_SYMMETRY_OPERATORS);
    if (crystal->symmetryOperators == nullptr) return false;
    bool centrosymmetric = false;
    for (const auto &row : readTable("spacegroups.tsv")) {
        if (row.size() < 7 || row[0] != spaceGroup) continue;
        const int32_t n = crystal->symmetryOperators->count;
        if (n >= PK_MAX_SYMMETRY_OPERATORS) return false;
        int32_t rotation[9];
        std::istringstream rows(row[2]);
        for (int32_t &entry : rotation) rows >> entry;
        std::istringstream fractions(row[3]);
        double translation[3];
        for (double &t : translation) {
            std::string fraction;
            fractions >> fraction;
            t = parseFraction(fraction);
        }
        RefinementSymmetryOperator *op =
            makeSymmetryOperator(rotation, translation, row[4], row[5], row[6]);
        if (op == nullptr) return false;
        addObjectToDynamicArray(crystal->symmetryOperators, op);
        if (crystal->symmetryOperators->count == n) {
            op->methods->freeRefinementSymmetryOperator(op);
            return false;
        }
        for (int i = 0; i < 3; ++i) crystal->symmetryTranslations[n][i] = translation[i];
        centrosymmetric = centrosymmetric || isInversion(rotation);
    }
    if (crystal->symmetryOperators->count == 0) return false;
    crystal->latticeType = spaceGroup[0];
    crystal->addFriedelMates = centrosymmetric ? 0 : 1;
    return true;
}

RefinementCrystal *makeReferenceCrystal(const std::string &name,
                                        const ScatteringFactorFactory &factory) {
    // name space_group a b c alpha beta gamma label element x y z occupancy Uiso
    std::vector<std::vector<std::string>> rows;
    for (auto &row : readTable("structures.tsv")) {
        if (row.size() >= 15 && row[0] == name) rows.push_back(row);
    }
    if (rows.empty()) return nullptr;

    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    if (crystal == nullptr) return nullptr;
    const auto number = [](const std::string &text) { return std::strtod(text.c_str(), nullptr); };
    crystal->a = number(rows[0][2]);
    crystal->b = number(rows[0][3]);
    crystal->c = number(rows[0][4]);
    crystal->alpha = number(rows[0][5]);
    crystal->beta = number(rows[0][6]);
    crystal->gamma = number(rows[0][7]);
    crystal->sites = makeDynamicArrayWithCapacity(static_cast<int32_t>(rows.size()));
    if (crystal->sites == nullptr || !addSpaceGroup(crystal, rows[0][1])) {
        freeRefinementCrystal(crystal);
        return nullptr;
    }

    for (const auto &row : rows) {
        Site *site = makeEmptySite();
        if (site == nullptr) break;
        addObjectToDynamicArray(crystal->sites, site);
        site->label = persistentText(row[8]);
        site->x = number(row[10]);
        site->y = number(row[11]);
        site->z = number(row[12]);
        site->isIncluded = 1;
        site->occupants = makeDynamicArrayWithCapacity(1);
        RefinementAtomicScatteringFactor *factor = factory ? factory(row[9]) : nullptr;
        RefinementSiteOccupant *occupant =
            makeRefinementSiteOccupant(row[9].c_str(), number(row[13]), factor);
        if (occupant == nullptr && factor != nullptr) {
            factor->methods->freeRefinementAtomicScatteringFactor(factor);
        }
        addObjectToDynamicArray(site->occupants, occupant);
        site->displacement = makeRefinementThermalEllipsoidUij();
        if (site->displacement != nullptr) site->displacement->uIso = number(row[14]);
    }

    crystal->methods->calculateReciprocalCell(crystal);
    crystal->methods->calculateMetricTensor(crystal);
    crystal->methods->generateUnitCell(crystal);
    crystal->methods->calculateSimilarityIndices(crystal);
    return crystal;
}

}  // namespace pk_test
