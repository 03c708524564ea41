// Record sizes and offsets against the layout worked out by hand (expected_layout.h);
// method tables full, each exported slot holding the function of its name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include "interface/expected_layout.h"
#include "powderkit.h"

namespace {

TEST(Interface, RecordSizesAndOffsetsMatchTheDeclaredLayout) {
#define PK_CHECK_SIZE(Record, size) EXPECT_EQ(sizeof(Record), std::size_t{size}) << #Record;
#define PK_CHECK_OFFSET(Record, field, offset) EXPECT_EQ(offsetof(Record, field), std::size_t{offset}) << #field;
    PK_EXPECTED_SIZES(PK_CHECK_SIZE)
    PK_EXPECTED_OFFSETS(PK_CHECK_OFFSET)
}

// Each method table holds function pointers only, none of them empty.
template <typename Table>
int emptySlots(const Table *table, std::size_t slots) {
    EXPECT_EQ(sizeof(Table), slots * sizeof(void (*)()));
    const auto *slot = reinterpret_cast<void (*const *)()>(table);
    return static_cast<int>(std::count(slot, slot + slots, nullptr));
}

TEST(Interface, MethodTablesAreFullAndHoldTheExportedFunctions) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    RefinementThermalEllipsoidUij *displacement = makeRefinementThermalEllipsoidUij();
    RefinementProfile *profile = makeRefinementProfile(1, 2, 2, 1.5406, 10.0, 120.0);
    LeastSquaresMatrices *ls = makeRefinementMatrices();
    EXPECT_EQ(0, emptySlots(crystal->methods, 25) + emptySlots(factor->methods, 3) + emptySlots(op->methods, 4) +
                     emptySlots(displacement->methods, 3) + emptySlots(profile->methods, 5) +
                     emptySlots(ls->methods, 3));
    using Slot = void (*)();
#define PK_EXPORTED(table, name) EXPECT_EQ(reinterpret_cast<Slot>(table->methods->name), Slot(&name)) << #name;
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
    ls->methods->freeLeastSquaresMatrices(ls);  // released through their own slot 0
    std::free(ls);
    profile->methods->freeRefinementProfile(profile);
    displacement->methods->freeRefinementThermalEllipsoidUij(displacement);
    op->methods->freeRefinementSymmetryOperator(op);
    factor->methods->freeRefinementAtomicScatteringFactor(factor);
    crystal->methods->freeRefinementCrystal(crystal);
}

}  // namespace
