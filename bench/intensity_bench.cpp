// The structure-factor loop: calculateIntensityForReflexion over every
// reflexion with d >= 0.8 Å of corundum, and over 2000 reflexions of a P1
// cell holding 500 atoms of alternating elements (so every site evaluates its
// scattering factor). Reported per reflexion and per (reflexion × position).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "powderkit.h"
#include "support/crystal_builder.hpp"
#include "support/element_data.hpp"
#include "support/reflexion_builder.hpp"

namespace {

int32_t positionCount(const RefinementCrystal *crystal) {
    int32_t count = 0;
    for (int32_t i = 0; i < crystal->sites->count; ++i) {
        count += static_cast<const Site *>(crystal->sites->items[i])->atoms->count;
    }
    return count;
}

void runIntensities(benchmark::State &state, RefinementCrystal *crystal) {
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, 1.5406, 5, 160);
    const DynamicArray *list = crystal->reflexions;
    for (auto _ : state) {
        for (int32_t i = 0; i < list->count; ++i) {
            calculateIntensityForReflexion(crystal, static_cast<Reflexion *>(list->items[i]), profile);
        }
        benchmark::ClobberMemory();
    }
    const double terms = static_cast<double>(list->count) * positionCount(crystal);
    state.counters["reflexions"] = list->count;
    state.counters["positions"] = positionCount(crystal);
    // Seconds per (reflexion × position), printed with an SI prefix (n = ns).
    state.counters["per_reflexion_position"] = benchmark::Counter(
        terms, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    freeRefinementProfile(profile);
}

void CorundumIntensities(benchmark::State &state) {
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("corundum", pk_test::makeScatteringFactorFor);
    crystal->useAnisotropicDisplacement = 1;
    pk_test::buildReflexionList(crystal, 0.8);
    runIntensities(state, crystal);
    freeRefinementCrystal(crystal);
}
BENCHMARK(CorundumIntensities)->Unit(benchmark::kMicrosecond);

void P1CellOf500Atoms(benchmark::State &state) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = 21.3;
    crystal->b = 18.7;
    crystal->c = 24.1;
    crystal->alpha = 88.0;
    crystal->beta = 97.0;
    crystal->gamma = 103.0;
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(1);
    RefinementSymmetryOperator *identity = makeRefinementSymmetryOperator();
    identity->rotation[0][0] = identity->rotation[1][1] = identity->rotation[2][2] = 1;
    addObjectToDynamicArray(crystal->symmetryOperators, identity);
    crystal->sites = makeDynamicArrayWithCapacity(500);
    const char *elements[] = {"O", "Si", "Fe", "C"};
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0;
    };
    for (int i = 0; i < 500; ++i) {
        Site *site = makeEmptySite();
        site->x = next();
        site->y = next();
        site->z = next();
        site->isIncluded = 1;
        site->occupants = makeDynamicArrayWithCapacity(1);
        const char *symbol = elements[i % 4];
        addObjectToDynamicArray(site->occupants,
                                makeRefinementSiteOccupant(symbol, 1.0, pk_test::makeScatteringFactorFor(symbol)));
        site->displacement = makeRefinementThermalEllipsoidUij();
        site->displacement->uIso = 0.01;
        addObjectToDynamicArray(crystal->sites, site);
    }
    crystal->useAnisotropicDisplacement = 1;
    generateUnitCell(crystal);
    calculateSimilarityIndices(crystal);
    crystal->reflexions = makeDynamicArrayWithCapacity(2000);
    for (int32_t h = 0; h < 20 && crystal->reflexions->count < 2000; ++h) {
        for (int32_t k = -10; k <= 10 && crystal->reflexions->count < 2000; ++k) {
            for (int32_t l = -10; l <= 10 && crystal->reflexions->count < 2000; ++l) {
                if (h == 0 && k == 0 && l == 0) continue;
                Reflexion *r = makeReflexion();
                r->h = h;
                r->k = k;
                r->l = l;
                r->multiplicity = 2;
                r->dSpacing = dSpacingForHKL(crystal, h, k, l);
                addObjectToDynamicArray(crystal->reflexions, r);
            }
        }
    }
    runIntensities(state, crystal);
    freeRefinementCrystal(crystal);
}
BENCHMARK(P1CellOf500Atoms)->Unit(benchmark::kMillisecond);

}  // namespace
