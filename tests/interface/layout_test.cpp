// The record layouts seen from C++ through the shared library's header: every
// size and field offset against the values worked out by hand.
#include <gtest/gtest.h>

#include <cstddef>

#include "interface/expected_layout.h"
#include "powderkit.h"

namespace {

TEST(Interface, RecordSizesMatchTheDeclaredLayout) {
#define PK_CHECK_SIZE(Record, size) EXPECT_EQ(sizeof(Record), std::size_t{size}) << #Record;
    PK_EXPECTED_SIZES(PK_CHECK_SIZE)
#undef PK_CHECK_SIZE
}

TEST(Interface, FieldOffsetsMatchTheDeclaredLayout) {
#define PK_CHECK_OFFSET(Record, field, offset) \
    EXPECT_EQ(offsetof(Record, field), std::size_t{offset}) << #Record "." #field;
    PK_EXPECTED_OFFSETS(PK_CHECK_OFFSET)
#undef PK_CHECK_OFFSET
}

TEST(Interface, MethodTablesAreReachableFromTheRecords) {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    ASSERT_NE(crystal, nullptr);
    ASSERT_NE(crystal->methods, nullptr);
    EXPECT_EQ(crystal->methods->freeRefinementCrystal, &freeRefinementCrystal);
    crystal->methods->freeRefinementCrystal(crystal);

    RefinementProfile *profile = makeRefinementProfile(1, 2, 2, 1.5406, 10.0, 120.0);
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(reinterpret_cast<void *>(profile->methods->freeRefinementProfile),
              reinterpret_cast<void *>(&freeRefinementAtomicScatteringFactor));
    freeRefinementProfile(profile);
}

}  // namespace
