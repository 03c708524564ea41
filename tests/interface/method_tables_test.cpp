// Every slot of every method table is filled, and every slot that the
// interface also exports under its own name holds that very function, so a
// host may call either way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "powderkit.h"

namespace {

// A method table is a struct of function pointers only: count the empty ones.
template <typename Table>
int emptySlots(const Table *table) {
    static_assert(sizeof(Table) % sizeof(void (*)()) == 0, "a table of function pointers");
    void (*slots[sizeof(Table) / sizeof(void (*)())])();
    std::memcpy(slots, table, sizeof(Table));
    int empty = 0;
    for (auto slot : slots) empty += slot == nullptr;
    return empty;
}

template <typename Function>
const void *address(Function function) {
    const void *value = nullptr;
    static_assert(sizeof value == sizeof function, "function addresses fit in a pointer");
    std::memcpy(&value, &function, sizeof value);
    return value;
}

TEST(MethodTables, EveryRecordHasAFullTable) {
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
    ASSERT_TRUE(crystal && reflexion && site && factor && occupant && atom && op && displacement &&
                profile && ls);

    EXPECT_EQ(sizeof(RefinementCrystalMethods), 25 * sizeof(void (*)()));
    EXPECT_EQ(emptySlots(crystal->methods), 0);
    EXPECT_EQ(sizeof(ReflexionMethods), 1 * sizeof(void (*)()));
    EXPECT_EQ(emptySlots(reflexion->methods), 0);
    EXPECT_EQ(sizeof(SiteMethods), 8 * sizeof(void (*)()));
    EXPECT_EQ(emptySlots(site->methods), 0);
    EXPECT_EQ(sizeof(RefinementSiteOccupantMethods), 3 * sizeof(void (*)()));
    EXPECT_EQ(emptySlots(occupant->methods), 0);
    EXPECT_EQ(sizeof(RefinementAtomMethods), 1 * sizeof(void (*)()));
    EXPECT_EQ(emptySlots(atom->methods), 0);
    EXPECT_EQ(sizeof(RefinementAtomicScatteringFactorMethods), 3 * sizeof(void (*)()));
    EXPECT_EQ(emptySlots(factor->methods), 0);
    EXPECT_EQ(sizeof(RefinementSymmetryOperatorMethods), 4 * sizeof(void (*)()));
    EXPECT_EQ(emptySlots(op->methods), 0);
    EXPECT_EQ(sizeof(RefinementThermalEllipsoidUijMethods), 3 * sizeof(void (*)()));
    EXPECT_EQ(emptySlots(displacement->methods), 0);
    EXPECT_EQ(sizeof(RefinementProfileMethods), 5 * sizeof(void (*)()));
    EXPECT_EQ(emptySlots(profile->methods), 0);
    EXPECT_EQ(sizeof(LeastSquaresMatricesMethods), 3 * sizeof(void (*)()));
    EXPECT_EQ(emptySlots(ls->methods), 0);

    // The crystal's 25 slots are all exported under their names.
    const RefinementCrystalMethods *c = crystal->methods;
    EXPECT_EQ(c->freeRefinementCrystal, &freeRefinementCrystal);
    EXPECT_EQ(c->freeRefinementCrystalReflexions, &freeRefinementCrystalReflexions);
    EXPECT_EQ(c->generateUnitCell, &generateUnitCell);
    EXPECT_EQ(c->calculateSimilarityIndices, &calculateSimilarityIndices);
    EXPECT_EQ(c->normalizeMarchEquation, &normalizeMarchEquation);
    EXPECT_EQ(c->calculateIntensityForReflexion, &calculateIntensityForReflexion);
    EXPECT_EQ(c->calculateReciprocalCell, &calculateReciprocalCell);
    EXPECT_EQ(c->calculateMetricTensor, &calculateMetricTensor);
    EXPECT_EQ(c->calculatePeakPositionsForPlot, &calculatePeakPositionsForPlot);
    EXPECT_EQ(c->removeZeroIntensityReflexions, &removeZeroIntensityReflexions);
    EXPECT_EQ(c->allowedReflexion, &allowedReflexion);
    EXPECT_EQ(c->ignoreReflexionWithIndices, &ignoreReflexionWithIndices);
    EXPECT_EQ(c->calculateRelativeIntensities, &calculateRelativeIntensities);
    EXPECT_EQ(c->latticeAbsence, &latticeAbsence);
    EXPECT_EQ(c->findPlaneWithIndices, &findPlaneWithIndices);
    EXPECT_EQ(c->compareRefGenRecByDSpacing, &compareRefGenRecByDSpacing);
    EXPECT_EQ(c->maxNumRefs, &maxNumRefs);
    EXPECT_EQ(c->preferredOrientationCorrectionForReflexion,
              &preferredOrientationCorrectionForReflexion);
    EXPECT_EQ(c->dSpacingForHKL, &dSpacingForHKL);
    EXPECT_EQ(c->minDSpacingForPlot, &minDSpacingForPlot);
    EXPECT_EQ(c->calculateDensity, &calculateDensity);
    EXPECT_EQ(c->secondaryWavelengthReflexion, &secondaryWavelengthReflexion);
    EXPECT_EQ(c->symmetryOperatorRelatingAtomToSite, &symmetryOperatorRelatingAtomToSite);
    EXPECT_EQ(c->planesRelatedBySymmetry, &planesRelatedBySymmetry);
    EXPECT_EQ(c->groupSitesByElement, &groupSitesByElement);

    // The exported slots of the other tables.
    EXPECT_EQ(factor->methods->freeRefinementAtomicScatteringFactor,
              &freeRefinementAtomicScatteringFactor);
    EXPECT_EQ(factor->methods->neutronScatteringLength, &neutronScatteringLength);
    EXPECT_EQ(factor->methods->xrayScatteringFactor, &xrayScatteringFactor);
    EXPECT_EQ(op->methods->transformVectorWithDisplacedOrigin, &transformVectorWithDisplacedOrigin);
    EXPECT_EQ(displacement->methods->uIsoEquivalent, &uIsoEquivalent);
    EXPECT_EQ(address(profile->methods->freeRefinementProfile), address(&freeRefinementProfile));
    EXPECT_EQ(profile->methods->copyChebyschevPolynomialParametersToBuffer,
              &copyChebyschevPolynomialParametersToBuffer);
    EXPECT_EQ(profile->methods->xForReflexion, &xForReflexion);
    EXPECT_EQ(profile->methods->dSpacingForX, &dSpacingForX);
    EXPECT_EQ(profile->methods->dSpacingRange, &dSpacingRange);
    EXPECT_EQ(ls->methods->freeLeastSquaresMatrices, &freeLeastSquaresMatrices);
    EXPECT_EQ(ls->methods->prepareForRefinementCycle, &prepareForRefinementCycle);
    EXPECT_EQ(ls->methods->calculateParameterCorrelationsAndErrors,
              &calculateParameterCorrelationsAndErrors);

    // Released through their own slot 0.
    ls->methods->freeLeastSquaresMatrices(ls);
    std::free(ls);
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
