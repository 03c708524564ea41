/* The element table as a host reads it: the library writes its built-in table
 * to ASF.dat with load(), and the host parses that text and fills the
 * scattering-factor records of its occupants from it. */
#ifndef EXAMPLES_ELEMENT_TABLE_H
#define EXAMPLES_ELEMENT_TABLE_H

#include <stdbool.h>

#include "powderkit.h"

typedef struct ElementEntry {
    char symbol[8];
    double coefficients[9];  /* a1 b1 a2 b2 a3 b3 a4 b4 c */
    double scatteringLength; /* coherent b, fm */
} ElementEntry;

typedef struct ElementTable {
    int count;
    ElementEntry *entries;
} ElementTable;

/* Asks the library to write ASF.dat into `directory` and reads it back.
 * False (with a message on stderr) when the file cannot be read. */
bool readElementTable(const char *directory, ElementTable *table);

/* Parses the text of an element table (lines starting with '!' are comments). */
bool parseElementTable(const char *text, ElementTable *table);

/* The entry of `symbol`, or NULL. */
const ElementEntry *findElement(const ElementTable *table, const char *symbol);

/* A new scattering-factor record filled from the entry of `symbol` (four-
 * Gaussian coefficients and the neutron scattering length), or NULL. */
RefinementAtomicScatteringFactor *scatteringFactorForElement(const ElementTable *table,
                                                             const char *symbol);

void freeElementTable(ElementTable *table);

#endif
