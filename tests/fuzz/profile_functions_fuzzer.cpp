// The peak shapes, their derivative tables and E1 on any arguments: they return,
// and E1(z̄) = conj E1(z) off the cut. Layout: profile, reflexion, asymmetry
// cut-off, a b c (4 + value), angles (90 + 10·value), scale, (x, Re z, Im z)…
#include <complex>
#include <vector>

#include "fuzz_input.hpp"
#include "profiles/profiles.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static std::vector<ProfileDerivativeFunction> derivatives[5];  // of each profile type, made once
    for (int32_t type = 0; type < 5 && derivatives[type].empty(); ++type) {
        HashTable *table = ProfileDerivativesHashTable(type);
        for (int32_t i = 0; i < table->capacity; ++i) {
            if (table->entries[i].key != nullptr) derivatives[type].push_back(reinterpret_cast<ProfileDerivativeFunction>(table->entries[i].value));
        }
        freeHashTable(table);
    }
    pk_fuzz::Input in(data, size);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 10.0, 120.0);
    Reflexion *reflexion = makeReflexion();
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    pk_fuzz::fillProfile(in, profile);
    pk_fuzz::fillReflexion(in, reflexion);
    SetAsymmetryCutoff2Theta(in.value());
    for (double *edge : {&crystal->a, &crystal->b, &crystal->c}) *edge = 4.0 + in.value();
    for (double *angle : {&crystal->alpha, &crystal->beta, &crystal->gamma}) *angle = 90.0 + 10.0 * in.value();
    crystal->scale = in.value();
    calculateReciprocalCell(crystal), calculateMetricTensor(crystal);
    for (int i = 0; i < 64 && !in.exhausted(); ++i) {
        const double x = in.value();
        const std::complex<double> z(in.value(), in.value());
        for (int32_t type = 0; type < 5; ++type) {
            (void)ProfileFuncForProfileType(type)(x, reflexion, profile);
            for (ProfileDerivativeFunction derivative : derivatives[type]) (void)derivative(x, crystal, reflexion, profile);
        }
        const std::complex<double> e = powderkit::complexExponentialIntegral(z), f = powderkit::complexExponentialIntegral(std::conj(z));
        if (std::isfinite(std::abs(e)) && std::isfinite(std::abs(f)) && z.imag() != 0.0 && std::abs(z) < 1e6 && std::abs(z) > 1e-6) {
            pk_fuzz::check(std::abs(f - std::conj(e)) <= 1e-9 * (std::abs(e) + 1e-300), "E1(conj z) differs from conj E1(z)");
        }
    }
    SetAsymmetryCutoff2Theta(50.0);
    reflexion->methods->freeReflexion(reflexion), freeRefinementProfile(profile), freeRefinementCrystal(crystal);
    return 0;
}
