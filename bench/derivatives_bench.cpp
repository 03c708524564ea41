// Time per call of the derivative functions: every member of every profile
// derivative table (one pattern point per call, cycling over 64 points across
// the peak), and the four site derivatives per reflexion of corundum. The
// constant-wavelength peak sits at 2θ₀ ≈ 25°, below the asymmetry cut-off;
// "asymmetric" is P = 0.05 (the five-point average for the Lorentzian and
// pseudo-Voigt), "symmetric" is P = 0.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "powderkit.h"
#include "powderkit_phase.h"

namespace {

constexpr int kPoints = 64;

ProfileDerivativeFunction memberFor(const HashTable *table, const char *key) {
    void *value = pointerForKey(table, key);
    ProfileDerivativeFunction function = nullptr;
    std::memcpy(&function, &value, sizeof(function));
    return function;
}

// One peak of a triclinic crystal with its pattern parameters.
struct PeakCase {
    RefinementCrystal *crystal;
    RefinementProfile *profile;
    Reflexion *reflexion;
    double x[kPoints];
};

PeakCase makePeak(int32_t type, bool asymmetric) {
    PeakCase c{};
    c.crystal = makeEmptyRefinementCrystal();
    c.crystal->a = 5.1;
    c.crystal->b = 6.3;
    c.crystal->c = 7.2;
    c.crystal->alpha = 81.0;
    c.crystal->beta = 97.0;
    c.crystal->gamma = 104.0;
    calculateReciprocalCell(c.crystal);
    calculateMetricTensor(c.crystal);
    const bool tof = type >= 3;
    c.profile = makeRefinementProfile(tof ? 4 : 1, tof ? 3 : 2, type, 1.5406, 1.0, 150.0);
    c.profile->U = 0.004;
    c.profile->V = -0.002;
    c.profile->W = 0.003;
    c.profile->LX = 0.03;
    c.profile->LY = 0.01;
    c.profile->asymmetry = asymmetric ? 0.05 : 0.0;
    c.profile->sigma0 = 4.0;
    c.profile->sigma1 = 20.0;
    c.profile->sigma2 = 3.0;
    c.profile->alpha0 = 0.05;
    c.profile->alpha1 = 0.2;
    c.profile->beta0 = 0.03;
    c.profile->beta1 = 0.1;
    c.profile->gamma0 = 2.0;
    c.profile->gamma1 = 3.0;
    c.profile->gamma2 = 1.0;
    c.reflexion = makeReflexion();
    c.reflexion->h = 2;
    c.reflexion->k = -1;
    c.reflexion->l = 1;
    c.reflexion->dSpacing = dSpacingForHKL(c.crystal, 2, -1, 1);
    c.reflexion->peakPosition = xForReflexion(c.profile, c.reflexion);
    for (int i = 0; i < kPoints; ++i) {
        // ±0.5° of 2θ, or −30 … +90 µs of flight time.
        c.x[i] = tof ? c.reflexion->peakPosition + (-30.0 + 120.0 * i / 63.0) * 0.001
                     : c.reflexion->peakPosition - 0.5 + i / 63.0;
    }
    return c;
}

void runMember(benchmark::State &state, int32_t type, bool asymmetric, std::string key) {
    PeakCase c = makePeak(type, asymmetric);
    HashTable *table = ProfileDerivativesHashTable(type);
    const ProfileDerivativeFunction member = memberFor(table, key.c_str());
    int i = 0;
    for (auto _ : state) {
        double value = member(c.x[i], c.crystal, c.reflexion, c.profile);
        benchmark::DoNotOptimize(value);
        i = (i + 1) & (kPoints - 1);
    }
    freeHashTable(table);
    freeRefinementCrystal(c.crystal);
    freeRefinementProfile(c.profile);
    c.reflexion->methods->freeReflexion(c.reflexion);
}

const std::vector<std::string> kKeys[5] = {
    {"GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale",
     "Asymmetry"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "Scale"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "gamma1", "gamma2",
     "Scale"}};

const bool kRegistered = [] {
    for (int32_t type = 0; type < 5; ++type) {
        for (bool asymmetric : {false, true}) {
            if (type >= 3 && asymmetric) continue;
            for (const std::string &key : kKeys[type]) {
                const std::string name = "type" + std::to_string(type) +
                                         (type < 3 ? (asymmetric ? "/asymmetric/" : "/symmetric/")
                                                   : "/") +
                                         key;
                benchmark::RegisterBenchmark(name.c_str(), runMember, type, asymmetric, key);
            }
        }
    }
    return true;
}();

// The four site derivatives of the Al site of corundum over every reflexion
// with d ≥ 0.8 Å (intensities computed first), reported per reflexion.
enum class SiteParameter { occupancy, isotropic, anisotropic, axis };

void runSiteDerivative(benchmark::State &state, SiteParameter parameter) {
    pk_phase *phase = nullptr;
    RefinementCrystal *crystal = nullptr;
    if (pk_phase_from_cif_file(PK_EXAMPLE_DATA_DIR "/corundum.cif", nullptr, &phase, nullptr) != PK_OK ||
        pk_phase_core_crystal(phase, 0.8, &crystal, nullptr) != PK_OK) {
        state.SkipWithError("could not read corundum");
        pk_phase_free(phase);
        return;
    }
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, 1.5406, 5, 160);
    Site *site = static_cast<Site *>(crystal->sites->items[0]);
    auto *occupant = static_cast<RefinementSiteOccupant *>(site->occupants->items[0]);
    const DynamicArray *list = crystal->reflexions;
    for (int32_t i = 0; i < list->count; ++i) {
        calculateIntensityForReflexion(crystal, static_cast<Reflexion *>(list->items[i]), profile);
    }
    for (auto _ : state) {
        for (int32_t i = 0; i < list->count; ++i) {
            Reflexion *r = static_cast<Reflexion *>(list->items[i]);
            double value = 0.0;
            switch (parameter) {
                case SiteParameter::occupancy:
                    value = DiffReflexionIntensityWrtSiteOccupancy(crystal, r, profile, site,
                                                                   occupant);
                    break;
                case SiteParameter::isotropic:
                    value = DiffReflexionIntensityWrtSiteIsotropicTempFactor(crystal, r, profile,
                                                                             site, 0.003);
                    break;
                case SiteParameter::anisotropic:
                    value = DiffReflexionIntensityWrtSiteAnisotropicTempFactor(crystal, r,
                                                                               profile, site, 5);
                    break;
                case SiteParameter::axis:
                    value = DiffReflexionIntensityWrtSiteAxis(crystal, r, profile, site, 2);
                    break;
            }
            benchmark::DoNotOptimize(value);
        }
    }
    state.counters["reflexions"] = list->count;
    state.counters["positions"] = site->atoms->count;
    state.counters["per_reflexion"] = benchmark::Counter(
        list->count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    freeRefinementProfile(profile);
    freeRefinementCrystal(crystal);
    pk_phase_free(phase);
}

void CorundumSiteOccupancy(benchmark::State &s) { runSiteDerivative(s, SiteParameter::occupancy); }
void CorundumSiteUiso(benchmark::State &s) { runSiteDerivative(s, SiteParameter::isotropic); }
void CorundumSiteU13(benchmark::State &s) { runSiteDerivative(s, SiteParameter::anisotropic); }
void CorundumSiteZ(benchmark::State &s) { runSiteDerivative(s, SiteParameter::axis); }
BENCHMARK(CorundumSiteOccupancy)->Unit(benchmark::kMicrosecond);
BENCHMARK(CorundumSiteUiso)->Unit(benchmark::kMicrosecond);
BENCHMARK(CorundumSiteU13)->Unit(benchmark::kMicrosecond);
BENCHMARK(CorundumSiteZ)->Unit(benchmark::kMicrosecond);

}  // namespace
