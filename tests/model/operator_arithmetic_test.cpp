// Operator arithmetic and folding into the cell, the computing slots of the
// operator and site records, on images worked out by hand.
#include <gtest/gtest.h>

#include <array>

#include "model/model.hpp"
#include "support/symmetry_operators.hpp"

namespace {

using powderkit::reducedFractionalCoordinate;
using pk_test::makeOperator;
constexpr pk_test::Rotation kOne = pk_test::kIdentity;
constexpr pk_test::Rotation kBar = pk_test::kInversion;

void expectVector(const double *v, double x, double y, double z) {
    EXPECT_DOUBLE_EQ(v[0], x);
    EXPECT_DOUBLE_EQ(v[1], y);
    EXPECT_DOUBLE_EQ(v[2], z);
}

TEST(SymmetryOperator, RotationTranslationAndDisplacedOrigin) {
    // A fourfold screw along z: (x, y, z) → (−y, x, z + 1/4).
    RefinementSymmetryOperator *op = makeOperator({0, -1, 0, 1, 0, 0, 0, 0, 1}, 0.0, 0.0, 0.25);
    double v[3] = {0.1, 0.2, 0.3}, out[3];
    op->methods->rotateVector(out, op, v);
    expectVector(out, -0.2, 0.1, 0.3);
    EXPECT_EQ(op->methods->transformVector(v, op, v), v);  // in place
    expectVector(v, -0.2, 0.1, 0.55);
    // R·(v + o) + t − o with o = (0.1, 0, 0), written over the origin: (−0.2, 0.2, 0.55) − o.
    double w[3] = {0.1, 0.2, 0.3}, origin[3] = {0.1, 0.0, 0.0};
    op->methods->transformVectorWithDisplacedOrigin(origin, op, w, origin);
    expectVector(origin, -0.3, 0.2, 0.55);
    // With a displaced origin a pure translation still gives v + t; the inversion gives −v − 2o.
    RefinementSymmetryOperator *shift = makeOperator(kOne, 0.5, 0.5, 0.0), *invert = makeOperator(kBar);
    const double o[3] = {0.05, -0.1, 0.125};
    transformVectorWithDisplacedOrigin(out, shift, w, o);
    expectVector(out, 0.6, 0.7, 0.3);
    transformVectorWithDisplacedOrigin(out, invert, w, o);
    for (double &u : out) u = reducedFractionalCoordinate(u);
    expectVector(out, 0.8, 0.0, 0.45);  // (−0.2, 0.0, −0.55) folded
    for (auto *each : {op, shift, invert}) each->methods->freeRefinementSymmetryOperator(each);
}

TEST(FractionalCoordinates, FoldingIntoTheCellAndCoincidence) {
    const double in[] = {0.3, -0.25, 2.25, -3.75, 1.0, -1.0, 0.999995, 0.000005, -0.000005, 3.0, 0.00002};
    const double out[] = {0.3, 0.75, 0.25, 0.25, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.00002};  // faces ± 1e-5 give 0
    Site *site = makeEmptySite();
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(reducedFractionalCoordinate(in[i]), out[i]) << in[i];
        site->y = in[i];
        site->methods->wrapSiteCoordinates(site);
        EXPECT_EQ(site->y, out[i]) << in[i];
    }
    powderkit::freeSite(site);
    const double huge = reducedFractionalCoordinate(1e12 + 0.5);  // past the 32-bit range: still in [0, 1)
    EXPECT_TRUE(huge >= 0.0 && huge < 1.0) << huge;

    const double p[3] = {0.2, 0.3, 0.4}, near[3] = {0.2001, 0.3001, 0.4001}, apart[3] = {0.20012, 0.3, 0.4};
    const double face[3] = {0.0, 0.3, 0.4}, otherFace[3] = {0.99999, 0.3, 0.4};
    EXPECT_TRUE(powderkit::positionsCoincide(p, near, 0.00011));
    EXPECT_FALSE(powderkit::positionsCoincide(p, apart, 0.00011));
    EXPECT_FALSE(powderkit::positionsCoincide(face, otherFace, 0.00011));  // no lattice translation
}

}  // namespace
