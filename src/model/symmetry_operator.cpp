// The symmetry-operator record x' = R·x + t. Its coordinate-expression texts
// belong to the host and are never released here.
#include <cstdlib>

#include "model/model.hpp"

namespace powderkit {

void freeRefinementSymmetryOperator(RefinementSymmetryOperator *op) { std::free(op); }

const RefinementSymmetryOperatorMethods kSymmetryOperatorMethods = {
    freeRefinementSymmetryOperator,
    rotateVector,
    transformVector,
    transformVectorWithDisplacedOrigin,
};

}  // namespace powderkit

extern "C" RefinementSymmetryOperator *makeRefinementSymmetryOperator(void) {
    auto *op = static_cast<RefinementSymmetryOperator *>(
        std::calloc(1, sizeof(RefinementSymmetryOperator)));
    if (op != nullptr) op->methods = &powderkit::kSymmetryOperatorMethods;
    return op;
}
