// Building a crystal's reflexion list the way a host does: the index box
// from maxNumRefs (widened so that oblique cells lose nothing), one member of
// each Friedel pair, the lattice and operator absences, generation records
// sorted by decreasing d, and one Reflexion per set of equivalent planes with
// the multiplicity of planesRelatedBySymmetry. Uses only the public header.
#ifndef PK_TEST_REFLEXION_BUILDER_HPP
#define PK_TEST_REFLEXION_BUILDER_HPP

#include <vector>

#include "powderkit.h"

namespace pk_test {

// The exact absence rule: (h k l) is absent when some operator (R, t) has
// h·R = h and h·t not an integer (lattice centring included).
bool isSystematicallyAbsent(const RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l);

// Every allowed plane with d ≥ dMin, one of each Friedel pair, sorted with
// compareRefGenRecByDSpacing. The crystal needs its metric tensors and
// operators.
std::vector<RefGenRec> generationRecords(RefinementCrystal *crystal, double dMin);

// Replaces crystal->reflexions with one Reflexion (h, k, l, multiplicity,
// dSpacing) per set of equivalent planes with d ≥ dMin, largest d first.
// Returns the number of reflexions, or −1 when memory ran out (the list then
// holds those made so far).
int32_t buildReflexionList(RefinementCrystal *crystal, double dMin);

}  // namespace pk_test

#endif
