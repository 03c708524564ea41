// Internal interface of the site-symmetry constraints on displacement
// parameters.
#ifndef POWDERKIT_SITE_CONSTRAINTS_HPP
#define POWDERKIT_SITE_CONSTRAINTS_HPP

#include <cstdint>

namespace powderkit {

// Positions of the six codes: U11, U22, U33, U23, U13, U12.
enum ConstraintIndex { kU11 = 0, kU22 = 1, kU33 = 2, kU23 = 3, kU13 = 4, kU12 = 5 };

struct PointOperationConstraint {
    int32_t rotation[9];  // row-major
    int32_t codes[6];     // U11 U22 U33 U23 U13 U12
};

constexpr int kPointOperationCount = 63;
extern const PointOperationConstraint kPointOperationConstraints[kPointOperationCount];

// Merges the codes `c` of one point operation into the codes `o` being built.
void mergePointOperationConstraints(int32_t *o, const int32_t *c);

}  // namespace powderkit

#endif
