// The site occupant: one chemical species on a site, with its own copy of the
// element symbol and its scattering-factor record, both owned.
#include <cstdlib>

#include "elements/elements.hpp"
#include "frame/frame.hpp"
#include "model/model.hpp"

namespace powderkit {

void freeRefinementSiteOccupant(RefinementSiteOccupant *occupant) {
    if (occupant == nullptr) return;
    std::free(occupant->symbol);
    if (occupant->scatteringFactor != nullptr) {
        occupant->scatteringFactor->methods->freeRefinementAtomicScatteringFactor(
            occupant->scatteringFactor);
    }
    std::free(occupant);
}

const RefinementSiteOccupantMethods kSiteOccupantMethods = {
    freeRefinementSiteOccupant,
    siteOccupantsAreEqual,
    siteOccupantScatteringFactor,
};

}  // namespace powderkit

extern "C" RefinementSiteOccupant *makeRefinementSiteOccupant(
    const char *symbol, double occupancy, RefinementAtomicScatteringFactor *scatteringFactor) {
    auto *occupant = powderkit::makeZeroedRecord<RefinementSiteOccupant>(
        &powderkit::kSiteOccupantMethods);
    if (occupant == nullptr) return nullptr;
    if (symbol != nullptr) {
        occupant->symbol = powderkit::copyText(symbol);
        if (occupant->symbol == nullptr) {
            // The scattering-factor record stays the caller's.
            std::free(occupant);
            return nullptr;
        }
    }
    occupant->occupancy = occupancy;
    occupant->scatteringFactor = scatteringFactor;
    return occupant;
}
