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
    auto *record = static_cast<RefinementThermalEllipsoidUij *>(
        std::calloc(1, sizeof(RefinementThermalEllipsoidUij)));
    if (record != nullptr) record->methods = &powderkit::kDisplacementMethods;
    return record;
}
