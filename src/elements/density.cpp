// The density of a crystal: the mass of every generated position, weighted by
// occupancy and taken from the built-in atomic-weight table, over the cell
// volume. With weights in g/mol and lengths in Å, 1 u/Å³ = 1660.56 kg/m³.
#include <cmath>

#include "frame/frame.hpp"
#include "powderkit.h"

extern "C" double calculateDensity(RefinementCrystal *crystal) {
    // V = a·b·sin γ / c*, which is the cell volume; the stored volume is not used.
    const double volume =
        crystal->a * crystal->b * std::sin(crystal->gamma * powderkit::kDegreesToRadians) /
        crystal->cStar;
    double mass = 0.0;
    const DynamicArray *sites = crystal->sites;
    for (int32_t i = 0; i < sites->count; ++i) {
        Site *site = static_cast<Site *>(sites->items[i]);
        if (site == nullptr || site->atoms == nullptr) continue;
        mass += static_cast<double>(site->atoms->count) * site->methods->siteWeight(site);
    }
    return mass * 1660.56 / volume;
}
