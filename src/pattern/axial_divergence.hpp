// The axial-divergence asymmetry of constant-wavelength peaks (Finger, Cox and
// Jephcoat): a reflexion's symmetric peak spread over the observed angles 2φ
// its Debye–Scherrer cone reaches through a sample and a detector of finite
// height, as quadrature nodes worked out once per reflexion.
#ifndef POWDERKIT_PHASE_AXIAL_DIVERGENCE_HPP
#define POWDERKIT_PHASE_AXIAL_DIVERGENCE_HPP

#include <cstdint>
#include <vector>

#include "pattern/peak_shapes.hpp"

namespace powderkit::phase {

// One reflexion's axial-divergence function: the observed angles 2φ_k as
// offsets from 2θ₀ and their weights, which sum to 1.
struct AxialNodes {
    std::vector<double> offsets;  // 2φ_k − 2θ₀, degrees
    std::vector<double> weights;
    double reach = 0.0;           // |2φ_min − 2θ₀|, degrees: how far the tail goes
};

// The nodes for a peak at 2θ₀ (degrees) of FWHM `fwhm` (degrees) with sample
// and detector half-heights S/L = sl and H/L = hl: one node at 2θ₀ where the
// function has no extent (sl + hl = 0, or 2θ₀ = 90°).
AxialNodes axialNodes(double twoTheta0, double fwhm, double sl, double hl);

// y[i] += factor × Σ_k w_k · (the symmetric peak of `peak` centred on 2θ₀ + offset_k)(x[i])
// for i = first … last; `peak` has no asymmetry P.
void addAxialWindow(const CwPeak &peak, const AxialNodes &nodes, const double *x, int32_t first, int32_t last,
                    double factor, double *y);

}  // namespace powderkit::phase

#endif
