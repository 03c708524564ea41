// Intensity derivatives by site parameter against central differences of the
// intensity calculation over the reflexions of reference structures: the
// occupancy moved (similarity indices recomputed), Uiso and each Uij moved,
// each coordinate moved (the unit cell regenerated). Coordinates are checked
// where the one-variable reading of the coordinate expressions is exact:
// every coordinate of the general positions of the monoclinic crystal, and on
// special positions the free coordinates whose variable comes first in every
// expression (corundum Al z and O x, ZnO z, LaB6 B x), ZnO being
// non-centrosymmetric. Then the weights, the expression parse and the edge
// cases by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "derivatives/site_derivatives.hpp"
#include "support/finite_difference.hpp"
#include "support/output_capture.hpp"
#include "support/reference_phases.hpp"

namespace {

using pk_test::centralDifferenceOfField;
using pk_test::derivativeAgrees;

// A reference crystal with its reflexions down to 1.1 Å, temperature
// factors in use, and a pattern of the given kind.
struct Structure {
    RefinementCrystal *crystal;
    RefinementProfile *profile;

    Structure(const std::string &name, int32_t experiment = 1, int32_t radiation = 2)
        : crystal(pk_test::makeReferenceCrystal(name, 1.1)) {
        profile = makeRefinementProfile(experiment, radiation, experiment == 4 ? 3 : 0, 1.5406,
                                        5.0, 150.0);
        profile->tofTwoTheta = 145.0;
    }
    ~Structure() {
        freeRefinementCrystal(crystal);
        freeRefinementProfile(profile);
    }
    Site *site(const std::string &label) const {
        for (int32_t i = 0; i < crystal->sites->count; ++i) {
            Site *s = static_cast<Site *>(crystal->sites->items[i]);
            if (label == s->label) return s;
        }
        return nullptr;
    }
    double intensity(Reflexion *reflexion) {
        calculateIntensityForReflexion(crystal, reflexion, profile);
        return reflexion->intensity;
    }

    // For every reflexion (at most 40), `analytic` at the current model
    // against the difference of the intensity when `field` moves and
    // `refresh` brings the model up to date, within 1e-6 of the largest
    // derivative over the reflexions.
    void check(double *field, double step, const std::function<void()> &refresh,
               const std::function<double(Reflexion *)> &analytic) {
        const int32_t count = std::min<int32_t>(crystal->reflexions->count, 40);
        ASSERT_GT(count, 5);
        std::vector<double> analytics, numerics;
        for (int32_t i = 0; i < count; ++i) {
            Reflexion *reflexion = static_cast<Reflexion *>(crystal->reflexions->items[i]);
            intensity(reflexion);
            analytics.push_back(analytic(reflexion));
            numerics.push_back(centralDifferenceOfField(field, step, [&] {
                refresh();
                return intensity(reflexion);
            }));
        }
        double scale = 0.0;
        for (double n : numerics) scale = std::max(scale, std::fabs(n));
        ASSERT_GT(scale, 0.0);
        for (int32_t i = 0; i < count; ++i) {
            EXPECT_TRUE(derivativeAgrees(analytics[static_cast<size_t>(i)],
                                         numerics[static_cast<size_t>(i)], 1e-6, scale))
                << "reflexion " << i;
        }
    }

    void checkAxis(Site *site, int32_t axis) {
        double *coordinate = axis == 0 ? &site->x : axis == 1 ? &site->y : &site->z;
        check(coordinate, 1e-6, [&] { generateUnitCell(crystal); }, [&](Reflexion *r) {
            return DiffReflexionIntensityWrtSiteAxis(crystal, r, profile, site, axis);
        });
    }
    void checkIsotropic(Site *site) {
        check(&site->displacement->uIso, 1e-6, [] {}, [&](Reflexion *r) {
            return DiffReflexionIntensityWrtSiteIsotropicTempFactor(crystal, r, profile, site,
                                                                    site->displacement->uIso);
        });
    }
    void checkOccupancy(Site *site) {
        auto *occupant = static_cast<RefinementSiteOccupant *>(site->occupants->items[0]);
        check(&occupant->occupancy, 1e-6, [&] { calculateSimilarityIndices(crystal); },
              [&](Reflexion *r) {
                  return DiffReflexionIntensityWrtSiteOccupancy(crystal, r, profile, site,
                                                                occupant);
              });
    }
    void checkAnisotropic(Site *site) {
        // A general tensor; the temperature factor reads its upper triangle.
        RefinementThermalEllipsoidUij *u = site->displacement;
        u->isAnisotropic = 1;
        const double tensor[3][3] = {{0.011, 0.002, -0.001}, {0, 0.008, 0.0015}, {0, 0, 0.013}};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) u->u[i][j] = tensor[i][j];
        double *components[6] = {&u->u[0][0], &u->u[1][1], &u->u[2][2],
                                 &u->u[1][2], &u->u[0][2], &u->u[0][1]};
        for (int32_t code = 1; code <= 6; ++code) {
            SCOPED_TRACE(testing::Message() << "component " << code);
            check(components[code - 1], 1e-6, [] {}, [&](Reflexion *r) {
                return DiffReflexionIntensityWrtSiteAnisotropicTempFactor(crystal, r, profile,
                                                                          site, code);
            });
        }
    }
};

TEST(SiteDerivatives, EveryParameterOfEveryGeneralSite) {
    Structure s("lowsym");
    for (const char *label : {"Ni1", "Si1", "O1", "O2"}) {
        SCOPED_TRACE(label);
        Site *site = s.site(label);
        ASSERT_NE(site, nullptr);
        for (int32_t axis = 0; axis < 3; ++axis) s.checkAxis(site, axis);
        s.checkIsotropic(site);
        s.checkOccupancy(site);  // O2 is half occupied
    }
    s.checkAnisotropic(s.site("Si1"));
}

TEST(SiteDerivatives, TimeOfFlightNeutronsAndPreferredOrientation) {
    {
        Structure s("lowsym", 4, 3);
        Site *site = s.site("O2");
        for (int32_t axis = 0; axis < 3; ++axis) s.checkAxis(site, axis);
        s.checkIsotropic(site);
        s.checkOccupancy(site);
        s.checkAnisotropic(site);
    }
    {
        // The March correction replaces the multiplicity in the weights.
        Structure s("lowsym");
        s.crystal->usePreferredOrientation = 1;
        s.crystal->preferredOrientationMode = 1;
        s.crystal->preferredOrientation = 0.25;
        s.crystal->preferredOrientationAxis[2] = 1.0;
        normalizeMarchEquation(s.crystal);
        Site *site = s.site("Ni1");
        s.checkAxis(site, 1);
        s.checkIsotropic(site);
        s.checkOccupancy(site);
    }
}

TEST(SiteDerivatives, FreeCoordinatesOfSpecialPositions) {
    {
        Structure s("corundum");
        s.checkAxis(s.site("Al1"), 2);
        s.checkAxis(s.site("O1"), 0);
        s.checkIsotropic(s.site("O1"));
        s.checkOccupancy(s.site("Al1"));
    }
    {
        // Polar: B ≠ 0. Zn is moved off the cell face at z = 0 first, where
        // the folding of coordinates into the cell would cut a difference.
        Structure s("ZnO");
        s.site("Zn1")->z = 0.02;
        generateUnitCell(s.crystal);
        s.checkAxis(s.site("O1"), 2);
        s.checkAxis(s.site("Zn1"), 2);
        s.checkOccupancy(s.site("O1"));
        s.checkIsotropic(s.site("Zn1"));
    }
    {
        Structure s("LaB6", 1, 3);
        s.checkAxis(s.site("B1"), 0);
        s.checkIsotropic(s.site("La1"));
    }
}

TEST(SiteDerivatives, CoefficientOfAnAxisInACoordinateExpression) {
    using powderkit::coordinateCoefficient;
    EXPECT_EQ(coordinateCoefficient("+x", 0), 1.0);
    EXPECT_EQ(coordinateCoefficient("+x", 1), 0.0);
    EXPECT_EQ(coordinateCoefficient("-x+1/2", 0), -1.0);
    EXPECT_EQ(coordinateCoefficient("1/2-x", 0), -1.0);
    EXPECT_EQ(coordinateCoefficient("x+1/2", 0), 0.0);  // no sign before the letter
    EXPECT_EQ(coordinateCoefficient("-y+1/2", 1), -1.0);
    EXPECT_EQ(coordinateCoefficient("+Z", 2), 1.0);
    EXPECT_EQ(coordinateCoefficient("-X", 0), -1.0);
    // Only the first variable is read.
    EXPECT_EQ(coordinateCoefficient("-x+y", 0), -1.0);
    EXPECT_EQ(coordinateCoefficient("-x+y", 1), 0.0);
    EXPECT_EQ(coordinateCoefficient("+1/4", 0), 0.0);
    EXPECT_EQ(coordinateCoefficient("", 0), 0.0);
    EXPECT_EQ(coordinateCoefficient(nullptr, 0), 0.0);
}

// A one-site crystal for the weights and edge cases: cubic a = 5 Å,
// stored structure-factor parts A = 1.5, B = −0.5, Lp = 3, multiplicity 6.
struct Small {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 2.0, 5.0, 150.0);
    Reflexion reflexion{};
    Site *site = makeEmptySite();
    Small() {
        crystal->a = crystal->b = crystal->c = 5.0;
        crystal->alpha = crystal->beta = crystal->gamma = 90.0;
        calculateReciprocalCell(crystal);
        calculateMetricTensor(crystal);
        reflexion.h = 1;
        reflexion.k = 2;
        reflexion.l = 0;
        reflexion.multiplicity = 6;
        reflexion.dSpacing = 5.0 / std::sqrt(5.0);
        reflexion.structureFactorReal = 1.5;
        reflexion.structureFactorImag = -0.5;
        reflexion.lorentzPolarization = 3.0;
        site->occupants = makeDynamicArrayWithCapacity(1);
        RefinementAtomicScatteringFactor *f = makeRefinementAtomicScatteringFactor();
        f->hasCromerMannCoefficients = 1;
        f->cromerMannCoefficients[8] = 8.0;  // f = 8
        addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant("O", 0.75, f));
        site->atoms = makeDynamicArrayWithCapacity(1);
        RefinementAtom *atom = makeRefinementAtom(0.1, 0.2, 0.3);
        operatorRecord = makeRefinementSymmetryOperator();
        operatorRecord->coordinateExpressions[0] = "+x";
        operatorRecord->coordinateExpressions[1] = "-y";
        operatorRecord->coordinateExpressions[2] = "z";  // no sign: contributes nothing
        atom->symmetryOperator = operatorRecord;
        addObjectToDynamicArray(site->atoms, atom);
    }
    ~Small() {
        site->methods->freeSite(site);
        operatorRecord->methods->freeRefinementSymmetryOperator(operatorRecord);
        freeRefinementCrystal(crystal);
        freeRefinementProfile(profile);
    }
    RefinementSymmetryOperator *operatorRecord;
    RefinementSiteOccupant *occupant() const {
        return static_cast<RefinementSiteOccupant *>(site->occupants->items[0]);
    }
};

TEST(SiteDerivatives, WeightsByHand) {
    Small s;
    const double volume = 125.0;
    // WA = 2 λ³ Lp A / V² × multiplicity = 2·8·3·1.5/125²·6.
    const double expectedA = 2.0 * 8.0 * 3.0 * 1.5 / (volume * volume) * 6.0;
    EXPECT_NEAR(powderkit::realPartIntensityWeight(s.crystal, &s.reflexion, s.profile), expectedA,
                1e-14 * expectedA);
    EXPECT_NEAR(powderkit::imaginaryPartIntensityWeight(s.crystal, &s.reflexion, s.profile),
                -expectedA / 3.0, 1e-14 * expectedA);
    // Time of flight: no λ³.
    s.profile->experimentType = 4;
    EXPECT_NEAR(powderkit::realPartIntensityWeight(s.crystal, &s.reflexion, s.profile),
                expectedA / 8.0, 1e-14 * expectedA);
    // Second wavelength (λ₂ = 1 Å): λ₂³ and 1/ratio.
    s.profile->experimentType = 1;
    s.profile->secondaryWavelength = 1.0;
    s.profile->secondaryIntensityRatio = 2.0;
    s.reflexion.isSecondaryWavelength = 1;
    EXPECT_NEAR(powderkit::realPartIntensityWeight(s.crystal, &s.reflexion, s.profile),
                expectedA / 8.0 / 2.0, 1e-14 * expectedA);
}

TEST(SiteDerivatives, EdgeCasesByHand) {
    Small s;
    // One position at φ = 2π(0.1 + 0.4) = π: Σc = −1, Σs ≈ 0.
    const double weightA = powderkit::realPartIntensityWeight(s.crystal, &s.reflexion, s.profile);
    // Occupancy: f = 8 for this occupant (no displacement record).
    EXPECT_NEAR(DiffReflexionIntensityWrtSiteOccupancy(s.crystal, &s.reflexion, s.profile, s.site,
                                                       s.occupant()),
                weightA * (-1.0) * 8.0, 1e-12 * std::fabs(weightA) * 8.0);
    // Axis x: the '+x' row gives dA = −sin φ · 2π · F · h with F = 0.75·8 = 6;
    // y: the '-y' row gives −(−sin φ · 2π · F · k); z: the bare 'z' gives 0.
    // sin π vanishes, so dA = 0 and dB = c cos φ 2π F hᵢ = −c·2π·6·hᵢ.
    const double weightB =
        powderkit::imaginaryPartIntensityWeight(s.crystal, &s.reflexion, s.profile);
    const double twoPiF = 2.0 * M_PI * 6.0;
    EXPECT_NEAR(DiffReflexionIntensityWrtSiteAxis(s.crystal, &s.reflexion, s.profile, s.site, 0),
                weightB * (-twoPiF * 1.0), 1e-10 * std::fabs(weightB) * twoPiF);
    EXPECT_NEAR(DiffReflexionIntensityWrtSiteAxis(s.crystal, &s.reflexion, s.profile, s.site, 1),
                weightB * (twoPiF * 2.0), 1e-10 * std::fabs(weightB) * twoPiF);
    s.reflexion.l = 3;  // moves φ, but z has no signed variable
    s.reflexion.h = 1;
    s.reflexion.k = 2;
    const double zRate =
        DiffReflexionIntensityWrtSiteAxis(s.crystal, &s.reflexion, s.profile, s.site, 2);
    EXPECT_EQ(zRate, 0.0);
    s.reflexion.l = 0;

    // An invalid axis prints its message and gives 0.
    for (int32_t axis : {3, -1}) {
        double result = 1.0;
        const std::string err = pk_test::captureStderr([&] {
            result = DiffReflexionIntensityWrtSiteAxis(s.crystal, &s.reflexion, s.profile, s.site,
                                                       axis);
        });
        EXPECT_EQ(err, "Invalid siteAxis supplied to partial derivative!\n");
        EXPECT_EQ(result, 0.0);
    }

    // No displacement record: no anisotropic parameters, derivative 0.
    EXPECT_EQ(DiffReflexionIntensityWrtSiteAnisotropicTempFactor(s.crystal, &s.reflexion,
                                                                 s.profile, s.site, 1),
              0.0);
    s.site->displacement = makeRefinementThermalEllipsoidUij();
    s.site->displacement->isAnisotropic = 1;
    s.site->displacement->u[0][0] = 0.01;
    EXPECT_NE(DiffReflexionIntensityWrtSiteAnisotropicTempFactor(s.crystal, &s.reflexion,
                                                                 s.profile, s.site, 1),
              0.0);
    for (int32_t code : {0, 7, -3}) {
        EXPECT_EQ(DiffReflexionIntensityWrtSiteAnisotropicTempFactor(s.crystal, &s.reflexion,
                                                                     s.profile, s.site, code),
                  0.0);
    }
    // Isotropic: ∂I/∂U = WA Σc q e^(qU) F with q = −2π²/d² (d² = 5).
    const double q = -2.0 * M_PI * M_PI / 5.0;
    EXPECT_NEAR(DiffReflexionIntensityWrtSiteIsotropicTempFactor(s.crystal, &s.reflexion,
                                                                 s.profile, s.site, 0.02),
                weightA * (-1.0) * q * std::exp(q * 0.02) * 6.0,
                1e-12 * std::fabs(weightA * q * 6.0));

    // (0 0 0): no coordinate or anisotropic derivative.
    s.reflexion.h = s.reflexion.k = s.reflexion.l = 0;
    for (int32_t axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(DiffReflexionIntensityWrtSiteAxis(s.crystal, &s.reflexion, s.profile, s.site,
                                                    axis),
                  0.0);
    }
    for (int32_t code = 1; code <= 6; ++code) {
        EXPECT_EQ(DiffReflexionIntensityWrtSiteAnisotropicTempFactor(s.crystal, &s.reflexion,
                                                                     s.profile, s.site, code),
                  0.0);
    }
    // An empty occupant gives 0, whatever its scattering factor.
    s.reflexion.h = 1;
    s.occupant()->occupancy = 0.0;
    EXPECT_EQ(DiffReflexionIntensityWrtSiteOccupancy(s.crystal, &s.reflexion, s.profile, s.site,
                                                     s.occupant()),
              0.0);
    // A site without positions: 0.
    s.occupant()->occupancy = 0.75;
    s.site->atoms->count = 0;
    EXPECT_EQ(DiffReflexionIntensityWrtSiteIsotropicTempFactor(s.crystal, &s.reflexion,
                                                               s.profile, s.site, 0.02),
              0.0);
    s.site->atoms->count = 1;
}

}  // namespace
