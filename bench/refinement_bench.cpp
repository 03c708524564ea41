// The refinement of a two-phase pattern: corundum + silicon from examples/data, Cu Kα1 + Kα2, 2θ from 10° to
// 150° in 0.01° steps (14,001 points), pseudo-Voigt peaks, a six-term Chebyshev background and counting noise.
//  - One Rietveld cycle with 25 free parameters (two scales, corundum a c, silicon a, zero, U V W X Y of both
//    phases, the Uiso of the three sites, six background terms), timed as its two parts: the Jacobian
//    (`jacobian`: linear columns for scales and background, central differences of the rebuilt pattern for
//    the rest), then the normal equations JᵀWJ and JᵀWr with Eigen, the way the fit forms them. The rest of a
//    cycle (eigenvalues and solve of the 25 × 25 system, the pattern at the trial values) is left out.
//  - The whole run (pk_refinement_run) to convergence, scale, cell, zero, profile and six background terms
//    free (22), the cycles it took as a counter; making the refinement is outside the timing. Two starts:
//    cells 1 % off on the mixture of 2θ 15°–120° (10,501 points, strong peaks over a low background, no zero
//    shift), and cells 0.5 % off on the 14,001-point pattern above. Scales start 20 % off, the zero at 0.
#include <benchmark/benchmark.h>

#include <Eigen/Dense>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "powderkit_phase.h"
#include "refinement/fit.hpp"
#include "refinement_model/refinement.hpp"
#include "whole_run.hpp"

namespace {

constexpr int kPhases = 2;
const char *const kNames[kPhases] = {"corundum", "silicon"};

// One synthetic measurement: its range (by 0.01°), scales, zero shift and background.
struct Case {
    double first, last;
    double scales[kPhases];
    double zero;
    std::vector<double> background;
};

const Case kWide = {10.0, 150.0, {150.0, 50.0}, 0.012, {180.0, -50.0, 25.0, -10.0, 4.0, -2.0}};
const Case kStrong = {15.0, 120.0, {3000.0, 2000.0}, 0.0, {200.0, -20.0, 10.0}};

// The phases, instrument and measured pattern of a case, made once.
struct Mixture {
    pk_phase *phases[kPhases] = {nullptr, nullptr};
    pk_instrument instrument{};
    pk_phase_setting settings[kPhases]{};
    pk_measured_pattern *measured = nullptr;
    double cells[kPhases][6]{};

    explicit Mixture(const Case &c) {
        pk_instrument_default(&instrument);
        pk_instrument_set_anode(&instrument, "Cu", true, nullptr);
        instrument.zero = c.zero;
        for (int p = 0; p < kPhases; ++p) {
            const std::string path = std::string(PK_EXAMPLE_DATA_DIR) + "/" + kNames[p] + ".cif";
            pk_phase_from_cif_file(path.c_str(), nullptr, &phases[p], nullptr);
            double volume = 0.0;
            pk_phase_cell(phases[p], cells[p], &volume);
            settings[p] = pk_phase_setting{phases[p], c.scales[p], nullptr, 0, 1.0, {0.0, 0.0, 1.0}};
        }
        std::vector<double> x;
        for (int i = 0; c.first + 0.01 * i <= c.last + 1e-9; ++i) x.push_back(c.first + 0.01 * i);
        std::vector<double> y(x.size());
        const auto count = static_cast<int32_t>(x.size());
        const auto terms = static_cast<int32_t>(c.background.size());
        pk_pattern(&instrument, settings, kPhases, c.background.data(), terms, x.data(), count, y.data(), nullptr);
        std::mt19937 random(7);
        std::string text;
        for (std::size_t i = 0; i < x.size(); ++i) {
            std::poisson_distribution<int> counts(y[i]);
            text += std::to_string(x[i]) + " " + std::to_string(counts(random)) + "\n";
        }
        pk_measured_pattern_read_text(text.c_str(), "mixture", &measured, nullptr);
    }

    ~Mixture() {
        pk_measured_pattern_free(measured);
        for (pk_phase *phase : phases) pk_phase_free(phase);
    }

    // A refinement whose cells are `off` too long (c too short), scales 20 % off, the zero at 0, `free` free.
    pk_refinement *make(double off, const char *free) const {
        pk_phase_setting start[kPhases] = {settings[0], settings[1]};
        start[0].scale *= 1.2;
        start[1].scale *= 0.8;
        pk_instrument zeroless = instrument;
        zeroless.zero = 0.0;
        pk_refinement_options options;
        pk_refinement_options_default(&options);
        pk_refinement *r = nullptr;
        pk_refinement_make(measured, &zeroless, start, kPhases, kNames, &options, &r, nullptr);
        pk_refinement_set_value(r, "corundum.a", cells[0][0] * (1.0 + off), nullptr);
        pk_refinement_set_value(r, "corundum.c", cells[0][2] * (1.0 - off), nullptr);
        pk_refinement_set_value(r, "silicon.a", cells[1][0] * (1.0 + off), nullptr);
        pk_refinement_set_free(r, free, true, nullptr);
        return r;
    }
};

const Mixture &wide() {
    static const Mixture m(kWide);
    return m;
}

const Mixture &strong() {
    static const Mixture m(kStrong);
    return m;
}

constexpr const char *kCycleFree = "scale,cell,zero,profile,uiso,background";

std::vector<int> freeParameters(const pk_refinement &r) {
    std::vector<int> free;
    for (std::size_t i = 0; i < r.parameters.size(); ++i) {
        if (r.parameters[i].state == PK_PARAMETER_FREE) free.push_back(static_cast<int>(i));
    }
    return free;
}

struct NormalEquations {
    Eigen::MatrixXd normal;
    Eigen::VectorXd gradient;
};

NormalEquations normalEquations(const pk_refinement &r, const Eigen::MatrixXd &j) {
    const auto count = static_cast<Eigen::Index>(r.x.size());
    Eigen::VectorXd root(count);
    Eigen::VectorXd residual(count);
    for (Eigen::Index i = 0; i < count; ++i) {
        root(i) = std::sqrt(r.weight[static_cast<std::size_t>(i)]);
        residual(i) = r.y[static_cast<std::size_t>(i)] - r.calculated[static_cast<std::size_t>(i)];
    }
    const Eigen::MatrixXd scaledJ = root.asDiagonal() * j;
    NormalEquations e;
    e.normal = Eigen::MatrixXd::Zero(j.cols(), j.cols());
    e.normal.selfadjointView<Eigen::Lower>().rankUpdate(scaledJ.transpose());
    e.normal = e.normal.selfadjointView<Eigen::Lower>();
    e.gradient = scaledJ.transpose() * root.cwiseProduct(residual);
    return e;
}

void BM_RietveldCycle_Jacobian(benchmark::State &state) {
    pk_refinement *r = wide().make(0.0, kCycleFree);
    const std::vector<int> free = freeParameters(*r);
    for (auto _ : state) {
        Eigen::MatrixXd j = powderkit::refinement::jacobian(*r, free);
        benchmark::DoNotOptimize(j.data());
    }
    state.counters["free"] = static_cast<double>(free.size());
    state.counters["points"] = static_cast<double>(r->x.size());
    pk_refinement_free(r);
}
BENCHMARK(BM_RietveldCycle_Jacobian)->Unit(benchmark::kMillisecond);

void BM_RietveldCycle_NormalEquations(benchmark::State &state) {
    pk_refinement *r = wide().make(0.0, kCycleFree);
    const std::vector<int> free = freeParameters(*r);
    const Eigen::MatrixXd j = powderkit::refinement::jacobian(*r, free);
    for (auto _ : state) {
        NormalEquations e = normalEquations(*r, j);
        benchmark::DoNotOptimize(e.normal.data());
        benchmark::DoNotOptimize(e.gradient.data());
    }
    state.counters["free"] = static_cast<double>(free.size());
    pk_refinement_free(r);
}
BENCHMARK(BM_RietveldCycle_NormalEquations)->Unit(benchmark::kMillisecond);

// The corundum pattern alone (14,001 points, 10°–150°, Cu Kα1 + Kα2, the default asymmetric pseudo-Voigt, a
// six-term background) and the Jacobian by its 13 structure and instrument parameters, as the refinement builds it
// in every cycle: scale, a, c, zero, U V W X Y, asymmetry, Al z, the Uiso of Al and O.
void BM_CorundumJacobian(benchmark::State &state) {
    pk_instrument cu;
    pk_instrument_default(&cu);
    pk_instrument_set_anode(&cu, "Cu", true, nullptr);
    pk_phase *corundum = nullptr;
    pk_phase_from_cif_file(PK_EXAMPLE_DATA_DIR "/corundum.cif", nullptr, &corundum, nullptr);
    const pk_phase_setting setting{corundum, 100.0, nullptr, 0, 1.0, {0.0, 0.0, 1.0}};
    std::vector<double> x, y;
    for (int i = 0; i <= 14000; ++i) x.push_back(10.0 + 0.01 * i);
    y.resize(x.size());
    const double background[3] = {50.0, -10.0, 5.0};
    pk_pattern(&cu, &setting, 1, background, 3, x.data(), static_cast<int32_t>(x.size()), y.data(), nullptr);
    pk_measured_pattern *measured = nullptr;
    pk_measured_pattern_make(x.data(), y.data(), nullptr, static_cast<int32_t>(x.size()), &measured, nullptr);
    pk_refinement *r = nullptr;
    pk_refinement_make(measured, &cu, &setting, 1, nullptr, nullptr, &r, nullptr);
    pk_refinement_set_free(r, "scale,cell,zero,profile,asymmetry,corundum.Al1.z,uiso", true, nullptr);
    const std::vector<int> free = freeParameters(*r);
    for (auto _ : state) {
        Eigen::MatrixXd j = powderkit::refinement::jacobian(*r, free);
        benchmark::DoNotOptimize(j.data());
    }
    state.counters["free"] = static_cast<double>(free.size());
    pk_refinement_free(r);
    pk_measured_pattern_free(measured);
    pk_phase_free(corundum);
}
BENCHMARK(BM_CorundumJacobian)->Unit(benchmark::kMillisecond);

// The whole run from the start given.
void runToConvergence(benchmark::State &state, const Mixture &mixture, double off) {
    wholeRun(state, [&] { return mixture.make(off, "scale,background,zero,cell,profile"); });
}

void BM_RietveldRun_Strong_OnePercentOff(benchmark::State &state) {
    runToConvergence(state, strong(), 0.01);
}
BENCHMARK(BM_RietveldRun_Strong_OnePercentOff)->Unit(benchmark::kSecond)->Iterations(3);

void BM_RietveldRun_Wide_HalfPercentOff(benchmark::State &state) {
    runToConvergence(state, wide(), 0.005);
}
BENCHMARK(BM_RietveldRun_Wide_HalfPercentOff)->Unit(benchmark::kSecond)->Iterations(3);

}  // namespace
