/* The SVG writer of the example hosts. Long curves are thinned per pixel
 * column (the first, lowest, highest and last point of each column are kept,
 * in order), which leaves the drawing unchanged and the file small. */
#include "svg_plot.h"

#include <errno.h>
#include <float.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

enum {
    PLOT_WIDTH = 1200,
    PLOT_HEIGHT = 640,
    MARGIN_LEFT = 96,
    MARGIN_RIGHT = 28,
    MARGIN_TOP = 64,
    MARGIN_BOTTOM = 64,
    TICK_ROW_HEIGHT = 18
};

typedef struct Frame {
    double left, right, top, bottom; /* the data area, pixels */
    double xMin, xMax, yMin, yMax;   /* the data range */
} Frame;

static double toPixelX(const Frame *f, double x) {
    return f->left + (x - f->xMin) / (f->xMax - f->xMin) * (f->right - f->left);
}

static double toPixelY(const Frame *f, double y) {
    return f->bottom - (y - f->yMin) / (f->yMax - f->yMin) * (f->bottom - f->top);
}

/* A step of 1, 2 or 5 × 10^k giving about `target` intervals over the span. */
static double niceStep(double span, int target) {
    double raw = span / target;
    double power = pow(10.0, floor(log10(raw)));
    double fraction = raw / power;
    double nice = fraction < 1.5 ? 1.0 : fraction < 3.5 ? 2.0 : fraction < 7.5 ? 5.0 : 10.0;
    return nice * power;
}

static int decimalsForStep(double step) {
    int decimals = (int)ceil(-log10(step) - 1e-9);
    return decimals < 0 ? 0 : decimals > 6 ? 6 : decimals;
}

static void writeEscaped(FILE *file, const char *text) {
    for (const char *p = text; p != NULL && *p != '\0'; p++) {
        switch (*p) {
        case '&': fputs("&amp;", file); break;
        case '<': fputs("&lt;", file); break;
        case '>': fputs("&gt;", file); break;
        default: fputc(*p, file);
        }
    }
}

static void findYRange(const SvgPlot *plot, double *yMin, double *yMax) {
    double low = DBL_MAX, high = -DBL_MAX;
    for (int s = 0; s < plot->seriesCount; s++) {
        const SvgSeries *series = &plot->series[s];
        for (int i = 0; i < series->count; i++) {
            if (series->x[i] < plot->xMin || series->x[i] > plot->xMax) continue;
            double y = series->y[i] + series->offset;
            if (!isfinite(y)) continue;
            if (y < low) low = y;
            if (y > high) high = y;
        }
    }
    if (low > high) {
        low = 0.0;
        high = 1.0;
    }
    if (low > 0.0 && low < 0.25 * high) low = 0.0; /* counts start from zero */
    double pad = 0.05 * (high - low);
    if (pad <= 0.0) pad = fabs(high) > 0.0 ? 0.1 * fabs(high) : 1.0;
    *yMin = low == 0.0 ? 0.0 : low - pad;
    *yMax = high + pad;
}

static void writeAxes(FILE *file, const SvgPlot *plot, const Frame *f, double axisBottom) {
    fprintf(file, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
                  "stroke=\"#333\" stroke-width=\"1\"/>\n",
            f->left, f->top, f->right - f->left, axisBottom - f->top);
    double step = niceStep(f->xMax - f->xMin, 10);
    int decimals = decimalsForStep(step);
    fputs("<g font-family=\"sans-serif\" font-size=\"13\" fill=\"#333\" text-anchor=\"middle\">\n",
          file);
    for (double x = ceil(f->xMin / step) * step; x <= f->xMax + 1e-9 * step; x += step) {
        double px = toPixelX(f, x);
        fprintf(file, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#333\"/>\n",
                px, axisBottom, px, axisBottom + 6);
        fprintf(file, "<text x=\"%.1f\" y=\"%.1f\">%.*f</text>\n", px, axisBottom + 21,
                decimals, fabs(x) < 1e-12 * step ? 0.0 : x);
    }
    fprintf(file, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"15\">", 0.5 * (f->left + f->right),
            axisBottom + 44);
    writeEscaped(file, plot->xLabel);
    fputs("</text>\n</g>\n", file);

    step = niceStep(f->yMax - f->yMin, 8);
    decimals = decimalsForStep(step);
    fputs("<g font-family=\"sans-serif\" font-size=\"13\" fill=\"#333\" text-anchor=\"end\">\n",
          file);
    for (double y = ceil(f->yMin / step) * step; y <= f->yMax + 1e-9 * step; y += step) {
        double py = toPixelY(f, y);
        fprintf(file, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#333\"/>\n",
                f->left - 6, py, f->left, py);
        fprintf(file, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\" "
                      "stroke-width=\"0.5\"/>\n",
                f->left, py, f->right, py);
        fprintf(file, "<text x=\"%.1f\" y=\"%.1f\">%.*f</text>\n", f->left - 9, py + 4.5,
                decimals, fabs(y) < 1e-12 * step ? 0.0 : y);
    }
    fputs("</g>\n", file);
    double cy = 0.5 * (f->top + f->bottom);
    fprintf(file, "<text x=\"22\" y=\"%.1f\" font-family=\"sans-serif\" font-size=\"15\" "
                  "fill=\"#333\" text-anchor=\"middle\" transform=\"rotate(-90 22 %.1f)\">",
            cy, cy);
    writeEscaped(file, plot->yLabel);
    fputs("</text>\n", file);
}

static void emitPoint(FILE *file, const Frame *f, double x, double y, bool *startPath) {
    fprintf(file, "%s%.2f,%.2f", *startPath ? "M" : "L", toPixelX(f, x), toPixelY(f, y));
    *startPath = false;
}

/* One pixel column's points: first, lowest, highest, last, in index order. */
static void flushColumn(FILE *file, const Frame *f, const SvgSeries *s, const int index[4],
                        bool *startPath) {
    int order[4] = {index[0], index[1], index[2], index[3]};
    for (int i = 1; i < 4; i++) {
        for (int j = i; j > 0 && order[j] < order[j - 1]; j--) {
            int t = order[j];
            order[j] = order[j - 1];
            order[j - 1] = t;
        }
    }
    for (int i = 0; i < 4; i++) {
        if (i > 0 && order[i] == order[i - 1]) continue;
        emitPoint(file, f, s->x[order[i]], s->y[order[i]] + s->offset, startPath);
    }
}

/* A curve as one path; a point whose y is not finite (NaN) breaks it, so a
 * series can hold several separate pieces. */
static void writeLine(FILE *file, const Frame *f, const SvgSeries *s) {
    fprintf(file, "<path fill=\"none\" stroke=\"%s\" stroke-width=\"%.2f\" "
                  "stroke-linejoin=\"round\" d=\"",
            s->colour, s->lineWidth > 0 ? s->lineWidth : 1.0);
    bool startPath = true;
    int column = -1, index[4] = {0, 0, 0, 0};
    for (int i = 0; i < s->count; i++) {
        if (s->x[i] < f->xMin || s->x[i] > f->xMax) continue;
        if (!isfinite(s->y[i])) {
            if (column >= 0) flushColumn(file, f, s, index, &startPath);
            column = -1;
            startPath = true;
            continue;
        }
        int c = (int)floor(toPixelX(f, s->x[i]) * 2.0); /* half-pixel columns */
        if (c != column) {
            if (column >= 0) flushColumn(file, f, s, index, &startPath);
            column = c;
            index[0] = index[1] = index[2] = index[3] = i;
        } else {
            if (s->y[i] < s->y[index[1]]) index[1] = i;
            if (s->y[i] > s->y[index[2]]) index[2] = i;
            index[3] = i;
        }
    }
    if (column >= 0) flushColumn(file, f, s, index, &startPath);
    fputs("\"/>\n", file);
}

static void writeMarkers(FILE *file, const Frame *f, const SvgSeries *s) {
    fprintf(file, "<path fill=\"none\" stroke=\"%s\" stroke-width=\"%.2f\" d=\"", s->colour,
            s->lineWidth > 0 ? s->lineWidth : 1.0);
    for (int i = 0; i < s->count; i++) {
        if (s->x[i] < f->xMin || s->x[i] > f->xMax || !isfinite(s->y[i])) continue;
        double px = toPixelX(f, s->x[i]), py = toPixelY(f, s->y[i] + s->offset);
        fprintf(file, "M%.1f %.1fh3M%.1f %.1fv3", px - 1.5, py, px, py - 1.5);
    }
    fputs("\"/>\n", file);
}

static void writeLegend(FILE *file, const SvgPlot *plot, const Frame *f) {
    int entries = 0;
    for (int s = 0; s < plot->seriesCount; s++) entries += plot->series[s].label != NULL;
    for (int r = 0; r < plot->tickRowCount; r++) entries += plot->tickRows[r].label != NULL;
    if (entries == 0) return;
    double width = 220, height = 10 + 20.0 * entries;
    double x = f->right - width - 10, y = f->top + 10;
    fprintf(file, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"white\" "
                  "fill-opacity=\"0.85\" stroke=\"#bbb\"/>\n",
            x, y, width, height);
    fputs("<g font-family=\"sans-serif\" font-size=\"13\" fill=\"#333\">\n", file);
    double row = y + 20;
    for (int s = 0; s < plot->seriesCount; s++) {
        const SvgSeries *series = &plot->series[s];
        if (series->label == NULL) continue;
        if (series->markers) {
            fprintf(file, "<path stroke=\"%s\" d=\"M%.1f %.1fh6M%.1f %.1fv6\"/>\n",
                    series->colour, x + 19, row - 4, x + 22, row - 7);
        } else {
            fprintf(file, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
                          "stroke-width=\"2\"/>\n",
                    x + 10, row - 4, x + 34, row - 4, series->colour);
        }
        fprintf(file, "<text x=\"%.1f\" y=\"%.1f\">", x + 44, row);
        writeEscaped(file, series->label);
        fputs("</text>\n", file);
        row += 20;
    }
    for (int r = 0; r < plot->tickRowCount; r++) {
        const SvgTickRow *ticks = &plot->tickRows[r];
        if (ticks->label == NULL) continue;
        fprintf(file, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
                      "stroke-width=\"1.5\"/>\n",
                x + 22, row - 11, x + 22, row + 1, ticks->colour);
        fprintf(file, "<text x=\"%.1f\" y=\"%.1f\">", x + 44, row);
        writeEscaped(file, ticks->label);
        fputs("</text>\n", file);
        row += 20;
    }
    fputs("</g>\n", file);
}

bool writeSvgPlot(const char *path, const SvgPlot *plot) {
    FILE *file = fopen(path, "w");
    if (file == NULL) {
        fprintf(stderr, "cannot write %s: %s\n", path, strerror(errno));
        return false;
    }
    double axisBottom = PLOT_HEIGHT - MARGIN_BOTTOM;
    Frame f = {MARGIN_LEFT, PLOT_WIDTH - MARGIN_RIGHT, MARGIN_TOP,
               axisBottom - TICK_ROW_HEIGHT * plot->tickRowCount - 4,
               plot->xMin, plot->xMax, 0.0, 1.0};
    findYRange(plot, &f.yMin, &f.yMax);

    fprintf(file, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                  "viewBox=\"0 0 %d %d\">\n"
                  "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
            PLOT_WIDTH, PLOT_HEIGHT, PLOT_WIDTH, PLOT_HEIGHT);
    fputs("<text x=\"96\" y=\"28\" font-family=\"sans-serif\" font-size=\"18\" "
          "font-weight=\"bold\" fill=\"#222\">",
          file);
    writeEscaped(file, plot->title);
    fputs("</text>\n", file);
    if (plot->subtitle != NULL) {
        fputs("<text x=\"96\" y=\"48\" font-family=\"sans-serif\" font-size=\"13\" "
              "fill=\"#555\">",
              file);
        writeEscaped(file, plot->subtitle);
        fputs("</text>\n", file);
    }
    writeAxes(file, plot, &f, axisBottom);

    fprintf(file, "<clipPath id=\"data\"><rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
                  "height=\"%.1f\"/></clipPath>\n<g clip-path=\"url(#data)\">\n",
            f.left, f.top, f.right - f.left, f.bottom - f.top);
    for (int s = 0; s < plot->seriesCount; s++) {
        if (plot->series[s].markers) {
            writeMarkers(file, &f, &plot->series[s]);
        } else {
            writeLine(file, &f, &plot->series[s]);
        }
    }
    fputs("</g>\n", file);

    for (int r = 0; r < plot->tickRowCount; r++) {
        const SvgTickRow *ticks = &plot->tickRows[r];
        double top = f.bottom + 4 + TICK_ROW_HEIGHT * r + 3;
        fprintf(file, "<path stroke=\"%s\" stroke-width=\"1.2\" d=\"", ticks->colour);
        for (int i = 0; i < ticks->count; i++) {
            if (ticks->x[i] < f.xMin || ticks->x[i] > f.xMax) continue;
            fprintf(file, "M%.1f %.1fv%d", toPixelX(&f, ticks->x[i]), top, TICK_ROW_HEIGHT - 6);
        }
        fputs("\"/>\n", file);
    }
    writeLegend(file, plot, &f);
    fputs("</svg>\n", file);
    if (fclose(file) != 0) {
        fprintf(stderr, "cannot finish %s\n", path);
        return false;
    }
    return true;
}
