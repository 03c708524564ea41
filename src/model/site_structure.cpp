// Structural comparisons of sites: equal occupants, the runs of sites with
// equal occupants that share one scattering-factor evaluation in the
// structure-factor loop, and the text describing a site's coordinate
// constraints.
#include <cstring>

#include "frame/frame.hpp"
#include "model/model.hpp"

namespace powderkit {

// Equal symbols byte for byte and occupancies equal as doubles.
bool siteOccupantsAreEqual(RefinementSiteOccupant *occupant, RefinementSiteOccupant *other) {
    if (occupant == nullptr || other == nullptr) return false;
    if (occupant->symbol == nullptr || other->symbol == nullptr) {
        if (occupant->symbol != other->symbol) return false;
    } else if (std::strcmp(occupant->symbol, other->symbol) != 0) {
        return false;
    }
    return occupant->occupancy == other->occupancy;
}

// Every occupant of `site` finds an equal partner among those of `other`
// (a partner may serve several), and both lists have the same length.
bool siteHasSameOccupants(Site *site, Site *other) {
    if (site == nullptr || other == nullptr) return false;
    const DynamicArray *mine = site->occupants;
    const DynamicArray *theirs = other->occupants;
    if (mine == nullptr || theirs == nullptr || mine->count != theirs->count) return false;
    for (int32_t i = 0; i < mine->count; ++i) {
        auto *occupant = static_cast<RefinementSiteOccupant *>(mine->items[i]);
        bool found = false;
        for (int32_t j = 0; j < theirs->count && !found; ++j) {
            auto *candidate = static_cast<RefinementSiteOccupant *>(theirs->items[j]);
            found = occupant->methods->siteOccupantsAreEqual(occupant, candidate);
        }
        if (!found) return false;
    }
    return true;
}

bool describeSiteConstraints(Site *site, char *buffer, int32_t capacity) {
    if (site == nullptr || site->label == nullptr || buffer == nullptr || capacity <= 0) {
        return false;
    }
    const int length = formatIntoBuffer(
        buffer, static_cast<std::size_t>(capacity),
        "Atomic coordinate constraints for site %-4s: [x = %2d, y = %2d, z = %2d]", site->label,
        site->constraintX, site->constraintY, site->constraintZ);
    return length >= 1 && length < capacity;
}

}  // namespace powderkit

// Each site gets the list position of the first site of the run of
// consecutive sites with equal occupants to which it belongs.
extern "C" void calculateSimilarityIndices(RefinementCrystal *crystal) {
    if (crystal == nullptr || crystal->sites == nullptr || crystal->sites->count == 0) return;
    Site *reference = nullptr;
    for (int32_t i = 0; i < crystal->sites->count; ++i) {
        Site *site = static_cast<Site *>(crystal->sites->items[i]);
        if (site == nullptr) continue;
        if (reference == nullptr || !site->methods->siteHasSameOccupants(site, reference)) {
            site->similarityIndex = i;
            reference = site;
        } else {
            site->similarityIndex = reference->similarityIndex;
        }
    }
}
