// The crystal record: its make and free operations and its method table. A
// crystal owns its three lists and every element in them; freeing it frees
// the whole tree, each element through its own table.
#include <cstdlib>

#include "model/model.hpp"

namespace powderkit {

// Slots whose operations belong to other subsystems are filled as those land.
const RefinementCrystalMethods kCrystalMethods = {
    freeRefinementCrystal,
    freeRefinementCrystalReflexions,
    generateUnitCell,
    calculateSimilarityIndices,
    normalizeMarchEquation,
    calculateIntensityForReflexion,
    calculateReciprocalCell,
    calculateMetricTensor,
    calculatePeakPositionsForPlot,
    removeZeroIntensityReflexions,
    allowedReflexion,
    ignoreReflexionWithIndices,
    calculateRelativeIntensities,
    latticeAbsence,
    findPlaneWithIndices,
    compareRefGenRecByDSpacing,
    maxNumRefs,
    preferredOrientationCorrectionForReflexion,
    dSpacingForHKL,
    minDSpacingForPlot,
    calculateDensity,
    secondaryWavelengthReflexion,
    symmetryOperatorRelatingAtomToSite,
    planesRelatedBySymmetry,
    groupSitesByElement,
};

}  // namespace powderkit

extern "C" {

RefinementCrystal *makeEmptyRefinementCrystal(void) {
    auto *crystal = powderkit::makeZeroedRecord<RefinementCrystal>(&powderkit::kCrystalMethods);
    if (crystal == nullptr) return nullptr;
    crystal->scale = 1.0;
    crystal->auxiliaryFactor = 1.0;
    return crystal;
}

void freeRefinementCrystal(RefinementCrystal *crystal) {
    if (crystal == nullptr) return;
    powderkit::freeListOfRecords(crystal->sites, &SiteMethods::freeSite);
    crystal->sites = nullptr;
    freeRefinementCrystalReflexions(crystal);
    powderkit::freeListOfRecords(crystal->symmetryOperators,
                                 &RefinementSymmetryOperatorMethods::freeRefinementSymmetryOperator);
    crystal->symmetryOperators = nullptr;
    std::free(crystal);
}

void freeRefinementCrystalReflexions(RefinementCrystal *crystal) {
    if (crystal == nullptr || crystal->reflexions == nullptr) return;
    powderkit::freeListOfRecords(crystal->reflexions, &ReflexionMethods::freeReflexion);
    crystal->reflexions = nullptr;
}

}  // extern "C"
