// The reciprocal cell, the cell volume and the two metric tensors of a
// crystal, from its six cell parameters. The reciprocal angles follow from
// the spherical-trigonometry relations cos α* = (cos β cos γ − cos α) /
// (sin β sin γ) and cyclic; the reciprocal edges from a* = 1/(a sin γ sin β*)
// and cyclic; the volume from V = a b sin γ / c*. Angles are converted with
// the truncated 13-digit factors, which every result depends on.
#include <cmath>

#include "frame/frame.hpp"
#include "powderkit.h"

namespace powderkit {
namespace {

// The reciprocal angle (degrees) opposite the direct angle `angle`, from the
// other two (radians): acos((cos other1 cos other2 − cos angle) /
// (sin other1 sin other2)).
double reciprocalAngle(double angle, double other1, double other2) {
    return std::acos((std::cos(other1) * std::cos(other2) - std::cos(angle)) /
                     (std::sin(other1) * std::sin(other2))) *
           kRadiansToDegrees;
}

// The metric tensor of edges a, b, c and angles α, β, γ (degrees): a², b², c²
// on the diagonal, b c cos α, a c cos β, a b cos γ off it. The same rule gives
// G from the direct cell and G* from the reciprocal one.
void fillMetricTensor(double a, double b, double c, double alpha, double beta, double gamma,
                      double (*g)[3]) {
    const double cosAlpha = std::cos(alpha * kDegreesToRadians);
    const double cosBeta = std::cos(beta * kDegreesToRadians);
    const double cosGamma = std::cos(gamma * kDegreesToRadians);
    g[0][0] = a * a;
    g[1][1] = b * b;
    g[2][2] = c * c;
    g[0][1] = g[1][0] = a * b * cosGamma;
    g[0][2] = g[2][0] = a * c * cosBeta;
    g[1][2] = g[2][1] = b * c * cosAlpha;
}

}  // namespace
}  // namespace powderkit

extern "C" {

// Writes alphaStar … gammaStar (degrees), aStar … cStar (1/Å) and volume (Å³).
void calculateReciprocalCell(RefinementCrystal *crystal) {
    using powderkit::kDegreesToRadians;
    const double alpha = crystal->alpha * kDegreesToRadians;
    const double beta = crystal->beta * kDegreesToRadians;
    const double gamma = crystal->gamma * kDegreesToRadians;

    crystal->alphaStar = powderkit::reciprocalAngle(alpha, beta, gamma);
    crystal->betaStar = powderkit::reciprocalAngle(beta, alpha, gamma);
    crystal->gammaStar = powderkit::reciprocalAngle(gamma, alpha, beta);

    // The reciprocal angles are read back from the stored degrees.
    const double alphaStar = crystal->alphaStar * kDegreesToRadians;
    const double betaStar = crystal->betaStar * kDegreesToRadians;
    const double gammaStar = crystal->gammaStar * kDegreesToRadians;
    crystal->aStar = 1.0 / (crystal->a * std::sin(gamma) * std::sin(betaStar));
    crystal->bStar = 1.0 / (crystal->b * std::sin(alpha) * std::sin(gammaStar));
    crystal->cStar = 1.0 / (crystal->c * std::sin(beta) * std::sin(alphaStar));

    crystal->volume = crystal->a * crystal->b * std::sin(gamma) / crystal->cStar;
}

// Writes G (Å²) from the cell and G* (1/Å²) from the stored reciprocal cell;
// both as full symmetric 3×3 matrices.
void calculateMetricTensor(RefinementCrystal *crystal) {
    powderkit::fillMetricTensor(crystal->a, crystal->b, crystal->c, crystal->alpha, crystal->beta,
                                crystal->gamma, crystal->metricTensor);
    powderkit::fillMetricTensor(crystal->aStar, crystal->bStar, crystal->cStar,
                                crystal->alphaStar, crystal->betaStar, crystal->gammaStar,
                                crystal->reciprocalMetricTensor);
}

}  // extern "C"
