// The peak list of a measured pattern (pk_find_peaks) at 50,000, 500,000 and
// 5,000,000 points of the same kind: a pseudo-Voigt line (FWHM 40 steps)
// every 2,000 steps on a slowly varying background of about 200 counts, with
// Poisson counting noise from a fixed seed. The lines per point stay the
// same, so a search linear in the points takes ten times as long for ten
// times the points. Making the pattern is outside the timing.
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

void BM_PeakList(benchmark::State &state) {
    const auto count = static_cast<int32_t>(state.range(0));
    pk_measured_pattern *pattern = makePattern(count);
    pk_peak_search search;
    pk_peak_search_default(&search);
    search.wavelength = 0.4;
    std::vector<pk_peak> peaks(static_cast<std::size_t>(count / kLineEvery + 100));
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
    state.counters["lines"] = count / kLineEvery;
    state.counters["found"] = found;
    state.counters["failed"] = failed;
    pk_measured_pattern_free(pattern);
}
BENCHMARK(BM_PeakList)->Arg(50000)->Arg(500000)->Arg(5000000)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
