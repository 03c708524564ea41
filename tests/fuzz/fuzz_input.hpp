// Reads a fuzz input from the front: a byte, a little-endian int32, or a "value": a byte b < 200
// giving (b − 100) / 20, else a raw double from the next 8 bytes; zeros once exhausted.
#ifndef PK_FUZZ_INPUT_HPP
#define PK_FUZZ_INPUT_HPP

#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "powderkit.h"

inline void check(bool condition, const char *what) {
    if (!condition) throw std::logic_error(what);  // uncaught: the run aborts, naming the property
}

namespace pk_fuzz {

struct Input {
    Input(const uint8_t *data, std::size_t size) : next(data), end(data + size) {}
    bool exhausted() const { return next >= end; }
    uint8_t byte() { return exhausted() ? 0 : *next++; }
    uint64_t bits(int bytes) {
        uint64_t raw = 0;
        for (int i = 0; i < bytes; ++i) raw |= static_cast<uint64_t>(byte()) << (8 * i);
        return raw;
    }
    int32_t int32() { return static_cast<int32_t>(static_cast<uint32_t>(bits(4))); }
    double value() {
        const uint8_t b = byte();
        if (b < 200) return (b - 100.0) / 20.0;
        const uint64_t raw = bits(8);
        double result;
        std::memcpy(&result, &raw, sizeof result);
        return result;
    }
    const uint8_t *next, *end;
};

// A profile: type byte (b % 5, an int32 after b ≥ 250), experiment/radiation/second-wavelength flags, 25 values.
inline void fillProfile(Input &in, RefinementProfile *p) {
    const uint8_t type = in.byte();
    p->profileType = type < 250 ? type % 5 : in.int32();
    const uint8_t codes = in.byte();
    p->experimentType = (codes & 1) != 0 ? PK_EXPERIMENT_TIME_OF_FLIGHT : 1 + (codes >> 1) % 2;
    p->radiationType = (codes & 4) != 0 ? PK_RADIATION_NEUTRON : PK_RADIATION_XRAY;
    p->useSecondaryWavelength = static_cast<uint8_t>((codes >> 3) & 1);
    for (double *field : {&p->U, &p->V, &p->W, &p->LX, &p->LY, &p->asymmetry, &p->wavelength, &p->secondaryWavelength,
                          &p->secondaryIntensityRatio, &p->tofTwoTheta, &p->dtt1, &p->dtt2, &p->sigma0, &p->sigma1,
                          &p->sigma2, &p->gamma0, &p->gamma1, &p->gamma2, &p->alpha0, &p->alpha1, &p->beta0,
                          &p->beta1, &p->zero, &p->xMin, &p->xMax}) *field = in.value();
}

}  // namespace pk_fuzz

#endif
