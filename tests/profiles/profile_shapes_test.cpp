// Peak shapes: 2θ heights, widths and asymmetry by hand; time-of-flight E1 and convolution against reference tables.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>

#include "profiles/profiles.hpp"
#include "support/test_data.hpp"
#include "support/tolerances.hpp"

namespace {

constexpr double kDegToRad = 0.0174532925199;
constexpr double kGaussianHeight = 0.9394372787;          // 2√(ln 2/π), times 1/H
constexpr double kLorentzianHeight = 0.6366197723675814;  // 2/π, times 1/H

struct Peak {  // a reflexion at 2θ₀ = x with {U, V, W, LX, LY} and P, or at 1 ms, d = 1 Å with constant {α, β, σ², γ}
    RefinementProfile *profile = makeRefinementProfile(1, 2, 0, 1.5406, 5.0, 120.0);
    Reflexion *reflexion = makeReflexion();
    Peak(int32_t type, double x, const std::array<double, 5> &w, double p = 0.0) {
        RefinementProfile &f = *profile;
        std::tie(f.profileType, f.asymmetry, reflexion->peakPosition, reflexion->dSpacing) =
            std::make_tuple(type, p, x, 1.0);
        if (type < 3) f.U = w[0], f.V = w[1], f.W = w[2], f.LX = w[3], f.LY = w[4];
        if (type >= 3) (type == 3 ? f.alpha0 : f.alpha1) = w[0], f.beta0 = w[1], f.sigma0 = w[2], f.gamma0 = w[3];
    }
    ~Peak() {
        freeRefinementProfile(profile);
        reflexion->methods->freeReflexion(reflexion);
    }
    double operator()(double x) const { return ProfileFuncForProfileType(profile->profileType)(x, reflexion, profile); }
    double at(double offset) const { return (*this)(1.0 + offset * 0.001); }  // µs from a time-of-flight peak
    bool symmetricAbout(double centre, double d) const { return (*this)(centre - d) == (*this)(centre + d); }
};

TEST(ConstantWavelengthProfiles, HeightsHalfWidthsAndMixingByHand) {
    const double cos20 = std::cos(20.0 * kDegToRad), tan20 = std::tan(20.0 * kDegToRad), t = std::tan(30.0 * kDegToRad);
    const double caglioti = std::sqrt(0.04 * t * t - 0.02 * t + 0.02);  // H_G = √(U tan²θ₀ + V tan θ₀ + W) at 60°
    const struct { int32_t type; double twoTheta; std::array<double, 5> widths; double x, value; } cases[] = {
        {0, 30.0, {0, 0, 0.01, 0, 0}, 30.0, kGaussianHeight / 0.1},  // H_G = √W = 0.1°: height 2√(ln 2/π) / H
        {0, 30.0, {0, 0, 0.01, 0, 0}, 30.05, kGaussianHeight / 0.2},  // half of it at Δ = H/2
        {0, 60.0, {0.04, -0.02, 0.02, 0, 0}, 60.0 + caglioti / 2.0, kGaussianHeight / caglioti / 2},
        {1, 40.0, {0, 0, 0, 0.1, 0}, 40.0, kLorentzianHeight * cos20 / 0.1},  // H_L = LX / cos θ₀ + LY tan θ₀
        {1, 40.0, {0, 0, 0, 0.1, 0}, 40.0 + 0.05 / cos20, kLorentzianHeight * cos20 / 0.2},
        {1, 40.0, {0, 0, 0, 0, 0.1}, 40.0, kLorentzianHeight / (0.1 * tan20)}};  // height (2/π) / H, half at Δ = H/2
    for (const auto &c : cases)  // the Gaussian's constant has ten digits
        EXPECT_NEAR(Peak(c.type, c.twoTheta, c.widths)(c.x), c.value, c.type ? pk_test::kRoundOff : 1e-11) << c.x;
    const double h = 1.63464284926084964, eta = 0.682539192289774547;  // by hand H⁵ = 11.67117, η at q = 1/H
    const Peak voigt(2, 90.0, {0, 0, 0.01, 0, 0.1});  // (1 − η) G + η L at 90°, H_G = √W = H_L = LY tan 45° = 0.1
    for (const double delta : {0.0, 0.05, -0.2}) {
        const double u = 20.0 * delta / h, gaussian = kGaussianHeight * 10 / h * std::exp(-std::log(2.0) * u * u);
        const double expected = eta * kLorentzianHeight * 10 / h / (1.0 + u * u) + (1.0 - eta) * gaussian;
        EXPECT_NEAR(voigt(90.0 + delta), expected, 1e-10 * expected) << delta;  // the ten-digit Gaussian constant
    }
}

TEST(ConstantWavelengthProfiles, AsymmetryLeansByTheSignOfPBelowTheCutoff) {
    // Gaussian: times 1 − P s Δ² / tan θ₀ (s the sign of Δ), at Δ = ∓H, 1/16 of its top.
    const double t = std::tan(10.0 * kDegToRad), symmetric = kGaussianHeight / 0.1 / 16.0;
    const Peak gaussian(0, 20.0, {0, 0, 0.01, 0, 0}, 0.01);
    EXPECT_NEAR(gaussian(19.9), symmetric * (1.0 + 0.01 * 0.01 / t), pk_test::kRoundOff);
    EXPECT_NEAR(gaussian(20.1), symmetric * (1.0 - 0.01 * 0.01 / t), pk_test::kRoundOff);
    const std::array<double, 5> widths = {0, 0, 0.004, 0.05, 0};  // L, pV averaged only for P ≥ the tolerance 2⁻⁴⁴
    for (const int32_t type : {1, 2}) EXPECT_TRUE(Peak(type, 20.0, widths, 1e-14).symmetricAbout(20.0, 0.5)) << type;
    for (const int32_t type : {0, 1, 2}) {  // symmetric above the cut-off (moved to 30°), asymmetric at it
        SetAsymmetryCutoff2Theta(30.0);
        EXPECT_TRUE(Peak(type, 40.0, widths, 0.1).symmetricAbout(40.0, 0.1)) << type;
        EXPECT_GT(Peak(type, 30.0, widths, 0.1)(29.9), 1.005 * Peak(type, 30.0, widths, 0.1)(30.1)) << type;
        SetAsymmetryCutoff2Theta(50.0);
    }
    const double c = 1.0 / std::tan(20.0 * kDegToRad);  // Boole's rule for ∫₀¹ F(x + P c u²) du, c = cot 2θ₀
    for (const int32_t type : {1, 2}) {  // against Simpson's on 400 intervals (error 1e-5)
        const Peak symmetric(type, 20.0, {0, 0, 0.003, 0.05, 0});
        const double h = 0.05 / std::cos(10.0 * kDegToRad), p = h / (10.0 * c);  // H_L = LX / cos θ₀
        const Peak peak(type, 20.0, {0, 0, 0.003, 0.05, 0}, p);
        for (double x = 20.0 - 3.0 * h; x <= 20.0 + 3.0 * h; x += h / 4.0) {
            double integral = symmetric(x) + symmetric(x + p * c);
            for (int i = 1; i < 400; ++i) integral += (i % 2 ? 4.0 : 2.0) * symmetric(x + p * c * i * i / 160000.0);
            EXPECT_NEAR(peak(x), integral / 1200.0, 1e-5 * peak(20.0)) << type << " " << x;
        }
    }
}

using Complex = std::complex<double>;
const auto e1 = powderkit::complexExponentialIntegral;

TEST(ExponentialIntegral, MatchesTheReferenceTableWithTheCutOnTheNegativeAxis) {
    const Complex zero = e1(Complex(0.0, 0.0));
    EXPECT_TRUE(std::isinf(zero.real()) && zero.real() > 0.0 && zero.imag() == 0.0);
    const auto rows = pk_test::readTable("e1.tsv");
    ASSERT_EQ(rows.size(), 281u);
    for (const auto &row : rows) {
        const Complex z(std::stod(row[0]), std::stod(row[1])), expected(std::stod(row[2]), std::stod(row[3]));
        EXPECT_LT(std::abs(e1(z) - expected) / std::abs(expected), pk_test::kRoundOff) << z;
    }
    // Just below the cut Im E1 is +π (on it −π, as tabulated), Re within |E1'|·1e-9 of the table's E1(−2).
    EXPECT_LT(std::abs(e1({-2.0, -1e-9}) - Complex(-4.9542343560018901634, M_PI)), 1e-8);
}

double exponentialGaussian(double alpha, double beta, double variance, double delta) {  // back-to-back, closed form
    const long double a = alpha, b = beta, s2 = variance, d = delta, root = std::sqrt(2.0L * s2);  // in long double
    const long double u = a / 2.0L * (a * s2 + 2.0L * d), v = b / 2.0L * (b * s2 - 2.0L * d);
    const long double sum = std::exp(u) * std::erfc((a * s2 + d) / root) + std::exp(v) * std::erfc((b * s2 - d) / root);
    return static_cast<double>(a * b / (2.0L * (a + b)) * sum);
}

TEST(TimeOfFlightProfiles, GaussianConvolutionAndRatesByD) {
    const auto rows = pk_test::readTable("tof_profiles.tsv");
    ASSERT_EQ(rows.size(), 30u);
    for (const auto &row : rows) {  // α, β, σ², Δ, value
        const double expected = std::stod(row[7]);
        const Peak peak(3, 1.0, {std::stod(row[1]), std::stod(row[2]), std::stod(row[3])});
        EXPECT_NEAR(peak.at(std::stod(row[6])), expected, pk_test::kSeries * expected + 1e-15) << row[6];
    }
    const double d = 1.5, alpha = 0.1 + 0.3 / d, beta = 0.01 + 0.1 / std::pow(d, 4);
    const double gamma = 0.5 + 0.2 * d + 0.1 * d * d;  // γ = γ0 + γ1 d + γ2 d², σ² = σ0 + σ1 d² + σ2 d⁴
    Peak peak(3, 1.0, {0.1, 0.01, 2.0, 0.5});  // α = α0 + α1/d (type 4: α1/d alone), β = β0 + β1/d⁴
    RefinementProfile &p = *peak.profile;
    peak.reflexion->dSpacing = d;
    p.alpha1 = 0.3, p.beta1 = 0.1, p.sigma1 = 3.0, p.sigma2 = 1.0, p.gamma1 = 0.2, p.gamma2 = 0.1;
    const double expected = exponentialGaussian(alpha, beta, 2.0 + 3.0 * d * d + std::pow(d, 4), 4.0);
    EXPECT_NEAR(peak.at(4.0), expected, pk_test::kRoundOff);
    p.profileType = 4;
    powderkit::TofPseudoVoigtTerms terms;
    ASSERT_TRUE(powderkit::tofExpPseudoVoigtTerms(1.004, peak.reflexion, peak.profile, &terms));
    EXPECT_TRUE(terms.alpha == 0.3 / d && std::fabs(terms.gamma - gamma) < pk_test::kExact);
    EXPECT_TRUE(powderkit::boundedExponential(230.0) == 1e99 && powderkit::boundedExponential(-800.0) == 0.0);
    EXPECT_EQ(powderkit::boundedExponential(std::nan("")), -1e99);  // e^x: 1e99 from 230 on, 0 far below, NaN −1e99
    EXPECT_EQ(Peak(3, 1.0, {0.3, 0.05, 0.0}).at(2.0), 0.0);  // σ² = 0 leaves the value 0
}

TEST(TimeOfFlightProfiles, PseudoVoigtMatchesItsClosedForm) {
    // Ψ = (1 − η) Φ − (2Nη/π) Im(e^p E1(p) + e^q E1(q)), p = −αΔ + iαγ/2, q = −βΔ + iβγ/2, η of H_G and γ.
    const double variance = 9.0, g = 3.0 * 2.354820045;
    for (const auto &rate : std::vector<std::array<double, 2>>{{1.0, 0.2}, {1.0, 0.05}, {0.2, 0.05}}) {
        const double alpha = rate[0], beta = rate[1], n = alpha * beta / (2.0 * (alpha + beta));
        for (const double l : {0.5, 4.0, 20.0}) {
            const Peak peak(4, 1.0, {alpha, beta, variance, l});
            const double c[6] = {1.0, 2.69269, 2.42843, 4.47163, 0.07842, 1.0};  // H⁵ = Σ c_k H_G^(5−k) γ^k
            double h5 = 0.0;
            for (int k = 0; k < 6; ++k) h5 += c[k] * std::pow(g, 5 - k) * std::pow(l, k);
            const double r = l / std::pow(h5, 0.2), eta = 1.36603 * r - 0.47719 * r * r + 0.11116 * r * r * r;
            for (const double delta : {-200.0, -30.0, -3.0, 0.0, 3.0, 30.0, 200.0}) {
                const Complex p(-alpha * delta, alpha * l / 2.0), q(-beta * delta, beta * l / 2.0);
                const double lorentzian = (std::exp(p) * e1(p)).imag() + (std::exp(q) * e1(q)).imag();
                const double gaussian = exponentialGaussian(alpha, beta, variance, delta);
                const double expected = (1.0 - eta) * gaussian - 2.0 * n * eta / M_PI * lorentzian;
                EXPECT_NEAR(peak.at(delta), expected, 1e-11 * n) << l << " " << delta;  // e^204 · erfc rounding
            }
        }
    }
}

}  // namespace
