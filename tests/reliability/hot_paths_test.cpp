// The functions a host calls once per pattern point or per reflexion in every
// cycle make no allocation at all (so they cannot fail for want of memory and
// cost no page faults): the peak shapes and their derivatives, the
// background, the d-spacing and axis conversions, scattering factors,
// intensities without preferred orientation, the site derivatives and the
// reflexion window. Counted on a real crystal (rutile) with the allocation
// wrappers armed at an allocation that never comes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "support/allocation_failure.hpp"
#include "support/reference_phases.hpp"

namespace {

template <typename Function>
std::vector<Function> functionsOf(HashTable *table) {
    std::vector<Function> functions;
    for (int32_t i = 0; table != nullptr && i < table->capacity; ++i) {
        if (table->entries[i].key == nullptr) continue;
        Function function;
        void *value = table->entries[i].value;
        std::memcpy(&function, &value, sizeof function);
        functions.push_back(function);
    }
    freeHashTable(table);
    return functions;
}

template <typename Body>
long allocationsOf(Body body) {
    pk_test::failAllocationNumber(LONG_MAX);
    body();
    const long counted = pk_test::allocationsCounted();
    pk_test::disarmAllocationFailure();
    return counted;
}

TEST(HotPaths, PerPointAndPerReflexionFunctionsDoNotAllocate) {
    // The counter sees a library allocation.
    ASSERT_EQ(allocationsOf([] { freeHashTable(makeHashTable()); }), 2);
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal("rutile", 1.0);
    ASSERT_NE(crystal, nullptr);
    ASSERT_GT(crystal->reflexions->count, 0);
    RefinementProfile *cw = makeRefinementProfile(1, PK_RADIATION_XRAY, 2, 1.5406, 10, 120);
    cw->asymmetry = 0.1;
    RefinementProfile *tof = makeRefinementProfile(4, PK_RADIATION_NEUTRON, 4, 0.0, 1.0, 10.0);
    tof->sigma1 = 20.0;
    tof->gamma0 = 1.0;
    tof->alpha1 = 0.05;
    tof->beta0 = 0.03;
    std::vector<Reflexion *> reflexions;
    for (int32_t i = 0; i < crystal->reflexions->count; ++i) {
        reflexions.push_back(static_cast<Reflexion *>(crystal->reflexions->items[i]));
    }
    std::vector<ProfileDerivativeFunction> derivatives[5];
    for (int32_t type = 0; type < 5; ++type) {
        derivatives[type] = functionsOf<ProfileDerivativeFunction>(ProfileDerivativesHashTable(type));
        ASSERT_FALSE(derivatives[type].empty());
    }
    const auto cellDerivatives =
        functionsOf<ReflexionDerivativeFunction>(ReflexionDerivativesHashTable());
    const double positions[5] = {20.0, 30.0, 40.0, 50.0, 60.0};

    for (RefinementProfile *profile : {cw, tof}) {
        const bool timeOfFlight = profile == tof;
        SCOPED_TRACE(timeOfFlight ? "time of flight" : "constant wavelength");
        EXPECT_EQ(allocationsOf([&] {
                      for (Reflexion *r : reflexions) {
                          calculateIntensityForReflexion(crystal, r, profile);
                          r->peakPosition = xForReflexion(profile, r);
                          (void)dSpacingForX(profile, r->peakPosition);
                          (void)dSpacingForHKL(crystal, r->h, r->k, r->l);
                          for (int32_t type = timeOfFlight ? 3 : 0; type < (timeOfFlight ? 5 : 3);
                               ++type) {
                              (void)ProfileFuncForProfileType(type)(r->peakPosition, r, profile);
                              for (ProfileDerivativeFunction f : derivatives[type]) {
                                  (void)f(r->peakPosition, crystal, r, profile);
                              }
                          }
                          for (ReflexionDerivativeFunction f : cellDerivatives) {
                              (void)f(crystal, r, profile);
                          }
                          ReflexionRange range;
                          (void)FindReflexionRange(r, positions, 5, 3, &range);
                          (void)BackgroundIntensity(profile->backgroundCoefficients,
                                                    r->peakPosition, profile->xMin, profile->xMax);
                      }
                  }),
                  0);
    }
    EXPECT_EQ(allocationsOf([&] {
                  for (int32_t i = 0; i < crystal->sites->count; ++i) {
                      auto *site = static_cast<Site *>(crystal->sites->items[i]);
                      (void)uIsoEquivalent(site->displacement);
                      for (Reflexion *r : reflexions) {
                          (void)site->methods->siteScatteringFactor(site, r->dSpacing,
                                                                    PK_RADIATION_XRAY);
                          (void)DiffReflexionIntensityWrtSiteIsotropicTempFactor(crystal, r, cw,
                                                                                 site, 0.01);
                          (void)DiffReflexionIntensityWrtSiteAxis(crystal, r, cw, site, 0);
                          (void)DiffReflexionIntensityWrtSiteOccupancy(
                              crystal, r, cw, site,
                              static_cast<RefinementSiteOccupant *>(site->occupants->items[0]));
                      }
                  }
              }),
              0);
    freeRefinementProfile(cw);
    freeRefinementProfile(tof);
    freeRefinementCrystal(crystal);
}

}  // namespace
