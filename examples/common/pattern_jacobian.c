/* The design matrix of a pattern from the derivative tables. A reflexion adds
 * s·I·Φ(x) to the pattern, so its column for a cell edge p is
 * s·(∂I/∂p·Φ + I·∂Φ/∂p), where the reflexion table gives ∂I/∂p and the profile
 * table ∂Φ/∂p (through the peak position); with b tied to a, the column of a
 * is the sum of the "a" and "b" columns. The scale column is s·I·(Φ/s), the
 * profile columns s·I·∂Φ/∂p, the background columns T_i of the reduced
 * position. */
#include "pattern_jacobian.h"

#include <stdio.h>
#include <string.h>

#include "calculated_pattern.h"

/* The tables store each function's address as the value of its key; a host
 * copies it back into a function pointer. */
_Static_assert(sizeof(void *) == sizeof(ProfileDerivativeFunction),
               "function addresses fit in the tables' values");

static ProfileDerivativeFunction profileFunction(const HashTable *table, const char *key) {
    void *value = pointerForKey(table, key);
    ProfileDerivativeFunction function = NULL;
    if (value != NULL) memcpy(&function, &value, sizeof value);
    return function;
}

static ReflexionDerivativeFunction reflexionFunction(const HashTable *table, const char *key) {
    void *value = pointerForKey(table, key);
    ReflexionDerivativeFunction function = NULL;
    if (value != NULL) memcpy(&function, &value, sizeof value);
    return function;
}

static BackgroundDerivativeFunction backgroundFunction(const HashTable *table, const char *key) {
    void *value = pointerForKey(table, key);
    BackgroundDerivativeFunction function = NULL;
    if (value != NULL) memcpy(&function, &value, sizeof value);
    return function;
}

bool lookUpPatternDerivatives(PatternDerivatives *d, int32_t profileType) {
    memset(d, 0, sizeof *d);
    d->profileTable = ProfileDerivativesHashTable(profileType);
    d->reflexionTable = ReflexionDerivativesHashTable();
    d->backgroundTable = BackgroundDerivativesHashTable();
    if (d->profileTable == NULL || d->reflexionTable == NULL || d->backgroundTable == NULL) {
        return false;
    }
    d->scale = profileFunction(d->profileTable, "Scale");
    d->a = profileFunction(d->profileTable, "a");
    d->b = profileFunction(d->profileTable, "b");
    d->c = profileFunction(d->profileTable, "c");
    d->zero = profileFunction(d->profileTable, "Zero");
    d->u = profileFunction(d->profileTable, "GU");
    d->v = profileFunction(d->profileTable, "GV");
    d->w = profileFunction(d->profileTable, "GW");
    d->intensityA = reflexionFunction(d->reflexionTable, "a");
    d->intensityB = reflexionFunction(d->reflexionTable, "b");
    d->intensityC = reflexionFunction(d->reflexionTable, "c");
    bool ok = d->scale && d->a && d->b && d->c && d->zero && d->u && d->v && d->w &&
              d->intensityA && d->intensityB && d->intensityC;
    for (int i = 0; i < BACKGROUND_TERMS; i++) {
        char key[8];
        snprintf(key, sizeof key, "B%d", i);
        d->background[i] = backgroundFunction(d->backgroundTable, key);
        ok = ok && d->background[i] != NULL;
    }
    return ok;
}

void releasePatternDerivatives(PatternDerivatives *d) {
    freeHashTable(d->profileTable);
    freeHashTable(d->reflexionTable);
    freeHashTable(d->backgroundTable);
    memset(d, 0, sizeof *d);
}

void fillPatternJacobian(const PatternDerivatives *d, RefinementCrystal *crystal,
                         RefinementProfile *profile, const double *x, int32_t count,
                         Matrix *jacobian) {
    ProfileFunction shape = ProfileFuncForProfileType(profile->profileType);
    for (int32_t i = 0; i < count; i++) {
        double *row = jacobian->rowPointers[i];
        for (int j = 0; j < PATTERN_PARAMETERS; j++) row[j] = 0.0;
        for (int j = 0; j < BACKGROUND_TERMS; j++) {
            row[P_B0 + j] = d->background[j](x[i], profile->xMin, profile->xMax);
        }
    }
    double s = crystal->scale;
    for (int32_t n = 0; n < crystal->reflexions->count; n++) {
        Reflexion *reflexion = crystal->reflexions->items[n];
        ReflexionRange range;
        /* A third of the model's window: the derivatives' far tails change the
         * normal matrix a little and the minimum not at all (the residuals,
         * on the full window, decide where it lies). */
        int32_t window = peakWindowPoints(profile, reflexion, x, count) / 3 | 1;
        if (!FindReflexionRange(reflexion, x, count, window, &range)) continue;
        double intensity = reflexion->intensity;
        double dIa = d->intensityA(crystal, reflexion, profile) +
                     d->intensityB(crystal, reflexion, profile);
        double dIc = d->intensityC(crystal, reflexion, profile);
        for (int32_t i = range.firstIndex; i <= range.lastIndex; i++) {
            double *row = jacobian->rowPointers[i];
            double xi = x[i];
            double value = shape(xi, reflexion, profile);
            row[P_SCALE] += s * intensity * d->scale(xi, crystal, reflexion, profile);
            row[P_A] += s * (dIa * value + intensity * (d->a(xi, crystal, reflexion, profile) +
                                                        d->b(xi, crystal, reflexion, profile)));
            row[P_C] += s * (dIc * value + intensity * d->c(xi, crystal, reflexion, profile));
            row[P_ZERO] += s * intensity * d->zero(xi, crystal, reflexion, profile);
            row[P_U] += s * intensity * d->u(xi, crystal, reflexion, profile);
            row[P_V] += s * intensity * d->v(xi, crystal, reflexion, profile);
            row[P_W] += s * intensity * d->w(xi, crystal, reflexion, profile);
        }
    }
}
