// The five peak shapes, their derivative functions (every entry of the
// derivative table of each type) and the complex exponential integral on
// arbitrary arguments: any profile record, any reflexion, any cell, any
// position, any asymmetry cut-off. Results may be NaN or infinite; the calls
// must return without a sanitizer report. E1 is also checked against its
// conjugate symmetry, E1(z̄) = conj(E1(z)), off the branch cut, wherever both
// values are finite.
//
// Layout: the profile and the reflexion as fuzz_records.hpp reads them, the
// asymmetry cut-off (value), the cell: a, b, c as 4 + value and the angles
// as 90 + 10·value, the scale (value), then any number of (x value, Re z
// value, Im z value) triples.
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_records.hpp"
#include "profiles/profiles.hpp"

namespace {

void checkConjugateSymmetry(std::complex<double> z) {
    if (!std::isfinite(z.real()) || !std::isfinite(z.imag())) return;
    if (z.imag() == 0.0 || std::abs(z) > 1e6 || std::abs(z) < 1e-6) return;
    const std::complex<double> e = powderkit::complexExponentialIntegral(z);
    const std::complex<double> f = powderkit::complexExponentialIntegral(std::conj(z));
    if (!std::isfinite(e.real()) || !std::isfinite(e.imag()) || !std::isfinite(f.real()) ||
        !std::isfinite(f.imag())) {
        return;
    }
    const double scale = std::abs(e) + 1e-300;
    if (std::abs(f - std::conj(e)) > 1e-9 * scale) {
        std::fprintf(stderr, "E1(conj z) != conj E1(z) at z = (%.17g, %.17g)\n", z.real(), z.imag());
        std::abort();
    }
}

// The functions of each profile type's derivative table, made once.
const std::vector<ProfileDerivativeFunction> &derivativesOf(int32_t type) {
    static std::vector<ProfileDerivativeFunction> tables[5];
    static bool made = false;
    if (!made) {
        for (int32_t t = 0; t < 5; ++t) {
            HashTable *table = ProfileDerivativesHashTable(t);
            if (table == nullptr) std::abort();
            for (int32_t i = 0; i < table->capacity; ++i) {
                if (table->entries[i].key == nullptr) continue;
                ProfileDerivativeFunction function;
                void *value = table->entries[i].value;
                std::memcpy(&function, &value, sizeof function);
                tables[t].push_back(function);
            }
            freeHashTable(table);
        }
        made = true;
    }
    return tables[type];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 10.0, 120.0);
    Reflexion *reflexion = makeReflexion();
    if (profile == nullptr || reflexion == nullptr) std::abort();
    pk_fuzz::fillProfile(in, profile);
    pk_fuzz::fillReflexion(in, reflexion);
    SetAsymmetryCutoff2Theta(in.value());
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    if (crystal == nullptr) std::abort();
    crystal->a = 4.0 + in.value();
    crystal->b = 4.0 + in.value();
    crystal->c = 4.0 + in.value();
    crystal->alpha = 90.0 + 10.0 * in.value();
    crystal->beta = 90.0 + 10.0 * in.value();
    crystal->gamma = 90.0 + 10.0 * in.value();
    crystal->scale = in.value();
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    volatile double sink = 0.0;
    for (int i = 0; i < 64 && !in.exhausted(); ++i) {
        const double x = in.value();
        const std::complex<double> z(in.value(), in.value());
        for (int32_t type = 0; type < 5; ++type) {
            const ProfileFunction shape = ProfileFuncForProfileType(type);
            if (shape == nullptr) std::abort();
            sink = sink + shape(x, reflexion, profile);
            for (ProfileDerivativeFunction derivative : derivativesOf(type)) {
                sink = sink + derivative(x, crystal, reflexion, profile);
            }
        }
        const std::complex<double> e = powderkit::complexExponentialIntegral(z);
        sink = sink + e.real() + e.imag();
        checkConjugateSymmetry(z);
    }
    (void)sink;
    SetAsymmetryCutoff2Theta(50.0);
    reflexion->methods->freeReflexion(reflexion);
    freeRefinementProfile(profile);
    freeRefinementCrystal(crystal);
    return 0;
}
