// Axis conversions: Bragg angles against std::asin with full-precision π,
// time-of-flight inverses against the forward calibration, and the
// degenerate calibrations.
#include <gtest/gtest.h>

#include <cmath>

#include "powderkit.h"

namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

struct Profile {
    explicit Profile(int32_t experiment) : p(makeRefinementProfile(experiment, 2, 0, 1.5406, 10.0, 120.0)) {}
    ~Profile() { freeRefinementProfile(p); }
    RefinementProfile *p;
};

TEST(AxisConversions, TimeOfFlightRoundTripsWithAndWithoutTheQuadraticTerm) {
    Profile tof(4);
    RefinementProfile *p = tof.p;
    p->dtt1 = 1000.0;
    EXPECT_DOUBLE_EQ(tofForDSpacing(p, 2.0), 2.0);
    EXPECT_DOUBLE_EQ(tofForDSpacingMicroseconds(p, 2.0), 2000.0);
    EXPECT_DOUBLE_EQ(dSpacingForTOFMilliseconds(p, 2.0), 2.0);

    p->dtt2 = 10.0;
    p->zero = 5.0;
    EXPECT_DOUBLE_EQ(tofForDSpacingMicroseconds(p, 1.0), 1015.0);
    EXPECT_DOUBLE_EQ(tofForDSpacing(p, 1.0), 1.015);
    EXPECT_NEAR(dSpacingForTOFMilliseconds(p, 1.015), 1.0, 1e-12);
    for (double d : {0.3, 0.8, 1.7, 4.2, 11.0}) {
        EXPECT_NEAR(dSpacingForTOFMilliseconds(p, tofForDSpacing(p, d)), d, 1e-11) << d;
    }

    // A negative quadratic term: the physical (smaller) root, and none at all
    // once the parabola's top is passed (t > dtt1²/(4|dtt2|) = 50 ms).
    p->dtt2 = -5.0;
    p->zero = 0.0;
    EXPECT_NEAR(dSpacingForTOFMilliseconds(p, 1.98), 2.0, 1e-12);
    EXPECT_EQ(dSpacingForTOFMilliseconds(p, 50.1), 0.0);

    // Linear calibration with a zero shift.
    p->dtt2 = 0.0;
    p->zero = 5.0;
    EXPECT_NEAR(dSpacingForTOFMilliseconds(p, 2.005), 2.0, 1e-12);
}

TEST(AxisConversions, DegenerateTimeOfFlightCalibrations) {
    Profile tof(4);
    RefinementProfile *p = tof.p;
    p->dtt1 = 0.0;
    p->dtt2 = 0.0;
    EXPECT_EQ(dSpacingForTOFMilliseconds(p, 2.0), 0.0);
    p->dtt1 = 1e-14;  // below the zero tolerance: still no calibration
    EXPECT_EQ(dSpacingForTOFMilliseconds(p, 2.0), 0.0);

    // Pure quadratic: d = √((1000 t − zero)/dtt2), or 0 when the zero lies past t.
    p->dtt1 = 0.0;
    p->dtt2 = 10.0;
    EXPECT_NEAR(dSpacingForTOFMilliseconds(p, 0.04), 2.0, 1e-12);
    p->zero = 100.0;
    EXPECT_EQ(dSpacingForTOFMilliseconds(p, 0.05), 0.0);
}

TEST(AxisConversions, BraggAngleAndItsInverse) {
    Profile cw(1);
    RefinementProfile *p = cw.p;
    EXPECT_NEAR(twoThetaForDSpacing(p, 1.5406, 0), 60.0, 1e-9);
    EXPECT_NEAR(dSpacingForTwoTheta(p, 60.0, 0), 1.5406, 1e-10);
    const double expected = 2.0 * std::asin(1.5406 / (2.0 * 2.7)) / kDegree;
    EXPECT_NEAR(twoThetaForDSpacing(p, 2.7, 0), expected, 1e-9);
    EXPECT_NEAR(dSpacingForTwoTheta(p, expected, 0), 2.7, 1e-10);

    p->zero = 0.1;
    EXPECT_NEAR(twoThetaForDSpacing(p, 1.5406, 0), 60.1, 1e-9);
    EXPECT_NEAR(dSpacingForTwoTheta(p, 60.1, 0), 1.5406, 1e-10);
    // Below λ/2 (and exactly at it) the reflexion lands at 180° + zero.
    EXPECT_NEAR(twoThetaForDSpacing(p, 0.5, 0), 180.1, 1e-9);
    EXPECT_NEAR(twoThetaForDSpacing(p, 0.7703, 0), 180.1, 1e-9);

    // The second wavelength is used exactly when asked for.
    p->zero = 0.0;
    p->secondaryWavelength = 1.5444;
    const double second = 2.0 * std::asin(1.5444 / (2.0 * 2.0)) / kDegree;
    EXPECT_NEAR(twoThetaForDSpacing(p, 2.0, 1), second, 1e-9);
    EXPECT_NEAR(dSpacingForTwoTheta(p, second, 1), 2.0, 1e-10);
    EXPECT_NEAR(dSpacingForTwoTheta(p, second, 0), 1.5406 / 1.5444 * 2.0, 1e-10);
}

TEST(AxisConversions, DispatchByExperimentAndReflexion) {
    Profile cw(1);
    RefinementProfile *p = cw.p;
    p->secondaryWavelength = 1.5444;
    Reflexion *r = makeReflexion();
    r->dSpacing = 2.0;
    EXPECT_NEAR(xForReflexion(p, r), 2.0 * std::asin(1.5406 / 4.0) / kDegree, 1e-9);
    r->isSecondaryWavelength = 2;  // any non-zero byte
    EXPECT_NEAR(p->methods->xForReflexion(p, r), 2.0 * std::asin(1.5444 / 4.0) / kDegree, 1e-9);
    EXPECT_NEAR(p->methods->dSpacingForX(p, 60.0), 1.5406, 1e-10);

    Profile tof(4);
    RefinementProfile *t = tof.p;
    t->dtt2 = 10.0;
    t->zero = 5.0;
    r->dSpacing = 1.0;
    EXPECT_DOUBLE_EQ(t->methods->xForReflexion(t, r), 1.015);  // the flag plays no part
    EXPECT_NEAR(t->methods->dSpacingForX(t, 1.015), 1.0, 1e-12);
    r->methods->freeReflexion(r);
}

TEST(AxisConversions, SpacingRangeOfThePattern) {
    Profile cw(1);
    double dMin = -1.0, dMax = -1.0;
    cw.p->methods->dSpacingRange(cw.p, &dMin, &dMax);
    EXPECT_NEAR(dMin, 0.7703 / std::sin(60.0 * kDegree), 1e-10);  // ≈ 0.88947 at 120°
    EXPECT_NEAR(dMax, 0.7703 / std::sin(5.0 * kDegree), 1e-9);    // ≈ 8.83820 at 10°
    EXPECT_NEAR(dMin, 0.88947, 1e-5);
    EXPECT_NEAR(dMax, 8.83820, 1e-5);

    // On a time-of-flight axis the larger d belongs to xMax.
    Profile tof(4);
    tof.p->xMin = 1.0;
    tof.p->xMax = 10.0;
    dSpacingRange(tof.p, &dMin, &dMax);
    EXPECT_DOUBLE_EQ(dMin, 1.0);
    EXPECT_DOUBLE_EQ(dMax, 10.0);

    // Null pointers leave the outputs alone.
    dMin = dMax = -1.0;
    dSpacingRange(tof.p, nullptr, &dMax);
    dSpacingRange(tof.p, &dMin, nullptr);
    dSpacingRange(nullptr, &dMin, &dMax);
    EXPECT_EQ(dMin, -1.0);
    EXPECT_EQ(dMax, -1.0);
}

}  // namespace
