// The profile derivatives, every key of every shape's table, through the
// finite-difference harness: central differences of the value functions at
// points across peaks of a triclinic crystal, below and above the asymmetry
// cut-off. Where a member is knowingly not the exact derivative, the
// difference goes through the documented rule instead:
//  - constant wavelength "Zero": the centre term is per degree, the width
//    terms per radian, so the member is D_c + (D_t − D_c)·180/π, with D_t the
//    difference by the peak position and D_c = −(difference by x);
//  - the averaged Lorentzian and pseudo-Voigt hold their shifts fixed: their
//    "Zero" is the five-point average of the symmetric member at x + P c (k/4)²,
//    c = cot 2θ₀;
//  - a constant-wavelength cell member is "Zero" times the difference of the
//    peak position by the cell parameter, per radian for the angles;
//  - the time-of-flight pseudo-Voigt follows γ only through η, and the
//    imaginary parts of p = −αΔ + iαγ/2 and q = −βΔ + iβγ/2 not at all: the
//    difference less −(2Nη/π) dΛ/ds, Λ = Im(e^p E1(p)) + Im(e^q E1(q)), when
//    only those imaginary parts move with s;
//  - "Scale" is Φ/scale, the difference of scale·Φ divided by the scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <map>

#include "derivatives/profile_derivatives.hpp"
#include "support/derivative_tables.hpp"
#include "support/finite_difference.hpp"

namespace {

using pk_test::centralDifference;
using pk_test::centralDifferenceOfField;
using Row = pk_test::DerivativeRow;
using RP = RefinementProfile;

// One reflexion of the triclinic crystal on a 2θ (types 0-2) or
// time-of-flight (3, 4) pattern.
struct Peak {
    RefinementCrystal *crystal = pk_test::makeTriclinicCrystal();
    RefinementProfile *profile;
    Reflexion r{};
    bool tof;
    Peak(int32_t type, std::array<int32_t, 3> hkl, double asymmetry) : tof(type >= 3) {
        profile = tof ? makeRefinementProfile(4, 3, type, 0.0, 0.5, 10.0)
                      : makeRefinementProfile(1, 2, type, 1.5406, 5.0, 150.0);
        RP &p = *profile;
        if (tof) {
            p.dtt2 = 3.0, p.zero = 5.0, p.sigma0 = 4.0, p.sigma1 = 20.0, p.sigma2 = 3.0;
            p.alpha0 = 0.05, p.alpha1 = 0.2, p.beta0 = 0.03, p.beta1 = 0.1;
            p.gamma0 = 2.0, p.gamma1 = 3.0, p.gamma2 = 1.0;
        } else {
            p.U = 0.004, p.V = -0.003, p.W = 0.006, p.LX = 0.03, p.LY = 0.02, p.zero = 0.05;
            p.asymmetry = asymmetry;
        }
        r.h = hkl[0], r.k = hkl[1], r.l = hkl[2];
        place();
    }
    ~Peak() {
        freeRefinementCrystal(crystal);
        freeRefinementProfile(profile);
    }
    // The cell, d and the peak position brought up to date; returns the position.
    double place() {
        pk_test::refreshCell(crystal);
        r.dSpacing = dSpacingForHKL(crystal, r.h, r.k, r.l);
        r.peakPosition = tof ? tofForDSpacing(profile, r.dSpacing)
                             : twoThetaForDSpacing(profile, r.dSpacing, 0);
        return r.peakPosition;
    }
    double value(double x) { return ProfileFuncForProfileType(profile->profileType)(x, &r, profile); }
    bool averages() const {
        return profile->profileType != 0 && profile->asymmetry >= 5.684e-14 && r.peakPosition <= 50.0;
    }
};

const std::map<std::string, double RP::*> kProfileFields = {
    {"GU", &RP::U},         {"GV", &RP::V},         {"GW", &RP::W},         {"LX", &RP::LX},
    {"LY", &RP::LY},        {"dtt2", &RP::dtt2},    {"sigma1", &RP::sigma1}, {"sigma2", &RP::sigma2},
    {"gamma1", &RP::gamma1}, {"gamma2", &RP::gamma2}, {"Asymmetry", &RP::asymmetry}};

// The pseudo-Voigt's left-out part −(2Nη/π) dΛ/ds with α, β, γ = abg(s).
double leftOut(const powderkit::TofPseudoVoigtTerms &t,
               const std::function<std::array<double, 3>(double)> &abg, double s, double step) {
    const auto imExpE1 = [](std::complex<double> z) {
        return (std::exp(z) * powderkit::complexExponentialIntegral(z)).imag();
    };
    return -(2.0 * t.normalization * t.eta / M_PI) * centralDifference([&](double v) {
               const auto a = abg(v);
               return imExpE1({t.p.real(), a[0] * a[2] / 2}) + imExpE1({t.q.real(), a[1] * a[2] / 2});
           }, s, step);
}

// Rows for every key of the shape's table at points across one peak.
void addRows(std::vector<Row> &rows, Peak &k, const HashTable *table) {
    const int32_t type = k.profile->profileType;
    const auto member = [&](const std::string &key) {
        const auto f = pk_test::functionForKey<ProfileDerivativeFunction>(table, key);
        EXPECT_NE(f, nullptr) << key;
        return std::function<double(double)>([f, &k](double x) { return f(x, k.crystal, &k.r, k.profile); });
    };
    std::vector<std::string> keys = {"Scale", "a", "b", "c", "alpha", "beta", "gamma"};
    for (const auto &[key, field] : kProfileFields) {
        if (pointerForKey(table, key.c_str()) != nullptr) keys.push_back(key);
    }
    if (!k.tof) keys.push_back("Zero");
    std::vector<double> xs;
    for (int i = -15; i <= 15; ++i) {
        xs.push_back(k.r.peakPosition + (k.tof ? (7.0 * i + 45.5) * 0.001 : 0.02 * i));
    }
    const auto cells = pk_test::cellParameterSteps(1e-6, 1e-5);
    const auto terms = [&](double x) {
        powderkit::TofPseudoVoigtTerms t{};
        EXPECT_TRUE(powderkit::tofExpPseudoVoigtTerms(x, &k.r, k.profile, &t));
        return t;
    };
    for (const std::string &key : keys) {
        const auto analytic = member(key);
        for (const double x : xs) {
            Row row{key, [=] { return analytic(x); }, nullptr, 0.0, [&k, x] { return k.value(x); }};
            if (key == "Scale") {
                row.field = &k.crystal->scale, row.step = 1e-3;
                row.value = [&k, x] { return k.crystal->scale * k.value(x); };
                row.rule = [&k](double d) { return d / k.crystal->scale; };
            } else if (key == "Zero") {
                row.field = &k.r.peakPosition, row.step = 1e-6, row.tolerance = 2e-6;
                const auto zero = member("Zero");
                row.rule = [&k, x, zero](double dt) {
                    if (!k.averages()) {
                        const double dc = -centralDifference([&](double p) { return k.value(p); }, x, 1e-6);
                        return dc + (dt - dc) * pk_test::kDegreesPerRadian;
                    }
                    const double p = k.profile->asymmetry, c = 1.0 / std::tan(k.r.peakPosition * M_PI / 180);
                    const double w[5] = {7.0 / 90, 32.0 / 90, 12.0 / 90, 32.0 / 90, 7.0 / 90};
                    double sum = 0.0;
                    k.profile->asymmetry = 0.0;
                    for (int i = 0; i < 5; ++i) sum += w[i] * zero(x + p * c * (i / 4.0) * (i / 4.0));
                    k.profile->asymmetry = p;
                    return sum;
                };
            } else if (kProfileFields.count(key)) {
                double *field = &(k.profile->*kProfileFields.at(key));
                row.field = field, row.step = key == "Asymmetry" ? 1e-6 : 1e-4 * std::fabs(*field);
                if (key == "dtt2") row.value = [&k, x] { return k.place(), k.value(x); };
                if (key == "Asymmetry") {
                    const bool applies = type == 0 ? k.r.peakPosition <= 50.0 : k.averages();
                    row.rule = [applies](double d) { return applies ? d : 0.0; };
                }
                if (type == 4 && (key == "gamma1" || key == "gamma2")) {
                    const double rate = key == "gamma1" ? k.r.dSpacing : k.r.dSpacing * k.r.dSpacing;
                    row.rule = [=](double d) {
                        const auto t = terms(x);
                        const auto abg = [&t](double g) { return std::array<double, 3>{t.alpha, t.beta, g}; };
                        return d - rate * leftOut(t, abg, t.gamma, 1e-4);
                    };
                }
            } else {  // a cell parameter
                const pk_test::CellParameterStep cell = *std::find_if(
                    cells.begin(), cells.end(), [&](const auto &c) { return key == c.key; });
                double *field = &(k.crystal->*cell.field);
                const double positionRate =
                    centralDifferenceOfField(field, cell.step, [&k] { return k.place(); }) * cell.unitFactor;
                const double dRate = centralDifferenceOfField(field, cell.step, [&k] {
                    return k.place(), k.r.dSpacing;
                }) * cell.unitFactor;
                row.field = field, row.step = cell.step;
                row.value = [&k, x] { return k.place(), k.value(x); };
                const auto zero = k.tof ? std::function<double(double)>() : member("Zero");
                row.rule = [=, &k](double d) {
                    if (!k.tof) return zero(x) * positionRate;
                    if (type == 3) return d * cell.unitFactor;
                    const RP &p = *k.profile;
                    const auto abg = [&p](double dd) {
                        return std::array<double, 3>{p.alpha1 / dd, p.beta0 + p.beta1 / std::pow(dd, 4),
                                                     p.gamma0 + p.gamma1 * dd + p.gamma2 * dd * dd};
                    };
                    return d * cell.unitFactor - leftOut(terms(x), abg, k.r.dSpacing, 1e-7) * dRate;
                };
            }
            rows.push_back(row);
        }
    }
}

TEST(ProfileDerivatives, EveryKeyOfEveryShapeAgainstTheValue) {
    const std::array<int32_t, 3> planes[] = {{1, 0, 0}, {1, 2, -3}, {2, -1, 1}, {-3, 1, 2}, {4, 3, -1}};
    const std::pair<int32_t, double> shapes[] = {{0, 0.0}, {0, 0.05}, {0, -0.05}, {1, 0.0},
                                                 {1, 0.05}, {2, 0.0}, {2, 0.05}, {3, 0.0}, {4, 0.0}};
    for (const auto &[type, asymmetry] : shapes) {
        pk_test::TablePointer table(ProfileDerivativesHashTable(type));
        for (const auto &hkl : planes) {
            if (type >= 3 && hkl[0] == 4) continue;  // beyond the time-of-flight range
            SCOPED_TRACE(testing::Message() << "type " << type << " P " << asymmetry << " plane "
                                            << hkl[0] << hkl[1] << hkl[2]);
            Peak peak(type, hkl, asymmetry);
            std::vector<Row> rows;
            addRows(rows, peak, table.get());
            pk_test::expectDerivatives(rows);
        }
    }
}

TEST(ProfileDerivatives, ZeroWhereTheyCannotBeTaken) {
    // Widths below the zero tolerance give no rate.
    for (const double width : {0.0, 1e-14, -0.1}) {
        Reflexion r{};
        r.peakPosition = 30.0;
        EXPECT_EQ(powderkit::diffLorentzianWrtFwhm(30.01, &r, width), 0.0);
        EXPECT_EQ(powderkit::diffLorentzianWrtCentre(30.01, 30.0, width), 0.0);
        EXPECT_EQ(powderkit::diffGaussianWrtCentre(30.01, 30.0, width), 0.0);
    }
    Peak cw(0, {1, 0, 0}, 0.0);
    cw.profile->U = cw.profile->V = cw.profile->W = 0.0;
    EXPECT_EQ(powderkit::diffGaussianFwhmWrtPosition(30.0, 0.0, cw.profile), 0.0);
    // A time-of-flight work record that cannot be filled (no variance, or
    // N = 0 with α = 0) makes every member 0; far out in the tails they stay finite.
    for (const int32_t type : {3, 4}) {
        pk_test::TablePointer table(ProfileDerivativesHashTable(type));
        for (int failure = 0; failure < 3; ++failure) {
            Peak peak(type, {1, 2, -3}, 0.0);
            RP &p = *peak.profile;
            if (failure == 0) p.sigma0 = p.sigma1 = p.sigma2 = 0.0;
            if (failure == 1) p.alpha0 = p.alpha1 = 0.0;
            for (int32_t slot = 0; slot < table->capacity; ++slot) {
                const char *key = table->entries[slot].key;
                if (key == nullptr) continue;
                const auto f = pk_test::functionForKey<ProfileDerivativeFunction>(table.get(), key);
                for (const double offset : {-5.0, 0.01, 3.0, 20.0}) {
                    const double v = f(peak.r.peakPosition + offset, peak.crystal, &peak.r, peak.profile);
                    EXPECT_TRUE(failure < 2 ? v == 0.0 : std::isfinite(v)) << key;
                }
            }
        }
    }
}

}  // namespace
