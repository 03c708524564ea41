// The SVG writer of `powderkit pattern --output`: a frame with ticked and
// labelled axes (2θ below, intensity on the left), the whole pattern as a
// black polyline (and each phase's own curve in its colour when there are
// several), one row of tick marks per phase under the pattern at its
// reflexion positions, and a legend naming the phases in their colours.
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
constexpr double kLeft = 90.0, kRight = 940.0;   // the frame's sides
constexpr double kTop = 40.0, kPatternHeight = 360.0;
constexpr double kTickRow = 16.0, kTickLength = 11.0;

std::string escapeXml(const std::string &text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
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

// Maps data coordinates into the pattern area.
struct Scale {
    double x_min, x_max, y_min, y_max, bottom;
    double px(double x) const { return kLeft + (x - x_min) / (x_max - x_min) * (kRight - kLeft); }
    double py(double y) const {
        return bottom - (y - y_min) / (y_max - y_min) * kPatternHeight;
    }
};

// The points of a polyline, thinned to each pixel column's lowest and
// highest value (in their order) when there are many more points than pixels.
std::string polylinePoints(const std::vector<double> &x, const std::vector<double> &y,
                           const Scale &scale) {
    std::string points;
    auto put = [&](size_t i) {
        points += pixels(scale.px(x[i])) + ',' + pixels(scale.py(y[i])) + ' ';
    };
    const size_t n = std::min(x.size(), y.size());
    if (n <= 4 * static_cast<size_t>(kRight - kLeft)) {
        for (size_t i = 0; i < n; ++i) put(i);
        return points;
    }
    size_t start = 0;
    while (start < n) {
        const long column = std::lround(scale.px(x[start]));
        size_t end = start, low = start, high = start;
        while (end < n && std::lround(scale.px(x[end])) == column) {
            if (y[end] < y[low]) low = end;
            if (y[end] > y[high]) high = end;
            ++end;
        }
        put(std::min(low, high));
        if (low != high) put(std::max(low, high));
        start = end;
    }
    return points;
}

}  // namespace

std::string svgPlot(const PlotData &data) {
    const size_t rows = data.phases.size();
    const double pattern_bottom = kTop + kPatternHeight;
    const double axis_y = pattern_bottom + 8.0 + kTickRow * static_cast<double>(rows);
    const double height = axis_y + 60.0;

    Scale scale{0.0, 1.0, 0.0, 1.0, pattern_bottom};
    if (!data.x.empty()) {
        scale.x_min = data.x.front();
        scale.x_max = data.x.back();
    }
    if (!(scale.x_max > scale.x_min)) scale.x_max = scale.x_min + 1.0;
    for (double y : data.total) {
        if (std::isfinite(y)) {
            scale.y_min = std::min(scale.y_min, y);
            scale.y_max = std::max(scale.y_max, y);
        }
    }
    if (!(scale.y_max > scale.y_min)) scale.y_max = scale.y_min + 1.0;
    scale.y_max += 0.05 * (scale.y_max - scale.y_min);

    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + pixels(kWidth) + "\" height=\"" +
           pixels(height) + "\" viewBox=\"0 0 " + pixels(kWidth) + ' ' + pixels(height) +
           "\" font-family=\"sans-serif\" font-size=\"13\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + pixels((kLeft + kRight) / 2) + "\" y=\"24\" text-anchor=\"middle\">" +
           escapeXml(data.title) + "</text>\n";

    // Frame and axes.
    svg += "<rect x=\"" + pixels(kLeft) + "\" y=\"" + pixels(kTop) + "\" width=\"" +
           pixels(kRight - kLeft) + "\" height=\"" + pixels(axis_y - kTop) +
           "\" fill=\"none\" stroke=\"black\"/>\n";
    for (double t : ticks(scale.x_min, scale.x_max, 8.0)) {
        const double px = scale.px(t);
        svg += "<line x1=\"" + pixels(px) + "\" y1=\"" + pixels(axis_y) + "\" x2=\"" + pixels(px) +
               "\" y2=\"" + pixels(axis_y + 6) + "\" stroke=\"black\"/>\n";
        svg += "<text x=\"" + pixels(px) + "\" y=\"" + pixels(axis_y + 21) +
               "\" text-anchor=\"middle\">" + label(t) + "</text>\n";
    }
    svg += "<text x=\"" + pixels((kLeft + kRight) / 2) + "\" y=\"" + pixels(axis_y + 46) +
           "\" text-anchor=\"middle\">2θ (°)</text>\n";
    for (double t : ticks(scale.y_min, scale.y_max, 6.0)) {
        const double py = scale.py(t);
        svg += "<line x1=\"" + pixels(kLeft - 6) + "\" y1=\"" + pixels(py) + "\" x2=\"" +
               pixels(kLeft) + "\" y2=\"" + pixels(py) + "\" stroke=\"black\"/>\n";
        svg += "<text x=\"" + pixels(kLeft - 9) + "\" y=\"" + pixels(py + 4) +
               "\" text-anchor=\"end\">" + label(t) + "</text>\n";
    }
    svg += "<text x=\"20\" y=\"" + pixels(kTop + kPatternHeight / 2) +
           "\" text-anchor=\"middle\" transform=\"rotate(-90 20 " +
           pixels(kTop + kPatternHeight / 2) + ")\">Intensity</text>\n";

    // The curves: each phase alone when there are several, then the total.
    for (size_t p = 0; rows > 1 && p < rows; ++p) {
        if (data.phases[p].y.empty()) continue;
        svg += "<polyline fill=\"none\" stroke=\"" + std::string(kColours[p % kColourCount]) +
               "\" stroke-width=\"0.8\" stroke-opacity=\"0.8\" points=\"" +
               polylinePoints(data.x, data.phases[p].y, scale) + "\"/>\n";
    }
    svg += "<polyline fill=\"none\" stroke=\"black\" stroke-width=\"1\" points=\"" +
           polylinePoints(data.x, data.total, scale) + "\"/>\n";

    // One row of reflexion ticks per phase, and the legend on a pale ground.
    if (rows > 0) {
        svg += "<rect x=\"" + pixels(kRight - 198) + "\" y=\"" + pixels(kTop + 4) +
               "\" width=\"192\" height=\"" + pixels(18.0 * static_cast<double>(rows) + 8.0) +
               "\" fill=\"white\" fill-opacity=\"0.85\" stroke=\"#999999\"/>\n";
    }
    for (size_t p = 0; p < rows; ++p) {
        const std::string colour = kColours[p % kColourCount];
        const double top = pattern_bottom + 6.0 + kTickRow * static_cast<double>(p);
        svg += "<g stroke=\"" + colour + "\" stroke-width=\"1\">\n";
        for (double position : data.phases[p].positions) {
            if (position < scale.x_min || position > scale.x_max) continue;
            const double px = scale.px(position);
            svg += "<line x1=\"" + pixels(px) + "\" y1=\"" + pixels(top) + "\" x2=\"" + pixels(px) +
                   "\" y2=\"" + pixels(top + kTickLength) + "\"/>\n";
        }
        svg += "</g>\n";
        const double legend_y = kTop + 18.0 + 18.0 * static_cast<double>(p);
        svg += "<line x1=\"" + pixels(kRight - 190) + "\" y1=\"" + pixels(legend_y - 4) +
               "\" x2=\"" + pixels(kRight - 166) + "\" y2=\"" + pixels(legend_y - 4) +
               "\" stroke=\"" + colour + "\" stroke-width=\"3\"/>\n";
        svg += "<text x=\"" + pixels(kRight - 160) + "\" y=\"" + pixels(legend_y) + "\">" +
               escapeXml(data.phases[p].name) + "</text>\n";
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace powderkit::cli
