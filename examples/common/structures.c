/* Building a crystal from the built-in tables, the way a host fills the
 * library's records: the operators of spacegroups.tsv ("R11 … R33", "t1 t2 t3"
 * as fractions, and the three coordinate texts) and the sites of
 * structures.tsv (element, fractional coordinates, occupancy, Uiso). */
#include "structures.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern const char examplesStructuresText[];
extern const char examplesSpaceGroupsText[];

#define MAX_STRUCTURES 16
#define MAX_OPERATOR_ROWS 1024

typedef struct OperatorRow {
    const char *spaceGroup;
    int32_t rotation[9];
    double translation[3];
    const char *expressions[3];
} OperatorRow;

static Structure structures[MAX_STRUCTURES];
static int structuresLoaded = 0;
static OperatorRow *operatorRows = NULL;
static int operatorRowCount = 0;
static char *spaceGroupText = NULL; /* the operators' texts point into it */

/* Splits a line into tab-separated fields in place; returns the count. */
static int splitFields(char *line, char **fields, int maxFields) {
    int count = 0;
    char *p = line;
    while (count < maxFields) {
        fields[count++] = p;
        char *tab = strchr(p, '\t');
        if (tab == NULL) break;
        *tab = '\0';
        p = tab + 1;
    }
    return count;
}

/* "1/4", "-1/2", "0". */
static double parseFraction(const char *text) {
    char *end = NULL;
    double value = strtod(text, &end);
    if (end != NULL && *end == '/') value /= strtod(end + 1, NULL);
    return value;
}

static bool parseOperators(void) {
    size_t length = strlen(examplesSpaceGroupsText);
    spaceGroupText = malloc(length + 1);
    operatorRows = calloc(MAX_OPERATOR_ROWS, sizeof *operatorRows);
    if (spaceGroupText == NULL || operatorRows == NULL) return false;
    memcpy(spaceGroupText, examplesSpaceGroupsText, length + 1);
    char *line = spaceGroupText;
    while (line != NULL && *line != '\0') {
        char *next = strchr(line, '\n');
        if (next != NULL) *next++ = '\0';
        char *fields[8];
        if (line[0] != '#' && splitFields(line, fields, 8) == 7) {
            if (operatorRowCount >= MAX_OPERATOR_ROWS) return false;
            OperatorRow *row = &operatorRows[operatorRowCount++];
            row->spaceGroup = fields[0];
            char *cursor = fields[2];
            for (int i = 0; i < 9; i++) row->rotation[i] = (int32_t)strtol(cursor, &cursor, 10);
            char *fraction = strtok(fields[3], " ");
            for (int i = 0; i < 3; i++) {
                row->translation[i] = fraction != NULL ? parseFraction(fraction) : 0.0;
                fraction = strtok(NULL, " ");
            }
            for (int i = 0; i < 3; i++) row->expressions[i] = fields[4 + i];
        }
        line = next;
    }
    return operatorRowCount > 0;
}

static bool parseStructures(void) {
    size_t length = strlen(examplesStructuresText);
    char *text = malloc(length + 1);
    if (text == NULL) return false;
    memcpy(text, examplesStructuresText, length + 1);
    int count = 0;
    bool ok = true;
    for (char *line = strtok(text, "\n"); line != NULL && ok; line = strtok(NULL, "\n")) {
        char *fields[16];
        if (line[0] == '#' || splitFields(line, fields, 16) != 15) continue;
        Structure *structure = count > 0 ? &structures[count - 1] : NULL;
        if (structure == NULL || strcmp(structure->name, fields[0]) != 0) {
            if (count >= MAX_STRUCTURES) {
                ok = false;
                break;
            }
            structure = &structures[count++];
            memset(structure, 0, sizeof *structure);
            snprintf(structure->name, sizeof structure->name, "%s", fields[0]);
            snprintf(structure->spaceGroup, sizeof structure->spaceGroup, "%s", fields[1]);
            for (int i = 0; i < 6; i++) structure->cell[i] = strtod(fields[2 + i], NULL);
        }
        if (structure->siteCount >= STRUCTURE_MAX_SITES) {
            ok = false;
            break;
        }
        StructureSite *site = &structure->sites[structure->siteCount++];
        snprintf(site->label, sizeof site->label, "%s", fields[8]);
        snprintf(site->element, sizeof site->element, "%s", fields[9]);
        site->x = strtod(fields[10], NULL);
        site->y = strtod(fields[11], NULL);
        site->z = strtod(fields[12], NULL);
        site->occupancy = strtod(fields[13], NULL);
        site->uIso = strtod(fields[14], NULL);
    }
    free(text);
    structuresLoaded = ok ? count : 0;
    return ok && count > 0;
}

bool loadStructures(void) {
    if (structuresLoaded > 0) return true;
    if (!parseOperators() || !parseStructures()) {
        fprintf(stderr, "the built-in structure tables are malformed\n");
        releaseStructures();
        return false;
    }
    return true;
}

void releaseStructures(void) {
    free(operatorRows);
    free(spaceGroupText);
    operatorRows = NULL;
    spaceGroupText = NULL;
    operatorRowCount = 0;
    structuresLoaded = 0;
}

int structureCount(void) { return structuresLoaded; }

const Structure *structureAt(int index) {
    return index >= 0 && index < structuresLoaded ? &structures[index] : NULL;
}

const Structure *findStructure(const char *name) {
    for (int i = 0; i < structuresLoaded; i++) {
        if (strcmp(structures[i].name, name) == 0) return &structures[i];
    }
    return NULL;
}

static bool isInversion(const int32_t rotation[9]) {
    for (int i = 0; i < 9; i++) {
        if (rotation[i] != (i % 4 == 0 ? -1 : 0)) return false;
    }
    return true;
}

static bool addOperators(RefinementCrystal *crystal, const char *spaceGroup) {
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(48);
    if (crystal->symmetryOperators == NULL) return false;
    bool centrosymmetric = false;
    for (int r = 0; r < operatorRowCount; r++) {
        const OperatorRow *row = &operatorRows[r];
        if (strcmp(row->spaceGroup, spaceGroup) != 0) continue;
        int32_t n = crystal->symmetryOperators->count;
        if (n >= PK_MAX_SYMMETRY_OPERATORS) return false;
        RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
        if (op == NULL) return false;
        for (int i = 0; i < 9; i++) op->rotation[i / 3][i % 3] = row->rotation[i];
        for (int i = 0; i < 3; i++) {
            op->translation[i] = row->translation[i];
            op->coordinateExpressions[i] = row->expressions[i];
            crystal->symmetryTranslations[n][i] = row->translation[i];
        }
        addObjectToDynamicArray(crystal->symmetryOperators, op);
        if (crystal->symmetryOperators->count == n) {
            op->methods->freeRefinementSymmetryOperator(op);
            return false;
        }
        centrosymmetric = centrosymmetric || isInversion(row->rotation);
    }
    /* Without the inversion among the operators, the Friedel mates have to be
     * added for the multiplicities to count them. */
    crystal->addFriedelMates = centrosymmetric ? 0 : 1;
    crystal->latticeType = spaceGroup[0];
    return crystal->symmetryOperators->count > 0;
}

static Site *makeStructureSite(const StructureSite *row, const ElementTable *elements) {
    Site *site = makeEmptySite();
    if (site == NULL) return NULL;
    site->label = row->label;
    site->x = row->x;
    site->y = row->y;
    site->z = row->z;
    site->isIncluded = 1;
    site->occupants = makeDynamicArrayWithCapacity(1);
    site->displacement = makeRefinementThermalEllipsoidUij();
    RefinementAtomicScatteringFactor *factor = scatteringFactorForElement(elements, row->element);
    RefinementSiteOccupant *occupant =
        factor != NULL ? makeRefinementSiteOccupant(row->element, row->occupancy, factor) : NULL;
    if (occupant == NULL) freeRefinementAtomicScatteringFactor(factor);
    if (site->occupants == NULL || site->displacement == NULL || occupant == NULL) {
        if (occupant != NULL) occupant->methods->freeRefinementSiteOccupant(occupant);
        site->methods->freeSite(site);
        return NULL;
    }
    addObjectToDynamicArray(site->occupants, occupant);
    site->displacement->uIso = row->uIso;
    return site;
}

void updateCellGeometry(RefinementCrystal *crystal) {
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
}

RefinementCrystal *buildCrystal(const Structure *structure, const ElementTable *elements) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    if (crystal == NULL) return NULL;
    crystal->a = structure->cell[0];
    crystal->b = structure->cell[1];
    crystal->c = structure->cell[2];
    crystal->alpha = structure->cell[3];
    crystal->beta = structure->cell[4];
    crystal->gamma = structure->cell[5];
    /* Isotropic records still give their temperature factor only when the
     * crystal asks for displacement factors at all. */
    crystal->useAnisotropicDisplacement = 1;
    crystal->sites = makeDynamicArrayWithCapacity(structure->siteCount);
    bool ok = crystal->sites != NULL && addOperators(crystal, structure->spaceGroup);
    for (int i = 0; ok && i < structure->siteCount; i++) {
        Site *site = makeStructureSite(&structure->sites[i], elements);
        if (site == NULL) {
            fprintf(stderr, "no scattering data for %s\n", structure->sites[i].element);
            ok = false;
            break;
        }
        addObjectToDynamicArray(crystal->sites, site);
        if (crystal->sites->count != i + 1) {
            site->methods->freeSite(site);
            ok = false;
        }
    }
    if (!ok) {
        freeRefinementCrystal(crystal);
        return NULL;
    }
    updateCellGeometry(crystal);
    generateUnitCell(crystal);
    calculateSimilarityIndices(crystal);
    return crystal;
}
