// Raw-pattern analysis on a pattern of 100,000 points (peak location and
// background estimation) and the fit of one peak.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "powderkit.h"

namespace {

// Pseudo-Voigt peaks every 0.5° on a slowly varying background, 0.001° steps,
// with counting noise from a fixed seed.
std::vector<PatternPoint> makeRawPattern(int count) {
    const double pi = std::acos(-1.0);
    std::mt19937_64 generator(17u);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<PatternPoint> points(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double x = 10.0 + 0.001 * i;
        double y = 200.0 + 50.0 * std::sin(x / 15.0);
        const double centre = std::floor(x * 2.0) / 2.0 + 0.25;
        const double delta = x - centre;
        const double fwhm = 0.02;
        const double lorentzian = fwhm / (2.0 * pi * (delta * delta + fwhm * fwhm / 4.0));
        const double gaussian = std::sqrt(std::log(2.0) / pi) * (2.0 / fwhm) *
                                std::exp(-4.0 * std::log(2.0) * delta * delta / (fwhm * fwhm));
        y += (20.0 + 10.0 * std::fmod(centre, 3.0)) * (0.5 * lorentzian + 0.5 * gaussian);
        points[static_cast<std::size_t>(i)] = {x, y + std::sqrt(y) * normal(generator)};
    }
    return points;
}

void BM_LocatePeakRanges(benchmark::State &state) {
    auto points = makeRawPattern(100000);
    for (auto _ : state) {
        int32_t found = 0;
        PeakRange *ranges = locatePeakRanges(points.data(), 100000, 50, &found);
        benchmark::DoNotOptimize(ranges);
        std::free(ranges);
    }
}
BENCHMARK(BM_LocatePeakRanges)->Unit(benchmark::kMicrosecond);

void BM_FittedBackground(benchmark::State &state) {
    auto points = makeRawPattern(100000);
    for (auto _ : state) {
        PatternPoint *background = fittedBackground(points.data(), 100000);
        benchmark::DoNotOptimize(background);
        std::free(background);
    }
}
BENCHMARK(BM_FittedBackground)->Unit(benchmark::kMicrosecond);

void BM_PseudoVoigtFit(benchmark::State &state) {
    auto points = makeRawPattern(100000);
    int32_t found = 0;
    PeakRange *ranges = locatePeakRanges(points.data(), 100000, 1, &found);
    if (ranges == nullptr) {
        state.SkipWithError("no peak found");
        return;
    }
    for (auto _ : state) {
        PeakRange range = ranges[0];
        Matrix *fit = pseudoVoigtFit(&range);
        benchmark::DoNotOptimize(fit);
        freeMatrix(fit);
    }
    std::free(ranges);
}
BENCHMARK(BM_PseudoVoigtFit)->Unit(benchmark::kMicrosecond);

}  // namespace
