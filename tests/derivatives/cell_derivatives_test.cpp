// Cell-parameter derivatives: d (and through it d* and the reciprocal
// angles), the peak position and the volume of a triclinic cell against
// central differences of the library's own cell geometry (reciprocal cell and
// metric tensors recomputed at every step); the Lorentz-polarisation derivative against a difference
// of the textbook factor written out here; the cubic special values and the
// volume uncertainty.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <memory>

#include "derivatives/cell_derivatives.hpp"
#include "support/finite_difference.hpp"

namespace {

using pk_test::centralDifferenceOfField;
using pk_test::derivativeAgrees;
using pk_test::kDegreesPerRadian;

struct CrystalDeleter {
    void operator()(RefinementCrystal *crystal) const { freeRefinementCrystal(crystal); }
};

RefinementCrystal *makeCell(double a, double b, double c, double alpha, double beta,
                            double gamma) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = a;
    crystal->b = b;
    crystal->c = c;
    crystal->alpha = alpha;
    crystal->beta = beta;
    crystal->gamma = gamma;
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    return crystal;
}

void refreshCell(RefinementCrystal *crystal) {
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
}

Reflexion makeReflexionFor(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    Reflexion reflexion{};
    reflexion.h = h;
    reflexion.k = k;
    reflexion.l = l;
    reflexion.multiplicity = 2;
    reflexion.dSpacing = dSpacingForHKL(crystal, h, k, l);
    return reflexion;
}

// One cell parameter: the field, its difference step, the factor turning a
// difference per stored unit into the analytic unit (per radian for angles),
// and the analytic members that belong to it.
struct CellParameter {
    const char *name;
    double RefinementCrystal::*field;
    double step;
    double unitFactor;
    double (*dSpacingRate)(const RefinementCrystal *, const Reflexion *);
    powderkit::CellParameter parameter;  // of the 2θ rate
    double (*volumeRate)(const RefinementCrystal *);
};

const std::array<CellParameter, 6> kCellParameters = {{
    {"a", &RefinementCrystal::a, 1e-5, 1.0, powderkit::diffDSpacingWrtCellA,
     powderkit::CellParameter::a, powderkit::diffVolumeWrtA},
    {"b", &RefinementCrystal::b, 1e-5, 1.0, powderkit::diffDSpacingWrtCellB,
     powderkit::CellParameter::b, powderkit::diffVolumeWrtB},
    {"c", &RefinementCrystal::c, 1e-5, 1.0, powderkit::diffDSpacingWrtCellC,
     powderkit::CellParameter::c, powderkit::diffVolumeWrtC},
    {"alpha", &RefinementCrystal::alpha, 1e-4, kDegreesPerRadian,
     powderkit::diffDSpacingWrtCellAlpha, powderkit::CellParameter::alpha,
     powderkit::diffVolumeWrtAlpha},
    {"beta", &RefinementCrystal::beta, 1e-4, kDegreesPerRadian,
     powderkit::diffDSpacingWrtCellBeta, powderkit::CellParameter::beta,
     powderkit::diffVolumeWrtBeta},
    {"gamma", &RefinementCrystal::gamma, 1e-4, kDegreesPerRadian,
     powderkit::diffDSpacingWrtCellGamma, powderkit::CellParameter::gamma,
     powderkit::diffVolumeWrtGamma},
}};

const std::array<std::array<int32_t, 3>, 6> kTriclinicPlanes = {
    {{1, 0, 0}, {0, 1, 1}, {1, 2, -3}, {2, -1, 1}, {-3, 1, 2}, {4, 3, -1}}};

TEST(CellDerivatives, DSpacingAndPeakPositionOfATriclinicCell) {
    std::unique_ptr<RefinementCrystal, CrystalDeleter> crystal(
        makeCell(5.1, 6.3, 7.2, 81.0, 97.0, 104.0));
    RefinementCrystal *x = crystal.get();
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 150.0);
    profile->zero = 0.13;  // the zero shift moves the position, not its derivative
    for (const auto &hkl : kTriclinicPlanes) {
        Reflexion r = makeReflexionFor(x, hkl[0], hkl[1], hkl[2]);
        for (const CellParameter &p : kCellParameters) {
            SCOPED_TRACE(testing::Message() << p.name << " of " << hkl[0] << ' ' << hkl[1] << ' '
                                            << hkl[2]);
            const double dNumeric =
                centralDifferenceOfField(&(x->*p.field), p.step, [&] {
                    refreshCell(x);
                    return dSpacingForHKL(x, hkl[0], hkl[1], hkl[2]);
                }) *
                p.unitFactor;
            EXPECT_TRUE(derivativeAgrees(p.dSpacingRate(x, &r), dNumeric, 1e-6, r.dSpacing));

            const double twoThetaNumeric =
                centralDifferenceOfField(&(x->*p.field), p.step, [&] {
                    refreshCell(x);
                    return twoThetaForDSpacing(profile, dSpacingForHKL(x, hkl[0], hkl[1], hkl[2]),
                                               0);
                }) *
                p.unitFactor;
            const double twoThetaRate = powderkit::diffTwoThetaWrtCell(p.parameter, x, &r, profile);
            EXPECT_TRUE(derivativeAgrees(twoThetaRate, twoThetaNumeric, 1e-6, 10.0));
        }
    }
    freeRefinementProfile(profile);
}

TEST(CellDerivatives, SecondaryWavelengthPeakPositionUsesTheSecondWavelength) {
    std::unique_ptr<RefinementCrystal, CrystalDeleter> crystal(
        makeCell(5.1, 6.3, 7.2, 81.0, 97.0, 104.0));
    RefinementCrystal *x = crystal.get();
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 150.0);
    profile->secondaryWavelength = 1.5444;
    Reflexion r = makeReflexionFor(x, 1, 2, -3);
    r.isSecondaryWavelength = 1;
    const double numeric = centralDifferenceOfField(&x->b, 1e-5, [&] {
        refreshCell(x);
        return twoThetaForDSpacing(profile, dSpacingForHKL(x, 1, 2, -3), 1);
    });
    const powderkit::CellParameter b = powderkit::CellParameter::b;
    const double analytic = powderkit::diffTwoThetaWrtCell(b, x, &r, profile);
    EXPECT_TRUE(derivativeAgrees(analytic, numeric, 1e-6));
    r.isSecondaryWavelength = 0;  // the primary line moves by a different amount
    EXPECT_FALSE(derivativeAgrees(powderkit::diffTwoThetaWrtCell(b, x, &r, profile), numeric, 1e-4));
    freeRefinementProfile(profile);
}

TEST(CellDerivatives, CubicCellSpecialValues) {
    std::unique_ptr<RefinementCrystal, CrystalDeleter> crystal(makeCell(4.0, 4.0, 4.0, 90, 90, 90));
    RefinementCrystal *x = crystal.get();
    Reflexion r = makeReflexionFor(x, 1, 0, 0);
    ASSERT_NEAR(r.dSpacing, 4.0, 1e-12);
    // d* = a* h, so ∂d*/∂a* = h = 1 and d = a/h moves one for one with a.
    EXPECT_NEAR(powderkit::diffInverseDSpacingWrtAStar(x, &r), 1.0, 1e-12);
    EXPECT_NEAR(powderkit::diffDSpacingWrtCellA(x, &r), 1.0, 1e-12);
    EXPECT_NEAR(powderkit::diffDSpacingWrtCellB(x, &r), 0.0, 1e-12);
    EXPECT_NEAR(powderkit::diffDSpacingWrtCellC(x, &r), 0.0, 1e-12);
    // cos 90° taken with the 13-digit degree factor is about 4e-12, not 0.
    EXPECT_NEAR(powderkit::diffDSpacingWrtCellAlpha(x, &r), 0.0, 1e-10);
    EXPECT_NEAR(powderkit::diffDSpacingWrtCellBeta(x, &r), 0.0, 1e-10);
    EXPECT_NEAR(powderkit::diffDSpacingWrtCellGamma(x, &r), 0.0, 1e-10);

    // V = a³: ∂V/∂a = a² for each edge, and right angles are stationary.
    EXPECT_NEAR(powderkit::diffVolumeWrtA(x), 16.0, 1e-10);
    EXPECT_NEAR(powderkit::diffVolumeWrtB(x), 16.0, 1e-10);
    EXPECT_NEAR(powderkit::diffVolumeWrtC(x), 16.0, 1e-10);
    EXPECT_LT(std::fabs(powderkit::diffVolumeWrtAlpha(x)), 1e-11 * 64.0);
    EXPECT_LT(std::fabs(powderkit::diffVolumeWrtBeta(x)), 1e-11 * 64.0);
    EXPECT_LT(std::fabs(powderkit::diffVolumeWrtGamma(x)), 1e-11 * 64.0);
}

TEST(CellDerivatives, VolumeOfATriclinicCellAndItsUncertainty) {
    std::unique_ptr<RefinementCrystal, CrystalDeleter> crystal(
        makeCell(5.1, 6.3, 7.2, 81.0, 97.0, 104.0));
    RefinementCrystal *x = crystal.get();
    // σ of a, b, c in Å and of α, β, γ in radians.
    const double sigma[6] = {0.002, 0.003, 0.001, 0.0004, 0.0002, 0.0005};
    double variance = 0.0;
    for (size_t i = 0; i < kCellParameters.size(); ++i) {
        const CellParameter &p = kCellParameters[i];
        const double numeric = centralDifferenceOfField(&(x->*p.field), p.step, [&] {
                                   calculateReciprocalCell(x);
                                   return x->volume;
                               }) *
                               p.unitFactor;
        EXPECT_TRUE(derivativeAgrees(p.volumeRate(x), numeric, 1e-7, x->volume)) << p.name;
        variance += sigma[i] * sigma[i] * numeric * numeric;
        x->cellParameterErrors[i] = sigma[i];
    }
    EXPECT_NEAR(UnitCellVolumeError(x), std::sqrt(variance), 1e-7 * std::sqrt(variance));

    // Cubic: σ(V) = √3 a² σ when only the edges are uncertain.
    std::unique_ptr<RefinementCrystal, CrystalDeleter> cube(makeCell(5.0, 5.0, 5.0, 90, 90, 90));
    for (int i = 0; i < 3; ++i) cube->cellParameterErrors[i] = 0.01;
    EXPECT_NEAR(UnitCellVolumeError(cube.get()), std::sqrt(3.0) * 25.0 * 0.01, 1e-12);
    EXPECT_EQ(UnitCellVolumeError(nullptr), 0.0);
}

// The Lorentz-polarisation factor of a 2θ pattern written out here:
// L = 1/(sin 2θ sin θ), P = (1 + cos² 2θ)/2 for X-rays, θ = asin(λ/2d).
double textbookLorentzPolarization(double wavelength, double d, bool neutrons) {
    const double theta = std::asin(wavelength / (2.0 * d));
    const double lorentz = 1.0 / (std::sin(2.0 * theta) * std::sin(theta));
    const double polarization = neutrons ? 1.0 : (1.0 + std::pow(std::cos(2.0 * theta), 2)) / 2.0;
    return lorentz * polarization;
}

TEST(CellDerivatives, LorentzPolarizationAgainstTheTextbookFactor) {
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 150.0);
    profile->secondaryWavelength = 1.5444;
    Reflexion r{};
    for (double d : {4.0, 2.1, 1.3, 0.95, 0.8}) {
        r.dSpacing = d;
        for (int radiation : {PK_RADIATION_XRAY, PK_RADIATION_NEUTRON}) {
            for (uint8_t secondary : {uint8_t{0}, uint8_t{1}}) {
                SCOPED_TRACE(testing::Message() << "d " << d << " radiation " << radiation
                                                << " secondary " << int{secondary});
                profile->radiationType = radiation;
                r.isSecondaryWavelength = secondary;
                const double lambda = secondary ? 1.5444 : 1.5406;
                const double numeric = pk_test::centralDifference(
                    [&](double dd) {
                        return textbookLorentzPolarization(lambda, dd,
                                                           radiation == PK_RADIATION_NEUTRON);
                    },
                    d, 1e-6);
                EXPECT_TRUE(derivativeAgrees(
                    powderkit::diffLorentzPolarizationWrtDSpacing(&r, profile), numeric, 1e-6));
            }
        }
    }
    freeRefinementProfile(profile);
}

TEST(CellDerivatives, TimeOfFlightLorentzFactorMovesAsTheFourthPower) {
    RefinementProfile *profile = makeRefinementProfile(4, 3, 3, 0.0, 1.0, 20.0);
    Reflexion r{};
    r.dSpacing = 1.0;
    // L = d⁴ sin 45° for a 90° bank: ∂L/∂d = 4 sin 45° at d = 1.
    EXPECT_NEAR(powderkit::diffLorentzPolarizationWrtDSpacing(&r, profile),
                4.0 * std::sin(M_PI / 4.0), 1e-11);
    // The bank angle goes through the 13-digit degree factor: agreement to
    // a few parts in 1e11.
    r.dSpacing = 2.0;
    profile->tofTwoTheta = 150.0;
    EXPECT_NEAR(powderkit::diffLorentzPolarizationWrtDSpacing(&r, profile),
                32.0 * std::sin(75.0 * M_PI / 180.0), 1e-9);
    // X-rays on a fixed bank: the polarisation factor is a constant of the
    // bank, (1 + cos² 150°)/2, and only scales the Lorentz derivative.
    profile->radiationType = PK_RADIATION_XRAY;
    profile->wavelength = 5.0;  // the wavelength fields play no part
    const double polarization = (1.0 + std::pow(std::cos(150.0 * M_PI / 180.0), 2)) / 2.0;
    EXPECT_NEAR(powderkit::diffLorentzPolarizationWrtDSpacing(&r, profile),
                32.0 * std::sin(75.0 * M_PI / 180.0) * polarization, 1e-9);
    freeRefinementProfile(profile);
}

}  // namespace
