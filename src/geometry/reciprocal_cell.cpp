// The reciprocal cell, the cell volume and the two metric tensors of a
// crystal, from its six cell parameters. The reciprocal angles follow from
// the spherical-trigonometry relations cos α* = (cos β cos γ − cos α) /
// (sin β sin γ) and cyclic; the reciprocal edges from a* = 1/(a sin γ sin β*)
// and cyclic; the volume from V = a b sin γ / c*. Angles are converted with
// the truncated 13-digit factors, which every result depends on.
#include <cmath>

#include "frame/frame.hpp"
#include "powderkit.h"

extern "C" {

// Writes alphaStar … gammaStar (degrees), aStar … cStar (1/Å) and volume (Å³).
void calculateReciprocalCell(RefinementCrystal *crystal) {
    using powderkit::kDegreesToRadians;
    using powderkit::kRadiansToDegrees;
    const double alpha = crystal->alpha * kDegreesToRadians;
    const double beta = crystal->beta * kDegreesToRadians;
    const double gamma = crystal->gamma * kDegreesToRadians;

    crystal->alphaStar = std::acos((std::cos(beta) * std::cos(gamma) - std::cos(alpha)) /
                                   (std::sin(beta) * std::sin(gamma))) *
                         kRadiansToDegrees;
    crystal->betaStar = std::acos((std::cos(alpha) * std::cos(gamma) - std::cos(beta)) /
                                  (std::sin(alpha) * std::sin(gamma))) *
                        kRadiansToDegrees;
    crystal->gammaStar = std::acos((std::cos(alpha) * std::cos(beta) - std::cos(gamma)) /
                                   (std::sin(alpha) * std::sin(beta))) *
                         kRadiansToDegrees;

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
    using powderkit::kDegreesToRadians;
    const double a = crystal->a;
    const double b = crystal->b;
    const double c = crystal->c;
    const double cosAlpha = std::cos(crystal->alpha * kDegreesToRadians);
    const double cosBeta = std::cos(crystal->beta * kDegreesToRadians);
    const double cosGamma = std::cos(crystal->gamma * kDegreesToRadians);
    double(*g)[3] = crystal->metricTensor;
    g[0][0] = a * a;
    g[1][1] = b * b;
    g[2][2] = c * c;
    g[0][1] = g[1][0] = a * b * cosGamma;
    g[0][2] = g[2][0] = a * c * cosBeta;
    g[1][2] = g[2][1] = b * c * cosAlpha;

    const double as = crystal->aStar;
    const double bs = crystal->bStar;
    const double cs = crystal->cStar;
    const double cosAlphaStar = std::cos(crystal->alphaStar * kDegreesToRadians);
    const double cosBetaStar = std::cos(crystal->betaStar * kDegreesToRadians);
    const double cosGammaStar = std::cos(crystal->gammaStar * kDegreesToRadians);
    double(*gs)[3] = crystal->reciprocalMetricTensor;
    gs[0][0] = as * as;
    gs[1][1] = bs * bs;
    gs[2][2] = cs * cs;
    gs[0][1] = gs[1][0] = as * bs * cosGammaStar;
    gs[0][2] = gs[2][0] = as * cs * cosBetaStar;
    gs[1][2] = gs[2][1] = bs * cs * cosAlphaStar;
}

}  // extern "C"
