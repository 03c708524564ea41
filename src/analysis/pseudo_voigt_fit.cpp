// Fitting one pseudo-Voigt peak on a flat background to a window of the raw
// pattern by damped least squares (Levenberg–Marquardt with the normal-matrix
// diagonal multiplied by 1 + λ): λ doubles after a rejected step and is
// divided by 3 after an accepted one; an accepted step that changes χ² = Σ r²
// by less than 1e-7 relatively ends the fit, and at most 20 steps are taken.
#include <cmath>
#include <cstdlib>
#include <initializer_list>

#include "analysis/analysis.hpp"
#include "linalg/linalg.hpp"

namespace powderkit {

namespace {

double sumOfSquares(const Matrix *r) {
    double sum = 0.0;
    for (int32_t i = 0; i < r->rows; ++i) sum += r->rowPointers[i][0] * r->rowPointers[i][0];
    return sum;
}

// The lowest point among `from` and the `span` points beyond it in direction
// `step` (±1); the nearer of equal points is kept.
PatternPoint *lowestNear(PatternPoint *from, int32_t step, int32_t span) {
    PatternPoint *lowest = from;
    for (int32_t k = 1; k <= span; ++k) {
        PatternPoint *candidate = from + k * step;
        if (candidate->y < lowest->y) lowest = candidate;
    }
    return lowest;
}

// The first point 1 … span places away in direction `step` that has come down
// to half height; the point span + 1 places away if none has.
const PatternPoint *halfHeightPoint(const PeakRange *range, int32_t step) {
    const double half = range->height / 2.0;
    for (int32_t k = 1; k <= kFitSideSpan; ++k) {
        const PatternPoint *candidate = range->maximum + k * step;
        if (candidate->y - range->baseline <= half) return candidate;
    }
    return range->maximum + (kFitSideSpan + 1) * step;
}

bool rangeIsUsable(const PeakRange *range) {
    return range != nullptr && range->maximum != nullptr && range->height > 0.0;
}

}  // namespace

Matrix *initialPseudoVoigtParameters(const PeakRange *range) {
    if (!rangeIsUsable(range)) return nullptr;
    Matrix *p = makeMatrix(5, 1);
    if (p == nullptr) return nullptr;
    const double eta = 0.5;
    const double fwhm = halfHeightPoint(range, 1)->x - halfHeightPoint(range, -1)->x;
    if (!(fwhm > 0.0)) {
        freeMatrix(p);
        return nullptr;
    }
    // A·(η·L₀ + (1 − η)·G₀) is the height above the background at the maximum.
    const double l0 = modelLorentzian(0.0, fwhm);
    const double g0 = modelGaussian(0.0, fwhm);
    p->rowPointers[0][0] = range->maximum->x;
    p->rowPointers[1][0] = range->height / (eta * l0 + (1.0 - eta) * g0);
    p->rowPointers[2][0] = range->baseline;
    p->rowPointers[3][0] = fwhm;
    p->rowPointers[4][0] = eta;
    return p;
}

void pseudoVoigtResiduals(Matrix *r, const PeakRange *range, const Matrix *parameters) {
    if (r == nullptr || range == nullptr || range->start == nullptr || parameters == nullptr) return;
    if (r->rows != range->pointCount || r->columns != 1) return;
    for (int32_t i = 0; i < range->pointCount; ++i) {
        const PatternPoint &point = range->start[i];
        r->rowPointers[i][0] = point.y - pseudoVoigt(point.x, parameters);
    }
}

void pseudoVoigtJacobian(Matrix *j, const PeakRange *range, const Matrix *parameters) {
    if (j == nullptr || range == nullptr || range->start == nullptr || parameters == nullptr) return;
    if (j->rows != range->pointCount || j->columns != 5 || parameters->columns != 1 ||
        parameters->rows != 5) {
        return;
    }
    for (int32_t i = 0; i < range->pointCount; ++i) {
        const double x = range->start[i].x;
        for (int32_t c = 0; c < 5 && pseudoVoigtDerivatives[c] != nullptr; ++c) {
            j->rowPointers[i][c] = pseudoVoigtDerivatives[c](x, parameters);
        }
    }
}

// δ = ((JᵀJ with its diagonal times 1 + λ)⁻¹·Jᵀ)·r is tried: P + δ is kept
// when it lowers χ² (λ /= 3; 0 once χ² changed by less than 1e-7 relatively,
// else 1), otherwise P and r are restored (λ *= 2; 1). 2 for unusable
// arguments, a failed allocation or a singular normal matrix, P unchanged.
int32_t pseudoVoigtFitStep(Matrix *parameters, Matrix *r, const Matrix *j,
                           const PeakRange *range, double *chi2, double *lambda) {
    if (parameters == nullptr || r == nullptr || j == nullptr || chi2 == nullptr ||
        lambda == nullptr || parameters->columns != 1 || r->columns != 1 ||
        parameters->rows != j->columns || r->rows != j->rows) {
        return 2;
    }
    int32_t status = 2;
    Matrix *transposed = makeMatrix(j->columns, j->rows);
    Matrix *normal = nullptr;
    Matrix *inverse = nullptr;
    Matrix *solver = nullptr;
    Matrix *shift = nullptr;
    Matrix *saved = nullptr;
    if (transposed != nullptr) {
        transposeMatrixDst(transposed, j);
        normal = multMatrices(transposed, j);
    }
    if (normal != nullptr && normal->rows == normal->columns) {
        for (int32_t i = 0; i < normal->rows; ++i) {
            normal->rowPointers[i][i] = normal->rowPointers[i][i] * (1.0 + *lambda);
        }
        inverse = makeMatrix(normal->rows, normal->columns);
    }
    if (inverse != nullptr && inverseMatrixDst(inverse, normal)) {
        solver = multMatrices(inverse, transposed);
        shift = multMatrices(solver, r);
        saved = copyMatrix(r);
    }
    if (shift != nullptr && saved != nullptr) {
        for (int32_t i = 0; i < parameters->rows; ++i) {
            parameters->rowPointers[i][0] = parameters->rowPointers[i][0] + shift->rowPointers[i][0];
        }
        pseudoVoigtResiduals(r, range, parameters);
        const double updated = sumOfSquares(r);
        if (!(updated < *chi2)) {
            // Not an improvement (or not a number): undo.
            *lambda = *lambda * 2.0;
            subFromMatrix(parameters, shift);
            copyMatrixContents(r, saved);
            status = 1;
        } else {
            *lambda = *lambda / 3.0;
            const double previous = *chi2;
            *chi2 = updated;
            status = std::fabs(1.0 - updated / previous) < kFitConvergence ? 0 : 1;
        }
    }
    for (Matrix *m : {transposed, normal, inverse, solver, shift, saved}) freeMatrix(m);
    return status;
}

}  // namespace powderkit

extern "C" {

// Chooses the window (the lowest point within 29 points on each side of the
// maximum; sets range->start and range->pointCount), starts from
// initialPseudoVoigtParameters and refines. The caller owns the 5 × 1 result
// (freeMatrix); NULL when the window has fewer than 5 points, memory runs
// out, a step fails, or 20 steps pass without convergence.
Matrix *pseudoVoigtFit(PeakRange *range) {
    using namespace powderkit;
    if (!rangeIsUsable(range)) return nullptr;
    PatternPoint *left = lowestNear(range->maximum, -1, kFitSideSpan);
    PatternPoint *right = lowestNear(range->maximum, 1, kFitSideSpan);
    range->start = left;
    range->pointCount = static_cast<int32_t>(right - left) + 1;
    if (range->pointCount < 5) return nullptr;

    Matrix *parameters = initialPseudoVoigtParameters(range);
    if (parameters == nullptr) return nullptr;
    Matrix *r = makeMatrix(range->pointCount, 1);
    Matrix *j = makeMatrix(range->pointCount, 5);
    int32_t status = 2;
    if (r != nullptr && j != nullptr) {
        pseudoVoigtResiduals(r, range, parameters);
        pseudoVoigtJacobian(j, range, parameters);
        double chi2 = sumOfSquares(r);
        double lambda = 1.0;
        status = 1;
        for (int32_t step = 0; step < kFitStepBudget && status == 1; ++step) {
            status = pseudoVoigtFitStep(parameters, r, j, range, &chi2, &lambda);
            if (status == 1) pseudoVoigtJacobian(j, range, parameters);
        }
    }
    freeMatrix(r);
    freeMatrix(j);
    if (status == 0) return parameters;
    freeMatrix(parameters);
    return nullptr;
}

}  // extern "C"
