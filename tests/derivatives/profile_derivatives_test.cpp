// The profile derivatives, every key of every shape's table, through the
// finite-difference harness: differences of the value functions at points
// across peaks of a triclinic crystal, below and above the asymmetry cut-off.
// Members knowingly not the exact derivative go through their documented rule:
//  - constant wavelength "Zero": centre terms per degree, width terms per
//    radian: D_c + (D_t − D_c)·180/π, D_t the difference by the peak position,
//    D_c = −(difference by x); a cell member is "Zero" times the position's
//    difference by the cell parameter (per radian for the angles);
//  - the averaged Lorentzian and pseudo-Voigt hold their shifts fixed: "Zero"
//    is Boole's five-point average of the symmetric member at x + P c (k/4)², c = cot 2θ₀;
//  - the time-of-flight pseudo-Voigt follows γ only through η, and not the
//    imaginary parts of p = −αΔ + iαγ/2, q = −βΔ + iβγ/2: the difference less
//    −(2Nη/π) dΛ/ds, Λ = Im(e^p E1(p) + e^q E1(q)), with only those parts moving;
//  - "Scale" is Φ/scale: the difference of scale·Φ, divided by the scale.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <map>

#include "derivatives/profile_derivatives.hpp"
#include "support/finite_difference.hpp"

namespace {

using pk_test::centralDifference;
using RP = RefinementProfile;
namespace pk = powderkit;

// One reflexion of the triclinic crystal on a 2θ (types 0-2) or time-of-flight (3, 4) pattern.
struct Peak {
    RefinementCrystal *crystal = pk_test::makeTriclinicCrystal();
    RefinementProfile *profile;
    Reflexion r{};
    bool tof;
    Peak(int32_t type, std::array<int32_t, 3> hkl, double asymmetry = 0.0, uint8_t secondary = 0) : tof(type >= 3) {
        profile = tof ? makeRefinementProfile(4, 3, type, 0.0, 0.5, 10.0) : makeRefinementProfile(1, 2, type, 1.5406, 5.0, 150.0);
        RP &p = *profile;
        if (tof) {
            p.dtt2 = 3.0, p.zero = 5.0, p.sigma0 = 4.0, p.sigma1 = 20.0, p.sigma2 = 3.0, p.alpha0 = 0.05;
            p.alpha1 = 0.2, p.beta0 = 0.03, p.beta1 = 0.1, p.gamma0 = 2.0, p.gamma1 = 3.0, p.gamma2 = 1.0;
        } else {
            p.U = 0.004, p.V = -0.003, p.W = 0.006, p.LX = 0.03, p.LY = 0.02, p.zero = 0.05;
            p.asymmetry = asymmetry, p.secondaryWavelength = 1.5444;
        }
        r.h = hkl[0], r.k = hkl[1], r.l = hkl[2], r.isSecondaryWavelength = secondary;
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
    bool averages() const { return profile->profileType != 0 && profile->asymmetry >= 5.684e-14 && r.peakPosition <= 50.0; }
};

const std::map<std::string, double RP::*> kFields = {
    {"GU", &RP::U}, {"GV", &RP::V}, {"GW", &RP::W}, {"LX", &RP::LX}, {"LY", &RP::LY}, {"dtt2", &RP::dtt2},
    {"sigma1", &RP::sigma1}, {"sigma2", &RP::sigma2}, {"gamma1", &RP::gamma1}, {"gamma2", &RP::gamma2},
    {"Asymmetry", &RP::asymmetry}};

// −(2Nη/π) dΛ/ds of the pseudo-Voigt's work record at x, α, β, γ = abg(s).
double leftOut(Peak &k, double x, const std::function<std::array<double, 3>(const pk::TofPseudoVoigtTerms &, double)> &abg,
               double s, double step) {
    pk::TofPseudoVoigtTerms t{};
    EXPECT_TRUE(pk::tofExpPseudoVoigtTerms(x, &k.r, k.profile, &t));
    const auto im = [](std::complex<double> z) { return (std::exp(z) * pk::complexExponentialIntegral(z)).imag(); };
    return -(2.0 * t.normalization * t.eta / M_PI) * centralDifference([&](double v) {
        const auto a = abg(t, v);
        return im({t.p.real(), a[0] * a[2] / 2}) + im({t.q.real(), a[1] * a[2] / 2});
    }, s == 0.0 ? t.gamma : s, step);
}

// Rows for every key of the shape's table at points across one peak.
std::vector<pk_test::DerivativeRow> rowsOf(Peak &k, const HashTable *table) {
    const int32_t type = k.profile->profileType;
    const auto member = [&](const std::string &key) {
        const auto f = pk_test::functionForKey<ProfileDerivativeFunction>(table, key);
        EXPECT_NE(f, nullptr) << key;
        return std::function<double(double)>([f, &k](double x) { return f(x, k.crystal, &k.r, k.profile); });
    };
    std::vector<std::string> keys = {"Scale"};
    for (const auto &[key, field] : kFields) {
        if (pointerForKey(table, key.c_str())) keys.push_back(key);
    }
    if (!k.tof) keys.push_back("Zero");
    for (const auto &cell : pk_test::kCellSteps) keys.push_back(cell.key);
    std::vector<pk_test::DerivativeRow> rows;
    for (const std::string &key : keys) {
        const auto analytic = member(key), zero = k.tof ? nullptr : member("Zero");
        for (int i = -15; i <= 15; ++i) {
            const double x = k.r.peakPosition + (k.tof ? (7.0 * i + 45.5) * 0.001 : 0.02 * i);
            pk_test::DerivativeRow row{key, [=] { return analytic(x); }, nullptr, 0.0, [&k, x] { return k.value(x); }};
            if (key == "Scale") {
                row.field = &k.crystal->scale, row.step = 1e-3;
                row.value = [&k, x] { return k.crystal->scale * k.value(x); };
                row.rule = [&k](double d) { return d / k.crystal->scale; };
            } else if (key == "Zero") {
                row.field = &k.r.peakPosition, row.step = 1e-6, row.tolerance = 2e-6;  // a difference times 180/π
                row.rule = [&k, x, zero](double dt) {
                    const double p = k.profile->asymmetry, c = 1.0 / std::tan(k.r.peakPosition * M_PI / 180), dc =
                        -centralDifference([&](double y) { return k.value(y); }, x, 1e-6);
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
                row.field = field, row.step = key == "Asymmetry" ? 1e-6 : 1e-4 * std::fabs(*field);
                if (key == "dtt2") row.value = [&k, x] { return k.place(), k.value(x); };
                const bool applies = type == 0 ? k.r.peakPosition <= 50.0 : k.averages();
                if (key == "Asymmetry") row.rule = [applies](double d) { return applies ? d : 0.0; };
                const double rate = key == "gamma1" ? k.r.dSpacing : k.r.dSpacing * k.r.dSpacing;
                const auto ofGamma = [](const pk::TofPseudoVoigtTerms &t, double g) { return std::array<double, 3>{t.alpha, t.beta, g}; };
                if (key.rfind("gamma", 0) == 0) row.rule = [=, &k](double d) { return d - rate * leftOut(k, x, ofGamma, 0.0, 1e-4); };
            } else {  // a cell parameter: its move of the position, or of d
                const auto &cell = *std::find_if(std::begin(pk_test::kCellSteps), std::end(pk_test::kCellSteps),
                                                 [&](const auto &c) { return key == c.key; });
                row.field = &(k.crystal->*cell.field), row.step = cell.step;
                row.value = [&k, x] { return k.place(), k.value(x); };
                const double positionRate = pk_test::centralDifferenceOfField(row.field, cell.step, [&k] { return k.place(); }),
                             dRate = pk_test::centralDifferenceOfField(row.field, cell.step, [&k] { return k.place(), k.r.dSpacing; });
                const auto ofD = [](const pk::TofPseudoVoigtTerms &, double d) {  // α, β, γ of the profile above
                    return std::array<double, 3>{0.2 / d, 0.03 + 0.1 / std::pow(d, 4), 2.0 + 3.0 * d + d * d};
                };
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

TEST(ProfileDerivatives, EveryKeyOfEveryShapeAgainstTheValue) {
    const std::array<int32_t, 3> planes[] = {{1, 0, 0}, {1, 2, -3}, {2, -1, 1}, {-3, 1, 2}, {4, 3, -1}};
    const std::pair<int32_t, double> shapes[] = {{0, 0.0}, {0, 0.05}, {0, -0.05}, {1, 0.0}, {1, 0.05},
                                                 {2, 0.0}, {2, 0.05}, {3, 0.0}, {4, 0.0}};
    for (const auto &[type, asymmetry] : shapes) {
        const auto table = pk_test::owned(ProfileDerivativesHashTable(type));
        for (const auto &hkl : planes) {
            if (type >= 3 && hkl[0] == 4) continue;  // beyond the time-of-flight range
            SCOPED_TRACE(testing::Message() << "type " << type << " P " << asymmetry << " plane " << hkl[0] << hkl[1] << hkl[2]);
            Peak peak(type, hkl, asymmetry, type < 3 && hkl[0] == 2);  // (2 −1 1) on the second wavelength
            pk_test::expectDerivatives(rowsOf(peak, table.get()));
        }
    }
}

TEST(ProfileDerivatives, ZeroWhereTheyCannotBeTaken) {
    // Widths below the zero tolerance give no rate.
    Peak cw(0, {1, 0, 0});
    for (const double width : {0.0, 1e-14, -0.1}) {
        EXPECT_EQ(pk::diffLorentzianWrtFwhm(30.01, &cw.r, width) + pk::diffLorentzianWrtCentre(30.01, 30.0, width) +
                  std::fabs(pk::diffGaussianWrtCentre(30.01, 30.0, width)), 0.0);
    }
    // From the tolerance 2⁻⁴⁴ on they are taken: at Δ = H/2 and at the centre, by hand.
    const double h = std::ldexp(1.0, -44), l = 2.0 / (M_PI * h * h), g = 4.0 * std::log(2.0) * std::sqrt(std::log(2.0) / M_PI) / (h * h);
    cw.r.peakPosition = 0.0;
    EXPECT_NEAR(pk::diffLorentzianWrtCentre(h / 2, 0.0, h), l, pk_test::kRoundOff * l);
    EXPECT_NEAR(pk::diffLorentzianWrtFwhm(0.0, &cw.r, h), -l, pk_test::kRoundOff * l);
    EXPECT_NEAR(pk::diffGaussianWrtCentre(h / 2, 0.0, h), g, 1e-9 * g);  // the ten-digit Gaussian constant
    cw.profile->U = cw.profile->V = cw.profile->W = 0.0;
    EXPECT_EQ(pk::diffGaussianFwhmWrtPosition(30.0, 0.0, cw.profile), 0.0);
    // A time-of-flight work record that cannot be filled (no variance; N = 0
    // with α = 0) makes every member 0; far out in the tails they stay finite.
    for (const int32_t type : {3, 4}) {
        const auto table = pk_test::owned(ProfileDerivativesHashTable(type));
        for (int failure = 0; failure < 3; ++failure) {
            Peak k(type, {1, 2, -3});
            if (failure == 0) k.profile->sigma0 = k.profile->sigma1 = k.profile->sigma2 = 0.0;
            if (failure == 1) k.profile->alpha0 = k.profile->alpha1 = 0.0;
            for (int32_t slot = 0; slot < table->capacity; ++slot) {
                const char *key = table->entries[slot].key;
                const auto f = key ? pk_test::functionForKey<ProfileDerivativeFunction>(table.get(), key) : nullptr;
                for (const double offset : {-5.0, 0.01, 3.0, 20.0}) {
                    const double v = f ? f(k.r.peakPosition + offset, k.crystal, &k.r, k.profile) : 0.0;
                    EXPECT_TRUE(failure < 2 ? v == 0.0 : std::isfinite(v)) << key;
                }
            }
        }
    }
}

}  // namespace
