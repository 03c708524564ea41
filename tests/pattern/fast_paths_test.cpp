// The patterns' fast paths against slow, plain references: the vectorisable e^v against long double, each window
// loop against the per-point shapes (std::exp) over whole windows, tails included, the layer's e^z E1(z) against a
// table worked out at 40 digits, and its time-of-flight peaks against the core's shapes.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <random>
#include <vector>

#include "pattern/peak_shapes.hpp"
#include "pattern/exponential_integral.hpp"
#include "pattern/tof_peaks.hpp"
#include "reflexions/vector_math.hpp"
#include "pattern/window_kernels.hpp"

namespace {

using namespace powderkit::phase;

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
// run along), and its mirror image below the axis.
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
        if (y > 0.0) {
            const std::complex<double> g = expTimesE1({x, -y});
            ASSERT_LE(std::hypot(g.real() - re, g.imag() + im) / size, 1e-13L) << x << " " << -y;
        }
        ++rows;
    }
    EXPECT_EQ(rows, 1244);
}

// Both time-of-flight shapes, every width term present, at d = 0.6, 1.5 and 3 Å, over ±(10σ + 25γ + 8/α + 9/β)
// by 1 µs: the window loop adds factor × the core's shape, within 1e−12 of the peak's maximum.
TEST(FastPaths, TimeOfFlightPeaksAreTheCoreShapes) {
    for (int32_t type : {PK_PROFILE_TOF_EXP_GAUSSIAN, PK_PROFILE_TOF_EXP_PSEUDO_VOIGT}) {
        RefinementProfile *profile = makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON, type,
                                                           0.0, 1.0, 20.0);
        profile->sigma0 = 4.0;
        profile->sigma1 = 40.0;
        profile->sigma2 = 2.0;
        profile->gamma0 = 0.5;
        profile->gamma1 = 2.0;
        profile->gamma2 = 0.3;
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

}  // namespace
