// The cell and site derivatives through the finite-difference harness: the
// volume uncertainty of a triclinic cell; the intensity by cell parameter (reflexion table keys, "Ratio") and by
// every site parameter against recalculated intensities of reference
// structures. The cell members hold the scattering and temperature factors
// at their d (documented), so those crystals have no f(d): X-ray records with
// only the constant c, or neutrons, and no temperature factors. Coordinates
// are checked where the one-variable reading of the coordinate expressions
// is exact (general positions; free coordinates whose variable comes first).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <utility>

#include "derivatives/cell_derivatives.hpp"
#include "derivatives/site_derivatives.hpp"
#include "support/element_data.hpp"
#include "support/finite_difference.hpp"
#include "support/output_capture.hpp"
#include "support/reference_phases.hpp"

namespace {

using Row = pk_test::DerivativeRow;
using pk_test::kFiniteDifference;
using pk_test::kRoundOff;
using pk_test::refreshCell;
namespace pk = powderkit;
using namespace std::complex_literals;
const std::array<int32_t, 3> kPlanes[] = {{1, 0, 0}, {0, 1, 1}, {1, 2, -3}, {2, -1, 1}, {-3, 1, 2}, {4, 3, -1}};

Reflexion reflexionOf(const std::array<int32_t, 3> &hkl) {
    Reflexion r{};
    r.h = hkl[0], r.k = hkl[1], r.l = hkl[2], r.multiplicity = 2;
    return r;
}

TEST(CellDerivatives, VolumeUncertaintyFromTheDifferencesOfTheVolume) {
    // σ(V)² = Σ σ_p² (∂V/∂p)², angles' σ in radians.
    RefinementCrystal *x = pk_test::makeTriclinicCrystal();
    const double sigma[6] = {0.002, 0.003, 0.001, 0.0004, 0.0002, 0.0005};
    double variance = 0.0;
    for (int i = 0; i < 6; ++i) {
        const auto &p = pk_test::kCellSteps[i];
        const auto volume = [x] { return refreshCell(x), x->volume; };
        variance += std::pow(sigma[i] * pk_test::centralDifferenceOfField(&(x->*p.field), p.step, volume) * p.unitFactor, 2);
        x->cellParameterErrors[i] = sigma[i];
    }
    EXPECT_NEAR(UnitCellVolumeError(x), std::sqrt(variance), kFiniteDifference * std::sqrt(variance));
    EXPECT_EQ(UnitCellVolumeError(nullptr), 0.0);
    freeRefinementCrystal(x);
}

// The monoclinic reference crystal made triclinic, no temperature factors,
// and for X-rays each occupant's factor the constant f(0) = a1 + a2 + a3 + a4 + c.
RefinementCrystal *crystalWithoutFOfD(bool neutrons) {
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("lowsym");
    for (int32_t i = 0; i < crystal->sites->count; ++i) {
        const auto *occupants = static_cast<const Site *>(crystal->sites->items[i])->occupants;
        for (int32_t j = 0; j < occupants->count && !neutrons; ++j) {
            auto *f = static_cast<RefinementSiteOccupant *>(occupants->items[j])->scatteringFactor;
            const double *c = pk_test::findElement(static_cast<RefinementSiteOccupant *>(occupants->items[j])->symbol)->coefficients;
            std::fill_n(f->cromerMannCoefficients, 9, 0.0), f->hasHighAngleCoefficients = 0;
            f->cromerMannCoefficients[8] = c[0] + c[2] + c[4] + c[6] + c[8];
        }
    }
    crystal->useAnisotropicDisplacement = 0, crystal->alpha = 86.0, crystal->gamma = 95.0;
    refreshCell(crystal);
    return crystal;
}

TEST(CellDerivatives, IntensityByCellAndRatioThroughTheReflexionTable) {
    const auto table = pk_test::owned(ReflexionDerivativesHashTable());
    // Constant-wavelength X-rays and neutrons, time-of-flight X-rays (the
    // Lorentz-polarisation rate of each, against the factor the intensity
    // holds), and the second-wavelength companion, its intensity and Lp in r.
    for (int32_t kind = 0; kind < 4; ++kind) {
        RefinementCrystal *x = crystalWithoutFOfD(kind == 1);
        RefinementProfile *profile = kind == 2 ? makeRefinementProfile(4, 2, 3, 1.2, 5.0, 150.0)
                                               : makeRefinementProfile(1, kind == 1 ? 3 : 2, 0, 1.5406, 5.0, 150.0);
        profile->tofTwoTheta = 145.0, profile->useSecondaryWavelength = kind == 3;
        profile->secondaryWavelength = 1.5444, profile->secondaryIntensityRatio = 2.0;
        std::vector<Reflexion> rs;
        for (const auto &hkl : kPlanes) rs.push_back(reflexionOf(hkl));
        std::vector<Row> rows;
        for (Reflexion &r : rs) {
            const auto intensity = [=, &r] {
                refreshCell(x);
                r.dSpacing = dSpacingForHKL(x, r.h, r.k, r.l);
                r.isSecondaryWavelength = 0;
                calculateIntensityForReflexion(x, &r, profile);
                if (kind < 3) return r.intensity;
                Reflexion *second = secondaryWavelengthReflexion(x, &r, profile);
                r.intensity = second->intensity, r.lorentzPolarization = second->lorentzPolarization;
                r.isSecondaryWavelength = 1;
                second->methods->freeReflexion(second);
                return r.intensity;
            };
            intensity();
            for (const auto &p : pk_test::kCellSteps) {
                const auto f = pk_test::functionForKey<ReflexionDerivativeFunction>(table.get(), p.key);
                rows.push_back({"I", [=, &r] { return f(x, &r, profile); }, &(x->*p.field), p.step, intensity,
                                [p](double d) { return d * p.unitFactor; }});
            }
            // "Ratio" moves only the companion's intensity: 0 for a primary reflexion.
            const auto ratio = pk_test::functionForKey<ReflexionDerivativeFunction>(table.get(), "Ratio");
            rows.push_back({"Ratio", [=, &r] { return ratio(x, &r, profile); }, &profile->secondaryIntensityRatio, 1e-5, intensity});
        }
        pk_test::expectDerivatives(rows);
        freeRefinementCrystal(x);
        freeRefinementProfile(profile);
    }
    Reflexion tiny{};  // an intensity below the zero tolerance 2⁻⁴⁴ gives 0
    tiny.isSecondaryWavelength = 1, tiny.intensity = 5e-14;
    EXPECT_EQ(pk_test::functionForKey<ReflexionDerivativeFunction>(table.get(), "Ratio")(nullptr, &tiny, nullptr), 0.0);
}

Site *siteNamed(RefinementCrystal *x, const std::string &label) {
    for (int32_t i = 0; i < x->sites->count; ++i) {
        if (label == static_cast<Site *>(x->sites->items[i])->label) return static_cast<Site *>(x->sites->items[i]);
    }
    return nullptr;
}

// The parameters of a site by letter: x y z, U for Uiso, o the first
// occupancy, 1-6 the anisotropic components u11 u22 u33 u23 u13 u12.
void checkSites(const char *structure, int32_t experiment, int32_t radiation,
                std::vector<std::pair<const char *, std::string>> parameters, bool marchCorrection = false) {
    RefinementCrystal *x = pk_test::makeReferenceCrystal(structure, 1.1);
    RefinementProfile *profile = makeRefinementProfile(experiment, radiation, experiment == 4 ? 3 : 0, 1.5406, 5.0, 150.0);
    profile->tofTwoTheta = 145.0;
    if (marchCorrection) {
        x->usePreferredOrientation = 1, x->preferredOrientationMode = 1, x->preferredOrientation = 0.25;
        x->preferredOrientationAxis[2] = 1.0;
        normalizeMarchEquation(x);
    }
    if (Site *zinc = siteNamed(x, "Zn1")) zinc->z = 0.02, generateUnitCell(x);  // off the face z = 0, where folding cuts
    for (const auto &[label, letters] : parameters) {
        Site *site = siteNamed(x, label);
        auto *occupant = static_cast<RefinementSiteOccupant *>(site->occupants->items[0]);
        RefinementThermalEllipsoidUij *u = site->displacement;
        for (const char letter : letters) {
            const int32_t p = static_cast<int32_t>(std::string("xyzUo123456").find(letter));
            double *fields[11] = {&site->x, &site->y, &site->z, &u->uIso, &occupant->occupancy,
                                  &u->u[0][0], &u->u[1][1], &u->u[2][2], &u->u[1][2], &u->u[0][2], &u->u[0][1]};
            const double tensor[3][3] = {{0.011, 0.002, -0.001}, {0, 0.008, 0.0015}, {0, 0, 0.013}};
            for (int i = 0; i < 3 && p >= 5; ++i) u->isAnisotropic = 1, std::copy(tensor[i], tensor[i] + 3, u->u[i]);
            std::vector<Row> rows;
            for (int32_t i = 0; i < std::min<int32_t>(x->reflexions->count, 40); ++i) {
                Reflexion *r = static_cast<Reflexion *>(x->reflexions->items[i]);
                const auto analytic = [=] {
                    if (p < 3) return DiffReflexionIntensityWrtSiteAxis(x, r, profile, site, p);
                    if (p == 3) return DiffReflexionIntensityWrtSiteIsotropicTempFactor(x, r, profile, site, u->uIso);
                    if (p == 4) return DiffReflexionIntensityWrtSiteOccupancy(x, r, profile, site, occupant);
                    return DiffReflexionIntensityWrtSiteAnisotropicTempFactor(x, r, profile, site, p - 4);
                };
                const auto intensity = [=] {
                    if (p < 3) generateUnitCell(x);
                    if (p == 4) calculateSimilarityIndices(x);
                    calculateIntensityForReflexion(x, r, profile);
                    return r->intensity;
                };
                intensity();
                rows.push_back({std::string(label) + letter, analytic, fields[p], 1e-6, intensity});
            }
            pk_test::expectDerivatives(rows);
        }
    }
    freeRefinementCrystal(x);
    freeRefinementProfile(profile);
}

TEST(SiteDerivatives, EveryParameterOfGeneralAndSpecialSites) {
    // O2 is half occupied; the March correction replaces the multiplicity in the weights.
    checkSites("lowsym", 1, 2, {{"Ni1", "xyzUo"}, {"Si1", "xyzUo"}, {"O1", "xyzUo"}, {"O2", "xyzUo"}, {"Si1", "123456"}});
    checkSites("lowsym", 4, 3, {{"O2", "xyzUo123456"}});  // time of flight, neutrons
    checkSites("lowsym", 1, 2, {{"Ni1", "yUo"}}, true);
    checkSites("corundum", 1, 2, {{"Al1", "zo"}, {"O1", "xU"}});
    checkSites("ZnO", 1, 2, {{"O1", "zo"}, {"Zn1", "zU"}});  // non-centrosymmetric
    checkSites("LaB6", 1, 3, {{"B1", "x"}, {"La1", "U"}});
}

TEST(SiteDerivatives, CoefficientOfAnAxisInACoordinateExpression) {
    // The sign before the expression's first variable when it is the axis, else 0.
    const struct { const char *expression; int32_t axis; double coefficient; } cases[] = {
        {"+x", 0, 1}, {"+x", 1, 0}, {"-x+1/2", 0, -1}, {"1/2-x", 0, -1}, {"x+1/2", 0, 0},
        {"-y+1/2", 1, -1}, {"+Z", 2, 1}, {"-X", 0, -1}, {"-x+y", 0, -1}, {"-x+y", 1, 0},
        {"+1/4", 0, 0}, {"", 0, 0}, {nullptr, 0, 0}};
    for (const auto &c : cases) {
        EXPECT_EQ(pk::coordinateCoefficient(c.expression, c.axis), c.coefficient)
            << (c.expression ? c.expression : "null") << " " << c.axis;
    }
}

TEST(SiteDerivatives, SecondWavelengthWeightsAndZeros) {
    RefinementCrystal *x = pk_test::makeReferenceCrystal("lowsym", 1.1);
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 150.0);
    Reflexion *r = static_cast<Reflexion *>(x->reflexions->items[3]);
    Site *site = static_cast<Site *>(x->sites->items[0]);
    auto *occupant = static_cast<RefinementSiteOccupant *>(site->occupants->items[0]);
    calculateIntensityForReflexion(x, r, profile);
    // The companion's weights take λ₂³ for λ³ and 1/ratio (unreached by the tables above).
    const auto weights = [&] { return pk::realPartIntensityWeight(x, r, profile) + 1i * pk::imaginaryPartIntensityWeight(x, r, profile); };
    const std::complex<double> primary = weights();
    profile->secondaryWavelength = 2.0 * 1.5406, profile->secondaryIntensityRatio = 4.0, r->isSecondaryWavelength = 1;
    EXPECT_LE(std::abs(weights() - 2.0 * primary), kRoundOff * std::abs(primary));
    r->isSecondaryWavelength = 0;
    // Zeros: an invalid axis (with its message), a component code outside 1-6,
    // no displacement record, the plane 0 0 0, an empty occupant, no positions.
    const auto axis = [&](int32_t a) { return DiffReflexionIntensityWrtSiteAxis(x, r, profile, site, a); };
    const auto tensor = [&](int32_t c) { return DiffReflexionIntensityWrtSiteAnisotropicTempFactor(x, r, profile, site, c); };
    for (const int32_t bad : {3, -1, INT32_MIN}) {
        EXPECT_EQ(pk_test::captureStderr([&] { EXPECT_EQ(axis(bad), 0.0); }), "Invalid siteAxis supplied to partial derivative!\n");
    }
    site->displacement->isAnisotropic = 1, site->displacement->u[0][0] = 0.01;
    EXPECT_TRUE(tensor(0) == 0.0 && tensor(7) == 0.0 && tensor(-3) == 0.0 && tensor(3) != 0.0);  // (0 0 2): u33 moves it
    r->h = r->k = r->l = 0;
    for (int32_t p = 0; p < 3; ++p) EXPECT_EQ(axis(p), 0.0);
    for (int32_t p = 1; p <= 6; ++p) EXPECT_EQ(tensor(p), 0.0);
    r->l = 2, occupant->occupancy = 0.0;
    EXPECT_EQ(DiffReflexionIntensityWrtSiteOccupancy(x, r, profile, site, occupant), 0.0);
    RefinementThermalEllipsoidUij *displacement = std::exchange(site->displacement, nullptr);
    EXPECT_EQ(tensor(3), 0.0);
    site->displacement = displacement;
    const int32_t positions = std::exchange(site->atoms->count, 0);
    EXPECT_EQ(DiffReflexionIntensityWrtSiteIsotropicTempFactor(x, r, profile, site, 0.02), 0.0);
    site->atoms->count = positions;
    freeRefinementCrystal(x);
    freeRefinementProfile(profile);
}

}  // namespace
