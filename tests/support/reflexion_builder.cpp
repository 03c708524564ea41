#include "support/reflexion_builder.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pk_test {

bool isSystematicallyAbsent(const RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    if (latticeAbsence(const_cast<RefinementCrystal *>(crystal), h, k, l)) return true;
    const DynamicArray *operators = crystal->symmetryOperators;
    const int32_t hkl[3] = {h, k, l};
    for (int32_t n = 0; n < operators->count; ++n) {
        const auto *op = static_cast<const RefinementSymmetryOperator *>(operators->items[n]);
        bool fixed = true;
        for (int j = 0; j < 3 && fixed; ++j) {
            const int64_t image = static_cast<int64_t>(hkl[0]) * op->rotation[0][j] +
                                  static_cast<int64_t>(hkl[1]) * op->rotation[1][j] +
                                  static_cast<int64_t>(hkl[2]) * op->rotation[2][j];
            fixed = image == hkl[j];
        }
        if (!fixed) continue;
        const double phase = h * op->translation[0] + k * op->translation[1] + l * op->translation[2];
        if (std::fabs(phase - std::round(phase)) > 1e-6) return true;
    }
    return false;
}

std::vector<RefGenRec> generationRecords(RefinementCrystal *crystal, double dMin) {
    // maxNumRefs bounds |h| by s / a*, exact only for orthogonal axes; the
    // exact bound is s·a, which s·a·a* / a* never undercuts.
    const double s = 1.0 / dMin;
    const double widening = std::max({crystal->a * crystal->aStar, crystal->b * crystal->bStar,
                                      crystal->c * crystal->cStar});
    int32_t hMax = 0, kMax = 0, lMax = 0;
    maxNumRefs(crystal, s * widening, &hMax, &kMax, &lMax);

    std::vector<RefGenRec> records;
    for (int32_t h = -hMax; h <= hMax; ++h) {
        for (int32_t k = -kMax; k <= kMax; ++k) {
            for (int32_t l = -lMax; l <= lMax; ++l) {
                const int32_t hkl[3] = {h, k, l};
                if ((h == 0 && k == 0 && l == 0) || ignoreReflexionWithIndices(hkl)) continue;
                const double d = dSpacingForHKL(crystal, h, k, l);
                if (d < dMin || isSystematicallyAbsent(crystal, h, k, l)) continue;
                RefGenRec record{};
                record.h = h;
                record.k = k;
                record.l = l;
                record.dSpacing = d;
                records.push_back(record);
            }
        }
    }
    std::qsort(records.data(), records.size(), sizeof(RefGenRec), compareRefGenRecByDSpacing);
    return records;
}

int32_t buildReflexionList(RefinementCrystal *crystal, double dMin) {
    freeRefinementCrystalReflexions(crystal);
    std::vector<RefGenRec> records = generationRecords(crystal, dMin);
    crystal->reflexions = makeDynamicArrayWithCapacity(
        std::max<int32_t>(1, static_cast<int32_t>(records.size())));
    if (crystal->reflexions == nullptr) return -1;
    const int32_t last = static_cast<int32_t>(records.size()) - 1;
    // auxiliaryInteger marks the records already covered by an earlier set.
    for (RefGenRec &record : records) {
        if (record.auxiliaryInteger != 0) continue;
        int32_t count = 0;
        int32_t *planes = planesRelatedBySymmetry(crystal, &record.h, 1, &count);
        if (planes == nullptr) return -1;
        for (int32_t i = 0; i < count; ++i) {
            const int32_t found = findPlaneWithIndices(crystal, planes + 3 * i, records.data(), 0, last);
            if (found != PK_NOT_FOUND) records[static_cast<std::size_t>(found)].auxiliaryInteger = 1;
        }
        std::free(planes);
        record.auxiliaryInteger = 1;

        Reflexion *reflexion = makeReflexion();
        if (reflexion == nullptr) return -1;
        reflexion->h = record.h;
        reflexion->k = record.k;
        reflexion->l = record.l;
        reflexion->multiplicity = count;
        reflexion->dSpacing = record.dSpacing;
        const int32_t before = crystal->reflexions->count;
        addObjectToDynamicArray(crystal->reflexions, reflexion);
        if (crystal->reflexions->count == before) {
            reflexion->methods->freeReflexion(reflexion);
            return -1;
        }
    }
    return crystal->reflexions->count;
}

}  // namespace pk_test
