// Profile defaults, the point window of a reflexion, every profile check's reason and summary (roots by hand).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "profiles/profiles.hpp"
#include "support/output_capture.hpp"

namespace {

struct Checked { bool valid; std::string buffer, err; };

Checked check(int32_t type, double xMin, double xMax, const double *v) {
    RefinementProfile *profile = makeRefinementProfile(type >= 3 ? 4 : 1, 3, type, 1.5406, xMin, xMax);
    RefinementProfile &p = *profile;  // U, V, W, LX, LY (types 0-2), or σ0, σ1, σ2, α0, α1, β0 with γ0 = 1 (TOF)
    if (type < 3) p.U = v[0], p.V = v[1], p.W = v[2], p.LX = v[3], p.LY = v[4];
    if (type >= 3) p.sigma0 = v[0], p.sigma1 = v[1], p.sigma2 = v[2], p.alpha0 = v[3], p.alpha1 = v[4], p.beta0 = v[5];
    p.gamma0 = 1.0;
    Checked result{};
    result.err = pk_test::captureStderr([&] { result.valid = ProfileParametersAreValid(profile); });
    result.buffer = GetErrorBuffer();
    freeRefinementProfile(profile);
    return result;
}

TEST(ProfileRecord, DefaultsByTypeAndTheShapeTable) {
    const double gaussian[5] = {0.002, -0.002, 0.005, 0, 0}, lorentzian[5] = {0, 0, 0, .005, .005};
    for (const int32_t type : {1, 0, 4}) {
        RefinementProfile *p = makeRefinementProfile(4, 3, type, 1.5, 5.0, 20.0);
        const double widths[5] = {p->U, p->V, p->W, p->LX, p->LY};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(widths[i], (type == 1 ? lorentzian : gaussian)[i]);
        EXPECT_TRUE(p->wavelength == 1.5 && p->xMin == 5.0 && p->xMax == 20.0 && p->experimentType == 4);
        EXPECT_TRUE(p->radiationType == 3 && p->profileType == type && p->tofTwoTheta == 90.0 && p->dtt1 == 1000.0);
        EXPECT_TRUE(p->dtt2 == 0.0 && p->zero == 0.0 && p->asymmetry == 0.0 && p->backgroundCoefficients[12] == 0.0);
        p->methods->freeRefinementProfile(p);
    }
    EXPECT_TRUE(ProfileFuncForProfileType(5) == nullptr && ProfileFuncForProfileType(-1) == nullptr);
}

TEST(ReflexionRange, NearestPointWindowAndPeaksOffThePattern) {
    using Indices = std::array<int32_t, 4>;  // first, nearest, last, count
    const Indices untouched = {-1, -2, -3, -4};
    const double positions[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};  // half-width (window − 1) / 2; ties go lower
    Reflexion *reflexion = makeReflexion();  // off the pattern within half-width × span / count
    const struct { double peak; int32_t window; Indices expected; } cases[] = {
        {3.5, 5, {1, 3, 5, 5}}, {3.51, 5, {2, 4, 6, 5}}, {0.2, 5, {0, 0, 2, 3}}, {9.9, 5, {7, 9, 9, 3}},
        {10.5, 5, {7, 9, 9, 3}}, {-1.7, 5, {0, 0, 2, 3}}, {12.0, 5, untouched}, {10.81, 5, untouched},
        {-1.81, 5, untouched}, {6.0, 1, {6, 6, 6, 1}}, {6.2, 4, {5, 6, 7, 3}}, {9.01, 2, untouched}};
    for (const auto &c : cases) {
        reflexion->peakPosition = c.peak;
        ReflexionRange r{-1, -2, -3, -4};
        EXPECT_EQ(FindReflexionRange(reflexion, positions, 10, c.window, &r), c.expected != untouched) << c.peak;
        EXPECT_EQ((Indices{r.firstIndex, r.nearestIndex, r.lastIndex, r.pointCount}), c.expected) << c.peak;
    }
    ReflexionRange range{-1, -2, -3, -4};
    EXPECT_FALSE(FindReflexionRange(reflexion, positions, 0, 5, &range));  // no points or no window: untouched
    EXPECT_FALSE(FindReflexionRange(reflexion, positions, 10, 0, &range));
    EXPECT_EQ(range.firstIndex + range.nearestIndex + range.lastIndex + range.pointCount, -10);
    reflexion->methods->freeReflexion(reflexion);
}

TEST(ProfileValidation, WidthReasonsAndTheirSummaries) {
    const char *imaginary = "Imaginary Gaussian FWHM detected across entire fitting range!\n";
    const char *negative = "Negative Lorentzian FWHM detected across entire fitting range!\n";
    const std::string below = "Imaginary Gaussian FWHM detected below ";
    const std::string above = "Imaginary Gaussian FWHM detected above ";
    const std::string between = "Imaginary Gaussian FWHM detected between 22.6˚ and 53.1˚!";
    const struct { int32_t type; double widths[5], xMin, xMax; std::string reason; } cases[] = {
        {0, {0, 0, -0.01, 0, 0}, 5, 90, imaginary}, {0, {-0.01, 0, -0.01, 0, 0}, 5, 90, imaginary},
        {0, {0, 0, 0, 0, 0}, 5, 90, "Zero Gaussian FWHM detected across entire fitting range!\n"},
        {0, {1, -1, 0.25, 0, 0}, 5, 90, "Zero Gaussian FWHM detected at 53.1º!"},  // double root t = 0.5
        {0, {0, 0.01, -0.001, 0, 0}, 0, 90, below + "11.4˚!\n"}, {0, {0, -0.02, 0.01, 0, 0}, 5, 120, above + "53.1˚!"},
        {0, {0, -0.01, -0.001, 0, 0}, 5, 90, above + "348.6˚!"},  // roots 0.1, 0.5, −0.1 (reported 360° up)
        {0, {1, -0.7, 0.1, 0, 0}, 5, 90, between}, {0, {1, -0.7, 0.1, 0, 0}, 30, 40, between},  // roots 0.2, 0.5
        {0, {-0.01, 0, 0.01, 0, 0}, 5, 120, below + "-90.0˚ and above 90.0˚!"},  // roots ±1, the range past 90°
        {0, {-1, -0.7, -0.1, 0, 0}, 5, 90, below + "306.9˚ and above 337.4˚!"},  // −0.5, −0.2 both 360° up
        {0, {0, -0.001, 1, 0, 0}, -20, 200, above + "179.9˚!"},  // xMax > 180° taken as 179.999°, past t = 1000
        {1, {0, 0, 0, -0.01, 0}, 5, 90, negative},  // Lorentzian: sign change at s = 0.5, below sin 35°, above sin 2.5°
        {1, {0, 0, 0, 0, 0}, 5, 90, "Zero Lorentzian FWHM detected across entire fitting range!\n"},
        {1, {0, 0, 0, 0.01, -0.02}, 5, 70, "Negative Lorentzian FWHM detected above 60.0!\n"},
        {1, {0, 0, 0, -0.01, 0.02}, 5, 90, "Negative Lorentzian FWHM detected below 60.0!\n"},
        {2, {0, 0, 0, 0, 0}, 5, 90, "Zero Gaussian and Lorentzian FWHM across entire fitting range!\n"},
        {2, {0, 0, 0, -0.01, 0}, 5, 90, negative}, {2, {0, 0, -0.01, -0.01, 0}, 5, 90, imaginary},  // pV: parts present
        {2, {0, 0, 0.01, -0.01, 0}, 5, 90, negative},  // the Lorentzian only when the Gaussian passed
        {0, {0.002, -0.002, 0.005, 0, 0}, 5, 90, ""}, {0, {-0.01, 0, 0.01, 0, 0}, 5, 60, ""},  // D < 0; roots ±1
        {0, {0, 0.01, 0.001, 0, 0}, 5, 90, ""}, {0, {0, -0.01, 0.02, 0, 0}, 5, 90, ""},  // passes, the buffer cleared
        {0, {1, 0.7, 0.1, 0, 0}, 0, 180, ""}, {0, {1, -1, 0.25, 0, 0}, 60, 90, ""},  // roots below or above the range
        {0, {0, 1, 0.001, 0, 0}, -10, 90, ""}, {0, {0, -0.001, 1000, 0, 0}, 5, 200, ""},  // xMin < 0 taken as 0
        {1, {0, 0, 0, 0.01, -0.02}, 5, 50, ""}, {1, {0, 0, 0, -0.001, 0.1}, 5, 90, ""},
        {2, {0.002, -0.002, 0.005, 0, 0}, 5, 90, ""}, {2, {0, 0, 0.01, 0.01, 0}, 5, 90, ""}};
    for (const auto &c : cases) {
        const Checked result = check(c.type, c.xMin, c.xMax, c.widths);  // summed up on stderr but the zero pV
        const bool summed = !c.reason.empty() && c.reason.rfind("Zero Gaussian and", 0) != 0;
        EXPECT_EQ(result.err.find("( " + c.reason + " )\n") != std::string::npos, summed) << c.reason;
        EXPECT_EQ(result.valid, c.reason.empty()) << c.type << " " << c.reason;
        EXPECT_EQ(result.buffer, c.reason);
    }
    const Checked unknown = check(7, 5.0, 90.0, std::array<double, 6>{}.data());  // an unknown type: invalid, unsaid
    EXPECT_FALSE(unknown.valid || !(unknown.buffer + unknown.err).empty());
}

TEST(ProfileValidation, TimeOfFlightReasonsAtTheMiddleOfTheRange) {
    const std::string reasons[] = {"", "Sigma is zero or negative!\nCheck sigma0, sigma1 and sigma2.\n",
                                   "Normalization is zero or negative!\nCheck alpha and beta.\n",
                                   "NaN detected! Check alpha and gamma.\n", "NaN detected! Check beta and gamma.\n"};
    const double nan = std::nan("");  // σ² = −(d² − 110.25)² + 100 > 0 only near d = 10.5
    const struct { int32_t type; double xMax, values[6]; int reason; } cases[] = {
        {3, 20, {4, 0, 0, 0.2, 0.5, 0.05}, 0}, {4, 20, {4, 0, 0, 0.2, 0.5, 0.05}, 0},
        {3, 20, {0, 0, 0, 0.2, 0.5, 0.05}, 1}, {4, 20, {0, 0, 0, 0.2, 0.5, 0.05}, 1},
        {3, 20, {4, 0, 0, 0.2, 0.5, 0.0}, 2},  {4, 20, {4, 0, 0, 0.2, 0.5, 0.0}, 2},
        {4, 20, {4, 0, 0, 0.2, 0.0, 0.05}, 2},  // a type-4 α has no constant term
        {4, 20, {4, 0, 0, 0.2, nan, 0.05}, 3}, {4, 20, {4, 0, 0, 0.2, 0.5, nan}, 4},  // NaN reaches E1: α p, β q
        {3, 20, {-11955.0625, 220.5, -1, 0.2, 0.5, 0.05}, 0}, {3, 30, {-11955.0625, 220.5, -1, 0.2, 0.5, 0.05}, 1}};
    for (const auto &c : cases) {  // d = 10.5 is the middle of 1–20 Å, not of 1–30 Å
        const Checked result = check(c.type, 1.0, c.xMax, c.values);
        const std::string &reason = reasons[c.reason];
        EXPECT_EQ(result.valid, c.reason == 0) << c.type << " " << reason;
        EXPECT_EQ(result.buffer, reason);
        EXPECT_EQ(result.err, c.reason == 0 ? "" : "Invalid TOF profile\n( " + reason + " )\n");
    }
}

}  // namespace
