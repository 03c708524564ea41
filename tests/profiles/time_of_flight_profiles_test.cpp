// The time-of-flight shapes: the Gaussian convolution against an independent
// numerical convolution, the pseudo-Voigt against its closed form with E1
// taken from an independent table, unit area by quadrature, the failure
// paths of the work records and the bounded exponentials far from the peak.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "profiles/profiles.hpp"
#include "support/test_data.hpp"

namespace {

using Complex = std::complex<double>;

// A peak at 1 ms, d = 1 Å, with α, β, σ² and γ set through their constant terms (α through
// alpha1 for type 4, which has no alpha0).
struct TofPeak {
    RefinementProfile *profile = makeRefinementProfile(4, 3, 3, 0.0, 1.0, 20.0);
    Reflexion *reflexion = makeReflexion();
    TofPeak(int32_t type, double alpha, double beta, double variance, double gamma = 0.0) {
        profile->profileType = type;
        (type == 3 ? profile->alpha0 : profile->alpha1) = alpha;
        profile->beta0 = beta;
        profile->sigma0 = variance;
        profile->gamma0 = gamma;
        reflexion->dSpacing = reflexion->peakPosition = 1.0;
    }
    ~TofPeak() {
        freeRefinementProfile(profile);
        reflexion->methods->freeReflexion(reflexion);
    }
    // The value at an offset in µs from the peak.
    double at(double offset) const {
        return ProfileFuncForProfileType(profile->profileType)(1.0 + offset * 0.001, reflexion,
                                                               profile);
    }
};

template <typename F>
double simpson(const F &f, double a, double b, int n) {
    const double h = (b - a) / n;
    double sum = f(a) + f(b);
    for (int i = 1; i < n; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * f(a + i * h);
    return sum * h / 3.0;
}

// The back-to-back exponential ⊗ Gaussian in closed form, in long double.
double exponentialGaussian(double alpha, double beta, double variance, double delta) {
    const long double a = alpha, b = beta, s2 = variance, d = delta, root = std::sqrt(2.0L * s2);
    const long double u = a / 2.0L * (a * s2 + 2.0L * d), v = b / 2.0L * (b * s2 - 2.0L * d);
    return static_cast<double>(a * b / (2.0L * (a + b)) *
                               (std::exp(u) * std::erfc((a * s2 + d) / root) +
                                std::exp(v) * std::erfc((b * s2 - d) / root)));
}

// E1 from the reference table at the argument nearest to z.
Complex tabulatedE1(const std::vector<std::vector<std::string>> &rows, Complex z) {
    for (const auto &row : rows) {
        const Complex argument(std::stod(row[0]), std::stod(row[1]));
        if (std::abs(argument - z) <= 1e-12 * (1.0 + std::abs(z)))
            return Complex(std::stod(row[2]), std::stod(row[3]));
    }
    ADD_FAILURE() << "no tabulated E1 at " << z;
    return Complex(std::nan(""), std::nan(""));
}

TEST(TimeOfFlightProfiles, GaussianConvolutionMatchesNumericalConvolution) {
    const auto rows = pk_test::readTable("tof_profiles.tsv");
    ASSERT_EQ(rows.size(), 30u);
    for (const auto &row : rows) {
        const double alpha = std::stod(row[1]), beta = std::stod(row[2]);
        const double variance = std::stod(row[3]), delta = std::stod(row[6]);
        const double expected = std::stod(row[7]);
        EXPECT_NEAR(TofPeak(3, alpha, beta, variance).at(delta), expected, 1e-9 * expected + 1e-15)
            << alpha << " " << beta << " " << variance << " " << delta;
    }
}

TEST(TimeOfFlightProfiles, RatesAndWidthsFollowTheDSpacing) {
    // α = alpha0 + alpha1/d (type 4: alpha1/d alone), β = beta0 + beta1/d⁴,
    // σ² = sigma0 + sigma1 d² + sigma2 d⁴, γ = gamma0 + gamma1 d + gamma2 d².
    const double d = 1.5, alpha = 0.1 + 0.3 / d, beta = 0.01 + 0.1 / std::pow(d, 4);
    TofPeak peak(3, 0.1, 0.01, 2.0, 0.5);
    peak.reflexion->dSpacing = d;
    peak.profile->alpha1 = 0.3;
    peak.profile->beta1 = 0.1;
    peak.profile->sigma1 = 3.0;
    peak.profile->sigma2 = 1.0;
    peak.profile->gamma1 = 0.2;
    peak.profile->gamma2 = 0.1;
    const double variance = 2.0 + 3.0 * d * d + std::pow(d, 4);
    EXPECT_NEAR(peak.at(4.0), exponentialGaussian(alpha, beta, variance, 4.0), 1e-13);
    peak.profile->profileType = 4;
    powderkit::TofPseudoVoigtTerms terms;
    ASSERT_TRUE(powderkit::tofExpPseudoVoigtTerms(1.004, peak.reflexion, peak.profile, &terms));
    const double gamma = 0.5 + 0.2 * d + 0.1 * d * d;
    EXPECT_NEAR(terms.alpha, 0.3 / d, 1e-15);
    EXPECT_NEAR(terms.gamma, gamma, 1e-15);
    // N, p and q follow from α, β and γ as at d = 1 (closed form below).
    EXPECT_NEAR(std::abs(terms.q - Complex(-beta * 4.0, beta * gamma / 2.0)), 0.0, 1e-12);
}

TEST(TimeOfFlightProfiles, PseudoVoigtMatchesItsClosedFormWithTabulatedE1) {
    // Ψ = (1 − η) Φ − (2 N η / π) Im(e^p E1(p) + e^q E1(q)), p = −αΔ + iαγ/2, q = −βΔ + iβγ/2;
    // η from the Thompson–Cox–Hastings mixing of H_G = 2√(2 ln 2) σ and γ.
    const auto rows = pk_test::readTable("e1.tsv");
    const double variance = 9.0, hG = 3.0 * 2.354820045;
    const double rates[][2] = {{1.0, 0.2}, {1.0, 0.05}, {0.2, 0.05}};
    for (const auto &rate : rates) {
        const double alpha = rate[0], beta = rate[1], n = alpha * beta / (2.0 * (alpha + beta));
        for (const double gamma : {0.5, 4.0, 20.0}) {
            const TofPeak peak(4, alpha, beta, variance, gamma);
            const double h = std::pow(std::pow(hG, 5) + 2.69269 * std::pow(hG, 4) * gamma +
                                          2.42843 * std::pow(hG, 3) * gamma * gamma +
                                          4.47163 * hG * hG * std::pow(gamma, 3) +
                                          0.07842 * hG * std::pow(gamma, 4) + std::pow(gamma, 5),
                                      0.2);
            const double r = gamma / h, eta = 1.36603 * r - 0.47719 * r * r + 0.11116 * r * r * r;
            for (const double delta : {-200.0, -30.0, -3.0, 0.0, 3.0, 30.0, 200.0}) {
                const Complex p(-alpha * delta, alpha * gamma / 2.0);
                const Complex q(-beta * delta, beta * gamma / 2.0);
                const double lorentzian = (std::exp(p) * tabulatedE1(rows, p)).imag() +
                                          (std::exp(q) * tabulatedE1(rows, q)).imag();
                const double expected =
                    (1.0 - eta) * exponentialGaussian(alpha, beta, variance, delta) -
                    2.0 * n * eta / M_PI * lorentzian;
                EXPECT_NEAR(peak.at(delta), expected, 1e-11 * n)
                    << alpha << " " << beta << " " << gamma << " " << delta;
            }
        }
    }
}

TEST(TimeOfFlightProfiles, UnitAreaOverMicroseconds) {
    // Far enough out that the exponential tails hold less than e^−40.
    const double gaussians[][3] = {{0.2, 0.03, 25.0}, {1.0, 0.1, 4.0}, {0.05, 0.02, 100.0},
                                   {0.03, 0.3, 16.0}, {0.5, 0.5, 1.0}};
    for (const auto &c : gaussians) {
        const TofPeak peak(3, c[0], c[1], c[2]);
        const double low = -(12.0 * std::sqrt(c[2]) + 40.0 / c[0]);
        const double high = 12.0 * std::sqrt(c[2]) + 40.0 / c[1];
        const int n = 2 * static_cast<int>((high - low) / 0.02);
        EXPECT_NEAR(simpson([&](double d) { return peak.at(d); }, low, high, n), 1.0, 1e-9)
            << c[0] << " " << c[1] << " " << c[2];
    }
    // The pseudo-Voigt over ±A, completed with the Lorentzian tails beyond, η (1 − (2/π)
    // atan(2A/γ)). The tails' spread by the exponentials enters as η γ (2/β² + σ²) / (π A³), up
    // to 3e-6 here. A stays below 228/α, beyond which E1(p) exceeds its bound of 1e99.
    const double voigts[][4] = {{1.0, 0.2, 9.0, 0.5}, {0.5, 0.1, 4.0, 2.0}, {1.0, 0.1, 1.0, 1.0}};
    for (const auto &c : voigts) {
        const double a = 200.0 / c[0];
        const TofPeak peak(4, c[0], c[1], c[2], c[3]);
        powderkit::TofPseudoVoigtTerms terms;
        ASSERT_TRUE(powderkit::tofExpPseudoVoigtTerms(1.0, peak.reflexion, peak.profile, &terms));
        const double tails = terms.eta * (1.0 - 2.0 / M_PI * std::atan(2.0 * a / c[3]));
        EXPECT_NEAR(simpson([&](double d) { return peak.at(d); }, -a, a, 80000) + tails, 1.0, 1e-5)
            << c[0] << " " << c[1] << " " << c[3];
    }
    // Without a Lorentzian part the pseudo-Voigt is the Gaussian convolution.
    const TofPeak gaussian(3, 0.4, 0.05, 16.0), voigt(4, 0.4, 0.05, 16.0, 0.0);
    for (const double delta : {-40.0, -5.0, 0.0, 2.5, 30.0, 150.0})
        EXPECT_NEAR(voigt.at(delta), gaussian.at(delta), 1e-15) << delta;
}

TEST(TimeOfFlightProfiles, FailedFillGivesZero) {
    // σ² = 0 or < 0, N = 0 through α = −β, or a not-a-number γ spoiling both E1 parts.
    const double cases[][5] = {{3, 0.3, 0.05, 0.0, 1.0},  {4, 0.3, 0.05, 0.0, 1.0},
                               {3, 0.3, 0.05, -1.0, 0.0}, {4, 0.3, 0.05, -1.0, 1.0},
                               {3, 1.0, -1.0, 4.0, 0.0},  {4, 1.0, -1.0, 4.0, 1.0},
                               {4, 0.3, 0.05, 4.0, std::nan("")}};
    for (const auto &c : cases) {
        const TofPeak peak(static_cast<int32_t>(c[0]), c[1], c[2], c[3], c[4]);
        for (const double delta : {-10.0, 0.0, 2.0, 10.0})
            EXPECT_EQ(peak.at(delta), 0.0) << c[0] << " " << c[3] << " " << c[4] << " " << delta;
    }
    // With α = −β the fill stores N = 0, not a quotient by zero.
    const TofPeak opposite(3, 1.0, -1.0, 4.0);
    powderkit::TofProfileTerms terms;
    EXPECT_FALSE(powderkit::tofExpGaussianTerms(1.0, opposite.reflexion, opposite.profile, &terms));
    EXPECT_EQ(terms.normalization, 0.0);
}

TEST(TimeOfFlightProfiles, FarFromThePeakTheValueIsZeroNotNaN) {
    EXPECT_EQ(powderkit::boundedExponential(800.0), 1e99);
    EXPECT_EQ(powderkit::boundedExponential(230.0), 1e99);
    EXPECT_EQ(powderkit::boundedExponential(-800.0), 0.0);
    EXPECT_EQ(powderkit::boundedExponential(std::nan("")), -1e99);
    // Above the peak e^u overflows while erfc(y) is 0; below, e^p overflows while E1(p)
    // underflows. Bounded, each product is 0, not a not-a-number.
    for (const int32_t type : {3, 4}) {
        const TofPeak peak(type, 1.0, 0.1, 4.0, 2.0);
        for (const double delta : {-20000.0, -8000.0, 800.0, 2000.0, 20000.0})
            EXPECT_NEAR(peak.at(delta), 0.0, 1e-6) << type << " " << delta;  // NaN fails too
    }
    // E1(−500) on the cut overflows: the record keeps its real part bounded, and −π.
    const TofPeak voigt(4, 1.0, 0.05, 4.0, 0.0);
    powderkit::TofPseudoVoigtTerms terms;
    ASSERT_TRUE(powderkit::tofExpPseudoVoigtTerms(1.5, voigt.reflexion, voigt.profile, &terms));
    EXPECT_EQ(terms.e1P.real(), -1e99);
    EXPECT_NEAR(terms.e1P.imag(), -M_PI, 1e-12);
}

}  // namespace
