/* powderkit-demo: one calculated powder pattern, end to end, through the
 * public interface only. By default corundum (α-Al₂O₃) with Cu Kα1 X-rays
 * (λ = 1.5406 Å) from 10° to 150° 2θ in 0.01° steps, pseudo-Voigt peaks with
 * low-angle asymmetry on a Chebyshev background. Options choose another
 * built-in structure, neutrons, a time-of-flight pattern, the wavelength, the
 * range and step, and the output folder.
 *
 * The road: build the crystal (cell, operators, sites, occupants with their
 * scattering data, displacements), compute the reciprocal cell and metric
 * tensors, expand the sites into the cell, generate the reflexion list,
 * compute intensities, make and check the profile record, and spread every
 * reflexion over the pattern points of its FindReflexionRange window. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "calculated_pattern.h"
#include "element_table.h"
#include "host_files.h"
#include "host_options.h"
#include "powderkit.h"
#include "reflexion_list.h"
#include "structures.h"
#include "svg_plot.h"

/* Height of the strongest point above the background, in counts. */
#define TARGET_PEAK_COUNTS 10000.0

typedef struct DemoOptions {
    const char *structure;
    int radiation;
    int profileType;
    double wavelength;
    double from, to, step;
    double dtt1;
    const char *outFolder;
    bool fromSet, toSet, stepSet, radiationSet;
} DemoOptions;

static void printHelp(void) {
    puts("usage: powderkit-demo [options]\n"
         "\n"
         "Calculates the powder pattern of a built-in crystal structure and writes the\n"
         "pattern (.xy), the reflexion list (.tsv) and a plot (.svg) into a folder.\n"
         "\n"
         "  --structure NAME   built-in structure (default corundum); --list shows them\n"
         "  --xray             X-rays (the default for constant wavelength)\n"
         "  --neutron          neutrons (the default for time of flight)\n"
         "  --wavelength Å     wavelength (default 1.5406, Cu Kα1)\n"
         "  --tof              time-of-flight pattern: back-to-back exponentials\n"
         "                     convolved with a Gaussian (profile type 3), detector\n"
         "                     bank at 2θ = 90°, axis in milliseconds\n"
         "  --tof-voigt        the same with a pseudo-Voigt (profile type 4)\n"
         "  --dtt1 µs/Å        time-of-flight calibration (default 10000)\n"
         "  --from X --to X    pattern range: 2θ in degrees (default 10 to 150), or\n"
         "                     flight time in ms (default 5 to 40)\n"
         "  --step X           step (default 0.01°, or 0.002 ms)\n"
         "  --out FOLDER       output folder (default demo-output/STRUCTURE-MODE)\n"
         "  --list             list the built-in structures and stop\n"
         "  --help             this text");
}

static void listStructures(void) {
    puts("built-in structures:");
    for (int i = 0; i < structureCount(); i++) {
        const Structure *s = structureAt(i);
        printf("  %-10s %-12s a=%.4f b=%.4f c=%.4f  α=%.2f β=%.2f γ=%.2f  %d site%s\n", s->name,
               s->spaceGroup, s->cell[0], s->cell[1], s->cell[2], s->cell[3], s->cell[4],
               s->cell[5], s->siteCount, s->siteCount == 1 ? "" : "s");
    }
}

/* 0: run, -1: stop successfully (help, list), 2: bad usage. */
static int parseOptions(int argc, char **argv, DemoOptions *o) {
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        bool ok = true;
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            printHelp();
            return -1;
        } else if (strcmp(a, "--list") == 0) {
            listStructures();
            return -1;
        } else if (strcmp(a, "--structure") == 0) {
            ok = optionText(argc, argv, &i, &o->structure);
        } else if (strcmp(a, "--xray") == 0) {
            o->radiation = PK_RADIATION_XRAY;
            o->radiationSet = true;
        } else if (strcmp(a, "--neutron") == 0) {
            o->radiation = PK_RADIATION_NEUTRON;
            o->radiationSet = true;
        } else if (strcmp(a, "--tof") == 0) {
            o->profileType = PK_PROFILE_TOF_EXP_GAUSSIAN;
        } else if (strcmp(a, "--tof-voigt") == 0) {
            o->profileType = PK_PROFILE_TOF_EXP_PSEUDO_VOIGT;
        } else if (strcmp(a, "--wavelength") == 0) {
            ok = optionNumber(argc, argv, &i, &o->wavelength);
        } else if (strcmp(a, "--dtt1") == 0) {
            ok = optionNumber(argc, argv, &i, &o->dtt1);
        } else if (strcmp(a, "--from") == 0) {
            ok = o->fromSet = optionNumber(argc, argv, &i, &o->from);
        } else if (strcmp(a, "--to") == 0) {
            ok = o->toSet = optionNumber(argc, argv, &i, &o->to);
        } else if (strcmp(a, "--step") == 0) {
            ok = o->stepSet = optionNumber(argc, argv, &i, &o->step);
        } else if (strcmp(a, "--out") == 0) {
            ok = optionText(argc, argv, &i, &o->outFolder);
        } else {
            fprintf(stderr, "unknown option %s (see --help)\n", a);
            ok = false;
        }
        if (!ok) return 2;
    }
    bool tof = o->profileType != PK_PROFILE_PSEUDO_VOIGT;
    if (!o->radiationSet) o->radiation = tof ? PK_RADIATION_NEUTRON : PK_RADIATION_XRAY;
    if (!o->fromSet) o->from = tof ? 5.0 : 10.0;
    if (!o->toSet) o->to = tof ? 40.0 : 150.0;
    if (!o->stepSet) o->step = tof ? 0.002 : 0.01;
    if (!(o->wavelength > 0.0) || !(o->dtt1 > 0.0) || !(o->step > 0.0) || !(o->to > o->from) ||
        (!tof && (o->from < 0.0 || o->to >= 180.0)) || (tof && o->from <= 0.0)) {
        fprintf(stderr, "the wavelength, dtt1 and step must be positive and the range must run "
                        "upwards (2θ below 180°, flight times above 0)\n");
        return 2;
    }
    if ((o->to - o->from) / o->step > 2000000.0) {
        fprintf(stderr, "more than two million points: choose a larger step\n");
        return 2;
    }
    return 0;
}

/* The instrument: the profile record with the demo's peak shapes. */
static RefinementProfile *makeDemoProfile(const DemoOptions *o) {
    bool tof = o->profileType != PK_PROFILE_PSEUDO_VOIGT;
    RefinementProfile *p = makeRefinementProfile(
        tof ? PK_EXPERIMENT_TIME_OF_FLIGHT : PK_EXPERIMENT_CONSTANT_WAVELENGTH, o->radiation,
        o->profileType, o->wavelength, o->from, o->to);
    if (p == NULL) return NULL;
    if (tof) {
        p->tofTwoTheta = 90.0;
        p->dtt1 = o->dtt1;
        p->dtt2 = 0.0;
        p->zero = 0.0;
        p->sigma0 = 4.0;  /* µs² */
        p->sigma1 = 60.0; /* µs²/Å² */
        p->sigma2 = 2.0;  /* µs²/Å⁴ */
        p->alpha0 = 0.0;
        p->alpha1 = 0.1; /* 1/µs · Å */
        p->beta0 = 0.02; /* 1/µs */
        p->beta1 = 0.004;
        p->gamma0 = 0.0;
        p->gamma1 = 2.0; /* µs/Å */
        p->gamma2 = 0.5;
        const double background[] = {100.0, -30.0, 12.0, -4.0, 2.0};
        memcpy(p->backgroundCoefficients, background, sizeof background);
    } else {
        p->U = 0.0040;
        p->V = -0.0020;
        p->W = 0.0030;
        p->LX = 0.020;
        p->LY = 0.030;
        p->asymmetry = 0.02;
        const double background[] = {130.0, -60.0, 25.0, -10.0, 4.0};
        memcpy(p->backgroundCoefficients, background, sizeof background);
    }
    return p;
}

/* The smallest d worth generating: peaks just beyond the range still reach
 * into it with their tails. */
static double generationDMin(RefinementProfile *p) {
    if (p->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT) {
        double d = dSpacingForTOFMilliseconds(p, 0.95 * p->xMin);
        return d > 0.05 ? d : 0.05;
    }
    double limit = minDSpacingForPlot(p);
    double edge = p->xMax + 0.02 * (p->xMax - p->xMin);
    if (edge >= 179.0) return limit;
    double d = dSpacingForTwoTheta(p, edge, 0);
    return d > limit ? d : limit;
}

static int byIntensity(const void *a, const void *b) {
    const Reflexion *ra = *(const Reflexion *const *)a, *rb = *(const Reflexion *const *)b;
    return (ra->intensity < rb->intensity) - (ra->intensity > rb->intensity);
}

static double structureFactorModulus(const Reflexion *r) {
    return hypot(r->structureFactorReal, r->structureFactorImag);
}

static bool insideRange(const Reflexion *r, const RefinementProfile *p) {
    return r->peakPosition >= p->xMin && r->peakPosition <= p->xMax;
}

static void printStrongest(const RefinementCrystal *crystal, const RefinementProfile *p) {
    bool tof = p->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT;
    int n = 0;
    Reflexion **sorted = malloc((size_t)crystal->reflexions->count * sizeof *sorted);
    if (sorted == NULL) return;
    for (int32_t i = 0; i < crystal->reflexions->count; i++) {
        Reflexion *r = crystal->reflexions->items[i];
        if (insideRange(r, p)) sorted[n++] = r;
    }
    qsort(sorted, (size_t)n, sizeof *sorted, byIntensity);
    printf("\nThe ten strongest reflexions in the range:\n");
    printf("    h   k   l      d (Å)  %s  mult       |F|    I/Imax\n",
           tof ? "TOF (ms)" : "  2θ (°)");
    for (int i = 0; i < n && i < 10; i++) {
        const Reflexion *r = sorted[i];
        printf("  %3d %3d %3d  %9.5f  %8.4f  %4d  %8.3f  %8.4f\n", r->h, r->k, r->l, r->dSpacing,
               r->peakPosition, r->multiplicity, structureFactorModulus(r), r->relativeIntensity);
    }
    free(sorted);
}

static bool writeReflexionTable(const char *path, const RefinementCrystal *crystal,
                                const RefinementProfile *p, const char *description) {
    bool tof = p->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT;
    FILE *file = fopen(path, "w");
    if (file == NULL) {
        fprintf(stderr, "cannot write %s\n", path);
        return false;
    }
    fprintf(file, "# %s\n# scale\t%.10g\n", description, crystal->scale);
    fprintf(file, "# h\tk\tl\td\t%s\tmultiplicity\tF\tintensity\trelative_intensity\n",
            tof ? "tof_ms" : "two_theta");
    for (int32_t i = 0; i < crystal->reflexions->count; i++) {
        const Reflexion *r = crystal->reflexions->items[i];
        if (!insideRange(r, p)) continue;
        fprintf(file, "%d\t%d\t%d\t%.8f\t%.6f\t%d\t%.6f\t%.10e\t%.10e\n", r->h, r->k, r->l,
                r->dSpacing, r->peakPosition, r->multiplicity, structureFactorModulus(r),
                r->intensity, r->relativeIntensity);
    }
    return fclose(file) == 0;
}

static bool writePlot(const char *path, const RefinementCrystal *crystal,
                      const RefinementProfile *p, const double *x, const double *total,
                      const double *background, int32_t count, const char *title,
                      const char *subtitle) {
    bool tof = p->experimentType == PK_EXPERIMENT_TIME_OF_FLIGHT;
    int32_t n = crystal->reflexions->count;
    double *ticks = malloc((size_t)(n > 0 ? n : 1) * sizeof *ticks);
    if (ticks == NULL) return false;
    for (int32_t i = 0; i < n; i++) {
        ticks[i] = ((const Reflexion *)crystal->reflexions->items[i])->peakPosition;
    }
    SvgPlot plot = {0};
    plot.title = title;
    plot.subtitle = subtitle;
    plot.xLabel = tof ? "time of flight (ms)" : "2θ (degrees)";
    plot.yLabel = "intensity (counts)";
    plot.xMin = x[0];
    plot.xMax = x[count - 1];
    plot.seriesCount = 2;
    plot.series[0] = (SvgSeries){x, total, count, "calculated pattern", "#1f4e9c", 0.0, 1.2, false};
    plot.series[1] = (SvgSeries){x, background, count, "background", "#999999", 0.0, 1.0, false};
    plot.tickRowCount = 1;
    plot.tickRows[0] = (SvgTickRow){ticks, n, "reflexion positions", "#c0392b"};
    bool ok = writeSvgPlot(path, &plot);
    free(ticks);
    return ok;
}

typedef struct DemoRun {
    ElementTable elements;
    RefinementCrystal *crystal;
    RefinementProfile *profile;
    double *x, *peaks, *background, *total;
} DemoRun;

static void releaseRun(DemoRun *run) {
    freeRefinementCrystal(run->crystal);
    freeRefinementProfile(run->profile);
    freeElementTable(&run->elements);
    free(run->x);
    free(run->peaks);
    free(run->background);
    free(run->total);
}

static int runDemo(const DemoOptions *o) {
    const Structure *structure = findStructure(o->structure);
    if (structure == NULL) {
        fprintf(stderr, "no built-in structure \"%s\"; these exist:\n", o->structure);
        for (int i = 0; i < structureCount(); i++) fprintf(stderr, "  %s\n", structureAt(i)->name);
        return 2;
    }
    bool tof = o->profileType != PK_PROFILE_PSEUDO_VOIGT;
    const char *radiationName = o->radiation == PK_RADIATION_XRAY ? "X-rays" : "neutrons";
    char folder[2048];
    if (o->outFolder != NULL) {
        snprintf(folder, sizeof folder, "%s", o->outFolder);
    } else {
        snprintf(folder, sizeof folder, "demo-output/%s-%s%s", structure->name,
                 o->radiation == PK_RADIATION_XRAY ? "xray" : "neutron",
                 !tof ? "" : o->profileType == PK_PROFILE_TOF_EXP_GAUSSIAN ? "-tof" : "-tof-voigt");
    }
    if (!makeFolder(folder)) return 1;

    DemoRun run = {0};
    /* 1. The element table (written by the library, read by the host) and
     *    the crystal: cell, operators, sites, occupants, displacements;
     *    reciprocal cell, metric tensors, unit-cell positions. */
    if (!readElementTable(folder, &run.elements)) return 1;
    run.crystal = buildCrystal(structure, &run.elements);
    run.profile = makeDemoProfile(o);
    if (run.crystal == NULL || run.profile == NULL) {
        fprintf(stderr, "could not build the crystal or the profile\n");
        releaseRun(&run);
        return 1;
    }
    RefinementCrystal *crystal = run.crystal;
    RefinementProfile *profile = run.profile;
    if (!ProfileParametersAreValid(profile)) {
        fprintf(stderr, "the profile parameters are not valid: %s\n", GetErrorBuffer());
        releaseRun(&run);
        return 1;
    }

    /* 2. The reflexion list and its intensities. */
    double dMin = generationDMin(profile);
    if (buildReflexionList(crystal, dMin) < 0 ||
        !calculateReflexionIntensities(crystal, profile, true)) {
        fprintf(stderr, "no reflexions with intensity in this range\n");
        releaseRun(&run);
        return 1;
    }

    /* 3. The pattern: peaks on their windows, scaled so that the strongest
     *    point stands TARGET_PEAK_COUNTS above the background, and the
     *    Chebyshev background. */
    int32_t count = 0;
    run.x = makeAxis(o->from, o->to, o->step, &count);
    if (run.x != NULL) {
        run.peaks = malloc((size_t)count * sizeof(double));
        run.background = malloc((size_t)count * sizeof(double));
        run.total = malloc((size_t)count * sizeof(double));
    }
    if (run.x == NULL || run.peaks == NULL || run.background == NULL || run.total == NULL) {
        fprintf(stderr, "out of memory for %d points\n", count);
        releaseRun(&run);
        return 1;
    }
    if (!scaleToPeakHeight(crystal, profile, run.x, count, TARGET_PEAK_COUNTS, run.peaks)) {
        fprintf(stderr, "no peak falls on the pattern\n");
        releaseRun(&run);
        return 1;
    }
    int placed = addReflexionPeaks(crystal, profile, run.x, count, run.peaks);
    calculateBackground(profile, run.x, count, run.background);
    for (int32_t i = 0; i < count; i++) run.total[i] = run.peaks[i] + run.background[i];

    /* 4. What the run produced. */
    char description[512];
    const char *shape = !tof ? "pseudo-Voigt peaks with low-angle asymmetry"
                        : o->profileType == PK_PROFILE_TOF_EXP_GAUSSIAN
                            ? "back-to-back exponentials ⊗ Gaussian"
                            : "back-to-back exponentials ⊗ pseudo-Voigt";
    if (tof) {
        snprintf(description, sizeof description,
                 "%s (%s), %s, time of flight, bank at 2θ = %.0f°, dtt1 = %g µs/Å, %s", structure->name,
                 structure->spaceGroup, radiationName, profile->tofTwoTheta, profile->dtt1, shape);
    } else {
        snprintf(description, sizeof description, "%s (%s), %s, λ = %g Å, %s", structure->name,
                 structure->spaceGroup, radiationName, profile->wavelength, shape);
    }
    printf("powderkit demo: %s\n", description);
    printf("  cell      a = %.5f  b = %.5f  c = %.5f Å   α = %.3f  β = %.3f  γ = %.3f°   V = %.3f Å³\n",
           crystal->a, crystal->b, crystal->c, crystal->alpha, crystal->beta, crystal->gamma,
           crystal->volume);
    printf("  pattern   %s %g to %g %s in steps of %g (%d points), Chebyshev background\n",
           tof ? "time of flight" : "2θ", o->from, o->to, tof ? "ms" : "degrees", o->step, count);
    int inside = 0;
    for (int32_t i = 0; i < crystal->reflexions->count; i++) {
        inside += insideRange(crystal->reflexions->items[i], profile);
    }
    printf("  reflexions %d in the range, %d more whose tails reach into it; scale %.6g\n",
           inside, placed - inside, crystal->scale);
    printStrongest(crystal, profile);

    char path[4096];
    char header[640];
    snprintf(header, sizeof header, "# %s\n# %s  intensity (counts)\n", description,
             tof ? "time of flight (ms)" : "2theta (degrees)");
    bool ok = joinPath(path, sizeof path, folder, "pattern.xy") &&
              writeTwoColumns(path, header, run.x, run.total, count);
    snprintf(header, sizeof header, "# Chebyshev background of: %s\n", description);
    ok = ok && joinPath(path, sizeof path, folder, "background.xy") &&
         writeTwoColumns(path, header, run.x, run.background, count);
    ok = ok && joinPath(path, sizeof path, folder, "reflexions.tsv") &&
         writeReflexionTable(path, crystal, profile, description);
    char title[128];
    snprintf(title, sizeof title, "%s — calculated powder pattern", structure->name);
    ok = ok && joinPath(path, sizeof path, folder, "pattern.svg") &&
         writePlot(path, crystal, profile, run.x, run.total, run.background, count, title,
                   description);
    if (ok) {
        printf("\nFiles written to the folder %s:\n", folder);
        printf("  pattern.xy       the pattern, two columns (%s, counts)\n",
               tof ? "ms" : "2θ");
        printf("  background.xy    the Chebyshev background alone\n");
        printf("  reflexions.tsv   h k l, d, %s, multiplicity, |F|, intensity, relative intensity\n",
               tof ? "TOF" : "2θ");
        printf("  pattern.svg      the plot, with a tick under every reflexion (open it in a browser)\n");
        printf("  ASF.dat          the element table, as the library writes it\n");
    }
    releaseRun(&run);
    return ok ? 0 : 1;
}

int main(int argc, char **argv) {
    DemoOptions options = {"corundum", PK_RADIATION_XRAY, PK_PROFILE_PSEUDO_VOIGT, 1.5406,
                           10.0, 150.0, 0.01, 10000.0, NULL, false, false, false, false};
    if (!loadStructures()) return 1;
    int status = parseOptions(argc, argv, &options);
    if (status == 0) status = runDemo(&options);
    if (status < 0) status = 0;
    releaseStructures();
    return status;
}
