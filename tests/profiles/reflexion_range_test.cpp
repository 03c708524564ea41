// The profile record's defaults by profile type, the shape table's range, the
// asymmetry cut-off as loaded, and the window of pattern points around a
// reflexion on the positions 0 … 9.
#include <gtest/gtest.h>

#include <array>

#include "profiles/profiles.hpp"

namespace {

TEST(ProfileRecord, DefaultsByTypeAndTheShapeTable) {
    // The Lorentzian starts with LX = LY = 0.005 and no Gaussian width, other types the reverse.
    const double gaussian[5] = {0.002, -0.002, 0.005, 0, 0}, lorentzian[5] = {0, 0, 0, .005, .005};
    for (const int32_t type : {1, 0, 2, 3, 4, 7, -1}) {
        RefinementProfile *p = makeRefinementProfile(4, 3, type, 1.5, 5.0, 20.0);
        const double widths[5] = {p->U, p->V, p->W, p->LX, p->LY};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(widths[i], (type == 1 ? lorentzian : gaussian)[i]);
        EXPECT_TRUE(p->wavelength == 1.5 && p->xMin == 5.0 && p->xMax == 20.0 && p->experimentType == 4 &&
                    p->radiationType == 3 && p->profileType == type && p->tofTwoTheta == 90.0 && p->dtt1 == 1000.0);
        EXPECT_TRUE(p->dtt2 == 0.0 && p->zero == 0.0 && p->asymmetry == 0.0 && p->useSecondaryWavelength == 0);
        for (const double b : p->backgroundCoefficients) EXPECT_EQ(b, 0.0);
        EXPECT_TRUE(p->methods->freeRefinementProfile == freeRefinementProfile && p->methods->dSpacingRange == dSpacingRange &&
                    p->methods->xForReflexion == xForReflexion && p->methods->dSpacingForX == dSpacingForX);
        p->methods->freeRefinementProfile(p);
    }
    EXPECT_EQ(powderkit::asymmetryCutoff2Theta, 50.0);  // as loaded; tests that move it put it back
    const ProfileFunction shapes[5] = {powderkit::gaussianProfile, powderkit::lorentzianProfile, powderkit::pseudoVoigtProfile,
                                       powderkit::tofExpGaussianProfile, powderkit::tofExpPseudoVoigtProfile};
    for (int32_t type = -1; type <= 5; ++type) {
        EXPECT_EQ(ProfileFuncForProfileType(type), type >= 0 && type < 5 ? shapes[type] : nullptr) << type;
    }
    freeRefinementProfile(nullptr);
}

TEST(ReflexionRange, NearestPointWindowAndPeaksOffThePattern) {
    using Indices = std::array<int32_t, 4>;  // first, nearest, last, count
    const Indices untouched = {-1, -2, -3, -4};
    const double positions[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    Reflexion *reflexion = makeReflexion();
    // Off the pattern the tolerance is half × span / count: 2 × 9 / 10 = 1.8 for window 5.
    const struct { double peak; int32_t window; Indices expected; } cases[] = {
        {3.5, 5, {1, 3, 5, 5}},  // a tie goes to the lower index
        {3.51, 5, {2, 4, 6, 5}}, {0.2, 5, {0, 0, 2, 3}}, {9.9, 5, {7, 9, 9, 3}}, {10.5, 5, {7, 9, 9, 3}},
        {-1.7, 5, {0, 0, 2, 3}}, {12.0, 5, untouched}, {10.81, 5, untouched}, {-1.81, 5, untouched},
        {6.0, 1, {6, 6, 6, 1}},  // window 1: the nearest point alone
        {6.2, 4, {5, 6, 7, 3}},  // window 4: half-width (4 − 1) / 2 = 1
        {9.01, 2, untouched},    // window 2: tolerance 0
    };
    for (const auto &c : cases) {
        reflexion->peakPosition = c.peak;
        ReflexionRange range{-1, -2, -3, -4};
        EXPECT_EQ(FindReflexionRange(reflexion, positions, 10, c.window, &range), c.expected != untouched) << c.peak;
        EXPECT_EQ((Indices{range.firstIndex, range.nearestIndex, range.lastIndex, range.pointCount}), c.expected) << c.peak;
    }
    // Null and bad arguments: false with the range untouched.
    reflexion->peakPosition = 5.0;
    ReflexionRange range{-1, -2, -3, -4};
    EXPECT_FALSE(FindReflexionRange(nullptr, positions, 10, 5, &range) || FindReflexionRange(reflexion, nullptr, 10, 5, &range) ||
                 FindReflexionRange(reflexion, positions, 10, 5, nullptr) || FindReflexionRange(reflexion, positions, 0, 5, &range) ||
                 FindReflexionRange(reflexion, positions, 10, 0, &range));
    EXPECT_EQ(range.firstIndex + range.nearestIndex + range.lastIndex + range.pointCount, -10);
    reflexion->methods->freeReflexion(reflexion);
}

}  // namespace
