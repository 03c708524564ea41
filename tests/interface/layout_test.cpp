// The public interface as C++ sees it through the shared library's header:
// every record size and field offset against the layout worked out by hand
// (expected_layout.h); every method-table slot filled, and every slot also
// exported under its own name holding that very function.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "interface/expected_layout.h"
#include "powderkit.h"

namespace {

TEST(Interface, RecordSizesAndOffsetsMatchTheDeclaredLayout) {
#define PK_CHECK_SIZE(Record, size) EXPECT_EQ(sizeof(Record), std::size_t{size}) << #Record;
    PK_EXPECTED_SIZES(PK_CHECK_SIZE)
#undef PK_CHECK_SIZE
#define PK_CHECK_OFFSET(Record, field, offset) \
    EXPECT_EQ(offsetof(Record, field), std::size_t{offset}) << #Record "." #field;
    PK_EXPECTED_OFFSETS(PK_CHECK_OFFSET)
#undef PK_CHECK_OFFSET
}

// The number of empty slots of a method table, which holds function pointers only.
template <typename Table>
int emptySlots(const Table *table, std::size_t slots) {
    EXPECT_EQ(sizeof(Table), slots * sizeof(void (*)()));
    void (*slot[64])() = {};
    std::memcpy(slot, table, sizeof(Table));
    int empty = 0;
    for (std::size_t i = 0; i < slots; ++i) empty += slot[i] == nullptr;
    return empty;
}

TEST(Interface, MethodTablesAreFullAndHoldTheExportedFunctions) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    Reflexion *reflexion = makeReflexion();
    Site *site = makeEmptySite();
    RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
    RefinementSiteOccupant *occupant = makeRefinementSiteOccupant("Fe", 1.0, nullptr);
    RefinementAtom *atom = makeRefinementAtom(0.1, 0.2, 0.3);
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    RefinementThermalEllipsoidUij *displacement = makeRefinementThermalEllipsoidUij();
    RefinementProfile *profile = makeRefinementProfile(1, 2, 2, 1.5406, 10.0, 120.0);
    LeastSquaresMatrices *ls = makeRefinementMatrices();
    EXPECT_EQ(emptySlots(crystal->methods, 25) + emptySlots(reflexion->methods, 1) + emptySlots(site->methods, 8) +
                  emptySlots(occupant->methods, 3) + emptySlots(atom->methods, 1) + emptySlots(factor->methods, 3) +
                  emptySlots(op->methods, 4) + emptySlots(displacement->methods, 3) + emptySlots(profile->methods, 5) +
                  emptySlots(ls->methods, 3),
              0);
#define PK_EXPORTED(table, name) \
    EXPECT_EQ(reinterpret_cast<void (*)()>(table->methods->name), reinterpret_cast<void (*)()>(&name)) << #name;
    PK_EXPORTED(crystal, freeRefinementCrystal) PK_EXPORTED(crystal, freeRefinementCrystalReflexions)
    PK_EXPORTED(crystal, generateUnitCell) PK_EXPORTED(crystal, calculateSimilarityIndices)
    PK_EXPORTED(crystal, normalizeMarchEquation) PK_EXPORTED(crystal, calculateIntensityForReflexion)
    PK_EXPORTED(crystal, calculateReciprocalCell) PK_EXPORTED(crystal, calculateMetricTensor)
    PK_EXPORTED(crystal, calculatePeakPositionsForPlot) PK_EXPORTED(crystal, removeZeroIntensityReflexions)
    PK_EXPORTED(crystal, allowedReflexion) PK_EXPORTED(crystal, ignoreReflexionWithIndices)
    PK_EXPORTED(crystal, calculateRelativeIntensities) PK_EXPORTED(crystal, latticeAbsence)
    PK_EXPORTED(crystal, findPlaneWithIndices) PK_EXPORTED(crystal, compareRefGenRecByDSpacing)
    PK_EXPORTED(crystal, maxNumRefs) PK_EXPORTED(crystal, preferredOrientationCorrectionForReflexion)
    PK_EXPORTED(crystal, dSpacingForHKL) PK_EXPORTED(crystal, minDSpacingForPlot) PK_EXPORTED(crystal, calculateDensity)
    PK_EXPORTED(crystal, secondaryWavelengthReflexion) PK_EXPORTED(crystal, symmetryOperatorRelatingAtomToSite)
    PK_EXPORTED(crystal, planesRelatedBySymmetry) PK_EXPORTED(crystal, groupSitesByElement)
    PK_EXPORTED(factor, freeRefinementAtomicScatteringFactor) PK_EXPORTED(factor, neutronScatteringLength)
    PK_EXPORTED(factor, xrayScatteringFactor) PK_EXPORTED(op, transformVectorWithDisplacedOrigin)
    PK_EXPORTED(displacement, uIsoEquivalent) PK_EXPORTED(profile, freeRefinementProfile)
    PK_EXPORTED(profile, copyChebyschevPolynomialParametersToBuffer) PK_EXPORTED(profile, xForReflexion)
    PK_EXPORTED(profile, dSpacingForX) PK_EXPORTED(profile, dSpacingRange) PK_EXPORTED(ls, freeLeastSquaresMatrices)
    PK_EXPORTED(ls, prepareForRefinementCycle) PK_EXPORTED(ls, calculateParameterCorrelationsAndErrors)
#undef PK_EXPORTED
    // Released through their own slot 0.
    ls->methods->freeLeastSquaresMatrices(ls), std::free(ls);
    profile->methods->freeRefinementProfile(profile);
    displacement->methods->freeRefinementThermalEllipsoidUij(displacement);
    op->methods->freeRefinementSymmetryOperator(op);
    atom->methods->freeRefinementAtom(atom);
    occupant->methods->freeRefinementSiteOccupant(occupant);
    factor->methods->freeRefinementAtomicScatteringFactor(factor);
    site->methods->freeSite(site);
    reflexion->methods->freeReflexion(reflexion);
    crystal->methods->freeRefinementCrystal(crystal);
}

}  // namespace
