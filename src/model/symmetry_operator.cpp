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
    return powderkit::makeZeroedRecord<RefinementSymmetryOperator>(
        &powderkit::kSymmetryOperatorMethods);
}
