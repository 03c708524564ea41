// The site record of the asymmetric unit: make, the free operations of the
// site and its two lists, and the site method table. A site owns its
// generated positions, its occupants and its displacement record; its label
// belongs to the host.
#include <cstdlib>

#include "elements/elements.hpp"
#include "model/model.hpp"

namespace powderkit {

void freeSiteAtoms(Site *site) {
    if (site == nullptr) return;
    // The field is not cleared: both callers free the site or store a new list.
    freeListOfRecords(site->atoms, &RefinementAtomMethods::freeRefinementAtom);
}

void freeSiteOccupants(Site *site) {
    if (site == nullptr) return;
    freeListOfRecords(site->occupants, &RefinementSiteOccupantMethods::freeRefinementSiteOccupant);
}

void freeSite(Site *site) {
    if (site == nullptr) return;
    freeSiteAtoms(site);
    freeSiteOccupants(site);
    if (site->displacement != nullptr) {
        site->displacement->methods->freeRefinementThermalEllipsoidUij(site->displacement);
    }
    std::free(site);
}

// Slots whose operations belong to other subsystems are filled as those land.
const SiteMethods kSiteMethods = {
    freeSite,
    freeSiteAtoms,
    freeSiteOccupants,
    wrapSiteCoordinates,
    siteHasSameOccupants,
    describeSiteConstraints,
    siteScatteringFactor,
    siteWeight,
};

}  // namespace powderkit

extern "C" Site *makeEmptySite(void) {
    return powderkit::makeZeroedRecord<Site>(&powderkit::kSiteMethods);
}
