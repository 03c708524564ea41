// Refinements of patterns made as instruments see samples (the cases of the
// refinement's measured-like tests: a sloping background with a hump of
// amorphous scattering, Poisson counts, a profile the start does not assume):
//  - the whole run with the default options (starting values from the data,
//    stages) for the laboratory mixture with a broad phase (Cu Kα1 + Kα2,
//    4,251 points), the synchrotron pattern (0.45 Å, 12,501 points, peaks
//    0.006° wide, started ten times too wide) and the neutron pattern
//    (2,801 points, peaks 0.4–1°, started five times too narrow);
//  - one cycle of a two-phase synchrotron pattern of 60,001 points with 30 free
//    parameters (two scales, three cell lengths, the zero, U V W X Y of both
//    phases, corundum's Al z and O x, twelve background terms), on one thread
//    and shared among two (options.threads). Each cycle starts where the last
//    one left off, so the timing is of cycles near the minimum, as most are;
//  - the whole run of a million points: time, first progress, peak memory.
// Making the patterns and refinements is outside the timing.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "powderkit_phase.h"
#include "boundary/parallel.hpp"
#include "refinement/fit.hpp"
#include "refinement_model/refinement.hpp"
#include "whole_run.hpp"

namespace {

pk_phase *example(const char *name) {
    pk_phase *phase = nullptr;
    pk_phase_from_cif_file((std::string(PK_EXAMPLE_DATA_DIR) + "/" + name + ".cif").c_str(), nullptr, &phase, nullptr);
    return phase;
}

pk_phase *corundum() {
    static pk_phase *phase = example("corundum");
    return phase;
}

pk_phase *silicon() {
    static pk_phase *phase = example("silicon");
    return phase;
}

pk_profile profileOf(double u, double v, double w, double x, double y, double asymmetry = 0.0) {
    pk_profile p;
    pk_profile_default(&p, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    p.U = u, p.V = v, p.W = w, p.X = x, p.Y = y, p.asymmetry = asymmetry;
    return p;
}

pk_profile widened(pk_profile p, double factor) {
    p.U *= factor * factor, p.V *= factor * factor, p.W *= factor * factor, p.X *= factor, p.Y *= factor;
    return p;
}

struct Sample {
    pk_phase *phase;
    double scale;
    pk_profile profile;
};

std::vector<pk_phase_setting> settingsOf(std::vector<Sample> &samples) {
    std::vector<pk_phase_setting> settings;
    for (Sample &s : samples) settings.push_back(pk_phase_setting{s.phase, s.scale, &s.profile, 0, 1.0, {0.0, 0.0, 1.0}});
    return settings;
}

// The samples' pattern on first, first + step, … (count points) over a sloping line and an amorphous hump at
// 2θ = hump, Poisson counts from a fixed seed.
pk_measured_pattern *measure(const pk_instrument &instrument, std::vector<Sample> samples, double first, double step,
                             int count, double hump) {
    const std::vector<pk_phase_setting> settings = settingsOf(samples);
    std::vector<double> x(static_cast<std::size_t>(count)), y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = first + step * static_cast<double>(i);
    pk_pattern(&instrument, settings.data(), static_cast<int32_t>(settings.size()), nullptr, 0, x.data(), count,
               y.data(), nullptr);
    std::mt19937 random(5);
    const double width = std::max(7.0, (x.back() - x.front()) / 12.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double background = 120.0 - 0.3 * x[i] + 150.0 * std::exp(-std::pow((x[i] - hump) / width, 2.0));
        std::poisson_distribution<long> poisson(y[i] + background);
        y[i] = static_cast<double>(poisson(random));
    }
    pk_measured_pattern *made = nullptr;
    pk_measured_pattern_make(x.data(), y.data(), nullptr, count, &made, nullptr);
    return made;
}

// A refinement of `measured` from `starts` with the cells scaled by `factors` ("corundum.a", 1.006), the
// command's default free set and `more` free, the default options but `background` terms and `threads`.
pk_refinement *refinementOf(const pk_measured_pattern *measured, const pk_instrument &instrument,
                            std::vector<Sample> starts, const std::vector<std::pair<const char *, double>> &factors,
                            const char *more, int32_t background, int32_t threads = 1) {
    const std::vector<pk_phase_setting> settings = settingsOf(starts);
    pk_refinement_options options;
    pk_refinement_options_default(&options);
    options.background_count = background;
    options.alpha2_from_data = 1;
    options.threads = threads;
    pk_refinement *r = nullptr;
    pk_refinement_make(measured, &instrument, settings.data(), static_cast<int32_t>(settings.size()), nullptr,
                       &options, &r, nullptr);
    for (const auto &[name, factor] : factors) {
        const int index = powderkit::refinement::parameterIndex(*r, name);
        pk_refinement_set_value(r, name, r->parameters[static_cast<std::size_t>(index)].value * factor, nullptr);
    }
    pk_refinement_set_free(r, "scale,background,zero,cell,profile", true, nullptr);
    if (*more != 0) pk_refinement_set_free(r, more, true, nullptr);
    return r;
}

void BM_WholeRun_LaboratoryMixtureWithABroadPhase(benchmark::State &state) {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    pk_instrument_set_anode(&instrument, "Cu", true, nullptr);
    instrument.dispersion = 0;
    pk_instrument truth = instrument;
    truth.zero = 0.05;
    const pk_profile sharp = profileOf(0.004, -0.002, 0.003, 0.02, 0.01, 0.02);
    const pk_profile broad = profileOf(0.004, -0.002, 0.003, 0.6, 0.01, 0.02);
    pk_measured_pattern *measured =
        measure(truth, {{corundum(), 3000.0, sharp}, {silicon(), 4000.0, broad}}, 15.0, 0.02, 4251, 24.0);
    wholeRun(state, [&] {
        return refinementOf(measured, instrument,
                            {{corundum(), 1000.0, widened(sharp, 5.0)}, {silicon(), 1000.0, widened(broad, 0.2)}},
                            {{"corundum.a", 1.006}, {"corundum.c", 0.995}, {"silicon.a", 1.007}}, "", 12);
    });
    pk_measured_pattern_free(measured);
}
BENCHMARK(BM_WholeRun_LaboratoryMixtureWithABroadPhase)->Unit(benchmark::kSecond)->Iterations(2);

void BM_WholeRun_SynchrotronPeaksTenTimesNarrowerThanTheStart(benchmark::State &state) {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.wavelength = 0.45;
    instrument.dispersion = 0;
    pk_instrument truth = instrument;
    truth.zero = 0.004;
    const pk_profile narrow = profileOf(0.0002, 0.0, 0.00003, 0.002, 0.001);
    pk_measured_pattern *measured =
        measure(truth, {{corundum(), 600.0, narrow}, {silicon(), 400.0, narrow}}, 5.0, 0.002, 12501, 12.0);
    pk_profile laboratory;
    pk_profile_default(&laboratory, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    laboratory.asymmetry = 0.0;
    wholeRun(state, [&] {
        return refinementOf(measured, instrument, {{corundum(), 100.0, laboratory}, {silicon(), 100.0, laboratory}},
                            {{"corundum.a", 1.004}, {"corundum.c", 1.003}, {"silicon.a", 0.996}}, "", 12);
    });
    pk_measured_pattern_free(measured);
}
BENCHMARK(BM_WholeRun_SynchrotronPeaksTenTimesNarrowerThanTheStart)->Unit(benchmark::kSecond)->Iterations(2);

void BM_WholeRun_NeutronPatternWithBroadPeaks(benchmark::State &state) {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.radiation = PK_RADIATION_NEUTRON;
    instrument.wavelength = 1.54;
    pk_instrument truth = instrument;
    truth.zero = -0.05;
    const pk_profile wide = profileOf(0.3, -0.2, 0.15, 0.0, 0.05);
    pk_measured_pattern *measured = measure(truth, {{corundum(), 40.0, wide}}, 10.0, 0.05, 2801, 35.0);
    wholeRun(state, [&] {
        return refinementOf(measured, instrument, {{corundum(), 10.0, widened(wide, 0.2)}},
                            {{"corundum.a", 1.008}, {"corundum.c", 0.994}}, "xyz,uiso", 12);
    });
    pk_measured_pattern_free(measured);
}
BENCHMARK(BM_WholeRun_NeutronPatternWithBroadPeaks)->Unit(benchmark::kSecond)->Iterations(2);

// One cycle of the 60,001-point two-phase synchrotron pattern, 30 free parameters, state.range(0) threads.
void BM_OneCycle_Synchrotron60k_30Free(benchmark::State &state) {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.wavelength = 0.45;
    instrument.dispersion = 0;
    const pk_profile narrow = profileOf(0.0002, 0.0, 0.00003, 0.002, 0.001);
    static pk_measured_pattern *measured =
        measure(instrument, {{corundum(), 600.0, narrow}, {silicon(), 400.0, narrow}}, 5.0, 0.001, 60001, 12.0);
    pk_refinement *r = refinementOf(measured, instrument, {{corundum(), 600.0, narrow}, {silicon(), 400.0, narrow}},
                                    {{"corundum.a", 1.0001}}, "corundum.Al1.z,corundum.O1.x", 12,
                                    static_cast<int32_t>(state.range(0)));
    pk_refinement_set_free(r, "corundum.asymmetry,silicon.asymmetry", false, nullptr);
    std::vector<int> free;
    for (std::size_t i = 0; i < r->parameters.size(); ++i) {
        if (r->parameters[i].state == PK_PARAMETER_FREE) free.push_back(static_cast<int>(i));
    }
    // Every iteration is the first cycle from the same values: a cycle near the minimum, where the
    // step is retried at growing damping, would time the trial patterns instead of the cycle.
    std::vector<double> start;
    for (const auto &parameter : r->parameters) start.push_back(parameter.value);
    const powderkit::refinement::Progress quiet;
    // The threads are started once, as a whole run starts them once for all its cycles.
    const powderkit::phase::ThreadTeam team(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t i = 0; i < start.size(); ++i) r->parameters[i].value = start[i];
        powderkit::refinement::applyParameters(*r);
        powderkit::refinement::evaluate(*r, {});
        std::vector<int> cycleFree = free;
        state.ResumeTiming();
        const auto outcome = powderkit::refinement::minimise(*r, cycleFree, 1, quiet);
        benchmark::DoNotOptimize(outcome.cycles);
    }
    state.counters["free"] = static_cast<double>(free.size());
    state.counters["points"] = static_cast<double>(r->x.size());
    pk_refinement_free(r);
}
BENCHMARK(BM_OneCycle_Synchrotron60k_30Free)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// A million-point synchrotron pattern (two phases, 0.00012° steps), the whole run with the default options and ten
// cycles at most: the wall time, the seconds before the first progress call and the peak resident memory (of the
// process so far: run this benchmark alone, --benchmark_filter=MillionPoints).
void BM_WholeRun_MillionPoints(benchmark::State &state) {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.wavelength = 0.45;
    instrument.dispersion = 0;
    const pk_profile narrow = profileOf(0.0002, 0.0, 0.00003, 0.002, 0.001);
    pk_measured_pattern *measured =
        measure(instrument, {{corundum(), 600.0, narrow}, {silicon(), 400.0, narrow}}, 5.0, 0.00012, 1000001, 12.0);
    struct Clock {
        std::chrono::steady_clock::time_point start;
        double first = -1.0;
    } clock;
    double first = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        pk_refinement *r = refinementOf(measured, instrument, {{corundum(), 100.0, narrow}, {silicon(), 100.0, narrow}},
                                        {{"corundum.a", 1.001}, {"silicon.a", 0.999}}, "", 12);
        r->options.max_cycles = 10;
        clock = Clock{std::chrono::steady_clock::now()};
        state.ResumeTiming();
        pk_refinement_run(
            r,
            [](void *context, int32_t, double, double, double) -> int32_t {
                auto *c = static_cast<Clock *>(context);
                if (c->first < 0.0) {
                    c->first = std::chrono::duration<double>(std::chrono::steady_clock::now() - c->start).count();
                }
                return 0;
            },
            &clock, nullptr);
        state.PauseTiming();
        first += clock.first;
        pk_refinement_free(r);
        state.ResumeTiming();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["first_progress_s"] = benchmark::Counter(first, benchmark::Counter::kAvgIterations);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    pk_measured_pattern_free(measured);
}
BENCHMARK(BM_WholeRun_MillionPoints)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
