/* Pseudo-random numbers for the simulated measurements: the splitmix64
 * generator (Steele, Lea and Flood 2014), uniform deviates from its top 53
 * bits, normal deviates by Box–Muller, Poisson counts by Knuth's product of
 * uniforms for small means and the normal approximation for large ones. */
#include "counting_noise.h"

#include <math.h>

void seedNoise(NoiseSource *source, uint64_t seed) { source->state = seed; }

static uint64_t nextBits(NoiseSource *source) {
    uint64_t z = (source->state += UINT64_C(0x9E3779B97F4A7C15));
    z = (z ^ (z >> 30)) * UINT64_C(0xBF58476D1CE4E5B9);
    z = (z ^ (z >> 27)) * UINT64_C(0x94D049BB133111EB);
    return z ^ (z >> 31);
}

double uniformDeviate(NoiseSource *source) {
    return ((double)(nextBits(source) >> 11) + 1.0) * (1.0 / 9007199254740992.0);
}

double normalDeviate(NoiseSource *source) {
    double u = uniformDeviate(source), v = uniformDeviate(source);
    return sqrt(-2.0 * log(u)) * cos(6.283185307179586 * v);
}

double poissonCount(NoiseSource *source, double mean) {
    if (!(mean > 0.0)) return 0.0;
    if (mean < 50.0) {
        double limit = exp(-mean), product = uniformDeviate(source);
        double count = 0.0;
        while (product > limit) {
            product *= uniformDeviate(source);
            count += 1.0;
        }
        return count;
    }
    double count = floor(mean + sqrt(mean) * normalDeviate(source) + 0.5);
    return count > 0.0 ? count : 0.0;
}
