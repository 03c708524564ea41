// The records of the crystal model: defaults, ownership of the whole tree
// (slot 0 of each table frees its record), and make and free functions under
// allocation failure and null.
#include <gtest/gtest.h>

#include <cstddef>

#include "model/model.hpp"
#include "support/allocation_failure.hpp"

namespace {

TEST(Records, FreshCrystalHasUnitScaleAndNothingElse) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    ASSERT_NE(crystal, nullptr);
    EXPECT_EQ(crystal->scale, 1.0);
    EXPECT_EQ(crystal->auxiliaryFactor, 1.0);
    EXPECT_EQ(crystal->methods, &powderkit::kCrystalMethods);
    const auto *bytes = reinterpret_cast<const unsigned char *>(crystal);
    for (std::size_t i = offsetof(RefinementCrystal, a); i < offsetof(RefinementCrystal, methods); ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
    freeRefinementCrystal(crystal);
}

TEST(Records, OccupantKeepsItsOwnCopyOfTheSymbol) {
    char symbol[] = "Fe";
    RefinementSiteOccupant *occupant = makeRefinementSiteOccupant(symbol, 0.5, nullptr);
    symbol[0] = 'N';
    EXPECT_STREQ(occupant->symbol, "Fe");
    occupant->methods->freeRefinementSiteOccupant(occupant);
}

// Each failed make hands its free function a null (which must do nothing); the
// sanitizer pass sees any leak. A failed occupant leaves its scattering-factor
// record with the caller.
TEST(Records, EveryMakeFunctionSurvivesEveryAllocationFailure) {
    using pk_test::forEachAllocationFailure;
    forEachAllocationFailure([] { freeRefinementCrystal(makeEmptyRefinementCrystal()); });
    forEachAllocationFailure([] { powderkit::freeReflexion(makeReflexion()); });
    forEachAllocationFailure([] { powderkit::freeSite(makeEmptySite()); });
    forEachAllocationFailure([] { powderkit::freeRefinementAtom(makeRefinementAtom(0, 0, 0)); });
    forEachAllocationFailure([] { freeRefinementAtomicScatteringFactor(makeRefinementAtomicScatteringFactor()); });
    forEachAllocationFailure([] { powderkit::freeRefinementSymmetryOperator(makeRefinementSymmetryOperator()); });
    forEachAllocationFailure(
        [] { powderkit::freeRefinementThermalEllipsoidUij(makeRefinementThermalEllipsoidUij()); });
    forEachAllocationFailure([] { freeRefinementProfile(makeRefinementProfile(1, 2, 2, 1.54, 5, 90)); });
    forEachAllocationFailure([] {
        RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
        RefinementSiteOccupant *occupant = makeRefinementSiteOccupant("O", 1.0, factor);
        if (occupant == nullptr) freeRefinementAtomicScatteringFactor(factor);
        powderkit::freeRefinementSiteOccupant(occupant);
    });
    freeRefinementCrystalReflexions(nullptr);
    powderkit::freeSiteAtoms(nullptr);
    powderkit::freeSiteOccupants(nullptr);
}

TEST(Records, FreeingTheCrystalReleasesTheWholeTreeSkippingNulls) {
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
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(2);
    addObjectToDynamicArray(crystal->symmetryOperators, makeRefinementSymmetryOperator());
    crystal->reflexions = makeDynamicArrayWithCapacity(3);
    addObjectToDynamicArray(crystal->reflexions, makeReflexion());
    for (DynamicArray *list : {crystal->sites, crystal->symmetryOperators, crystal->reflexions}) {
        list->items[list->count++] = nullptr;  // room was left for a null entry in each
    }
    addObjectToDynamicArray(crystal->reflexions, makeReflexion());
    freeRefinementCrystalReflexions(crystal);
    EXPECT_EQ(crystal->reflexions, nullptr);
    EXPECT_EQ(crystal->sites->count, 3);
    freeRefinementCrystalReflexions(crystal);  // a null list does nothing
    crystal->reflexions = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(crystal->reflexions, makeReflexion());
    crystal->methods->freeRefinementCrystal(crystal);
}

}  // namespace
