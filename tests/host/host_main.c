/* A C11 host that includes only the public headers and links only the shared
 * libraries: it checks the record layouts from C, builds and frees a crystal
 * the way a host application does, reads rock salt from CIF text through the
 * phase layer and drives the three roads on the core's records of it: a
 * calculated pattern (checked against the independent reference list), a
 * refinement cycle on it, and the raw-pattern analysis of that pattern; and
 * the same rock salt as one whole pattern of the layer. */
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "interface/expected_layout.h"
#include "powderkit.h"
#include "powderkit_phase.h"

static int passed = 0;
static int failed = 0;

static void check(int condition, const char *what) {
    if (condition) {
        passed += 1;
    } else {
        failed += 1;
        fprintf(stderr, "FAILED: %s\n", what);
    }
}

static void checkLayout(void) {
#define PK_CHECK_SIZE(Record, size) check(sizeof(Record) == (size), "sizeof " #Record);
    PK_EXPECTED_SIZES(PK_CHECK_SIZE)
#undef PK_CHECK_SIZE
#define PK_CHECK_OFFSET(Record, field, offset) \
    check(offsetof(Record, field) == (offset), "offsetof " #Record "." #field);
    PK_EXPECTED_OFFSETS(PK_CHECK_OFFSET)
#undef PK_CHECK_OFFSET
}

static RefinementSymmetryOperator *makeOperator(const int rotation[9], const double t[3]) {
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    if (op == NULL) return NULL;
    memcpy(op->rotation, rotation, sizeof op->rotation);
    memcpy(op->translation, t, sizeof op->translation);
    return op;
}

static Site *makeSite(const char *label, double x, double y, double z, const char *element) {
    Site *site = makeEmptySite();
    if (site == NULL) return NULL;
    site->label = label;
    site->x = x;
    site->y = y;
    site->z = z;
    site->isIncluded = 1;
    site->occupants = makeDynamicArrayWithCapacity(2);
    RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
    RefinementSiteOccupant *occupant = makeRefinementSiteOccupant(element, 1.0, factor);
    if (occupant == NULL) freeRefinementAtomicScatteringFactor(factor);
    addObjectToDynamicArray(site->occupants, occupant);
    site->displacement = makeRefinementThermalEllipsoidUij();
    site->atoms = makeDynamicArrayWithCapacity(4);
    addObjectToDynamicArray(site->atoms, makeRefinementAtom(x, y, z));
    return site;
}

/* A rock-salt crystal with two sites, their occupants, positions and
 * displacement records, two operators and one reflexion, freed as a whole. */
static void buildAndFreeCrystal(void) {
    static const int identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    static const int inversion[9] = {-1, 0, 0, 0, -1, 0, 0, 0, -1};
    static const double noShift[3] = {0.0, 0.0, 0.0};

    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    check(crystal != NULL, "crystal made");
    if (crystal == NULL) return;
    check(crystal->scale == 1.0 && crystal->auxiliaryFactor == 1.0, "crystal defaults");
    crystal->a = crystal->b = crystal->c = 5.6402;
    crystal->alpha = crystal->beta = crystal->gamma = 90.0;
    crystal->latticeType = 'F';

    crystal->sites = makeDynamicArrayWithCapacity(2);
    addObjectToDynamicArray(crystal->sites, makeSite("Na1", 0.0, 0.0, 0.0, "Na"));
    addObjectToDynamicArray(crystal->sites, makeSite("Cl1", 0.5, 0.5, 0.5, "Cl"));
    check(crystal->sites->count == 2, "two sites listed");

    crystal->symmetryOperators = makeDynamicArrayWithCapacity(2);
    addObjectToDynamicArray(crystal->symmetryOperators, makeOperator(identity, noShift));
    addObjectToDynamicArray(crystal->symmetryOperators, makeOperator(inversion, noShift));
    check(crystal->symmetryOperators->count == 2, "two operators listed");

    crystal->reflexions = makeDynamicArrayWithCapacity(1);
    Reflexion *reflexion = makeReflexion();
    check(reflexion != NULL && reflexion->methods != NULL, "reflexion made");
    addObjectToDynamicArray(crystal->reflexions, reflexion);

    calculateSimilarityIndices(crystal);
    Site *second = (Site *)crystal->sites->items[1];
    check(second->similarityIndex == 1, "different occupants start a new run");

    char text[128];
    second->constraintX = 1;
    check(second->methods->describeSiteConstraints(second, text, (int32_t)sizeof text),
          "constraint text fits");
    check(strcmp(text, "Atomic coordinate constraints for site Cl1 : [x =  1, y =  0, z =  0]") == 0,
          "constraint text");

    freeRefinementCrystalReflexions(crystal);
    check(crystal->reflexions == NULL, "reflexion list released");
    crystal->methods->freeRefinementCrystal(crystal);
}

static void useContainers(void) {
    HashTable *table = makeHashTable();
    int value = 7;
    setPointerForKey(&table, &value, "Scale");
    check(pointerForKey(table, "Scale") == &value, "hash table lookup");
    check(pointerForKey(table, "scale") == NULL, "keys are case sensitive");
    freeHashTable(table);

    char *buffer = GetErrorBuffer();
    check(buffer != NULL && buffer == GetErrorBuffer() && buffer[0] == '\0', "error buffer");
}


/* ------------------------------------------------------------------------- */
/* Road of one calculated pattern: rock salt, Cu Kα1 X-rays                   */
/* ------------------------------------------------------------------------- */

#define ROCK_SALT_A 5.6402
#define WAVELENGTH 1.5406
#define X_MIN 20.0
#define X_MAX 80.0
#define X_STEP 0.02
#define POINTS 3001

/* Rock salt as a host holds it in memory: the cell, the space-group symbol
 * (the layer supplies the 192 operators) and the two sites with their Uiso. */
static const char rockSaltCif[] =
    "data_rocksalt\n"
    "_cell_length_a 5.6402\n_cell_length_b 5.6402\n_cell_length_c 5.6402\n"
    "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
    "_symmetry_space_group_name_H-M 'F m -3 m'\n"
    "loop_\n_atom_site_label\n_atom_site_type_symbol\n"
    "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
    "_atom_site_occupancy\n_atom_site_U_iso_or_equiv\n"
    "Na1 Na 0 0 0 1 0.0155\n"
    "Cl1 Cl 0.5 0.5 0.5 1 0.0122\n";

static Reflexion *findReflexion(RefinementCrystal *crystal, int h, int k, int l) {
    for (int32_t i = 0; i < crystal->reflexions->count; i++) {
        Reflexion *r = crystal->reflexions->items[i];
        int a[3] = {abs(r->h), abs(r->k), abs(r->l)};
        int b[3] = {h, k, l};
        /* In a cubic crystal the set is fixed by the sorted |indices|. */
        for (int x = 0; x < 2; x++) {
            for (int y = 0; y < 2 - x; y++) {
                if (a[y] > a[y + 1]) { int t = a[y]; a[y] = a[y + 1]; a[y + 1] = t; }
                if (b[y] > b[y + 1]) { int t = b[y]; b[y] = b[y + 1]; b[y + 1] = t; }
            }
        }
        if (a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) return r;
    }
    return NULL;
}

static RefinementProfile *makeRockSaltProfile(void) {
    RefinementProfile *profile = makeRefinementProfile(PK_EXPERIMENT_CONSTANT_WAVELENGTH,
                                                       PK_RADIATION_XRAY, PK_PROFILE_PSEUDO_VOIGT,
                                                       WAVELENGTH, X_MIN, X_MAX);
    if (profile == NULL) return NULL;
    profile->U = 0.004;
    profile->V = -0.002;
    profile->W = 0.003;
    profile->LX = 0.02;
    profile->LY = 0.01;
    profile->backgroundCoefficients[0] = 100.0;
    profile->backgroundCoefficients[1] = -20.0;
    return profile;
}

static void calculateIntensities(RefinementCrystal *crystal, RefinementProfile *profile) {
    for (int32_t i = 0; i < crystal->reflexions->count; i++) {
        calculateIntensityForReflexion(crystal, crystal->reflexions->items[i], profile);
    }
    calculateRelativeIntensities(crystal);
    calculatePeakPositionsForPlot(crystal, profile);
}

/* y = background + Σ scale·I·profile over each reflexion's window of ±2°. */
static void calculatePattern(RefinementCrystal *crystal, RefinementProfile *profile,
                             const double *x, double *y) {
    ProfileFunction shape = ProfileFuncForProfileType(profile->profileType);
    for (int i = 0; i < POINTS; i++) {
        y[i] = BackgroundIntensity(profile->backgroundCoefficients, x[i], X_MIN, X_MAX);
    }
    for (int32_t n = 0; n < crystal->reflexions->count; n++) {
        Reflexion *r = crystal->reflexions->items[n];
        ReflexionRange range;
        if (!FindReflexionRange(r, x, POINTS, 201, &range)) continue;
        for (int32_t i = range.firstIndex; i <= range.lastIndex; i++) {
            y[i] += crystal->scale * r->intensity * shape(x[i], r, profile);
        }
    }
}

static void calculatedPatternRoad(RefinementCrystal *crystal, RefinementProfile *profile,
                                  const double *x, double *y) {
    /* h ≥ k ≥ l ≥ 0, all even or all odd, h² + k² + l² ≤ (2a/λ)² = 53.6: 22 sets. */
    check(crystal->reflexions != NULL && crystal->reflexions->count == 22,
          "rock salt has 22 independent reflexions with d > λ/2");
    calculateIntensities(crystal, profile);

    /* The reference list: |F|², multiplicity and λ³·Lp·|F|²·m/V² of three
     * reflexions, computed independently. */
    static const struct { int h, k, l, multiplicity; double f2, intensity; } expected[] = {
        {1, 1, 1, 8, 3.18136313e+02, 2.37757856e+00},
        {0, 2, 0, 6, 6.81727981e+03, 2.78962679e+01},
        {0, 2, 2, 12, 4.64731276e+03, 1.71680392e+01},
        {1, 3, 1, 24, 1.11579842e+02, 5.60234327e-01}};
    for (size_t i = 0; i < sizeof expected / sizeof expected[0]; i++) {
        const Reflexion *r = findReflexion(crystal, expected[i].h, expected[i].k, expected[i].l);
        check(r != NULL, "reference reflexion generated");
        if (r == NULL) continue;
        double f2 = r->structureFactorReal * r->structureFactorReal +
                    r->structureFactorImag * r->structureFactorImag;
        check(r->multiplicity == expected[i].multiplicity, "multiplicity as the reference");
        check(fabs(f2 / expected[i].f2 - 1.0) < 1e-6, "|F|² as the reference");
        check(fabs(r->intensity / expected[i].intensity - 1.0) < 1e-6, "intensity as the reference");
    }
    const Reflexion *strongest = findReflexion(crystal, 0, 0, 2);
    check(strongest != NULL && strongest->relativeIntensity == 1.0, "(2 0 0) is the strongest");

    crystal->scale = 50.0;
    calculatePattern(crystal, profile, x, y);
    /* The shapes have unit area: Σ (y − background)·step = scale·Σ I over the
     * reflexions inside the range (none lies within 2° of its ends), less the
     * pseudo-Voigt tails beyond the ±2° windows. */
    double area = 0.0, expectedArea = 0.0;
    for (int i = 0; i < POINTS; i++) {
        area += (y[i] - BackgroundIntensity(profile->backgroundCoefficients, x[i], X_MIN, X_MAX)) * X_STEP;
    }
    for (int32_t n2 = 0; n2 < crystal->reflexions->count; n2++) {
        const Reflexion *r = crystal->reflexions->items[n2];
        if (r->peakPosition > X_MIN && r->peakPosition < X_MAX) expectedArea += 50.0 * r->intensity;
    }
    check(fabs(area / expectedArea - 1.0) < 0.02, "pattern area = scale × Σ intensity");
}

/* ------------------------------------------------------------------------- */
/* Road of one raw pattern: the rock-salt pattern above                      */
/* ------------------------------------------------------------------------- */

static void rawPatternRoad(const double *x, const double *y, double background60) {
    PatternPoint points[POINTS];
    for (int i = 0; i < POINTS; i++) {
        points[i].x = x[i];
        points[i].y = y[i];
    }
    int32_t n = 0;
    PeakRange *ranges = locatePeakRanges(points, POINTS, 3, &n);
    check(ranges != NULL && n == 3, "three strongest maxima");
    /* Bragg's 2θ of (2 0 0): 2·asin(λ/(2·a/2)). */
    double expected = 2.0 * asin(WAVELENGTH / ROCK_SALT_A) * 57.29577951308232;
    bool found = false;
    for (int32_t i = 0; i < n; i++) {
        Matrix *fit = pseudoVoigtFit(&ranges[i]);
        double position = 0, area = 0, base = 0, fwhm = 0, eta = 0;
        if (fit != NULL && peakParametersForPseudoVoigt(fit, &position, &area, &base, &fwhm, &eta) &&
            fabs(position - expected) < 0.005) {
            found = true;
            check(fwhm > 0.05 && fwhm < 0.15 && eta >= 0.0 && eta <= 1.0, "(2 0 0) width and shape");
            check(fabs(pseudoVoigt(position, fit) - points[ranges[i].maximum - points].y) <
                      0.02 * ranges[i].height,
                  "the fit reaches the maximum");
        }
        freeMatrix(fit);
    }
    check(found, "(2 0 0) fitted at its Bragg angle");
    free(ranges);

    PatternPoint *background = fittedBackground(points, POINTS);
    check(background != NULL, "background estimated");
    if (background != NULL) {
        int i60 = (int)((60.0 - X_MIN) / X_STEP + 0.5);
        check(fabs(background[i60].y - background60) < 0.05 * background60,
              "background at 60° near the Chebyshev value");
        free(background);
    }
}


/* ------------------------------------------------------------------------- */
/* Road of one refinement cycle: scale and a of rock salt from a wrong start */
/* ------------------------------------------------------------------------- */

static void *tableValue(const HashTable *table, const char *key) {
    return pointerForKey(table, key);
}

/* Copies a function address out of a table value (ISO C has no cast between
 * object and function pointers). */
#define FUNCTION_FROM(variable, table, key)                      \
    do {                                                         \
        void *value_ = tableValue(table, key);                   \
        memset(&(variable), 0, sizeof(variable));                \
        if (value_ != NULL) memcpy(&(variable), &value_, sizeof value_); \
    } while (0)

/* Sets a = b = c and everything that depends on the cell and the scale. */
static void setRockSaltModel(RefinementCrystal *crystal, RefinementProfile *profile, double scale,
                             double a) {
    crystal->scale = scale;
    crystal->a = crystal->b = crystal->c = a;
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    for (int32_t i = 0; i < crystal->reflexions->count; i++) {
        Reflexion *r = crystal->reflexions->items[i];
        r->dSpacing = dSpacingForHKL(crystal, r->h, r->k, r->l);
    }
    calculateIntensities(crystal, profile);
}

static void refinementCycleRoad(RefinementCrystal *crystal, RefinementProfile *profile,
                                const double *x, const double *observed) {
    HashTable *profileTable = ProfileDerivativesHashTable(profile->profileType);
    HashTable *reflexionTable = ReflexionDerivativesHashTable();
    ProfileDerivativeFunction dScale, dA, dB, dC;
    ReflexionDerivativeFunction dIA, dIB, dIC;
    FUNCTION_FROM(dScale, profileTable, "Scale");
    FUNCTION_FROM(dA, profileTable, "a");
    FUNCTION_FROM(dB, profileTable, "b");
    FUNCTION_FROM(dC, profileTable, "c");
    FUNCTION_FROM(dIA, reflexionTable, "a");
    FUNCTION_FROM(dIB, reflexionTable, "b");
    FUNCTION_FROM(dIC, reflexionTable, "c");
    LeastSquaresMatrices *ls = makeRefinementMatrices();
    check(dScale && dA && dB && dC && dIA && dIB && dIC && ls != NULL, "derivative tables");
    if (!(dScale && dA && dB && dC && dIA && dIB && dIC && ls != NULL)) {
        freeHashTable(profileTable);
        freeHashTable(reflexionTable);
        free(ls);
        return;
    }

    /* Truth: scale 50, a = 5.6402 Å. Start 20 % and 0.05 % off. */
    double p[2] = {60.0, ROCK_SALT_A * 1.0005};
    static double calculated[POINTS];
    ProfileFunction shape = ProfileFuncForProfileType(profile->profileType);
    bool solved = true;
    for (int cycle = 0; cycle < 8 && solved; cycle++) {
        setRockSaltModel(crystal, profile, p[0], p[1]);
        calculatePattern(crystal, profile, x, calculated);
        solved = prepareForRefinementCycle(ls, POINTS, 2);
        if (!solved) break;
        /* J(i, 0) = ∂y/∂scale, J(i, 1) = ∂y/∂a with b and c tied to a. */
        for (int i = 0; i < POINTS; i++) ls->jacobian->rowPointers[i][0] = ls->jacobian->rowPointers[i][1] = 0.0;
        for (int32_t n = 0; n < crystal->reflexions->count; n++) {
            Reflexion *r = crystal->reflexions->items[n];
            ReflexionRange range;
            if (!FindReflexionRange(r, x, POINTS, 201, &range)) continue;
            double dI = dIA(crystal, r, profile) + dIB(crystal, r, profile) + dIC(crystal, r, profile);
            for (int32_t i = range.firstIndex; i <= range.lastIndex; i++) {
                double *row = ls->jacobian->rowPointers[i];
                row[0] += p[0] * r->intensity * dScale(x[i], crystal, r, profile);
                row[1] += p[0] * (dI * shape(x[i], r, profile) +
                                  r->intensity * (dA(x[i], crystal, r, profile) +
                                                  dB(x[i], crystal, r, profile) +
                                                  dC(x[i], crystal, r, profile)));
            }
        }
        updateResidualsVector(ls->observationColumn1, observed, calculated);
        transposeMatrixDst(ls->jacobianTransposed, ls->jacobian);
        multMatricesDst(ls->normalMatrix, ls->jacobianTransposed, ls->jacobian);
        multMatricesDst(ls->parameterColumn1, ls->jacobianTransposed, ls->observationColumn1);
        solved = inverseMatrixDst(ls->covariance, ls->normalMatrix);
        multMatricesDst(ls->parameterColumn2, ls->covariance, ls->parameterColumn1);
        p[0] += ls->parameterColumn2->elements[0];
        p[1] += ls->parameterColumn2->elements[1];
    }
    check(solved, "every normal matrix inverted");
    check(fabs(p[0] / 50.0 - 1.0) < 1e-6, "scale refined to its true value");
    check(fabs(p[1] - ROCK_SALT_A) < 1e-7, "a refined to its true value");

    /* The statistics of a noise-free fit, weights 1: χ² and Rwp vanish. */
    setRockSaltModel(crystal, profile, p[0], p[1]);
    calculatePattern(crystal, profile, x, calculated);
    static double weights[POINTS];
    for (int i = 0; i < POINTS; i++) weights[i] = 1.0;
    updateResidualsVector(ls->observationColumn2, observed, calculated);
    double chi2 = calculateChi2(ls->observationColumn2, weights);
    double rwp = calculateWeightedProfileResidual(chi2, calculateWeightedSumSquares(observed, weights, POINTS));
    check(rwp < 1e-4, "Rwp of the converged fit below 1e-4 %");
    check(calculateParameterCorrelationsAndErrors(ls), "errors and correlations");
    check(ls->standardErrors[0] > 0.0 && ls->standardErrors[1] > 0.0 &&
              fabs(ls->correlations->rowPointers[0][0] - 1.0) < 1e-12 &&
              fabs(ls->correlations->rowPointers[0][1]) <= 1.0,
          "standard errors positive, correlations within ±1");
    freeLeastSquaresMatrices(ls);
    free(ls);
    freeHashTable(profileTable);
    freeHashTable(reflexionTable);
    setRockSaltModel(crystal, profile, 50.0, ROCK_SALT_A);
}

/* The same rock salt as one whole pattern of the phase layer: Cu Kα1, the
 * layer's default pseudo-Voigt, the strongest peak, (2 0 0), at its Bragg angle
 * 2·asin(λ/a) (within the asymmetry's pull of a few hundredths of a degree). */
static void wholePatternRoad(const pk_phase *phase, const double *x) {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    const pk_phase_setting setting = {phase, 1.0, NULL, 0, 1.0, {0.0, 0.0, 1.0}};
    const double background[2] = {100.0, -20.0};
    static double y[POINTS];
    pk_error error;
    int32_t status = pk_pattern(&instrument, &setting, 1, background, 2, x, POINTS, y, &error);
    check(status == PK_OK, "pk_pattern of rock salt");
    if (status != PK_OK) {
        fprintf(stderr, "%s\n", error.message);
        return;
    }
    int highest = 0;
    for (int i = 1; i < POINTS; i++) {
        if (y[i] > y[highest]) highest = i;
    }
    check(y[highest] > 0.0, "the pattern's maximum is positive");
    double bragg = 2.0 * asin(instrument.wavelength / ROCK_SALT_A) * 57.29577951308232;
    check(fabs(x[highest] - bragg) < 0.05, "the maximum is (2 0 0) at its Bragg angle");
}

static void threeRoads(void) {
    pk_phase *phase = NULL;
    pk_error error;
    int32_t status = pk_phase_from_cif_text(rockSaltCif, NULL, &phase, &error);
    check(status == PK_OK && phase != NULL, "rock salt read from CIF text");
    if (status != PK_OK) {
        fprintf(stderr, "%s\n", error.message);
        return;
    }
    RefinementProfile *profile = makeRockSaltProfile();
    check(profile != NULL && ProfileParametersAreValid(profile) && GetErrorBuffer()[0] == '\0',
          "profile made and valid");
    RefinementCrystal *crystal = NULL;
    status = profile != NULL ? pk_phase_core_crystal(phase, minDSpacingForPlot(profile), &crystal, &error)
                             : PK_ERROR_OUT_OF_MEMORY;
    check(status == PK_OK && crystal != NULL, "the core's rock salt with its reflexions");
    static double x[POINTS], y[POINTS];
    for (int i = 0; i < POINTS; i++) x[i] = X_MIN + X_STEP * i;
    if (status == PK_OK) {
        calculatedPatternRoad(crystal, profile, x, y);
        refinementCycleRoad(crystal, profile, x, y);
        rawPatternRoad(x, y, BackgroundIntensity(profile->backgroundCoefficients, 60.0, X_MIN, X_MAX));
    }
    wholePatternRoad(phase, x);
    freeRefinementProfile(profile);
    freeRefinementCrystal(crystal); /* before the phase, whose texts it points at */
    pk_phase_free(phase);
}

int main(void) {
    checkLayout();
    buildAndFreeCrystal();
    useContainers();
    threeRoads();
    printf("host: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
