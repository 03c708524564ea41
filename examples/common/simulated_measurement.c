/* Simulated measurements for the refinement and raw-pattern examples. */
#include "simulated_measurement.h"

#include <stdlib.h>

#include "calculated_pattern.h"
#include "counting_noise.h"

bool simulateMeasurement(RefinementCrystal *crystal, RefinementProfile *profile, double step,
                         uint64_t seed, Measurement *m) {
    m->x = makeAxis(profile->xMin, profile->xMax, step, &m->count);
    if (m->x == NULL) return false;
    m->observed = malloc((size_t)m->count * sizeof(double));
    m->truth = malloc((size_t)m->count * sizeof(double));
    double *background = malloc((size_t)m->count * sizeof(double));
    bool ok = m->observed != NULL && m->truth != NULL && background != NULL &&
              addReflexionPeaks(crystal, profile, m->x, m->count, m->truth) >= 0;
    if (ok) {
        calculateBackground(profile, m->x, m->count, background);
        NoiseSource noise;
        seedNoise(&noise, seed);
        for (int32_t i = 0; i < m->count; i++) {
            m->truth[i] += background[i];
            m->observed[i] = poissonCount(&noise, m->truth[i]);
        }
    }
    free(background);
    if (!ok) freeMeasurement(m);
    return ok;
}

void freeMeasurement(Measurement *m) {
    free(m->x);
    free(m->observed);
    free(m->truth);
    m->x = m->observed = m->truth = NULL;
    m->count = 0;
}
