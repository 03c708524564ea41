// f(z) = e^z E1(z) by region, each method with a fixed number of terms chosen
// from an error map against mpmath at 40 digits (the worst there 2.3e−14 of
// |f|; the test allows 1e−13), z = x + iy = r e^(iθ), y ≥ 0 (f(z̄) = f(z)‾):
//   r ≤ 2.2: the power series E1 = −γ − ln z + Σ (−1)^(k+1) z^k / (k k!)
//     (Abramowitz and Stegun 5.1.11), 12 to 22 terms, times e^z;
//   x ≤ −4, y ≤ 1.5 and y ≤ |x|/4 (close to the cut, where the time-of-flight
//     shapes live): Taylor's series in iy about the cut,
//     f(−x + iy) = e^(iy) f(−x) + Σ_{k≥1} (iy)^k / k! Σ_{j<k} j! / x^(j+1),
//     from f′ = f − 1/z, with f(−x) = −e^(−x) Ei(x) − iπ e^(−x) and
//     Ei(x) = γ + ln x + Σ x^k / (k k!) (no cancellation: every term positive);
//   r (1 + cos θ) ≤ 4.6, r < 54: the power series, 2.5 r + 20 terms; its terms
//     exceed the sum by at most e^(r (1 + cos θ)) ≈ 100, so rounding stays
//     below 1e−14;
//   r ≥ 54: the continued fraction below, 6 levels (on the cut the missing
//     −iπ e^z is below e^(−54));
//   elsewhere: the continued fraction
//     f = 1/(z + 1 − 1/(z + 3 − 4/(z + 5 − 9/(z + 7 − …)))) (5.1.22, even
//     form), evaluated backwards from a fixed depth that falls with r and
//     grows towards the cut.
// All complex arithmetic is written out, so that no library call checks for
// infinities on every product.
// Below, the lines of exponential_integral.hpp: the real axis' Taylor table,
// made once per process, and the sine-series tails of one line.
#include "boundary/constants.hpp"
#include "pattern/exponential_integral.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace powderkit::phase {

namespace {

using Complex = std::complex<double>;

constexpr double kEulerGamma = 0.57721566490153286061;

// e^z E1(z) from n terms of the power series.
Complex bySeries(double x, double y, int n) {
    double tr = 1.0, ti = 0.0, sr = 0.0, si = 0.0;  // t = (−z)^k / k!, s = Σ −t/k
    for (int k = 1; k <= n; ++k) {
        const double inverse = 1.0 / k;
        const double a = -(tr * x - ti * y) * inverse;
        const double b = -(tr * y + ti * x) * inverse;
        tr = a;
        ti = b;
        sr -= tr * inverse;
        si -= ti * inverse;
    }
    // E1 = −γ − ln z + s, ln z = ln r + iθ (θ = π on the negative real axis).
    const double er = -kEulerGamma - 0.5 * std::log(x * x + y * y) + sr;
    const double ei = -std::atan2(y, x) + si;
    const double scale = std::exp(x), c = std::cos(y), s = std::sin(y);
    return {scale * (c * er - s * ei), scale * (c * ei + s * er)};
}

// e^z E1(z) for z = −x + iy, x ≥ 4, y small: Taylor's series in iy, n terms,
// about f(−x), whose Ei(x) takes m terms.
Complex byTaylorAboutTheCut(double x, double y, int n, int m) {
    double term = 1.0, sum = 0.0;
    for (int k = 1; k <= m; ++k) {
        const double inverse = 1.0 / k;
        term *= x * inverse;
        sum += term * inverse;
    }
    const double decay = std::exp(-x);
    const double fr = -(kEulerGamma + std::log(x) + sum) * decay, fi = -kPi * decay;
    const double c = std::cos(y), s = std::sin(y);
    double rr = c * fr - s * fi, ri = s * fr + c * fi;
    double partial = 0.0, factorial = 1.0, power = 1.0 / x;  // Σ_{j<k} j!/x^(j+1), j!, 1/x^(j+1)
    const double inverseX = 1.0 / x;
    double pr = 1.0, pi = 0.0;  // (iy)^k / k!
    for (int k = 1; k <= n; ++k) {
        partial += factorial * power;
        factorial *= k;
        power *= inverseX;
        const double a = -pi * y / k, b = pr * y / k;
        pr = a;
        pi = b;
        rr += pr * partial;
        ri += pi * partial;
    }
    return {rr, ri};
}

// e^z E1(z) from the even continued fraction, `depth` levels.
Complex byContinuedFraction(double x, double y, int depth) {
    double tr = x + (2.0 * depth + 1.0), ti = y;
    for (int k = depth; k >= 1; --k) {
        const double m = static_cast<double>(k) * k / (tr * tr + ti * ti);
        tr = x + (2.0 * k - 1.0) - m * tr;
        ti = y + m * ti;
    }
    const double m = 1.0 / (tr * tr + ti * ti);
    return {tr * m, -ti * m};
}

// The continued fraction's depth at modulus r, for θ ≤ 90°; towards the cut
// it grows by the factor of fractionWidening.
int fractionDepth(double r) {
    if (r < 3.0) return 70;
    if (r < 4.5) return 45;
    if (r < 6.0) return 36;
    if (r < 8.0) return 28;
    if (r < 12.0) return 22;
    if (r < 20.0) return 16;
    if (r < 30.0) return 12;
    return 9;
}

double fractionWidening(double cosine) {
    if (cosine >= 0.0) return 1.0;                      // θ ≤ 90°
    if (cosine >= -0.5) return 1.6;                     // θ ≤ 120°
    if (cosine >= -0.7071067811865476) return 2.5;      // θ ≤ 135°
    return 4.0;
}

}  // namespace

Complex expTimesE1(Complex z) {
    const double x = z.real();
    if (z.imag() < 0.0) return std::conj(expTimesE1(std::conj(z)));
    const double y = z.imag() == 0.0 ? 0.0 : z.imag();  // −0 counts as the upper side
    const double r = std::hypot(x, y);
    if (std::isnan(r)) return {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
    if (r == 0.0) return {std::numeric_limits<double>::infinity(), 0.0};
    if (r >= 54.0) return byContinuedFraction(x, y, 6);
    if (r <= 2.2) return bySeries(x, y, r <= 0.5 ? 12 : r <= 1.2 ? 17 : 22);
    if (x <= -4.0 && y <= 1.5 && y <= -0.25 * x) {
        const double q = y / -x;
        const int byY = y <= 0.1 ? 9 : y <= 0.3 ? 12 : y <= 0.6 ? 15 : y <= 1.0 ? 18 : 22;
        const int byRatio = q <= 0.02 ? 9 : q <= 0.05 ? 12 : q <= 0.1 ? 16 : 27;
        return byTaylorAboutTheCut(-x, y, byY > byRatio ? byY : byRatio, static_cast<int>(2.4 * -x + 20.0));
    }
    const double cosine = x / r;
    if (r * (1.0 + cosine) <= 4.6) return bySeries(x, y, static_cast<int>(2.5 * r + 20.0));
    return byContinuedFraction(x, y, static_cast<int>(fractionDepth(r) * fractionWidening(cosine)));
}

namespace {

constexpr double kLineRatio = 0.15;       // the largest c/|x| the line's series takes
constexpr double kShortLineRatio = 0.04;  // the largest c/|x| its short form takes

// f's Taylor coefficients on the real axis, f⁽ᵏ⁾(x₀)/k!, at the middle x₀ of
// each bin: a_k = (a_(k−1) + (−1/x₀)^k) / k (from f′ = f − 1/z), on the
// negative axis in powers of |x| − |x₀|. a₀ = Re f(x₀): on the positive axis
// from the continued fraction n = 200/x₀ + 100 levels deep (its error, about
// e^(−4√(n x₀)), falls below the rounding; the series that expTimesE1 takes
// below |z| = 2.2 loses a digit to cancellation there), on the negative axis
// from expTimesE1, whose series have no cancellation there.
std::array<double, 2 * detail::kAxisNegative> makeAxisTable() {
    using namespace detail;
    std::array<double, 2 * kAxisNegative> table{};
    for (int side = 0; side < 2; ++side) {
        for (int bin = 0; bin < kAxisBins; ++bin) {
            const std::uint64_t bits = ((kAxisFirstBin + static_cast<std::uint64_t>(bin)) << 49) |
                                       (std::uint64_t{1} << 48);
            double middle;
            std::memcpy(&middle, &bits, sizeof middle);
            if (bin >= kAxisOctaveBins) middle = kAxisUnitBins + (bin - kAxisOctaveBins) + 0.5;
            const double node = side == 0 ? middle : -middle;
            double *row = table.data() + side * kAxisNegative + bin * kAxisRow;
            row[kAxisTerms] = side == 0 ? 0.0 : kPi * std::exp(node);
            double a = side == 0 ? byContinuedFraction(node, 0.0, static_cast<int>(200.0 / node) + 100).real()
                                 : expTimesE1({node, 0.0}).real();
            double power = 1.0;
            row[0] = a;
            for (int k = 1; k < kAxisTerms; ++k) {
                power *= -1.0 / node;
                a = (a + power) / k;
                row[k] = side == 0 || k % 2 == 0 ? a : -a;
            }
        }
    }
    return table;
}

// The power series' part E1 + γ + ln z = Σ_{k=1}^{24} (−1)^(k+1) z^k / (k k!),
// its terms below 2.03^25 / (25 · 25!) ≈ 1e−19 beyond for |z| < 2.03.
constexpr int kNearTerms = 25;
constexpr std::array<double, kNearTerms> kEntirePart = [] {
    std::array<double, kNearTerms> a{};
    double factorial = 1.0;
    for (int k = 1; k < kNearTerms; ++k) {
        factorial *= k;
        a[k] = (k % 2 == 1 ? 1.0 : -1.0) / (k * factorial);
    }
    return a;
}();
constexpr double kNearLimit = 0.3;  // the largest c whose inner limit (c/0.15) keeps |z| < 2.03

}  // namespace

// Im f(x + ic) = e^x (sin c Re E1 + cos c Im E1), E1 = −γ − ln|z| − i arg z + Σ a_k z^k.
double imagExpTimesE1Near(const ExpE1Line &line, double x) {
    if (!line.nearSeries || !(std::fabs(x) < line.inner)) return expTimesE1({x, line.sign * line.c}).imag();
    // Σ a_k z^k as even(z²) + z odd(z²), z² = p + iq.
    const double c = line.c, p = x * x - c * c, q = 2.0 * x * c;
    double evenR = kEntirePart[kNearTerms - 1], evenI = 0.0, oddR = kEntirePart[kNearTerms - 2], oddI = 0.0;
    for (int k = kNearTerms - 3; k >= 0; k -= 2) {
        const double r = evenR * p - evenI * q + kEntirePart[k];
        evenI = evenR * q + evenI * p;
        evenR = r;
        if (k >= 2) {
            const double s = oddR * p - oddI * q + kEntirePart[k - 1];
            oddI = oddR * q + oddI * p;
            oddR = s;
        }
    }
    const double sumR = evenR + (x * oddR - c * oddI), sumI = evenI + (x * oddI + c * oddR);
    const double real = -kEulerGamma - 0.5 * std::log(x * x + c * c) + sumR;
    const double imaginary = sumI - std::atan2(c, x);
    return line.sign * std::exp(x) * (line.sine * real + line.cosine * imaginary);
}

ExpE1Line makeExpE1Line(double imaginary) {
    static const std::array<double, 2 * detail::kAxisNegative> table = makeAxisTable();
    constexpr int kTerms = ExpE1Line::kTerms;
    ExpE1Line line;
    line.table = table.data();
    line.sign = imaginary < 0.0 ? -1.0 : 1.0;
    const double c = std::fabs(imaginary);
    line.c = c;
    line.sine = std::sin(c);
    line.cosine = std::cos(c);
    line.inner = std::isfinite(c) ? std::max(c / kLineRatio, 0.0625) : std::numeric_limits<double>::infinity();
    line.shortFrom = c / kShortLineRatio;
    line.nearSeries = c > 0.0 && c <= kNearLimit;
    // The odd terms (−1)^((k−1)/2) c^k / k! of sin c, their heads H_j (k ≤ j)
    // and tails W_j = sin c − H_j (k > j). Up to c = 1 the tails are summed
    // from their small end (the terms fall from the first, so no digit is
    // lost); above, they are sin c less the head, whose terms stay below e^c.
    constexpr int kLast = kTerms + 40;  // c^k / k! < 1e−48 beyond, for c ≤ 1
    std::array<double, kLast + 1> terms{};
    double term = 1.0;
    for (int k = 1; k <= kLast; ++k) {
        term *= c / k;
        if (k % 2 == 1) terms[k] = (k / 2) % 2 == 0 ? term : -term;
    }
    std::array<double, kTerms> heads{}, tails{};
    for (int j = 1; j < kTerms; ++j) heads[j] = heads[j - 1] + terms[j];
    if (c <= 1.0) {
        double sum = 0.0;
        for (int k = kLast; k >= 1; --k) {
            if (k < kTerms) tails[k] = sum;
            sum += terms[k];
        }
        tails[0] = sum;
    } else {
        for (int j = 0; j < kTerms; ++j) tails[j] = line.sine - heads[j];
    }
    // d_j = (−1)^j j! W_j; far_j = (−1)^j j! sin c − d_j = (−1)^j j! H_j.
    double factorial = 1.0;
    for (int j = 0; j < kTerms; ++j) {
        if (j > 0) factorial *= j;
        const double signedFactorial = j % 2 == 0 ? factorial : -factorial;
        line.d[j] = signedFactorial * tails[j];
        line.far[j] = signedFactorial * heads[j];
    }
    return line;
}

}  // namespace powderkit::phase
