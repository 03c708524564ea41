// Time per pattern point of the five peak shapes (the constant-wavelength
// ones symmetric and asymmetric), of the time-of-flight pseudo-Voigt near and
// far from its peak, and of the complex exponential integral in its series
// and continued-fraction branches. Each iteration evaluates one point,
// cycling over 64 points spread across the peak. Then the phase layer's
// window loop (addCwWindow) for the same pseudo-Voigt, symmetric and
// asymmetric, over a whole window of ±40 FWHM by 0.01° as a pattern meets
// it, reported per point; and the layer's time-of-flight pseudo-Voigt
// (tofPeakValue, its own exponential integral) on the near and far points of
// the core's cases, and it and the layer's time-of-flight Gaussian over the
// whole window a pattern gives them.
#include <benchmark/benchmark.h>

#include <complex>

#include <vector>

#include "pattern/tof_peaks.hpp"
#include "pattern/window_kernels.hpp"
#include "profiles/profiles.hpp"

namespace {

constexpr int kPoints = 64;

struct ShapeCase {
    RefinementProfile *profile;
    Reflexion *reflexion;
    double x[kPoints];
};

ShapeCase makeConstantWavelengthCase(int32_t type, bool asymmetric) {
    ShapeCase c{};
    c.profile = makeRefinementProfile(1, 2, type, 1.5406, 5.0, 120.0);
    c.profile->U = 0.004;
    c.profile->V = -0.002;
    c.profile->W = 0.003;
    c.profile->LX = 0.03;
    c.profile->LY = 0.01;
    c.profile->asymmetry = asymmetric ? 0.05 : 0.0;
    c.reflexion = makeReflexion();
    c.reflexion->peakPosition = 25.0;  // below the 50° cut-off
    for (int i = 0; i < kPoints; ++i) c.x[i] = 25.0 - 0.5 + i / 63.0;
    return c;
}

// Offsets in µs from `from` to `to`.
ShapeCase makeTimeOfFlightCase(int32_t type, double from, double to) {
    ShapeCase c{};
    c.profile = makeRefinementProfile(4, 3, type, 0.0, 1.0, 20.0);
    c.profile->sigma0 = 9.0;
    c.profile->alpha0 = 0.3;
    c.profile->alpha1 = 0.3;
    c.profile->beta0 = 0.04;
    c.profile->gamma0 = 2.0;
    c.reflexion = makeReflexion();
    c.reflexion->dSpacing = 1.0;
    c.reflexion->peakPosition = 1.0;
    for (int i = 0; i < kPoints; ++i) c.x[i] = 1.0 + (from + (to - from) * i / 63.0) * 0.001;
    return c;
}

void runShape(benchmark::State &state, ShapeCase c) {
    const ProfileFunction shape = ProfileFuncForProfileType(c.profile->profileType);
    int i = 0;
    for (auto _ : state) {
        double value = shape(c.x[i], c.reflexion, c.profile);
        benchmark::DoNotOptimize(value);
        i = (i + 1) & (kPoints - 1);
    }
    freeRefinementProfile(c.profile);
    c.reflexion->methods->freeReflexion(c.reflexion);
}

void BM_GaussianSymmetric(benchmark::State &s) { runShape(s, makeConstantWavelengthCase(0, false)); }
void BM_GaussianAsymmetric(benchmark::State &s) { runShape(s, makeConstantWavelengthCase(0, true)); }
void BM_LorentzianSymmetric(benchmark::State &s) { runShape(s, makeConstantWavelengthCase(1, false)); }
void BM_LorentzianAsymmetric(benchmark::State &s) { runShape(s, makeConstantWavelengthCase(1, true)); }
void BM_PseudoVoigtSymmetric(benchmark::State &s) { runShape(s, makeConstantWavelengthCase(2, false)); }
void BM_PseudoVoigtAsymmetric(benchmark::State &s) { runShape(s, makeConstantWavelengthCase(2, true)); }
void BM_TofExpGaussian(benchmark::State &s) { runShape(s, makeTimeOfFlightCase(3, -30.0, 60.0)); }
void BM_TofExpPseudoVoigtNear(benchmark::State &s) {
    runShape(s, makeTimeOfFlightCase(4, -10.0, 10.0));
}
void BM_TofExpPseudoVoigtFar(benchmark::State &s) {
    runShape(s, makeTimeOfFlightCase(4, 100.0, 400.0));
}
BENCHMARK(BM_GaussianSymmetric);
BENCHMARK(BM_GaussianAsymmetric);
BENCHMARK(BM_LorentzianSymmetric);
BENCHMARK(BM_LorentzianAsymmetric);
BENCHMARK(BM_PseudoVoigtSymmetric);
BENCHMARK(BM_PseudoVoigtAsymmetric);
BENCHMARK(BM_TofExpGaussian);
BENCHMARK(BM_TofExpPseudoVoigtNear);
BENCHMARK(BM_TofExpPseudoVoigtFar);

void runExponentialIntegral(benchmark::State &state, double radius, double angleFrom,
                            double angleTo) {
    std::complex<double> z[kPoints];
    for (int i = 0; i < kPoints; ++i) {
        z[i] = std::polar(radius, angleFrom + (angleTo - angleFrom) * i / 63.0);
    }
    int i = 0;
    for (auto _ : state) {
        std::complex<double> e1 = powderkit::complexExponentialIntegral(z[i]);
        benchmark::DoNotOptimize(e1);
        i = (i + 1) & (kPoints - 1);
    }
}

// |z| = 3 over the upper half plane: the power series.
void BM_E1Series(benchmark::State &s) { runExponentialIntegral(s, 3.0, 0.0, 3.0); }
// |z| = 20 on the right half plane: the continued fraction, quickly converged.
void BM_E1ContinuedFraction(benchmark::State &s) { runExponentialIntegral(s, 20.0, -1.5, 1.5); }
// |z| = 8 close to the negative axis but outside the series wedge: the
// continued fraction at its slowest.
void BM_E1ContinuedFractionNearCut(benchmark::State &s) {
    runExponentialIntegral(s, 8.0, 2.0, 2.6);
}
BENCHMARK(BM_E1Series);
BENCHMARK(BM_E1ContinuedFraction);
BENCHMARK(BM_E1ContinuedFractionNearCut);

void windowLoop(benchmark::State &state, double asymmetry) {
    RefinementProfile profile{};
    profile.profileType = PK_PROFILE_PSEUDO_VOIGT;
    profile.U = 0.004;
    profile.V = -0.002;
    profile.W = 0.003;
    profile.LX = 0.03;
    profile.LY = 0.01;
    Reflexion reflexion{};
    reflexion.peakPosition = 25.0;
    const powderkit::phase::CwPeak peak = powderkit::phase::makeCwPeak(reflexion, profile, asymmetry, 50.0);
    const double half = 40.0 / peak.inverseFwhm;
    std::vector<double> x, y;
    for (double at = 25.0 - half; at <= 25.0 + half; at += 0.01) x.push_back(at);
    y.assign(x.size(), 0.0);
    const auto last = static_cast<int32_t>(x.size()) - 1;
    for (auto _ : state) {
        powderkit::phase::addCwWindow(peak, x.data(), 0, last, 1.0, y.data());
        benchmark::DoNotOptimize(y.data());
    }
    state.counters["points"] = static_cast<double>(x.size());
    state.counters["per_point"] = benchmark::Counter(static_cast<double>(x.size()),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void BM_WindowPseudoVoigtSymmetric(benchmark::State &state) { windowLoop(state, 0.0); }
void BM_WindowPseudoVoigtAsymmetric(benchmark::State &state) { windowLoop(state, 0.05); }
BENCHMARK(BM_WindowPseudoVoigtSymmetric);
BENCHMARK(BM_WindowPseudoVoigtAsymmetric);

// The layer's time-of-flight pseudo-Voigt, per-reflexion terms made once, on the core case's 64 points.
void runTofLayer(benchmark::State &state, ShapeCase c) {
    const powderkit::phase::TofPeak peak = powderkit::phase::makeTofPeak(*c.reflexion, *c.profile);
    int i = 0;
    for (auto _ : state) {
        double value = powderkit::phase::tofPeakValue(peak, c.x[i]);
        benchmark::DoNotOptimize(value);
        i = (i + 1) & (kPoints - 1);
    }
    freeRefinementProfile(c.profile);
    c.reflexion->methods->freeReflexion(c.reflexion);
}

void BM_LayerTofPseudoVoigtNear(benchmark::State &s) { runTofLayer(s, makeTimeOfFlightCase(4, -10.0, 10.0)); }
void BM_LayerTofPseudoVoigtFar(benchmark::State &s) { runTofLayer(s, makeTimeOfFlightCase(4, 100.0, 400.0)); }
BENCHMARK(BM_LayerTofPseudoVoigtNear);
BENCHMARK(BM_LayerTofPseudoVoigtFar);

// A time-of-flight shape over the window the pattern model gives it (10σ + 25γ + 8/α + 9/β each side) by 1 µs.
void runTofLayerWindow(benchmark::State &state, int32_t type) {
    ShapeCase c = makeTimeOfFlightCase(type, 0.0, 1.0);
    const powderkit::phase::TofPeak peak = powderkit::phase::makeTofPeak(*c.reflexion, *c.profile);
    const bool pseudoVoigt = type == 4;
    const double alpha = peak.alpha, beta = c.profile->beta0;
    const double half = 10.0 * 3.0 + (pseudoVoigt ? 25.0 * 2.0 : 0.0) + 8.0 / alpha + 9.0 / beta;  // σ = 3, γ = 2 µs
    std::vector<double> x, y;
    for (double offset = -half; offset <= half; offset += 1.0) x.push_back(1.0 + offset * 1e-3);
    y.assign(x.size(), 0.0);
    const auto last = static_cast<int32_t>(x.size()) - 1;
    for (auto _ : state) {
        powderkit::phase::addTofWindow(peak, x.data(), 0, last, 1.0, y.data());
        benchmark::DoNotOptimize(y.data());
    }
    state.counters["points"] = static_cast<double>(x.size());
    state.counters["per_point"] = benchmark::Counter(static_cast<double>(x.size()),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    freeRefinementProfile(c.profile);
    c.reflexion->methods->freeReflexion(c.reflexion);
}
void BM_LayerTofPseudoVoigtWindow(benchmark::State &state) { runTofLayerWindow(state, 4); }
void BM_LayerTofGaussianWindow(benchmark::State &state) { runTofLayerWindow(state, 3); }
BENCHMARK(BM_LayerTofPseudoVoigtWindow);
BENCHMARK(BM_LayerTofGaussianWindow);

}  // namespace
