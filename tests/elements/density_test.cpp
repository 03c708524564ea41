// Densities from generated positions and the atomic-weight table, against
// M·1660.56/V worked out by hand with the table's weights (C 12.01, Al 26.98,
// O 16.0).
#include <gtest/gtest.h>

#include <cmath>

#include "support/reference_phases.hpp"

namespace {

TEST(Density, DiamondFromItsPositions) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = crystal->b = crystal->c = 3.567;
    crystal->alpha = crystal->beta = crystal->gamma = 90.0;
    calculateReciprocalCell(crystal);
    crystal->sites = makeDynamicArrayWithCapacity(1);
    Site *site = makeEmptySite();
    site->occupants = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant("C", 1.0, nullptr));
    site->atoms = makeDynamicArrayWithCapacity(8);
    for (int i = 0; i < 8; ++i) addObjectToDynamicArray(site->atoms, makeRefinementAtom(0.125 * i, 0, 0));
    addObjectToDynamicArray(crystal->sites, site);
    const double expected = 8 * 12.01 * 1660.56 / std::pow(3.567, 3);
    EXPECT_NEAR(expected, 3515.4, 0.05);
    EXPECT_NEAR(crystal->methods->calculateDensity(crystal), expected, 1e-9 * expected);
    // Twice the positions, twice the density; an excluded site still counts.
    for (int i = 0; i < 8; ++i) addObjectToDynamicArray(site->atoms, makeRefinementAtom(0.5, 0.125 * i, 0));
    site->isIncluded = 0;
    EXPECT_NEAR(calculateDensity(crystal), 2 * expected, 1e-9 * expected);
    freeRefinementCrystal(crystal);
}

// Corundum: 12 Al and 18 O in a hexagonal cell (V = a²c·sin 120°, 254.792343 Å³).
TEST(Density, HexagonalReferenceStructure) {
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("corundum");
    const double expected = (12 * 26.98 + 18 * 16.0) * 1660.56 / 254.792343;
    EXPECT_NEAR(calculateDensity(crystal), expected, 1e-6 * expected);
    freeRefinementCrystal(crystal);
}

}  // namespace
