// The fast paths against slow, plain references: the vectorisable e^v, sin and cos against long double, each window
// loop against the per-point shapes (std::exp) over whole windows, tails included, the kept plane sets of a moving
// cell against a fresh listing, the layer's structure factors and intensities against the core's, its e^z E1(z)
// against a table worked out at 40 digits, and its time-of-flight peaks against the core's shapes.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <random>
#include <vector>

#include "phase/peak_shapes.hpp"
#include "phase/phase.hpp"
#include "phase/plane_set_cache.hpp"
#include "phase/exponential_integral.hpp"
#include "phase/structure_factors.hpp"
#include "phase/tof_peaks.hpp"
#include "phase/vector_math.hpp"
#include "phase/window_kernels.hpp"

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

// A triclinic cell (every metric term present) moved a little (the kept list serves), then by 5 % and 3° (listed
// again), then back: each time the very sets, multiplicities and d of a fresh listing.
TEST(FastPaths, KeptPlaneSetsAreAFreshListing) {
    PlaneSetCache cache;
    const std::array<double, 6> start = {5.1, 6.2, 7.3, 80.0, 95.0, 105.0};
    const double moves[][6] = {{0, 0, 0, 0, 0, 0},
                               {1e-3, -5e-4, 2e-4, 0.01, -0.02, 0.005},
                               {0.3, -0.3, 0.4, 3, -3, 2},
                               {-1e-3, 1e-3, 0, 0, 0.01, 0},
                               {0, 0, 0, 0, 0, 0}};
    for (const auto &move : moves) {
        double cell[6];
        for (std::size_t i = 0; i < 6; ++i) cell[i] = start[i] + move[i];
        const pk_site site = {"Fe1", "Fe", 0.1, 0.2, 0.3, 1.0, 0.01, 0, {}};
        pk_phase *made = nullptr;
        ASSERT_EQ(pk_phase_from_symbol("moved", "P -1", cell, &site, 1, &made, nullptr), PK_OK);
        const pk_phase &phase = *made;
        const std::vector<PlaneSet> fresh = planeSetsOf(phase, 1.1);
        const std::vector<PlaneSet> &kept = cache.setsOf(phase, 1.1);
        ASSERT_EQ(kept.size(), fresh.size()) << move[0];
        for (std::size_t n = 0; n < fresh.size(); ++n) {
            ASSERT_EQ(kept[n].hkl, fresh[n].hkl) << n;
            ASSERT_EQ(kept[n].multiplicity, fresh[n].multiplicity) << n;
            ASSERT_EQ(kept[n].d, fresh[n].d) << n;
        }
        pk_phase_free(made);
    }
}

// sin 2πt and cos 2πt within 2e−16 of sinl and cosl of the exactly reduced turn, over small and large t and the
// octant boundaries.
TEST(FastPaths, SineAndCosineOfTurns) {
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<double> turns;
    for (int q = -16; q <= 16; ++q) {
        turns.push_back(q / 8.0);
        turns.push_back(std::nextafter(q / 8.0, 1.0));
    }
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> near(-0.6, 0.6), far(-400.0, 400.0);
    for (int i = 0; i < 100000; ++i) turns.push_back(i % 2 ? near(random) : far(random));
    for (double t : turns) {
        double sine, cosine;
        sinCosTurns(t, sine, cosine);
        const long double r = static_cast<long double>(t) - std::nearbyint(t);  // exact
        ASSERT_LE(fabsl(sine - sinl(2 * pi * r)), 2e-16L) << t;
        ASSERT_LE(fabsl(cosine - cosl(2 * pi * r)), 2e-16L) << t;
    }
}

pk_phase *phaseOfCif(const std::string &name) {
    pk_phase *phase = nullptr;
    const std::string path = std::string(PK_EXAMPLE_DATA_DIR) + "/" + name;
    EXPECT_EQ(pk_phase_from_cif_file(path.c_str(), nullptr, &phase, nullptr), PK_OK) << name;
    return phase;
}

// P1 with 97 positions: four elements, partial occupancies, shared and distinct isotropic U (one negative, so one
// temperature factor exceeds 1), and anisotropic U.
pk_phase *randomP1() {
    static const char *const kTypes[4] = {"Fe", "O", "Si", "Ba"};
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::string> labels;
    for (int i = 0; i < 97; ++i) labels.push_back("A" + std::to_string(i));
    std::vector<pk_site> sites;
    for (int i = 0; i < 97; ++i) {
        pk_site site{labels[static_cast<std::size_t>(i)].c_str(),
                     kTypes[i % 4],
                     unit(random),
                     unit(random),
                     unit(random),
                     i % 5 == 0 ? 0.5 : 1.0,
                     i % 3 == 0 ? 0.01 : 0.002 * (i % 7) - 0.002,
                     0,
                     {}};
        if (i % 4 == 1) {
            site.has_u_aniso = 1;
            const double u[6] = {0.01, 0.012, 0.008, 0.002, -0.001, 0.0015};
            std::copy(u, u + 6, site.u_aniso);
        }
        sites.push_back(site);
    }
    const double cell[6] = {7.1, 8.3, 9.2, 84.0, 97.0, 103.0};
    pk_phase *phase = nullptr;
    EXPECT_EQ(pk_phase_from_symbol("P1", "P 1", cell, sites.data(), 97, &phase, nullptr), PK_OK);
    return phase;
}

// A, B, Lp and the intensity of every reflexion down to 0.8 Å, within 1e−12 of the strongest, for X-rays and
// neutrons at one wavelength and for a time-of-flight bank.
TEST(FastPaths, StructureFactorsAreTheCores) {
    for (pk_phase *phase : {phaseOfCif("corundum.cif"), phaseOfCif("lowsym.cif"), randomP1()}) {
        ASSERT_NE(phase, nullptr);
        RefinementCrystal *crystal = nullptr;
        ASSERT_EQ(pk_phase_core_crystal(phase, 0.8, &crystal, nullptr), PK_OK);
        const StructureFactors kernel(crystal);
        StructureFactors::Scratch scratch;
        const int32_t kinds[4][2] = {{PK_EXPERIMENT_CONSTANT_WAVELENGTH, PK_RADIATION_XRAY},
                                     {PK_EXPERIMENT_CONSTANT_WAVELENGTH, PK_RADIATION_NEUTRON},
                                     {PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON},
                                     {PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_XRAY}};
        for (const auto &kind : kinds) {
            RefinementProfile *profile =
                makeRefinementProfile(kind[0], kind[1], PK_PROFILE_PSEUDO_VOIGT, 1.540593, 5, 150);
            profile->tofTwoTheta = 145.0;
            std::vector<Reflexion> core, fast;
            double strongestF = 0.0, strongest = 0.0;
            for (int32_t n = 0; n < crystal->reflexions->count; ++n) {
                Reflexion r = *static_cast<Reflexion *>(crystal->reflexions->items[n]);
                calculateIntensityForReflexion(crystal, &r, profile);
                core.push_back(r);
                kernel.compute(r, kind[1], scratch);
                setIntensity(crystal, r, profile);
                fast.push_back(r);
                strongestF =
                    std::max(strongestF, std::hypot(core.back().structureFactorReal, core.back().structureFactorImag));
                strongest = std::max(strongest, core.back().intensity);
            }
            ASSERT_GT(core.size(), 50u);
            for (std::size_t n = 0; n < core.size(); ++n) {
                ASSERT_NEAR(fast[n].structureFactorReal, core[n].structureFactorReal, 1e-12 * strongestF) << n;
                ASSERT_NEAR(fast[n].structureFactorImag, core[n].structureFactorImag, 1e-12 * strongestF) << n;
                ASSERT_NEAR(fast[n].intensity, core[n].intensity, 1e-12 * strongest) << n;
                ASSERT_EQ(fast[n].lorentzPolarization, core[n].lorentzPolarization) << n;
            }
            freeRefinementProfile(profile);
        }
        freeRefinementCrystal(crystal);
        pk_phase_free(phase);
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
