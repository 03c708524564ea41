// The phase: a complete crystal as described (cell, symmetry, sites) and the
// core's records built from it once, read-only afterwards, so that threads
// may compute from one phase at the same time.
#ifndef POWDERKIT_PHASE_PHASE_HPP
#define POWDERKIT_PHASE_PHASE_HPP

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "crystal/element_table.hpp"
#include "crystal/space_group.hpp"
#include "powderkit.h"
#include "powderkit_phase.h"

namespace powderkit::phase {

// One site of the asymmetric unit.
struct SiteDescription {
    std::string label;
    std::string type;                   // as given: "Fe3+", "O"
    const ElementData *element = nullptr;
    double x = 0.0, y = 0.0, z = 0.0;   // fractional
    double occupancy = 1.0;
    double uIso = 0.0;                  // Å²
    bool anisotropic = false;
    std::array<double, 6> u{};          // U11 U22 U33 U12 U13 U23, Å²
};

struct PhaseDescription {
    std::string name;
    std::array<double, 6> cell{};       // a b c (Å), α β γ (degrees)
    Symmetry symmetry;
    std::vector<SiteDescription> sites;
};

// Releases a core crystal and every record it owns.
struct CrystalDeleter {
    void operator()(RefinementCrystal *crystal) const { freeRefinementCrystal(crystal); }
};
using CrystalPointer = std::unique_ptr<RefinementCrystal, CrystalDeleter>;

// Checks a description (cell, sites, elements) and fails naming the field.
// `where` prefixes each message (a file name, or the phase name).
void validateDescription(const PhaseDescription &description, const std::string &where);

// The core's crystal of a checked description: cell, reciprocal cell, metric
// tensors, operators, sites with their scattering data and displacements,
// the sites expanded into the cell. Texts the records point to stay owned by
// `description`, which must outlive the crystal.
CrystalPointer buildCrystal(const PhaseDescription &description);

// The description of the data block `block` (NULL for the first) of CIF text;
// `source` names the text in messages (a file name, or "CIF text").
PhaseDescription readCifDescription(const std::string &text, const std::string &source,
                                    const char *block);

}  // namespace powderkit::phase

// The handle: the description and the crystal made from it.
struct pk_phase {
    powderkit::phase::PhaseDescription description;
    powderkit::phase::CrystalPointer crystal;
    std::string warnings;  // pk_phase_warnings: one per line
};

#endif
