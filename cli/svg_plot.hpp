// Plots as SVG images: a calculated pattern (the pattern, each phase's
// reflexion positions as a row of tick marks under it, and a legend), and the
// fit of a refinement (observed points, calculated curve and background, the
// tick rows, and the difference curve in a panel of its own below), one such
// panel per measured pattern.
#ifndef POWDERKIT_CLI_SVG_PLOT_HPP
#define POWDERKIT_CLI_SVG_PLOT_HPP

#include <string>
#include <vector>

namespace powderkit::cli {

struct PlotPhase {
    std::string name;
    std::vector<double> y;          // this phase alone at the pattern's x; may be empty
    std::vector<double> positions;  // reflexion positions, in the units of the plot's x
};

struct PlotData {
    std::string title;
    std::string x_label = "2θ (°)";
    std::vector<double> x;          // ascending
    std::vector<double> total;      // the whole pattern at x
    std::vector<PlotPhase> phases;
};

// The whole SVG document.
std::string svgPlot(const PlotData &data);

// One measured pattern's fit.
struct FitPlotData {
    std::string title;              // the panel's own heading; empty: none
    std::string x_label = "2θ (°)"; // or "TOF (µs)"
    std::vector<double> x;          // ascending
    std::vector<double> observed, calculated, background, difference;  // at x
    std::vector<PlotPhase> phases;  // names, reflexion positions, each one's share of the calculated curve
    std::vector<double> excluded;   // FROM TO pairs left out of the fit, shaded
};

// The fits of a refinement under `title`, one panel each, stacked from the top.
std::string svgFitPlot(const std::string &title, const std::vector<FitPlotData> &panels);

}  // namespace powderkit::cli

#endif
