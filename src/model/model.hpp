// Internal interface of the crystal model: the method tables of the records
// and the record operations that are method slots but not exported.
#ifndef POWDERKIT_MODEL_HPP
#define POWDERKIT_MODEL_HPP

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

}  // namespace powderkit

#endif
