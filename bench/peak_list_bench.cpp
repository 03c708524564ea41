// The peak list of a measured pattern (pk_find_peaks) at 50,000, 500,000 and
// 5,000,000 points, Poisson counting noise from a fixed seed, two kinds:
//  - BM_PeakList: a pseudo-Voigt line (FWHM 40 steps) every 2,000 steps on a
//    slowly varying background of about 200 counts: the lines grow with the
//    points;
//  - BM_PeakListFiner: the same 100 lines (FWHM 0.05°) over 2θ 5°–85°, measured
//    in ever finer steps: each line spans more points (3,125 FWHM at 5 million),
//    with ever more maxima of the noise on it.
// A search linear in the points takes ten times as long for ten times the
// points. Making the pattern is outside the timing.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "powderkit_phase.h"

namespace {

constexpr double kStep = 0.001;  // degrees
constexpr int kLineEvery = 2000;
constexpr double kFwhm = 40 * kStep;

// 100 lines of FWHM 0.05° over 2θ 5° … 85° in `count` points.
pk_measured_pattern *makeFinerPattern(int32_t count) {
    std::mt19937_64 generator(29u);
    const double step = 80.0 / (count - 1);
    std::vector<double> x(static_cast<std::size_t>(count)), y(x.size());
    for (int32_t i = 0; i < count; ++i) {
        const double xi = 5.0 + step * i;
        const double centre = 5.0 + 0.8 * (std::floor((xi - 5.0) / 0.8) + 0.5);
        const double t = (xi - centre) / 0.05;
        const double shape = 0.5 / (1.0 + 4.0 * t * t) + 0.5 * std::exp(-4.0 * std::log(2.0) * t * t);
        std::poisson_distribution<int> counts(150.0 + 0.5 * xi + (400.0 + 300.0 * std::sin(centre)) * shape);
        x[static_cast<std::size_t>(i)] = xi;
        y[static_cast<std::size_t>(i)] = counts(generator);
    }
    pk_measured_pattern *pattern = nullptr;
    pk_measured_pattern_make(x.data(), y.data(), nullptr, count, &pattern, nullptr);
    return pattern;
}

pk_measured_pattern *makePattern(int32_t count) {
    const double pi = std::acos(-1.0);
    std::mt19937_64 generator(23u);
    std::vector<double> x(static_cast<std::size_t>(count)), y(x.size());
    for (int32_t i = 0; i < count; ++i) {
        const double xi = 5.0 + kStep * i;
        const int line = i / kLineEvery;
        const double centre = 5.0 + kStep * (line * kLineEvery + kLineEvery / 2);
        const double t = (xi - centre) / kFwhm;
        const double shape = 0.5 / (1.0 + 4.0 * t * t) + 0.5 * std::exp(-4.0 * std::log(2.0) * t * t);
        const double height = 300.0 + 200.0 * std::sin(0.7 * line);
        const double mean = 200.0 + 40.0 * std::sin(2.0 * pi * i / count) + height * shape;
        std::poisson_distribution<int> counts(mean);
        x[static_cast<std::size_t>(i)] = xi;
        y[static_cast<std::size_t>(i)] = counts(generator);
    }
    pk_measured_pattern *pattern = nullptr;
    pk_measured_pattern_make(x.data(), y.data(), nullptr, count, &pattern, nullptr);
    return pattern;
}

void findPeaks(benchmark::State &state, pk_measured_pattern *pattern, int32_t lines) {
    const auto count = static_cast<int32_t>(state.range(0));
    pk_peak_search search;
    pk_peak_search_default(&search);
    search.wavelength = 0.4;
    search.wavelength2 = 0.0;  // the lines are single
    std::vector<pk_peak> peaks(static_cast<std::size_t>(lines + 100));
    std::vector<pk_peak_failure> failures(1000);
    int32_t found = 0, failed = 0;
    for (auto _ : state) {
        pk_error error{};
        if (pk_find_peaks(pattern, &search, peaks.data(), static_cast<int32_t>(peaks.size()), &found,
                          failures.data(), static_cast<int32_t>(failures.size()), &failed, &error) != PK_OK) {
            state.SkipWithError(error.message);
            break;
        }
    }
    state.counters["points"] = count;
    state.counters["lines"] = lines;
    state.counters["found"] = found;
    state.counters["failed"] = failed;
    pk_measured_pattern_free(pattern);
}
void BM_PeakList(benchmark::State &state) {
    const auto count = static_cast<int32_t>(state.range(0));
    findPeaks(state, makePattern(count), count / kLineEvery);
}
BENCHMARK(BM_PeakList)->Arg(50000)->Arg(500000)->Arg(5000000)->Unit(benchmark::kSecond)->Iterations(1);

void BM_PeakListFiner(benchmark::State &state) {
    findPeaks(state, makeFinerPattern(static_cast<int32_t>(state.range(0))), 100);
}
BENCHMARK(BM_PeakListFiner)->Arg(50000)->Arg(500000)->Arg(5000000)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
