// Synthetic raw patterns built from known truth for the analysis tests. The
// peak shape is written here independently of the library: the Gaussian from
// its standard deviation σ = Γ/(2√(2 ln 2)) and the Lorentzian from its half
// width γ = Γ/2.
#ifndef PK_TEST_SYNTHETIC_PATTERN_HPP
#define PK_TEST_SYNTHETIC_PATTERN_HPP

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "powderkit.h"

namespace pk_test {

struct Peak {
    double position, area, fwhm, eta;
};

inline double peakValue(const Peak &peak, double x) {
    const double pi = std::acos(-1.0);
    const double delta = x - peak.position;
    const double sigma = peak.fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
    const double gaussian = std::exp(-delta * delta / (2.0 * sigma * sigma)) / (sigma * std::sqrt(2.0 * pi));
    const double gamma = peak.fwhm / 2.0;
    const double lorentzian = gamma / (pi * (delta * delta + gamma * gamma));
    return peak.area * (peak.eta * lorentzian + (1.0 - peak.eta) * gaussian);
}

// Points x = first, first + step, … with y = background(x) + Σ peaks.
inline std::vector<PatternPoint> makePattern(double first, double step, int count,
                                             const std::vector<Peak> &peaks,
                                             const std::function<double(double)> &background) {
    std::vector<PatternPoint> points(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double x = first + step * i;
        double y = background(x);
        for (const Peak &peak : peaks) y += peakValue(peak, x);
        points[static_cast<std::size_t>(i)] = {x, y};
    }
    return points;
}

// Counting noise: each y moves by √y times a standard normal deviate.
inline void addCountingNoise(std::vector<PatternPoint> &points, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (PatternPoint &point : points) point.y += std::sqrt(point.y) * normal(generator);
}

}  // namespace pk_test

#endif
