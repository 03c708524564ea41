// The cell and site derivatives through the finite-difference harness: d,
// the 2θ position (either wavelength) and the volume of a triclinic cell;
// the intensity by cell parameter (reflexion table keys, "Ratio") and by
// every site parameter against recalculated intensities of reference
// structures. The cell members hold the scattering and temperature factors
// at their d (documented), so those crystals have no f(d): X-ray records with
// only the constant c, or neutrons, and no temperature factors. Coordinates
// are checked where the one-variable reading of the coordinate expressions
// is exact (general positions; free coordinates whose variable comes first).
#include <gtest/gtest.h>

#include <cmath>

#include "derivatives/cell_derivatives.hpp"
#include "derivatives/site_derivatives.hpp"
#include "support/derivative_tables.hpp"
#include "support/element_data.hpp"
#include "support/finite_difference.hpp"
#include "support/output_capture.hpp"
#include "support/reference_phases.hpp"

namespace {

using Row = pk_test::DerivativeRow;
using pk_test::kRoundOff;
using pk_test::refreshCell;
namespace pk = powderkit;
const auto kCells = pk_test::cellParameterSteps(1e-5, 1e-4);
const std::array<int32_t, 3> kPlanes[] = {{1, 0, 0}, {0, 1, 1}, {1, 2, -3}, {2, -1, 1}, {-3, 1, 2}, {4, 3, -1}};

Reflexion reflexionOf(const std::array<int32_t, 3> &hkl) {
    Reflexion r{};
    r.h = hkl[0], r.k = hkl[1], r.l = hkl[2], r.multiplicity = 2;
    return r;
}

TEST(CellDerivatives, DSpacingPositionAndVolume) {
    RefinementCrystal *x = pk_test::makeTriclinicCrystal();
    RefinementProfile *cw = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 150.0);
    cw->zero = 0.13, cw->secondaryWavelength = 1.5444;  // the zero shift moves 2θ, not its rate
    using DRate = double (*)(const RefinementCrystal *, const Reflexion *);
    const DRate dRates[] = {pk::diffDSpacingWrtCellA, pk::diffDSpacingWrtCellB, pk::diffDSpacingWrtCellC,
        pk::diffDSpacingWrtCellAlpha, pk::diffDSpacingWrtCellBeta, pk::diffDSpacingWrtCellGamma};
    using VRate = double (*)(const RefinementCrystal *);
    const VRate vRates[] = {pk::diffVolumeWrtA, pk::diffVolumeWrtB, pk::diffVolumeWrtC,
        pk::diffVolumeWrtAlpha, pk::diffVolumeWrtBeta, pk::diffVolumeWrtGamma};
    std::vector<Reflexion> rs;
    for (uint8_t secondary : {0, 1}) {
        for (const auto &hkl : kPlanes) rs.push_back(reflexionOf(hkl)), rs.back().isSecondaryWavelength = secondary;
    }
    std::vector<Row> rows;
    for (int i = 0; i < 6; ++i) {
        const pk_test::CellParameterStep &p = kCells[i];
        const auto perRadian = [p](double d) { return d * p.unitFactor; };
        rows.push_back({"V", [=] { return vRates[i](x); }, &(x->*p.field), p.step,
                        [x] { return refreshCell(x), x->volume; }, perRadian});
        for (Reflexion &r : rs) {
            r.dSpacing = dSpacingForHKL(x, r.h, r.k, r.l);
            const auto d = [x, &r] { return refreshCell(x), dSpacingForHKL(x, r.h, r.k, r.l); };
            const auto parameter = static_cast<pk::CellParameter>(i);
            rows.push_back({"d", [=, &r] { return dRates[i](x, &r); }, &(x->*p.field), p.step, d, perRadian});
            rows.push_back({"2θ", [=, &r] { return pk::diffTwoThetaWrtCell(parameter, x, &r, cw); }, &(x->*p.field),
                            p.step, [=, &r] { return twoThetaForDSpacing(cw, d(), r.isSecondaryWavelength); }, perRadian});
        }
    }
    pk_test::expectDerivatives(rows);
    // σ(V)² = Σ σ_p² (∂V/∂p)², angles' σ in radians.
    const double sigma[6] = {0.002, 0.003, 0.001, 0.0004, 0.0002, 0.0005};
    double variance = 0.0;
    for (int i = 0; i < 6; ++i) variance += std::pow(sigma[i] * vRates[i](x), 2), x->cellParameterErrors[i] = sigma[i];
    EXPECT_NEAR(UnitCellVolumeError(x), std::sqrt(variance), kRoundOff * std::sqrt(variance));
    EXPECT_EQ(UnitCellVolumeError(nullptr), 0.0);
    freeRefinementCrystal(x);
    freeRefinementProfile(cw);
}

// The monoclinic reference crystal made triclinic, each occupant's record
// replaced by what `factory` makes for its element, no temperature factors.
RefinementAtomicScatteringFactor *constantXrayFactor(const std::string &symbol) {
    const double *c = pk_test::findElement(symbol)->coefficients;
    RefinementAtomicScatteringFactor *record = makeRefinementAtomicScatteringFactor();
    record->hasCromerMannCoefficients = 1;
    record->cromerMannCoefficients[8] = c[0] + c[2] + c[4] + c[6] + c[8];  // f at zero angle
    return record;
}
RefinementCrystal *crystalWith(RefinementAtomicScatteringFactor *(*factory)(const std::string &)) {
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("lowsym");
    for (int32_t i = 0; i < crystal->sites->count; ++i) {
        const auto *occupants = static_cast<const Site *>(crystal->sites->items[i])->occupants;
        for (int32_t j = 0; j < occupants->count; ++j) {
            auto *occupant = static_cast<RefinementSiteOccupant *>(occupants->items[j]);
            freeRefinementAtomicScatteringFactor(occupant->scatteringFactor);
            occupant->scatteringFactor = factory(occupant->symbol);
        }
    }
    crystal->useAnisotropicDisplacement = 0;
    crystal->alpha = 86.0, crystal->gamma = 95.0;
    refreshCell(crystal);
    return crystal;
}

TEST(CellDerivatives, IntensityByCellAndRatioThroughTheReflexionTable) {
    pk_test::TablePointer table(ReflexionDerivativesHashTable());
    // Constant-wavelength X-rays and neutrons, time-of-flight X-rays (the
    // Lorentz-polarisation rate of each, against the factor the intensity
    // holds), and the second-wavelength companion, its intensity and Lp in r.
    for (int32_t kind = 0; kind < 4; ++kind) {
        RefinementCrystal *x = crystalWith(kind == 1 ? pk_test::makeScatteringFactorFor : constantXrayFactor);
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
            for (const auto &p : kCells) {
                const auto f = pk_test::functionForKey<ReflexionDerivativeFunction>(table.get(), p.key);
                rows.push_back({"I", [=, &r] { return f(x, &r, profile); }, &(x->*p.field), p.step, intensity,
                                [p](double d) { return d * p.unitFactor; }});
            }
            if (kind == 3) {
                const auto ratio = pk_test::functionForKey<ReflexionDerivativeFunction>(table.get(), "Ratio");
                rows.push_back({"Ratio", [=, &r] { return ratio(x, &r, profile); },
                                &profile->secondaryIntensityRatio, 1e-5, intensity});
            }
        }
        pk_test::expectDerivatives(rows);
        freeRefinementCrystal(x);
        freeRefinementProfile(profile);
    }
}

// One parameter of a site: 0-2 a coordinate, 3 Uiso, 4 the first
// occupancy, 5-10 the anisotropic components 1-6 (u11 u22 u33 u23 u13 u12).
struct SiteParameter {
    const char *label;
    int32_t parameter;
};

void checkSites(const char *structure, int32_t experiment, int32_t radiation,
                std::vector<SiteParameter> parameters, bool marchCorrection = false) {
    RefinementCrystal *x = pk_test::makeReferenceCrystal(structure, 1.1);
    RefinementProfile *profile = makeRefinementProfile(experiment, radiation, experiment == 4 ? 3 : 0, 1.5406, 5.0, 150.0);
    profile->tofTwoTheta = 145.0;
    if (marchCorrection) {
        x->usePreferredOrientation = 1, x->preferredOrientationMode = 1, x->preferredOrientation = 0.25;
        x->preferredOrientationAxis[2] = 1.0;
        normalizeMarchEquation(x);
    }
    if (std::string(structure) == "ZnO") {  // off the cell face z = 0, where folding would cut a difference
        for (int32_t i = 0; i < x->sites->count; ++i) {
            Site *site = static_cast<Site *>(x->sites->items[i]);
            if (std::string(site->label) == "Zn1") site->z = 0.02;
        }
        generateUnitCell(x);
    }
    std::vector<Row> rows;
    for (const SiteParameter &sp : parameters) {
        Site *site = nullptr;
        for (int32_t i = 0; i < x->sites->count; ++i) {
            Site *s = static_cast<Site *>(x->sites->items[i]);
            if (std::string(s->label) == sp.label) site = s;
        }
        ASSERT_NE(site, nullptr) << sp.label;
        auto *occupant = static_cast<RefinementSiteOccupant *>(site->occupants->items[0]);
        RefinementThermalEllipsoidUij *u = site->displacement;
        const int32_t p = sp.parameter;
        double *fields[11] = {&site->x, &site->y, &site->z, &u->uIso, &occupant->occupancy,
                              &u->u[0][0], &u->u[1][1], &u->u[2][2], &u->u[1][2], &u->u[0][2], &u->u[0][1]};
        if (p >= 5) {
            const double tensor[3][3] = {{0.011, 0.002, -0.001}, {0, 0.008, 0.0015}, {0, 0, 0.013}};
            u->isAnisotropic = 1;
            for (int i = 0; i < 3; ++i) std::copy(tensor[i], tensor[i] + 3, u->u[i]);
        }
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
            rows.push_back({std::string(sp.label) + std::to_string(p), analytic, fields[p], 1e-6, intensity});
        }
        pk_test::expectDerivatives(rows);  // before the next parameter may make the site anisotropic
        rows.clear();
    }
    freeRefinementCrystal(x);
    freeRefinementProfile(profile);
}

TEST(SiteDerivatives, EveryParameterOfGeneralAndSpecialSites) {
    std::vector<SiteParameter> general;
    for (const char *label : {"Ni1", "Si1", "O1", "O2"}) {  // O2 is half occupied
        for (int32_t p = 0; p < 5; ++p) general.push_back({label, p});
    }
    for (int32_t p = 5; p < 11; ++p) general.push_back({"Si1", p});
    checkSites("lowsym", 1, 2, general);
    std::vector<SiteParameter> o2;
    for (int32_t p = 0; p < 11; ++p) o2.push_back({"O2", p});
    checkSites("lowsym", 4, 3, o2);  // time of flight, neutrons
    checkSites("lowsym", 1, 2, {{"Ni1", 1}, {"Ni1", 3}, {"Ni1", 4}}, true);  // March weights
    checkSites("corundum", 1, 2, {{"Al1", 2}, {"O1", 0}, {"O1", 3}, {"Al1", 4}});
    checkSites("ZnO", 1, 2, {{"O1", 2}, {"Zn1", 2}, {"O1", 4}, {"Zn1", 3}});  // non-centrosymmetric
    checkSites("LaB6", 1, 3, {{"B1", 0}, {"La1", 3}});
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
    const double wa = pk::realPartIntensityWeight(x, r, profile), wb = pk::imaginaryPartIntensityWeight(x, r, profile);
    profile->secondaryWavelength = 2.0 * 1.5406, profile->secondaryIntensityRatio = 4.0;
    r->isSecondaryWavelength = 1;
    EXPECT_NEAR(pk::realPartIntensityWeight(x, r, profile), 2.0 * wa, kRoundOff * std::fabs(wa));
    EXPECT_NEAR(pk::imaginaryPartIntensityWeight(x, r, profile), 2.0 * wb, kRoundOff * std::fabs(wb));
    r->isSecondaryWavelength = 0;
    // Zeros: an invalid axis (with its message), a component code outside 1-6,
    // no displacement record, the plane 0 0 0, an empty occupant, no positions.
    for (int32_t axis : {3, -1}) {
        double v = 1.0;
        EXPECT_EQ(pk_test::captureStderr([&] { v = DiffReflexionIntensityWrtSiteAxis(x, r, profile, site, axis); }),
                  "Invalid siteAxis supplied to partial derivative!\n");
        EXPECT_EQ(v, 0.0);
    }
    site->displacement->isAnisotropic = 1, site->displacement->u[0][0] = 0.01;
    for (int32_t code : {0, 7, -3}) EXPECT_EQ(DiffReflexionIntensityWrtSiteAnisotropicTempFactor(x, r, profile, site, code), 0.0);
    RefinementThermalEllipsoidUij *displacement = site->displacement;
    site->displacement = nullptr;
    EXPECT_EQ(DiffReflexionIntensityWrtSiteAnisotropicTempFactor(x, r, profile, site, 1), 0.0);
    site->displacement = displacement;
    r->h = r->k = r->l = 0;
    for (int32_t p = 0; p < 3; ++p) EXPECT_EQ(DiffReflexionIntensityWrtSiteAxis(x, r, profile, site, p), 0.0);
    for (int32_t p = 1; p <= 6; ++p) EXPECT_EQ(DiffReflexionIntensityWrtSiteAnisotropicTempFactor(x, r, profile, site, p), 0.0);
    r->h = 1, occupant->occupancy = 0.0;
    EXPECT_EQ(DiffReflexionIntensityWrtSiteOccupancy(x, r, profile, site, occupant), 0.0);
    const int32_t positions = site->atoms->count;
    site->atoms->count = 0;
    EXPECT_EQ(DiffReflexionIntensityWrtSiteIsotropicTempFactor(x, r, profile, site, 0.02), 0.0);
    site->atoms->count = positions;
    freeRefinementCrystal(x);
    freeRefinementProfile(profile);
}

}  // namespace
