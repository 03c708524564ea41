/* A small SVG writer for powder patterns: curves over a common x axis, rows of
 * reflexion ticks under them, labelled axes and a legend. The files open in
 * any browser. */
#ifndef EXAMPLES_SVG_PLOT_H
#define EXAMPLES_SVG_PLOT_H

#include <stdbool.h>

#define SVG_MAX_SERIES 8
#define SVG_MAX_TICK_ROWS 3

typedef struct SvgSeries {
    const double *x;
    const double *y;
    int count;
    const char *label;  /* legend text */
    const char *colour; /* any SVG colour */
    double offset;      /* added to every y (to move a difference curve down) */
    double lineWidth;   /* pixels */
    bool markers;       /* small crosses at the points instead of a line */
} SvgSeries;

typedef struct SvgTickRow {
    const double *x; /* positions on the x axis */
    int count;
    const char *label;
    const char *colour;
} SvgTickRow;

typedef struct SvgPlot {
    const char *title;
    const char *subtitle;
    const char *xLabel;
    const char *yLabel;
    double xMin, xMax; /* the x range shown */
    int seriesCount;
    SvgSeries series[SVG_MAX_SERIES];
    int tickRowCount;
    SvgTickRow tickRows[SVG_MAX_TICK_ROWS];
} SvgPlot;

/* Writes the plot to `path`; false (with a message) when the file cannot be
 * written. */
bool writeSvgPlot(const char *path, const SvgPlot *plot);

#endif
