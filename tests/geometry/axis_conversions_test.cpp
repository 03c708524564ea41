// Axis conversions: Bragg angles against std::asin with full-precision π,
// time-of-flight inverses against the forward calibration, and the
// degenerate calibrations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "powderkit.h"

namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

RefinementProfile *profile(int32_t experiment) { return makeRefinementProfile(experiment, 2, 0, 1.5406, 10.0, 120.0); }

TEST(AxisConversions, TimeOfFlightForwardAndInverse) {
    RefinementProfile *p = profile(4);
    const auto inverse = [p](double dtt1, double dtt2, double zero, double t) {
        p->dtt1 = dtt1;
        p->dtt2 = dtt2;
        p->zero = zero;
        return dSpacingForTOFMilliseconds(p, t);
    };
    EXPECT_EQ(inverse(1000, 0, 0, 2.0), 2.0);
    EXPECT_NEAR(inverse(1000, 0, 5, 2.005), 2.0, 1e-12);  // linear with a zero shift
    EXPECT_NEAR(inverse(1000, 10, 5, 1.015), 1.0, 1e-12);  // the positive root of the quadratic
    EXPECT_DOUBLE_EQ(tofForDSpacingMicroseconds(p, 1.0), 1015.0);
    EXPECT_DOUBLE_EQ(tofForDSpacing(p, 1.0), 1.015);
    // A negative quadratic term: the smaller root, and none past the top at dtt1²/(4|dtt2|) = 50 ms.
    EXPECT_NEAR(inverse(1000, -5, 0, 1.98), 2.0, 1e-12);
    EXPECT_EQ(inverse(1000, -5, 0, 50.1), 0.0);
    EXPECT_EQ(inverse(0, 0, 0, 2.0), 0.0);  // no calibration
    EXPECT_EQ(inverse(1e-14, 0, 0, 2.0), 0.0);  // below the zero tolerance: still none
    // Pure quadratic: √((1000 t − zero)/dtt2), or 0 when the zero lies past t.
    EXPECT_NEAR(inverse(0, 10, 0, 0.04), 2.0, 1e-12);
    EXPECT_EQ(inverse(0, 10, 100, 0.05), 0.0);
    freeRefinementProfile(p);
}

TEST(AxisConversions, BraggAngleAndItsInverse) {
    RefinementProfile *p = profile(1);
    p->secondaryWavelength = 1.5444;  // used exactly when asked for
    const struct {
        double zero;
        uint8_t secondary;
        double d, twoTheta;
    } cases[] = {
        {0.0, 0, 1.5406, 60.0},
        {0.0, 0, 2.7, 2.0 * std::asin(1.5406 / 5.4) / kDegree},
        {0.0, 1, 2.0, 2.0 * std::asin(1.5444 / 4.0) / kDegree},
        {0.1, 0, 1.5406, 60.1},
        {0.1, 0, 0.7703, 180.1},  // at λ/2 and below, 180° + zero
        {0.1, 0, 0.5, 180.1},
    };
    for (const auto &c : cases) {
        p->zero = c.zero;
        EXPECT_NEAR(twoThetaForDSpacing(p, c.d, c.secondary), c.twoTheta, 1e-9) << c.d;
        const double back = std::max(c.d, 0.7703);  // 180° + zero maps back to λ/2
        EXPECT_NEAR(dSpacingForTwoTheta(p, c.twoTheta, c.secondary), back, 1e-10) << c.d;
    }
    freeRefinementProfile(p);
}

TEST(AxisConversions, DispatchByExperimentAndReflexion) {
    RefinementProfile *cw = profile(1), *tof = profile(4);
    cw->secondaryWavelength = 1.5444;
    tof->dtt2 = 10.0;
    tof->zero = 5.0;
    Reflexion *r = makeReflexion();
    r->dSpacing = 2.0;
    EXPECT_NEAR(xForReflexion(cw, r), 2.0 * std::asin(1.5406 / 4.0) / kDegree, 1e-9);
    r->isSecondaryWavelength = 2;  // any non-zero byte
    EXPECT_NEAR(cw->methods->xForReflexion(cw, r), 2.0 * std::asin(1.5444 / 4.0) / kDegree, 1e-9);
    EXPECT_NEAR(cw->methods->dSpacingForX(cw, 60.0), 1.5406, 1e-10);
    r->dSpacing = 1.0;
    EXPECT_DOUBLE_EQ(tof->methods->xForReflexion(tof, r), 1.015);  // the flag plays no part
    EXPECT_NEAR(tof->methods->dSpacingForX(tof, 1.015), 1.0, 1e-12);
    r->methods->freeReflexion(r);

    // The range: on a 2θ axis the larger d belongs to xMin, on a time-of-flight axis to xMax.
    double dMin = -1.0, dMax = -1.0;
    cw->methods->dSpacingRange(cw, &dMin, &dMax);
    EXPECT_NEAR(dMin, 0.7703 / std::sin(60.0 * kDegree), 1e-10);  // ≈ 0.88947 at 120°
    EXPECT_NEAR(dMax, 0.7703 / std::sin(5.0 * kDegree), 1e-9);    // ≈ 8.83820 at 10°
    tof->dtt2 = 0.0;
    tof->zero = 0.0;
    tof->xMin = 1.0;
    tof->xMax = 10.0;
    dSpacingRange(tof, &dMin, &dMax);
    EXPECT_DOUBLE_EQ(dMin, 1.0);
    EXPECT_DOUBLE_EQ(dMax, 10.0);
    dMin = dMax = -1.0;
    dSpacingRange(tof, nullptr, &dMax);
    dSpacingRange(tof, &dMin, nullptr);
    dSpacingRange(nullptr, &dMin, &dMax);
    EXPECT_EQ(dMin + dMax, -2.0);  // null pointers leave the outputs alone
    freeRefinementProfile(cw);
    freeRefinementProfile(tof);
}

}  // namespace
