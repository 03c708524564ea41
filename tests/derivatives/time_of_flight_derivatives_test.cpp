// The time-of-flight profile derivatives, key by key through the derivative
// tables, against central differences of the value functions across peaks of
// a triclinic crystal (x held fixed, the peak position recomputed from the
// calibration whenever d or dtt2 moves). The Gaussian shape's members are
// exact. The pseudo-Voigt follows γ only through η, and the imaginary parts
// of p = −αΔ + iαγ/2 and q = −βΔ + iβγ/2 not at all; the test predicts that
// difference exactly: −(2Nη/π) times the difference of
// Λ = Im(e^p E1(p)) + Im(e^q E1(q)) when only those imaginary parts move.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <functional>
#include <string>
#include <vector>

#include "derivatives/profile_derivatives.hpp"
#include "support/derivative_tables.hpp"
#include "support/finite_difference.hpp"

namespace {

using Complex = std::complex<double>;
using pk_test::centralDifference;
using pk_test::centralDifferenceOfField;
using pk_test::derivativeAgrees;
using pk_test::kDegreesPerRadian;

struct TofPeak {
    RefinementCrystal *crystal;
    RefinementProfile *profile;
    Reflexion reflexion{};
    std::array<int32_t, 3> hkl;

    TofPeak(int32_t type, std::array<int32_t, 3> indices) : hkl(indices) {
        crystal = pk_test::makeTriclinicCrystal();
        profile = makeRefinementProfile(4, 3, type, 0.0, 0.5, 10.0);
        profile->dtt1 = 1000.0;
        profile->dtt2 = 3.0;
        profile->zero = 5.0;
        profile->sigma0 = 4.0;
        profile->sigma1 = 20.0;
        profile->sigma2 = 3.0;
        profile->alpha0 = 0.05;
        profile->alpha1 = 0.2;
        profile->beta0 = 0.03;
        profile->beta1 = 0.1;
        profile->gamma0 = 2.0;
        profile->gamma1 = 3.0;
        profile->gamma2 = 1.0;
        reflexion.h = hkl[0];
        reflexion.k = hkl[1];
        reflexion.l = hkl[2];
        reflexion.dSpacing = dSpacingForHKL(crystal, hkl[0], hkl[1], hkl[2]);
        place();
    }
    ~TofPeak() {
        freeRefinementCrystal(crystal);
        freeRefinementProfile(profile);
    }
    void refreshCell() {
        calculateReciprocalCell(crystal);
        calculateMetricTensor(crystal);
    }
    // The peak of the current d on the calibration, in ms.
    void place() { reflexion.peakPosition = tofForDSpacing(profile, reflexion.dSpacing); }
    double value(double x) {
        return ProfileFuncForProfileType(profile->profileType)(x, &reflexion, profile);
    }
    double member(ProfileDerivativeFunction f, double x) {
        return f(x, crystal, &reflexion, profile);
    }
    // Offsets from −60 to +150 µs, not hitting the peak itself.
    std::vector<double> positions() const {
        std::vector<double> xs;
        for (double offset = -60.0; offset <= 150.0; offset += 7.0) {
            xs.push_back(reflexion.peakPosition + (offset + 0.5) * 0.001);
        }
        return xs;
    }
};

const std::array<std::array<int32_t, 3>, 4> kPlanes = {
    {{1, 0, 0}, {1, 2, -3}, {2, -1, 1}, {-3, 1, 2}}};

const std::vector<std::string> kKeys[2] = {
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "Scale"},
    {"dtt2", "a", "b", "c", "alpha", "beta", "gamma", "sigma1", "sigma2", "gamma1", "gamma2",
     "Scale"}};

const std::array<pk_test::CellParameterStep, 6> kCellKeys = pk_test::cellParameterSteps(1e-6, 1e-5);

// Im(e^p E1(p)) for the exponential integral of the shapes.
double imaginaryOfExpE1(Complex p) {
    return (std::exp(p) * powderkit::complexExponentialIntegral(p)).imag();
}

// The part of a derivative that the pseudo-Voigt rules leave out: with N, η,
// Re p and Re q held, −(2Nη/π) dΛ/ds when Im p = α(s)γ(s)/2 and
// Im q = β(s)γ(s)/2 move with a parameter s (γ itself, or d).
double leftOutPart(const powderkit::TofPseudoVoigtTerms &terms,
                   const std::function<std::array<double, 3>(double)> &alphaBetaGamma, double s,
                   double step) {
    const double rateOfLambda = centralDifference(
        [&](double sValue) {
            const auto abg = alphaBetaGamma(sValue);
            return imaginaryOfExpE1(Complex(terms.p.real(), abg[0] * abg[2] / 2.0)) +
                   imaginaryOfExpE1(Complex(terms.q.real(), abg[1] * abg[2] / 2.0));
        },
        s, step);
    return -(2.0 * terms.normalization * terms.eta / M_PI) * rateOfLambda;
}

void expectAllAgree(const std::vector<double> &analytic, const std::vector<double> &expected,
                    double tolerance) {
    double scale = 0.0;
    for (double e : expected) scale = std::max(scale, std::fabs(e));
    if (scale == 0.0) scale = 1e-12;
    for (size_t i = 0; i < analytic.size(); ++i) {
        EXPECT_TRUE(derivativeAgrees(analytic[i], expected[i], tolerance, scale)) << "point " << i;
    }
}

// dΨ/dd along the calibration and the widths, x fixed.
double dSpacingDifference(TofPeak &peak, double x) {
    return centralDifferenceOfField(&peak.reflexion.dSpacing, 1e-7, [&] {
        peak.place();
        return peak.value(x);
    });
}

void checkEveryKey(int32_t type) {
    const bool voigt = type == PK_PROFILE_TOF_EXP_PSEUDO_VOIGT;
    pk_test::TablePointer table(ProfileDerivativesHashTable(type));
    ASSERT_NE(table, nullptr);
    const std::vector<std::string> &keys = kKeys[voigt ? 1 : 0];
    EXPECT_EQ(table->count, static_cast<int32_t>(keys.size()));
    for (const auto &hkl : kPlanes) {
        TofPeak peak(type, hkl);
        const double d = peak.reflexion.dSpacing;
        const std::vector<double> xs = peak.positions();
        // α, β, γ of the pseudo-Voigt as functions of d, for its left-out part.
        const auto ratesOfD = [&](double dd) {
            const RefinementProfile *p = peak.profile;
            return std::array<double, 3>{p->alpha1 / dd, p->beta0 + p->beta1 / std::pow(dd, 4),
                                         p->gamma0 + p->gamma1 * dd + p->gamma2 * dd * dd};
        };
        for (const std::string &key : keys) {
            SCOPED_TRACE(testing::Message() << "type " << type << " key " << key << " at d " << d);
            const auto member =
                pk_test::functionForKey<ProfileDerivativeFunction>(table.get(), key.c_str());
            ASSERT_NE(member, nullptr);
            std::vector<double> analytic, expected;
            for (double x : xs) analytic.push_back(peak.member(member, x));

            if (key == "dtt2") {
                for (double x : xs) {
                    expected.push_back(centralDifferenceOfField(&peak.profile->dtt2, 1e-4, [&] {
                        peak.place();
                        return peak.value(x);
                    }));
                }
            } else if (key == "sigma1" || key == "sigma2") {
                double *field = key == "sigma1" ? &peak.profile->sigma1 : &peak.profile->sigma2;
                for (double x : xs) {
                    expected.push_back(
                        centralDifferenceOfField(field, 1e-4, [&] { return peak.value(x); }));
                }
            } else if (key == "gamma1" || key == "gamma2") {
                double *field = key == "gamma1" ? &peak.profile->gamma1 : &peak.profile->gamma2;
                const double rate = key == "gamma1" ? d : d * d;  // ∂γ/∂(term)
                for (double x : xs) {
                    powderkit::TofPseudoVoigtTerms terms;
                    ASSERT_TRUE(
                        powderkit::tofExpPseudoVoigtTerms(x, &peak.reflexion, peak.profile, &terms));
                    const auto ofGamma = [&](double g) {
                        return std::array<double, 3>{terms.alpha, terms.beta, g};
                    };
                    const double total =
                        centralDifferenceOfField(field, 1e-4, [&] { return peak.value(x); });
                    expected.push_back(total - rate * leftOutPart(terms, ofGamma, terms.gamma, 1e-4));
                }
            } else if (key == "Scale") {
                for (double x : xs) expected.push_back(peak.value(x) / 2.5);
                expectAllAgree(analytic, expected, 1e-14);
                continue;
            } else {
                const pk_test::CellParameterStep *cell = nullptr;
                for (const pk_test::CellParameterStep &c : kCellKeys) {
                    if (key == c.key) cell = &c;
                }
                ASSERT_NE(cell, nullptr);
                const double dRate =
                    centralDifferenceOfField(&(peak.crystal->*cell->field), cell->step, [&] {
                        peak.refreshCell();
                        return dSpacingForHKL(peak.crystal, hkl[0], hkl[1], hkl[2]);
                    }) *
                    cell->unitFactor;
                for (double x : xs) {
                    double rateByD = dSpacingDifference(peak, x);
                    if (voigt) {
                        powderkit::TofPseudoVoigtTerms terms;
                        ASSERT_TRUE(powderkit::tofExpPseudoVoigtTerms(x, &peak.reflexion,
                                                                      peak.profile, &terms));
                        rateByD -= leftOutPart(terms, ratesOfD, d, 1e-7);
                    }
                    expected.push_back(rateByD * dRate);
                }
            }
            expectAllAgree(analytic, expected, 1e-6);
        }
    }
}

TEST(TimeOfFlightDerivatives, ExponentialGaussianEveryKey) { checkEveryKey(3); }
TEST(TimeOfFlightDerivatives, ExponentialPseudoVoigtEveryKey) { checkEveryKey(4); }

TEST(TimeOfFlightDerivatives, WithoutLorentzianWidthThePseudoVoigtMatchesTheGaussian) {
    // γ = 0 makes η = 0: away from the peak itself the pseudo-Voigt members
    // for sigma1, sigma2 and dtt2 equal the Gaussian's with alpha0 = 0.
    TofPeak voigt(4, {2, -1, 1});
    TofPeak gaussian(3, {2, -1, 1});
    for (TofPeak *peak : {&voigt, &gaussian}) {
        peak->profile->gamma0 = peak->profile->gamma1 = peak->profile->gamma2 = 0.0;
        peak->profile->alpha0 = 0.0;
    }
    pk_test::TablePointer voigtTable(ProfileDerivativesHashTable(4));
    pk_test::TablePointer gaussianTable(ProfileDerivativesHashTable(3));
    for (const char *key : {"sigma1", "sigma2", "dtt2"}) {
        const auto voigtMember =
            pk_test::functionForKey<ProfileDerivativeFunction>(voigtTable.get(), key);
        const auto gaussianMember =
            pk_test::functionForKey<ProfileDerivativeFunction>(gaussianTable.get(), key);
        for (double x : voigt.positions()) {
            const double expected = gaussian.member(gaussianMember, x);
            EXPECT_NEAR(voigt.member(voigtMember, x), expected,
                        1e-12 * std::fabs(expected) + 1e-300)
                << key;
        }
    }
}

TEST(TimeOfFlightDerivatives, UnfilledWorkRecordsGiveZero) {
    // No Gaussian variance: the work records cannot be filled and every
    // member of both tables returns 0. The same when N vanishes (α = −β).
    for (int32_t type : {3, 4}) {
        pk_test::TablePointer table(ProfileDerivativesHashTable(type));
        for (int failure = 0; failure < 2; ++failure) {
            TofPeak peak(type, {1, 2, -3});
            if (failure == 0) {
                peak.profile->sigma0 = peak.profile->sigma1 = peak.profile->sigma2 = 0.0;
            } else {
                peak.profile->alpha0 = 0.0;
                peak.profile->alpha1 = 0.0;  // α = 0, so N = 0
            }
            for (const std::string &key : kKeys[type - 3]) {
                const auto member =
                    pk_test::functionForKey<ProfileDerivativeFunction>(table.get(), key.c_str());
                for (double x : peak.positions()) EXPECT_EQ(peak.member(member, x), 0.0) << key;
            }
        }
    }
}

TEST(TimeOfFlightDerivatives, FarTailsStayFinite) {
    // Hundreds of widths from the peak the exponentials overflow and are
    // bounded; the members stay finite there.
    for (int32_t type : {3, 4}) {
        pk_test::TablePointer table(ProfileDerivativesHashTable(type));
        TofPeak peak(type, {1, 2, -3});
        for (double offset : {-5000.0, -2000.0, 3000.0, 20000.0}) {
            const double x = peak.reflexion.peakPosition + offset * 0.001;
            for (const std::string &key : kKeys[type - 3]) {
                const auto member =
                    pk_test::functionForKey<ProfileDerivativeFunction>(table.get(), key.c_str());
                EXPECT_TRUE(std::isfinite(peak.member(member, x))) << key << " at " << offset;
            }
        }
    }
}

}  // namespace
