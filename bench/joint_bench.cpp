// A joint refinement of corundum + silicon against three patterns at once: a synchrotron pattern (λ 0.4133 Å,
// 2θ 3°–33° in 0.0005° steps, 60,001 points, peaks about 0.01° wide) and two time-of-flight banks of 7,001
// points each (90° and 150°, difC 7,000 and 12,000 µs/Å, pseudo-Voigt back-to-back exponentials), each with its
// own scales, profile and background.
//  - One cycle's work: the Jacobian and the normal equations (`normalEquations`) by 40 free parameters (the
//    shared cells and Uiso, each histogram's scales, widths and background, the synchrotron zero and the banks'
//    difC and difA).
//  - The time-of-flight pattern per point: the peaks of both phases in the 90° bank (made once) added over
//    its 7,001 points, as every evaluation of the bank does; the counter the time per point.
#include <benchmark/benchmark.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "powderkit_phase.h"
#include "refinement/fit.hpp"
#include "refinement_model/refinement.hpp"

namespace {

constexpr int kPhases = 2;
const char *const kNames[kPhases] = {"corundum", "silicon"};

pk_instrument synchrotron() {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.wavelength = 0.4133;
    instrument.wavelength2 = 0.0;
    instrument.ratio2 = 0.0;
    return instrument;
}

pk_instrument bank(double twoTheta, double difC) {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.axis = PK_AXIS_TOF;
    instrument.radiation = PK_RADIATION_NEUTRON;
    instrument.tof_two_theta = twoTheta;
    instrument.dtt1 = difC;
    return instrument;
}

struct Histogram {
    std::string name;
    pk_instrument instrument;
    pk_profile profile;
    pk_measured_pattern *measured = nullptr;
};

struct Joint {
    pk_phase *phases[kPhases] = {nullptr, nullptr};
    std::vector<Histogram> histograms;
    pk_refinement *refinement = nullptr;

    Joint() {
        for (int p = 0; p < kPhases; ++p) {
            const std::string path = std::string(PK_EXAMPLE_DATA_DIR) + "/" + kNames[p] + ".cif";
            pk_phase_from_cif_file(path.c_str(), nullptr, &phases[p], nullptr);
        }
        pk_profile narrow;
        pk_profile_default(&narrow, PK_PROFILE_PSEUDO_VOIGT, nullptr);
        narrow.U = 0.0, narrow.V = 0.0, narrow.W = 1e-5, narrow.X = 0.0, narrow.Y = 0.005;
        pk_profile tof;
        pk_profile_default(&tof, PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, nullptr);
        histograms = {{"synchrotron", synchrotron(), narrow}, {"bank90", bank(90.0, 7000.0), tof},
                      {"bank150", bank(150.0, 12000.0), tof}};
        // 2θ 3°–33°; flight times over d 0.6–3 Å.
        const double from[3] = {3.0, 4.5, 7.5}, step[3] = {0.0005, 0.0024, 0.0041};
        const int counts[3] = {60001, 7001, 7001};
        std::vector<pk_refinement_histogram> made;
        for (std::size_t h = 0; h < histograms.size(); ++h) {
            Histogram &histogram = histograms[h];
            pk_phase_setting settings[kPhases];
            for (int p = 0; p < kPhases; ++p) settings[p] = {phases[p], 1000.0, &histogram.profile, 0, 1.0, {0, 0, 1}};
            std::vector<double> x(static_cast<std::size_t>(counts[h])), y(x.size());
            for (std::size_t i = 0; i < x.size(); ++i) x[i] = from[h] + step[h] * static_cast<double>(i);
            const double background[1] = {50.0};
            pk_error error{};
            if (pk_pattern(&histogram.instrument, settings, kPhases, background, 1, x.data(), counts[h], y.data(),
                           &error) != PK_OK) {
                std::fprintf(stderr, "pk_joint_bench: %s\n", error.message);
                std::abort();
            }
            std::mt19937 random(static_cast<unsigned>(h + 1));
            for (double &value : y) value = std::poisson_distribution<int>(value)(random);
            pk_measured_pattern_make(x.data(), y.data(), nullptr, counts[h], &histogram.measured, nullptr);
            made.push_back({histogram.name.c_str(), histogram.measured, &histogram.instrument, nullptr, 1.0, 0.0,
                            0.0});
            (void)settings;
        }
        pk_phase_setting start[kPhases];
        for (int p = 0; p < kPhases; ++p) start[p] = {phases[p], 1000.0, nullptr, 0, 1.0, {0, 0, 1}};
        std::vector<pk_profile> profiles[3];
        for (std::size_t h = 0; h < histograms.size(); ++h) {
            profiles[h].assign(kPhases, histograms[h].profile);
            made[h].profiles = profiles[h].data();
        }
        pk_refinement_options options;
        pk_refinement_options_default(&options);
        pk_error error{};
        if (pk_refinement_make_joint(made.data(), static_cast<int32_t>(made.size()), start, kPhases, kNames,
                                     &options, &refinement, &error) != PK_OK) {
            std::fprintf(stderr, "pk_joint_bench: %s\n", error.message);
            std::abort();
        }
        pk_refinement_set_free(refinement,
                               "cell,uiso,scale,background,synchrotron.zero,bank90.calibration,bank150.calibration,"
                               "synchrotron.profile,bank90.corundum.sigma1,bank90.silicon.sigma1,"
                               "bank150.corundum.sigma1,bank150.silicon.sigma1",
                               true, nullptr);
    }

    ~Joint() {
        pk_refinement_free(refinement);
        for (Histogram &histogram : histograms) pk_measured_pattern_free(histogram.measured);
        for (pk_phase *phase : phases) pk_phase_free(phase);
    }
};

const Joint &joint() {
    static const Joint j;
    return j;
}

void BM_JointCycle_ThreePatterns(benchmark::State &state) {
    pk_refinement &r = *joint().refinement;
    std::vector<int> free;
    for (std::size_t i = 0; i < r.parameters.size(); ++i) {
        if (r.parameters[i].state == PK_PARAMETER_FREE) free.push_back(static_cast<int>(i));
    }
    for (auto _ : state) {
        powderkit::refinement::freezeWindows(r, true);
        const powderkit::refinement::NormalEquations e = powderkit::refinement::normalEquations(r, free);
        powderkit::refinement::freezeWindows(r, false);
        benchmark::DoNotOptimize(e.scaled.data());
    }
    state.counters["free"] = static_cast<double>(free.size());
    state.counters["points"] = static_cast<double>(r.x.size());
}
BENCHMARK(BM_JointCycle_ThreePatterns)->Unit(benchmark::kMillisecond);

void BM_TofPatternPoint(benchmark::State &state) {
    const pk_refinement &bank90 = joint().refinement->members[1];
    const auto count = static_cast<int32_t>(bank90.x.size());
    std::vector<double> y(bank90.x.size());
    // The peak values a pattern takes: every point of every reflexion's window.
    double values = 0.0;
    for (const powderkit::refinement::PhaseModel &model : bank90.phases) {
        powderkit::phase::visitPeakPoints(model.peaks, bank90.x.data(), count,
                                          [&](std::size_t, int32_t, double) { values += 1.0; });
    }
    for (auto _ : state) {
        std::fill(y.begin(), y.end(), 0.0);
        for (const powderkit::refinement::PhaseModel &model : bank90.phases) {
            powderkit::phase::addPhase(model.peaks, bank90.x.data(), count, y.data());
        }
        benchmark::DoNotOptimize(y.data());
    }
    state.counters["per_point"] = benchmark::Counter(static_cast<double>(count),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    state.counters["per_peak_value"] = benchmark::Counter(
        values, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["values_per_point"] = values / static_cast<double>(count);
}
BENCHMARK(BM_TofPatternPoint)->Unit(benchmark::kMillisecond);

}  // namespace
