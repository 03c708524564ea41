// The atom record: one symmetry-equivalent position of a site, with the
// operator that produced it (owned by the crystal, not by the atom).
#include <cstdlib>

#include "model/model.hpp"

namespace powderkit {

void freeRefinementAtom(RefinementAtom *atom) { std::free(atom); }

const RefinementAtomMethods kAtomMethods = {freeRefinementAtom};

}  // namespace powderkit

extern "C" RefinementAtom *makeRefinementAtom(double x, double y, double z) {
    auto *atom = powderkit::makeZeroedRecord<RefinementAtom>(&powderkit::kAtomMethods);
    if (atom == nullptr) return nullptr;
    atom->x = x;
    atom->y = y;
    atom->z = z;
    return atom;
}
