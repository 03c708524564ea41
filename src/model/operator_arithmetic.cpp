// How a symmetry operator (R, t) acts on a fractional vector: the rotation
// R·v, the full operation R·v + t, and the operation about a displaced
// origin o, R·(v + o) + t − o. Every input component is read before any
// output is stored, so the output may be one of the inputs.
#include "model/model.hpp"

namespace powderkit {
namespace {

void rotate(double out[3], const int32_t (*r)[3], const double w[3]) {
    for (int i = 0; i < 3; ++i) {
        out[i] = static_cast<double>(r[i][0]) * w[0] + static_cast<double>(r[i][1]) * w[1] +
                 static_cast<double>(r[i][2]) * w[2];
    }
}

}  // namespace

double *rotateVector(double *out, const RefinementSymmetryOperator *op, const double *v) {
    const double w[3] = {v[0], v[1], v[2]};
    double u[3];
    rotate(u, op->rotation, w);
    out[0] = u[0];
    out[1] = u[1];
    out[2] = u[2];
    return out;
}

double *transformVector(double *out, const RefinementSymmetryOperator *op, const double *v) {
    const double w[3] = {v[0], v[1], v[2]};
    double u[3];
    rotate(u, op->rotation, w);
    out[0] = u[0] + op->translation[0];
    out[1] = u[1] + op->translation[1];
    out[2] = u[2] + op->translation[2];
    return out;
}

}  // namespace powderkit

// out = R·(v + origin) + t − origin (operator slot 3); out may alias v or
// origin. Returns out.
extern "C" double *transformVectorWithDisplacedOrigin(double *out,
                                                      const RefinementSymmetryOperator *op,
                                                      const double *v, const double *origin) {
    const double o[3] = {origin[0], origin[1], origin[2]};
    const double w[3] = {v[0] + o[0], v[1] + o[1], v[2] + o[2]};
    double u[3];
    powderkit::rotate(u, op->rotation, w);
    out[0] = u[0] + op->translation[0] - o[0];
    out[1] = u[1] + op->translation[1] - o[1];
    out[2] = u[2] + op->translation[2] - o[2];
    return out;
}
