// The structure-factor loop: the core's calculateIntensityForReflexion over
// every reflexion with d >= 0.8 Å of corundum, and over 2000 reflexions of a
// P1 cell holding 500 atoms of alternating elements (so every site evaluates
// its scattering factor); the phase layer's loop (StructureFactors and
// setIntensity) over the same 2000; and the whole reflexion list of that cell
// down to 0.8 Å as a user asks for it (pk_reflexion_list_make: the plane
// sets, structure factors, Lp and positions). Reported per reflexion and per
// (reflexion × position).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "powderkit.h"
#include "reflexions/structure_factors.hpp"
#include "powderkit_phase.h"

namespace {

// The core's crystal of a phase (sites, scattering data, displacements) with
// its reflexions down to dMin, or none when dMin is 0; the phase is released
// with the crystal by releaseCrystal.
RefinementCrystal *coreCrystal(pk_phase *phase, double dMin) {
    RefinementCrystal *crystal = nullptr;
    if (phase == nullptr || pk_phase_core_crystal(phase, dMin, &crystal, nullptr) != PK_OK) return nullptr;
    return crystal;
}

void releaseCrystal(RefinementCrystal *crystal, pk_phase *phase) {
    freeRefinementCrystal(crystal);  // before the phase, whose texts it points at
    pk_phase_free(phase);
}

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
    pk_phase *phase = nullptr;
    pk_phase_from_cif_file(PK_EXAMPLE_DATA_DIR "/corundum.cif", nullptr, &phase, nullptr);
    RefinementCrystal *crystal = coreCrystal(phase, 0.8);
    if (crystal == nullptr) {
        state.SkipWithError("could not read corundum");
    } else {
        runIntensities(state, crystal);
    }
    releaseCrystal(crystal, phase);
}
BENCHMARK(CorundumIntensities)->Unit(benchmark::kMicrosecond);

// The P1 cell: 500 positions of O, Si, Fe and C, Uiso 0.01 Å².
pk_phase *p1Cell() {
    const double cell[6] = {21.3, 18.7, 24.1, 88.0, 97.0, 103.0};
    const char *elements[] = {"O", "Si", "Fe", "C"};
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0;
    };
    std::vector<std::string> labels;
    for (int i = 0; i < 500; ++i) labels.push_back("A" + std::to_string(i));
    std::vector<pk_site> sites(500);
    for (int i = 0; i < 500; ++i) {
        pk_site &site = sites[static_cast<std::size_t>(i)];
        site.label = labels[static_cast<std::size_t>(i)].c_str();
        site.type = elements[i % 4];
        site.x = next();
        site.y = next();
        site.z = next();
        site.occupancy = 1.0;
        site.u_iso = 0.01;
    }
    const char *identity = "x,y,z";
    pk_phase *phase = nullptr;
    pk_phase_from_operators("P1 cell", &identity, 1, cell, sites.data(), 500, &phase, nullptr);
    return phase;
}

// 2000 reflexions of the P1 cell, h 0 … 19, k and l −10 … 10, in a fresh core crystal.
RefinementCrystal *p1Crystal(pk_phase *phase) {
    RefinementCrystal *crystal = coreCrystal(phase, 0.0);
    if (crystal == nullptr) return nullptr;
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
    return crystal;
}

void P1CellOf500Atoms(benchmark::State &state) {
    pk_phase *phase = p1Cell();
    RefinementCrystal *crystal = p1Crystal(phase);
    if (crystal == nullptr) {
        state.SkipWithError("could not make the P1 cell");
    } else {
        runIntensities(state, crystal);
    }
    releaseCrystal(crystal, phase);
}
BENCHMARK(P1CellOf500Atoms)->Unit(benchmark::kMillisecond);

// The phase layer's loop over the same 2000 reflexions.
void P1CellOf500AtomsLayer(benchmark::State &state) {
    pk_phase *phase = p1Cell();
    RefinementCrystal *crystal = p1Crystal(phase);
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, 1.5406, 5, 160);
    const powderkit::phase::StructureFactors kernel(crystal);
    powderkit::phase::StructureFactors::Scratch scratch;
    const DynamicArray *list = crystal->reflexions;
    for (auto _ : state) {
        for (int32_t i = 0; i < list->count; ++i) {
            auto *r = static_cast<Reflexion *>(list->items[i]);
            kernel.compute(*r, PK_RADIATION_XRAY, scratch);
            powderkit::phase::setIntensity(crystal, *r, profile);
        }
        benchmark::ClobberMemory();
    }
    state.counters["per_reflexion_position"] =
        benchmark::Counter(static_cast<double>(list->count) * positionCount(crystal),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    freeRefinementProfile(profile);
    releaseCrystal(crystal, phase);
}
BENCHMARK(P1CellOf500AtomsLayer)->Unit(benchmark::kMillisecond);

// The whole list down to 0.8 Å at 0.5 Å (every reflexion visible), as a user asks for it; without (0) and with (1)
// anomalous dispersion.
void P1CellReflexionList(benchmark::State &state) {
    pk_phase *phase = p1Cell();
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.wavelength = 0.5;
    instrument.dispersion = static_cast<int32_t>(state.range(0));
    int32_t count = 0;
    for (auto _ : state) {
        pk_reflexion_list *list = nullptr;
        pk_reflexion_list_make(phase, &instrument, PK_LIMIT_D_MIN, 0.8, &list, nullptr);
        count = pk_reflexion_list_count(list);
        pk_reflexion_list_free(list);
    }
    state.counters["reflexions"] = count;
    state.counters["per_reflexion_position"] = benchmark::Counter(
        500.0 * count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    pk_phase_free(phase);
}
BENCHMARK(P1CellReflexionList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
