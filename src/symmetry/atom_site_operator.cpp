// The operator that relates a generated position (an atom) to its site: the
// first operator of the crystal that carries the site's coordinates, about
// the crystal's displaced origin, onto the atom's position, both folded into
// the cell and compared to within 0.0001 per coordinate.
#include "frame/frame.hpp"
#include "model/model.hpp"

namespace powderkit {
namespace {
constexpr double kAtomSiteTolerance = 0.0001;
}  // namespace
}  // namespace powderkit

extern "C" RefinementSymmetryOperator *symmetryOperatorRelatingAtomToSite(RefinementCrystal *crystal,
                                                                         RefinementAtom *atom,
                                                                         Site *site) {
    if (crystal == nullptr || crystal->symmetryOperators == nullptr) return nullptr;
    const DynamicArray *operators = crystal->symmetryOperators;
    if (operators->count == 0) return nullptr;
    if (operators->count == 1) return static_cast<RefinementSymmetryOperator *>(operators->items[0]);
    if (atom == nullptr || site == nullptr) return nullptr;

    const double reducedAtom[3] = {powderkit::reducedFractionalCoordinate(atom->x),
                                   powderkit::reducedFractionalCoordinate(atom->y),
                                   powderkit::reducedFractionalCoordinate(atom->z)};
    const double siteCoordinates[3] = {site->x, site->y, site->z};
    for (int32_t i = 0; i < operators->count; ++i) {
        auto *op = static_cast<RefinementSymmetryOperator *>(operators->items[i]);
        if (op == nullptr) continue;
        double image[3];
        transformVectorWithDisplacedOrigin(image, op, siteCoordinates, crystal->originShift);
        for (double &component : image) component = powderkit::reducedFractionalCoordinate(component);
        if (powderkit::positionsCoincide(reducedAtom, image, powderkit::kAtomSiteTolerance)) return op;
    }
    powderkit::printToStream(stderr, "unable to find symmetry operator for atom %s at {%.4f, %.4f, %.4f}\n",
                             site->label != nullptr ? site->label : "", atom->x, atom->y, atom->z);
    return nullptr;
}
