// f′ and f″ of an element at a wavelength, linear in energy between the
// table's rows (see dispersion.hpp).
#include "crystal/dispersion.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>

#include "boundary/boundary.hpp"
#include "crystal/element_table.hpp"
#include "powderkit.h"

namespace powderkit::phase {

namespace {

// The element of a type symbol: its species in the element table ("FE" →
// "Fe", "Fe3+" → "Fe3+"), then that species' leading capital and small
// letter ("Fe3+" → "Fe", "O2-" → "O", "OH" → "O"); deuterium is hydrogen.
std::string elementOf(const char *type) {
    const std::string species = elementForType(type == nullptr ? "" : type).symbol;
    std::string symbol = species.substr(0, 1);
    if (species.size() > 1 && std::islower(static_cast<unsigned char>(species[1]))) symbol.push_back(species[1]);
    return symbol == "D" ? "H" : symbol;
}

const DispersionElement *elementNamed(const std::string &symbol) {
    for (int i = 0; i < kDispersionElementCount; ++i) {
        if (symbol == kDispersionElements[i].symbol) return &kDispersionElements[i];
    }
    return nullptr;
}

}  // namespace

void checkDispersionWavelength(double wavelength, const char *what) {
    const double energy = kPlanckTimesLightSpeed / wavelength;
    if (!(wavelength > 0.0) || !(energy >= kDispersionLowestEnergy && energy <= kDispersionHighestEnergy)) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "%s = %g Å: anomalous dispersion is tabulated for X-ray wavelengths of %.4f to %.4f Å "
                      "only (3 to 30 keV); turn dispersion off",
                      what, wavelength, kPlanckTimesLightSpeed / kDispersionHighestEnergy,
                      kPlanckTimesLightSpeed / kDispersionLowestEnergy);
        fail(PK_ERROR_ARGUMENT, text);
    }
}

Dispersion anomalousDispersion(const char *type, double wavelength) {
    const std::string symbol = elementOf(type);
    const DispersionElement *element = elementNamed(symbol);
    if (element == nullptr) {
        fail(PK_ERROR_ARGUMENT, "no anomalous-dispersion data for \"" + std::string(type == nullptr ? "" : type) +
                                    "\" (the table holds H to U); turn dispersion off");
    }
    checkDispersionWavelength(wavelength, "the wavelength");
    const DispersionRow *rows = kDispersionRows + element->first;
    const int last = element->count - 1;
    const double energy = kPlanckTimesLightSpeed / wavelength;
    // The row pair [i, i + 1] holding the energy: the first row above it, less one.
    int low = 0, high = last;
    while (high - low > 1) {
        const int middle = (low + high) / 2;
        (rows[middle].energy <= energy ? low : high) = middle;
    }
    const DispersionRow &a = rows[low], &b = rows[high];
    const double t = (energy - a.energy) / (b.energy - a.energy);
    Dispersion result;
    result.fPrime = a.fPrime + t * (b.fPrime - a.fPrime);
    result.fDoublePrime = a.fDoublePrime + t * (b.fDoublePrime - a.fDoublePrime);
    return result;
}

}  // namespace powderkit::phase
