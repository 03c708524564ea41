// Intensities of the reference structures against the independently computed
// lists in tests/data/reflexions: X-rays and neutrons at λ = 1.5406 Å, each
// site with its isotropic displacement, compared to 1e-6 of the strongest
// reflexion, and the X-ray Lorentz-polarisation factors to 1e-8 relative.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

#include "support/reference_phases.hpp"
#include "support/test_data.hpp"

namespace {

using Indices = std::array<int32_t, 3>;

// Every plane of every built reflexion, pointing at its reflexion.
std::map<Indices, Reflexion *> planeIndex(RefinementCrystal *crystal) {
    std::map<Indices, Reflexion *> index;
    for (int32_t i = 0; i < crystal->reflexions->count; ++i) {
        auto *r = static_cast<Reflexion *>(crystal->reflexions->items[i]);
        int32_t count = 0;
        int32_t *planes = planesRelatedBySymmetry(crystal, &r->h, 1, &count);
        for (int32_t p = 0; p < count; ++p) {
            const Indices hkl{planes[3 * p], planes[3 * p + 1], planes[3 * p + 2]};
            index[hkl] = r;
            index[{-hkl[0], -hkl[1], -hkl[2]}] = r;
        }
        std::free(planes);
    }
    return index;
}

void compareWithReference(const std::string &name) {
    RefinementCrystal *crystal = pk_test::makeReferenceCrystal(name, 0.8);
    ASSERT_NE(crystal, nullptr) << name;
    const auto rows = pk_test::readTable("reflexions/" + name + ".tsv");
    ASSERT_FALSE(rows.empty()) << name;
    ASSERT_EQ(crystal->reflexions->count, static_cast<int32_t>(rows.size())) << name;
    const auto planes = planeIndex(crystal);

    for (int32_t radiation : {PK_RADIATION_XRAY, PK_RADIATION_NEUTRON}) {
        RefinementProfile *profile = makeRefinementProfile(1, radiation, 2, 1.5406, 5, 160);
        for (int32_t i = 0; i < crystal->reflexions->count; ++i) {
            calculateIntensityForReflexion(crystal, static_cast<Reflexion *>(crystal->reflexions->items[i]), profile);
        }
        const size_t column = radiation == PK_RADIATION_XRAY ? 8 : 9;
        double strongest = 0.0;
        for (const auto &row : rows) strongest = std::max(strongest, std::stod(row[column]));
        for (const auto &row : rows) {
            const Indices hkl{std::stoi(row[0]), std::stoi(row[1]), std::stoi(row[2])};
            const auto found = planes.find(hkl);
            ASSERT_NE(found, planes.end()) << name << " " << row[0] << row[1] << row[2];
            const Reflexion *r = found->second;
            EXPECT_EQ(r->multiplicity, std::stoi(row[4])) << name;
            EXPECT_NEAR(r->intensity, std::stod(row[column]), 1e-6 * strongest)
                << name << " (" << row[0] << " " << row[1] << " " << row[2] << ") radiation " << radiation;
            if (radiation == PK_RADIATION_XRAY) {
                const double lp = std::stod(row[7]);
                EXPECT_NEAR(r->lorentzPolarization, lp, 1e-8 * lp) << name;
            }
        }
        freeRefinementProfile(profile);
    }
    freeRefinementCrystal(crystal);
}

TEST(ReferenceIntensity, EveryReferenceStructureForXraysAndNeutrons) {
    const auto names = pk_test::referenceStructureNames();
    ASSERT_EQ(names.size(), 8u);
    for (const std::string &name : names) compareWithReference(name);
}

}  // namespace
