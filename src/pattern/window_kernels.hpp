// The fast loops of the pattern model: one reflexion's peak over the points
// of its window.
#ifndef POWDERKIT_PHASE_WINDOW_KERNELS_HPP
#define POWDERKIT_PHASE_WINDOW_KERNELS_HPP

#include <cstdint>

#include "pattern/peak_shapes.hpp"

namespace powderkit::phase {

// y[i] += factor × (the unit-area peak of `peak` at x[i]) for i = first … last.
void addCwWindow(const CwPeak &peak, const double *x, int32_t first, int32_t last, double factor, double *y);

}  // namespace powderkit::phase

#endif
