// The whole calculated pattern of the demo: corundum, Cu Kα1 (λ = 1.5406 Å),
// 2θ from 10° to 150° in 0.01° steps (14,001 points): intensities and
// positions of every reflexion, asymmetric pseudo-Voigt peaks on their
// FindReflexionRange windows, and the Chebyshev background, with the example
// hosts' own code; and one full design matrix of that pattern (14,001 × 13:
// scale, a = b, c, zero, U, V, W, B0 … B5) through the derivative tables.
// Buffers are made once, outside the timed loop.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

extern "C" {
#include "calculated_pattern.h"
#include "element_table.h"
#include "pattern_jacobian.h"
#include "reflexion_list.h"
#include "structures.h"
}

namespace {

struct CorundumPattern {
    RefinementCrystal *crystal = nullptr;
    RefinementProfile *profile = nullptr;
    double *x = nullptr, *peaks = nullptr, *background = nullptr;
    int32_t count = 0;

    CorundumPattern() {
        const std::string folder =
            (std::filesystem::temp_directory_path() / "powderkit-bench").string();
        std::filesystem::create_directories(folder);
        ElementTable elements{};
        if (!loadStructures() || !readElementTable(folder.c_str(), &elements)) return;
        crystal = buildCrystal(findStructure("corundum"), &elements);
        freeElementTable(&elements);
        profile = makeRefinementProfile(PK_EXPERIMENT_CONSTANT_WAVELENGTH, PK_RADIATION_XRAY,
                                        PK_PROFILE_PSEUDO_VOIGT, 1.5406, 10.0, 150.0);
        profile->U = 0.0040;
        profile->V = -0.0020;
        profile->W = 0.0030;
        profile->LX = 0.020;
        profile->LY = 0.030;
        profile->asymmetry = 0.02;
        const double coefficients[] = {130.0, -60.0, 25.0, -10.0, 4.0};
        std::memcpy(profile->backgroundCoefficients, coefficients, sizeof coefficients);
        buildReflexionList(crystal, 0.98 * dSpacingForTwoTheta(profile, 150.0, 0));
        x = makeAxis(10.0, 150.0, 0.01, &count);
        peaks = static_cast<double *>(std::malloc(sizeof(double) * count));
        background = static_cast<double *>(std::malloc(sizeof(double) * count));
        crystal->scale = 100.0;
    }
    ~CorundumPattern() {
        freeRefinementCrystal(crystal);
        freeRefinementProfile(profile);
        std::free(x);
        std::free(peaks);
        std::free(background);
        releaseStructures();
    }
    // One pattern from the current model.
    void calculate() {
        for (int32_t i = 0; i < crystal->reflexions->count; ++i) {
            calculateIntensityForReflexion(crystal, static_cast<Reflexion *>(crystal->reflexions->items[i]),
                                           profile);
        }
        calculatePeakPositionsForPlot(crystal, profile);
        addReflexionPeaks(crystal, profile, x, count, peaks);
        calculateBackground(profile, x, count, background);
    }
};

void CorundumWholePattern(benchmark::State &state) {
    CorundumPattern pattern;
    if (pattern.crystal == nullptr || pattern.x == nullptr) {
        state.SkipWithError("could not build corundum");
        return;
    }
    for (auto _ : state) {
        pattern.calculate();
        benchmark::DoNotOptimize(pattern.peaks[7000] + pattern.background[7000]);
    }
    state.counters["points"] = pattern.count;
    state.counters["reflexions"] = pattern.crystal->reflexions->count;
}
BENCHMARK(CorundumWholePattern)->Unit(benchmark::kMillisecond);

void CorundumJacobian(benchmark::State &state) {
    CorundumPattern pattern;
    PatternDerivatives derivatives;
    LeastSquaresMatrices *ls = makeRefinementMatrices();
    if (pattern.crystal == nullptr || ls == nullptr ||
        !prepareForRefinementCycle(ls, pattern.count, PATTERN_PARAMETERS) ||
        !lookUpPatternDerivatives(&derivatives, pattern.profile->profileType)) {
        state.SkipWithError("could not set up the design matrix");
        return;
    }
    pattern.calculate();
    for (auto _ : state) {
        fillPatternJacobian(&derivatives, pattern.crystal, pattern.profile, pattern.x, pattern.count,
                            ls->jacobian);
        benchmark::DoNotOptimize(ls->jacobian->elements[7000 * PATTERN_PARAMETERS + P_A]);
    }
    state.counters["points"] = pattern.count;
    state.counters["parameters"] = PATTERN_PARAMETERS;
    releasePatternDerivatives(&derivatives);
    freeLeastSquaresMatrices(ls);
    std::free(ls);
}
BENCHMARK(CorundumJacobian)->Unit(benchmark::kMillisecond);

}  // namespace
