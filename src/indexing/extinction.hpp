// The extinction symbols a candidate cell's indexed lines allow: the space
// groups of its lattice system grouped by the reflexions they make absent,
// each group named by its extinction symbol.
#ifndef POWDERKIT_INDEXING_EXTINCTION_HPP
#define POWDERKIT_INDEXING_EXTINCTION_HPP

#include <string>
#include <vector>

#include "indexing/indexing.hpp"

namespace powderkit::indexing {

struct ExtinctionClass {
    std::string symbol;               // "P 1 21/c 1", "I - - -"
    std::vector<std::string> groups;  // Hermann–Mauguin symbols of the space groups carrying it
    char centring = 'P';              // the lattice letter of its groups
    int absentLines = 0;              // possible lines every reflexion of which it makes absent
    int ambiguousLines = 0;           // observed lines with reflexions it allows and forbids
};

// `observed`: for each observed line, the reflexions of the conventional
// cell within its tolerance; `possible`: every calculated line up to the last
// observed one, each its reflexions. Indices may be any one of a set of
// metric-equivalent reflexions: each is widened to the system's holohedry,
// whose members coincide on a powder pattern. Returns the classes of the
// system's space groups (monoclinic: b unique, every cell choice;
// orthorhombic: every setting; hexagonal: trigonal and hexagonal groups on
// hexagonal axes, R-centred ones obverse) under which every observed line
// keeps a reflexion, the most absent lines first.
std::vector<ExtinctionClass> consistentExtinctionClasses(LatticeSystem system,
                                                         const std::vector<std::vector<Hkl>> &observed,
                                                         const std::vector<std::vector<Hkl>> &possible);

}  // namespace powderkit::indexing

#endif
