// The whole calculated pattern of corundum, 2θ from 10° to 150° in 0.01°
// steps (14,001 points), pseudo-Voigt peaks with asymmetry 0.02 and a
// Chebyshev background of three coefficients, two ways:
//  - the host's road on the core's records: intensities and positions of every
//    reflexion, then each reflexion's peak on its FindReflexionRange window
//    through the core's ProfileFunction (Cu Kα1 only);
//  - the phase layer's pattern model, made once outside the timed loop, for
//    Cu Kα1 alone and for Cu Kα1 + Kα2, and for Cu Kα1 with the axial
//    divergence S/L 0.02, H/L 0.03 in place of the asymmetry P.
// Buffers are made once and reused. Last, one whole pk_pattern call (the model
// made inside it) with the library's defaults, as the Python package makes it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "powderkit.h"
#include "powderkit_phase.h"

namespace {

constexpr double kFirst = 10.0, kLast = 150.0, kStep = 0.01;
constexpr int32_t kPoints = 14001;
const double kBackground[3] = {130.0, -60.0, 25.0};
constexpr double kDegreesToRadians = 0.017453292519943295;

std::vector<double> axis() {
    std::vector<double> x(kPoints);
    for (int32_t i = 0; i < kPoints; ++i) x[static_cast<std::size_t>(i)] = kFirst + kStep * i;
    return x;
}

pk_phase *readCorundum() {
    pk_phase *phase = nullptr;
    pk_error error{};
    const std::string path = std::string(PK_EXAMPLE_DATA_DIR) + "/corundum.cif";
    return pk_phase_from_cif_file(path.c_str(), nullptr, &phase, &error) == PK_OK ? phase : nullptr;
}

// Half-width (degrees) of the window a pseudo-Voigt peak is evaluated on:
// forty FWHM (its Lorentzian tails beyond hold under 1 % of its area) plus
// the asymmetry's reach.
double windowHalfWidth(const RefinementProfile *p, double twoTheta) {
    const double theta = 0.5 * twoTheta * kDegreesToRadians, t = std::tan(theta);
    const double g2 = p->U * t * t + p->V * t + p->W;
    const double g = g2 > 0.0 ? std::sqrt(g2) : 0.0;
    const double l = std::max(0.0, p->LX / std::cos(theta) + p->LY * t);
    const double h5 = std::pow(g, 5) + 2.69269 * std::pow(g, 4) * l + 2.42843 * std::pow(g, 3) * l * l +
                      4.47163 * g * g * std::pow(l, 3) + 0.07842 * g * std::pow(l, 4) + std::pow(l, 5);
    return 40.0 * std::pow(h5, 0.2) + std::fabs(p->asymmetry / std::tan(twoTheta * kDegreesToRadians));
}

void CorundumCoreRoad(benchmark::State &state) {
    pk_phase *phase = readCorundum();
    RefinementProfile *profile = makeRefinementProfile(PK_EXPERIMENT_CONSTANT_WAVELENGTH, PK_RADIATION_XRAY,
                                                       PK_PROFILE_PSEUDO_VOIGT, 1.540593, kFirst, kLast);
    RefinementCrystal *crystal = nullptr;
    if (phase == nullptr || profile == nullptr ||
        pk_phase_core_crystal(phase, 0.98 * dSpacingForTwoTheta(profile, kLast, 0), &crystal, nullptr) != PK_OK) {
        state.SkipWithError("could not build corundum");
        freeRefinementProfile(profile);
        pk_phase_free(phase);
        return;
    }
    profile->U = 0.0040;
    profile->V = -0.0020;
    profile->W = 0.0030;
    profile->LX = 0.020;
    profile->LY = 0.010;
    profile->asymmetry = 0.02;
    for (int i = 0; i < 3; ++i) profile->backgroundCoefficients[i] = kBackground[i];
    crystal->scale = 100.0;
    const std::vector<double> x = axis();
    std::vector<double> y(kPoints);
    const ProfileFunction shape = ProfileFuncForProfileType(profile->profileType);
    for (auto _ : state) {
        DynamicArray *list = crystal->reflexions;
        for (int32_t n = 0; n < list->count; ++n) {
            calculateIntensityForReflexion(crystal, static_cast<Reflexion *>(list->items[n]), profile);
        }
        calculatePeakPositionsForPlot(crystal, profile);
        for (int32_t i = 0; i < kPoints; ++i) {
            y[static_cast<std::size_t>(i)] =
                BackgroundIntensity(profile->backgroundCoefficients, x[static_cast<std::size_t>(i)], kFirst, kLast);
        }
        for (int32_t n = 0; n < list->count; ++n) {
            Reflexion *r = static_cast<Reflexion *>(list->items[n]);
            const double half = std::ceil(windowHalfWidth(profile, r->peakPosition) / kStep);
            ReflexionRange range;
            if (!FindReflexionRange(r, x.data(), kPoints, 2 * static_cast<int32_t>(half) + 1, &range)) continue;
            const double weight = crystal->scale * r->intensity;
            for (int32_t i = range.firstIndex; i <= range.lastIndex; ++i) {
                y[static_cast<std::size_t>(i)] += weight * shape(x[static_cast<std::size_t>(i)], r, profile);
            }
        }
        benchmark::DoNotOptimize(y[7000]);
    }
    state.counters["points"] = kPoints;
    state.counters["reflexions"] = crystal->reflexions->count;
    freeRefinementCrystal(crystal);
    freeRefinementProfile(profile);
    pk_phase_free(phase);
}
BENCHMARK(CorundumCoreRoad)->Unit(benchmark::kMillisecond);

void CorundumPatternModel(benchmark::State &state, bool alpha2, bool axial) {
    pk_phase *phase = readCorundum();
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    pk_profile profile;
    pk_pattern_model *model = nullptr;
    pk_error error{};
    bool ok = phase != nullptr && pk_instrument_set_anode(&instrument, "Cu", alpha2, &error) == PK_OK &&
              pk_profile_default(&profile, PK_PROFILE_PSEUDO_VOIGT, &error) == PK_OK;
    if (ok) {
        profile.asymmetry = axial ? 0.0 : 0.02;
        profile.axial_sl = axial ? 0.02 : 0.0;
        profile.axial_hl = axial ? 0.03 : 0.0;
        const pk_phase_setting setting = {phase, 100.0, &profile, 0, 1.0, {0.0, 0.0, 1.0}};
        ok = pk_pattern_model_make(&instrument, &setting, 1, kBackground, 3, kFirst, kLast, &model, &error) ==
             PK_OK;
    }
    if (!ok) {
        state.SkipWithError(error.message);
        pk_phase_free(phase);
        return;
    }
    const std::vector<double> x = axis();
    std::vector<double> y(kPoints);
    for (auto _ : state) {
        pk_pattern_model_compute(model, PK_PART_TOTAL, x.data(), kPoints, y.data(), nullptr);
        benchmark::DoNotOptimize(y[7000]);
    }
    state.counters["points"] = kPoints;
    pk_pattern_model_free(model);
    pk_phase_free(phase);
}
BENCHMARK_CAPTURE(CorundumPatternModel, KAlpha1, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CorundumPatternModel, KAlpha1And2, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CorundumPatternModel, KAlpha1Axial, false, true)->Unit(benchmark::kMillisecond);

// One whole pk_pattern call, the model made and freed inside it: the call that the Python
// package's pk.pattern([phase], x, wavelength=1.540593) makes (Cu Kα1 alone, the default
// pseudo-Voigt, scale 1, no background), so that bench/python/pattern_bench.py can set the
// binding's time beside it.
void CorundumPatternCall(benchmark::State &state) {
    pk_phase *phase = readCorundum();
    if (phase == nullptr) {
        state.SkipWithError("could not read corundum");
        return;
    }
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.wavelength = 1.540593;
    const pk_phase_setting setting = {phase, 1.0, nullptr, 0, 1.0, {0.0, 0.0, 1.0}};
    const std::vector<double> x = axis();
    std::vector<double> y(kPoints);
    pk_error error{};
    for (auto _ : state) {
        if (pk_pattern(&instrument, &setting, 1, nullptr, 0, x.data(), kPoints, y.data(), &error) != PK_OK) {
            state.SkipWithError(error.message);
            break;
        }
        benchmark::DoNotOptimize(y[7000]);
    }
    state.counters["points"] = kPoints;
    pk_phase_free(phase);
}
BENCHMARK(CorundumPatternCall)->Unit(benchmark::kMillisecond);

}  // namespace
