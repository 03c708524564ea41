// The reflexions' fast paths against slow, plain references: the kept plane sets of a moving cell against a fresh
// listing, the vectorisable sin and cos of turns against a reference split in two doubles, and the layer's
// structure factors and intensities against the core's.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "crystal/phase.hpp"
#include "reflexions/plane_set_cache.hpp"
#include "reflexions/structure_factors.hpp"
#include "reflexions/vector_math.hpp"

namespace {

using namespace powderkit::phase;

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

// sin 2πt and cos 2πt within 2e−16 of the sine and cosine of the exactly reduced turn r = t − round(t), over small
// and large t and the octant boundaries. The reference holds in double alone (long double is double on some
// platforms and under valgrind): 2πr = x + e with x = P1·r and e = fma(P1, r, −x) + P2·r, 2π = P1 + P2 to 1e−32, so
// sin 2πr = sin x + e cos x and cos 2πr = cos x − e sin x to about 1e−32; the library's sin and cos of x add their
// own error, at most one unit in the last place of the reference, to the bound.
TEST(FastPaths, SineAndCosineOfTurns) {
    const double p1 = 6.283185307179586, p2 = 2.4492935982947064e-16;
    std::vector<double> turns;
    for (int q = -16; q <= 16; ++q) {
        turns.push_back(q / 8.0);
        turns.push_back(std::nextafter(q / 8.0, 1.0));
    }
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> near(-0.6, 0.6), far(-400.0, 400.0);
    for (int i = 0; i < 100000; ++i) turns.push_back(i % 2 ? near(random) : far(random));
    const auto ulp = [](double v) { return std::nextafter(std::fabs(v), INFINITY) - std::fabs(v); };
    for (double t : turns) {
        double sine, cosine;
        sinCosTurns(t, sine, cosine);
        const double r = t - std::nearbyint(t);  // exact
        const double x = p1 * r, e = std::fma(p1, r, -x) + p2 * r;
        const double refSine = std::sin(x) + e * std::cos(x), refCosine = std::cos(x) - e * std::sin(x);
        ASSERT_LE(std::fabs(sine - refSine), 2e-16 + ulp(refSine)) << t;
        ASSERT_LE(std::fabs(cosine - refCosine), 2e-16 + ulp(refCosine)) << t;
    }
}

pk_phase *phaseOfCif(const std::string &name) {
    pk_phase *phase = nullptr;
    const std::string path = std::string(PK_EXAMPLE_DATA_DIR) + "/" + name;
    EXPECT_EQ(pk_phase_from_cif_file(path.c_str(), nullptr, &phase, nullptr), PK_OK) << name;
    return phase;
}

// P1 with 97 positions: four elements, partial occupancies, shared and distinct isotropic U (zero among them, so one
// temperature factor is exactly 1), and anisotropic U.
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
                     i % 3 == 0 ? 0.01 : 0.002 * (i % 7),
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

}  // namespace
