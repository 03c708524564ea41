// The exponential integral as the time-of-flight kernels need it: the layer's
// own, chosen per region of the plane for speed, and along the horizontal
// lines on which one reflexion's peak evaluates it, with the work that
// depends on the line alone done once. The core's complexExponentialIntegral
// stays the reference.
#ifndef POWDERKIT_PHASE_EXPONENTIAL_INTEGRAL_HPP
#define POWDERKIT_PHASE_EXPONENTIAL_INTEGRAL_HPP

#include <array>
#include <complex>
#include <cstdint>
#include <cstring>

namespace powderkit::phase {

// f(z) = e^z E1(z), E1 on its principal branch cut along the negative real
// axis, the axis itself taking the upper side's value (Im E1 = −π there), as
// the core does. Within 1e−13 of |f| over the whole plane (a test holds it to
// a table worked out at 40 digits). Infinite at z = 0.
std::complex<double> expTimesE1(std::complex<double> z);

// Im f(x + ic) for real x on one line, c fixed: f's Taylor series in ic
// about the real point x (f′ = f − 1/z, so f⁽ᵏ⁾ = f − Σ_{j<k} (−1)^j j!/x^(j+1)),
// summed over k first:
//   Im f(x + ic) = sin c Re f(x) + cos c Im f(x) − Σ_j d_j / x^(j+1),
//   d_j = (−1)^j j! W_j,  W_j = Σ_{k odd, k > j} (−1)^((k−1)/2) c^k / k!
// (the tails of the sine series), with Im f(x) = −π e^x on the negative axis
// and 0 on the positive one. The terms beyond j = J add at most
// ρ^(J+2) / ((J+2)(1 − ρ)), ρ = c/|x|: with 17 terms and ρ ≤ 0.15, below
// 1e−16. Re f on the real axis:
//   |x| < 64: its Taylor polynomial, 14 terms, about the middle x₀ of a bin,
//     eight bins per octave below 8, one per unit above (|t| ≤ |x₀|/17 and
//     |t| ≤ 1/2, where the terms fall like (t/x₀)^k / k and the rounding of
//     the coefficients grows no more than e^|t|);
//   |x| ≥ 64: its asymptotic series Σ (−1)^j j!/x^(j+1), which with 17 terms
//     is within 17!/64^18 ≈ 1e−18, merged with the sum above into one
//     polynomial in 1/x (e^x < 1e−27 there);
// and π e^x on the negative axis, left out below x = −40 (π e^−40 ≈ 1.3e−17).
// Where |x| < c/0.15 or |x| < 1/16, for 0 < c ≤ 0.3 (|z| < 2.03 there) the
// power series of expTimesE1 answers with e^(ic) taken from the line;
// otherwise (and for a NaN or an infinity) the general expTimesE1. Against mpmath the lines come within a few
// 1e−16 of |f|; the tests hold them to the 40-digit table (1e−13 of |f|)
// and the time-of-flight peaks to expTimesE1 (1e−12 of the peak).
struct ExpE1Line {
    static constexpr int kTerms = 17;
    static constexpr int kShortTerms = 9;  // for ρ ≤ 0.04: below 0.04^11 / 11 / 0.96 ≈ 4e−17
    double c = 0.0;       // |Im z|
    double sign = 1.0;    // −1 below the axis: Im f(z̄) = −Im f(z)
    double sine = 0.0;    // sin c
    double cosine = 1.0;  // cos c
    double inner = 0.0;   // the smallest |x| this line's series takes
    double shortFrom = 0.0;  // the smallest |x| that its first kShortTerms terms serve (c/0.04)
    bool nearSeries = false;  // below `inner`, the power series (0 < c ≤ 0.3)
    std::array<double, kTerms> d{};
    std::array<double, kTerms> far{};  // (−1)^j j! sin c − d_j, for |x| ≥ 64
    const double *table = nullptr;     // the real axis' Taylor coefficients
};

// The line Im z = imaginary.
ExpE1Line makeExpE1Line(double imaginary);

// Im f(x + ic) on `line` where its series do not reach: for |x| below its
// inner limit, and for a NaN or an infinity.
double imagExpTimesE1Near(const ExpE1Line &line, double x);

namespace detail {
constexpr int kAxisTerms = 14;                          // Taylor terms per bin of the real axis
constexpr int kAxisRow = 16;                            // the terms, π e^(x₀) (negative axis) and a pad
constexpr int kAxisOctaveBins = 56;                     // 8 per octave, |x| from 2^−4 to 8
constexpr int kAxisBins = kAxisOctaveBins + 56;         // then one per unit to 64
constexpr int kAxisNegative = kAxisBins * kAxisRow;     // where the negative axis' bins start
constexpr std::uint64_t kAxisFirstBin = 1019u << 3;     // the exponent and 3 leading bits of 2^−4
constexpr double kAxisUnitBins = 8.0;
constexpr double kAxisEnd = 64.0;

// c₀ + c₁ x + … + c_(N−1) x^(N−1) as four interleaved chains in x⁴, which
// shortens the chain of dependent operations about fourfold.
template <int N>
[[gnu::always_inline]] inline double polynomial(const double *c, double x) {
    static_assert(N >= 4);
    const double x2 = x * x, x4 = x2 * x2;
    double p[4];
    for (int r = 0; r < 4; ++r) {
        const int top = r + 4 * ((N - 1 - r) / 4);
        double sum = c[top];
        for (int k = top - 4; k >= r; k -= 4) sum = sum * x4 + c[k];
        p[r] = sum;
    }
    return (p[0] + x * p[1]) + x2 * (p[2] + x * p[3]);
}

// e^(−t) for |t| ≤ 1/2: its Taylor series to t¹⁵ (truncation below 1e−17).
constexpr double kExpMinusTaylor[16] = {1.0, -1.0, 1.0 / 2, -1.0 / 6, 1.0 / 24, -1.0 / 120, 1.0 / 720,
                                        -1.0 / 5040, 1.0 / 40320, -1.0 / 362880, 1.0 / 3628800,
                                        -1.0 / 39916800, 1.0 / 479001600, -1.0 / 6227020800,
                                        1.0 / 87178291200, -1.0 / 1307674368000};
}  // namespace detail

// Im f(x + ic) on `line` (its sign included).
[[gnu::always_inline]] inline double imagExpTimesE1(const ExpE1Line &line, double x) {
    using namespace detail;
    const double a = x < 0.0 ? -x : x;
    if (!(a >= line.inner && a <= 1e300)) return imagExpTimesE1Near(line, x);
    const double u = 1.0 / x;
    if (a >= kAxisEnd) return line.sign * (u * polynomial<ExpE1Line::kTerms>(line.far.data(), u));
    int bin;
    double middle;
    if (a < kAxisUnitBins) {
        std::uint64_t bits;
        std::memcpy(&bits, &a, sizeof a);
        bin = static_cast<int>((bits >> 49) - kAxisFirstBin);
        const std::uint64_t middleBits = (bits & ~((std::uint64_t{1} << 49) - 1)) | (std::uint64_t{1} << 48);
        std::memcpy(&middle, &middleBits, sizeof middle);
    } else {
        const int whole = static_cast<int>(a);
        bin = kAxisOctaveBins + whole - static_cast<int>(kAxisUnitBins);
        middle = whole + 0.5;
    }
    const double t = a - middle;  // exact
    const double *row = line.table + (x < 0.0 ? kAxisNegative : 0) + bin * kAxisRow;
    const double real = polynomial<kAxisTerms>(row, t);
    const double tail = a >= line.shortFrom ? polynomial<ExpE1Line::kShortTerms>(line.d.data(), u)
                                            : polynomial<ExpE1Line::kTerms>(line.d.data(), u);
    double value = line.sine * real - u * tail;
    if (x < 0.0 && x > -40.0) value -= line.cosine * (row[kAxisTerms] * polynomial<16>(kExpMinusTaylor, t));
    return line.sign * value;
}

}  // namespace powderkit::phase

#endif
