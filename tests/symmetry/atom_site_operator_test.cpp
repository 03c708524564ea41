// Finding the operator that carries a site onto one of its positions.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/output_capture.hpp"
#include "powderkit.h"

namespace {

struct Operator {
    std::array<int32_t, 9> rotation;
    double tx, ty, tz;
};

// A crystal with the given operators and a site labelled O2 at (x, y, z).
struct Case {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    Site *site = makeEmptySite();
    Case(const std::vector<Operator> &ops, double x, double y, double z) {
        crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
        for (const Operator &o : ops) {
            RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
            for (int i = 0; i < 9; ++i) op->rotation[i / 3][i % 3] = o.rotation[static_cast<std::size_t>(i)];
            op->translation[0] = o.tx;
            op->translation[1] = o.ty;
            op->translation[2] = o.tz;
            addObjectToDynamicArray(crystal->symmetryOperators, op);
        }
        site->label = "O2";
        site->x = x;
        site->y = y;
        site->z = z;
    }
    ~Case() {
        freeRefinementCrystal(crystal);
        site->methods->freeSite(site);
    }
    // The list position of the operator that relates the atom to the site, or −1.
    int32_t find(double x, double y, double z) {
        RefinementAtom atom{x, y, z, nullptr, nullptr};
        RefinementSymmetryOperator *op = crystal->methods->symmetryOperatorRelatingAtomToSite(crystal, &atom, site);
        const DynamicArray *ops = crystal->symmetryOperators;
        for (int32_t i = 0; ops != nullptr && i < ops->count; ++i) {
            if (ops->items[i] == op) return i;
        }
        return op == nullptr ? -1 : -2;
    }
};

const Operator kOne{{1, 0, 0, 0, 1, 0, 0, 0, 1}, 0, 0, 0}, kBar{{-1, 0, 0, 0, -1, 0, 0, 0, -1}, 0, 0, 0};

TEST(AtomSiteOperator, TheFirstOperatorCarryingTheSiteOntoTheAtom) {
    EXPECT_EQ(Case({kOne}, 0, 0, 0).find(0.9, 0.9, 0.9), 0);  // a single operator is returned untested
    const Operator screw{{-1, 0, 0, 0, -1, 0, 0, 0, 1}, 0, 0, 0.5}, mirror{{1, 0, 0, 0, 1, 0, 0, 0, -1}, 0, 0, 0.5};
    // 1.0 folds to 0 and matches the identity image, although the mirror maps the site there too.
    EXPECT_EQ(Case({kOne, screw, mirror}, 0.0, 0.5, 0.5).find(1.0, 0.5, 0.5), 0);
    EXPECT_EQ(Case({kOne, screw, mirror}, 0.1, 0.2, 0.3).find(-0.1, 0.8, 0.8), 1);  // (−x, −y, z + ½) folded
    EXPECT_EQ(Case({kOne, screw, mirror}, 0.1, 0.2, 0.3).find(0.1, 0.2, 0.2), 2);   // (x, y, −z + ½)
    Case shifted({kOne, kBar}, 0.2, 0.0, 0.0);
    shifted.crystal->originShift[0] = 0.125;
    EXPECT_EQ(shifted.find(0.55, 0.0, 0.0), 1);  // inversion through x = −0.125: 0.2 → −0.45 → 0.55
}

TEST(AtomSiteOperator, NoMatchPrintsTheAtomAsStored) {
    Case c({kOne, kBar}, 0.2, 0.3, 0.4);
    int32_t found = 0;
    const std::string err = pk_test::captureStderr([&] { found = c.find(1.2002, 0.3, 0.4); });  // 0.0002 off
    EXPECT_EQ(found, -1);
    EXPECT_EQ(err, "unable to find symmetry operator for atom O2 at {1.2002, 0.3000, 0.4000}\n");
    EXPECT_EQ(Case({}, 0.2, 0.3, 0.4).find(0.2, 0.3, 0.4), -1);  // an empty list
    Case none({}, 0.2, 0.3, 0.4);
    freeDynamicArray(none.crystal->symmetryOperators);
    none.crystal->symmetryOperators = nullptr;
    EXPECT_EQ(none.find(0.2, 0.3, 0.4), -1);
}

}  // namespace
