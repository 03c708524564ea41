// Checks, before a refinement, that the width parameters of a profile give a
// real, positive width over its whole fitting range. The Gaussian check looks
// for roots of the Caglioti quadratic H_G²(t) = U t² + V t + W in t = tanθ,
// the Lorentzian check for a sign change of LX + LY sinθ, and the
// time-of-flight check fills the work record of its shape at the centre of a
// peak in the middle of the d-spacing range. A failed check leaves its reason
// in the error buffer and, for most reasons, prints a summary to standard
// error.
#include <cmath>
#include <cstring>

#include "frame/frame.hpp"
#include "profiles/profiles.hpp"

namespace powderkit {

namespace {

constexpr double kHighestCheckedTwoTheta = 179.999;

double lowestCheckedAngle(const RefinementProfile *profile) {
    return (profile->xMin > 0.0 ? profile->xMin : 0.0) * 0.5 * kDegreesToRadians;
}
double highestCheckedAngle(const RefinementProfile *profile) {
    return (profile->xMax < kHighestCheckedTwoTheta ? profile->xMax : kHighestCheckedTwoTheta) *
           0.5 * kDegreesToRadians;
}

// 2θ in degrees of a root in t = tanθ.
double twoThetaOfTangent(double t) { return 2.0 * std::atan(t) * kRadiansToDegrees; }

double wrappedAngle(double angle) { return angle < 0.0 ? angle + 360.0 : angle; }


}  // namespace

bool gaussianFwhmIsValid(const RefinementProfile *profile) {
    if (profile == nullptr) return false;
    const double tolerance = zeroTolerance();
    const double u = profile->U;
    const double v = profile->V;
    const double w = profile->W;
    const double t1 = std::tan(lowestCheckedAngle(profile));
    const double t2 = std::tan(highestCheckedAngle(profile));
    char *buffer = errorBuffer();
    const std::size_t capacity = PK_ERROR_BUFFER_SIZE;

    int code = 0;
    double root = 0.0;
    double lowRoot = 0.0;
    double highRoot = 0.0;
    if (std::fabs(u) < tolerance) {
        // H_G² is linear in t.
        if (std::fabs(v) < tolerance) {
            if (std::fabs(w) < tolerance) {
                code = 2;
            } else if (!(w > 0.0)) {
                code = 1;
            }
        } else if (v > 0.0) {
            root = -w / v;
            if (!(root < t1)) code = 4;
        } else {
            root = -w / v;
            if (!(root > t2)) code = 5;
        }
    } else {
        const double discriminant = v * v - 4.0 * u * w;
        if (u > 0.0) {
            if (std::fabs(discriminant) < tolerance) {
                root = -v / (2.0 * u);
                if (t1 <= root && root <= t2) code = 3;
            } else if (discriminant > 0.0) {
                lowRoot = (-v - std::sqrt(discriminant)) / (2.0 * u);
                highRoot = (std::sqrt(discriminant) - v) / (2.0 * u);
                // The ranges [t1, t2] and [r1, r2] meet.
                if (t1 <= highRoot && lowRoot <= t2) code = 6;
            }
        } else if (std::fabs(discriminant) < tolerance || discriminant < 0.0) {
            code = 1;
        } else {
            const double first = (-v - std::sqrt(discriminant)) / (2.0 * u);
            const double second = (std::sqrt(discriminant) - v) / (2.0 * u);
            lowRoot = first < second ? first : second;
            highRoot = first < second ? second : first;
            const bool inside = lowRoot <= t1 && t1 <= highRoot && lowRoot <= t2 &&
                                t2 <= highRoot;
            if (!inside) code = 7;
        }
    }
    if (code == 0) return true;

    const double angle = wrappedAngle(twoThetaOfTangent(root));
    double lowAngle = twoThetaOfTangent(lowRoot);
    double highAngle = twoThetaOfTangent(highRoot);
    if (lowAngle < 0.0 && highAngle < 0.0) {
        lowAngle += 360.0;
        highAngle += 360.0;
    }
    switch (code) {
        case 1:
            formatIntoBuffer(buffer, capacity,
                             "Imaginary Gaussian FWHM detected across entire fitting range!\n");
            break;
        case 2:
            formatIntoBuffer(buffer, capacity,
                             "Zero Gaussian FWHM detected across entire fitting range!\n");
            break;
        case 3:
            formatIntoBuffer(buffer, capacity, "Zero Gaussian FWHM detected at %.1lfº!", angle);
            break;
        case 4:
            formatIntoBuffer(buffer, capacity, "Imaginary Gaussian FWHM detected below %.1lf˚!\n",
                             angle);
            break;
        case 5:
            formatIntoBuffer(buffer, capacity, "Imaginary Gaussian FWHM detected above %.1lf˚!",
                             angle);
            break;
        case 6:
            formatIntoBuffer(buffer, capacity,
                             "Imaginary Gaussian FWHM detected between %.1lf˚ and %.1lf˚!",
                             lowAngle, highAngle);
            break;
        default:
            formatIntoBuffer(buffer, capacity,
                             "Imaginary Gaussian FWHM detected below %.1lf˚ and above %.1lf˚!",
                             lowAngle, highAngle);
            break;
    }
    printToStream(stderr, "Invalid Gaussian FWHM for U = %lf, V = %lf, W = %lf\n( %s )\n", u, v,
                  w, buffer);
    return false;
}

bool lorentzianFwhmIsValid(const RefinementProfile *profile) {
    if (profile == nullptr) return false;
    const double tolerance = zeroTolerance();
    const double lx = profile->LX;
    const double ly = profile->LY;
    const double s1 = std::sin(lowestCheckedAngle(profile));
    const double s2 = std::sin(highestCheckedAngle(profile));
    char *buffer = errorBuffer();
    const std::size_t capacity = PK_ERROR_BUFFER_SIZE;

    int code = 0;
    double root = 0.0;
    if (!(std::fabs(ly) < tolerance)) {
        root = -lx / ly;
        if (ly > 0.0) {
            if (!(root < s1)) code = 4;
        } else if (!(root > s2)) {
            code = 3;
        }
    } else if (std::fabs(lx) < tolerance) {
        code = 2;
    } else if (!(lx >= 0.0)) {
        code = 1;
    }
    if (code == 0) return true;

    const double angle = 2.0 * std::asin(root) * kRadiansToDegrees;
    switch (code) {
        case 1:
            formatIntoBuffer(buffer, capacity,
                             "Negative Lorentzian FWHM detected across entire fitting range!\n");
            break;
        case 2:
            formatIntoBuffer(buffer, capacity,
                             "Zero Lorentzian FWHM detected across entire fitting range!\n");
            break;
        case 3:
            formatIntoBuffer(buffer, capacity, "Negative Lorentzian FWHM detected above %.1lf!\n",
                             angle);
            break;
        default:
            formatIntoBuffer(buffer, capacity, "Negative Lorentzian FWHM detected below %.1lf!\n",
                             angle);
            break;
    }
    printToStream(stderr, "Invalid Gaussian FWHM for LX = %lf, LY = %lf\n( %s )\n", lx, ly,
                  buffer);
    return false;
}

bool tofProfileIsValid(RefinementProfile *profile) {
    if (profile == nullptr) return false;
    const int32_t type = profile->profileType;
    if (type != PK_PROFILE_TOF_EXP_GAUSSIAN && type != PK_PROFILE_TOF_EXP_PSEUDO_VOIGT) {
        return false;
    }
    const RefinementProfileMethods *methods = profile->methods;
    if (methods == nullptr || methods->dSpacingRange == nullptr ||
        methods->xForReflexion == nullptr) {
        return false;
    }
    Reflexion *reflexion = makeReflexion();
    if (reflexion == nullptr) return false;
    double dMin = 0.0;
    double dMax = 0.0;
    methods->dSpacingRange(profile, &dMin, &dMax);
    reflexion->dSpacing = (dMin + dMax) * 0.5;
    reflexion->peakPosition = methods->xForReflexion(profile, reflexion);

    // Zero-filled, so fields a failed fill never reached read as 0.
    TofPseudoVoigtTerms terms{};
    const bool filled =
        type == PK_PROFILE_TOF_EXP_GAUSSIAN
            ? tofExpGaussianTerms(reflexion->peakPosition, reflexion, profile, &terms)
            : tofExpPseudoVoigtTerms(reflexion->peakPosition, reflexion, profile, &terms);
    reflexion->methods->freeReflexion(reflexion);
    if (filled) return true;

    const double tolerance = zeroTolerance();
    const char *reason = nullptr;
    if (terms.variance < tolerance) {
        reason = "Sigma is zero or negative!\nCheck sigma0, sigma1 and sigma2.\n";
    } else if (terms.normalization < tolerance) {
        reason = "Normalization is zero or negative!\nCheck alpha and beta.\n";
    } else if (type == PK_PROFILE_TOF_EXP_PSEUDO_VOIGT) {
        if (std::isnan(terms.e1P.real()) || std::isnan(terms.e1P.imag())) {
            reason = "NaN detected! Check alpha and gamma.\n";
        } else if (std::isnan(terms.e1Q.real()) || std::isnan(terms.e1Q.imag())) {
            reason = "NaN detected! Check beta and gamma.\n";
        }
    }
    if (reason == nullptr) return true;
    char *buffer = errorBuffer();
    formatIntoBuffer(buffer, PK_ERROR_BUFFER_SIZE, "%s", reason);
    printToStream(stderr, "Invalid TOF profile\n( %s )\n", buffer);
    return false;
}

}  // namespace powderkit

extern "C" bool ProfileParametersAreValid(RefinementProfile *profile) {
    using namespace powderkit;
    if (profile == nullptr) return false;
    std::memset(errorBuffer(), 0, PK_ERROR_BUFFER_SIZE);
    const double tolerance = zeroTolerance();
    switch (profile->profileType) {
        case PK_PROFILE_GAUSSIAN:
            return gaussianFwhmIsValid(profile);
        case PK_PROFILE_LORENTZIAN:
            return lorentzianFwhmIsValid(profile);
        case PK_PROFILE_PSEUDO_VOIGT: {
            const bool noGaussian = std::fabs(profile->U) < tolerance &&
                                    std::fabs(profile->V) < tolerance &&
                                    std::fabs(profile->W) < tolerance;
            const bool noLorentzian =
                std::fabs(profile->LX) < tolerance && std::fabs(profile->LY) < tolerance;
            if (noGaussian && noLorentzian) {
                formatIntoBuffer(errorBuffer(), PK_ERROR_BUFFER_SIZE,
                                 "Zero Gaussian and Lorentzian FWHM across entire fitting range!\n");
                return false;
            }
            if (noGaussian) return lorentzianFwhmIsValid(profile);
            if (noLorentzian) return gaussianFwhmIsValid(profile);
            return gaussianFwhmIsValid(profile) && lorentzianFwhmIsValid(profile);
        }
        case PK_PROFILE_TOF_EXP_GAUSSIAN:
        case PK_PROFILE_TOF_EXP_PSEUDO_VOIGT:
            return tofProfileIsValid(profile);
        default:
            // No shape exists for an unknown type (ProfileFuncForProfileType
            // gives NULL), so such a record is never valid; the buffer stays
            // empty because no width check applies.
            return false;
    }
}
