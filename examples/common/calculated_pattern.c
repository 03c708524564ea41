/* The calculated pattern: reflexion intensities (structure factor, Lorentz-
 * polarisation, multiplicity), then for each pattern point the sum over the
 * reflexions whose window covers it of scale × intensity × peak shape, then
 * the Chebyshev background. The shapes have unit area over the pattern axis
 * (degrees of 2θ; for time of flight unit area over microseconds, so 0.001 over
 * the millisecond axis). */
#include "calculated_pattern.h"

#include <math.h>
#include <stdlib.h>

#define DEGREES_TO_RADIANS 0.017453292519943295

bool calculateReflexionIntensities(RefinementCrystal *crystal, RefinementProfile *profile,
                                   bool dropExtinct) {
    if (crystal->reflexions == NULL) return false;
    for (int32_t i = 0; i < crystal->reflexions->count; i++) {
        calculateIntensityForReflexion(crystal, crystal->reflexions->items[i], profile);
    }
    if (!calculateRelativeIntensities(crystal)) return false;
    if (dropExtinct) removeZeroIntensityReflexions(crystal);
    calculatePeakPositionsForPlot(crystal, profile);
    return crystal->reflexions != NULL && crystal->reflexions->count > 0;
}

/* Full width at half maximum of the constant-wavelength shapes at 2θ₀, from
 * the Caglioti and Lorentzian widths combined as the pseudo-Voigt combines
 * them; *lorentzian tells whether a Lorentzian part is present. */
static double constantWavelengthWidth(const RefinementProfile *p, double twoTheta,
                                      bool *lorentzian) {
    double theta = 0.5 * twoTheta * DEGREES_TO_RADIANS;
    double t = tan(theta);
    double g2 = p->U * t * t + p->V * t + p->W;
    double g = g2 > 0.0 ? sqrt(g2) : 0.0;
    double l = p->LX / cos(theta) + p->LY * t;
    if (p->profileType == PK_PROFILE_GAUSSIAN) l = 0.0;
    if (p->profileType == PK_PROFILE_LORENTZIAN) g = 0.0;
    if (l < 0.0) l = 0.0;
    *lorentzian = l > 0.0;
    double h5 = pow(g, 5) + 2.69269 * pow(g, 4) * l + 2.42843 * pow(g, 3) * l * l +
                4.47163 * g * g * pow(l, 3) + 0.07842 * g * pow(l, 4) + pow(l, 5);
    return pow(h5, 0.2);
}

double peakWindowHalfWidth(const RefinementProfile *p, const Reflexion *r) {
    if (p->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT) {
        double d = r->dSpacing;
        double sigma2 = p->sigma0 + p->sigma1 * d * d + p->sigma2 * pow(d, 4);
        double sigma = sigma2 > 0.0 ? sqrt(sigma2) : 0.0;
        double alpha = p->alpha1 / d + (p->profileType == PK_PROFILE_TOF_EXP_GAUSSIAN ? p->alpha0 : 0.0);
        double beta = p->beta0 + p->beta1 / pow(d, 4);
        double gamma = p->profileType == PK_PROFILE_TOF_EXP_PSEUDO_VOIGT
                           ? p->gamma0 + p->gamma1 * d + p->gamma2 * d * d
                           : 0.0;
        double microseconds = 10.0 * sigma + 25.0 * fabs(gamma);
        if (alpha > 0.0) microseconds += 8.0 / alpha;
        if (beta > 0.0) microseconds += 9.0 / beta;
        return 0.001 * microseconds;
    }
    bool lorentzian = false;
    double width = constantWavelengthWidth(p, r->peakPosition, &lorentzian);
    double asymmetry = fabs(p->asymmetry / tan(r->peakPosition * DEGREES_TO_RADIANS));
    return (lorentzian ? 40.0 : 12.0) * width + asymmetry;
}

int32_t peakWindowPoints(const RefinementProfile *profile, const Reflexion *reflexion,
                         const double *x, int32_t count) {
    if (count < 2) return 1;
    double step = (x[count - 1] - x[0]) / (count - 1);
    double half = ceil(peakWindowHalfWidth(profile, reflexion) / step);
    if (!(half >= 1.0)) half = 1.0;
    if (half > count) half = count;
    return 2 * (int32_t)half + 1;
}

int addReflexionPeaks(RefinementCrystal *crystal, RefinementProfile *profile, const double *x,
                      int32_t count, double *peaks) {
    ProfileFunction shape = ProfileFuncForProfileType(profile->profileType);
    if (shape == NULL) return -1;
    for (int32_t i = 0; i < count; i++) peaks[i] = 0.0;
    int placed = 0;
    for (int32_t n = 0; crystal->reflexions != NULL && n < crystal->reflexions->count; n++) {
        Reflexion *reflexion = crystal->reflexions->items[n];
        ReflexionRange range;
        int32_t window = peakWindowPoints(profile, reflexion, x, count);
        if (!FindReflexionRange(reflexion, x, count, window, &range)) continue;
        double weight = crystal->scale * reflexion->intensity;
        for (int32_t i = range.firstIndex; i <= range.lastIndex; i++) {
            peaks[i] += weight * shape(x[i], reflexion, profile);
        }
        placed += 1;
    }
    return placed;
}

bool scaleToPeakHeight(RefinementCrystal *crystal, RefinementProfile *profile, const double *x,
                       int32_t count, double height, double *work) {
    crystal->scale = 1.0;
    if (addReflexionPeaks(crystal, profile, x, count, work) < 0) return false;
    double highest = 0.0;
    for (int32_t i = 0; i < count; i++) highest = work[i] > highest ? work[i] : highest;
    if (!(highest > 0.0)) return false;
    crystal->scale = height / highest;
    for (int32_t i = 0; i < count; i++) work[i] *= crystal->scale;
    return true;
}

void calculateBackground(RefinementProfile *profile, const double *x, int32_t count,
                         double *background) {
    for (int32_t i = 0; i < count; i++) {
        background[i] = BackgroundIntensity(profile->backgroundCoefficients, x[i], profile->xMin,
                                            profile->xMax);
    }
}

double *makeAxis(double xMin, double xMax, double step, int32_t *count) {
    if (!(step > 0.0) || !(xMax > xMin)) return NULL;
    double n = floor((xMax - xMin) / step + 0.5) + 1.0;
    if (n < 2.0 || n > 50000000.0) return NULL;
    double *x = malloc((size_t)n * sizeof *x);
    if (x == NULL) return NULL;
    for (int32_t i = 0; i < (int32_t)n; i++) x[i] = xMin + step * i;
    *count = (int32_t)n;
    return x;
}
