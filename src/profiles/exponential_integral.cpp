// The exponential integral E1(z) = ∫_z^∞ e^(−t)/t dt of a complex argument on
// its principal branch, cut along the negative real axis. Near the origin (and
// close to the negative real axis out to |z| = 40) the power series
// E1(z) = −γ − ln z − Σ (−z)^k / (k k!) is summed; elsewhere the continued
// fraction E1(z) = e^(−z) / (z + 1/(1 + 1/(z + 2/(1 + 2/(z + …))))) is
// evaluated forwards (Abramowitz and Stegun 5.1.11 and 5.1.22).
#include <cmath>
#include <limits>

#include "frame/frame.hpp"
#include "profiles/profiles.hpp"

namespace powderkit {

namespace {

using Complex = std::complex<double>;

bool onNegativeRealAxis(Complex z) { return z.real() <= 0.0 && z.imag() == 0.0; }

Complex exponentialIntegralSeries(Complex z) {
    // c = 1 + Σ_{k≥1} r_k with r_k = −r_{k−1} k z / (k + 1)², so that
    // z c = Σ_{k≥1} (−1)^(k+1) z^k / (k k!).
    Complex sum(1.0, 0.0);
    Complex term(1.0, 0.0);
    for (int k = 1; k <= kExponentialIntegralMaxSteps; ++k) {
        const double kk = static_cast<double>(k);
        term = -term * kk * z / ((kk + 1.0) * (kk + 1.0));
        sum = sum + term;
        if (kExponentialIntegralTolerance * std::abs(sum) >= std::abs(term)) break;
    }
    if (onNegativeRealAxis(z)) {
        return -kEulerGamma - std::log(-z) + z * sum - Complex(0.0, kPi);
    }
    return -kEulerGamma - std::log(z) + z * sum;
}

Complex exponentialIntegralContinuedFraction(Complex z) {
    Complex d = 1.0 / z;
    Complex t = d;
    Complex s = t;
    for (int k = 1; k <= kExponentialIntegralMaxSteps; ++k) {
        const double kk = static_cast<double>(k);
        d = 1.0 / (kk * d + 1.0);
        t = (d - 1.0) * t;
        s = s + t;
        d = 1.0 / (kk * d + z);
        t = (z * d - 1.0) * t;
        s = s + t;
        if (kExponentialIntegralTolerance * std::abs(s) >= std::abs(t) &&
            k > kContinuedFractionMinSteps) {
            break;
        }
    }
    Complex e1 = std::exp(-z) * s;
    if (onNegativeRealAxis(z)) e1 = Complex(e1.real(), e1.imag() - kPi);
    return e1;
}

}  // namespace

std::complex<double> complexExponentialIntegral(std::complex<double> z) {
    const double modulus = std::hypot(z.real(), z.imag());
    if (modulus == 0.0) return Complex(std::numeric_limits<double>::infinity(), 0.0);
    const bool series = modulus <= kSeriesRadius ||
                        (z.real() < -2.0 * std::fabs(z.imag()) &&
                         modulus < kNegativeAxisSeriesRadius);
    return series ? exponentialIntegralSeries(z) : exponentialIntegralContinuedFraction(z);
}

double imaginaryPartOfExpTimesE1(std::complex<double> p, std::complex<double> e1) {
    const Complex expP = std::exp(p);
    const double value = expP.real() * e1.imag() + expP.imag() * e1.real();
    return std::isfinite(value) ? value : 0.0;
}

}  // namespace powderkit
