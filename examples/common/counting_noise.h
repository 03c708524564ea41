/* Seeded counting noise for simulated measurements: the same seed gives the
 * same pattern on every machine. */
#ifndef EXAMPLES_COUNTING_NOISE_H
#define EXAMPLES_COUNTING_NOISE_H

#include <stdint.h>

typedef struct NoiseSource {
    uint64_t state;
} NoiseSource;

void seedNoise(NoiseSource *source, uint64_t seed);

/* Uniform in (0, 1]. */
double uniformDeviate(NoiseSource *source);

/* Standard normal (Box–Muller). */
double normalDeviate(NoiseSource *source);

/* A Poisson count of mean `mean` (exact below 50, normal approximation with
 * continuity rounding above). */
double poissonCount(NoiseSource *source, double mean);

#endif
