// Whole refinements timed as users run them: `make` builds a fresh
// refinement for each iteration (not timed), pk_refinement_run is timed, and
// the cycles, whether it converged and the reduced χ² are kept as counters
// (averages over the iterations).
#ifndef POWDERKIT_BENCH_WHOLE_RUN_HPP
#define POWDERKIT_BENCH_WHOLE_RUN_HPP

#include <benchmark/benchmark.h>

#include "powderkit_phase.h"

template <typename Make>
void wholeRun(benchmark::State &state, const Make &make) {
    double cycles = 0.0, converged = 0.0, reduced = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        pk_refinement *r = make();
        state.ResumeTiming();
        pk_error error{};
        const int32_t status = pk_refinement_run(r, nullptr, nullptr, &error);
        state.PauseTiming();
        if (status != PK_OK) {
            state.SkipWithError(error.message);
            pk_refinement_free(r);
            break;
        }
        pk_refinement_summary summary{};
        pk_refinement_get_summary(r, &summary, nullptr);
        cycles += summary.cycles;
        converged += summary.converged;
        reduced += summary.reduced_chi2;
        pk_refinement_free(r);
        state.ResumeTiming();
    }
    state.counters["cycles"] = benchmark::Counter(cycles, benchmark::Counter::kAvgIterations);
    state.counters["converged"] = benchmark::Counter(converged, benchmark::Counter::kAvgIterations);
    state.counters["reduced_chi2"] = benchmark::Counter(reduced, benchmark::Counter::kAvgIterations);
}

#endif
