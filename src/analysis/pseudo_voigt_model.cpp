// The pseudo-Voigt peak of the single-peak fit and its exact derivatives. For
// Δ = x − x0 and full width Γ,
//   L(x) = Γ / (2π·(Δ² + (Γ/2)²))                  (unit-area Lorentzian)
//   G(x) = √(ln 2/π)·(2/Γ)·exp(−(4 ln 2/Γ²)·Δ²)    (unit-area Gaussian)
//   y(x) = A·(η·L + (1 − η)·G) + B,
// with P = (x0, A, B, Γ, η) held in the rows of a 5 × 1 matrix.
#include <cmath>

#include "analysis/analysis.hpp"
#include "frame/frame.hpp"

namespace powderkit {

namespace {

struct Parameters {
    double position, area, background, fwhm, eta;
};

Parameters unpack(const Matrix *p) {
    const double *e = p->elements;
    return {e[0], e[1], e[2], e[3], e[4]};
}

// 4 ln 2 / Γ², the Gaussian's exponent factor.
double gaussianFactor(double fwhm) { return 4.0 * std::log(2.0) / (fwhm * fwhm); }

bool holdsFiveValues(const Matrix *p) {
    return p != nullptr && p->elements != nullptr && p->rows >= 1 && p->columns >= 1 &&
           static_cast<int64_t>(p->rows) * p->columns >= 5;
}

}  // namespace

double modelLorentzian(double delta, double fwhm) {
    const double half = fwhm / 2.0;
    return fwhm / (kTwoPi * (delta * delta + half * half));
}

double modelGaussian(double delta, double fwhm) {
    return std::sqrt(std::log(2.0) / kPi) * (2.0 / fwhm) *
           std::exp(-gaussianFactor(fwhm) * (delta * delta));
}

// A·(η·L²·4πΔ/Γ + (1 − η)·G·(2·(4 ln 2/Γ²))·Δ)
double DiffPseudoVoigtWrtPosition(double x, const Matrix *parameters) {
    const Parameters p = unpack(parameters);
    const double delta = x - p.position;
    const double l = modelLorentzian(delta, p.fwhm);
    const double g = modelGaussian(delta, p.fwhm);
    return p.area * (p.eta * (l * l) * kFourPi * delta / p.fwhm +
                     (1.0 - p.eta) * g * (2.0 * gaussianFactor(p.fwhm)) * delta);
}

// η·L + (1 − η)·G
double DiffPseudoVoigtWrtArea(double x, const Matrix *parameters) {
    const Parameters p = unpack(parameters);
    const double delta = x - p.position;
    return p.eta * modelLorentzian(delta, p.fwhm) + (1.0 - p.eta) * modelGaussian(delta, p.fwhm);
}

double DiffPseudoVoigtWrtBackground(double, const Matrix *) { return 1.0; }

// A·((1 − η)·G·(Δ²·2·(4 ln 2/Γ²) − 1)/Γ + η·L·(1/Γ − π·L))
double DiffPseudoVoigtWrtFWHM(double x, const Matrix *parameters) {
    const Parameters p = unpack(parameters);
    const double delta = x - p.position;
    const double l = modelLorentzian(delta, p.fwhm);
    const double g = modelGaussian(delta, p.fwhm);
    return p.area *
           ((1.0 - p.eta) * g * ((delta * delta) * 2.0 * gaussianFactor(p.fwhm) - 1.0) / p.fwhm +
            p.eta * l * (1.0 / p.fwhm - kPi * l));
}

// A·(L − G)
double DiffPseudoVoigtWrtEta(double x, const Matrix *parameters) {
    const Parameters p = unpack(parameters);
    const double delta = x - p.position;
    return p.area * (modelLorentzian(delta, p.fwhm) - modelGaussian(delta, p.fwhm));
}

const PseudoVoigtDerivative pseudoVoigtDerivatives[6] = {
    DiffPseudoVoigtWrtPosition, DiffPseudoVoigtWrtArea, DiffPseudoVoigtWrtBackground,
    DiffPseudoVoigtWrtFWHM,     DiffPseudoVoigtWrtEta,  nullptr,
};

}  // namespace powderkit

extern "C" {

// 1 after copying (x0, A, B, Γ, η) out of a 5 × 1 matrix; 0, with nothing
// written, for any other matrix or a missing output.
int32_t peakParametersForPseudoVoigt(const Matrix *parameters, double *position, double *area,
                                     double *background, double *fwhm, double *eta) {
    if (parameters == nullptr || parameters->rows != 5 || parameters->columns != 1) return 0;
    if (position == nullptr || area == nullptr || background == nullptr || fwhm == nullptr ||
        eta == nullptr) {
        return 0;
    }
    *position = parameters->rowPointers[0][0];
    *area = parameters->rowPointers[1][0];
    *background = parameters->rowPointers[2][0];
    *fwhm = parameters->rowPointers[3][0];
    *eta = parameters->rowPointers[4][0];
    return 1;
}

// y(x) for the parameters in the first five elements (0.0 when there are
// fewer than five).
double pseudoVoigt(double x, const Matrix *parameters) {
    using namespace powderkit;
    if (!holdsFiveValues(parameters)) return 0.0;
    const Parameters p = unpack(parameters);
    const double delta = x - p.position;
    return p.area * (p.eta * modelLorentzian(delta, p.fwhm) +
                     (1.0 - p.eta) * modelGaussian(delta, p.fwhm)) +
           p.background;
}

}  // extern "C"
