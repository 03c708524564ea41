// The profile checks: every reason with its message in the error buffer and
// its summary on standard error, the pass cases, and the time-of-flight check
// at the middle of the fitting range. Root angles are 2 atan(t) or 2 asin(s)
// in degrees, worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "profiles/profiles.hpp"
#include "support/output_capture.hpp"

namespace {

struct Checked { bool valid; std::string buffer, err; };

// Runs ProfileParametersAreValid on a profile, capturing standard error and the buffer.
Checked check(RefinementProfile *profile) {
    Checked result{};
    result.err = pk_test::captureStderr([&] { result.valid = ProfileParametersAreValid(profile); });
    result.buffer = GetErrorBuffer();
    return result;
}

RefinementProfile *makeProfile(int32_t type, double xMin, double xMax) {
    return makeRefinementProfile(type >= 3 ? 4 : 1, 3, type, 1.5406, xMin, xMax);
}

TEST(ProfileValidation, WidthReasonsAndTheirSummaries) {
    const char *imaginary = "Imaginary Gaussian FWHM detected across entire fitting range!\n";
    const char *negative = "Negative Lorentzian FWHM detected across entire fitting range!\n";
    // Widths U, V, W, LX, LY, the range, the widths summed up on standard error ('G'
    // Gaussian, 'L' Lorentzian, '-' none), and the reason ("" when the check passes).
    const struct { int32_t type; double widths[5], xMin, xMax; char summary; const char *reason; } cases[] = {
        {0, {0, 0, -0.01, 0, 0}, 5, 90, 'G', imaginary},
        {0, {-0.01, 0, -0.01, 0, 0}, 5, 90, 'G', imaginary},
        {0, {0, 0, 0, 0, 0}, 5, 90, 'G', "Zero Gaussian FWHM detected across entire fitting range!\n"},
        // Double root t = 0.5; root t = 0.1 above tan 0°.
        {0, {1, -1, 0.25, 0, 0}, 5, 90, 'G', "Zero Gaussian FWHM detected at 53.1º!"},
        {0, {0, 0.01, -0.001, 0, 0}, 0, 90, 'G', "Imaginary Gaussian FWHM detected below 11.4˚!\n"},
        // Root t = 0.5 below tan 60°; a negative root t = −0.1 is reported 360° up.
        {0, {0, -0.02, 0.01, 0, 0}, 5, 120, 'G', "Imaginary Gaussian FWHM detected above 53.1˚!"},
        {0, {0, -0.01, -0.001, 0, 0}, 5, 90, 'G', "Imaginary Gaussian FWHM detected above 348.6˚!"},
        // Roots t = 0.2 and 0.5: one inside the range, then the range inside them.
        {0, {1, -0.7, 0.1, 0, 0}, 5, 90, 'G', "Imaginary Gaussian FWHM detected between 22.6˚ and 53.1˚!"},
        {0, {1, -0.7, 0.1, 0, 0}, 30, 40, 'G', "Imaginary Gaussian FWHM detected between 22.6˚ and 53.1˚!"},
        // Roots t = ±1 with the range past 90°; roots −0.5 and −0.2 both 360° up.
        {0, {-0.01, 0, 0.01, 0, 0}, 5, 120, 'G', "Imaginary Gaussian FWHM detected below -90.0˚ and above 90.0˚!"},
        {0, {-1, -0.7, -0.1, 0, 0}, 5, 90, 'G', "Imaginary Gaussian FWHM detected below 306.9˚ and above 337.4˚!"},
        // xMax beyond 180° is taken as 179.999° (tan ≈ 114592), past the root t = 1000.
        {0, {0, -0.001, 1, 0, 0}, -20, 200, 'G', "Imaginary Gaussian FWHM detected above 179.9˚!"},
        {1, {0, 0, 0, -0.01, 0}, 5, 90, 'L', negative},
        {1, {0, 0, 0, 0, 0}, 5, 90, 'L', "Zero Lorentzian FWHM detected across entire fitting range!\n"},
        // Sign change at s = 0.5, below sin 35° and above sin 2.5°.
        {1, {0, 0, 0, 0.01, -0.02}, 5, 70, 'L', "Negative Lorentzian FWHM detected above 60.0!\n"},
        {1, {0, 0, 0, -0.01, 0.02}, 5, 90, 'L', "Negative Lorentzian FWHM detected below 60.0!\n"},
        // The pseudo-Voigt checks the parts present, the Lorentzian only when the Gaussian passed.
        {2, {0, 0, 0, 0, 0}, 5, 90, '-', "Zero Gaussian and Lorentzian FWHM across entire fitting range!\n"},
        {2, {0, 0, 0, -0.01, 0}, 5, 90, 'L', negative},
        {2, {0, 0, -0.01, -0.01, 0}, 5, 90, 'G', imaginary},
        {2, {0, 0, 0.01, -0.01, 0}, 5, 90, 'L', negative},
        // Passes, each after a failure, so the buffer is cleared: D < 0; inside the roots ±1;
        // root t = −0.1 below; root t = 2 above; roots −0.5, −0.2 below; a double root below
        // tan 30°; xMin < 0 taken as 0, root −0.001; root t = 1e6 above tan 89.9995°;
        // s = 0.5 above sin 25°; s = 0.01 below sin 2.5°; no Lorentzian part; both parts.
        {0, {0.002, -0.002, 0.005, 0, 0}, 5, 90, '-', ""}, {0, {-0.01, 0, 0.01, 0, 0}, 5, 60, '-', ""},
        {0, {0, 0.01, 0.001, 0, 0}, 5, 90, '-', ""}, {0, {0, -0.01, 0.02, 0, 0}, 5, 90, '-', ""},
        {0, {1, 0.7, 0.1, 0, 0}, 0, 180, '-', ""}, {0, {1, -1, 0.25, 0, 0}, 60, 90, '-', ""},
        {0, {0, 1, 0.001, 0, 0}, -10, 90, '-', ""}, {0, {0, -0.001, 1000, 0, 0}, 5, 200, '-', ""},
        {1, {0, 0, 0, 0.01, -0.02}, 5, 50, '-', ""}, {1, {0, 0, 0, -0.001, 0.1}, 5, 90, '-', ""},
        {2, {0.002, -0.002, 0.005, 0, 0}, 5, 90, '-', ""}, {2, {0, 0, 0.01, 0.01, 0}, 5, 90, '-', ""},
    };
    for (const auto &c : cases) {
        RefinementProfile *profile = makeProfile(c.type, c.xMin, c.xMax);
        profile->U = c.widths[0], profile->V = c.widths[1], profile->W = c.widths[2], profile->LX = c.widths[3], profile->LY = c.widths[4];
        const Checked result = check(profile);
        freeRefinementProfile(profile);
        char summary[200] = "";
        if (c.summary == 'G') {
            std::snprintf(summary, sizeof summary, "Invalid Gaussian FWHM for U = %f, V = %f, W = %f\n( %s )\n", c.widths[0], c.widths[1],
                          c.widths[2], c.reason);
        } else if (c.summary == 'L') {
            std::snprintf(summary, sizeof summary, "Invalid Gaussian FWHM for LX = %f, LY = %f\n( %s )\n", c.widths[3], c.widths[4], c.reason);
        }
        EXPECT_EQ(result.valid, c.reason[0] == '\0') << c.type << " " << c.reason;
        EXPECT_EQ(result.buffer, c.reason);
        EXPECT_EQ(result.err, summary);
    }
}

TEST(ProfileValidation, TimeOfFlightReasonsAtTheMiddleOfTheRange) {
    const std::string reasons[] = {"", "Sigma is zero or negative!\nCheck sigma0, sigma1 and sigma2.\n",
                                   "Normalization is zero or negative!\nCheck alpha and beta.\n",
                                   "NaN detected! Check alpha and gamma.\n", "NaN detected! Check beta and gamma.\n"};
    const double nan = std::nan("");
    using RP = RefinementProfile;
    double RP::*const fields[6] = {&RP::sigma0, &RP::sigma1, &RP::sigma2, &RP::alpha0, &RP::alpha1, &RP::beta0};
    // Over 1–20 ms, that is d = 1–20 Å. σ² = −(d² − 110.25)² + 100 is positive only for d² in
    // (100.25, 120.25): around d = 10.5, the middle of 1–20 Å, and not at 15.5, that of 1–30 Å.
    const struct { int32_t type; double xMax, values[6]; int reason; } cases[] = {  // values as `fields`
        {3, 20, {4, 0, 0, 0.2, 0.5, 0.05}, 0}, {4, 20, {4, 0, 0, 0.2, 0.5, 0.05}, 0},
        {3, 20, {0, 0, 0, 0.2, 0.5, 0.05}, 1}, {4, 20, {0, 0, 0, 0.2, 0.5, 0.05}, 1},
        {3, 20, {4, 0, 0, 0.2, 0.5, 0.0}, 2},  {4, 20, {4, 0, 0, 0.2, 0.5, 0.0}, 2},
        {4, 20, {4, 0, 0, 0.2, 0.0, 0.05}, 2},  // a type-4 α has no constant term
        // Not-a-number rates slip past the normalisation test and reach E1: α spoils p, β q alone.
        {4, 20, {4, 0, 0, 0.2, nan, 0.05}, 3}, {4, 20, {4, 0, 0, 0.2, 0.5, nan}, 4},
        {3, 20, {-11955.0625, 220.5, -1, 0.2, 0.5, 0.05}, 0},
        {3, 30, {-11955.0625, 220.5, -1, 0.2, 0.5, 0.05}, 1},
    };
    for (const auto &c : cases) {
        RefinementProfile *profile = makeProfile(c.type, 1.0, c.xMax);
        for (int i = 0; i < 6; ++i) profile->*fields[i] = c.values[i];
        profile->gamma0 = 1.0;
        const Checked result = check(profile);
        freeRefinementProfile(profile);
        const std::string &reason = reasons[c.reason];
        EXPECT_EQ(result.valid, c.reason == 0) << c.type << " " << reason;
        EXPECT_EQ(result.buffer, reason);
        EXPECT_EQ(result.err, c.reason == 0 ? "" : "Invalid TOF profile\n( " + reason + " )\n");
    }
}

TEST(ProfileValidation, NullUnknownTypeAndNotANumber) {
    std::memset(GetErrorBuffer(), 'x', 20);
    EXPECT_FALSE(ProfileParametersAreValid(nullptr) || powderkit::gaussianFwhmIsValid(nullptr) ||
                 powderkit::lorentzianFwhmIsValid(nullptr) || powderkit::tofProfileIsValid(nullptr));
    EXPECT_EQ(std::string(GetErrorBuffer(), 20), std::string(20, 'x'));  // not touched
    // An unknown type is invalid with an empty buffer and nothing printed; a
    // constant-wavelength record is no time-of-flight profile.
    RefinementProfile *profile = makeProfile(7, 5.0, 90.0);
    const Checked unknown = check(profile);
    EXPECT_FALSE(unknown.valid);
    EXPECT_EQ(unknown.buffer + unknown.err, "");
    profile->profileType = 0;
    EXPECT_FALSE(powderkit::tofProfileIsValid(profile));
    // Widths that are not numbers fail every comparison: both roots are
    // not-a-number and the range is not between them.
    profile->profileType = 2;
    profile->U = profile->V = profile->W = profile->LX = profile->LY = std::nan("");
    const Checked nan = check(profile);
    EXPECT_FALSE(nan.valid);
    EXPECT_EQ(nan.buffer.rfind("Imaginary Gaussian FWHM detected below ", 0), 0u) << nan.buffer;
    freeRefinementProfile(profile);
}

}  // namespace
