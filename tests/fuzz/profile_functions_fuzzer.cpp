// The five peak shapes and the complex exponential integral on arbitrary
// arguments: any profile record, any reflexion, any position, any asymmetry
// cut-off. Results may be NaN or infinite; the calls must return without a
// sanitizer report. E1 is also checked against its conjugate symmetry,
// E1(z̄) = conj(E1(z)), off the branch cut, wherever both values are finite.
//
// Layout: the profile and the reflexion as fuzz_records.hpp reads them, the
// asymmetry cut-off (value), then any number of (x value, Re z value, Im z
// value) triples.
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 10.0, 120.0);
    Reflexion *reflexion = makeReflexion();
    if (profile == nullptr || reflexion == nullptr) std::abort();
    pk_fuzz::fillProfile(in, profile);
    pk_fuzz::fillReflexion(in, reflexion);
    SetAsymmetryCutoff2Theta(in.value());
    volatile double sink = 0.0;
    for (int i = 0; i < 64 && !in.exhausted(); ++i) {
        const double x = in.value();
        const std::complex<double> z(in.value(), in.value());
        for (int32_t type = 0; type < 5; ++type) {
            const ProfileFunction shape = ProfileFuncForProfileType(type);
            if (shape == nullptr) std::abort();
            sink = sink + shape(x, reflexion, profile);
        }
        const std::complex<double> e = powderkit::complexExponentialIntegral(z);
        sink = sink + e.real() + e.imag();
        checkConjugateSymmetry(z);
    }
    (void)sink;
    SetAsymmetryCutoff2Theta(50.0);
    reflexion->methods->freeReflexion(reflexion);
    freeRefinementProfile(profile);
    return 0;
}
