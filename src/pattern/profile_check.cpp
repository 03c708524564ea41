// Checking a profile before a model is made: its fields, and its widths over
// the span. The width checks follow the core's rules for its profile records
// but stay silent: they neither print nor touch the core's process-wide
// error buffer, so models may be made from several threads at once.
#include "boundary/constants.hpp"
#include "pattern/profile_check.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "boundary/boundary.hpp"

namespace powderkit::phase {

namespace {


}  // namespace

void checkProfileFields(const pk_profile &profile, bool tof) {
    if (tof != (profile.type >= PK_PROFILE_TOF_EXP_GAUSSIAN)) {
        fail(PK_ERROR_ARGUMENT, std::string("profile.type ") + std::to_string(profile.type) +
                                    (tof ? " is not a time-of-flight shape" : " is not a 2θ shape"));
    }
    if (profile.type < PK_PROFILE_GAUSSIAN || profile.type > PK_PROFILE_TOF_EXP_PSEUDO_VOIGT) {
        fail(PK_ERROR_ARGUMENT, "unknown profile.type " + std::to_string(profile.type));
    }
    const double values[] = {profile.U, profile.V, profile.W, profile.X, profile.Y, profile.asymmetry,
                             profile.asymmetry_cutoff, profile.sigma0, profile.sigma1, profile.sigma2,
                             profile.gamma0, profile.gamma1, profile.gamma2, profile.alpha0, profile.alpha1,
                             profile.beta0, profile.beta1, profile.axial_sl, profile.axial_hl};
    for (double value : values) {
        if (!std::isfinite(value)) fail(PK_ERROR_ARGUMENT, "a profile parameter is not a number");
    }
    if (profile.asymmetry < 0.0) fail(PK_ERROR_ARGUMENT, "profile.asymmetry must not be negative");
    for (const auto &[name, value] : {std::pair{"axial_sl", profile.axial_sl}, std::pair{"axial_hl", profile.axial_hl}}) {
        if (!(value >= 0.0 && value <= PK_AXIAL_MAX)) {
            char message[96];
            std::snprintf(message, sizeof message, "profile.%s must lie in [0, %g], not %g", name, PK_AXIAL_MAX, value);
            fail(PK_ERROR_ARGUMENT, message);
        }
    }
    if (hasAxialDivergence(profile) && tof) fail(PK_ERROR_ARGUMENT, "the axial divergence is for 2θ shapes only");
    if (hasAxialDivergence(profile) && profile.asymmetry > 0.0) fail(PK_ERROR_ARGUMENT, kBothAsymmetries);
}

// The layer's own check of the widths, with the core's rules but without its
// messages on standard error or its process-wide buffer: over the span, the
// Caglioti H_G² = U t² + V t + W (t = tan θ) must stay positive where the
// shape has a Gaussian part, the Lorentzian X / cos θ + Y tan θ (that is,
// X + Y sin θ) positive where it has a Lorentzian part, and not both may be
// absent; on a time-of-flight axis σ² positive and α, β positive (their
// exponentials normalisable) at both ends and in the middle of the d range.
void checkWidths(const RefinementProfile &p, double xMin, double xMax) {
    const double tiny = 1e-12;
    const auto fails = [](const std::string &what) { fail(PK_ERROR_ARGUMENT, "the profile is not valid: " + what); };
    if (p.experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT) {
        auto &profile = const_cast<RefinementProfile &>(p);
        const double d1 = dSpacingForTOFMilliseconds(&profile, xMin);
        const double d2 = dSpacingForTOFMilliseconds(&profile, xMax);
        for (double d : {d1, 0.5 * (d1 + d2), d2}) {
            if (!(d > 0.0)) fails("the span reaches no positive d-spacing");
            const double sigma2 = p.sigma0 + p.sigma1 * d * d + p.sigma2 * d * d * d * d;
            const double alpha = p.alpha1 / d + (p.profileType == PK_PROFILE_TOF_EXP_GAUSSIAN ? p.alpha0 : 0.0);
            const double beta = p.beta0 + p.beta1 / (d * d * d * d);
            if (!(sigma2 > tiny)) fails("σ² = sigma0 + sigma1 d² + sigma2 d⁴ is not positive at d = " + std::to_string(d) + " Å");
            if (!(alpha > tiny) || !(beta > tiny)) fails("α and β must be positive at d = " + std::to_string(d) + " Å");
            if (p.profileType == PK_PROFILE_TOF_EXP_PSEUDO_VOIGT && p.gamma0 + p.gamma1 * d + p.gamma2 * d * d < 0.0) {
                fails("γ = gamma0 + gamma1 d + gamma2 d² is negative at d = " + std::to_string(d) + " Å");
            }
        }
        return;
    }
    const double theta1 = 0.5 * std::max(xMin, 0.0) * kDegreesToRadians;
    const double theta2 = 0.5 * std::min(xMax, 179.999) * kDegreesToRadians;
    const bool gaussianPart = p.profileType != PK_PROFILE_LORENTZIAN &&
                              (p.profileType == PK_PROFILE_GAUSSIAN || p.U != 0.0 || p.V != 0.0 || p.W != 0.0);
    const bool lorentzianPart = p.profileType != PK_PROFILE_GAUSSIAN &&
                                (p.profileType == PK_PROFILE_LORENTZIAN || p.LX != 0.0 || p.LY != 0.0);
    if (!gaussianPart && !lorentzianPart) fails("zero Gaussian and Lorentzian widths");
    if (gaussianPart) {
        // The smallest H_G² over [t1, t2]: at an end, or at the vertex −V/2U.
        const double t1 = std::tan(theta1), t2 = std::tan(theta2);
        std::vector<double> ts{t1, t2};
        if (p.U > 0.0 && -p.V / (2.0 * p.U) > t1 && -p.V / (2.0 * p.U) < t2) ts.push_back(-p.V / (2.0 * p.U));
        for (double t : ts) {
            if (!(p.U * t * t + p.V * t + p.W > tiny)) {
                fails("the Gaussian width² U tan²θ + V tanθ + W is not positive at 2θ = " +
                      std::to_string(2.0 * std::atan(t) / kDegreesToRadians) + "°");
            }
        }
    }
    if (lorentzianPart) {
        for (double theta : {theta1, theta2}) {
            if (!(p.LX + p.LY * std::sin(theta) > tiny)) {
                fails("the Lorentzian width X / cosθ + Y tanθ is not positive at 2θ = " +
                      std::to_string(2.0 * theta / kDegreesToRadians) + "°");
            }
        }
    }
}

}  // namespace powderkit::phase
