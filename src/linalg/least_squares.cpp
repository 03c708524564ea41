// The least-squares record: every matrix of one refinement cycle for N
// observations and P parameters, sized (and resized) before each cycle; the
// standard errors and correlations from the covariance the host leaves; and
// the residual vector update.
#include <cmath>
#include <cstdlib>

#include "frame/frame.hpp"
#include "linalg/linalg.hpp"

namespace powderkit {

const LeastSquaresMatricesMethods kLeastSquaresMatricesMethods = {
    freeLeastSquaresMatrices,
    prepareForRefinementCycle,
    calculateParameterCorrelationsAndErrors,
};

namespace {

bool allPresent(const LeastSquaresMatrices *ls) {
    return ls->jacobian != nullptr && ls->jacobianTransposed != nullptr &&
           ls->normalMatrix != nullptr && ls->covariance != nullptr &&
           ls->correlations != nullptr && ls->parameterColumn1 != nullptr &&
           ls->parameterColumn2 != nullptr && ls->observationColumn1 != nullptr &&
           ls->observationColumn2 != nullptr && ls->observationColumn3 != nullptr &&
           ls->observationColumn4 != nullptr && ls->standardErrors != nullptr;
}

bool prepareFirstTime(LeastSquaresMatrices *ls, int32_t n, int32_t p) {
    ls->jacobian = makeMatrix(n, p);
    ls->jacobianTransposed = makeMatrix(p, n);
    ls->normalMatrix = makeMatrix(p, p);
    ls->covariance = makeMatrix(p, p);
    ls->correlations = makeMatrix(p, p);
    ls->parameterColumn1 = makeMatrix(p, 1);
    ls->parameterColumn2 = makeMatrix(p, 1);
    ls->observationColumn1 = makeMatrix(n, 1);
    ls->observationColumn2 = makeMatrix(n, 1);
    ls->observationColumn3 = makeMatrix(n, 1);
    ls->observationColumn4 = makeMatrix(n, 1);
    ls->standardErrors =
        static_cast<double *>(std::calloc(static_cast<std::size_t>(p), sizeof(double)));
    return allPresent(ls);
}

bool prepareAgain(LeastSquaresMatrices *ls, int32_t n, int32_t p, int32_t oldN, int32_t oldP) {
    // Unchanged counts keep everything; a record broken by an earlier failed
    // preparation stays broken (false) rather than passing for a ready one.
    if (n == oldN && p == oldP) return allPresent(ls);
    if (p != oldP) {
        void *errors = resizeBuffer(ls->standardErrors, static_cast<std::size_t>(oldP) * sizeof(double),
                                    static_cast<std::size_t>(p) * sizeof(double));
        if (errors == nullptr) {
            // The old array is released too, so that the record never holds
            // an array shorter than the covariance it will be sized with.
            std::free(ls->standardErrors);
            ls->standardErrors = nullptr;
            return false;
        }
        ls->standardErrors = static_cast<double *>(errors);
    }
    ls->jacobian = resizeMatrix(ls->jacobian, n, p);
    ls->jacobianTransposed = resizeMatrix(ls->jacobianTransposed, p, n);
    ls->normalMatrix = resizeMatrix(ls->normalMatrix, p, p);
    ls->covariance = resizeMatrix(ls->covariance, p, p);
    ls->correlations = resizeMatrix(ls->correlations, p, p);
    ls->parameterColumn1 = resizeMatrix(ls->parameterColumn1, p, 1);
    ls->parameterColumn2 = resizeMatrix(ls->parameterColumn2, p, 1);
    ls->observationColumn1 = resizeMatrix(ls->observationColumn1, n, 1);
    ls->observationColumn2 = resizeMatrix(ls->observationColumn2, n, 1);
    ls->observationColumn3 = resizeMatrix(ls->observationColumn3, n, 1);
    ls->observationColumn4 = resizeMatrix(ls->observationColumn4, n, 1);
    return allPresent(ls);
}

}  // namespace

}  // namespace powderkit

extern "C" {

LeastSquaresMatrices *makeRefinementMatrices(void) {
    auto *ls = static_cast<LeastSquaresMatrices *>(std::calloc(1, sizeof(LeastSquaresMatrices)));
    if (ls == nullptr) return nullptr;
    ls->methods = &powderkit::kLeastSquaresMatricesMethods;
    return ls;
}

// Sizes every matrix for N observations and P parameters. The first call
// (parameterCount still 0) makes them zero-filled; later calls resize them,
// so their contents are unspecified after a change. Past the argument test
// the cycle values are reset whatever the outcome.
bool prepareForRefinementCycle(LeastSquaresMatrices *ls, int32_t observationCount,
                               int32_t parameterCount) {
    if (ls == nullptr || observationCount < 1 || parameterCount < 1) return false;
    bool prepared;
    if (ls->parameterCount == 0) {
        ls->observationCount = observationCount;
        ls->parameterCount = parameterCount;
        prepared = powderkit::prepareFirstTime(ls, observationCount, parameterCount);
    } else {
        const int32_t oldN = ls->observationCount;
        const int32_t oldP = ls->parameterCount;
        ls->observationCount = observationCount;
        ls->parameterCount = parameterCount;
        prepared = powderkit::prepareAgain(ls, observationCount, parameterCount, oldN, oldP);
    }
    ls->cycleFlag = 1;
    ls->cycleValue1 = 0.01;
    ls->cycleValue2 = 2.0;
    return prepared;
}

// σᵢ = √C(i, i) and ρ(i, j) = C(i, j)/(σⱼ·σᵢ) from the covariance C as the
// host left it (no scaling). A diagonal element that is not positive prints
// "Negative covariance diagonal encountered!" on standard output and gives
// false, the errors before it written, the correlations untouched.
bool calculateParameterCorrelationsAndErrors(LeastSquaresMatrices *ls) {
    if (ls == nullptr || ls->covariance == nullptr || ls->correlations == nullptr ||
        ls->standardErrors == nullptr) {
        return false;
    }
    const Matrix *covariance = ls->covariance;
    Matrix *correlations = ls->correlations;
    // Shapes a preparation cannot produce are refused rather than overrun.
    if (covariance->rows != covariance->columns || correlations->rows != covariance->rows ||
        correlations->columns != covariance->columns || covariance->rows > ls->parameterCount) {
        return false;
    }
    double *errors = ls->standardErrors;
    for (int32_t i = 0; i < covariance->rows; ++i) {
        const double variance = covariance->rowPointers[i][i];
        if (!(variance > 0.0)) {
            powderkit::printToStandardOutput("Negative covariance diagonal encountered!\n");
            return false;
        }
        errors[i] = std::sqrt(variance);
    }
    for (int32_t i = 0; i < covariance->rows; ++i) {
        for (int32_t j = 0; j < covariance->columns; ++j) {
            correlations->rowPointers[i][j] =
                covariance->rowPointers[i][j] / (errors[j] * errors[i]);
        }
    }
    return true;
}

void updateResidualsVector(Matrix *residuals, const double *first, const double *second) {
    if (residuals == nullptr || first == nullptr || second == nullptr) return;
    const int32_t length = powderkit::vectorLength(residuals);
    for (int32_t i = 0; i < length; ++i) residuals->elements[i] = first[i] - second[i];
}

// Releases the eleven matrices and the standard-error array. The record itself
// stays: the host releases it with free() after this call. The fields keep
// their old addresses.
void freeLeastSquaresMatrices(LeastSquaresMatrices *ls) {
    if (ls == nullptr) return;
    freeMatrix(ls->jacobian);
    freeMatrix(ls->jacobianTransposed);
    freeMatrix(ls->normalMatrix);
    freeMatrix(ls->covariance);
    freeMatrix(ls->correlations);
    freeMatrix(ls->parameterColumn1);
    freeMatrix(ls->parameterColumn2);
    freeMatrix(ls->observationColumn1);
    freeMatrix(ls->observationColumn2);
    freeMatrix(ls->observationColumn3);
    freeMatrix(ls->observationColumn4);
    std::free(ls->standardErrors);
}

}  // extern "C"
