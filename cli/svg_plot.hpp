// The plot of a calculated pattern as an SVG image: the pattern, each
// phase's reflexion positions as a row of tick marks under it, and a legend.
#ifndef POWDERKIT_CLI_SVG_PLOT_HPP
#define POWDERKIT_CLI_SVG_PLOT_HPP

#include <string>
#include <vector>

namespace powderkit::cli {

struct PlotPhase {
    std::string name;
    std::vector<double> y;          // this phase alone at the pattern's x; may be empty
    std::vector<double> positions;  // reflexion positions, degrees 2θ
};

struct PlotData {
    std::string title;
    std::vector<double> x;          // degrees 2θ, ascending
    std::vector<double> total;      // the whole pattern at x
    std::vector<PlotPhase> phases;
};

// The whole SVG document.
std::string svgPlot(const PlotData &data);

}  // namespace powderkit::cli

#endif
