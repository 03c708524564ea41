// The reference structures as the tests use them: each read through the phase
// layer from its CIF file in examples/data and handed over as the core's
// records. The names are those of tests/data/structures.tsv ("Si", "NaCl",
// "corundum", …), so that a crystal and its independent reference list in
// tests/data/reflexions/NAME.tsv go by the same name.
#ifndef PK_TEST_REFERENCE_PHASES_HPP
#define PK_TEST_REFERENCE_PHASES_HPP

#include <string>
#include <vector>

#include "powderkit.h"

namespace pk_test {

// The CIF file of a structure name in examples/data; only silicon's is named otherwise.
std::string referenceCifFile(const std::string &name);

// The structure names of tests/data/structures.tsv, in file order.
std::vector<std::string> referenceStructureNames();

// A new core crystal of the named structure (release with
// freeRefinementCrystal): cell, reciprocal cell, metric tensors, the full
// operator list, one included site per row with its occupant, scattering
// data and isotropic displacement (useAnisotropicDisplacement set, so the
// displacements apply), the unit cell generated and the similarity indices
// set; with dMin > 0 also one Reflexion per set of equivalent planes down to
// dMin (h k l, multiplicity, d; no intensities yet). The phase it comes from
// lives until the process ends, so the crystal may outlive any scope. NULL
// for an unknown name or when the layer fails (the failure is printed).
RefinementCrystal *makeReferenceCrystal(const std::string &name, double dMin = 0.0);

}  // namespace pk_test

#endif
