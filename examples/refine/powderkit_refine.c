/* powderkit-refine: a two-phase Rietveld refinement through the phase layer. A corundum + silicon
 * mixture is simulated for Cu Kα1 + Kα2 from known scales, cells, zero shift, profiles and background,
 * with seeded counting noise. The refinement starts with the cells 0.5 % off, the scales and peak
 * widths 20 % off, no zero shift and no background, and refines all of them back. */
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "counting_noise.h"
#include "host_files.h"
#include "host_options.h"
#include "powderkit_phase.h"
#include "svg_plot.h"

#ifndef PK_EXAMPLE_DATA_DIR
#define PK_EXAMPLE_DATA_DIR "examples/data"
#endif

enum { PHASES = 2, POINTS = 14001, BACKGROUND = 6, MAX_TRUTHS = 40, MAX_PARAMETERS = 400 };

static const char *const phaseNames[PHASES] = {"corundum", "silicon"};
static const double trueScale[PHASES] = {150.0, 50.0};
static const double trueWidths[PHASES][5] = {{0.004, -0.002, 0.003, 0.02, 0.01}, {0.003, -0.001, 0.002, 0.015, 0.02}};
static const double trueBackground[BACKGROUND] = {180.0, -50.0, 25.0, -10.0, 4.0, -2.0};
static const double trueZero = 0.012;

/* The simulated mixture: its phases, instrument and profiles, and every true value by name. */
typedef struct Mixture {
    pk_phase *phases[PHASES];
    pk_instrument instrument;
    pk_profile profiles[PHASES];
    pk_phase_setting settings[PHASES];
    char truthNames[MAX_TRUTHS][48];
    double truthValues[MAX_TRUTHS];
    int truthCount;
} Mixture;

static int usage(void) {
    puts("usage: powderkit-refine [--seed N] [--out FOLDER] [--data FOLDER]\n\n"
         "Simulates a corundum + silicon mixture (Cu Kα1 + Kα2, 2θ 10–150° by 0.01°, pseudo-Voigt peaks,\n"
         "Chebyshev background, counting noise), writes it as FOLDER/mixture.xy (2θ, counts, σ), starts\n"
         "from cells 0.5 % off and scales and widths 20 % off, and refines scale, cell, zero, profile\n"
         "and background. Prints every cycle and the parameters (start, refined, esd, true); writes\n"
         "parameters.tsv, fit.xy (2θ observed calculated difference background) and fit.svg.\n\n"
         "  --seed N       seed of the counting noise (default 7)\n"
         "  --out FOLDER   output folder (default refine-output)\n"
         "  --data FOLDER  folder of corundum.cif and silicon.cif (default " PK_EXAMPLE_DATA_DIR ")\n"
         "  --help         this text");
    return -1;
}

static int parseOptions(int argc, char **argv, double *seed, const char **out, const char **data) {
    for (int i = 1; i < argc; i++) {
        bool ok = true;
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) return usage();
        if (strcmp(argv[i], "--seed") == 0) {
            ok = optionNumber(argc, argv, &i, seed) && *seed >= 0;
        } else if (strcmp(argv[i], "--out") == 0) {
            ok = optionText(argc, argv, &i, out);
        } else if (strcmp(argv[i], "--data") == 0) {
            ok = optionText(argc, argv, &i, data);
        } else {
            fprintf(stderr, "unknown option %s (see --help)\n", argv[i]);
            ok = false;
        }
        if (!ok) return 2;
    }
    return 0;
}

/* U V W X Y of a profile: the widths given, times a factor. */
static void setWidths(pk_profile *profile, const double widths[5], double factor) {
    profile->U = widths[0] * factor;
    profile->V = widths[1] * factor;
    profile->W = widths[2] * factor;
    profile->X = widths[3] * factor;
    profile->Y = widths[4] * factor;
}

static void addTruth(Mixture *m, double value, const char *format, ...) {
    va_list list;
    va_start(list, format);
    vsnprintf(m->truthNames[m->truthCount], sizeof m->truthNames[0], format, list);
    va_end(list);
    m->truthValues[m->truthCount++] = value;
}

static double trueValue(const Mixture *m, const char *name) {
    for (int i = 0; i < m->truthCount; i++) {
        if (strcmp(m->truthNames[i], name) == 0) return m->truthValues[i];
    }
    return NAN;
}

/* Reads the phases and records the true model: the cells as read, the rest as set above. */
static bool setUp(Mixture *m, const char *folder, pk_error *e) {
    char path[4096];
    pk_instrument_default(&m->instrument);
    if (pk_instrument_set_anode(&m->instrument, "Cu", true, e) != PK_OK) return false;
    m->instrument.zero = trueZero;
    for (int p = 0; p < PHASES; p++) {
        snprintf(path, sizeof path, "%s/%s.cif", folder, phaseNames[p]);
        double cell[6];
        double volume;
        if (pk_phase_from_cif_file(path, NULL, &m->phases[p], e) != PK_OK ||
            pk_profile_default(&m->profiles[p], PK_PROFILE_PSEUDO_VOIGT, e) != PK_OK ||
            pk_phase_cell(m->phases[p], cell, &volume) != PK_OK) {
            return false;
        }
        setWidths(&m->profiles[p], trueWidths[p], 1.0);
        m->settings[p] = (pk_phase_setting){m->phases[p], trueScale[p], &m->profiles[p], 0, 1.0, {0, 0, 1}};
        addTruth(m, trueScale[p], "%s.scale", phaseNames[p]);
        for (int k = 0; k < 3; k++) addTruth(m, cell[k], "%s.%c", phaseNames[p], "abc"[k]);
        for (int k = 0; k < 5; k++) addTruth(m, trueWidths[p][k], "%s.%c", phaseNames[p], "UVWXY"[k]);
    }
    addTruth(m, trueZero, "zero");
    for (int k = 0; k < BACKGROUND; k++) addTruth(m, trueBackground[k], "background.%d", k);
    return true;
}

/* The measurement: a Poisson count of the true pattern at every point, with σ the standard deviation
 * of that count (√ of its mean; σ from the counts themselves would pull the background down). */
static bool simulate(const Mixture *m, double seed, const char *path, pk_error *e) {
    static double x[POINTS], y[POINTS];
    for (int i = 0; i < POINTS; i++) x[i] = 10.0 + 0.01 * i;
    if (pk_pattern(&m->instrument, m->settings, PHASES, trueBackground, BACKGROUND, x, POINTS, y, e) != PK_OK) {
        return false;
    }
    NoiseSource noise;
    seedNoise(&noise, (uint64_t)seed);
    FILE *file = fopen(path, "w");
    if (file == NULL) return false;
    fprintf(file, "# 2theta counts sigma: corundum + silicon, Cu Ka1 + Ka2, seed %.0f\n", seed);
    for (int i = 0; i < POINTS; i++) {
        fprintf(file, "%.2f %.0f %.4f\n", x[i], poissonCount(&noise, y[i]), sqrt(y[i] > 1.0 ? y[i] : 1.0));
    }
    return fclose(file) == 0;
}

/* The refinement from the perturbed start, everything named in the list free. */
static bool start(Mixture *m, const pk_measured_pattern *measured, pk_refinement **r, pk_error *e) {
    static const double off[PHASES] = {1.2, 0.8};
    pk_phase_setting settings[PHASES];
    pk_profile profiles[PHASES];
    double cell[6];
    double volume;
    for (int p = 0; p < PHASES; p++) {
        profiles[p] = m->profiles[p];
        setWidths(&profiles[p], trueWidths[p], off[p]);
        settings[p] = m->settings[p];
        settings[p].scale *= off[p];
        settings[p].profile = &profiles[p];
    }
    pk_instrument instrument = m->instrument;
    instrument.zero = 0.0;
    pk_refinement_options options;
    pk_refinement_options_default(&options);
    options.background_count = BACKGROUND;
    if (pk_refinement_make(measured, &instrument, settings, PHASES, phaseNames, &options, r, e) != PK_OK) return false;
    pk_phase_cell(m->phases[0], cell, &volume);
    return pk_refinement_set_value(*r, "corundum.a", cell[0] * 1.005, e) == PK_OK &&
           pk_refinement_set_value(*r, "corundum.c", cell[2] * 0.995, e) == PK_OK &&
           pk_phase_cell(m->phases[1], cell, &volume) == PK_OK &&
           pk_refinement_set_value(*r, "silicon.a", cell[0] * 1.005, e) == PK_OK &&
           pk_refinement_set_free(*r, "scale,cell,zero,profile,background", true, e) == PK_OK;
}

static int32_t progress(void *context, int32_t cycle, double chi2, double rwp, double damping) {
    (void)context;
    printf("cycle %2d  Rwp %8.4f %%  chi2 %14.2f  damping %8.1e\n", cycle, rwp, chi2, damping);
    return 0;
}

/* The refined parameters beside their start and true values, printed and as parameters.tsv. */
static bool report(const Mixture *m, const pk_refinement *r, const double *starts, const char *path) {
    FILE *file = fopen(path, "w");
    if (file == NULL) return false;
    fprintf(file, "# parameter\tstart\trefined\tesd\ttrue\n");
    printf("\n%-16s %12s %12s %10s %12s %9s\n", "parameter", "start", "refined", "esd", "true", "off/esd");
    for (int32_t i = 0; i < pk_refinement_parameter_count(r); i++) {
        pk_parameter p;
        pk_refinement_parameter(r, i, &p, NULL);
        if (p.state == PK_PARAMETER_FIXED || p.state == PK_PARAMETER_TIED) continue;
        double truth = trueValue(m, p.name);
        printf("%-16s %12.6g %12.7g %10.2g %12.7g %+9.2f\n", p.name, starts[i], p.value, p.esd, truth,
               (p.value - truth) / p.esd);
        fprintf(file, "%s\t%.10g\t%.10g\t%.6g\t%.10g\n", p.name, starts[i], p.value, p.esd, truth);
    }
    return fclose(file) == 0;
}

/* fit.xy and fit.svg: observed, calculated, difference (below, with its zero line), background and the
 * reflexion positions of each phase. */
static bool writeFit(const pk_refinement *r, const char *folder) {
    enum { CURVES = 5 };
    static const int32_t kinds[CURVES] = {PK_CURVE_X, PK_CURVE_OBSERVED, PK_CURVE_CALCULATED, PK_CURVE_DIFFERENCE,
                                          PK_CURVE_BACKGROUND};
    static double c[CURVES][POINTS], ticks[PHASES][2000];
    int32_t n = pk_refinement_point_count(r);
    int32_t tickCount[PHASES];
    char path[4096];
    bool ok = n <= POINTS;
    for (int k = 0; ok && k < CURVES; k++) ok = pk_refinement_curve(r, kinds[k], 0, c[k], POINTS, NULL) == PK_OK;
    for (int p = 0; ok && p < PHASES; p++) {
        ok = pk_refinement_peak_positions(r, p, ticks[p], 2000, &tickCount[p], NULL) == PK_OK;
    }
    FILE *file = ok && joinPath(path, sizeof path, folder, "fit.xy") ? fopen(path, "w") : NULL;
    if (file == NULL) return false;
    fprintf(file, "# 2theta observed calculated difference background\n");
    double highest = 0.0;
    double lowest = 0.0;
    for (int32_t i = 0; i < n; i++) {
        fprintf(file, "%.2f %.0f %.4f %.4f %.4f\n", c[0][i], c[1][i], c[2][i], c[3][i], c[4][i]);
        highest = c[1][i] > highest ? c[1][i] : highest;
        lowest = c[3][i] < lowest ? c[3][i] : lowest;
    }
    if (fclose(file) != 0) return false;
    double shift = lowest - 0.04 * highest;
    double zeroX[2] = {c[0][0], c[0][n - 1]};
    double zeroY[2] = {0.0, 0.0};
    SvgPlot plot = {0};
    plot.title = "corundum + silicon — Rietveld refinement of a simulated measurement";
    plot.subtitle = "observed (crosses), calculated, background; observed − calculated below; Cu Kα1 + Kα2";
    plot.xLabel = "2θ (degrees)";
    plot.yLabel = "intensity (counts)";
    plot.xMin = c[0][0];
    plot.xMax = c[0][n - 1];
    plot.seriesCount = 5;
    plot.series[0] = (SvgSeries){c[0], c[1], n, "observed", "#555555", 0.0, 0.8, true};
    plot.series[1] = (SvgSeries){c[0], c[2], n, "calculated", "#c0392b", 0.0, 1.2, false};
    plot.series[2] = (SvgSeries){c[0], c[4], n, "background", "#888888", 0.0, 1.0, false};
    plot.series[3] = (SvgSeries){zeroX, zeroY, 2, NULL, "#999999", shift, 0.6, false};
    plot.series[4] = (SvgSeries){c[0], c[3], n, "observed − calculated", "#1f4e9c", shift, 1.0, false};
    plot.tickRowCount = PHASES;
    plot.tickRows[0] = (SvgTickRow){ticks[0], tickCount[0], "corundum", "#2e8b57"};
    plot.tickRows[1] = (SvgTickRow){ticks[1], tickCount[1], "silicon", "#b8860b"};
    return joinPath(path, sizeof path, folder, "fit.svg") && writeSvgPlot(path, &plot);
}

static int run(const char *folder, const char *data, double seed) {
    Mixture m = {0};
    pk_error e = {0};
    pk_measured_pattern *measured = NULL;
    pk_refinement *r = NULL;
    static double starts[MAX_PARAMETERS];
    pk_refinement_summary s = {0};
    char path[4096];
    bool ok = makeFolder(folder) && setUp(&m, data, &e) && joinPath(path, sizeof path, folder, "mixture.xy") &&
              simulate(&m, seed, path, &e) && pk_measured_pattern_read_file(path, &measured, &e) == PK_OK &&
              start(&m, measured, &r, &e);
    int32_t count = ok ? pk_refinement_parameter_count(r) : 0;
    ok = ok && count <= MAX_PARAMETERS;
    for (int32_t i = 0; ok && i < count; i++) {
        pk_parameter p;
        ok = pk_refinement_parameter(r, i, &p, &e) == PK_OK;
        starts[i] = p.value;
    }
    if (ok) printf("corundum + silicon, Cu Kα1 + Kα2, 2θ 10–150° by 0.01°, seed %.0f: %s\n", seed, path);
    ok = ok && pk_refinement_run(r, progress, NULL, &e) == PK_OK && pk_refinement_get_summary(r, &s, &e) == PK_OK;
    if (ok) {
        printf("%s after %d cycles; %d parameters on %d points\n", pk_refinement_stop_reason(r), s.cycles,
               s.free_count, s.points);
        fputs(pk_refinement_warnings(r), stdout);
        ok = joinPath(path, sizeof path, folder, "parameters.tsv") && report(&m, r, starts, path) &&
             writeFit(r, folder);
        printf("\nRwp %.4f %%  Rexp %.4f %%  Rp %.4f %%  reduced χ² %.4f  GoF %.4f\n", s.Rwp, s.Rexp, s.Rp, s.reduced_chi2, s.GoF);
    }
    if (ok) printf("written to %s: mixture.xy, parameters.tsv, fit.xy, fit.svg\n", folder);
    if (!ok) fprintf(stderr, "powderkit-refine: %s\n", e.message[0] != '\0' ? e.message : "cannot write a file");
    pk_refinement_free(r);
    pk_measured_pattern_free(measured);
    for (int p = 0; p < PHASES; p++) pk_phase_free(m.phases[p]);
    return ok ? 0 : 1;
}

int main(int argc, char **argv) {
    double seed = 7.0;
    const char *out = "refine-output";
    const char *data = PK_EXAMPLE_DATA_DIR;
    int status = parseOptions(argc, argv, &seed, &out, &data);
    if (status == 0) status = run(out, data, seed);
    return status < 0 ? 0 : status;
}
