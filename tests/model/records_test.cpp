// The records of the crystal model: defaults, method tables, ownership of the
// whole tree, and make functions under allocation failure.
#include <gtest/gtest.h>

#include <cstring>

#include "model/model.hpp"
#include "support/allocation_failure.hpp"

namespace {

TEST(Records, FreshCrystalHasUnitScaleAndNothingElse) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    ASSERT_NE(crystal, nullptr);
    EXPECT_EQ(crystal->scale, 1.0);
    EXPECT_EQ(crystal->auxiliaryFactor, 1.0);
    EXPECT_EQ(crystal->methods, &powderkit::kCrystalMethods);
    // Every byte between auxiliaryFactor and methods is zero.
    const auto *bytes = reinterpret_cast<const unsigned char *>(crystal);
    for (std::size_t i = offsetof(RefinementCrystal, a); i < offsetof(RefinementCrystal, methods); ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
    freeRefinementCrystal(crystal);
}

TEST(Records, MakeFunctionsSetTheirTablesAndZeroTheRest) {
    Reflexion *reflexion = makeReflexion();
    EXPECT_EQ(reflexion->methods, &powderkit::kReflexionMethods);
    EXPECT_EQ(reflexion->intensity, 0.0);
    Site *site = makeEmptySite();
    EXPECT_EQ(site->methods, &powderkit::kSiteMethods);
    EXPECT_EQ(site->occupants, nullptr);
    RefinementAtom *atom = makeRefinementAtom(0.1, 0.2, 0.3);
    EXPECT_EQ(atom->x, 0.1);
    EXPECT_EQ(atom->z, 0.3);
    EXPECT_EQ(atom->symmetryOperator, nullptr);
    RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
    EXPECT_EQ(factor->hasCromerMannCoefficients, 0);
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    EXPECT_EQ(op->rotation[1][1], 0);
    EXPECT_EQ(op->coordinateExpressions[0], nullptr);
    RefinementThermalEllipsoidUij *uij = makeRefinementThermalEllipsoidUij();
    EXPECT_EQ(uij->isAnisotropic, 0);
    // Every record's slot 0 frees it.
    reflexion->methods->freeReflexion(reflexion);
    site->methods->freeSite(site);
    atom->methods->freeRefinementAtom(atom);
    factor->methods->freeRefinementAtomicScatteringFactor(factor);
    op->methods->freeRefinementSymmetryOperator(op);
    uij->methods->freeRefinementThermalEllipsoidUij(uij);
}

TEST(Records, OccupantKeepsItsOwnCopyOfTheSymbol) {
    char symbol[] = "Fe";
    RefinementSiteOccupant *occupant =
        makeRefinementSiteOccupant(symbol, 0.5, makeRefinementAtomicScatteringFactor());
    ASSERT_NE(occupant, nullptr);
    symbol[0] = 'N';
    EXPECT_STREQ(occupant->symbol, "Fe");
    EXPECT_NE(occupant->symbol, symbol);
    EXPECT_EQ(occupant->occupancy, 0.5);
    occupant->methods->freeRefinementSiteOccupant(occupant);
}

TEST(Records, FailedOccupantLeavesTheScatteringFactorWithTheCaller) {
    RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
    pk_test::failAllocationNumber(2);  // 1: the record, 2: the symbol copy
    RefinementSiteOccupant *occupant = makeRefinementSiteOccupant("Co", 1.0, factor);
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(occupant, nullptr);
    factor->hasNeutronScatteringLength = 1;  // still valid and ours
    freeRefinementAtomicScatteringFactor(factor);
}

TEST(Records, EveryMakeFunctionSurvivesEveryAllocationFailure) {
    pk_test::forEachAllocationFailure([] { freeRefinementCrystal(makeEmptyRefinementCrystal()); });
    pk_test::forEachAllocationFailure([] { powderkit::freeReflexion(makeReflexion()); });
    pk_test::forEachAllocationFailure([] { powderkit::freeSite(makeEmptySite()); });
    pk_test::forEachAllocationFailure([] { powderkit::freeRefinementAtom(makeRefinementAtom(0, 0, 0)); });
    pk_test::forEachAllocationFailure(
        [] { freeRefinementAtomicScatteringFactor(makeRefinementAtomicScatteringFactor()); });
    pk_test::forEachAllocationFailure(
        [] { powderkit::freeRefinementSymmetryOperator(makeRefinementSymmetryOperator()); });
    pk_test::forEachAllocationFailure(
        [] { powderkit::freeRefinementThermalEllipsoidUij(makeRefinementThermalEllipsoidUij()); });
    pk_test::forEachAllocationFailure(
        [] { freeRefinementProfile(makeRefinementProfile(1, 2, 2, 1.54, 5, 90)); });
    pk_test::forEachAllocationFailure([] {
        RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
        RefinementSiteOccupant *occupant = makeRefinementSiteOccupant("O", 1.0, factor);
        if (occupant == nullptr) {
            freeRefinementAtomicScatteringFactor(factor);
        } else {
            powderkit::freeRefinementSiteOccupant(occupant);
        }
    });
}

TEST(Records, FreeFunctionsAcceptNull) {
    freeRefinementCrystal(nullptr);
    freeRefinementCrystalReflexions(nullptr);
    freeRefinementAtomicScatteringFactor(nullptr);
    freeRefinementProfile(nullptr);
    powderkit::freeReflexion(nullptr);
    powderkit::freeSite(nullptr);
    powderkit::freeSiteAtoms(nullptr);
    powderkit::freeSiteOccupants(nullptr);
    powderkit::freeRefinementSiteOccupant(nullptr);
    powderkit::freeRefinementAtom(nullptr);
    powderkit::freeRefinementSymmetryOperator(nullptr);
    powderkit::freeRefinementThermalEllipsoidUij(nullptr);
}

// Builds a full tree: two sites with positions, occupants and displacement
// records, two operators, reflexions, with null entries in every list. The
// sanitizer pass proves that freeing the crystal releases all of it.
RefinementCrystal *makeTree() {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->sites = makeDynamicArrayWithCapacity(4);
    for (int s = 0; s < 2; ++s) {
        Site *site = makeEmptySite();
        site->atoms = makeDynamicArrayWithCapacity(1);
        addObjectToDynamicArray(site->atoms, makeRefinementAtom(0, 0, 0));
        addObjectToDynamicArray(site->atoms, makeRefinementAtom(0.5, 0.5, 0));
        site->occupants = makeDynamicArrayWithCapacity(1);
        addObjectToDynamicArray(site->occupants,
                                makeRefinementSiteOccupant("Si", 1.0, makeRefinementAtomicScatteringFactor()));
        addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant("Ge", 0.5, nullptr));
        site->displacement = makeRefinementThermalEllipsoidUij();
        addObjectToDynamicArray(crystal->sites, site);
    }
    crystal->sites->items[crystal->sites->count++] = nullptr;
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(2);
    addObjectToDynamicArray(crystal->symmetryOperators, makeRefinementSymmetryOperator());
    crystal->symmetryOperators->items[crystal->symmetryOperators->count++] = nullptr;
    crystal->reflexions = makeDynamicArrayWithCapacity(2);
    addObjectToDynamicArray(crystal->reflexions, makeReflexion());
    crystal->reflexions->items[crystal->reflexions->count++] = nullptr;
    addObjectToDynamicArray(crystal->reflexions, makeReflexion());
    return crystal;
}

TEST(Records, FreeingTheCrystalReleasesTheWholeTreeSkippingNulls) {
    RefinementCrystal *crystal = makeTree();
    crystal->methods->freeRefinementCrystal(crystal);
}

TEST(Records, ReflexionsCanBeReleasedAndRebuiltAlone) {
    RefinementCrystal *crystal = makeTree();
    freeRefinementCrystalReflexions(crystal);
    EXPECT_EQ(crystal->reflexions, nullptr);
    EXPECT_EQ(crystal->sites->count, 3);
    freeRefinementCrystalReflexions(crystal);  // a null list does nothing
    crystal->reflexions = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(crystal->reflexions, makeReflexion());
    freeRefinementCrystal(crystal);
}

}  // namespace
