// Fractional coordinates in the unit cell: folding one coordinate into the
// cell (with the faces snapped to 0), folding a site's three coordinates in
// place, and the per-coordinate coincidence test of two positions.
#include <cmath>

#include "frame/frame.hpp"
#include "model/model.hpp"

namespace powderkit {

// −0.25 becomes 0.75; 1.0 and −1.0 (which folds to 1.0) and anything within
// 1e-5 of a face become 0.
double reducedFractionalCoordinate(double u) {
    double r = u;
    if (u > 1.0) {
        r = u - static_cast<double>(truncateToInt32(u));
    } else if (u < 0.0) {
        r = u - static_cast<double>(truncateToInt32(u)) + 1.0;
    }
    if (r > kCellFaceUpper) return 0.0;
    if (r < kCellFaceMargin) return 0.0;
    return r;
}

bool positionsCoincide(const double *p, const double *q, double tolerance) {
    return std::fabs(p[0] - q[0]) < tolerance && std::fabs(p[1] - q[1]) < tolerance &&
           std::fabs(p[2] - q[2]) < tolerance;
}

// Site method slot 3: the site's own coordinates folded into the cell.
void wrapSiteCoordinates(Site *site) {
    if (site == nullptr) return;
    site->x = reducedFractionalCoordinate(site->x);
    site->y = reducedFractionalCoordinate(site->y);
    site->z = reducedFractionalCoordinate(site->z);
}

}  // namespace powderkit
