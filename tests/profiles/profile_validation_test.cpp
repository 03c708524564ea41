// The profile checks: every reason code with its message in the error buffer,
// the summary on standard error, the pass cases, and the time-of-flight check
// at the middle of the fitting range.
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
    std::string buffer;
    std::string err;
};

// Runs the check, capturing standard error and the error buffer.
Checked check(RefinementProfile *profile) {
    Checked result{};
    std::string out;
    out = pk_test::captureStdout([&] {
        result.err = pk_test::captureStderr([&] { result.valid = ProfileParametersAreValid(profile); });
    });
    EXPECT_EQ(out, "");
    result.buffer = GetErrorBuffer();
    return result;
}

struct Profile {
    RefinementProfile *record;
    Profile(int32_t type, double xMin, double xMax) {
        record = makeRefinementProfile(type >= 3 ? 4 : 1, 3, type, 1.5406, xMin, xMax);
    }
    ~Profile() { freeRefinementProfile(record); }
    void gaussian(double u, double v, double w) {
        record->U = u;
        record->V = v;
        record->W = w;
    }
    void lorentzian(double lx, double ly) {
        record->LX = lx;
        record->LY = ly;
    }
};

std::string gaussianSummary(const char *widths, const std::string &reason) {
    return std::string("Invalid Gaussian FWHM for ") + widths + "\n( " + reason + " )\n";
}

TEST(ProfileValidation, DefaultsPassAndLeaveTheBufferEmpty) {
    Profile voigt(2, 5.0, 90.0);
    const Checked result = check(voigt.record);
    EXPECT_TRUE(result.valid);
    EXPECT_EQ(result.buffer, "");
    EXPECT_EQ(result.err, "");
    Profile lorentzian(1, 5.0, 90.0);
    EXPECT_TRUE(check(lorentzian.record).valid);
    EXPECT_FALSE(ProfileParametersAreValid(nullptr));
}

TEST(ProfileValidation, GaussianReasonCodes) {
    struct Case {
        double u, v, w, xMin, xMax;
        const char *reason;
        const char *widths;
    };
    // Roots worked out by hand: 2 atan(r) in degrees.
    const Case cases[] = {
        // 1: W < 0 with U = V = 0.
        {0.0, 0.0, -0.01, 5.0, 90.0,
         "Imaginary Gaussian FWHM detected across entire fitting range!\n",
         "U = 0.000000, V = 0.000000, W = -0.010000"},
        // 2: all zero.
        {0.0, 0.0, 0.0, 5.0, 90.0, "Zero Gaussian FWHM detected across entire fitting range!\n",
         "U = 0.000000, V = 0.000000, W = 0.000000"},
        // 3: double root t = 0.5 (U = 1, V = −1, W = 0.25): 2 atan(0.5) = 53.13°.
        {1.0, -1.0, 0.25, 5.0, 90.0, "Zero Gaussian FWHM detected at 53.1º!",
         "U = 1.000000, V = -1.000000, W = 0.250000"},
        // 4: root t = 0.1 above tan(0°): 2 atan(0.1) = 11.42°.
        {0.0, 0.01, -0.001, 0.0, 90.0, "Imaginary Gaussian FWHM detected below 11.4˚!\n",
         "U = 0.000000, V = 0.010000, W = -0.001000"},
        // 5: root t = 0.5 below tan(60°): 53.1°.
        {0.0, -0.02, 0.01, 5.0, 120.0, "Imaginary Gaussian FWHM detected above 53.1˚!",
         "U = 0.000000, V = -0.020000, W = 0.010000"},
        // 6: roots t = 0.2 and 0.5 (U = 1, V = −0.7, W = 0.1): 22.6° and 53.1°.
        {1.0, -0.7, 0.1, 5.0, 90.0, "Imaginary Gaussian FWHM detected between 22.6˚ and 53.1˚!",
         "U = 1.000000, V = -0.700000, W = 0.100000"},
        // 7: roots t = ±1, range to 120°: −90° and 90°.
        {-0.01, 0.0, 0.01, 5.0, 120.0,
         "Imaginary Gaussian FWHM detected below -90.0˚ and above 90.0˚!",
         "U = -0.010000, V = 0.000000, W = 0.010000"},
        // 1 again: U < 0 and D < 0.
        {-0.01, 0.0, -0.01, 5.0, 90.0,
         "Imaginary Gaussian FWHM detected across entire fitting range!\n",
         "U = -0.010000, V = 0.000000, W = -0.010000"},
        // 6 with the range inside the roots t = 0.2 and 0.5: 30°–40°.
        {1.0, -0.7, 0.1, 30.0, 40.0, "Imaginary Gaussian FWHM detected between 22.6˚ and 53.1˚!",
         "U = 1.000000, V = -0.700000, W = 0.100000"},
        // 7 with both roots negative, t = −0.5 and −0.2: −53.1° and −22.6° are
        // reported 360° higher.
        {-1.0, -0.7, -0.1, 5.0, 90.0,
         "Imaginary Gaussian FWHM detected below 306.9˚ and above 337.4˚!",
         "U = -1.000000, V = -0.700000, W = -0.100000"},
        // 5 with a negative root t = −0.1: −11.4° is reported as 348.6°.
        {0.0, -0.01, -0.001, 5.0, 90.0, "Imaginary Gaussian FWHM detected above 348.6˚!",
         "U = 0.000000, V = -0.010000, W = -0.001000"},
    };
    for (const Case &c : cases) {
        Profile profile(0, c.xMin, c.xMax);
        profile.gaussian(c.u, c.v, c.w);
        const Checked result = check(profile.record);
        EXPECT_FALSE(result.valid) << c.reason;
        EXPECT_EQ(result.buffer, c.reason);
        EXPECT_EQ(result.err, gaussianSummary(c.widths, c.reason));
    }
}

TEST(ProfileValidation, GaussianPassCases) {
    struct Case {
        double u, v, w, xMin, xMax;
    };
    const Case cases[] = {
        {0.002, -0.002, 0.005, 5.0, 90.0},  // D < 0
        {-0.01, 0.0, 0.01, 5.0, 60.0},      // U < 0, range inside the roots ±1
        {0.0, 0.01, 0.001, 5.0, 90.0},      // root t = −0.1 below the range
        {0.0, -0.01, 0.02, 5.0, 90.0},      // root t = 2 above tan 45°
        {1.0, 0.7, 0.1, 0.0, 180.0},        // roots −0.5 and −0.2 below t = 0
        {1.0, -1.0, 0.25, 60.0, 90.0},      // double root t = 0.5 below tan 30°
        {0.0, 0.0, 0.01, -10.0, 200.0},     // W > 0; a range beyond 0°–180° is clamped
    };
    for (const Case &c : cases) {
        Profile profile(0, c.xMin, c.xMax);
        profile.gaussian(c.u, c.v, c.w);
        const Checked result = check(profile.record);
        EXPECT_TRUE(result.valid) << c.u << " " << c.v << " " << c.w;
        EXPECT_EQ(result.buffer, "");
        EXPECT_EQ(result.err, "");
    }
}

TEST(ProfileValidation, RangeIsClampedToZeroAndNearly180Degrees) {
    // V < 0 with root t = 1000 (2θ = 179.885°): an xMax of 200° is taken as
    // 179.999° (tan 89.9995° ≈ 114592), beyond the root; without the clamp
    // tan 100° < 0 would pass.
    Profile profile(0, -20.0, 200.0);
    profile.gaussian(0.0, -0.001, 1.0);
    const Checked result = check(profile.record);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "Imaginary Gaussian FWHM detected above 179.9˚!");
    // V > 0 with root t = −0.001 (2θ = −0.11°): a negative xMin is taken as 0,
    // above the root, so the check passes.
    profile.gaussian(0.0, 1.0, 0.001);
    EXPECT_TRUE(check(profile.record).valid);
}

TEST(ProfileValidation, LorentzianReasonCodes) {
    struct Case {
        double lx, ly, xMax;
        bool valid;
        const char *reason;
        const char *widths;
    };
    const Case cases[] = {
        {-0.01, 0.0, 90.0, false, "Negative Lorentzian FWHM detected across entire fitting range!\n",
         "LX = -0.010000, LY = 0.000000"},
        {0.0, 0.0, 90.0, false, "Zero Lorentzian FWHM detected across entire fitting range!\n",
         "LX = 0.000000, LY = 0.000000"},
        // r = 0.5 below sin 35°: 2 asin(0.5) = 60°.
        {0.01, -0.02, 70.0, false, "Negative Lorentzian FWHM detected above 60.0!\n",
         "LX = 0.010000, LY = -0.020000"},
        // r = 0.5 above sin 2.5°.
        {-0.01, 0.02, 90.0, false, "Negative Lorentzian FWHM detected below 60.0!\n",
         "LX = -0.010000, LY = 0.020000"},
        {0.01, -0.02, 50.0, true, "", ""},   // r = 0.5 above sin 25°
        {-0.001, 0.1, 90.0, true, "", ""},   // r = 0.01 below sin 2.5° = 0.0436
        {0.01, 0.0, 90.0, true, "", ""},
    };
    for (const Case &c : cases) {
        Profile profile(1, 5.0, c.xMax);
        profile.lorentzian(c.lx, c.ly);
        const Checked result = check(profile.record);
        EXPECT_EQ(result.valid, c.valid) << c.lx << " " << c.ly;
        EXPECT_EQ(result.buffer, c.reason);
        EXPECT_EQ(result.err, c.valid ? std::string()
                                      : std::string("Invalid Gaussian FWHM for ") + c.widths +
                                            "\n( " + c.reason + " )\n");
    }
}

TEST(ProfileValidation, PseudoVoigtChecksThePartsPresent) {
    // No width at all: the buffer only, nothing on standard error.
    Profile profile(2, 5.0, 90.0);
    profile.gaussian(0.0, 0.0, 0.0);
    profile.lorentzian(0.0, 0.0);
    Checked result = check(profile.record);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "Zero Gaussian and Lorentzian FWHM across entire fitting range!\n");
    EXPECT_EQ(result.err, "");
    // Only a Lorentzian part: its check decides.
    profile.lorentzian(-0.01, 0.0);
    result = check(profile.record);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "Negative Lorentzian FWHM detected across entire fitting range!\n");
    // Both parts: the Gaussian first, the Lorentzian only when it passed.
    profile.gaussian(0.0, 0.0, -0.01);
    result = check(profile.record);
    EXPECT_EQ(result.buffer, "Imaginary Gaussian FWHM detected across entire fitting range!\n");
    EXPECT_EQ(result.err.find("LX ="), std::string::npos);
    profile.gaussian(0.0, 0.0, 0.01);
    result = check(profile.record);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "Negative Lorentzian FWHM detected across entire fitting range!\n");
    profile.lorentzian(0.01, 0.01);
    EXPECT_TRUE(check(profile.record).valid);
    // A failure, then a pass: the buffer is empty again.
    EXPECT_STREQ(GetErrorBuffer(), "");
}

// A time-of-flight profile over 1–20 ms (d = 1–20 Å with dtt1 = 1000).
void setTimeOfFlight(Profile &profile, double variance) {
    profile.record->xMin = 1.0;
    profile.record->xMax = 20.0;
    profile.record->sigma0 = variance;
    profile.record->alpha0 = 0.2;
    profile.record->alpha1 = 0.5;
    profile.record->beta0 = 0.05;
    profile.record->gamma0 = 1.0;
}

TEST(ProfileValidation, TimeOfFlightReasons) {
    for (const int32_t type : {3, 4}) {
        Profile profile(type, 1.0, 20.0);
        setTimeOfFlight(profile, 4.0);
        Checked result = check(profile.record);
        EXPECT_TRUE(result.valid) << type;
        EXPECT_EQ(result.buffer, "");
        EXPECT_EQ(result.err, "");

        setTimeOfFlight(profile, 0.0);
        result = check(profile.record);
        EXPECT_FALSE(result.valid);
        EXPECT_EQ(result.buffer, "Sigma is zero or negative!\nCheck sigma0, sigma1 and sigma2.\n");
        EXPECT_EQ(result.err, "Invalid TOF profile\n( Sigma is zero or negative!\nCheck sigma0, "
                              "sigma1 and sigma2.\n )\n");

        setTimeOfFlight(profile, 4.0);
        profile.record->beta0 = 0.0;
        result = check(profile.record);
        EXPECT_FALSE(result.valid);
        EXPECT_EQ(result.buffer, "Normalization is zero or negative!\nCheck alpha and beta.\n");
        EXPECT_EQ(result.err, "Invalid TOF profile\n( Normalization is zero or negative!\nCheck "
                              "alpha and beta.\n )\n");
    }
    // A type-4 α without alpha1 is 0 even with alpha0 set.
    Profile voigt(4, 1.0, 20.0);
    setTimeOfFlight(voigt, 4.0);
    voigt.record->alpha1 = 0.0;
    EXPECT_EQ(check(voigt.record).buffer,
              "Normalization is zero or negative!\nCheck alpha and beta.\n");
    // Not-a-number rates slip past the normalisation test (NaN < ε is false)
    // and reach E1: α spoils p (and so is named first), β spoils q alone.
    setTimeOfFlight(voigt, 4.0);
    voigt.record->alpha1 = std::nan("");
    Checked result = check(voigt.record);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "NaN detected! Check alpha and gamma.\n");
    EXPECT_EQ(result.err, "Invalid TOF profile\n( NaN detected! Check alpha and gamma.\n )\n");
    setTimeOfFlight(voigt, 4.0);
    voigt.record->beta0 = std::nan("");
    result = check(voigt.record);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "NaN detected! Check beta and gamma.\n");
}

TEST(ProfileValidation, TimeOfFlightCheckLooksAtTheMiddleOfTheRange) {
    // σ² = −(d² − 110.25)² + 100 is positive only for d² in (100.25, 120.25):
    // around d = 10.5, the middle of 1–20 Å, and at neither end.
    Profile profile(3, 1.0, 20.0);
    setTimeOfFlight(profile, -11955.0625);
    profile.record->sigma1 = 220.5;
    profile.record->sigma2 = -1.0;
    EXPECT_TRUE(check(profile.record).valid);
    profile.record->xMax = 30.0;  // middle d = 15.5 Å
    EXPECT_EQ(check(profile.record).buffer,
              "Sigma is zero or negative!\nCheck sigma0, sigma1 and sigma2.\n");
}

TEST(ProfileValidation, TimeOfFlightCheckSurvivesAllocationFailure) {
    Profile profile(3, 1.0, 20.0);
    setTimeOfFlight(profile, 4.0);
    // The temporary reflexion is the check's only allocation.
    pk_test::failAllocationNumber(1);
    Checked result = check(profile.record);
    pk_test::disarmAllocationFailure();
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(pk_test::forEachAllocationFailure([&] { ProfileParametersAreValid(profile.record); }),
              2);
    EXPECT_TRUE(ProfileParametersAreValid(profile.record));
}

TEST(ProfileValidation, UnknownTypeIsInvalidWithAnEmptyBuffer) {
    Profile profile(7, 5.0, 90.0);
    std::memset(GetErrorBuffer(), 'x', 20);
    const Checked result = check(profile.record);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.buffer, "");
    EXPECT_EQ(result.err, "");
}

TEST(ProfileValidation, InternalChecksRejectNull) {
    EXPECT_FALSE(powderkit::gaussianFwhmIsValid(nullptr));
    EXPECT_FALSE(powderkit::lorentzianFwhmIsValid(nullptr));
    EXPECT_FALSE(powderkit::tofProfileIsValid(nullptr));
    Profile constantWavelength(0, 5.0, 90.0);
    EXPECT_FALSE(powderkit::tofProfileIsValid(constantWavelength.record));
}

}  // namespace
