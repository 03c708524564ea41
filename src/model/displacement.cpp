// The displacement record of a site: an isotropic U or a full anisotropic
// tensor, chosen by its flag.
#include <cstdlib>

#include "model/model.hpp"

namespace powderkit {

void freeRefinementThermalEllipsoidUij(RefinementThermalEllipsoidUij *record) {
    std::free(record);
}

const RefinementThermalEllipsoidUijMethods kDisplacementMethods = {
    freeRefinementThermalEllipsoidUij,
    uIsoEquivalent,
    temperatureFactor,
};

}  // namespace powderkit

extern "C" RefinementThermalEllipsoidUij *makeRefinementThermalEllipsoidUij(void) {
    return powderkit::makeZeroedRecord<RefinementThermalEllipsoidUij>(
        &powderkit::kDisplacementMethods);
}
