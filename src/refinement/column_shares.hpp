// The Jacobian's columns shared among threads (options.threads): which
// thread makes which differenced column, and the copies of the refinement
// they work on.
#ifndef POWDERKIT_REFINEMENT_COLUMN_SHARES_HPP
#define POWDERKIT_REFINEMENT_COLUMN_SHARES_HPP

#include <Eigen/Dense>
#include <cstdint>
#include <functional>
#include <vector>

#include "refinement_model/refinement.hpp"

namespace powderkit::refinement {

// A differenced column: its parameter, its column of j, and its work in
// memory-bound multiply-adds (about half a nanosecond each), measured on
// 2θ patterns: at each of its two sides about three for every point of the
// moved phases' peak windows, and some ten for every point of the pattern
// (the remade units, the part's sum, the difference). A joint refinement's
// columns count the points alone.
struct Differenced {
    int index = 0;
    Eigen::Index column = 0;
    std::int64_t work = 0;
};

// Each phase's points of its peak windows.
std::vector<std::int64_t> windowPoints(const pk_refinement &r);

// Where the linear columns read the background's polynomials.
using PolynomialOf = std::function<const std::vector<double> &(int)>;

// Makes the differenced columns of j by `difference(model, index, column)`,
// the longest first, each to the thread with the least work so far. Share 0
// works on r itself, after `linear` (the columns that read r's units and
// polynomials, `linearWork` long), the others on copies of r. r is as it was
// afterwards, and each column the same to the bit on any thread.
void shareColumns(pk_refinement &r, const std::vector<Differenced> &differenced,
                  const std::function<void(const PolynomialOf &)> &linear, std::int64_t linearWork,
                  const std::function<void(pk_refinement &, int, double *)> &difference, Eigen::MatrixXd &j);

}  // namespace powderkit::refinement

#endif
