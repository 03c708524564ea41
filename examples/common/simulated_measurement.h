/* A simulated measurement: the calculated pattern of a crystal with seeded
 * counting noise on every point. */
#ifndef EXAMPLES_SIMULATED_MEASUREMENT_H
#define EXAMPLES_SIMULATED_MEASUREMENT_H

#include <stdbool.h>
#include <stdint.h>

#include "powderkit.h"

typedef struct Measurement {
    int32_t count;
    double *x;        /* pattern axis */
    double *observed; /* counts */
    double *truth;    /* the noise-free pattern */
} Measurement;

/* Calculates the pattern of the crystal (whose reflexions carry intensities
 * and positions) on xMin … xMax of the profile in steps of `step`, adds the
 * background, and draws a Poisson count of that mean at every point. */
bool simulateMeasurement(RefinementCrystal *crystal, RefinementProfile *profile, double step,
                         uint64_t seed, Measurement *measurement);

void freeMeasurement(Measurement *measurement);

#endif
