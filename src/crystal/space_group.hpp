// Space-group operators for the phase layer: the full operator list (centring
// included, identity first) of a Hermann–Mauguin or Hall symbol, or of a list
// of coordinate triplets checked to form a group. The tables are those of the
// gemmi library.
#ifndef POWDERKIT_PHASE_SPACE_GROUP_HPP
#define POWDERKIT_PHASE_SPACE_GROUP_HPP

#include <array>
#include <string>
#include <vector>

namespace powderkit::phase {

// x' = R·x + t on fractional coordinates, with the three coordinate texts
// ("+x+1/4", "-y", "+x-y") the core's records carry.
struct SymmetryOperation {
    std::array<int, 9> rotation;       // R, row-major
    std::array<double, 3> translation; // t, in [0, 1)
    std::array<std::string, 3> expressions;
};

struct Symmetry {
    std::string symbol;                     // as given, or "" for triplets
    std::vector<SymmetryOperation> operations;  // identity first
    char latticeType;                       // P, A, B, C, I, F or R (obverse)
    bool centrosymmetric;
    std::string warning;                    // what the symbol left open, or ""
};

// From a Hermann–Mauguin symbol with an optional setting (":H", ":R", ":1",
// ":2"; a bare symbol takes the tables' standard setting), or failing that a
// Hall symbol. Fails naming the symbol. A bare symbol of a group with two
// origin choices takes origin choice 1, as CIF reads it, with a warning that
// names both.
Symmetry symmetryFromSymbol(const std::string &symbol);

// From a Hall symbol only.
Symmetry symmetryFromHall(const std::string &hall);

// From coordinate triplets ("x,y,z", "-y+1/2,x,z"). Fails, naming `where`,
// when a triplet does not parse or the operators do not form a group.
Symmetry symmetryFromTriplets(const std::vector<std::string> &triplets, const std::string &where);

}  // namespace powderkit::phase

#endif
