// Expansion of every site of a crystal into its distinct symmetry-equivalent
// positions in one unit cell: each operator, in list order, maps the folded
// site about the crystal's displaced origin; the image is folded into the
// cell and kept unless it coincides with a position already found. The
// first operator that produces a position is the one recorded with it.
#include "frame/frame.hpp"
#include "model/model.hpp"

namespace powderkit {
namespace {

constexpr int32_t kInitialPositionCapacity = 16;

bool coincidesWithAny(const DynamicArray *positions, const double *p) {
    for (int32_t i = 0; i < positions->count; ++i) {
        const auto *atom = static_cast<const RefinementAtom *>(positions->items[i]);
        const double q[3] = {atom->x, atom->y, atom->z};
        if (positionsCoincide(q, p, kCoincidenceTolerance)) return true;
    }
    return false;
}

// The distinct positions of one (already folded) site, or NULL when the list
// itself cannot be made. A position whose record or slot cannot be had is
// left out.
DynamicArray *positionsOfSite(const Site *site, const RefinementCrystal *crystal) {
    DynamicArray *positions = makeDynamicArrayWithCapacity(kInitialPositionCapacity);
    if (positions == nullptr) return nullptr;
    const DynamicArray *operators = crystal->symmetryOperators;
    const double v[3] = {site->x, site->y, site->z};
    for (int32_t i = 0; i < operators->count; ++i) {
        auto *op = static_cast<RefinementSymmetryOperator *>(operators->items[i]);
        if (op == nullptr) continue;
        double p[3];
        op->methods->transformVectorWithDisplacedOrigin(p, op, v, crystal->originShift);
        for (double &component : p) component = reducedFractionalCoordinate(component);
        if (coincidesWithAny(positions, p)) continue;
        RefinementAtom *atom = makeRefinementAtom(p[0], p[1], p[2]);
        if (atom == nullptr) continue;
        atom->symmetryOperator = op;
        const int32_t before = positions->count;
        addObjectToDynamicArray(positions, atom);
        if (positions->count == before) atom->methods->freeRefinementAtom(atom);
    }
    shrinkDynamicArray(positions);
    return positions;
}

}  // namespace
}  // namespace powderkit

// Replaces every site's `atoms` with its distinct positions in the cell
// (crystal method slot 2). When the list of a site cannot be allocated, the
// site is left with no list (NULL, as before the first generation).
extern "C" void generateUnitCell(RefinementCrystal *crystal) {
    if (crystal == nullptr || crystal->sites == nullptr || crystal->symmetryOperators == nullptr ||
        crystal->sites->count == 0) {
        return;
    }
    for (int32_t i = 0; i < crystal->sites->count; ++i) {
        auto *site = static_cast<Site *>(crystal->sites->items[i]);
        if (site == nullptr) continue;
        site->methods->wrapSiteCoordinates(site);
        DynamicArray *positions = powderkit::positionsOfSite(site, crystal);
        site->methods->freeSiteAtoms(site);
        site->atoms = positions;
    }
}
