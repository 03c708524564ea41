/* A C11 host that includes only the public header and links only the shared
 * library: it checks the record layouts from C and builds and frees a crystal
 * the way a host application does. Later roads (calculated pattern,
 * refinement cycle, raw pattern) join it as they land. */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "interface/expected_layout.h"
#include "powderkit.h"

static int passed = 0;
static int failed = 0;

static void check(int condition, const char *what) {
    if (condition) {
        passed += 1;
    } else {
        failed += 1;
        fprintf(stderr, "FAILED: %s\n", what);
    }
}

static void checkLayout(void) {
#define PK_CHECK_SIZE(Record, size) check(sizeof(Record) == (size), "sizeof " #Record);
    PK_EXPECTED_SIZES(PK_CHECK_SIZE)
#undef PK_CHECK_SIZE
#define PK_CHECK_OFFSET(Record, field, offset) \
    check(offsetof(Record, field) == (offset), "offsetof " #Record "." #field);
    PK_EXPECTED_OFFSETS(PK_CHECK_OFFSET)
#undef PK_CHECK_OFFSET
}

static RefinementSymmetryOperator *makeOperator(const int rotation[9], const double t[3]) {
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    if (op == NULL) return NULL;
    memcpy(op->rotation, rotation, sizeof op->rotation);
    memcpy(op->translation, t, sizeof op->translation);
    return op;
}

static Site *makeSite(const char *label, double x, double y, double z, const char *element) {
    Site *site = makeEmptySite();
    if (site == NULL) return NULL;
    site->label = label;
    site->x = x;
    site->y = y;
    site->z = z;
    site->isIncluded = 1;
    site->occupants = makeDynamicArrayWithCapacity(2);
    RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
    RefinementSiteOccupant *occupant = makeRefinementSiteOccupant(element, 1.0, factor);
    if (occupant == NULL) freeRefinementAtomicScatteringFactor(factor);
    addObjectToDynamicArray(site->occupants, occupant);
    site->displacement = makeRefinementThermalEllipsoidUij();
    site->atoms = makeDynamicArrayWithCapacity(4);
    addObjectToDynamicArray(site->atoms, makeRefinementAtom(x, y, z));
    return site;
}

/* A rock-salt crystal with two sites, their occupants, positions and
 * displacement records, two operators and one reflexion, freed as a whole. */
static void buildAndFreeCrystal(void) {
    static const int identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    static const int inversion[9] = {-1, 0, 0, 0, -1, 0, 0, 0, -1};
    static const double noShift[3] = {0.0, 0.0, 0.0};

    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    check(crystal != NULL, "crystal made");
    if (crystal == NULL) return;
    check(crystal->scale == 1.0 && crystal->auxiliaryFactor == 1.0, "crystal defaults");
    crystal->a = crystal->b = crystal->c = 5.6402;
    crystal->alpha = crystal->beta = crystal->gamma = 90.0;
    crystal->latticeType = 'F';

    crystal->sites = makeDynamicArrayWithCapacity(2);
    addObjectToDynamicArray(crystal->sites, makeSite("Na1", 0.0, 0.0, 0.0, "Na"));
    addObjectToDynamicArray(crystal->sites, makeSite("Cl1", 0.5, 0.5, 0.5, "Cl"));
    check(crystal->sites->count == 2, "two sites listed");

    crystal->symmetryOperators = makeDynamicArrayWithCapacity(2);
    addObjectToDynamicArray(crystal->symmetryOperators, makeOperator(identity, noShift));
    addObjectToDynamicArray(crystal->symmetryOperators, makeOperator(inversion, noShift));
    check(crystal->symmetryOperators->count == 2, "two operators listed");

    crystal->reflexions = makeDynamicArrayWithCapacity(1);
    Reflexion *reflexion = makeReflexion();
    check(reflexion != NULL && reflexion->methods != NULL, "reflexion made");
    addObjectToDynamicArray(crystal->reflexions, reflexion);

    calculateSimilarityIndices(crystal);
    Site *second = (Site *)crystal->sites->items[1];
    check(second->similarityIndex == 1, "different occupants start a new run");

    char text[128];
    second->constraintX = 1;
    check(second->methods->describeSiteConstraints(second, text, (int32_t)sizeof text),
          "constraint text fits");
    check(strcmp(text, "Atomic coordinate constraints for site Cl1 : [x =  1, y =  0, z =  0]") == 0,
          "constraint text");

    freeRefinementCrystalReflexions(crystal);
    check(crystal->reflexions == NULL, "reflexion list released");
    crystal->methods->freeRefinementCrystal(crystal);
}

static void useContainers(void) {
    HashTable *table = makeHashTable();
    int value = 7;
    setPointerForKey(&table, &value, "Scale");
    check(pointerForKey(table, "Scale") == &value, "hash table lookup");
    check(pointerForKey(table, "scale") == NULL, "keys are case sensitive");
    freeHashTable(table);

    char *buffer = GetErrorBuffer();
    check(buffer != NULL && buffer == GetErrorBuffer() && buffer[0] == '\0', "error buffer");
}

int main(void) {
    checkLayout();
    buildAndFreeCrystal();
    useContainers();
    printf("host: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
