/* The reflexion list a host builds with the library's generation operations. */
#ifndef EXAMPLES_REFLEXION_LIST_H
#define EXAMPLES_REFLEXION_LIST_H

#include <stdbool.h>

#include "powderkit.h"

/* True when (h k l) is systematically absent: the lattice centring forbids it,
 * or some operator (R, t) has h·R = h with h·t not an integer. */
bool isSystematicallyAbsent(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l);

/* Replaces the crystal's reflexion list by one reflexion per set of
 * equivalent planes with d ≥ dMin (largest d first), with its multiplicity.
 * Returns the number of reflexions, or -1 when memory runs out. */
int buildReflexionList(RefinementCrystal *crystal, double dMin);

/* Recomputes every reflexion's d-spacing from the current metric tensor. */
void updateDSpacings(RefinementCrystal *crystal);

#endif
