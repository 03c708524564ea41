// The profile record's defaults by profile type, the shape table's range and
// the process-wide asymmetry cut-off as loaded.
#include <gtest/gtest.h>

#include "profiles/profiles.hpp"
#include "support/allocation_failure.hpp"

namespace {

TEST(ProfileRecord, DefaultsByTypeAndBadArguments) {
    // The Lorentzian starts with LX = LY = 0.005 and no Gaussian width, other types the reverse.
    const double gaussian[5] = {0.002, -0.002, 0.005, 0, 0}, lorentzian[5] = {0, 0, 0, .005, .005};
    for (const int32_t type : {1, 0, 2, 3, 4, 7, -1}) {
        RefinementProfile *p = makeRefinementProfile(4, 3, type, 1.5, 5.0, 20.0);
        const double widths[5] = {p->U, p->V, p->W, p->LX, p->LY};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(widths[i], (type == 1 ? lorentzian : gaussian)[i]);
        EXPECT_TRUE(p->wavelength == 1.5 && p->xMin == 5.0 && p->xMax == 20.0 &&
                    p->experimentType == 4 && p->radiationType == 3 && p->profileType == type);
        EXPECT_TRUE(p->tofTwoTheta == 90.0 && p->dtt1 == 1000.0 && p->dtt2 == 0.0 &&
                    p->zero == 0.0 && p->asymmetry == 0.0 && p->useSecondaryWavelength == 0);
        for (const double b : p->backgroundCoefficients) EXPECT_EQ(b, 0.0);
        p->methods->freeRefinementProfile(p);
    }
    EXPECT_EQ(powderkit::asymmetryCutoff2Theta, 50.0);  // as loaded; tests that move it put it back
    EXPECT_EQ(ProfileFuncForProfileType(5), nullptr);
    EXPECT_EQ(ProfileFuncForProfileType(-1), nullptr);
    freeRefinementProfile(nullptr);
    pk_test::forEachFailedAllocation([] { return makeRefinementProfile(1, 2, 0, 1.5, 5.0, 90.0); },
                                     [](RefinementProfile *p, bool failed) {
                                         EXPECT_EQ(p == nullptr, failed);
                                         freeRefinementProfile(p);
                                     });
}

}  // namespace
