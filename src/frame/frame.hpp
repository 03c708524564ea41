// Internal interface of the frame: the numerical constants, the process-wide
// values and the registration of those the folders above own, the zero
// tolerance, the three text-output routines, 32-bit integer helpers and the
// container routines that the public header does not export.
#ifndef POWDERKIT_FRAME_HPP
#define POWDERKIT_FRAME_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "powderkit.h"

namespace powderkit {

// Numerical constants shared across the library, each written once with the
// exact digits the library's results depend on. The angle conversions are the
// truncated 13-digit values, not full-precision ones: keep them as they are.
constexpr double kDegreesToRadians = 0.0174532925199;
constexpr double kRadiansToDegrees = 57.2957795131;
// Half the degree-to-radian factor: 2θ in degrees to θ in radians.
constexpr double kHalfDegreesToRadians = 0.00872664625995;
// Twice the radian-to-degree factor: θ in radians to 2θ in degrees.
constexpr double kTwiceRadiansToDegrees = 114.5915590262;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
// 4π, of the unit Lorentzian's rates.
constexpr double kFourPi = 12.566370614359172;
constexpr double kHalfPi = 1.5707963267948966;

// Unit roundoff of double arithmetic, 2^-53, found by halving at load time.
extern double machineEpsilon;

// Magnitudes below 512 × machineEpsilon (2^-44) count as zero.
inline double zeroTolerance() { return 512.0 * machineEpsilon; }

// The process-wide 100-byte error buffer (also returned by GetErrorBuffer).
char *errorBuffer();

// Process-wide values owned by the folders above (the element table copy):
// a folder registers its pair from a load-time constructor of its own, which
// runs after the frame's. `initialize` runs at once; `release` runs at unload
// time from the frame's destructor, the last registered first. At most
// kMaxProcessValues pairs are kept; beyond that `initialize` does not run, and
// the value stays absent as when it could not be made.
constexpr int kMaxProcessValues = 4;
void registerProcessValue(void (*initialize)(), void (*release)());

// printf-style output to `stream`; returns the number of characters written.
int printToStream(std::FILE *stream, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// printf-style output to standard output.
void printToStandardOutput(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Writes at most capacity − 1 characters and a NUL; returns the length the
// whole text would have had, or −1 if formatting failed.
int formatIntoBuffer(char *destination, std::size_t capacity, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Products "in 32-bit arithmetic": wrapping, so out-of-range inputs are defined.
inline int32_t multiplyInt32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int32_t addInt32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t subtractInt32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Truncation of a double toward zero into a 32-bit integer, clamped to the
// int32 range first (NaN gives 0) so that no input is undefined behaviour.
inline int32_t truncateToInt32(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(value);
}

// A heap copy of a NUL-terminated text (malloc + memcpy), or nullptr.
char *copyText(const char *text);

// A hash table with `capacity` zero-filled slots, or nullptr.
HashTable *makeHashTableWithCapacity(int32_t capacity);

}  // namespace powderkit

#endif
