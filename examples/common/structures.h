/* The built-in structures of the example hosts (examples/data/structures.tsv
 * and spacegroups.tsv, compiled into the programs) and the crystal a host
 * builds from one of them with the public records. */
#ifndef EXAMPLES_STRUCTURES_H
#define EXAMPLES_STRUCTURES_H

#include <stdbool.h>

#include "element_table.h"
#include "powderkit.h"

#define STRUCTURE_MAX_SITES 8

typedef struct StructureSite {
    char label[16];
    char element[8];
    double x, y, z;
    double occupancy;
    double uIso; /* Å² */
} StructureSite;

typedef struct Structure {
    char name[32];
    char spaceGroup[32];
    double cell[6]; /* a b c (Å), alpha beta gamma (degrees) */
    int siteCount;
    StructureSite sites[STRUCTURE_MAX_SITES];
} Structure;

/* Parses the built-in tables once; false if they are malformed. */
bool loadStructures(void);

/* Releases what loadStructures keeps (call after the last crystal is freed:
 * the operators' coordinate texts point into it). */
void releaseStructures(void);

int structureCount(void);
const Structure *structureAt(int index);
const Structure *findStructure(const char *name);

/* A new crystal of the structure: cell, operators, translations, lattice
 * letter, sites with one occupant each (scattering data from `elements`) and
 * an isotropic displacement record; reciprocal cell, metric tensors, unit-cell
 * positions and similarity indices computed. NULL on failure. */
RefinementCrystal *buildCrystal(const Structure *structure, const ElementTable *elements);

/* Recomputes what depends on the cell edges and angles: the reciprocal cell
 * and the metric tensors. */
void updateCellGeometry(RefinementCrystal *crystal);

#endif
