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

// A column of j: its parameter, its place in j, whether the pattern follows
// the parameter linearly (a scale or a background coefficient, whose column
// is read from the units or the polynomials, a pass over the points; every
// other column is differenced), and a differenced column's work, which
// orders them: in memory-bound multiply-adds (about half a nanosecond each),
// measured on 2θ patterns, at each of its two sides about three for every
// point of the moved phases' peak windows, and some ten for every point of
// the pattern (the remade units, the part's sum, the difference). A joint
// refinement's differenced columns count the points alone.
struct JacobianColumn {
    int index = 0;
    Eigen::Index column = 0;
    bool linear = false;
    std::int64_t work = 0;
};

// Each phase's points of its peak windows.
std::vector<std::int64_t> windowPoints(const pk_refinement &r);

// Where the linear columns read the background's polynomials (each the
// points' length).
using PolynomialOf = std::function<const double *(int)>;

// Makes the columns of j, the differenced by `difference(model, index,
// column)` and the linear by `linear(model, index, polynomialOf, column)`,
// shared among the threads, which take the differenced columns longest
// first, then the linear ones, as each becomes free. Share 0 works on r
// itself, the others each on its own copy of r (while the copies are made,
// share 0 makes linear columns). r is as it was afterwards, and each column
// the same to the bit on any thread.
void shareColumns(pk_refinement &r, const std::vector<JacobianColumn> &columns,
                  const std::function<void(pk_refinement &, int, const PolynomialOf &, double *)> &linear,
                  const std::function<void(pk_refinement &, int, double *)> &difference, Eigen::MatrixXd &j);

}  // namespace powderkit::refinement

#endif
