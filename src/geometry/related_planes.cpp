// The planes symmetry-equivalent to (h k l). The plane normal is carried
// into direct-lattice components (V·G*·h, through the metric G), rotated by
// each operator (and, with the Friedel option, its negative rotated too),
// the distinct images are brought back to indices through G* and rounded;
// an image counts when its indices are integers and its d-spacing is the
// plane's own. The count is the plane's multiplicity.
#include <cmath>
#include <cstdlib>

#include "frame/frame.hpp"
#include "geometry/geometry.hpp"
#include "model/model.hpp"

namespace {

using powderkit::Vector3;

// Appends w unless an image already in the list coincides with it. The list
// never grows past its room; an image beyond it (only possible with an
// operator list that is not a crystallographic group) is dropped.
void addDistinctImage(Vector3 *images, int32_t &count, const Vector3 &w) {
    for (int32_t i = 0; i < count; ++i) {
        if (powderkit::positionsCoincide(images[i].data(), w.data(),
                                        powderkit::kCoincidenceTolerance)) return;
    }
    if (count < powderkit::kMaxRelatedPlanes) images[count++] = w;
}

// Nearest integer, halves away from zero.
int32_t roundedIndex(double x) {
    int32_t rounded = powderkit::truncateToInt32(x);
    if (std::fabs(x - static_cast<double>(rounded)) >= 0.5) {
        rounded = powderkit::addInt32(rounded, x > 0.0 ? 1 : -1);
    }
    return rounded;
}

}  // namespace

// A new array of count × 3 indices (release with free), or NULL when it
// cannot be allocated (count is then untouched). `unused` plays no part.
extern "C" int32_t *planesRelatedBySymmetry(RefinementCrystal *crystal, const int32_t *hkl,
                                            uint8_t unused, int32_t *count) {
    (void)unused;
    const double d = dSpacingForHKL(crystal, hkl[0], hkl[1], hkl[2]);
    const Vector3 v = powderkit::indicesToVector(hkl[0], hkl[1], hkl[2], crystal->metricTensor);
    const Vector3 minusV = {-v[0], -v[1], -v[2]};
    const bool friedel = crystal->addFriedelMates != 0 && crystal->suppressFriedelMates == 0;

    Vector3 images[powderkit::kMaxRelatedPlanes];
    int32_t imageCount = 0;
    const DynamicArray *operators = crystal->symmetryOperators;
    for (int32_t i = 0; i < operators->count; ++i) {
        const auto *op = static_cast<const RefinementSymmetryOperator *>(operators->items[i]);
        if (op == nullptr) continue;
        Vector3 w;
        op->methods->rotateVector(w.data(), op, v.data());
        addDistinctImage(images, imageCount, w);
        if (friedel) {
            op->methods->rotateVector(w.data(), op, minusV.data());
            addDistinctImage(images, imageCount, w);
        }
    }

    // At least one slot, so that an empty result is still a valid block.
    const std::size_t slots = static_cast<std::size_t>(imageCount > 0 ? imageCount : 1);
    auto *planes = static_cast<int32_t *>(std::malloc(slots * 3 * sizeof(int32_t)));
    if (planes == nullptr) return nullptr;

    int32_t planeCount = 0;
    for (int32_t i = 0; i < imageCount; ++i) {
        const Vector3 x = powderkit::convertWithMetric(images[i], crystal->reciprocalMetricTensor);
        int32_t indices[3];
        bool integral = true;
        for (int j = 0; j < 3; ++j) {
            indices[j] = roundedIndex(x[j]);
            if (std::fabs(x[j] - static_cast<double>(indices[j])) >
                powderkit::kIndexRoundingTolerance) {
                integral = false;
            }
        }
        if (!integral) continue;
        if (std::fabs(d - dSpacingForHKL(crystal, indices[0], indices[1], indices[2])) <
            powderkit::kEquivalentDSpacingTolerance) {
            planes[3 * planeCount] = indices[0];
            planes[3 * planeCount + 1] = indices[1];
            planes[3 * planeCount + 2] = indices[2];
            ++planeCount;
        }
    }
    *count = planeCount;
    return planes;
}
