// The SVG writers of `powderkit pattern --output` and `powderkit refine
// --output`. Both draw a frame with ticked and labelled axes (2θ or TOF below,
// intensity on the left), curves as polylines, one row of tick marks per
// phase at its reflexion positions, and a legend on a pale ground. The fit
// plot adds the observed points, the background, and the difference curve
// with its zero line in a panel of its own under the tick rows; a joint
// refinement stacks one such fit per measured pattern, each on its own axis.
// Long patterns are thinned to the lowest and highest point of every pixel
// column, which draws the same picture with a few thousand points.
#include "svg_plot.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace powderkit::cli {

namespace {

const char *const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                "#ff7f0e", "#8c564b", "#e377c2", "#17becf"};
constexpr size_t kColourCount = sizeof kColours / sizeof kColours[0];

// The page, in pixels.
constexpr double kWidth = 960.0;
constexpr double kLeft = 90.0;
constexpr double kRight = 940.0;   // the frame's sides
constexpr double kTop = 40.0;
constexpr double kPatternHeight = 360.0;
constexpr double kDifferenceHeight = 120.0;
constexpr double kTickRow = 16.0;
constexpr double kTickLength = 11.0;
constexpr double kPanelHeading = 22.0;   // a panel's own heading, above its frame
constexpr double kPanelGap = 16.0;       // between stacked panels

// The fit plot's own colours (the phases keep kColours).
const char *const kCalculatedColour = "#d62728";
const char *const kBackgroundColour = "#2ca02c";
const char *const kDifferenceColour = "#1f77b4";
constexpr size_t kFitFirstColour = 3;   // the phases' ticks after those three

std::string escapeXml(const std::string &text) {
    std::string escaped;
    for (char c : text) {
        const char *entity = c == '&'   ? "&amp;"
                             : c == '<' ? "&lt;"
                             : c == '>' ? "&gt;"
                             : c == '"' ? "&quot;"
                                        : nullptr;
        if (entity == nullptr) {
            escaped += c;
        } else {
            escaped += entity;
        }
    }
    return escaped;
}

std::string pixels(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string label(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", std::fabs(value) < 1e-12 ? 0.0 : value);
    return text;
}

// A step of 1, 2 or 5 times a power of ten giving about `wanted` ticks.
double tickStep(double span, double wanted) {
    const double raw = span / wanted;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / power;
    const double nice = fraction <= 1.5 ? 1.0 : fraction <= 3.0 ? 2.0 : fraction <= 7.0 ? 5.0 : 10.0;
    return nice * power;
}

// The tick values from `low` to `high` (at most a few dozen).
std::vector<double> ticks(double low, double high, double wanted) {
    std::vector<double> values;
    const double step = tickStep(high - low, wanted);
    if (!std::isfinite(step) || !(step > 0.0)) return values;
    const double first = std::ceil(low / step - 1e-9);
    for (int k = 0; k < 50; ++k) {
        const double value = (first + k) * step;
        if (value > high + 1e-9 * step) break;
        values.push_back(value);
    }
    return values;
}

// Maps data coordinates into a panel whose lowest pixel row is `bottom`.
struct Scale {
    double x_min = 0.0;
    double x_max = 1.0;
    double y_min = 0.0;
    double y_max = 1.0;
    double bottom = 0.0;
    double height = kPatternHeight;
    double px(double x) const { return kLeft + (x - x_min) / (x_max - x_min) * (kRight - kLeft); }
    double py(double y) const { return bottom - (y - y_min) / (y_max - y_min) * height; }
};

// The x span of `x`, never empty.
void setXSpan(Scale &scale, const std::vector<double> &x) {
    if (!x.empty()) {
        scale.x_min = x.front();
        scale.x_max = x.back();
    }
    if (!(scale.x_max > scale.x_min)) scale.x_max = scale.x_min + 1.0;
}

// Widens the y span to the finite values of `y`.
void includeY(Scale &scale, const std::vector<double> &y) {
    for (double value : y) {
        if (std::isfinite(value)) {
            scale.y_min = std::min(scale.y_min, value);
            scale.y_max = std::max(scale.y_max, value);
        }
    }
}

// A span never empty, with 5 % headroom above.
void finishYSpan(Scale &scale) {
    if (!(scale.y_max > scale.y_min)) scale.y_max = scale.y_min + 1.0;
    scale.y_max += 0.05 * (scale.y_max - scale.y_min);
}

// The indices drawn of a curve: all of them, or each pixel column's lowest
// and highest value (in their order) when there are many more points than pixels.
std::vector<size_t> drawnPoints(const std::vector<double> &x, const std::vector<double> &y,
                                const Scale &scale) {
    std::vector<size_t> drawn;
    const size_t n = std::min(x.size(), y.size());
    if (n <= 4 * static_cast<size_t>(kRight - kLeft)) {
        for (size_t i = 0; i < n; ++i) drawn.push_back(i);
        return drawn;
    }
    size_t start = 0;
    while (start < n) {
        const long column = std::lround(scale.px(x[start]));
        size_t end = start;
        size_t low = start;
        size_t high = start;
        while (end < n && std::lround(scale.px(x[end])) == column) {
            if (y[end] < y[low]) low = end;
            if (y[end] > y[high]) high = end;
            ++end;
        }
        drawn.push_back(std::min(low, high));
        if (low != high) drawn.push_back(std::max(low, high));
        start = end;
    }
    return drawn;
}

std::string polyline(const std::vector<double> &x, const std::vector<double> &y, const Scale &scale,
                     const std::string &style) {
    std::string points;
    for (size_t i : drawnPoints(x, y, scale)) {
        points += pixels(scale.px(x[i])) + ',' + pixels(scale.py(y[i])) + ' ';
    }
    return "<polyline fill=\"none\" " + style + " points=\"" + points + "\"/>\n";
}

// Each point as a dot: a zero-length segment with round caps.
std::string dots(const std::vector<double> &x, const std::vector<double> &y, const Scale &scale) {
    std::string path;
    for (size_t i : drawnPoints(x, y, scale)) {
        path += 'M' + pixels(scale.px(x[i])) + ',' + pixels(scale.py(y[i])) + "h0";
    }
    return "<path fill=\"none\" stroke=\"black\" stroke-width=\"2.4\" stroke-linecap=\"round\" d=\"" +
           path + "\"/>\n";
}

std::string documentStart(double height, const std::string &title) {
    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + pixels(kWidth) + "\" height=\"" +
           pixels(height) + "\" viewBox=\"0 0 " + pixels(kWidth) + ' ' + pixels(height) +
           "\" font-family=\"sans-serif\" font-size=\"13\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + pixels((kLeft + kRight) / 2) + "\" y=\"24\" text-anchor=\"middle\">" +
           escapeXml(title) + "</text>\n";
    return svg;
}

// The frame from `top` down to the x axis at `axis_y`, with its ticks and `x_label`.
std::string frameAndXAxis(const Scale &scale, double top, double axis_y, const std::string &x_label) {
    std::string svg;
    svg += "<rect x=\"" + pixels(kLeft) + "\" y=\"" + pixels(top) + "\" width=\"" +
           pixels(kRight - kLeft) + "\" height=\"" + pixels(axis_y - top) +
           "\" fill=\"none\" stroke=\"black\"/>\n";
    for (double t : ticks(scale.x_min, scale.x_max, 8.0)) {
        const double px = scale.px(t);
        svg += "<line x1=\"" + pixels(px) + "\" y1=\"" + pixels(axis_y) + "\" x2=\"" + pixels(px) +
               "\" y2=\"" + pixels(axis_y + 6) + "\" stroke=\"black\"/>\n";
        svg += "<text x=\"" + pixels(px) + "\" y=\"" + pixels(axis_y + 21) +
               "\" text-anchor=\"middle\">" + label(t) + "</text>\n";
    }
    svg += "<text x=\"" + pixels((kLeft + kRight) / 2) + "\" y=\"" + pixels(axis_y + 46) +
           "\" text-anchor=\"middle\">" + escapeXml(x_label) + "</text>\n";
    return svg;
}

// The y ticks of one panel on the frame's left side, and the panel's name.
std::string yAxis(const Scale &scale, double wanted, const std::string &name) {
    std::string svg;
    for (double t : ticks(scale.y_min, scale.y_max, wanted)) {
        const double py = scale.py(t);
        svg += "<line x1=\"" + pixels(kLeft - 6) + "\" y1=\"" + pixels(py) + "\" x2=\"" +
               pixels(kLeft) + "\" y2=\"" + pixels(py) + "\" stroke=\"black\"/>\n";
        svg += "<text x=\"" + pixels(kLeft - 9) + "\" y=\"" + pixels(py + 4) +
               "\" text-anchor=\"end\">" + label(t) + "</text>\n";
    }
    if (name.empty()) return svg;
    const std::string middle = pixels(scale.bottom - scale.height / 2);
    svg += "<text x=\"20\" y=\"" + middle + "\" text-anchor=\"middle\" transform=\"rotate(-90 20 " +
           middle + ")\">" + escapeXml(name) + "</text>\n";
    return svg;
}

// A phase's colour: kColours from `first` on.
std::string phaseColour(size_t phase, size_t first) {
    return kColours[(phase + first) % kColourCount];
}

// One row of reflexion ticks per phase, the first row's top at `top`.
std::string tickRows(const std::vector<PlotPhase> &phases, const Scale &scale, double top,
                     size_t first_colour) {
    std::string svg;
    for (size_t p = 0; p < phases.size(); ++p) {
        const double row_top = top + kTickRow * static_cast<double>(p);
        svg += "<g stroke=\"" + phaseColour(p, first_colour) + "\" stroke-width=\"1\">\n";
        for (double position : phases[p].positions) {
            if (position < scale.x_min || position > scale.x_max) continue;
            const double px = scale.px(position);
            svg += "<line x1=\"" + pixels(px) + "\" y1=\"" + pixels(row_top) + "\" x2=\"" + pixels(px) +
                   "\" y2=\"" + pixels(row_top + kTickLength) + "\"/>\n";
        }
        svg += "</g>\n";
    }
    return svg;
}

struct LegendEntry {
    std::string name;
    std::string colour;
    bool dot;    // a dot rather than a line segment
};

// The legend in the top right corner of a frame whose top is `top`.
std::string legend(const std::vector<LegendEntry> &entries, double top) {
    if (entries.empty()) return "";
    std::string svg = "<rect x=\"" + pixels(kRight - 198) + "\" y=\"" + pixels(top + 4) +
                      "\" width=\"192\" height=\"" +
                      pixels(18.0 * static_cast<double>(entries.size()) + 8.0) +
                      "\" fill=\"white\" fill-opacity=\"0.85\" stroke=\"#999999\"/>\n";
    for (size_t k = 0; k < entries.size(); ++k) {
        const double y = top + 18.0 + 18.0 * static_cast<double>(k);
        const LegendEntry &entry = entries[k];
        if (entry.dot) {
            svg += "<circle cx=\"" + pixels(kRight - 178) + "\" cy=\"" + pixels(y - 4) +
                   "\" r=\"2\" fill=\"" + entry.colour + "\"/>\n";
        } else {
            svg += "<line x1=\"" + pixels(kRight - 190) + "\" y1=\"" + pixels(y - 4) + "\" x2=\"" +
                   pixels(kRight - 166) + "\" y2=\"" + pixels(y - 4) + "\" stroke=\"" + entry.colour +
                   "\" stroke-width=\"3\"/>\n";
        }
        svg += "<text x=\"" + pixels(kRight - 160) + "\" y=\"" + pixels(y) + "\">" +
               escapeXml(entry.name) + "</text>\n";
    }
    return svg;
}

std::vector<LegendEntry> phaseEntries(const std::vector<PlotPhase> &phases, size_t first_colour) {
    std::vector<LegendEntry> entries;
    for (size_t p = 0; p < phases.size(); ++p) {
        entries.push_back({phases[p].name, phaseColour(p, first_colour), false});
    }
    return entries;
}

// One fit's panel, its frame from `top` down; `bottom` receives the lowest
// pixel row it draws on (below the x axis' label).
std::string fitPanel(const FitPlotData &data, double top, double &bottom) {
    const size_t rows = data.phases.size();
    const double pattern_bottom = top + kPatternHeight;
    const double ticks_bottom = pattern_bottom + 8.0 + kTickRow * static_cast<double>(rows);
    const double axis_y = ticks_bottom + kDifferenceHeight;

    Scale scale;
    scale.bottom = pattern_bottom;
    setXSpan(scale, data.x);
    scale.y_min = INFINITY;
    scale.y_max = -INFINITY;
    includeY(scale, data.observed);
    includeY(scale, data.calculated);
    includeY(scale, data.background);
    if (!std::isfinite(scale.y_min)) scale.y_min = 0.0;
    if (!std::isfinite(scale.y_max)) scale.y_max = 1.0;
    scale.y_min -= 0.03 * (scale.y_max - scale.y_min);
    finishYSpan(scale);

    // The difference panel: symmetric about zero, a little above the largest misfit.
    Scale below = scale;
    below.bottom = axis_y - 6.0;
    below.height = kDifferenceHeight - 12.0;
    double largest = 0.0;
    for (double value : data.difference) {
        if (std::isfinite(value)) largest = std::max(largest, std::fabs(value));
    }
    below.y_max = largest > 0.0 ? 1.1 * largest : 1.0;
    below.y_min = -below.y_max;

    bottom = axis_y + 60.0;
    std::string svg;
    for (size_t k = 0; k + 1 < data.excluded.size(); k += 2) {
        const double from = std::max(data.excluded[k], scale.x_min);
        const double to = std::min(data.excluded[k + 1], scale.x_max);
        if (!(to > from)) continue;
        svg += "<rect x=\"" + pixels(scale.px(from)) + "\" y=\"" + pixels(top) + "\" width=\"" +
               pixels(scale.px(to) - scale.px(from)) + "\" height=\"" + pixels(axis_y - top) +
               "\" fill=\"#e8e8e8\"/>\n";
    }
    svg += frameAndXAxis(scale, top, axis_y, data.x_label);
    svg += yAxis(scale, 6.0, "intensity (counts)");
    svg += yAxis(below, 4.0, "difference");
    svg += "<line x1=\"" + pixels(kLeft) + "\" y1=\"" + pixels(ticks_bottom) + "\" x2=\"" + pixels(kRight) +
           "\" y2=\"" + pixels(ticks_bottom) + "\" stroke=\"#999999\"/>\n";
    svg += "<line x1=\"" + pixels(kLeft) + "\" y1=\"" + pixels(below.py(0.0)) + "\" x2=\"" +
           pixels(kRight) + "\" y2=\"" + pixels(below.py(0.0)) +
           "\" stroke=\"#666666\" stroke-dasharray=\"4 3\"/>\n";

    svg += dots(data.x, data.observed, scale);
    svg += polyline(data.x, data.background, scale,
                    "stroke=\"" + std::string(kBackgroundColour) + "\" stroke-width=\"1\"");
    svg += polyline(data.x, data.calculated, scale,
                    "stroke=\"" + std::string(kCalculatedColour) + "\" stroke-width=\"1\"");
    // Each phase's own share, in its legend colour, when there are several.
    for (size_t p = 0; rows > 1 && p < rows; ++p) {
        if (data.phases[p].y.empty()) continue;
        svg += polyline(data.x, data.phases[p].y, scale,
                        "stroke=\"" + phaseColour(p, kFitFirstColour) + "\" stroke-width=\"0.8\" stroke-opacity=\"0.8\"");
    }
    svg += polyline(data.x, data.difference, below,
                    "stroke=\"" + std::string(kDifferenceColour) + "\" stroke-width=\"0.8\"");
    svg += tickRows(data.phases, scale, pattern_bottom + 6.0, kFitFirstColour);

    std::vector<LegendEntry> entries{{"observed", "black", true},
                                     {"calculated", kCalculatedColour, false},
                                     {"background", kBackgroundColour, false},
                                     {"difference", kDifferenceColour, false}};
    for (const LegendEntry &entry : phaseEntries(data.phases, kFitFirstColour)) entries.push_back(entry);
    svg += legend(entries, top);
    return svg;
}

}  // namespace

std::string svgPlot(const PlotData &data) {
    const size_t rows = data.phases.size();
    const double pattern_bottom = kTop + kPatternHeight;
    const double axis_y = pattern_bottom + 8.0 + kTickRow * static_cast<double>(rows);

    Scale scale;
    scale.bottom = pattern_bottom;
    setXSpan(scale, data.x);
    includeY(scale, data.total);
    finishYSpan(scale);

    std::string svg = documentStart(axis_y + 60.0, data.title);
    svg += frameAndXAxis(scale, kTop, axis_y, data.x_label);
    svg += yAxis(scale, 6.0, "intensity (counts)");
    // The curves: each phase alone when there are several, then the total.
    for (size_t p = 0; rows > 1 && p < rows; ++p) {
        if (data.phases[p].y.empty()) continue;
        svg += polyline(data.x, data.phases[p].y, scale,
                        "stroke=\"" + phaseColour(p, 0) +
                            "\" stroke-width=\"0.8\" stroke-opacity=\"0.8\"");
    }
    svg += polyline(data.x, data.total, scale, "stroke=\"black\" stroke-width=\"1\"");
    svg += tickRows(data.phases, scale, pattern_bottom + 6.0, 0);
    svg += legend(phaseEntries(data.phases, 0), kTop);
    svg += "</svg>\n";
    return svg;
}

std::string svgFitPlot(const std::string &title, const std::vector<FitPlotData> &panels) {
    std::string body;
    double top = kTop;
    for (const FitPlotData &panel : panels) {
        body += "<g class=\"panel\">\n";
        if (!panel.title.empty()) {
            body += "<text x=\"" + pixels(kLeft) + "\" y=\"" + pixels(top + 12.0) + "\" font-weight=\"bold\">" +
                    escapeXml(panel.title) + "</text>\n";
            top += kPanelHeading;
        }
        double bottom = top;
        body += fitPanel(panel, top, bottom);
        body += "</g>\n";
        top = bottom + kPanelGap;
    }
    return documentStart(top - kPanelGap, title) + body + "</svg>\n";
}

}  // namespace powderkit::cli
