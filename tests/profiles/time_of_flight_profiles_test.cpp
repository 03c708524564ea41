// The time-of-flight shapes and the complex exponential integral beneath
// them: E1 against an independent 40-digit table on both sides of its cut;
// the Gaussian convolution against an independent numerical convolution; the
// pseudo-Voigt against its closed form with E1 from the table; the rates and
// widths by d; the failure paths of the work records and the bounded
// exponentials far from the peak.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "profiles/profiles.hpp"
#include "support/test_data.hpp"
#include "support/tolerances.hpp"

namespace {

using Complex = std::complex<double>;
using powderkit::complexExponentialIntegral;

TEST(ExponentialIntegral, MatchesTheReferenceTableWithTheCutOnTheNegativeAxis) {
    const Complex zero = complexExponentialIntegral(Complex(0.0, 0.0));
    EXPECT_TRUE(zero.real() == std::numeric_limits<double>::infinity() && zero.imag() == 0.0);
    const auto rows = pk_test::readTable("e1.tsv");
    ASSERT_EQ(rows.size(), 281u);
    for (const auto &row : rows) {
        const Complex z(std::stod(row[0]), std::stod(row[1])), expected(std::stod(row[2]), std::stod(row[3]));
        const Complex e1 = complexExponentialIntegral(z);
        EXPECT_LT(std::abs(e1 - expected) / std::abs(expected), pk_test::kRoundOff) << z;
        // On the real axis (E1 up to 1e20 at −50): Re relative, Im 0 right of 0 and −π left.
        if (z.imag() != 0.0) continue;
        EXPECT_NEAR(e1.real() / expected.real(), 1.0, 1e-13) << z;  // the table's 20 digits, a few dozen operations
        EXPECT_NEAR(e1.imag(), z.real() > 0.0 ? 0.0 : -M_PI, 1e-13) << z;
    }
    // Just above the cut Im E1 is −π, just below +π, Re within |E1'|·1e-9 of the table's E1(−2).
    for (const double side : {1e-9, -1e-9}) {
        EXPECT_LT(std::abs(complexExponentialIntegral({-2.0, side}) - Complex(-4.9542343560018901634, side > 0.0 ? -M_PI : M_PI)), 1e-8);
    }
}

// A peak at 1 ms, d = 1 Å, with α, β, σ² and γ set through their constant
// terms (α through alpha1 for type 4, which has no alpha0).
struct TofPeak {
    RefinementProfile *profile = makeRefinementProfile(4, 3, 3, 0.0, 1.0, 20.0);
    Reflexion *reflexion = makeReflexion();
    TofPeak(int32_t type, double alpha, double beta, double variance, double gamma = 0.0) {
        profile->profileType = type, profile->beta0 = beta, profile->sigma0 = variance, profile->gamma0 = gamma;
        (type == 3 ? profile->alpha0 : profile->alpha1) = alpha;
        reflexion->dSpacing = reflexion->peakPosition = 1.0;
    }
    ~TofPeak() {
        freeRefinementProfile(profile);
        reflexion->methods->freeReflexion(reflexion);
    }
    double at(double offset) const {  // the value at an offset in µs from the peak
        return ProfileFuncForProfileType(profile->profileType)(1.0 + offset * 0.001, reflexion, profile);
    }
};

// The back-to-back exponential ⊗ Gaussian in closed form, in long double.
double exponentialGaussian(double alpha, double beta, double variance, double delta) {
    const long double a = alpha, b = beta, s2 = variance, d = delta, root = std::sqrt(2.0L * s2);
    const long double u = a / 2.0L * (a * s2 + 2.0L * d), v = b / 2.0L * (b * s2 - 2.0L * d);
    return static_cast<double>(a * b / (2.0L * (a + b)) *
                               (std::exp(u) * std::erfc((a * s2 + d) / root) + std::exp(v) * std::erfc((b * s2 - d) / root)));
}

TEST(TimeOfFlightProfiles, GaussianConvolutionAndRatesByD) {
    const auto rows = pk_test::readTable("tof_profiles.tsv");
    ASSERT_EQ(rows.size(), 30u);
    for (const auto &row : rows) {  // α, β, σ², Δ, value
        const double expected = std::stod(row[7]);
        EXPECT_NEAR(TofPeak(3, std::stod(row[1]), std::stod(row[2]), std::stod(row[3])).at(std::stod(row[6])), expected,
                    pk_test::kSeries * expected + 1e-15) << row[1] << " " << row[2] << " " << row[3] << " " << row[6];
    }
    // α = alpha0 + alpha1/d (type 4: alpha1/d alone), β = beta0 + beta1/d⁴,
    // σ² = sigma0 + sigma1 d² + sigma2 d⁴, γ = gamma0 + gamma1 d + gamma2 d².
    const double d = 1.5, alpha = 0.1 + 0.3 / d, beta = 0.01 + 0.1 / std::pow(d, 4), gamma = 0.5 + 0.2 * d + 0.1 * d * d;
    TofPeak peak(3, 0.1, 0.01, 2.0, 0.5);
    RefinementProfile &p = *peak.profile;
    peak.reflexion->dSpacing = d;
    p.alpha1 = 0.3, p.beta1 = 0.1, p.sigma1 = 3.0, p.sigma2 = 1.0, p.gamma1 = 0.2, p.gamma2 = 0.1;
    EXPECT_NEAR(peak.at(4.0), exponentialGaussian(alpha, beta, 2.0 + 3.0 * d * d + std::pow(d, 4), 4.0), pk_test::kRoundOff);
    p.profileType = 4;
    powderkit::TofPseudoVoigtTerms terms;
    ASSERT_TRUE(powderkit::tofExpPseudoVoigtTerms(1.004, peak.reflexion, peak.profile, &terms));
    EXPECT_TRUE(terms.alpha == 0.3 / d && std::fabs(terms.gamma - gamma) < pk_test::kExact);
    EXPECT_LT(std::abs(terms.q - Complex(-beta * 4.0, beta * gamma / 2.0)), pk_test::kRoundOff);
}

TEST(TimeOfFlightProfiles, PseudoVoigtMatchesItsClosedFormWithTabulatedE1) {
    // Ψ = (1 − η) Φ − (2 N η / π) Im(e^p E1(p) + e^q E1(q)), p = −αΔ + iαγ/2, q = −βΔ + iβγ/2;
    // η from the Thompson–Cox–Hastings mixing of H_G = 2√(2 ln 2) σ and γ.
    const auto rows = pk_test::readTable("e1.tsv");
    const auto tabulated = [&rows](Complex z) {
        for (const auto &row : rows) {
            if (std::abs(Complex(std::stod(row[0]), std::stod(row[1])) - z) <= 1e-12 * (1.0 + std::abs(z))) {
                return Complex(std::stod(row[2]), std::stod(row[3]));
            }
        }
        ADD_FAILURE() << "no tabulated E1 at " << z;
        return Complex(std::nan(""), 0.0);
    };
    const double variance = 9.0, hG = 3.0 * 2.354820045;
    for (const auto &rate : std::vector<std::array<double, 2>>{{1.0, 0.2}, {1.0, 0.05}, {0.2, 0.05}}) {
        const double alpha = rate[0], beta = rate[1], n = alpha * beta / (2.0 * (alpha + beta));
        for (const double gamma : {0.5, 4.0, 20.0}) {
            const TofPeak peak(4, alpha, beta, variance, gamma);
            const double h = std::pow(std::pow(hG, 5) + 2.69269 * std::pow(hG, 4) * gamma + 2.42843 * std::pow(hG, 3) * gamma * gamma +
                                      4.47163 * hG * hG * std::pow(gamma, 3) + 0.07842 * hG * std::pow(gamma, 4) + std::pow(gamma, 5), 0.2);
            const double r = gamma / h, eta = 1.36603 * r - 0.47719 * r * r + 0.11116 * r * r * r;
            for (const double delta : {-200.0, -30.0, -3.0, 0.0, 3.0, 30.0, 200.0}) {
                const Complex p(-alpha * delta, alpha * gamma / 2.0), q(-beta * delta, beta * gamma / 2.0);
                const double lorentzian = (std::exp(p) * tabulated(p)).imag() + (std::exp(q) * tabulated(q)).imag();
                const double expected = (1.0 - eta) * exponentialGaussian(alpha, beta, variance, delta) - 2.0 * n * eta / M_PI * lorentzian;
                // Rounding of products of large exponentials (e^u reaches e^204) and small erfc, E1.
                EXPECT_NEAR(peak.at(delta), expected, 1e-11 * n) << alpha << " " << beta << " " << gamma << " " << delta;
            }
        }
    }
}

TEST(TimeOfFlightProfiles, FailedFillsAndFarTailsGiveZero) {
    // σ² = 0 or < 0, N = 0 through α = −β, or a not-a-number γ spoiling both E1 parts.
    const double cases[][5] = {{3, 0.3, 0.05, 0.0, 1.0}, {4, 0.3, 0.05, 0.0, 1.0}, {3, 0.3, 0.05, -1.0, 0.0}, {4, 0.3, 0.05, -1.0, 1.0},
                               {3, 1.0, -1.0, 4.0, 0.0}, {4, 1.0, -1.0, 4.0, 1.0}, {4, 0.3, 0.05, 4.0, std::nan("")}};
    for (const auto &c : cases) {
        const TofPeak peak(static_cast<int32_t>(c[0]), c[1], c[2], c[3], c[4]);
        for (const double delta : {-10.0, 0.0, 2.0, 10.0}) EXPECT_EQ(peak.at(delta), 0.0) << c[0] << " " << c[3] << " " << c[4] << " " << delta;
    }
    const TofPeak opposite(3, 1.0, -1.0, 4.0);  // the fill stores N = 0, not a quotient by zero
    powderkit::TofProfileTerms terms;
    EXPECT_FALSE(powderkit::tofExpGaussianTerms(1.0, opposite.reflexion, opposite.profile, &terms));
    EXPECT_EQ(terms.normalization, 0.0);
    EXPECT_TRUE(powderkit::boundedExponential(800.0) == 1e99 && powderkit::boundedExponential(230.0) == 1e99);
    EXPECT_TRUE(powderkit::boundedExponential(-800.0) == 0.0 && powderkit::boundedExponential(std::nan("")) == -1e99);
    // Above the peak e^u overflows while erfc(y) is 0; below, e^p overflows while
    // E1(p) underflows. Bounded, each product is 0, not a not-a-number.
    for (const int32_t type : {3, 4}) {
        const TofPeak peak(type, 1.0, 0.1, 4.0, 2.0);
        for (const double delta : {-20000.0, -8000.0, 800.0, 2000.0, 20000.0}) EXPECT_NEAR(peak.at(delta), 0.0, 1e-6) << type << " " << delta;  // a not-a-number fails
    }
    // E1(−500) on the cut overflows: the record keeps its real part bounded, and −π.
    const TofPeak voigt(4, 1.0, 0.05, 4.0, 0.0);
    powderkit::TofPseudoVoigtTerms vterms;
    ASSERT_TRUE(powderkit::tofExpPseudoVoigtTerms(1.5, voigt.reflexion, voigt.profile, &vterms));
    EXPECT_EQ(vterms.e1P.real(), -1e99);
    EXPECT_NEAR(vterms.e1P.imag(), -M_PI, pk_test::kRoundOff);
}

}  // namespace
