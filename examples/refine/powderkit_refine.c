/* powderkit-refine: the road of one refinement, end to end, through the
 * public interface only. A measured corundum pattern is simulated from known
 * parameters with seeded counting noise (weights 1/y). The model starts from
 * perturbed values: a and c off by 0.2 %, the zero shift by 0.03°, the scale
 * by 30 %, U, V, W and the background coefficients off. Damped least squares
 * (Levenberg–Marquardt) then refines the scale, a (with b tied to it, as the
 * hexagonal cell requires), c, the zero shift, U, V, W and the background
 * coefficients B0 … B5. The design matrix comes from the library's derivative
 * tables; the normal matrix, its inverse and the shifts from the exported
 * matrix operations on the matrices of makeRefinementMatrices; the standard
 * errors from calculateParameterCorrelationsAndErrors. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "calculated_pattern.h"
#include "example_phase.h"
#include "host_files.h"
#include "host_options.h"
#include "pattern_jacobian.h"
#include "powderkit.h"
#include "simulated_measurement.h"
#include "svg_plot.h"

#define STEP 0.01           /* degrees of 2θ */
#define PEAK_COUNTS 10000.0 /* the strongest peak of the simulated measurement */
#define PARAMETERS PATTERN_PARAMETERS
#define MAX_CYCLES 40

static const char *const parameterNames[PARAMETERS] = {
    "scale", "a (= b)", "c", "zero", "U", "V", "W", "B0", "B1", "B2", "B3", "B4", "B5"};
static const char *const parameterUnits[PARAMETERS] = {
    "", "Å", "Å", "°", "°²", "°²", "°²", "", "", "", "", "", ""};

typedef struct RefineOptions {
    double seed;
    const char *outFolder;
    const char *dataFolder; /* NULL: PK_EXAMPLE_DATA_DIR */
} RefineOptions;

/* The model being refined and everything a cycle needs. */
typedef struct Refinement {
    pk_phase *phase;            /* corundum as read; outlives the crystal made from it */
    RefinementCrystal *crystal;
    RefinementProfile *profile;
    PatternDerivatives derivatives;
    Measurement m;
    double *weights;    /* 1 / y of the model at the start of the cycle */
    double *calculated; /* the model at the current parameters */
    double *work;
    LeastSquaresMatrices *ls;   /* the matrices of the current stage */
    LeastSquaresMatrices *full; /* its jacobian: every point, every parameter */
} Refinement;

static void printHelp(void) {
    puts("usage: powderkit-refine [options]\n"
         "\n"
         "Simulates a corundum measurement (Cu Kα1, 2θ 10–150° in 0.01° steps,\n"
         "pseudo-Voigt peaks with asymmetry, Chebyshev background, counting noise),\n"
         "perturbs the model and refines scale, a = b, c, zero, U, V, W and B0 … B5\n"
         "by damped least squares. Prints every cycle's agreement indices and the\n"
         "refined parameters with their standard errors next to the true values, and\n"
         "writes the observed, calculated and difference curves (.svg, .tsv).\n"
         "\n"
         "  --seed N       seed of the counting noise (default 7)\n"
         "  --out FOLDER   output folder (default refine-output)\n"
         "  --data FOLDER  folder of corundum.cif (default " PK_EXAMPLE_DATA_DIR ")\n"
         "  --help         this text");
}

static int parseOptions(int argc, char **argv, RefineOptions *o) {
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        bool ok = true;
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            printHelp();
            return -1;
        } else if (strcmp(a, "--seed") == 0) {
            ok = optionNumber(argc, argv, &i, &o->seed) && o->seed >= 0;
        } else if (strcmp(a, "--out") == 0) {
            ok = optionText(argc, argv, &i, &o->outFolder);
        } else if (strcmp(a, "--data") == 0) {
            ok = optionText(argc, argv, &i, &o->dataFolder);
        } else {
            fprintf(stderr, "unknown option %s (see --help)\n", a);
            ok = false;
        }
        if (!ok) return 2;
    }
    return 0;
}

/* ------------------------------------------------------------------------- */
/* Parameters                                                                */
/* ------------------------------------------------------------------------- */

static void readParameters(const Refinement *r, double p[PARAMETERS]) {
    p[P_SCALE] = r->crystal->scale;
    p[P_A] = r->crystal->a;
    p[P_C] = r->crystal->c;
    p[P_ZERO] = r->profile->zero;
    p[P_U] = r->profile->U;
    p[P_V] = r->profile->V;
    p[P_W] = r->profile->W;
    for (int i = 0; i < BACKGROUND_TERMS; i++) p[P_B0 + i] = r->profile->backgroundCoefficients[i];
}

/* Stores the parameters and brings everything that depends on them up to
 * date: the reciprocal cell and metric tensors, the d-spacings, intensities
 * and positions of the reflexions. */
static void writeParameters(Refinement *r, const double p[PARAMETERS]) {
    r->crystal->scale = p[P_SCALE];
    r->crystal->a = r->crystal->b = p[P_A]; /* b is tied to a */
    r->crystal->c = p[P_C];
    r->profile->zero = p[P_ZERO];
    r->profile->U = p[P_U];
    r->profile->V = p[P_V];
    r->profile->W = p[P_W];
    for (int i = 0; i < BACKGROUND_TERMS; i++) r->profile->backgroundCoefficients[i] = p[P_B0 + i];
    calculateReciprocalCell(r->crystal);
    calculateMetricTensor(r->crystal);
    for (int32_t i = 0; i < r->crystal->reflexions->count; i++) {
        Reflexion *reflexion = r->crystal->reflexions->items[i];
        reflexion->dSpacing = dSpacingForHKL(r->crystal, reflexion->h, reflexion->k, reflexion->l);
    }
    for (int32_t i = 0; i < r->crystal->reflexions->count; i++) {
        calculateIntensityForReflexion(r->crystal, r->crystal->reflexions->items[i], r->profile);
    }
    calculatePeakPositionsForPlot(r->crystal, r->profile);
}

/* ------------------------------------------------------------------------- */
/* Model, residuals, statistics                                              */
/* ------------------------------------------------------------------------- */

static void calculateModel(Refinement *r) {
    addReflexionPeaks(r->crystal, r->profile, r->m.x, r->m.count, r->calculated);
    calculateBackground(r->profile, r->m.x, r->m.count, r->work);
    for (int32_t i = 0; i < r->m.count; i++) r->calculated[i] += r->work[i];
}

/* Counting statistics: w = 1/y, with y the counts the model expects, taken at
 * the start of every cycle and held through it. At convergence this is the
 * Poisson maximum of likelihood (Σ (y_obs − y)/y · ∂y/∂p = 0). Weights from the
 * observed counts instead would favour the points that fluctuated low and
 * pull the background down by about one count, many standard errors at the
 * precision of 14,000 points. */
static void updateWeights(Refinement *r) {
    for (int32_t i = 0; i < r->m.count; i++) {
        r->weights[i] = 1.0 / (r->calculated[i] > 1.0 ? r->calculated[i] : 1.0);
    }
}

typedef struct Statistics {
    double chi2, goodnessOfFit, rp, rwp, rexp;
} Statistics;

/* The agreement of the first n points with p parameters refined; `residuals`
 * is an n × 1 matrix. */
static Statistics fitStatistics(Refinement *r, Matrix *residuals, int32_t n, int32_t p) {
    updateResidualsVector(residuals, r->m.observed, r->calculated);
    double weightedSquares = calculateWeightedSumSquares(r->m.observed, r->weights, n);
    double observedSum = calculateSumValues(r->m.observed, n);
    Statistics s;
    s.chi2 = calculateChi2(residuals, r->weights);
    s.goodnessOfFit = calculateGoodnessOfFit(s.chi2, n, p);
    s.rp = calculateProfileResidual(residuals, observedSum);
    s.rwp = calculateWeightedProfileResidual(s.chi2, weightedSquares);
    s.rexp = calculateExpectedProfileResidual(n, p, weightedSquares);
    return s;
}

/* ------------------------------------------------------------------------- */
/* One damped least-squares cycle                                            */
/* ------------------------------------------------------------------------- */

/* A stage of the refinement: the points up to 2θ = limit and the parameters
 * marked active. */
typedef struct Stage {
    double limit;
    int32_t points;
    int32_t count; /* active parameters */
    int active[PARAMETERS];
} Stage;

/* Forms, at the current parameters, the normal matrix N = JᵀWJ and the right
 * side g = JᵀW(y − y_calc) of the stage, both scaled to a unit diagonal by
 * D = √diag N (the inverse then works on numbers of one size): normalMatrix
 * holds D⁻¹ N D⁻¹ and parameterColumn1 holds D⁻¹ g; scaling[] receives D.
 * The full design matrix (all points, all parameters) is made in the second
 * record's jacobian, and the stage's rows and columns are copied from it. */
static bool formNormalEquations(Refinement *r, const Stage *stage, double scaling[PARAMETERS]) {
    LeastSquaresMatrices *ls = r->ls;
    Matrix *full = r->full->jacobian;
    fillPatternJacobian(&r->derivatives, r->crystal, r->profile, r->m.x, stage->points, full);
    for (int32_t i = 0; i < stage->points; i++) {
        double root = sqrt(r->weights[i]);
        for (int k = 0; k < stage->count; k++) {
            ls->jacobian->rowPointers[i][k] = root * full->rowPointers[i][stage->active[k]];
        }
    }
    for (int k = 0; k < stage->count; k++) {
        double sum = 0.0;
        for (int32_t i = 0; i < stage->points; i++) {
            sum += ls->jacobian->rowPointers[i][k] * ls->jacobian->rowPointers[i][k];
        }
        if (!(sum > 0.0)) return false; /* a parameter the pattern does not see */
        scaling[k] = sqrt(sum);
        for (int32_t i = 0; i < stage->points; i++) ls->jacobian->rowPointers[i][k] /= scaling[k];
    }
    /* observationColumn1: √w (y − y_calc). */
    updateResidualsVector(ls->observationColumn1, r->m.observed, r->calculated);
    for (int32_t i = 0; i < stage->points; i++) {
        ls->observationColumn1->elements[i] *= sqrt(r->weights[i]);
    }
    transposeMatrixDst(ls->jacobianTransposed, ls->jacobian);
    multMatricesDst(ls->normalMatrix, ls->jacobianTransposed, ls->jacobian);
    multMatricesDst(ls->parameterColumn1, ls->jacobianTransposed, ls->observationColumn1);
    return true;
}

/* The shifts for damping λ: (N′ + λ diag N′)⁻¹ g′, unscaled, into the
 * active parameters' places. */
static bool dampedShifts(Refinement *r, const Stage *stage, double lambda,
                         const double scaling[PARAMETERS], double shifts[PARAMETERS]) {
    LeastSquaresMatrices *ls = r->ls;
    Matrix *damped = copyMatrix(ls->normalMatrix);
    if (damped == NULL) return false;
    for (int k = 0; k < stage->count; k++) damped->rowPointers[k][k] *= 1.0 + lambda;
    bool ok = inverseMatrixDst(ls->covariance, damped);
    freeMatrix(damped);
    if (!ok) return false;
    multMatricesDst(ls->parameterColumn2, ls->covariance, ls->parameterColumn1);
    for (int j = 0; j < PARAMETERS; j++) shifts[j] = 0.0;
    for (int k = 0; k < stage->count; k++) {
        shifts[stage->active[k]] = ls->parameterColumn2->elements[k] / scaling[k];
    }
    return true;
}

typedef struct RefinementResult {
    int cycles;
    Statistics start, final;
    double parameters[PARAMETERS];
    double errors[PARAMETERS];
} RefinementResult;

static void logCycle(FILE *table, int stage, int cycle, const Statistics *s, double lambda,
                     const char *note) {
    printf("  %5d  %5d  %12.1f  %8.4f  %7.3f  %7.3f  %7.3f  %8.0e  %s\n", stage, cycle, s->chi2,
           s->goodnessOfFit, s->rp, s->rwp, s->rexp, lambda, note);
    fprintf(table, "%d\t%d\t%.8g\t%.8g\t%.8g\t%.8g\t%.8g\n", stage, cycle, s->chi2,
            s->goodnessOfFit, s->rp, s->rwp, s->rexp);
}

/* Damped cycles on one stage until χ² stops falling. */
static bool refineStage(Refinement *r, const Stage *stage, int number, double p[PARAMETERS],
                        FILE *table, int *cycles) {
    double trial[PARAMETERS], shifts[PARAMETERS], scaling[PARAMETERS];
    double lambda = 0.001;
    /* The matrices for this stage's points and parameters. */
    if (!prepareForRefinementCycle(r->ls, stage->points, stage->count)) return false;
    Matrix *residuals = r->ls->observationColumn2;
    updateWeights(r);
    Statistics current = fitStatistics(r, residuals, stage->points, stage->count);
    logCycle(table, number, 0, &current, 0.0, "");
    bool converged = false;
    for (int cycle = 1; !converged && cycle <= MAX_CYCLES; cycle++) {
        updateWeights(r);
        current = fitStatistics(r, residuals, stage->points, stage->count);
        if (!prepareForRefinementCycle(r->ls, stage->points, stage->count) ||
            !formNormalEquations(r, stage, scaling)) {
            return false;
        }
        *cycles += 1;
        bool accepted = false;
        for (int attempt = 0; attempt < 10 && !accepted; attempt++) {
            if (dampedShifts(r, stage, lambda, scaling, shifts)) {
                for (int j = 0; j < PARAMETERS; j++) trial[j] = p[j] + shifts[j];
                writeParameters(r, trial);
                calculateModel(r);
                Statistics next = fitStatistics(r, residuals, stage->points, stage->count);
                if (next.chi2 < current.chi2) {
                    /* A fall of χ² below 0.01 leaves every parameter within a
                     * tenth of its standard error of the minimum. */
                    converged = current.chi2 - next.chi2 < 0.01;
                    memcpy(p, trial, PARAMETERS * sizeof *p);
                    current = next;
                    accepted = true;
                    lambda = lambda > 1e-6 ? lambda / 10.0 : lambda;
                    break;
                }
            }
            lambda *= 10.0;
        }
        if (!accepted) {
            /* No damping lowers χ² any more: the minimum is reached. */
            writeParameters(r, p);
            calculateModel(r);
            current = fitStatistics(r, residuals, stage->points, stage->count);
            converged = true;
        }
        logCycle(table, number, cycle, &current, lambda, converged ? "converged" : "");
    }
    return true;
}

/* Rietveld practice for a start this far off: at high angles a 0.2 % error
 * of the cell moves the peaks by several widths, where the derivatives no
 * longer see the measured peak. So the range grows in stages, and the
 * background terms with it: 2θ ≤ 45° with B0, B1; ≤ 80° with B0 … B3; then
 * the whole pattern with B0 … B5. */
static bool refine(Refinement *r, FILE *table, RefinementResult *result) {
    static const double limits[] = {45.0, 80.0, 1e9};
    static const int backgroundTerms[] = {2, 4, BACKGROUND_TERMS};
    double p[PARAMETERS];
    readParameters(r, p);
    calculateModel(r);
    updateWeights(r);
    Matrix *allResiduals = r->full->observationColumn2;
    result->start = fitStatistics(r, allResiduals, r->m.count, PARAMETERS);
    printf("\n  stage  cycle            χ²       GoF       Rp      Rwp     Rexp   damping\n");
    fprintf(table, "# stage\tcycle\tchi2\tgoodness_of_fit\tRp\tRwp\tRexp\n");
    logCycle(table, 0, 0, &result->start, 0.0, "the whole pattern at the start");

    Stage stage = {0};
    for (int s = 0; s < 3; s++) {
        stage.limit = limits[s];
        stage.points = 0;
        while (stage.points < r->m.count && r->m.x[stage.points] <= stage.limit) stage.points++;
        stage.count = 0;
        for (int j = 0; j < P_B0 + backgroundTerms[s]; j++) stage.active[stage.count++] = j;
        if (!refineStage(r, &stage, s + 1, p, table, &result->cycles)) return false;
    }

    /* Standard errors: the covariance (JᵀWJ)⁻¹ of the last stage (every
     * point, every parameter), scaled by the goodness of fit. */
    double scaling[PARAMETERS];
    updateWeights(r);
    Statistics final = fitStatistics(r, allResiduals, r->m.count, PARAMETERS);
    if (!prepareForRefinementCycle(r->ls, r->m.count, PARAMETERS) ||
        !formNormalEquations(r, &stage, scaling) ||
        !inverseMatrixDst(r->ls->covariance, r->ls->normalMatrix)) {
        return false;
    }
    for (int i = 0; i < PARAMETERS; i++) {
        for (int j = 0; j < PARAMETERS; j++) {
            r->ls->covariance->rowPointers[i][j] *= final.goodnessOfFit / (scaling[i] * scaling[j]);
        }
    }
    if (!calculateParameterCorrelationsAndErrors(r->ls)) return false;
    result->final = final;
    memcpy(result->parameters, p, sizeof p);
    memcpy(result->errors, r->ls->standardErrors, sizeof result->errors);
    return true;
}

/* ------------------------------------------------------------------------- */
/* Set-up, report, files                                                     */
/* ------------------------------------------------------------------------- */

/* The true model: corundum, Cu Kα1, the demo's instrument and background. */
static bool setUpTruth(Refinement *r, const char *dataFolder, double seed,
                       double truth[PARAMETERS]) {
    r->profile = makeRefinementProfile(PK_EXPERIMENT_CONSTANT_WAVELENGTH, PK_RADIATION_XRAY,
                                       PK_PROFILE_PSEUDO_VOIGT, 1.5406, 10.0, 150.0);
    if (r->profile == NULL) return false;
    RefinementProfile *p = r->profile;
    p->U = 0.0040;
    p->V = -0.0020;
    p->W = 0.0030;
    p->LX = 0.020;
    p->LY = 0.030;
    p->asymmetry = 0.02;
    p->zero = 0.012;
    const double background[BACKGROUND_TERMS] = {130.0, -60.0, 25.0, -10.0, 4.0, -2.0};
    memcpy(p->backgroundCoefficients, background, sizeof background);

    /* The reflexions of the true cell, with a margin: the list stays fixed
     * while the cell is refined. */
    if (!loadExampleCrystal(dataFolder, "corundum", 0.98 * dSpacingForTwoTheta(p, 150.0, 0),
                            &r->phase, &r->crystal) ||
        r->crystal->reflexions->count == 0 || !calculateReflexionIntensities(r->crystal, p, true)) {
        return false;
    }
    int32_t count = 0;
    double *x = makeAxis(p->xMin, p->xMax, STEP, &count);
    double *work = x != NULL ? malloc((size_t)count * sizeof *work) : NULL;
    bool ok = work != NULL && scaleToPeakHeight(r->crystal, p, x, count, PEAK_COUNTS, work);
    free(x);
    free(work);
    if (!ok || !simulateMeasurement(r->crystal, p, STEP, (uint64_t)seed, &r->m)) return false;
    readParameters(r, truth);
    return true;
}

/* The perturbed start: a and c off by 0.2 %, zero by 0.03°, scale by 30 %,
 * the widths and the background off. */
static void perturb(const double truth[PARAMETERS], double start[PARAMETERS]) {
    memcpy(start, truth, PARAMETERS * sizeof *start);
    start[P_SCALE] = truth[P_SCALE] * 1.30;
    start[P_A] = truth[P_A] * 1.002;
    start[P_C] = truth[P_C] * 0.998;
    start[P_ZERO] = truth[P_ZERO] + 0.03;
    start[P_U] = truth[P_U] * 1.6;
    start[P_V] = truth[P_V] * 0.4;
    start[P_W] = truth[P_W] * 1.5;
    const double background[BACKGROUND_TERMS] = {100.0, -40.0, 10.0, 0.0, 0.0, 0.0};
    memcpy(start + P_B0, background, sizeof background);
}

static bool writeParameterTable(const char *path, const double start[PARAMETERS],
                                const double truth[PARAMETERS], const RefinementResult *result) {
    FILE *file = fopen(path, "w");
    if (file == NULL) return false;
    fprintf(file, "# parameter\tstart\trefined\tstandard_error\ttrue\n");
    for (int j = 0; j < PARAMETERS; j++) {
        fprintf(file, "%s\t%.10g\t%.10g\t%.6g\t%.10g\n", parameterNames[j], start[j],
                result->parameters[j], result->errors[j], truth[j]);
    }
    return fclose(file) == 0;
}

static bool writeCurves(const char *folder, const Refinement *r, const double *difference) {
    char path[4096];
    if (!joinPath(path, sizeof path, folder, "fit.tsv")) return false;
    FILE *file = fopen(path, "w");
    if (file == NULL) return false;
    fprintf(file, "# two_theta\tobserved\tcalculated\tdifference\n");
    for (int32_t i = 0; i < r->m.count; i++) {
        fprintf(file, "%.4f\t%.0f\t%.4f\t%.4f\n", r->m.x[i], r->m.observed[i], r->calculated[i],
                difference[i]);
    }
    if (fclose(file) != 0) return false;

    int32_t n = r->crystal->reflexions->count;
    double *ticks = malloc((size_t)(n > 0 ? n : 1) * sizeof *ticks);
    if (ticks == NULL) return false;
    for (int32_t i = 0; i < n; i++) {
        ticks[i] = ((const Reflexion *)r->crystal->reflexions->items[i])->peakPosition;
    }
    double highest = 0.0, lowestDifference = 0.0;
    for (int32_t i = 0; i < r->m.count; i++) {
        if (r->m.observed[i] > highest) highest = r->m.observed[i];
        if (difference[i] < lowestDifference) lowestDifference = difference[i];
    }
    SvgPlot plot = {0};
    plot.title = "corundum — refinement of a simulated measurement";
    plot.subtitle = "observed (crosses), calculated and difference (shifted below); Cu Kα1, "
                    "weights 1/y";
    plot.xLabel = "2θ (degrees)";
    plot.yLabel = "intensity (counts)";
    plot.xMin = r->m.x[0];
    plot.xMax = r->m.x[r->m.count - 1];
    plot.seriesCount = 3;
    plot.series[0] = (SvgSeries){r->m.x, r->m.observed, r->m.count, "observed", "#555555", 0.0,
                                 0.8, true};
    plot.series[1] = (SvgSeries){r->m.x, r->calculated, r->m.count, "calculated", "#c0392b", 0.0,
                                 1.2, false};
    plot.series[2] = (SvgSeries){r->m.x, difference, r->m.count, "observed − calculated",
                                 "#1f4e9c", lowestDifference - 0.04 * highest, 1.0, false};
    plot.tickRowCount = 1;
    plot.tickRows[0] = (SvgTickRow){ticks, n, "reflexion positions", "#2e8b57"};
    bool ok = joinPath(path, sizeof path, folder, "fit.svg") && writeSvgPlot(path, &plot);
    free(ticks);
    return ok;
}

static void releaseRefinement(Refinement *r) {
    freeRefinementCrystal(r->crystal);
    pk_phase_free(r->phase);
    freeRefinementProfile(r->profile);
    releasePatternDerivatives(&r->derivatives);
    freeMeasurement(&r->m);
    free(r->weights);
    free(r->calculated);
    free(r->work);
    if (r->ls != NULL) {
        freeLeastSquaresMatrices(r->ls);
        free(r->ls); /* the record itself is the host's to release */
    }
    if (r->full != NULL) {
        freeLeastSquaresMatrices(r->full);
        free(r->full);
    }
}

static int runRefinement(const RefineOptions *o) {
    const char *folder = o->outFolder != NULL ? o->outFolder : "refine-output";
    if (!makeFolder(folder)) return 1;
    Refinement r = {0};
    double truth[PARAMETERS], start[PARAMETERS];
    if (!setUpTruth(&r, o->dataFolder, o->seed, truth)) {
        fprintf(stderr, "could not simulate the corundum measurement\n");
        releaseRefinement(&r);
        return 1;
    }
    int32_t n = r.m.count;
    r.weights = malloc((size_t)n * sizeof(double));
    r.calculated = malloc((size_t)n * sizeof(double));
    r.work = malloc((size_t)n * sizeof(double));
    r.ls = makeRefinementMatrices();
    r.full = makeRefinementMatrices();
    if (r.weights == NULL || r.calculated == NULL || r.work == NULL || r.ls == NULL ||
        r.full == NULL || !prepareForRefinementCycle(r.full, n, PARAMETERS) ||
        !lookUpPatternDerivatives(&r.derivatives, r.profile->profileType)) {
        fprintf(stderr, "could not set up the refinement (memory, or a derivative table "
                        "without one of the parameters)\n");
        releaseRefinement(&r);
        return 1;
    }

    perturb(truth, start);
    writeParameters(&r, start);
    printf("powderkit refine: corundum, Cu Kα1 (λ = 1.5406 Å), 2θ 10–150° in 0.01° steps (%d points)\n",
           n);
    printf("  simulated with seeded counting noise (seed %.0f), weights 1/y; %d reflexions\n",
           o->seed, r.crystal->reflexions->count);
    printf("  refining %d parameters: scale, a = b, c, zero, U, V, W, B0 … B%d\n", PARAMETERS,
           BACKGROUND_TERMS - 1);

    char path[4096];
    FILE *cycleTable = joinPath(path, sizeof path, folder, "cycles.tsv") ? fopen(path, "w") : NULL;
    RefinementResult result = {0};
    bool ok = cycleTable != NULL && refine(&r, cycleTable, &result);
    if (cycleTable != NULL) fclose(cycleTable);
    if (!ok) {
        fprintf(stderr, "the refinement failed (a singular normal matrix, or memory)\n");
        releaseRefinement(&r);
        return 1;
    }

    printf("\n  %-9s %14s %14s %12s %14s  %s\n", "parameter", "start", "refined", "σ", "true",
           "(refined − true)/σ");
    for (int j = 0; j < PARAMETERS; j++) {
        printf("  %-9s %14.6g %14.7g %12.3g %14.7g  %+6.2f %s\n", parameterNames[j], start[j],
               result.parameters[j], result.errors[j], truth[j],
               (result.parameters[j] - truth[j]) / result.errors[j], parameterUnits[j]);
    }
    printf("\n  after %d cycles: Rwp %.3f %% against Rexp %.3f %% (GoF %.3f), started at Rwp %.2f %%\n",
           result.cycles, result.final.rwp, result.final.rexp, result.final.goodnessOfFit,
           result.start.rwp);

    double *difference = malloc((size_t)n * sizeof *difference);
    ok = difference != NULL;
    for (int32_t i = 0; ok && i < n; i++) difference[i] = r.m.observed[i] - r.calculated[i];
    ok = ok && joinPath(path, sizeof path, folder, "parameters.tsv") &&
         writeParameterTable(path, start, truth, &result) && writeCurves(folder, &r, difference);
    free(difference);
    if (ok) {
        printf("\nFiles written to the folder %s:\n", folder);
        printf("  cycles.tsv       χ², GoF, Rp, Rwp and Rexp of every cycle\n");
        printf("  parameters.tsv   start, refined, standard error and true value of every parameter\n");
        printf("  fit.tsv          2θ, observed, calculated, difference\n");
        printf("  fit.svg          observed, calculated and difference curves\n");
    }
    releaseRefinement(&r);
    return ok ? 0 : 1;
}

int main(int argc, char **argv) {
    RefineOptions options = {7.0, NULL, NULL};
    int status = parseOptions(argc, argv, &options);
    if (status == 0) status = runRefinement(&options);
    if (status < 0) status = 0;
    return status;
}
