// The scattering-factor record of one species. It owns nothing beyond itself,
// so its free operation is shared with the profile record, which owns nothing
// either: freeRefinementProfile is the same entry point.
#include <cstdlib>

#include "model/model.hpp"

namespace powderkit {

const RefinementAtomicScatteringFactorMethods kScatteringFactorMethods = {
    freeRefinementAtomicScatteringFactor,
    neutronScatteringLength,
    xrayScatteringFactor,
};

}  // namespace powderkit

extern "C" {

RefinementAtomicScatteringFactor *makeRefinementAtomicScatteringFactor(void) {
    return powderkit::makeZeroedRecord<RefinementAtomicScatteringFactor>(
        &powderkit::kScatteringFactorMethods);
}

void freeRefinementAtomicScatteringFactor(RefinementAtomicScatteringFactor *record) {
    std::free(record);
}

// One entry point for both records: the profile's free is an alias.
void freeRefinementProfile(RefinementProfile *profile)
    __attribute__((alias("freeRefinementAtomicScatteringFactor")));

}  // extern "C"
