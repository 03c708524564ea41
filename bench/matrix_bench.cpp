// Matrix operations at the sizes of a refinement cycle: the inverse of the
// normal matrix and the product JᵀJ for 14,000 points and 30 parameters.
#include <benchmark/benchmark.h>

#include <random>

#include "linalg/linalg.hpp"

namespace {

Matrix *randomMatrix(int32_t rows, int32_t columns, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Matrix *m = powderkit::makeMatrix(rows, columns);
    for (int32_t i = 0; i < rows * columns; ++i) m->elements[i] = uniform(generator);
    return m;
}

void BM_Inverse(benchmark::State &state) {
    const auto order = static_cast<int32_t>(state.range(0));
    Matrix *a = randomMatrix(order, order, 7u);
    Matrix *inverse = powderkit::makeMatrix(order, order);
    for (auto _ : state) {
        bool ok = inverseMatrixDst(inverse, a);
        benchmark::DoNotOptimize(ok);
    }
    freeMatrix(a);
    freeMatrix(inverse);
}
BENCHMARK(BM_Inverse)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);

void BM_NormalMatrix(benchmark::State &state) {
    const int32_t points = 14000;
    const int32_t parameters = 30;
    Matrix *jacobian = randomMatrix(points, parameters, 11u);
    Matrix *transposed = powderkit::makeMatrix(parameters, points);
    transposeMatrixDst(transposed, jacobian);
    Matrix *normal = powderkit::makeMatrix(parameters, parameters);
    for (auto _ : state) {
        multMatricesDst(normal, transposed, jacobian);
        benchmark::DoNotOptimize(normal->elements[0]);
    }
    freeMatrix(jacobian);
    freeMatrix(transposed);
    freeMatrix(normal);
}
BENCHMARK(BM_NormalMatrix)->Unit(benchmark::kMillisecond);

}  // namespace
