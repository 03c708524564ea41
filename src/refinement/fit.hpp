// The pieces of the Levenberg–Marquardt fit, on Eigen's dense matrices.
#ifndef POWDERKIT_REFINEMENT_FIT_HPP
#define POWDERKIT_REFINEMENT_FIT_HPP

#include <Eigen/Dense>
#include <vector>

#include "refinement/refinement.hpp"

namespace powderkit::refinement {

// ∂y_calc/∂p of every point (rows) by the free parameters `free` (columns),
// at the current values, which it leaves as they were.
Eigen::MatrixXd jacobian(pk_refinement &refinement, const std::vector<int> &free);

// Puts the free cell lengths into the basin of the measured peaks (a staged
// grid search) and the free scales and background at their best for the
// other values; in Le Bail, every reflexion's first intensity.
void startingValues(pk_refinement &refinement);

}  // namespace powderkit::refinement

#endif
