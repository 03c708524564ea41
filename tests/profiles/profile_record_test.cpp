// The profile record's defaults by profile type, its method table and the
// process-wide asymmetry cut-off.
#include <gtest/gtest.h>

#include "powderkit.h"
#include "profiles/profiles.hpp"
#include "support/allocation_failure.hpp"

namespace {

TEST(ProfileRecord, DefaultsOfTheLorentzian) {
    RefinementProfile *p = makeRefinementProfile(1, 2, 1, 1.5, 5.0, 90.0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->U, 0.0);
    EXPECT_EQ(p->V, 0.0);
    EXPECT_EQ(p->W, 0.0);
    EXPECT_EQ(p->LX, 0.005);
    EXPECT_EQ(p->LY, 0.005);
    EXPECT_EQ(p->tofTwoTheta, 90.0);
    EXPECT_EQ(p->dtt1, 1000.0);
    EXPECT_EQ(p->dtt2, 0.0);
    EXPECT_EQ(p->zero, 0.0);
    EXPECT_EQ(p->asymmetry, 0.0);
    for (double b : p->backgroundCoefficients) EXPECT_EQ(b, 0.0);
    EXPECT_EQ(p->wavelength, 1.5);
    EXPECT_EQ(p->xMin, 5.0);
    EXPECT_EQ(p->xMax, 90.0);
    EXPECT_EQ(p->experimentType, 1);
    EXPECT_EQ(p->radiationType, 2);
    EXPECT_EQ(p->profileType, 1);
    EXPECT_EQ(p->useSecondaryWavelength, 0);
    p->methods->freeRefinementProfile(p);
}

TEST(ProfileRecord, EveryOtherTypeStartsWithGaussianWidths) {
    for (int32_t type : {0, 2, 3, 4, 7, -1}) {
        RefinementProfile *p = makeRefinementProfile(4, 3, type, 0.0, 1.0, 20.0);
        EXPECT_EQ(p->U, 0.002) << type;
        EXPECT_EQ(p->V, -0.002) << type;
        EXPECT_EQ(p->W, 0.005) << type;
        EXPECT_EQ(p->LX, 0.0) << type;
        EXPECT_EQ(p->LY, 0.0) << type;
        freeRefinementProfile(p);
    }
    freeRefinementProfile(nullptr);
    EXPECT_EQ(ProfileFuncForProfileType(5), nullptr);
    EXPECT_EQ(ProfileFuncForProfileType(-1), nullptr);

    pk_test::failAllocationNumber(1);
    EXPECT_EQ(makeRefinementProfile(1, 2, 0, 1.5, 5.0, 90.0), nullptr);
    pk_test::disarmAllocationFailure();
}

TEST(ProfileRecord, AsymmetryCutoffIsProcessWide) {
    // As loaded (every test that moves the cut-off puts it back).
    EXPECT_EQ(powderkit::asymmetryCutoff2Theta, 50.0);
    SetAsymmetryCutoff2Theta(30.0);
    EXPECT_EQ(powderkit::asymmetryCutoff2Theta, 30.0);
    SetAsymmetryCutoff2Theta(50.0);
}

}  // namespace
