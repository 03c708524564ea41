// The peak shapes, their derivative tables and E1 on any arguments: they return, and E1(z̄) = conj E1(z)
// off the cut. Layout: profile, reflexion (h k l multiplicity bytes, d, position, a flag byte),
// asymmetry cut-off, a b c (4 + value), angles (90 + 10·value), scale, (x, Re z, Im z)…
#include <complex>

#include "fuzz_input.hpp"
#include "profiles/profiles.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 10.0, 120.0);
    Reflexion *r = makeReflexion();
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    pk_fuzz::fillProfile(in, profile);
    for (int32_t *index : {&r->h, &r->k, &r->l, &r->multiplicity}) *index = static_cast<int8_t>(in.byte());
    for (double *number : {&r->dSpacing, &r->peakPosition}) *number = in.value();
    r->isSecondaryWavelength = static_cast<uint8_t>(in.byte() & 1);
    SetAsymmetryCutoff2Theta(in.value());
    for (double *edge : {&crystal->a, &crystal->b, &crystal->c}) *edge = 4.0 + in.value();
    for (double *angle : {&crystal->alpha, &crystal->beta, &crystal->gamma}) *angle = 90.0 + 10.0 * in.value();
    crystal->scale = in.value();
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    for (int i = 0; i < 64 && !in.exhausted(); ++i) {
        const double x = in.value();
        const std::complex<double> z(in.value(), in.value());
        for (int32_t type = 0; type < 5; ++type) {
            (void)ProfileFuncForProfileType(type)(x, r, profile);
            HashTable *table = ProfileDerivativesHashTable(type);
            for (const HashTableEntry *e = table->entries; e < table->entries + table->capacity; ++e)
                if (e->key != nullptr) reinterpret_cast<ProfileDerivativeFunction>(e->value)(x, crystal, r, profile);
            freeHashTable(table);
        }
        const auto e = powderkit::complexExponentialIntegral(z);
        const auto f = powderkit::complexExponentialIntegral(std::conj(z));
        const bool comparable = z.imag() != 0.0 && std::abs(z) < 1e6 && std::abs(z) > 1e-6;  // off the cut; NaN passes
        check(!comparable || !(std::abs(f - std::conj(e)) > 1e-9 * std::abs(e)), "E1(z̄) is not conj E1(z)");
    }
    SetAsymmetryCutoff2Theta(50.0);
    r->methods->freeReflexion(r);
    freeRefinementProfile(profile);
    freeRefinementCrystal(crystal);
    return 0;
}
