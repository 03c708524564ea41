// Internal interface of the crystal model: the method tables of the records,
// the record operations that are method slots but not exported, and what
// those slots compute: the operator arithmetic, the folding of fractional
// coordinates into the cell with the coincidence test for positions and plane
// normals, the temperature factor of a displacement record and the
// eigen-decomposition of a symmetric 3×3 tensor by cyclic Jacobi rotations.
#ifndef POWDERKIT_MODEL_HPP
#define POWDERKIT_MODEL_HPP

#include <cstdint>
#include <cstdlib>

#include "powderkit.h"

namespace powderkit {

extern const RefinementCrystalMethods kCrystalMethods;
extern const ReflexionMethods kReflexionMethods;
extern const SiteMethods kSiteMethods;
extern const RefinementSiteOccupantMethods kSiteOccupantMethods;
extern const RefinementAtomMethods kAtomMethods;
extern const RefinementAtomicScatteringFactorMethods kScatteringFactorMethods;
extern const RefinementSymmetryOperatorMethods kSymmetryOperatorMethods;
extern const RefinementThermalEllipsoidUijMethods kDisplacementMethods;

// A new record of type Record, zero-filled by calloc, with its method table
// set: the first step of every make function. nullptr when calloc fails.
template <typename Record, typename Methods>
Record *makeZeroedRecord(const Methods *methods) {
    auto *record = static_cast<Record *>(std::calloc(1, sizeof(Record)));
    if (record != nullptr) record->methods = methods;
    return record;
}

// Record frees that are method slots only.
void freeReflexion(Reflexion *reflexion);
void freeSite(Site *site);
void freeSiteAtoms(Site *site);
void freeSiteOccupants(Site *site);
void freeRefinementSiteOccupant(RefinementSiteOccupant *occupant);
void freeRefinementAtom(RefinementAtom *atom);
void freeRefinementSymmetryOperator(RefinementSymmetryOperator *op);
void freeRefinementThermalEllipsoidUij(RefinementThermalEllipsoidUij *record);

// Site structure.
bool siteOccupantsAreEqual(RefinementSiteOccupant *occupant, RefinementSiteOccupant *other);
bool siteHasSameOccupants(Site *site, Site *other);
bool describeSiteConstraints(Site *site, char *buffer, int32_t capacity);
void wrapSiteCoordinates(Site *site);

// Frees every non-null element of a list through its own method table's free
// slot (`freeSlot`, slot 0 of the record's table), in list order, then the
// list itself. NULL does nothing.
template <typename Record, typename Methods>
void freeListOfRecords(DynamicArray *list, void (*Methods::*freeSlot)(Record *)) {
    if (list == nullptr) return;
    for (int32_t i = 0; i < list->count; ++i) {
        Record *record = static_cast<Record *>(list->items[i]);
        if (record != nullptr) (record->methods->*freeSlot)(record);
    }
    freeDynamicArray(list);
}

// Operator arithmetic and fractional coordinates.

// Generated positions (or rotated plane normals) closer than this in every
// component are one.
constexpr double kCoincidenceTolerance = 0.00011;
// Folded coordinates within this of either cell face become 0.
constexpr double kCellFaceMargin = 0.00001;
constexpr double kCellFaceUpper = 0.99999;

// out = R·v (operator slot 1). out may be v. Returns out.
double *rotateVector(double *out, const RefinementSymmetryOperator *op, const double *v);

// out = R·v + t (operator slot 2). out may be v. Returns out.
double *transformVector(double *out, const RefinementSymmetryOperator *op, const double *v);

// One fractional coordinate folded into the cell: the result is exactly 0
// or lies in [1e-5, 0.99999]; values within 1e-5 of either face give 0.
double reducedFractionalCoordinate(double u);

// True when every component of p and q differs by less than `tolerance`
// (strictly); no lattice translation is applied.
bool positionsCoincide(const double *p, const double *q, double tolerance);

// Displacement parameters.

// 8π² and 2π², written once with the digits the temperature factors use.
constexpr double kEightPiSquared = 78.95683520871486;
constexpr double kTwoPiSquared = 19.739208802178716;

// Sweeps of the Jacobi method before it gives up.
constexpr int32_t kJacobiMaximumSweeps = 50;

// Debye–Waller factor of the reflexion (h, k, l) with d-spacing d (Å) for the
// reciprocal cell lengths a*, b*, c* (Å⁻¹): isotropic from uIso, or
// anisotropic from the upper triangle of u.
double temperatureFactor(RefinementThermalEllipsoidUij *record, int32_t h, int32_t k, int32_t l,
                         double dSpacing, double aStar, double bStar, double cStar);

// Cyclic Jacobi decomposition of the symmetric matrix `a`, which it destroys
// above the diagonal. The eigenvalues are left in `eigenvalues` in the order
// of the diagonal positions they converged in (not sorted); the eigenvectors
// are the columns of `eigenvectors`; `rotations` counts the rotations made.
// After kJacobiMaximumSweeps sweeps without convergence it prints a message
// and leaves the partial result.
void jacobi(double a[3][3], double eigenvalues[3], double eigenvectors[3][3],
            int32_t *rotations);

// Eigenvalues and eigenvectors (columns of the row-major `eigenvectors`) of
// the symmetric matrix `matrix` (nine doubles, row-major), which is not
// changed.
void eigenvaluesOfSymmetricMatrix(const double matrix[9], double eigenvalues[3],
                                  double eigenvectors[9]);

}  // namespace powderkit

#endif
