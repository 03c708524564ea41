// Allocation failures in unit-cell generation, the grouping of sites by
// element and the element-table file: each leaves the crystal whole and
// usable, and a repeated call without failure gives the full result. The
// isotropic equivalent of a displacement tensor makes no allocation at all.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "elements/elements.hpp"
#include "model/model.hpp"
#include "sweep.hpp"

namespace {

using pk_reliability::sweepAllocations;
using pk_reliability::Trial;

RefinementSymmetryOperator *makeOperator(const int32_t (&r)[9], double t0, double t1, double t2) {
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    for (int i = 0; i < 9; ++i) op->rotation[i / 3][i % 3] = r[i];
    op->translation[0] = t0;
    op->translation[1] = t1;
    op->translation[2] = t2;
    return op;
}

Site *makeSiteWith(double x, double y, double z, const char *symbol) {
    Site *site = makeEmptySite();
    site->x = x;
    site->y = y;
    site->z = z;
    site->isIncluded = 1;
    site->occupants = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(site->occupants, makeRefinementSiteOccupant(symbol, 1.0, nullptr));
    return site;
}

// P 1 21/c 1 (4 operators). A general position has 4 images; the Fe site at
// the origin (an inversion centre) has 2. Sites: Fe, O, O, Fe.
RefinementCrystal *monoclinicCrystal() {
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(4);
    const int32_t one[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const int32_t two[9] = {-1, 0, 0, 0, 1, 0, 0, 0, -1};
    const int32_t bar[9] = {-1, 0, 0, 0, -1, 0, 0, 0, -1};
    const int32_t m[9] = {1, 0, 0, 0, -1, 0, 0, 0, 1};
    addObjectToDynamicArray(crystal->symmetryOperators, makeOperator(one, 0, 0, 0));
    addObjectToDynamicArray(crystal->symmetryOperators, makeOperator(two, 0, 0.5, 0.5));
    addObjectToDynamicArray(crystal->symmetryOperators, makeOperator(bar, 0, 0, 0));
    addObjectToDynamicArray(crystal->symmetryOperators, makeOperator(m, 0, 0.5, 0.5));
    crystal->sites = makeDynamicArrayWithCapacity(4);
    addObjectToDynamicArray(crystal->sites, makeSiteWith(0.0, 0.0, 0.0, "Fe"));
    addObjectToDynamicArray(crystal->sites, makeSiteWith(0.21, 0.13, 0.37, "O"));
    addObjectToDynamicArray(crystal->sites, makeSiteWith(0.61, 0.29, 0.08, "O"));
    addObjectToDynamicArray(crystal->sites, makeSiteWith(0.31, 0.77, 0.55, "Fe"));
    return crystal;
}

const int32_t kImages[4] = {2, 4, 4, 4};

Site *siteAt(RefinementCrystal *crystal, int32_t i) {
    return static_cast<Site *>(crystal->sites->items[i]);
}

TEST(SymmetrySweep, UnitCellGenerationLeavesValidListsAndCanBeRepeated) {
    sweepAllocations("generateUnitCell", [](Trial &t) {
        RefinementCrystal *crystal = monoclinicCrystal();
        t.run([&] { generateUnitCell(crystal); });
        for (int32_t i = 0; i < 4; ++i) {
            const DynamicArray *atoms = siteAt(crystal, i)->atoms;
            if (!t.failed()) {
                ASSERT_NE(atoms, nullptr);
                EXPECT_EQ(atoms->count, kImages[i]) << i;
            }
            if (atoms == nullptr) continue;  // the list itself could not be made
            EXPECT_LE(atoms->count, kImages[i]);
            for (int32_t j = 0; j < atoms->count; ++j) {
                const auto *atom = static_cast<const RefinementAtom *>(atoms->items[j]);
                ASSERT_NE(atom, nullptr);
                EXPECT_NE(atom->symmetryOperator, nullptr);
            }
        }
        generateUnitCell(crystal);  // usable afterwards: the full lists
        for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(siteAt(crystal, i)->atoms->count, kImages[i]);
        freeRefinementCrystal(crystal);
    });
}

void releaseGroups(HashTable *table) {
    if (table == nullptr) return;
    for (int32_t i = 0; i < table->capacity; ++i) {
        if (table->entries[i].key != nullptr) {
            freeDynamicArray(static_cast<DynamicArray *>(table->entries[i].value));
        }
    }
    freeHashTable(table);
}

TEST(SymmetrySweep, GroupingGivesNullAndKeepsTheSites) {
    sweepAllocations("groupSitesByElement", [](Trial &t) {
        RefinementCrystal *crystal = monoclinicCrystal();
        HashTable *groups = nullptr;
        t.run([&] { groups = groupSitesByElement(crystal); });
        EXPECT_EQ(groups == nullptr, t.failed());
        ASSERT_EQ(crystal->sites->count, 4);
        for (int32_t i = 0; i < 4; ++i) ASSERT_NE(siteAt(crystal, i)->occupants, nullptr);
        if (groups != nullptr) {
            const auto *iron = static_cast<const DynamicArray *>(pointerForKey(groups, "Fe"));
            ASSERT_NE(iron, nullptr);
            ASSERT_EQ(iron->count, 2);
            EXPECT_EQ(iron->items[1], siteAt(crystal, 3));
        }
        releaseGroups(groups);
        freeRefinementCrystal(crystal);
    });
}

TEST(SymmetrySweep, IsotropicEquivalentDoesNotAllocate) {
    // Mean of the eigenvalues = trace / 3, by hand: (0.01 + 0.02 + 0.03) / 3.
    const long allocations = sweepAllocations("uIsoEquivalent", [](Trial &t) {
        RefinementThermalEllipsoidUij *record = makeRefinementThermalEllipsoidUij();
        const double u[3][3] = {{0.01, 0.002, 0.0}, {0.002, 0.02, 0.001}, {0.0, 0.001, 0.03}};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) record->u[i][j] = u[i][j];
        }
        record->isAnisotropic = 1;
        double value = 0.0;
        t.run([&] { value = uIsoEquivalent(record); });
        EXPECT_NEAR(value, 0.02, 1e-15);
        record->methods->freeRefinementThermalEllipsoidUij(record);
    });
    EXPECT_EQ(allocations, 0);
}

struct ScratchDirectory {
    std::string path;
    ScratchDirectory() {
        char pattern[] = "/tmp/pk_reliability_XXXXXX";
        if (mkdtemp(pattern) != nullptr) path = pattern;
    }
    ~ScratchDirectory() {
        unlink(file().c_str());
        rmdir(path.c_str());
    }
    std::string file() const { return path + "/ASF.dat"; }
};

bool exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

TEST(ElementTableSweep, LoadWritesNothingWhenItsPathCannotBeMade) {
    sweepAllocations("load", [](Trial &t) {
        ScratchDirectory directory;
        ASSERT_FALSE(directory.path.empty());
        t.run([&] { load(directory.path.c_str()); });
        EXPECT_EQ(exists(directory.file()), !t.failed());
    });
    // The load-time copy of the text: when it cannot be made, load writes
    // nothing; made again, load works.
    sweepAllocations("element table text (load time)", [](Trial &t) {
        powderkit::releaseProcessTexts();
        t.run([] { powderkit::initializeProcessTexts(); });
        ScratchDirectory directory;
        load(directory.path.c_str());
        EXPECT_EQ(exists(directory.file()), !t.failed());
        powderkit::initializeProcessTexts();
    });
}

}  // namespace
