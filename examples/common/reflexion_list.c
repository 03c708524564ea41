/* Reflexion generation on the host side: enumerate the index box, keep one of
 * each Friedel pair, drop the absences, sort the generation records by d and
 * collapse each set of symmetry-equivalent planes into one reflexion whose
 * multiplicity is the number of planes in the set.
 *
 * Two choices a careful host makes here. The index box: maxNumRefs bounds |h|
 * by s / a*, which is exact only for orthogonal axes (for an oblique cell the
 * exact bound is s·a), so it is asked for the box of s·max(a·a*, b·b*, c·c*),
 * which always contains the exact one. The absences: the exact rule for every
 * operator, since the library's summed-translation test is exact only for
 * centring translations. */
#include "reflexion_list.h"

#include <math.h>
#include <stdlib.h>

bool isSystematicallyAbsent(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    if (latticeAbsence(crystal, h, k, l)) return true;
    const int32_t hkl[3] = {h, k, l};
    const DynamicArray *operators = crystal->symmetryOperators;
    for (int32_t n = 0; n < operators->count; n++) {
        const RefinementSymmetryOperator *op = operators->items[n];
        bool fixed = true;
        for (int j = 0; j < 3 && fixed; j++) {
            long image = (long)hkl[0] * op->rotation[0][j] + (long)hkl[1] * op->rotation[1][j] +
                         (long)hkl[2] * op->rotation[2][j];
            fixed = image == hkl[j];
        }
        if (!fixed) continue;
        double phase = h * op->translation[0] + k * op->translation[1] + l * op->translation[2];
        if (fabs(phase - floor(phase + 0.5)) > 1e-6) return true;
    }
    return false;
}

static int byDecreasingDSpacing(const void *a, const void *b) {
    return (int)compareRefGenRecByDSpacing(a, b);
}

static RefGenRec *generationRecords(RefinementCrystal *crystal, double dMin, int *countOut) {
    double widening = crystal->a * crystal->aStar;
    if (crystal->b * crystal->bStar > widening) widening = crystal->b * crystal->bStar;
    if (crystal->c * crystal->cStar > widening) widening = crystal->c * crystal->cStar;
    int32_t hMax = 0, kMax = 0, lMax = 0;
    maxNumRefs(crystal, widening / dMin, &hMax, &kMax, &lMax);

    size_t capacity = 64, count = 0;
    RefGenRec *records = malloc(capacity * sizeof *records);
    if (records == NULL) return NULL;
    for (int32_t h = -hMax; h <= hMax; h++) {
        for (int32_t k = -kMax; k <= kMax; k++) {
            for (int32_t l = -lMax; l <= lMax; l++) {
                const int32_t hkl[3] = {h, k, l};
                if ((h == 0 && k == 0 && l == 0) || ignoreReflexionWithIndices(hkl)) continue;
                double d = dSpacingForHKL(crystal, h, k, l);
                if (d < dMin || isSystematicallyAbsent(crystal, h, k, l)) continue;
                if (count == capacity) {
                    RefGenRec *bigger = realloc(records, 2 * capacity * sizeof *records);
                    if (bigger == NULL) {
                        free(records);
                        return NULL;
                    }
                    records = bigger;
                    capacity *= 2;
                }
                RefGenRec record = {h, k, l, 0, d, 0.0};
                records[count++] = record;
            }
        }
    }
    qsort(records, count, sizeof *records, byDecreasingDSpacing);
    *countOut = (int)count;
    return records;
}

int buildReflexionList(RefinementCrystal *crystal, double dMin) {
    freeRefinementCrystalReflexions(crystal);
    int count = 0;
    RefGenRec *records = generationRecords(crystal, dMin, &count);
    if (records == NULL) return -1;
    crystal->reflexions = makeDynamicArrayWithCapacity(count > 0 ? count : 1);
    if (crystal->reflexions == NULL) {
        free(records);
        return -1;
    }
    const int32_t last = count - 1;
    /* auxiliaryInteger marks the records already covered by an earlier set. */
    for (int i = 0; i < count; i++) {
        RefGenRec *record = &records[i];
        if (record->auxiliaryInteger != 0) continue;
        int32_t planeCount = 0;
        int32_t *planes = planesRelatedBySymmetry(crystal, &record->h, 1, &planeCount);
        if (planes == NULL) {
            free(records);
            return -1;
        }
        for (int32_t p = 0; p < planeCount; p++) {
            int32_t found = findPlaneWithIndices(crystal, planes + 3 * p, records, 0, last);
            if (found != PK_NOT_FOUND) records[found].auxiliaryInteger = 1;
        }
        free(planes);
        record->auxiliaryInteger = 1;

        Reflexion *reflexion = makeReflexion();
        if (reflexion == NULL) {
            free(records);
            return -1;
        }
        reflexion->h = record->h;
        reflexion->k = record->k;
        reflexion->l = record->l;
        reflexion->multiplicity = planeCount;
        reflexion->dSpacing = record->dSpacing;
        int32_t before = crystal->reflexions->count;
        addObjectToDynamicArray(crystal->reflexions, reflexion);
        if (crystal->reflexions->count == before) {
            reflexion->methods->freeReflexion(reflexion);
            free(records);
            return -1;
        }
    }
    free(records);
    return crystal->reflexions->count;
}

void updateDSpacings(RefinementCrystal *crystal) {
    if (crystal->reflexions == NULL) return;
    for (int32_t i = 0; i < crystal->reflexions->count; i++) {
        Reflexion *r = crystal->reflexions->items[i];
        r->dSpacing = dSpacingForHKL(crystal, r->h, r->k, r->l);
    }
}
