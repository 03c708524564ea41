// The reflexion record: one set of symmetry-equivalent planes with its
// d-spacing, structure factor, Lorentz-polarisation factor and intensity.
#include <cstdlib>

#include "model/model.hpp"

namespace powderkit {

void freeReflexion(Reflexion *reflexion) { std::free(reflexion); }

const ReflexionMethods kReflexionMethods = {freeReflexion};

}  // namespace powderkit

extern "C" Reflexion *makeReflexion(void) {
    return powderkit::makeZeroedRecord<Reflexion>(&powderkit::kReflexionMethods);
}
