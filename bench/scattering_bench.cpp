// The innermost calls of the structure-factor loop: a site's scattering power
// (two occupants, four exponentials each) and an anisotropic temperature
// factor, per reflexion.
#include <benchmark/benchmark.h>

#include "elements/elements.hpp"
#include "model/model.hpp"

namespace {

RefinementAtomicScatteringFactor *makeRecord(const double coefficients[9]) {
    RefinementAtomicScatteringFactor *record = makeRefinementAtomicScatteringFactor();
    for (int i = 0; i < 9; ++i) record->cromerMannCoefficients[i] = coefficients[i];
    record->hasCromerMannCoefficients = 1;
    return record;
}

void BM_SiteScatteringFactor(benchmark::State &state) {
    const double fe[9] = {11.7695, 4.7611, 7.3573, 0.3072, 3.5222, 15.3535, 2.3045, 76.8805, 1.0369};
    const double co[9] = {12.2841, 4.2791, 7.3409, 0.2784, 4.0034, 13.5359, 2.3488, 71.1692, 1.0118};
    Site *site = makeEmptySite();
    site->occupants = makeDynamicArrayWithCapacity(2);
    addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant("Fe", 0.5, makeRecord(fe)));
    addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant("Co", 0.5, makeRecord(co)));
    double d = 0.8;
    for (auto _ : state) {
        double f = powderkit::siteScatteringFactor(site, d, PK_RADIATION_XRAY);
        benchmark::DoNotOptimize(f);
        d = d < 3.0 ? d + 1e-3 : 0.8;
    }
    site->methods->freeSite(site);
}
BENCHMARK(BM_SiteScatteringFactor);

void BM_AnisotropicTemperatureFactor(benchmark::State &state) {
    RefinementThermalEllipsoidUij *record = makeRefinementThermalEllipsoidUij();
    const double u[3][3] = {{0.010, 0.002, 0.001}, {0.002, 0.012, 0.003}, {0.001, 0.003, 0.015}};
    for (int i = 0; i < 9; ++i) record->u[i / 3][i % 3] = u[i / 3][i % 3];
    record->isAnisotropic = 1;
    int32_t h = 1;
    for (auto _ : state) {
        double t = powderkit::temperatureFactor(record, h, 2, 3, 1.0, 0.2, 0.17, 0.12);
        benchmark::DoNotOptimize(t);
        h = h < 10 ? h + 1 : -10;
    }
    record->methods->freeRefinementThermalEllipsoidUij(record);
}
BENCHMARK(BM_AnisotropicTemperatureFactor);

}  // namespace
