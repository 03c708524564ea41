/* powderkit-peaks: the road of one raw pattern, through the public interface
 * only. It reads a two-column pattern (x y per line), or simulates one:
 * corundum with Cu Kα1 X-rays, symmetric pseudo-Voigt peaks on a Chebyshev
 * background and seeded counting noise, so that the truth is known (each
 * reflexion's peak position). Then locatePeakRanges finds the strongest
 * maxima, pseudoVoigtFit fits each of them, fittedBackground estimates the
 * background, and the program prints the fitted position, area, FWHM and η of
 * every peak and draws the fits over the data. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "calculated_pattern.h"
#include "example_phase.h"
#include "host_files.h"
#include "host_options.h"
#include "powderkit.h"
#include "simulated_measurement.h"
#include "svg_plot.h"

/* The simulated measurement: its step (degrees of 2θ) and the counts at the
 * top of its strongest peak above the background. */
#define STEP 0.01
#define PEAK_COUNTS 8000.0

typedef struct PeaksOptions {
    const char *input; /* NULL: simulate */
    int maxPeaks;
    double seed;
    const char *outFolder;
    const char *dataFolder; /* NULL: PK_EXAMPLE_DATA_DIR */
} PeaksOptions;

typedef struct FittedPeak {
    double position, area, background, fwhm, eta;
    Matrix *parameters; /* NULL when the fit failed or repeated an earlier one */
    PeakRange range;
} FittedPeak;

static void printHelp(void) {
    puts("usage: powderkit-peaks [options] [PATTERN]\n"
         "\n"
         "Finds the strongest peaks of a raw powder pattern, fits each with a\n"
         "pseudo-Voigt on a flat background, estimates the pattern background, and\n"
         "writes the fits (.tsv) and a plot (.svg) into a folder. PATTERN is a text\n"
         "file of x y pairs in ascending x (at least 200 points; lines starting with\n"
         "'#' are skipped). Without it a corundum pattern with counting noise is\n"
         "simulated (Cu Kα1, 2θ 10–140° in 0.01° steps, symmetric peaks), and every\n"
         "fitted position is compared with the reflexion it belongs to.\n"
         "\n"
         "  --peaks N      how many of the strongest maxima to fit (default 20)\n"
         "  --seed N       seed of the simulated counting noise (default 2024)\n"
         "  --out FOLDER   output folder (default peaks-output)\n"
         "  --data FOLDER  folder of corundum.cif (default " PK_EXAMPLE_DATA_DIR ")\n"
         "  --help         this text");
}

/* 0: run, -1: stop successfully, 2: bad usage. */
static int parseOptions(int argc, char **argv, PeaksOptions *o) {
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        bool ok = true;
        double number = 0.0;
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            printHelp();
            return -1;
        } else if (strcmp(a, "--peaks") == 0) {
            ok = optionNumber(argc, argv, &i, &number) && number >= 1 && number <= 1000;
            o->maxPeaks = (int)number;
        } else if (strcmp(a, "--seed") == 0) {
            ok = optionNumber(argc, argv, &i, &o->seed) && o->seed >= 0;
        } else if (strcmp(a, "--out") == 0) {
            ok = optionText(argc, argv, &i, &o->outFolder);
        } else if (strcmp(a, "--data") == 0) {
            ok = optionText(argc, argv, &i, &o->dataFolder);
        } else if (a[0] == '-' && a[1] != '\0') {
            fprintf(stderr, "unknown option %s (see --help)\n", a);
            ok = false;
        } else if (o->input == NULL) {
            o->input = a;
        } else {
            fprintf(stderr, "only one pattern file, please (see --help)\n");
            ok = false;
        }
        if (!ok) {
            if (strcmp(a, "--peaks") == 0 || strcmp(a, "--seed") == 0) {
                fprintf(stderr, "%s takes a count (--peaks 1 to 1000)\n", a);
            }
            return 2;
        }
    }
    return 0;
}

/* The phase of the simulated corundum: it outlives the crystal made from it
 * (released in main). */
static pk_phase *corundum = NULL;

/* The simulated measurement: corundum, symmetric pseudo-Voigt peaks. The
 * crystal is kept so that the fitted peaks can be compared with its
 * reflexions. */
static RefinementCrystal *simulateCorundum(const char *dataFolder, double seed, Measurement *m) {
    RefinementProfile *profile = makeRefinementProfile(
        PK_EXPERIMENT_CONSTANT_WAVELENGTH, PK_RADIATION_XRAY, PK_PROFILE_PSEUDO_VOIGT, 1.5406,
        10.0, 140.0);
    RefinementCrystal *crystal = NULL;
    bool ok = profile != NULL && loadExampleCrystal(dataFolder, "corundum",
                                                    minDSpacingForPlot(profile), &corundum,
                                                    &crystal);
    if (ok) {
        profile->U = 0.0040;
        profile->V = -0.0020;
        profile->W = 0.0030;
        profile->LX = 0.020;
        profile->LY = 0.030;
        profile->asymmetry = 0.0; /* symmetric: the peak maximum is the peak position */
        const double background[] = {130.0, -60.0, 25.0, -10.0, 4.0};
        memcpy(profile->backgroundCoefficients, background, sizeof background);
        int32_t count = 0;
        double *x = makeAxis(profile->xMin, profile->xMax, STEP, &count);
        double *work = x != NULL ? malloc((size_t)count * sizeof *work) : NULL;
        ok = work != NULL && crystal->reflexions->count > 0 &&
             calculateReflexionIntensities(crystal, profile, true) &&
             scaleToPeakHeight(crystal, profile, x, count, PEAK_COUNTS, work) &&
             simulateMeasurement(crystal, profile, STEP, (uint64_t)seed, m);
        free(x);
        free(work);
    }
    freeRefinementProfile(profile);
    if (!ok) {
        freeRefinementCrystal(crystal);
        return NULL;
    }
    return crystal;
}

/* The reflexion whose position is nearest to x, or NULL. */
static const Reflexion *nearestReflexion(const RefinementCrystal *crystal, double x) {
    const Reflexion *best = NULL;
    for (int32_t i = 0; crystal != NULL && i < crystal->reflexions->count; i++) {
        const Reflexion *r = crystal->reflexions->items[i];
        if (best == NULL || fabs(r->peakPosition - x) < fabs(best->peakPosition - x)) best = r;
    }
    return best;
}

static void printPeaks(const FittedPeak *peaks, int n, const RefinementCrystal *truth) {
    printf("\n  #   position       area      FWHM       η   background%s\n",
           truth != NULL ? "   reflexion   true position   error" : "");
    for (int i = 0, row = 1; i < n; i++) {
        const FittedPeak *p = &peaks[i];
        if (p->parameters == NULL) continue;
        printf(" %2d   %8.4f  %9.2f  %8.5f  %6.3f  %10.2f", row++, p->position, p->area, p->fwhm,
               p->eta, p->background);
        const Reflexion *r = nearestReflexion(truth, p->position);
        if (r != NULL) {
            printf("   %3d %3d %3d   %13.4f  %+7.4f", r->h, r->k, r->l, r->peakPosition,
                   p->position - r->peakPosition);
        }
        putchar('\n');
    }
}

static bool writePeakTable(const char *path, const FittedPeak *peaks, int n,
                           const RefinementCrystal *truth) {
    FILE *file = fopen(path, "w");
    if (file == NULL) return false;
    fprintf(file, "# pseudo-Voigt fits of the strongest peaks\n"
                  "# position\tarea\tbackground\tfwhm\teta%s\n",
            truth != NULL ? "\th\tk\tl\ttrue_position" : "");
    for (int i = 0; i < n; i++) {
        const FittedPeak *p = &peaks[i];
        if (p->parameters == NULL) continue;
        fprintf(file, "%.6f\t%.6f\t%.6f\t%.6f\t%.6f", p->position, p->area, p->background, p->fwhm,
                p->eta);
        const Reflexion *r = nearestReflexion(truth, p->position);
        if (r != NULL) {
            fprintf(file, "\t%d\t%d\t%d\t%.6f", r->h, r->k, r->l, r->peakPosition);
        }
        fputc('\n', file);
    }
    return fclose(file) == 0;
}

/* The data, the fitted background and every fitted peak (each drawn over its
 * fitting window), with a tick under every fitted position and, for a
 * simulation, under every reflexion. */
static bool writePlot(const char *path, const PatternPoint *points, int32_t count,
                      const double *x, const double *y, const PatternPoint *background,
                      const FittedPeak *peaks, int n, const RefinementCrystal *truth,
                      const char *subtitle) {
    double *fitted = malloc((size_t)count * sizeof *fitted);
    double *backgroundY = malloc((size_t)count * sizeof *backgroundY);
    double *positions = malloc((size_t)(n > 0 ? n : 1) * sizeof *positions);
    int32_t reflexionCount = truth != NULL ? truth->reflexions->count : 0;
    double *reflexions = malloc((size_t)(reflexionCount > 0 ? reflexionCount : 1) * sizeof(double));
    bool ok = fitted != NULL && backgroundY != NULL && positions != NULL && reflexions != NULL;
    if (ok) {
        int fittedCount = 0;
        for (int32_t i = 0; i < count; i++) {
            fitted[i] = NAN;
            backgroundY[i] = background != NULL ? background[i].y : NAN;
        }
        for (int i = 0; i < n; i++) {
            if (peaks[i].parameters == NULL) continue;
            positions[fittedCount++] = peaks[i].position;
            int32_t first = (int32_t)(peaks[i].range.start - points);
            for (int32_t j = first; j < first + peaks[i].range.pointCount && j < count; j++) {
                fitted[j] = pseudoVoigt(x[j], peaks[i].parameters);
            }
        }
        for (int32_t i = 0; i < reflexionCount; i++) {
            reflexions[i] = ((const Reflexion *)truth->reflexions->items[i])->peakPosition;
        }
        SvgPlot plot = {0};
        plot.title = "raw pattern — strongest peaks and background";
        plot.subtitle = subtitle;
        plot.xLabel = truth != NULL ? "2θ (degrees)" : "x";
        plot.yLabel = "intensity (counts)";
        plot.xMin = x[0];
        plot.xMax = x[count - 1];
        plot.series[plot.seriesCount++] =
            (SvgSeries){x, y, count, "data", "#9aa5b1", 0.0, 1.0, false};
        if (background != NULL) {
            plot.series[plot.seriesCount++] =
                (SvgSeries){x, backgroundY, count, "fitted background", "#2e8b57", 0.0, 1.6, false};
        }
        plot.series[plot.seriesCount++] =
            (SvgSeries){x, fitted, count, "pseudo-Voigt fits", "#c0392b", 0.0, 1.4, false};
        plot.tickRows[plot.tickRowCount++] =
            (SvgTickRow){positions, fittedCount, "fitted positions", "#c0392b"};
        if (truth != NULL) {
            plot.tickRows[plot.tickRowCount++] =
                (SvgTickRow){reflexions, reflexionCount, "reflexion positions", "#1f4e9c"};
        }
        ok = writeSvgPlot(path, &plot);
    }
    free(fitted);
    free(backgroundY);
    free(positions);
    free(reflexions);
    return ok;
}

static int runPeaks(const PeaksOptions *o) {
    const char *folder = o->outFolder != NULL ? o->outFolder : "peaks-output";
    if (!makeFolder(folder)) return 1;

    /* The pattern: read, or simulated with its truth. */
    Measurement m = {0};
    RefinementCrystal *truth = NULL;
    if (o->input != NULL) {
        if (!readTwoColumns(o->input, &m.x, &m.observed, &m.count)) return 1;
    } else {
        truth = simulateCorundum(o->dataFolder, o->seed, &m);
        if (truth == NULL) {
            fprintf(stderr, "could not simulate the corundum pattern\n");
            return 1;
        }
    }
    PatternPoint *points = malloc((size_t)m.count * sizeof *points);
    if (points == NULL) {
        freeMeasurement(&m);
        freeRefinementCrystal(truth);
        return 1;
    }
    for (int32_t i = 0; i < m.count; i++) points[i] = (PatternPoint){m.x[i], m.observed[i]};

    /* 1. The strongest maxima; 2. one pseudo-Voigt fit each; 3. the
     *    background, independently. */
    int32_t n = 0;
    PeakRange *ranges = locatePeakRanges(points, m.count, o->maxPeaks, &n);
    FittedPeak *peaks = calloc((size_t)(n > 0 ? n : 1), sizeof *peaks);
    int converged = 0, repeated = 0;
    for (int32_t i = 0; peaks != NULL && i < n; i++) {
        FittedPeak *p = &peaks[i];
        p->range = ranges[i];
        p->parameters = pseudoVoigtFit(&p->range);
        if (p->parameters == NULL ||
            !peakParametersForPseudoVoigt(p->parameters, &p->position, &p->area, &p->background,
                                          &p->fwhm, &p->eta)) {
            freeMatrix(p->parameters);
            p->parameters = NULL;
            continue;
        }
        /* On a broad peak, counting noise can make two maxima; both fits then
         * find the same peak. Keep the first. */
        for (int32_t j = 0; j < i; j++) {
            if (peaks[j].parameters != NULL &&
                fabs(peaks[j].position - p->position) < 0.5 * peaks[j].fwhm) {
                freeMatrix(p->parameters);
                p->parameters = NULL;
                repeated += 1;
                break;
            }
        }
        converged += p->parameters != NULL;
    }
    PatternPoint *background = fittedBackground(points, m.count);

    char subtitle[256];
    if (truth != NULL) {
        snprintf(subtitle, sizeof subtitle,
                 "simulated corundum, Cu Kα1, symmetric pseudo-Voigt peaks, counting noise (seed %.0f)",
                 o->seed);
    } else {
        snprintf(subtitle, sizeof subtitle, "%s", o->input);
    }
    printf("powderkit peaks: %s\n", subtitle);
    printf("  %d points from %g to %g; %d strongest maxima located, %d peaks fitted", m.count,
           m.x[0], m.x[m.count - 1], n, converged);
    if (repeated == 1) printf(" (one maximum was noise on a peak already fitted)");
    if (repeated > 1) printf(" (%d maxima were noise on peaks already fitted)", repeated);
    putchar('\n');
    printf("  background: %s\n", background != NULL
                                     ? "estimated through the flat stretches of the pattern"
                                     : "no estimate (the pattern has too few flat stretches)");
    if (peaks != NULL) printPeaks(peaks, n, truth);

    char path[4096];
    bool ok = peaks != NULL && joinPath(path, sizeof path, folder, "peaks.tsv") &&
              writePeakTable(path, peaks, n, truth);
    if (ok && background != NULL) {
        double *by = malloc((size_t)m.count * sizeof *by);
        ok = by != NULL;
        for (int32_t i = 0; ok && i < m.count; i++) by[i] = background[i].y;
        ok = ok && joinPath(path, sizeof path, folder, "background.xy") &&
             writeTwoColumns(path, "# fitted background\n", m.x, by, m.count);
        free(by);
    }
    if (ok && truth != NULL) {
        ok = joinPath(path, sizeof path, folder, "pattern.xy") &&
             writeTwoColumns(path, "# simulated corundum pattern with counting noise\n", m.x,
                             m.observed, m.count);
    }
    ok = ok && joinPath(path, sizeof path, folder, "peaks.svg") &&
         writePlot(path, points, m.count, m.x, m.observed, background, peaks, n, truth, subtitle);
    if (ok) {
        printf("\nFiles written to the folder %s:\n", folder);
        printf("  peaks.tsv        position, area, background, FWHM and η of every fitted peak\n");
        if (background != NULL) printf("  background.xy    the estimated background\n");
        if (truth != NULL) printf("  pattern.xy       the simulated pattern\n");
        printf("  peaks.svg        the fits and the background over the data\n");
    }

    for (int32_t i = 0; peaks != NULL && i < n; i++) freeMatrix(peaks[i].parameters);
    free(peaks);
    free(ranges);
    free(background);
    free(points);
    freeMeasurement(&m);
    freeRefinementCrystal(truth);
    return ok ? 0 : 1;
}

int main(int argc, char **argv) {
    PeaksOptions options = {NULL, 20, 2024.0, NULL, NULL};
    int status = parseOptions(argc, argv, &options);
    if (status == 0) status = runPeaks(&options);
    if (status < 0) status = 0;
    pk_phase_free(corundum);
    return status;
}
