// How the inverse d-spacing d* = 1/d of a reflexion, and so d itself, moves
// with the six cell parameters, for a general triclinic cell. The chain runs
// through the reciprocal cell: the reciprocal angles follow the direct ones
// by cos p* = (cos q cos r − cos p)/(sin q sin r) (spherical trigonometry),
// the reciprocal edges by a* = 1/(a sin β* sin γ) and cyclic, and d* by
// d*² = h²a*² + k²b*² + l²c*² + 2hk a*b* cos γ* + 2hl a*c* cos β* + 2kl b*c* cos α*.
// Angles are read in degrees and converted with the 13-digit factor; every
// derivative by an angle is per radian.
#include <cmath>

#include "derivatives/cell_derivatives.hpp"
#include "frame/frame.hpp"

namespace powderkit {
namespace {

// The reciprocal cell and indices of one reflexion, angles in radians.
struct ReciprocalTerms {
    double h, k, l;                 // Miller indices as doubles
    double d;                       // d-spacing, Å
    double aStar, bStar, cStar;     // 1/Å
    double alphaStar, betaStar, gammaStar;
    double a, b, c;                 // direct edges, Å
    double alpha, beta, gamma;      // direct angles
};

ReciprocalTerms reciprocalTerms(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    ReciprocalTerms t;
    t.h = static_cast<double>(reflexion->h);
    t.k = static_cast<double>(reflexion->k);
    t.l = static_cast<double>(reflexion->l);
    t.d = reflexion->dSpacing;
    t.aStar = crystal->aStar;
    t.bStar = crystal->bStar;
    t.cStar = crystal->cStar;
    t.alphaStar = crystal->alphaStar * kDegreesToRadians;
    t.betaStar = crystal->betaStar * kDegreesToRadians;
    t.gammaStar = crystal->gammaStar * kDegreesToRadians;
    t.a = crystal->a;
    t.b = crystal->b;
    t.c = crystal->c;
    t.alpha = crystal->alpha * kDegreesToRadians;
    t.beta = crystal->beta * kDegreesToRadians;
    t.gamma = crystal->gamma * kDegreesToRadians;
    return t;
}

// The direct angle a derivative is taken by.
enum class DirectAngle { alpha, beta, gamma };

// ∂α*/∂x, ∂β*/∂x, ∂γ*/∂x for one direct angle x.
struct ReciprocalAngleRates {
    double alphaStar, betaStar, gammaStar;
};

ReciprocalAngleRates reciprocalAngleRates(const RefinementCrystal *crystal, DirectAngle x) {
    const double alpha = crystal->alpha;
    const double beta = crystal->beta;
    const double gamma = crystal->gamma;
    switch (x) {
        case DirectAngle::alpha:
            return {diffReciprocalAngleWrtOwnAngle(alpha, beta, gamma),
                    diffReciprocalAngleWrtOtherAngle(beta, alpha, gamma),
                    diffReciprocalAngleWrtOtherAngle(gamma, alpha, beta)};
        case DirectAngle::beta:
            return {diffReciprocalAngleWrtOtherAngle(alpha, beta, gamma),
                    diffReciprocalAngleWrtOwnAngle(beta, gamma, alpha),
                    diffReciprocalAngleWrtOtherAngle(gamma, beta, alpha)};
        case DirectAngle::gamma:
        default:
            return {diffReciprocalAngleWrtOtherAngle(alpha, gamma, beta),
                    diffReciprocalAngleWrtOtherAngle(beta, gamma, alpha),
                    diffReciprocalAngleWrtOwnAngle(gamma, alpha, beta)};
    }
}

// ∂d*/∂x for a direct angle x: through a*, b*, c* and through the cosines of
// α*, β*, γ*.
double diffInverseDSpacingWrtAngle(const RefinementCrystal *crystal, const Reflexion *reflexion,
                                   DirectAngle x) {
    const ReciprocalTerms t = reciprocalTerms(crystal, reflexion);
    const ReciprocalAngleRates rate = reciprocalAngleRates(crystal, x);
    const double as2 = t.aStar * t.aStar;
    const double bs2 = t.bStar * t.bStar;
    const double cs2 = t.cStar * t.cStar;

    // The reciprocal edges, from a* = 1/(a sin β* sin γ) and cyclic.
    double dAStar;
    double dBStar;
    double dCStar;
    switch (x) {
        case DirectAngle::alpha:
            dAStar = -as2 * t.a * std::sin(t.gamma) * std::cos(t.betaStar) * rate.betaStar;
            dBStar = -bs2 * t.b *
                     (std::cos(t.gammaStar) * std::sin(t.alpha) * rate.gammaStar +
                      std::sin(t.gammaStar) * std::cos(t.alpha));
            dCStar = -cs2 * t.c * std::sin(t.beta) * std::cos(t.alphaStar) * rate.alphaStar;
            break;
        case DirectAngle::beta:
            dAStar = -as2 * t.a * std::sin(t.gamma) * std::cos(t.betaStar) * rate.betaStar;
            dBStar = -bs2 * t.b * std::sin(t.alpha) * std::cos(t.gammaStar) * rate.gammaStar;
            dCStar = -cs2 * t.c *
                     (std::cos(t.alphaStar) * std::sin(t.beta) * rate.alphaStar +
                      std::sin(t.alphaStar) * std::cos(t.beta));
            break;
        case DirectAngle::gamma:
        default:
            dAStar = -as2 * t.a *
                     (std::cos(t.betaStar) * std::sin(t.gamma) * rate.betaStar +
                      std::sin(t.betaStar) * std::cos(t.gamma));
            dBStar = -bs2 * t.b * std::sin(t.alpha) * std::cos(t.gammaStar) * rate.gammaStar;
            dCStar = -cs2 * t.c * std::sin(t.beta) * std::cos(t.alphaStar) * rate.alphaStar;
            break;
    }

    const double halfD = t.d / 2.0;
    return diffInverseDSpacingWrtAStar(crystal, reflexion) * dAStar +
           diffInverseDSpacingWrtBStar(crystal, reflexion) * dBStar +
           diffInverseDSpacingWrtCStar(crystal, reflexion) * dCStar -
           halfD * (2.0 * t.k * t.l) * t.bStar * t.cStar * std::sin(t.alphaStar) *
               rate.alphaStar -
           halfD * (2.0 * t.h * t.l) * t.aStar * t.cStar * std::sin(t.betaStar) * rate.betaStar -
           halfD * (2.0 * t.h * t.k) * t.aStar * t.bStar * std::sin(t.gammaStar) *
               rate.gammaStar;
}

}  // namespace

double diffReciprocalAngleWrtOwnAngle(double p, double q, double r) {
    const double pRad = p * kDegreesToRadians;
    const double qRad = q * kDegreesToRadians;
    const double rRad = r * kDegreesToRadians;
    const double cosine = (std::cos(qRad) * std::cos(rRad) - std::cos(pRad)) /
                          (std::sin(qRad) * std::sin(rRad));
    return -(std::sin(pRad) / (std::sin(qRad) * std::sin(rRad))) /
           std::sqrt(1.0 - cosine * cosine);
}

double diffReciprocalAngleWrtOtherAngle(double p, double q, double r) {
    const double pRad = p * kDegreesToRadians;
    const double qRad = q * kDegreesToRadians;
    const double rRad = r * kDegreesToRadians;
    const double sinQ = std::sin(qRad);
    const double sinR = std::sin(rRad);
    const double cosQ = std::cos(qRad);
    const double cosR = std::cos(rRad);
    const double cosine = (cosQ * cosR - std::cos(pRad)) / (sinQ * sinR);
    return -(1.0 / std::sqrt(1.0 - cosine * cosine)) *
           ((-sinQ * cosR - sinR * cosQ * cosine) / (sinQ * sinR));
}

double diffInverseDSpacingWrtAStar(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    const ReciprocalTerms t = reciprocalTerms(crystal, reflexion);
    return (t.d / 2.0) * (2.0 * t.aStar * (t.h * t.h) +
                          t.bStar * std::cos(t.gammaStar) * (2.0 * t.h * t.k) +
                          t.cStar * std::cos(t.betaStar) * (2.0 * t.h * t.l));
}

double diffInverseDSpacingWrtBStar(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    const ReciprocalTerms t = reciprocalTerms(crystal, reflexion);
    return (t.d / 2.0) * (t.aStar * std::cos(t.gammaStar) * (2.0 * t.h * t.k) +
                          2.0 * t.bStar * (t.k * t.k) +
                          t.cStar * std::cos(t.alphaStar) * (2.0 * t.k * t.l));
}

double diffInverseDSpacingWrtCStar(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    const ReciprocalTerms t = reciprocalTerms(crystal, reflexion);
    return (t.d / 2.0) * (t.aStar * std::cos(t.betaStar) * (2.0 * t.h * t.l) +
                          2.0 * t.cStar * (t.l * t.l) +
                          t.bStar * std::cos(t.alphaStar) * (2.0 * t.k * t.l));
}

double diffInverseDSpacingWrtAlpha(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    return diffInverseDSpacingWrtAngle(crystal, reflexion, DirectAngle::alpha);
}

double diffInverseDSpacingWrtBeta(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    return diffInverseDSpacingWrtAngle(crystal, reflexion, DirectAngle::beta);
}

double diffInverseDSpacingWrtGamma(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    return diffInverseDSpacingWrtAngle(crystal, reflexion, DirectAngle::gamma);
}

// An edge moves only its own reciprocal edge: ∂a*/∂a = −a*² sin β* sin γ.
double diffDSpacingWrtCellA(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    const ReciprocalTerms t = reciprocalTerms(crystal, reflexion);
    const double dAStar = -(t.aStar * t.aStar) * std::sin(t.betaStar) * std::sin(t.gamma);
    return -(t.d * t.d) * diffInverseDSpacingWrtAStar(crystal, reflexion) * dAStar;
}

double diffDSpacingWrtCellB(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    const ReciprocalTerms t = reciprocalTerms(crystal, reflexion);
    const double dBStar = -(t.bStar * t.bStar) * std::sin(t.gammaStar) * std::sin(t.alpha);
    return -(t.d * t.d) * diffInverseDSpacingWrtBStar(crystal, reflexion) * dBStar;
}

double diffDSpacingWrtCellC(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    const ReciprocalTerms t = reciprocalTerms(crystal, reflexion);
    const double dCStar = -(t.cStar * t.cStar) * std::sin(t.alphaStar) * std::sin(t.beta);
    return -(t.d * t.d) * diffInverseDSpacingWrtCStar(crystal, reflexion) * dCStar;
}

double diffDSpacingWrtCellAlpha(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    const double d = reflexion->dSpacing;
    return -(d * d) * diffInverseDSpacingWrtAlpha(crystal, reflexion);
}

double diffDSpacingWrtCellBeta(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    const double d = reflexion->dSpacing;
    return -(d * d) * diffInverseDSpacingWrtBeta(crystal, reflexion);
}

double diffDSpacingWrtCellGamma(const RefinementCrystal *crystal, const Reflexion *reflexion) {
    const double d = reflexion->dSpacing;
    return -(d * d) * diffInverseDSpacingWrtGamma(crystal, reflexion);
}

}  // namespace powderkit
