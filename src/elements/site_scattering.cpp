// The scattering power and the weight of what occupies a site: each occupant
// contributes its occupancy times the X-ray factor at the reflexion's
// d-spacing (radiation type 2) or the neutron length (type 3), and its
// occupancy times its atomic weight. Temperature factors are applied by the
// structure factor, not here. These run for every reflexion: no allocation.
#include <cstdio>

#include "elements/elements.hpp"
#include "frame/frame.hpp"

namespace powderkit {

double siteOccupantScatteringFactor(RefinementSiteOccupant *occupant, double dSpacing,
                                    int32_t radiationType) {
    // "Not greater than 0" also sends a NaN occupancy here, silently.
    if (occupant == nullptr || !(occupant->occupancy > 0.0)) return 0.0;
    double power = 0.0;
    RefinementAtomicScatteringFactor *record = occupant->scatteringFactor;
    if (record == nullptr) {
        // An occupant made without a symbol is named by an empty text.
        printToStream(stderr, "Undefined atomic scattering factor for site occupant %s",
                      occupant->symbol != nullptr ? occupant->symbol : "");
        power = 1.0;
    } else if (radiationType == PK_RADIATION_XRAY) {
        power = record->methods->xrayScatteringFactor(record, dSpacing);
    } else if (radiationType == PK_RADIATION_NEUTRON) {
        power = record->methods->neutronScatteringLength(record);
    } else {
        printToStream(stderr, "Invalid radiation type for refinement!\n");
    }
    return power * occupant->occupancy;
}

double siteScatteringFactor(Site *site, double dSpacing, int32_t radiationType) {
    if (site == nullptr || site->occupants == nullptr) return 0.0;
    double sum = 0.0;
    const DynamicArray *occupants = site->occupants;
    for (int32_t i = 0; i < occupants->count; ++i) {
        auto *occupant = static_cast<RefinementSiteOccupant *>(occupants->items[i]);
        if (occupant == nullptr) continue;
        sum += occupant->methods->siteOccupantScatteringFactor(occupant, dSpacing, radiationType);
    }
    return sum;
}

double siteWeight(Site *site) {
    if (site == nullptr || site->occupants == nullptr) return 0.0;
    double sum = 0.0;
    const DynamicArray *occupants = site->occupants;
    for (int32_t i = 0; i < occupants->count; ++i) {
        auto *occupant = static_cast<RefinementSiteOccupant *>(occupants->items[i]);
        if (occupant == nullptr) continue;
        sum += atomicWeightForSymbol(occupant->symbol) * occupant->occupancy;
    }
    return sum;
}

}  // namespace powderkit
