// Reads a fuzz input from the front: a byte, a little-endian int32, a raw double, or a "value":
// a byte b < 200 giving (b − 100) / 20, else a raw double; zeros once exhausted.
#ifndef PK_FUZZ_INPUT_HPP
#define PK_FUZZ_INPUT_HPP

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "powderkit.h"

namespace pk_fuzz {

class Input {
public:
    Input(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool exhausted() const { return position_ >= size_; }
    uint8_t byte() { return exhausted() ? 0 : data_[position_++]; }
    int32_t int32() { return static_cast<int32_t>(static_cast<uint32_t>(bits(4))); }
    double value() { return small(byte()); }

private:
    double small(uint8_t b) { return b < 200 ? (b - 100.0) / 20.0 : real(); }
    double real() {
        const uint64_t raw = bits(8);
        double result;
        return std::memcpy(&result, &raw, sizeof result), result;
    }
    uint64_t bits(int bytes) {
        uint64_t raw = 0;
        for (int i = 0; i < bytes; ++i) raw |= static_cast<uint64_t>(byte()) << (8 * i);
        return raw;
    }
    const uint8_t *data_;
    std::size_t size_, position_ = 0;
};

inline void check(bool condition, const char *what) {
    if (!condition) std::fprintf(stderr, "%s\n", what), std::abort();
}

// A profile: a type byte (b % 5, any int32 after b ≥ 250), a byte of experiment,
// radiation and second-wavelength flags, and its 25 numbers as values.
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
                          &p->beta1, &p->zero, &p->xMin, &p->xMax}) {
        *field = in.value();
    }
}

}  // namespace pk_fuzz

#endif
