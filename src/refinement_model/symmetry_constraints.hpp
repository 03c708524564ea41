// What a space group leaves free of a cell and of a site position.
#ifndef POWDERKIT_REFINEMENT_SYMMETRY_CONSTRAINTS_HPP
#define POWDERKIT_REFINEMENT_SYMMETRY_CONSTRAINTS_HPP

#include <array>

#include "crystal/space_group.hpp"

namespace powderkit::refinement {

// Per cell quantity (a b c α β γ): itself when free, the earlier quantity it
// equals when tied (b = a, γ = α …), −1 when symmetry fixes it at fixedValue
// (degrees: 90, 120).
struct CellSymmetry {
    std::array<int, 6> leader{};
    std::array<double, 6> fixedValue{};
};

CellSymmetry cellSymmetry(const phase::Symmetry &symmetry);

// A site's freedom: the position on its special position nearest the one
// given (the mean of its images under the site-symmetry group), which
// coordinates are free, and for each free coordinate the direction the site
// moves per unit of it (1 in its own place, 0 in the other free ones).
struct SiteSymmetry {
    std::array<double, 3> anchor{};
    std::array<bool, 3> free{};
    std::array<std::array<double, 3>, 3> direction{};
};

SiteSymmetry siteSymmetry(const phase::Symmetry &symmetry, const std::array<double, 3> &position);

}  // namespace powderkit::refinement

#endif
