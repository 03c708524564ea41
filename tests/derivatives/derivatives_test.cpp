// Derivatives by finite differences: "Zero" per degree, widths per radian, shifts held, TOF pV's γ only through η.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <map>

#include "derivatives/cell_derivatives.hpp"
#include "derivatives/profile_derivatives.hpp"
#include "derivatives/site_derivatives.hpp"
#include "support/finite_difference.hpp"
#include "support/reference_phases.hpp"

namespace {

using Row = pk_test::DerivativeRow;
using RP = RefinementProfile;
namespace pk = powderkit;

struct Peak {  // one reflexion of the triclinic crystal on a 2θ (types 0-2) or time-of-flight (3, 4) pattern
    RefinementCrystal *crystal = pk_test::makeTriclinicCrystal();
    RefinementProfile *profile;
    Reflexion r{};
    bool tof;
    Peak(int32_t type, std::array<int32_t, 3> hkl, double asymmetry, uint8_t secondary) : tof(type >= 3) {
        profile = tof ? makeRefinementProfile(4, 3, type, 0.0, 0.5, 10.0)
                      : makeRefinementProfile(1, 2, type, 1.5406, 5.0, 150.0);
        RP &p = *profile;
        if (tof) {
            p.dtt2 = 3.0, p.zero = 5.0, p.sigma0 = 4.0, p.sigma1 = 20.0, p.sigma2 = 3.0, p.alpha0 = 0.05;
            p.alpha1 = 0.2, p.beta0 = 0.03, p.beta1 = 0.1, p.gamma0 = 2.0, p.gamma1 = 3.0, p.gamma2 = 1.0;
        } else {
            std::tie(p.U, p.V, p.W, p.LX, p.LY, p.zero) = std::make_tuple(0.004, -0.003, 0.006, 0.03, 0.02, 0.05);
            std::tie(p.asymmetry, p.secondaryWavelength) = std::make_tuple(asymmetry, 1.5444);
        }
        std::tie(r.h, r.k, r.l, r.isSecondaryWavelength) = std::make_tuple(hkl[0], hkl[1], hkl[2], secondary);
        place();
    }
    ~Peak() {
        freeRefinementCrystal(crystal);
        freeRefinementProfile(profile);
    }
    double place() {  // cell, d and peak position brought up to date
        pk_test::refreshCell(crystal);
        r.dSpacing = dSpacingForHKL(crystal, r.h, r.k, r.l);
        return r.peakPosition = tof ? tofForDSpacing(profile, r.dSpacing)
                                    : twoThetaForDSpacing(profile, r.dSpacing, r.isSecondaryWavelength);
    }
    double value(double x) { return ProfileFuncForProfileType(profile->profileType)(x, &r, profile); }
    bool averages() const { return profile->profileType && profile->asymmetry >= 5.684e-14 && r.peakPosition <= 50; }
};

const std::map<std::string, double RP::*> kFields = {
    {"GU", &RP::U}, {"GV", &RP::V}, {"GW", &RP::W}, {"LX", &RP::LX}, {"LY", &RP::LY}, {"dtt2", &RP::dtt2},
    {"sigma1", &RP::sigma1}, {"sigma2", &RP::sigma2}, {"gamma1", &RP::gamma1}, {"gamma2", &RP::gamma2},
    {"Asymmetry", &RP::asymmetry}};

const std::vector<std::string> kProfileKeys[5] = {
    {"GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"LX", "LY", "GU", "GV", "GW", "Zero", "a", "b", "c", "alpha", "beta", "gamma", "Scale", "Asymmetry"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "Scale"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "gamma1", "gamma2", "Scale"}};

using Rates = std::array<double, 3> (*)(const pk::TofPseudoVoigtTerms &, double);  // α, β, γ by γ, or by d
std::array<double, 3> ofGamma(const pk::TofPseudoVoigtTerms &t, double g) { return {t.alpha, t.beta, g}; }
std::array<double, 3> ofD(const pk::TofPseudoVoigtTerms &, double d) {
    return {0.2 / d, 0.03 + 0.1 / std::pow(d, 4), 2.0 + 3.0 * d + d * d};
}

double leftOut(Peak &k, double x, Rates abg, double s, double step) {
    pk::TofPseudoVoigtTerms t{};  // −(2Nη/π) dΛ/ds of the pseudo-Voigt's work record at x, α, β, γ = abg(s)
    EXPECT_TRUE(pk::tofExpPseudoVoigtTerms(x, &k.r, k.profile, &t));
    const auto im = [](std::complex<double> z) { return (std::exp(z) * pk::complexExponentialIntegral(z)).imag(); };
    return -(2.0 * t.normalization * t.eta / M_PI) * pk_test::centralDifference([&](double v) {
        const auto a = abg(t, v);
        return im({t.p.real(), a[0] * a[2] / 2}) + im({t.q.real(), a[1] * a[2] / 2});
    }, s == 0.0 ? t.gamma : s, step);
}

std::vector<Row> rowsOf(Peak &k, const HashTable *table) {  // every key of the shape's table across one peak
    const int32_t type = k.profile->profileType;
    const auto member = [&](const std::string &key) {
        const auto f = pk_test::functionForKey<ProfileDerivativeFunction>(table, key);
        return std::function<double(double)>([f, &k](double x) { return f(x, k.crystal, &k.r, k.profile); });
    };
    std::vector<Row> rows;
    for (const std::string &key : kProfileKeys[type]) {
        const auto analytic = member(key), zero = k.tof ? nullptr : member("Zero");
        for (int i = -15; i <= 15; ++i) {
            const double x = k.r.peakPosition + (k.tof ? (7.0 * i + 45.5) * 0.001 : 0.02 * i);
            Row row{key, [=] { return analytic(x); }, nullptr, 0.0, [&k, x] { return k.value(x); }};
            if (key == "Scale") {
                std::tie(row.field, row.step) = std::make_tuple(&k.crystal->scale, 1e-3);
                row.value = [&k, x] { return k.crystal->scale * k.value(x); };
                row.rule = [&k](double d) { return d / k.crystal->scale; };
            } else if (key == "Zero") {
                std::tie(row.field, row.step, row.tolerance) =
                    std::make_tuple(&k.r.peakPosition, 1e-6, 2e-6);  // a difference times 180/π
                row.rule = [&k, x, zero](double dt) {
                    const double p = k.profile->asymmetry, c = 1.0 / std::tan(k.r.peakPosition * M_PI / 180);
                    const double dc = -pk_test::centralDifference([&](double y) { return k.value(y); }, x, 1e-6);
                    if (!k.averages()) return dc + (dt - dc) * pk_test::kDegreesPerRadian;
                    const double w[5] = {7.0 / 90, 32.0 / 90, 12.0 / 90, 32.0 / 90, 7.0 / 90};
                    double sum = 0.0;
                    k.profile->asymmetry = 0.0;
                    for (int j = 0; j < 5; ++j) sum += w[j] * zero(x + p * c * (j / 4.0) * (j / 4.0));
                    k.profile->asymmetry = p;
                    return sum;
                };
            } else if (kFields.count(key)) {
                double *field = &(k.profile->*kFields.at(key));
                std::tie(row.field, row.step) =
                    std::make_tuple(field, key == "Asymmetry" ? 1e-6 : 1e-4 * std::fabs(*field));
                if (key == "dtt2") row.value = [&k, x] { k.place(); return k.value(x); };
                const bool applies = type == 0 ? k.r.peakPosition <= 50.0 : k.averages();
                if (key == "Asymmetry") row.rule = [applies](double d) { return applies ? d : 0.0; };
                const double rate = key == "gamma1" ? k.r.dSpacing : k.r.dSpacing * k.r.dSpacing;  // dγ/dgamma_i
                if (key.rfind("gamma", 0) == 0)
                    row.rule = [=, &k](double d) { return d - rate * leftOut(k, x, ofGamma, 0.0, 1e-4); };
            } else {  // a cell parameter: its move of the position, or of d
                const auto &cell = *std::find_if(std::begin(pk_test::kCellSteps), std::end(pk_test::kCellSteps),
                                                 [&](const auto &c) { return key == c.key; });
                std::tie(row.field, row.step) = std::make_tuple(&(k.crystal->*cell.field), cell.step);
                row.value = [&k, x] { k.place(); return k.value(x); };
                const auto rate = [&](auto f) { return pk_test::centralDifferenceOfField(row.field, cell.step, f); };
                const double positionRate = rate([&k] { return k.place(); });
                const double dRate = rate([&k] { k.place(); return k.r.dSpacing; });
                row.rule = [=, &k](double d) {
                    if (!k.tof) return zero(x) * positionRate * cell.unitFactor;
                    return (d - (type == 4 ? leftOut(k, x, ofD, k.r.dSpacing, 1e-7) * dRate : 0.0)) * cell.unitFactor;
                };
            }
            rows.push_back(row);
        }
    }
    return rows;
}

TEST(ProfileDerivatives, KeySetsAndEveryKeyOfEveryShapeAgainstTheValue) {
    for (const int32_t type : {0, 1, 2, 3, 4, 5, -1})  // every type from 4 up, or below 0, gets the type-4 table
        pk_test::expectKeys(ProfileDerivativesHashTable(type), kProfileKeys[type >= 0 && type < 4 ? type : 4]);
    const std::array<int32_t, 3> planes[] = {{1, 0, 0}, {1, 2, -3}, {2, -1, 1}, {-3, 1, 2}, {4, 3, -1}};
    const std::pair<int32_t, double> shapes[] = {{0, 0.0}, {0, 0.05}, {0, -0.05}, {1, 0.0}, {1, 0.05},
                                                 {2, 0.0}, {2, 0.05}, {3, 0.0}, {4, 0.0}};
    for (const auto &[type, asymmetry] : shapes) {
        const auto table = pk_test::owned(ProfileDerivativesHashTable(type));
        for (const auto &hkl : planes) {
            if (type >= 3 && hkl[0] == 4) continue;  // beyond the time-of-flight range
            SCOPED_TRACE(testing::Message() << type << " " << asymmetry << " " << hkl[0] << hkl[1] << hkl[2]);
            Peak peak(type, hkl, asymmetry, type < 3 && hkl[0] == 2);  // (2 −1 1) on the second wavelength
            pk_test::expectDerivatives(rowsOf(peak, table.get()));
        }
    }
}

TEST(ProfileDerivatives, WidthRatesFromTheZeroToleranceOn) {
    // Widths below the zero tolerance 2⁻⁴⁴ give no rate; from it on they are taken: at Δ = H/2 and the centre by hand.
    Peak cw(0, {1, 0, 0}, 0.0, 0);
    EXPECT_EQ(pk::diffLorentzianWrtFwhm(30.01, &cw.r, 1e-14) + pk::diffLorentzianWrtCentre(30.01, 30.0, 1e-14), 0.0);
    EXPECT_EQ(pk::diffGaussianWrtCentre(30.01, 30.0, -0.1), 0.0);
    const double h = std::ldexp(1.0, -44), l = 2.0 / (M_PI * h * h);
    const double g = 4.0 * std::log(2.0) * std::sqrt(std::log(2.0) / M_PI) / (h * h);
    EXPECT_NEAR(pk::diffLorentzianWrtCentre(h / 2, 0.0, h), l, pk_test::kRoundOff * l);
    EXPECT_NEAR(pk::diffLorentzianWrtFwhm(cw.r.peakPosition, &cw.r, h), -l, pk_test::kRoundOff * l);
    EXPECT_NEAR(pk::diffGaussianWrtCentre(h / 2, 0.0, h), g, 1e-9 * g);  // the ten-digit Gaussian constant
}


TEST(CellDerivatives, VolumeUncertaintyFromTheDifferencesOfTheVolume) {
    RefinementCrystal *x = pk_test::makeTriclinicCrystal();  // σ(V)² = Σ σ_p² (∂V/∂p)², angles' σ in radians
    double variance = 0.0;
    for (int i = 0; i < 6; ++i) {
        const auto &p = pk_test::kCellSteps[i];
        const auto volume = [x] { return pk_test::refreshCell(x), x->volume; };
        const double rate = pk_test::centralDifferenceOfField(&(x->*p.field), p.step, volume) * p.unitFactor;
        variance += std::pow((x->cellParameterErrors[i] = 0.002 / (i + 1)) * rate, 2);
    }
    EXPECT_NEAR(UnitCellVolumeError(x), std::sqrt(variance), pk_test::kFiniteDifference * std::sqrt(variance));
    freeRefinementCrystal(x);
}

RefinementCrystal *crystalWithoutFOfD(bool neutrons) {  // lowsym made triclinic, no U; X-ray f = 8 + 6i at site i
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("lowsym");
    for (int32_t i = 0; i < crystal->sites->count && !neutrons; ++i) {
        const auto *occupants = static_cast<const Site *>(crystal->sites->items[i])->occupants;
        for (int32_t j = 0; j < occupants->count; ++j) {
            auto *f = static_cast<RefinementSiteOccupant *>(occupants->items[j])->scatteringFactor;
            std::fill_n(f->cromerMannCoefficients, 9, 0.0);
            std::tie(f->cromerMannCoefficients[8], f->hasHighAngleCoefficients) = std::make_tuple(8.0 + 6.0 * i, 0);
        }
    }
    std::tie(crystal->useAnisotropicDisplacement, crystal->alpha, crystal->gamma) = std::make_tuple(0, 86.0, 95.0);
    pk_test::refreshCell(crystal);
    return crystal;
}

TEST(CellDerivatives, IntensityByCellAndRatioThroughTheReflexionTable) {
    pk_test::expectKeys(ReflexionDerivativesHashTable(), {"a", "b", "c", "alpha", "beta", "gamma", "Ratio"});
    const auto table = pk_test::owned(ReflexionDerivativesHashTable());
    const auto member = [&](auto k) { return pk_test::functionForKey<ReflexionDerivativeFunction>(table.get(), k); };
    for (int32_t kind = 0; kind < 4; ++kind) {  // CW X-rays and neutrons, TOF X-rays, the second-wavelength companion
        RefinementCrystal *x = crystalWithoutFOfD(kind == 1);
        RefinementProfile *profile = kind == 2 ? makeRefinementProfile(4, 2, 3, 1.2, 5.0, 150.0)
                                               : makeRefinementProfile(1, kind == 1 ? 3 : 2, 0, 1.5406, 5.0, 150.0);
        std::tie(profile->tofTwoTheta, profile->useSecondaryWavelength) = std::make_tuple(145.0, kind == 3);
        std::tie(profile->secondaryWavelength, profile->secondaryIntensityRatio) = std::make_tuple(1.5444, 2.0);
        std::vector<Reflexion> rs(6);
        const int32_t planes[6][3] = {{1, 0, 0}, {0, 1, 1}, {1, 2, -3}, {2, -1, 1}, {-3, 1, 2}, {4, 3, -1}};
        std::vector<Row> rows;
        for (std::size_t i = 0; i < 6; ++i) {
            Reflexion &r = rs[i];
            std::tie(r.h, r.k, r.l, r.multiplicity) = std::make_tuple(planes[i][0], planes[i][1], planes[i][2], 2);
            const auto intensity = [=, &r] {
                pk_test::refreshCell(x);
                r.dSpacing = dSpacingForHKL(x, r.h, r.k, r.l);
                r.isSecondaryWavelength = 0;
                calculateIntensityForReflexion(x, &r, profile);
                if (kind < 3) return r.intensity;
                Reflexion *second = secondaryWavelengthReflexion(x, &r, profile);
                std::tie(r.intensity, r.lorentzPolarization) =
                    std::make_tuple(second->intensity, second->lorentzPolarization);
                r.isSecondaryWavelength = 1;
                second->methods->freeReflexion(second);
                return r.intensity;
            };
            for (const auto &p : pk_test::kCellSteps) {
                const auto f = member(p.key);
                rows.push_back({"I", [=, &r] { return f(x, &r, profile); }, &(x->*p.field), p.step, intensity,
                                [p](double d) { return d * p.unitFactor; }});
            }
            const auto ratio = [=, &r, f = member("Ratio")] { return f(x, &r, profile); };
            rows.push_back({"Ratio", ratio, &profile->secondaryIntensityRatio, 1e-5, intensity});  // 0 for a primary
        }
        pk_test::expectDerivatives(rows);
        freeRefinementCrystal(x);
        freeRefinementProfile(profile);
    }
}

Site *siteNamed(RefinementCrystal *x, const std::string &label) {
    for (int32_t i = 0; i < x->sites->count; ++i)
        if (label == static_cast<Site *>(x->sites->items[i])->label) return static_cast<Site *>(x->sites->items[i]);
    return nullptr;
}

void checkSites(const char *structure, int32_t experiment, std::vector<std::pair<const char *, std::string>> sites) {
    RefinementCrystal *x = pk_test::makeReferenceCrystal(structure, 1.1);  // against the first 40 intensities
    const bool tof = experiment == 4;  // letters: x y z, U, o occupancy, 1-6 u11 u22 u33 u23 u13 u12
    RefinementProfile *profile = makeRefinementProfile(experiment, tof ? 3 : 2, tof ? 3 : 0, 1.5406, 5, 150);
    std::tie(profile->tofTwoTheta, profile->secondaryWavelength, profile->secondaryIntensityRatio) =
        std::make_tuple(145.0, 1.5444, 2.0);
    if (tof) {  // in time of flight the March correction, which replaces the multiplicity in the weights
        std::tie(x->usePreferredOrientation, x->preferredOrientationMode, x->preferredOrientation) =
            std::make_tuple(1, 1, 0.25);
        x->preferredOrientationAxis[2] = 1.0;
        normalizeMarchEquation(x);
    }
    if (Site *zinc = siteNamed(x, "Zn1")) {  // off the face z = 0 folding cuts
        zinc->z = 0.02;
        generateUnitCell(x);
    }
    for (const auto &[label, letters] : sites) {
        Site *site = siteNamed(x, label);
        auto *occupant = static_cast<RefinementSiteOccupant *>(site->occupants->items[0]);
        RefinementThermalEllipsoidUij *u = site->displacement;
        double *fields[11] = {&site->x, &site->y, &site->z, &u->uIso, &occupant->occupancy,
                              &u->u[0][0], &u->u[1][1], &u->u[2][2], &u->u[1][2], &u->u[0][2], &u->u[0][1]};
        for (const char letter : letters) {
            const int32_t p = static_cast<int32_t>(std::string("xyzUo123456").find(letter));
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
                r->isSecondaryWavelength = 1;  // a companion: λ₂³ (none in TOF) and 1/ratio, same A, B, Lp
                const double companion = analytic() * (tof ? 1.0 : std::pow(1.5406 / 1.5444, 3)) * 2.0;
                r->isSecondaryWavelength = 0;
                EXPECT_NEAR(companion, analytic(), pk_test::kRoundOff * std::fabs(companion)) << label << letter;
                rows.push_back({std::string(label) + letter, analytic, fields[p], 1e-6, intensity});
            }
            pk_test::expectDerivatives(rows);
        }
    }
    freeRefinementCrystal(x);
    freeRefinementProfile(profile);
}

TEST(SiteDerivatives, EveryParameterOfGeneralAndSpecialSites) {
    checkSites("lowsym", 1, {{"Ni1", "xyzUo"}, {"Si1", "xyzUo123456"}, {"O1", "xyzUo"}, {"O2", "xyzUo"}});
    checkSites("lowsym", 4, {{"O2", "xyzUo123456"}});  // time of flight, neutrons
    checkSites("corundum", 1, {{"Al1", "zo"}, {"O1", "xU"}});
    checkSites("ZnO", 1, {{"O1", "zo"}, {"Zn1", "zU"}});  // non-centrosymmetric
}

}  // namespace
