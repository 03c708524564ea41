// Time of one capillary transmission A(θ; μR), the exact integral over the
// disc by its 20 × 20-node rule, as a pattern asks for it once per reflexion
// and line: each iteration takes the next of 64 Bragg angles spread over
// 0 … 90°, at μR = 0.5, 3 and 10 (the rule's cost does not depend on μR).
#include <benchmark/benchmark.h>

#include "reflexions/sample_corrections.hpp"

namespace {

void capillaryAbsorption(benchmark::State &state) {
    const double muR = static_cast<double>(state.range(0)) / 10.0;
    double theta[64];
    for (int k = 0; k < 64; ++k) theta[k] = (k + 0.5) / 64.0 * 1.5707963267948966;
    int k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(powderkit::phase::capillaryAbsorption(muR, theta[k]));
        k = (k + 1) & 63;
    }
}
BENCHMARK(capillaryAbsorption)->Arg(5)->Arg(30)->Arg(100);

}  // namespace
