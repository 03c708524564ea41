// Building crystals for tests and examples from the reference tables in
// tests/data: structures.tsv (cell and sites of each structure) and
// spacegroups.tsv (the full operator list of each space group, identity
// first). Uses only the public header, so host programs can share it.
#ifndef PK_TEST_CRYSTAL_BUILDER_HPP
#define PK_TEST_CRYSTAL_BUILDER_HPP

#include <functional>
#include <string>
#include <vector>

#include "powderkit.h"

namespace pk_test {

// Makes the scattering-factor record of an element symbol (owned by the
// occupant it is given to), or returns NULL to leave the occupant without one.
// pk_test::makeScatteringFactorFor (support/element_data.hpp) is one:
// makeReferenceCrystal("Si", pk_test::makeScatteringFactorFor).
using ScatteringFactorFactory =
    std::function<RefinementAtomicScatteringFactor *(const std::string &symbol)>;

// The structure names of structures.tsv, in file order.
std::vector<std::string> referenceStructureNames();

// A text that lives as long as the process: symmetry operators and sites do
// not own their coordinate expressions and labels, so the builders keep them
// here.
const char *persistentText(const std::string &text);

// A new operator with rotation R (row-major), translation t and the three
// coordinate expressions (kept alive with persistentText), or NULL.
RefinementSymmetryOperator *makeSymmetryOperator(const int32_t rotation[9],
                                                 const double translation[3],
                                                 const std::string &x, const std::string &y,
                                                 const std::string &z);

// Gives the crystal the operators of a space group of spacegroups.tsv: a new
// symmetryOperators list (the crystal must not have one yet), the
// translations copied into symmetryTranslations, latticeType from the
// symbol's first letter, and addFriedelMates set when no operator is the
// inversion. False when the group is unknown or memory runs out.
bool addSpaceGroup(RefinementCrystal *crystal, const std::string &spaceGroup);

// A fully built reference crystal (release with freeRefinementCrystal): cell,
// reciprocal cell and both metric tensors; the space group as above; one
// included site per row, with its label, coordinates, one occupant (symbol,
// occupancy and the record that `factory` makes, if any) and an isotropic
// displacement record holding its Uiso; generateUnitCell and
// calculateSimilarityIndices run; no reflexion list. NULL for an unknown name.
RefinementCrystal *makeReferenceCrystal(const std::string &name,
                                        const ScatteringFactorFactory &factory = nullptr);

}  // namespace pk_test

#endif
