// The core's records of a phase for hosts that drive the core themselves: the
// crystal built afresh from the phase's description and, down to d_min, one
// core reflexion per set of equivalent planes (h k l, multiplicity, d).
#include <vector>

#include "boundary/boundary.hpp"
#include "reflexions/reflexion_generation.hpp"

using namespace powderkit::phase;

extern "C" {

int32_t pk_phase_core_crystal(const pk_phase *phase, double d_min, RefinementCrystal **crystal,
                              pk_error *error) {
    if (crystal != nullptr) *crystal = nullptr;
    return guarded(error, [&] {
        requireArgument(phase, "phase");
        requireArgument(crystal, "crystal");
        CrystalPointer made = buildCrystal(phase->description);
        if (d_min > 0.0) {
            const std::vector<PlaneSet> sets = planeSetsOf(*phase, d_min);
            RefinementCrystal *c = made.get();
            c->reflexions = checked(makeDynamicArrayWithCapacity(sets.empty() ? 1 : static_cast<int32_t>(sets.size())));
            for (const PlaneSet &set : sets) {
                Reflexion *reflexion = checked(makeReflexion());
                const ReflexionMethods *methods = reflexion->methods;
                *reflexion = reflexionOf(set);
                reflexion->methods = methods;
                const int32_t before = c->reflexions->count;
                addObjectToDynamicArray(c->reflexions, reflexion);
                if (c->reflexions->count == before) {
                    reflexion->methods->freeReflexion(reflexion);
                    throw std::bad_alloc();
                }
            }
        } else if (!(d_min == 0.0)) {
            fail(PK_ERROR_ARGUMENT, "d_min must be 0 (no reflexions) or positive");
        }
        *crystal = made.release();
    });
}

}  // extern "C"
