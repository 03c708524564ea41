// The patterns' fast paths against slow, plain references: the vectorisable e^v against long double, each window
// loop against the per-point shapes (std::exp) over whole windows, tails included, the layer's e^z E1(z) against a
// table worked out at 40 digits, and its time-of-flight peaks against the core's shapes and, with a Lorentzian part,
// against the convolution by quadrature.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <random>
#include <utility>
#include <vector>

#include "boundary/constants.hpp"
#include "pattern/peak_shapes.hpp"
#include "pattern/exponential_integral.hpp"
#include "pattern/tof_peaks.hpp"
#include "reflexions/vector_math.hpp"
#include "pattern/window_kernels.hpp"
#include "profiles/profiles.hpp"

namespace {

using namespace powderkit::phase;
using powderkit::TofPseudoVoigtTerms;
using powderkit::tofExpPseudoVoigtTerms;

// Distance in units in the last place of the exact value.
double ulps(double value, long double exact) {
    const double nearest = static_cast<double>(exact);
    const double ulp = std::nextafter(nearest, INFINITY) - nearest;
    return static_cast<double>(std::fabs(static_cast<long double>(value) - exact) / ulp);
}

// Within 2 ulp over [−708, 0] (random points, the reduction's boundaries ±ln 2/2 around several k, the ends),
// and 0 below −708, where e^v < 3.3e−308 is beneath any intensity.
TEST(FastPaths, ExpIsWithinTwoUlp) {
    std::vector<double> points = {0.0, -0.0, -1e-300, -1e-17, -0.5 * std::log(2.0), -708.0, -707.9999999};
    for (int k = 0; k <= 1021; k += 73) {
        const double boundary = -(k + 0.5) * std::log(2.0);
        points.push_back(std::nextafter(boundary, 0.0));
        points.push_back(std::nextafter(boundary, -INFINITY));
    }
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> wide(-708.0, 0.0), narrow(-3.0, 0.0);
    for (int i = 0; i < 100000; ++i) points.push_back(i % 2 ? wide(random) : narrow(random));
    double worst = 0.0;
    for (double v : points) worst = std::max(worst, ulps(expNonPositive(v), expl(static_cast<long double>(v))));
    EXPECT_LE(worst, 2.0);
    for (double v : {-708.0001, -745.2, -1e6, -static_cast<double>(INFINITY)}) EXPECT_EQ(expNonPositive(v), 0.0) << v;
}

CwPeak peakOf(int32_t type, double asymmetry) {
    RefinementProfile profile{};
    profile.profileType = type;
    profile.U = 4e-3;
    profile.V = -2e-3;
    profile.W = 3e-3;
    profile.LX = 2e-2;
    profile.LY = 1e-2;
    Reflexion r{};
    r.peakPosition = 35.15;
    return makeCwPeak(r, profile, asymmetry, 50.0);
}

// Every shape with and without asymmetry, over a window of ±4° by 0.01° (about ±40 FWHM): the loop adds factor ×
// the per-point value to what y held, within 1e-14 of the peak's maximum.
TEST(FastPaths, WindowsAreThePointShapes) {
    std::vector<double> x;
    for (int i = 0; i <= 800; ++i) x.push_back(31.15 + 0.01 * i);
    for (int32_t type : {PK_PROFILE_GAUSSIAN, PK_PROFILE_LORENTZIAN, PK_PROFILE_PSEUDO_VOIGT}) {
        for (double asymmetry : {0.0, 0.05}) {
            const CwPeak peak = peakOf(type, asymmetry);
            std::vector<double> y(x.size(), 1.0);
            addCwWindow(peak, x.data(), 3, 797, 2.5, y.data());
            double top = 0.0;
            for (double at : x) top = std::max(top, 2.5 * cwPeakValue(peak, at));
            for (std::size_t i = 0; i < x.size(); ++i) {
                const double added = i >= 3 && i <= 797 ? 2.5 * cwPeakValue(peak, x[i]) : 0.0;
                ASSERT_NEAR(y[i] - 1.0, added, 1e-14 * top) << type << " P " << asymmetry << " at " << x[i];
            }
            // A short window about the peak: its first and last points carry most of the peak.
            std::vector<double> near(x.size(), 0.0);
            addCwWindow(peak, x.data(), 399, 401, 1.0, near.data());
            for (std::size_t i = 398; i <= 402; ++i) {
                EXPECT_NEAR(near[i], i >= 399 && i <= 401 ? cwPeakValue(peak, x[i]) : 0.0, 1e-14 * top) << i;
            }
        }
    }
}

// The vector lanes give the bits of the same arithmetic done one point at a time: the symmetric Gaussian loop
// against (2√(ln 2/π)/H) e^(−4 ln 2 r²) with this file's scalar e^v.
TEST(FastPaths, VectorLanesGiveTheScalarBits) {
    const CwPeak peak = peakOf(PK_PROFILE_GAUSSIAN, 0.0);
    std::vector<double> x, y(1001, 0.0);
    for (int i = 0; i <= 1000; ++i) x.push_back(34.0 + 0.0023 * i);
    addCwWindow(peak, x.data(), 0, 1000, 3.0, y.data());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double ratio = (x[i] - peak.centre) * peak.inverseFwhm;
        const double expected =
            0.0 + 3.0 * (peak.gaussianFactor * expNonPositive(-2.772588722239781 * (ratio * ratio)));
        ASSERT_EQ(std::memcmp(&y[i], &expected, sizeof expected), 0) << x[i] << ": " << y[i] << " vs " << expected;
    }
}

// e^z E1(z) within 1e−13 of |f| at every point of tests/data/e1_plane.tsv (mpmath, 40 digits: the upper half
// plane from |z| = 1e−3 to 400, the negative real axis with Im E1 = −π, and the lines the time-of-flight shapes
// run along), and its mirror image below the axis; and so is Im f from each point's line (ExpE1Line).
TEST(FastPaths, ExponentialIntegralAgainstTheTable) {
    std::ifstream table(std::string(PK_TEST_DATA_DIR) + "/e1_plane.tsv");
    ASSERT_TRUE(table.good());
    std::string line;
    int rows = 0;
    while (std::getline(table, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        double x, y;
        long double re, im;
        fields >> x >> y >> re >> im;
        const long double size = std::hypot(re, im);
        const std::complex<double> f = expTimesE1({x, y});
        ASSERT_LE(std::hypot(f.real() - re, f.imag() - im) / size, 1e-13L) << x << " " << y;
        ASSERT_LE(std::fabs(imagExpTimesE1(makeExpE1Line(y), x) - im) / size, 1e-13L) << "line " << x << " " << y;
        if (y > 0.0) {
            const std::complex<double> g = expTimesE1({x, -y});
            ASSERT_LE(std::hypot(g.real() - re, g.imag() + im) / size, 1e-13L) << x << " " << -y;
            ASSERT_LE(std::fabs(imagExpTimesE1(makeExpE1Line(-y), x) + im) / size, 1e-13L) << "line " << x << " " << -y;
        }
        ++rows;
    }
    EXPECT_EQ(rows, 1244);
}

// Both time-of-flight shapes, every width term present but γ (the pseudo-Voigt's Lorentzian part is the core's only
// at γ = 0), at d = 0.6, 1.5 and 3 Å, over −400 … 1200 µs by 1 µs: the window loop adds factor × the core's shape,
// within 1e−12 of the peak's maximum.
TEST(FastPaths, TimeOfFlightPeaksAreTheCoreShapes) {
    for (int32_t type : {PK_PROFILE_TOF_EXP_GAUSSIAN, PK_PROFILE_TOF_EXP_PSEUDO_VOIGT}) {
        RefinementProfile *profile = makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON, type,
                                                           0.0, 1.0, 20.0);
        profile->sigma0 = 4.0;
        profile->sigma1 = 40.0;
        profile->sigma2 = 2.0;
        profile->alpha0 = 0.02;
        profile->alpha1 = 0.1;
        profile->beta0 = 0.03;
        profile->beta1 = 0.005;
        const ProfileFunction shape = ProfileFuncForProfileType(type);
        for (double d : {0.6, 1.5, 3.0}) {
            Reflexion r{};
            r.dSpacing = d;
            r.peakPosition = 5.0 * d;  // ms
            const TofPeak peak = makeTofPeak(r, *profile);
            ASSERT_TRUE(peak.present);
            std::vector<double> x;
            for (double offset = -400.0; offset <= 1200.0; offset += 1.0) x.push_back(r.peakPosition + offset * 1e-3);
            std::vector<double> y(x.size(), 1.0);
            const auto last = static_cast<int32_t>(x.size()) - 1;
            addTofWindow(peak, x.data(), 0, last, 2.0, y.data());
            double top = 0.0;
            for (double at : x) top = std::max(top, 2.0 * shape(at, &r, profile));
            for (std::size_t i = 0; i < x.size(); ++i) {
                ASSERT_NEAR(y[i] - 1.0, 2.0 * shape(x[i], &r, profile), 1e-12 * top) << type << " d " << d << " at " << x[i];
            }
        }
        freeRefinementProfile(profile);
    }
}

// Composite Simpson's rule, n (even) intervals.
template <typename F>
double simpson(F f, double a, double b, int n) {
    const double h = (b - a) / n;
    double sum = f(a) + f(b);
    for (int i = 1; i < n; ++i) sum += (i % 2 ? 4.0 : 2.0) * f(a + i * h);
    return sum * h / 3.0;
}

// Back-to-back exponentials of unit area: rise α before t = 0, decay β after.
double backToBack(double t, double alpha, double beta) {
    return alpha * beta / (alpha + beta) * std::exp(t < 0.0 ? alpha * t : -beta * t);
}

// B ⊗ Gaussian(σ²) at Δ: ∫ B(Δ − s) g(s) ds over ±14σ, split at the kink s = Δ.
double bySimpsonWithGaussian(double delta, double alpha, double beta, double variance) {
    const double reach = 14.0 * std::sqrt(variance), kink = std::clamp(delta, -reach, reach);
    const auto f = [&](double s) {
        return backToBack(delta - s, alpha, beta) * std::exp(-s * s / (2.0 * variance)) /
               std::sqrt(2.0 * kPi * variance);
    };
    return simpson(f, -reach, kink, 1 << 14) + simpson(f, kink, reach, 1 << 14);
}

// Adaptive Simpson on [a, b] to an absolute error of about `error`, given f at a, (a + b)/2 and b.
template <typename F>
double adaptiveSimpson(const F &f, double a, double b, double fa, double fm, double fb, double error, int depth) {
    const double m = 0.5 * (a + b), fl = f(0.5 * (a + m)), fr = f(0.5 * (m + b));
    const double whole = (b - a) / 6.0 * (fa + 4.0 * fm + fb);
    const double left = (m - a) / 6.0 * (fa + 4.0 * fl + fm), right = (b - m) / 6.0 * (fm + 4.0 * fr + fb);
    const double refined = left + right;
    if (depth == 0 || std::fabs(refined - whole) <= 15.0 * error) return refined + (refined - whole) / 15.0;
    return adaptiveSimpson(f, a, m, fa, fl, fm, 0.5 * error, depth - 1) +
           adaptiveSimpson(f, m, b, fm, fr, fb, 0.5 * error, depth - 1);
}

// B ⊗ Lorentzian(FWHM γ) at Δ: t = Δ + (γ/2) tan θ makes L(Δ − t) dt = dθ/π on (−π/2, π/2), the tails included;
// 64 panels each side of the kink t = 0, each refined to 1e−16 (far out the exponentials fill a sliver of θ).
double bySimpsonWithLorentzian(double delta, double alpha, double beta, double gamma) {
    const double kink = std::atan(-2.0 * delta / gamma);
    const auto f = [&](double theta) { return backToBack(delta + 0.5 * gamma * std::tan(theta), alpha, beta) / kPi; };
    double sum = 0.0;
    for (const auto &[from, to] : {std::pair{-0.5 * kPi, kink}, std::pair{kink, 0.5 * kPi}}) {
        for (int i = 0; i < 64; ++i) {
            const double a = from + (to - from) * i / 64.0, b = from + (to - from) * (i + 1) / 64.0;
            sum += adaptiveSimpson(f, a, b, f(a), f(0.5 * (a + b)), f(b), 1e-16, 50);
        }
    }
    return sum;
}

// The pseudo-Voigt with γ > 0 (narrow and broad σ, γ from 0.24 to 18 µs, two d) against (1 − η) B ⊗ G + η B ⊗ L by
// quadrature, α, β, σ², γ and η the core's, from the far rise tail to the far decay tail: within 1e−11 of the peak
// (the core's own formula is off by up to 31 % of it here).
// And the area of one, over the whole line by Δ = (γ/2) tan θ (its Lorentzian tail ≈ (η/π) dθ beyond 1e−6 of ±π/2).
TEST(FastPaths, TimeOfFlightPseudoVoigtIsTheConvolution) {
    struct Case { double sigma1, gamma1, d; };
    for (const Case c : {Case{2.0, 0.3, 1.5}, Case{2.0, 12.0, 0.8}, Case{200.0, 0.3, 0.8}, Case{200.0, 12.0, 1.5}}) {
        RefinementProfile *profile = makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON,
                                                           PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, 0.0, 1.0, 20.0);
        profile->sigma0 = 1.0;
        profile->sigma1 = c.sigma1;
        profile->gamma1 = c.gamma1;
        profile->alpha1 = 0.1;
        profile->beta0 = 0.03;
        profile->beta1 = 0.005;
        Reflexion r{};
        r.dSpacing = c.d;
        r.peakPosition = 5.0 * c.d;  // ms
        TofPseudoVoigtTerms t{};
        ASSERT_TRUE(tofExpPseudoVoigtTerms(r.peakPosition, &r, profile, &t));
        const TofPeak peak = makeTofPeak(r, *profile);
        const auto expected = [&](double delta) {
            return (1.0 - t.eta) * bySimpsonWithGaussian(delta, t.alpha, t.beta, t.variance) +
                   t.eta * bySimpsonWithLorentzian(delta, t.alpha, t.beta, t.gamma);
        };
        const std::vector<double> offsets = {-400, -90, -30, -9, -3, -1, 0, 0.7, 2, 5, 12, 40, 120, 500, 2000};
        std::vector<double> x, values, y(offsets.size(), 0.0);
        for (double delta : offsets) {
            x.push_back(r.peakPosition + 1e-3 * delta);
            values.push_back(expected(delta));
        }
        addTofWindow(peak, x.data(), 0, static_cast<int32_t>(x.size()) - 1, 1.0, y.data());
        const double top = *std::max_element(values.begin(), values.end());
        for (std::size_t i = 0; i < x.size(); ++i) {
            EXPECT_NEAR(y[i], values[i], 1e-11 * top) << c.sigma1 << " " << c.gamma1 << " at " << offsets[i];
        }
        if (c.gamma1 == 12.0 && c.d == 0.8) {
            const double w = 0.5 * t.gamma, edge = 0.5 * kPi - 1e-6;
            const auto f = [&](double theta) {
                const double cosine = std::cos(theta);
                return tofPeakValue(peak, r.peakPosition + 1e-3 * w * std::tan(theta)) * w / (cosine * cosine);
            };
            EXPECT_NEAR(simpson(f, -edge, edge, 1 << 16) + 2e-6 * t.eta / kPi, 1.0, 1e-12);
        }
        freeRefinementProfile(profile);
    }
}

// The layer's time-of-flight pseudo-Voigt against its careful evaluation: the core's Gaussian terms (bounded e^u
// times erfc(y), e^v times erfc(z)) and expTimesE1 at p = αΔ + iαγ/2 and q = −βΔ + iβγ/2, over 1.5 times the window
// a pattern gives the peak by about 4000 steps. The cases take the fast path through each region it tells apart:
// near the peak and in both exponential tails, Re p and Re q about the lines' inner limits and across the real
// axis' bins, |Re p| beyond 64, the negative axis close to the cut (γ tiny), αγ/2 above 1, and a Gaussian so broad
// that the core's bound on e^u binds. Within 1e−12 of the peak's maximum.
TEST(FastPaths, TimeOfFlightPeaksAreTheCarefulEvaluation) {
    struct Case { double sigma1, gamma1, alpha1, d; };
    for (const Case c : {Case{40.0, 2.0, 0.1, 0.5}, Case{40.0, 2.0, 0.1, 1.5}, Case{4.0, 30.0, 0.1, 1.0},
                         Case{4.0, 0.002, 0.3, 1.0}, Case{20000.0, 2.0, 0.3, 1.0}}) {
        RefinementProfile *profile = makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON,
                                                           PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, 0.0, 1.0, 20.0);
        profile->sigma0 = 1.0;
        profile->sigma1 = c.sigma1;
        profile->gamma1 = c.gamma1;
        profile->alpha1 = c.alpha1;
        profile->beta0 = 0.03;
        profile->beta1 = 0.005;
        Reflexion r{};
        r.dSpacing = c.d;
        r.peakPosition = 5.0 * c.d;  // ms
        const TofPeak peak = makeTofPeak(r, *profile);
        std::vector<double> x, careful;
        TofPseudoVoigtTerms v{};
        ASSERT_TRUE(tofExpPseudoVoigtTerms(r.peakPosition, &r, profile, &v));
        const double half = 1.5 * (10.0 * std::sqrt(v.variance) + 25.0 * v.gamma + 8.0 / v.alpha + 9.0 / v.beta);
        for (double delta = -half; delta <= half; delta += half / 2000.0) {
            x.push_back(r.peakPosition + 1e-3 * delta);
            powderkit::TofProfileTerms t{};
            ASSERT_TRUE(powderkit::tofExpGaussianTerms(x.back(), &r, profile, &t));
            const double gaussian = t.expU * t.erfcY + t.expV * t.erfcZ;
            const double fp = expTimesE1({t.alpha * t.offset, 0.5 * t.alpha * v.gamma}).imag();
            const double fq = expTimesE1({-t.beta * t.offset, 0.5 * t.beta * v.gamma}).imag();
            const double n = t.normalization;
            careful.push_back((1.0 - v.eta) * n * gaussian - (2.0 * n * v.eta / kPi) * (fp + fq));
        }
        const double top = *std::max_element(careful.begin(), careful.end());
        for (std::size_t i = 0; i < x.size(); ++i) {
            ASSERT_NEAR(tofPeakValue(peak, x[i]), careful[i], 1e-12 * top) << c.gamma1 << " " << c.d << " at " << x[i];
        }
        freeRefinementProfile(profile);
    }
}

}  // namespace
