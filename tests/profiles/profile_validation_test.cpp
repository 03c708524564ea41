// The profile checks: every reason with its message in the error buffer and
// its summary on standard error, the pass cases, and the time-of-flight check
// at the middle of the fitting range. Root angles are 2 atan(t) or 2 asin(s)
// in degrees, worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "profiles/profiles.hpp"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"

namespace {

struct Checked {
    bool valid;
    std::string buffer, err;
};

struct Profile {
    RefinementProfile *record;
    Profile(int32_t type, double xMin, double xMax, const double widths[5] = nullptr) {
        record = makeRefinementProfile(type >= 3 ? 4 : 1, 3, type, 1.5406, xMin, xMax);
        if (widths == nullptr) return;
        record->U = widths[0];
        record->V = widths[1];
        record->W = widths[2];
        record->LX = widths[3];
        record->LY = widths[4];
    }
    ~Profile() { freeRefinementProfile(record); }
    // Runs ProfileParametersAreValid, capturing standard error and the buffer.
    Checked check() const {
        Checked result{};
        const std::string out = pk_test::captureStdout([&] {
            result.err = pk_test::captureStderr([&] { result.valid = ProfileParametersAreValid(record); });
        });
        EXPECT_EQ(out, "");
        result.buffer = GetErrorBuffer();
        return result;
    }
    // A time-of-flight record over 1–20 ms, that is d = 1–20 Å.
    void timeOfFlight(double variance) {
        record->sigma0 = variance;
        record->alpha0 = 0.2;
        record->alpha1 = 0.5;
        record->beta0 = 0.05;
        record->gamma0 = 1.0;
    }
};

struct WidthCase {
    int32_t type;
    double widths[5];  // U, V, W, LX, LY
    double xMin, xMax;
    const char *reason;   // "" when the check passes
    const char *summary;  // the widths as the summary line prints them
};

TEST(ProfileValidation, WidthReasonsAndTheirSummaries) {
    const WidthCase cases[] = {
        {0, {0, 0, -0.01, 0, 0}, 5, 90, "Imaginary Gaussian FWHM detected across entire fitting range!\n",
         "U = 0.000000, V = 0.000000, W = -0.010000"},
        {0, {-0.01, 0, -0.01, 0, 0}, 5, 90, "Imaginary Gaussian FWHM detected across entire fitting range!\n",
         "U = -0.010000, V = 0.000000, W = -0.010000"},
        {0, {0, 0, 0, 0, 0}, 5, 90, "Zero Gaussian FWHM detected across entire fitting range!\n",
         "U = 0.000000, V = 0.000000, W = 0.000000"},
        // Double root t = 0.5.
        {0, {1, -1, 0.25, 0, 0}, 5, 90, "Zero Gaussian FWHM detected at 53.1º!",
         "U = 1.000000, V = -1.000000, W = 0.250000"},
        // Root t = 0.1 above tan 0°.
        {0, {0, 0.01, -0.001, 0, 0}, 0, 90, "Imaginary Gaussian FWHM detected below 11.4˚!\n",
         "U = 0.000000, V = 0.010000, W = -0.001000"},
        // Root t = 0.5 below tan 60°; a negative root t = −0.1 is reported 360° up.
        {0, {0, -0.02, 0.01, 0, 0}, 5, 120, "Imaginary Gaussian FWHM detected above 53.1˚!",
         "U = 0.000000, V = -0.020000, W = 0.010000"},
        {0, {0, -0.01, -0.001, 0, 0}, 5, 90, "Imaginary Gaussian FWHM detected above 348.6˚!",
         "U = 0.000000, V = -0.010000, W = -0.001000"},
        // Roots t = 0.2 and 0.5: one inside the range, then the range inside them.
        {0, {1, -0.7, 0.1, 0, 0}, 5, 90, "Imaginary Gaussian FWHM detected between 22.6˚ and 53.1˚!",
         "U = 1.000000, V = -0.700000, W = 0.100000"},
        {0, {1, -0.7, 0.1, 0, 0}, 30, 40, "Imaginary Gaussian FWHM detected between 22.6˚ and 53.1˚!",
         "U = 1.000000, V = -0.700000, W = 0.100000"},
        // Roots t = ±1 with the range past 90°; roots −0.5 and −0.2 both 360° up.
        {0, {-0.01, 0, 0.01, 0, 0}, 5, 120, "Imaginary Gaussian FWHM detected below -90.0˚ and above 90.0˚!",
         "U = -0.010000, V = 0.000000, W = 0.010000"},
        {0, {-1, -0.7, -0.1, 0, 0}, 5, 90, "Imaginary Gaussian FWHM detected below 306.9˚ and above 337.4˚!",
         "U = -1.000000, V = -0.700000, W = -0.100000"},
        // xMax beyond 180° is taken as 179.999° (tan ≈ 114592), past the root t = 1000.
        {0, {0, -0.001, 1, 0, 0}, -20, 200, "Imaginary Gaussian FWHM detected above 179.9˚!",
         "U = 0.000000, V = -0.001000, W = 1.000000"},
        {1, {0, 0, 0, -0.01, 0}, 5, 90, "Negative Lorentzian FWHM detected across entire fitting range!\n",
         "LX = -0.010000, LY = 0.000000"},
        {1, {0, 0, 0, 0, 0}, 5, 90, "Zero Lorentzian FWHM detected across entire fitting range!\n",
         "LX = 0.000000, LY = 0.000000"},
        // Sign change at s = 0.5, below sin 35° and above sin 2.5°.
        {1, {0, 0, 0, 0.01, -0.02}, 5, 70, "Negative Lorentzian FWHM detected above 60.0!\n",
         "LX = 0.010000, LY = -0.020000"},
        {1, {0, 0, 0, -0.01, 0.02}, 5, 90, "Negative Lorentzian FWHM detected below 60.0!\n",
         "LX = -0.010000, LY = 0.020000"},
        // Passes.
        {0, {0.002, -0.002, 0.005, 0, 0}, 5, 90, "", ""},  // D < 0
        {0, {-0.01, 0, 0.01, 0, 0}, 5, 60, "", ""},        // inside the roots ±1
        {0, {0, 0.01, 0.001, 0, 0}, 5, 90, "", ""},        // root t = −0.1 below
        {0, {0, -0.01, 0.02, 0, 0}, 5, 90, "", ""},        // root t = 2 above
        {0, {1, 0.7, 0.1, 0, 0}, 0, 180, "", ""},          // roots −0.5, −0.2 below
        {0, {1, -1, 0.25, 0, 0}, 60, 90, "", ""},          // double root below tan 30°
        {0, {0, 1, 0.001, 0, 0}, -10, 90, "", ""},         // xMin < 0 taken as 0, root −0.001
        {1, {0, 0, 0, 0.01, -0.02}, 5, 50, "", ""},        // s = 0.5 above sin 25°
        {1, {0, 0, 0, -0.001, 0.1}, 5, 90, "", ""},        // s = 0.01 below sin 2.5°
        {2, {0.002, -0.002, 0.005, 0, 0}, 5, 90, "", ""},  // defaults: no Lorentzian part
    };
    for (const WidthCase &c : cases) {
        Profile profile(c.type, c.xMin, c.xMax, c.widths);
        const Checked result = profile.check();
        const bool passes = c.reason[0] == '\0';
        EXPECT_EQ(result.valid, passes) << c.reason << c.widths[0] << " " << c.widths[1];
        EXPECT_EQ(result.buffer, c.reason);
        EXPECT_EQ(result.err, passes ? std::string()
                                     : std::string("Invalid Gaussian FWHM for ") + c.summary +
                                           "\n( " + c.reason + " )\n");
    }
    EXPECT_FALSE(ProfileParametersAreValid(nullptr));
    EXPECT_FALSE(powderkit::gaussianFwhmIsValid(nullptr));
    EXPECT_FALSE(powderkit::lorentzianFwhmIsValid(nullptr));
}

TEST(ProfileValidation, PseudoVoigtChecksThePartsPresent) {
    // No width at all: the buffer only, nothing on standard error.
    const double none[5] = {0, 0, 0, 0, 0};
    Profile profile(2, 5.0, 90.0, none);
    Checked result = profile.check();
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "Zero Gaussian and Lorentzian FWHM across entire fitting range!\n");
    EXPECT_EQ(result.err, "");
    // Only a Lorentzian part: its check decides.
    profile.record->LX = -0.01;
    EXPECT_EQ(profile.check().buffer, "Negative Lorentzian FWHM detected across entire fitting range!\n");
    // Both parts: the Gaussian first, the Lorentzian only when it passed.
    profile.record->W = -0.01;
    result = profile.check();
    EXPECT_EQ(result.buffer, "Imaginary Gaussian FWHM detected across entire fitting range!\n");
    EXPECT_EQ(result.err.find("LX ="), std::string::npos);
    profile.record->W = 0.01;
    EXPECT_EQ(profile.check().buffer, "Negative Lorentzian FWHM detected across entire fitting range!\n");
    profile.record->LX = 0.01;
    EXPECT_TRUE(profile.check().valid);
    EXPECT_STREQ(GetErrorBuffer(), "");  // cleared after the earlier failure
}

TEST(ProfileValidation, UnknownTypeIsInvalidWithAnEmptyBuffer) {
    Profile profile(7, 5.0, 90.0);
    std::memset(GetErrorBuffer(), 'x', 20);
    const Checked result = profile.check();
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "");
    EXPECT_EQ(result.err, "");
}

TEST(ProfileValidation, TimeOfFlightReasons) {
    const std::string sigma = "Sigma is zero or negative!\nCheck sigma0, sigma1 and sigma2.\n";
    const std::string normalization = "Normalization is zero or negative!\nCheck alpha and beta.\n";
    for (const int32_t type : {3, 4}) {
        Profile profile(type, 1.0, 20.0);
        profile.timeOfFlight(4.0);
        Checked result = profile.check();
        EXPECT_TRUE(result.valid);
        EXPECT_EQ(result.buffer + result.err, "");
        profile.timeOfFlight(0.0);
        result = profile.check();
        EXPECT_FALSE(result.valid);
        EXPECT_EQ(result.buffer, sigma);
        EXPECT_EQ(result.err, "Invalid TOF profile\n( " + sigma + " )\n");
        profile.timeOfFlight(4.0);
        profile.record->beta0 = 0.0;
        result = profile.check();
        EXPECT_EQ(result.buffer, normalization);
        EXPECT_EQ(result.err, "Invalid TOF profile\n( " + normalization + " )\n");
    }
    // A type-4 α has no constant term: alpha1 = 0 gives N = 0 whatever alpha0.
    Profile voigt(4, 1.0, 20.0);
    voigt.timeOfFlight(4.0);
    voigt.record->alpha1 = 0.0;
    EXPECT_EQ(voigt.check().buffer, normalization);
    // Not-a-number rates slip past the normalisation test (NaN < ε is false)
    // and reach E1: α spoils p, β spoils q alone.
    voigt.timeOfFlight(4.0);
    voigt.record->alpha1 = std::nan("");
    Checked result = voigt.check();
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "NaN detected! Check alpha and gamma.\n");
    EXPECT_EQ(result.err, "Invalid TOF profile\n( NaN detected! Check alpha and gamma.\n )\n");
    voigt.timeOfFlight(4.0);
    voigt.record->beta0 = std::nan("");
    EXPECT_EQ(voigt.check().buffer, "NaN detected! Check beta and gamma.\n");

    Profile constantWavelength(0, 5.0, 90.0);
    EXPECT_FALSE(powderkit::tofProfileIsValid(constantWavelength.record));
    EXPECT_FALSE(powderkit::tofProfileIsValid(nullptr));
}

TEST(ProfileValidation, TimeOfFlightCheckLooksAtTheMiddleOfTheRange) {
    // σ² = −(d² − 110.25)² + 100 is positive only for d² in (100.25, 120.25):
    // around d = 10.5, the middle of 1–20 Å, and at neither end.
    Profile profile(3, 1.0, 20.0);
    profile.timeOfFlight(-11955.0625);
    profile.record->sigma1 = 220.5;
    profile.record->sigma2 = -1.0;
    EXPECT_TRUE(profile.check().valid);
    profile.record->xMax = 30.0;  // middle d = 15.5 Å
    EXPECT_FALSE(profile.check().valid);
}

TEST(ProfileValidation, TimeOfFlightCheckSurvivesAllocationFailure) {
    Profile profile(3, 1.0, 20.0);
    profile.timeOfFlight(4.0);
    // The temporary reflexion is the check's only allocation.
    pk_test::failAllocationNumber(1);
    const bool valid = ProfileParametersAreValid(profile.record);
    const long counted = pk_test::allocationsCounted();
    pk_test::disarmAllocationFailure();
    EXPECT_FALSE(valid);
    EXPECT_EQ(counted, 1);
    EXPECT_STREQ(GetErrorBuffer(), "");
    EXPECT_EQ(pk_test::forEachAllocationFailure([&] { ProfileParametersAreValid(profile.record); }), 2);
}

}  // namespace
