// Elementary functions written as plain arithmetic, so that a compiler can
// run them on every lane of a vector: no library call, no branch, no table.
// Every operation is an IEEE addition, multiplication or bit move, and the
// project compiles without contraction (-ffp-contract=off), so the scalar,
// AVX2 and AVX-512 versions of a loop give the same bits on every machine.
#ifndef POWDERKIT_PHASE_VECTOR_MATH_HPP
#define POWDERKIT_PHASE_VECTOR_MATH_HPP

#include <cstdint>
#include <cstring>

// Compiles a function for AVX-512 and AVX2 beside the baseline, the loader
// picking the widest the processor has (function multi-versioning). Not
// under the sanitizers: their runtimes are not ready when the loader runs
// the version resolvers.
#if defined(__x86_64__) && defined(__ELF__) && defined(__has_attribute) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__)
#if __has_attribute(target_clones) && !defined(__clang__)
#define PK_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif
#endif
#ifndef PK_VECTOR_CLONES
#define PK_VECTOR_CLONES
#endif

namespace powderkit::phase {

// e^v for v ≤ 0, within 2 ulp of the exact value for v ≥ −708 and 0 below
// (where e^v < 3.3e−308). v = k ln 2 + r with k the nearest integer to
// v / ln 2 and |r| ≤ ln 2 / 2; ln 2 is split so that k ln 2_hi is exact; e^r
// is its Taylor series to r¹³ (truncation below 5e−18 relative); 2^k is made
// by writing k + 1023 into the exponent bits. k is rounded by adding and
// subtracting 1.5·2⁵², which leaves k in the low bits of the sum.
[[gnu::always_inline]] inline double expNonPositive(double v) {
    constexpr double kLog2e = 1.4426950408889634;
    constexpr double kLn2Hi = 6.93147180369123816490e-01;  // 32 significant bits: k·kLn2Hi is exact
    constexpr double kLn2Lo = 1.90821492927058770002e-10;
    constexpr double kShifter = 6755399441055744.0;  // 1.5 × 2^52
    constexpr double kLowest = -708.0;
    const double clamped = v < kLowest ? kLowest : v;
    const double shifted = clamped * kLog2e + kShifter;
    std::int64_t shiftedBits;
    std::memcpy(&shiftedBits, &shifted, sizeof shifted);
    const double k = shifted - kShifter;
    const double r = (clamped - k * kLn2Hi) - k * kLn2Lo;
    double p = 1.0 / 6227020800.0;  // 1/13!
    p = p * r + 1.0 / 479001600.0;
    p = p * r + 1.0 / 39916800.0;
    p = p * r + 1.0 / 3628800.0;
    p = p * r + 1.0 / 362880.0;
    p = p * r + 1.0 / 40320.0;
    p = p * r + 1.0 / 5040.0;
    p = p * r + 1.0 / 720.0;
    p = p * r + 1.0 / 120.0;
    p = p * r + 1.0 / 24.0;
    p = p * r + 1.0 / 6.0;
    p = p * r + 0.5;
    p = p * r + 1.0;
    p = p * r + 1.0;
    constexpr std::int64_t kShifterBits = 0x4338000000000000;  // the bits of 1.5 × 2^52
    const std::int64_t scaleBits = (shiftedBits - kShifterBits + 1023) << 52;
    double scale;
    std::memcpy(&scale, &scaleBits, sizeof scale);
    return v < kLowest ? 0.0 : p * scale;
}

// sin 2πt and cos 2πt, within 2e−16 of the exact values for |t| < 2⁵¹. The
// argument is reduced in turns, exactly: t − n for the nearest integer n,
// then by the nearest quarter turn q/4, leaving |s| ≤ 1/8 and u = 2πs with
// |u| ≤ π/4, where the Taylor series of sin u (to u¹⁵) and cos u (to u¹⁶)
// leave below 5e−17. The quarter turn then rotates (sin u, cos u) by q·90°:
// q mod 4 = 0 (sin u, cos u), 1 (cos u, −sin u), 2 (−sin u, −cos u),
// 3 (−cos u, sin u), done on the bits (swap where q is odd, sign flips from
// bit 1 of q and of q + 1). Rounding to the nearest integer adds and
// subtracts 1.5·2⁵² as in expNonPositive, which leaves q in the low bits.
[[gnu::always_inline]] inline void sinCosTurns(double t, double &sine, double &cosine) {
    constexpr double kShifter = 6755399441055744.0;  // 1.5 × 2^52
    constexpr std::int64_t kShifterBits = 0x4338000000000000;
    constexpr double kTwoPi = 6.283185307179586;
    const double whole = (t + kShifter) - kShifter;
    const double r = t - whole;  // exact: |r| ≤ 1/2
    const double shiftedQuarters = 4.0 * r + kShifter;
    const double quarters = shiftedQuarters - kShifter;  // −2 … 2
    const double u = kTwoPi * (r - 0.25 * quarters);    // r − q/4 is exact
    const double u2 = u * u;
    double sp = -1.0 / 1307674368000.0;  // −1/15!
    sp = sp * u2 + 1.0 / 6227020800.0;
    sp = sp * u2 - 1.0 / 39916800.0;
    sp = sp * u2 + 1.0 / 362880.0;
    sp = sp * u2 - 1.0 / 5040.0;
    sp = sp * u2 + 1.0 / 120.0;
    sp = sp * u2 - 1.0 / 6.0;
    const double su = u + u * (u2 * sp);
    double cp = 1.0 / 20922789888000.0;  // 1/16!
    cp = cp * u2 - 1.0 / 87178291200.0;
    cp = cp * u2 + 1.0 / 479001600.0;
    cp = cp * u2 - 1.0 / 3628800.0;
    cp = cp * u2 + 1.0 / 40320.0;
    cp = cp * u2 - 1.0 / 720.0;
    cp = cp * u2 + 1.0 / 24.0;
    cp = cp * u2 - 0.5;
    const double cu = 1.0 + u2 * cp;
    std::int64_t q, sBits, cBits;
    std::memcpy(&q, &shiftedQuarters, sizeof q);
    q = (q - kShifterBits) & 3;
    std::memcpy(&sBits, &su, sizeof sBits);
    std::memcpy(&cBits, &cu, sizeof cBits);
    const std::int64_t swap = -(q & 1);  // all ones where q is odd
    std::int64_t sineBits = (cBits & swap) | (sBits & ~swap);
    std::int64_t cosineBits = (sBits & swap) | (cBits & ~swap);
    sineBits ^= static_cast<std::int64_t>(static_cast<std::uint64_t>(q & 2) << 62);
    cosineBits ^= static_cast<std::int64_t>(static_cast<std::uint64_t>((q + 1) & 2) << 62);
    std::memcpy(&sine, &sineBits, sizeof sine);
    std::memcpy(&cosine, &cosineBits, sizeof cosine);
}

}  // namespace powderkit::phase

#endif
