// Reads typed values off the front of a fuzz input, in order: one byte, a
// little-endian 32-bit integer, the raw 8 bytes of a double (so every bit
// pattern, NaN and the infinities included, can arrive), or a "value": one
// byte b, giving (b − 100) / 20 for b < 200 (ordinary numbers −5 … 4.95 in
// one byte) and otherwise a raw double. An exhausted input gives zeros.
// Seeds are written in the same layout by make_seeds.py.
#ifndef PK_FUZZ_INPUT_HPP
#define PK_FUZZ_INPUT_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pk_fuzz {

class Input {
public:
    Input(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    bool exhausted() const { return position_ >= size_; }
    std::size_t remaining() const { return exhausted() ? 0 : size_ - position_; }

    uint8_t byte() {
        if (exhausted()) return 0;
        return data_[position_++];
    }

    int32_t int32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(byte()) << (8 * i);
        int32_t result;
        std::memcpy(&result, &value, sizeof result);
        return result;
    }

    double real() {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(byte()) << (8 * i);
        double result;
        std::memcpy(&result, &bits, sizeof result);
        return result;
    }

    double value() {
        const uint8_t b = byte();
        if (b < 200) return (static_cast<double>(b) - 100.0) / 20.0;
        return real();
    }

private:
    const uint8_t *data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace pk_fuzz

#endif
