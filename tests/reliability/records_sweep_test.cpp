// Allocation failures in the make functions of every record: each gives NULL
// and leaves nothing behind (the sanitizer pass checks for leaks); the
// occupant hands its scattering-factor record back to the caller.
#include <gtest/gtest.h>

#include <cstdlib>

#include "model/model.hpp"
#include "sweep.hpp"

namespace {

using pk_reliability::sweepAllocations;
using pk_reliability::Trial;

// Sweeps a maker: NULL exactly when an allocation failed, else a record whose
// method table is set; released with `release`.
template <typename Record, typename Make, typename Release>
long sweepMaker(const char *name, Make make, Release release) {
    return sweepAllocations(name, [&](Trial &t) {
        Record *record = nullptr;
        t.run([&] { record = make(); });
        EXPECT_EQ(record == nullptr, t.failed()) << name << " allocation " << t.number();
        if (record != nullptr) release(record);
    });
}

TEST(RecordSweep, EveryMakerGivesNullWhenMemoryRunsOut) {
    EXPECT_EQ(sweepMaker<RefinementCrystal>("makeEmptyRefinementCrystal", makeEmptyRefinementCrystal,
                                            freeRefinementCrystal),
              1);
    EXPECT_EQ(sweepMaker<Reflexion>("makeReflexion", makeReflexion, powderkit::freeReflexion), 1);
    EXPECT_EQ(sweepMaker<Site>("makeEmptySite", makeEmptySite, powderkit::freeSite), 1);
    EXPECT_EQ(sweepMaker<RefinementAtom>(
                  "makeRefinementAtom", [] { return makeRefinementAtom(0.1, 0.2, 0.3); },
                  powderkit::freeRefinementAtom),
              1);
    EXPECT_EQ(sweepMaker<RefinementAtomicScatteringFactor>("makeRefinementAtomicScatteringFactor",
                                                           makeRefinementAtomicScatteringFactor,
                                                           freeRefinementAtomicScatteringFactor),
              1);
    EXPECT_EQ(sweepMaker<RefinementSymmetryOperator>("makeRefinementSymmetryOperator",
                                                     makeRefinementSymmetryOperator,
                                                     powderkit::freeRefinementSymmetryOperator),
              1);
    EXPECT_EQ(sweepMaker<RefinementThermalEllipsoidUij>(
                  "makeRefinementThermalEllipsoidUij", makeRefinementThermalEllipsoidUij,
                  powderkit::freeRefinementThermalEllipsoidUij),
              1);
    EXPECT_EQ(sweepMaker<RefinementProfile>(
                  "makeRefinementProfile",
                  [] { return makeRefinementProfile(1, 2, 2, 1.5406, 10.0, 120.0); },
                  freeRefinementProfile),
              1);
    EXPECT_EQ(sweepMaker<LeastSquaresMatrices>("makeRefinementMatrices", makeRefinementMatrices,
                                               [](LeastSquaresMatrices *ls) {
                                                   freeLeastSquaresMatrices(ls);
                                                   std::free(ls);
                                               }),
              1);
}

TEST(RecordSweep, OccupantHandsItsScatteringRecordBackWhenItFails) {
    const long allocations = sweepAllocations("makeRefinementSiteOccupant", [](Trial &t) {
        RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
        ASSERT_NE(factor, nullptr);
        RefinementSiteOccupant *occupant = nullptr;
        t.run([&] { occupant = makeRefinementSiteOccupant("Fe", 0.5, factor); });
        if (t.failed()) {
            EXPECT_EQ(occupant, nullptr);
            // Still the caller's: usable, then released here exactly once.
            EXPECT_EQ(factor->methods->neutronScatteringLength(factor), 0.0);
            freeRefinementAtomicScatteringFactor(factor);
            return;
        }
        ASSERT_NE(occupant, nullptr);
        EXPECT_STREQ(occupant->symbol, "Fe");
        EXPECT_EQ(occupant->scatteringFactor, factor);
        occupant->methods->freeRefinementSiteOccupant(occupant);
    });
    EXPECT_EQ(allocations, 2);  // the record and the symbol copy
}

}  // namespace
