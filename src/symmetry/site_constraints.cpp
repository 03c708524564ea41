// The constraints that a site's point symmetry imposes on its anisotropic
// displacement tensor. The operators of the crystal that leave the site in
// place are looked up in the table of point operations, and the codes of each
// are merged into six codes for U11, U22, U33, U23, U13 and U12. A code that
// has become 0 stays 0, and a code once set from -1 never returns to -1.
#include <cmath>
#include <cstring>

#include "frame/frame.hpp"
#include "symmetry/site_constraints.hpp"

namespace powderkit {
namespace {

bool isThreeOrSix(int32_t code) { return code == 3 || code == 6; }

void zeroWhereThreeOrSix(int32_t &code) {
    if (isThreeOrSix(code)) code = 0;
}

// One off-diagonal component (U23 or U13) and its two partners. The three
// cases are taken on the code as it stands when the step begins.
void mergeOffDiagonal(int32_t *o, const int32_t *c, int own, int other) {
    if (c[own] == 0) {
        if (isThreeOrSix(o[own])) {
            zeroWhereThreeOrSix(o[other]);
            zeroWhereThreeOrSix(o[kU12]);
        }
        o[own] = 0;
    } else if (c[own] > 0) {
        if (o[own] < 0) {
            o[own] = c[own];
        } else if (o[own] > 0) {
            if (o[own] != c[own]) o[own] = 0;
        } else {
            if (c[other] > 0) o[other] = 0;
            if (c[kU12] == 3) o[kU12] = 0;
        }
    }
}

void mergeU12(int32_t *o, const int32_t *c) {
    if (c[kU12] == 0) {
        if (o[kU12] == 2) {
            if (o[kU11] == 1) o[kU11] = 0;
            if (o[kU22] == 1) o[kU22] = 0;
        } else if (o[kU12] == 3) {
            zeroWhereThreeOrSix(o[kU23]);
            zeroWhereThreeOrSix(o[kU13]);
        }
        o[kU12] = 0;
    } else if (c[kU12] > 0) {
        if (o[kU12] < 0) {
            o[kU12] = c[kU12];
        } else if (o[kU12] != c[kU12]) {
            o[kU12] = 0;
        }
    }
}

const PointOperationConstraint *findPointOperation(const int32_t rotation[3][3]) {
    for (const PointOperationConstraint &row : kPointOperationConstraints) {
        if (std::memcmp(row.rotation, rotation, sizeof row.rotation) == 0) return &row;
    }
    return nullptr;
}

// True when x' = R·s + t, each component folded once (minus 1 above 1, then
// plus 1 below 0), lies within 1e-5 of s in every coordinate.
bool operatorFixesSite(const RefinementSymmetryOperator *op, const double *s) {
    for (int i = 0; i < 3; ++i) {
        double p = static_cast<double>(op->rotation[i][0]) * s[0] +
                   static_cast<double>(op->rotation[i][1]) * s[1] +
                   static_cast<double>(op->rotation[i][2]) * s[2] + op->translation[i];
        if (p > 1.0) p -= 1.0;
        if (p < 0.0) p += 1.0;
        if (!(std::fabs(p - s[i]) < 0.00001)) return false;
    }
    return true;
}

}  // namespace

void mergePointOperationConstraints(int32_t *o, const int32_t *c) {
    for (int i = kU11; i <= kU33; ++i) {
        if (c[i] == 1 && o[i] < 0) o[i] = 1;
    }
    const bool diagonalTied = o[kU11] == 1 || o[kU22] == 1 || o[kU33] == 1;
    bool skipU12 = false;
    if (diagonalTied && c[kU12] == 2) {
        if (o[kU12] >= 0) {
            if (o[kU12] != 2) o[kU12] = 0;
            skipU12 = true;
        } else {
            o[kU12] = 2;
        }
    }
    if (!skipU12) mergeU12(o, c);
    mergeOffDiagonal(o, c, kU23, kU13);
    mergeOffDiagonal(o, c, kU13, kU23);
}

}  // namespace powderkit

extern "C" {

bool TemperatureConstraintsForASite(RefinementCrystal *crystal, const double *site,
                                    int32_t *constraints) {
    if (constraints != nullptr) {
        for (int i = 0; i < 6; ++i) constraints[i] = -1;
    }
    if (crystal == nullptr || site == nullptr || constraints == nullptr) return false;
    const DynamicArray *operators = crystal->symmetryOperators;
    if (operators == nullptr) return false;
    for (int32_t i = 0; i < operators->count; ++i) {
        auto *op = static_cast<const RefinementSymmetryOperator *>(operators->items[i]);
        if (op == nullptr || !powderkit::operatorFixesSite(op, site)) continue;
        const powderkit::PointOperationConstraint *row = powderkit::findPointOperation(op->rotation);
        if (row != nullptr) powderkit::mergePointOperationConstraints(constraints, row->codes);
    }
    return true;
}

void FindTemperatureConstraintsForCrystal(RefinementCrystal *crystal) {
    if (crystal == nullptr || crystal->sites == nullptr || crystal->sites->count == 0) return;
    for (int32_t i = 0; i < crystal->sites->count; ++i) {
        const Site *site = static_cast<const Site *>(crystal->sites->items[i]);
        int32_t codes[6] = {-1, -1, -1, -1, -1, -1};
        if (site != nullptr) TemperatureConstraintsForASite(crystal, &site->x, codes);
        powderkit::printToStandardOutput("Site %d, constraints[%d  %d  %d  %d  %d %d]\n\n", i,
                                         codes[0], codes[1], codes[2], codes[3], codes[4],
                                         codes[5]);
    }
}

}  // extern "C"
