// Indexing searches of simulated peak lists (25 lines, zero shift 0.05°,
// errors within ±0.015°, every sixth line missing), one system each and all
// of cubic to monoclinic with the volumes from the lines:
//  - BM_IndexCubicF, BM_IndexTetragonalI, BM_IndexOrthorhombicP: the higher
//    systems, expected in well under seconds;
//  - BM_IndexMonoclinic/V: a primitive monoclinic cell of about V Å³ (470 and
//    1,455), the search over cubic to monoclinic, one core;
//  - BM_IndexTriclinic/0: a triclinic cell of 382 Å³ whose three axial lines
//    (1 0 0, 0 1 0, 0 0 1 of its reduced reciprocal cell) are among the
//    lines; /1: one of 289 Å³ whose 0 0 1 is the missing fifth line, so that
//    the search needs its second stage. Triclinic searched alone, volumes
//    from the lines, zero shift ±0.1°.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "indexing/indexing.hpp"
#include "powderkit_phase.h"

namespace {

namespace ix = powderkit::indexing;
constexpr double kLambda = 1.5406;

std::vector<double> peakList(ix::LatticeSystem system, const std::array<double, 6> &cell, char centring) {
    const std::vector<double> p = ix::parametersOf(system, cell);
    std::vector<double> q;
    for (const ix::Hkl &hkl : ix::indexBox(system, 20)) {
        if (!ix::centringAllows(centring, hkl)) continue;
        const std::array<double, 6> c = ix::coefficients(system, hkl);
        double v = 0;
        for (std::size_t j = 0; j < p.size(); ++j) v += c[j] * p[j];
        if (v < ix::qAt(100, kLambda)) q.push_back(v);
    }
    std::sort(q.begin(), q.end());
    std::mt19937 random(1);
    std::uniform_real_distribution<double> error(-0.015, 0.015);
    std::vector<double> lines;
    for (std::size_t i = 0; i < q.size() && lines.size() < 25; ++i) {
        const double position = ix::twoThetaAt(q[i], kLambda) + 0.05;
        if (i % 6 == 4 || (!lines.empty() && position - lines.back() < 0.05)) continue;
        lines.push_back(position);
    }
    for (double &line : lines) line += error(random);
    std::sort(lines.begin(), lines.end());
    return lines;
}

void run(benchmark::State &state, const std::vector<double> &lines, int systems) {
    pk_index_options options;
    pk_index_options_default(&options);
    options.systems = systems;
    for (auto _ : state) {
        pk_indexing *result = nullptr;
        if (pk_index(lines.data(), nullptr, static_cast<int32_t>(lines.size()), kLambda, nullptr, nullptr, &options,
                     nullptr, nullptr, &result, nullptr) != PK_OK) {
            state.SkipWithError("pk_index failed");
            return;
        }
        benchmark::DoNotOptimize(result);
        pk_indexing_free(result);
    }
}

void BM_IndexCubicF(benchmark::State &state) {
    run(state, peakList(ix::LatticeSystem::Cubic, {8.08, 8.08, 8.08, 90, 90, 90}, 'F'), PK_SYSTEM_CUBIC);
}
void BM_IndexTetragonalI(benchmark::State &state) {
    run(state, peakList(ix::LatticeSystem::Tetragonal, {7.1, 7.1, 5.3, 90, 90, 90}, 'I'),
        PK_SYSTEM_CUBIC | PK_SYSTEM_TETRAGONAL | PK_SYSTEM_HEXAGONAL);
}
void BM_IndexOrthorhombicP(benchmark::State &state) {
    run(state, peakList(ix::LatticeSystem::Orthorhombic, {5.1, 7.3, 9.8, 90, 90, 90}, 'P'),
        PK_SYSTEM_CUBIC | PK_SYSTEM_TETRAGONAL | PK_SYSTEM_HEXAGONAL | PK_SYSTEM_ORTHORHOMBIC);
}
void BM_IndexMonoclinic(benchmark::State &state) {
    const std::array<double, 6> cell = state.range(0) < 1000 ? std::array<double, 6>{8.2, 6.1, 10.3, 90, 115, 90}
                                                             : std::array<double, 6>{11.9, 8.05, 15.3, 90, 97, 90};
    run(state, peakList(ix::LatticeSystem::Monoclinic, cell, 'P'), 0);
}

void BM_IndexTriclinic(benchmark::State &state) {
    const std::array<double, 6> cell = state.range(0) == 0 ? std::array<double, 6>{6.1, 7.4, 9.2, 101.3, 96.8, 107.4}
                                                           : std::array<double, 6>{5.3, 6.7, 8.9, 82.5, 77.3, 69.8};
    run(state, peakList(ix::LatticeSystem::Triclinic, cell, 'P'), PK_SYSTEM_TRICLINIC);
}

BENCHMARK(BM_IndexCubicF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexTetragonalI)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexOrthorhombicP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexMonoclinic)->Arg(470)->Arg(1455)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_IndexTriclinic)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
