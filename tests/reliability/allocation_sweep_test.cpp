// Every allocating entry point with its nth allocation failing (n = 1, 2, … until none is reached): each
// part of a case's outcome is kFailed (the documented failure) or the clean run's; nothing else is printed.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>

#include "elements/elements.hpp"
#include "linalg/linalg.hpp"
#include "model/model.hpp"
#include "powderkit_phase.h"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"
#include "support/reference_phases.hpp"
#include "support/test_data.hpp"

namespace {

const std::string kFailed = "failed";
long gFailing = 0;      // the allocation each armed call of this run fails (0: none)
bool gReached = false;  // some armed call of this run reached it
std::vector<std::string> gParts;  // this run's outcome, part by part

template <typename Call>
auto armed(Call call) {
    const std::shared_ptr<void> disarm(nullptr, [](void *) {  // on return
        gReached = gReached || (gFailing > 0 && pk_test::allocationsCounted() >= gFailing);
        pk_test::disarmAllocationFailure();
    });
    if (gFailing > 0) pk_test::failAllocationNumber(gFailing);
    return call();
}

std::string numbers(const double *values, int32_t count) {
    std::ostringstream text;
    text.precision(17);
    for (int32_t i = 0; i < count; ++i) text << values[i] << ' ';
    return text.str();
}
void part(bool failed, const std::string &value) { gParts.push_back(failed ? kFailed : value); }
std::string matrix(const Matrix *m) {
    return m == nullptr ? kFailed : std::to_string(m->rows) + "x" + numbers(m->elements, m->rows * m->columns);
}
// A record from a maker must have its method table; released at once.
template <typename Record, typename Release>
void made(Record *record, Release release) {
    part(record == nullptr, record != nullptr && record->methods != nullptr ? "made" : "no methods");
    if (record != nullptr) release(record);
}
void freeLeastSquares(LeastSquaresMatrices *ls) {
    freeLeastSquaresMatrices(ls);
    std::free(ls);
}

int gItems[5] = {0, 1, 2, 3, 4};  // each its own index
std::string contents(const DynamicArray *array) {
    std::string text = std::to_string(array->count) + " " + std::to_string(array->capacity) + ":";
    for (int32_t i = 0; i < array->count; ++i) text += " " + std::to_string(static_cast<int *>(array->items[i])[0]);
    return text;
}

// A derivative table has the entry count of one built without failure, fewer only when a key copy failed.
void table(const std::function<HashTable *()> &build) {
    HashTable *reference = build(), *built = armed(build);
    part(built == nullptr || built->count < reference->count, built ? std::to_string(built->count) : "");
    freeHashTable(built);
    freeHashTable(reference);
}

// Whether load writes the element table into a fresh folder.
bool loadWrites(bool arm) {
    char folder[] = "/tmp/pk_reliability_XXXXXX";
    if (mkdtemp(folder) == nullptr) return false;
    arm ? armed([&] { load(folder); }) : load(folder);
    const bool written = std::filesystem::exists(std::string(folder) + "/ASF.dat");
    std::filesystem::remove_all(folder);
    return written;
}

const std::pair<const char *, std::function<void()>> kCases[] = {
    {"the makers of the records, load, the dynamic array, the hash tables", [] {
         RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
         RefinementSiteOccupant *occupant = armed([&] { return makeRefinementSiteOccupant("Fe", 0.5, factor); });
         if (occupant == nullptr) freeRefinementAtomicScatteringFactor(factor);  // still the caller's
         made(occupant, [](auto *o) { o->methods->freeRefinementSiteOccupant(o); });
         made(armed(makeEmptyRefinementCrystal), freeRefinementCrystal);
         made(armed(makeReflexion), [](auto *r) { r->methods->freeReflexion(r); });
         made(armed(makeEmptySite), [](auto *s) { s->methods->freeSite(s); });
         made(armed([] { return makeRefinementAtom(0.1, 0.2, 0.3); }), powderkit::freeRefinementAtom);
         made(armed(makeRefinementAtomicScatteringFactor), freeRefinementAtomicScatteringFactor);
         made(armed(makeRefinementSymmetryOperator), powderkit::freeRefinementSymmetryOperator);
         made(armed(makeRefinementThermalEllipsoidUij), powderkit::freeRefinementThermalEllipsoidUij);
         made(armed([] { return makeRefinementProfile(1, 2, 2, 1.5406, 10, 120); }), freeRefinementProfile);
         made(armed(makeRefinementMatrices), freeLeastSquares);
         // Without the load-time copy of the element table text, load writes nothing.
         part(!loadWrites(true), "written");
         powderkit::releaseProcessTexts();
         armed(powderkit::initializeProcessTexts);
         part(!loadWrites(false), "written");
         powderkit::initializeProcessTexts();
         // A failed growth (full, emptied) or shrink leaves the array as it was, a failed insertion the table empty.
         DynamicArray *made = armed([] { return makeDynamicArrayWithCapacity(5); });
         part(made == nullptr, "made");
         freeDynamicArray(made);
         for (const auto &[capacity, count] : {std::pair{4, 4}, {4, 0}, {16, 3}}) {
             DynamicArray *array = makeDynamicArrayWithCapacity(capacity);
             for (int32_t i = 0; i < count; ++i) addObjectToDynamicArray(array, &gItems[i]);
             if (count == 0) shrinkDynamicArray(array);
             const std::string before = contents(array);
             armed([&] { capacity == 4 ? addObjectToDynamicArray(array, &gItems[count]) : shrinkDynamicArray(array); });
             part(contents(array) == before, contents(array));
             freeDynamicArray(array);
         }
         HashTable *t = armed(makeHashTable);
         part(t == nullptr, t == nullptr ? "" : std::to_string(t->capacity));
         freeHashTable(t);
         t = makeHashTable();
         armed([&] { setPointerForKey(&t, &gItems[1], "new"); });  // a failed resize is the frame tests' own
         const bool held = pointerForKey(t, "new") == &gItems[1];
         part(!held && t->count == 0, std::to_string(t->count) + (held ? " held" : ""));
         freeHashTable(t);
         table(BackgroundDerivativesHashTable);
         table(ReflexionDerivativesHashTable);
         for (int32_t type = 0; type < 5; ++type) table([type] { return ProfileDerivativesHashTable(type); });
     }},
    // A failed inverse leaves the identity; the least-squares record prepared, then larger, then smaller.
    {"copyMatrix, inverseMatrixDst, prepareForRefinementCycle, the peaks, their fit, the background", [] {
         Matrix *src = powderkit::makeMatrix(3, 3), *dst = powderkit::makeMatrix(3, 3);
         for (int i = 0; i < 9; ++i) src->elements[i] = i % 4 == 0 ? 3.0 : 1.0;
         Matrix *copy = armed([&] { return copyMatrix(src); });
         const bool inverted = armed([&] { return inverseMatrixDst(dst, src); });
         part(copy == nullptr, matrix(copy));
         part(!inverted && matrix(dst) == "3x1 0 0 0 1 0 0 0 1 ", matrix(dst));
         const auto shape = [](const Matrix *m) { return std::to_string(m->rows) + "x" + std::to_string(m->columns); };
         for (const auto &[rows, columns] : {std::pair{7, 3}, {11, 4}, {5, 2}}) {
             LeastSquaresMatrices *ls = makeRefinementMatrices();
             if (rows != 7) prepareForRefinementCycle(ls, 7, 3);
             const bool prepared = armed([&] { return prepareForRefinementCycle(ls, rows, columns); });
             part(!prepared, prepared ? shape(ls->jacobian) + shape(ls->observationColumn4) : "");
             freeLeastSquares(ls);
         }
         for (Matrix *m : {copy, dst, src}) freeMatrix(m);
         // A line and three Gaussian peaks (σ 0.15°) at 20°, 35° and 50°, 600 points from 10° by 0.1°.
         std::vector<PatternPoint> points(600);
         for (std::size_t i = 0; i < 600; ++i) {
             const double x = 10.0 + 0.1 * static_cast<double>(i);
             points[i] = {x, 50.0 + 0.3 * x};
             for (double c : {20.0, 35.0, 50.0}) points[i].y += 500.0 * std::exp(-0.5 * std::pow((x - c) / 0.15, 2));
         }
         int32_t count = -3, located = 0;
         PeakRange *ranges = armed([&] { return locatePeakRanges(points.data(), 600, 5, &count); });
         PeakRange *peaks = locatePeakRanges(points.data(), 600, 5, &located);
         Matrix *fit = armed([&] { return pseudoVoigtFit(&peaks[1]); });
         PatternPoint *background = armed([&] { return fittedBackground(points.data(), 600); });
         part(ranges == nullptr && count == -3, std::to_string(count));
         part(fit == nullptr, matrix(fit));
         part(background == nullptr, background ? numbers(&background[0].x, 1200) : "");
         freeMatrix(fit);
         for (void *block : std::initializer_list<void *>{ranges, peaks, background}) std::free(block);
     }},
    // Rutile, March orientation along [0 0 1]: a failed plane array gives 0 correction and intensity.
    {"the plane arrays, the intensities, the profile check, the unit cell, the groups", [] {
         RefinementCrystal *crystal = pk_test::makeReferenceCrystal("rutile", 1.2);
         crystal->usePreferredOrientation = 1;
         crystal->preferredOrientationAxis[2] = 1.0;
         crystal->preferredOrientationMode = 1;
         crystal->preferredOrientation = 0.3;
         normalizeMarchEquation(crystal);
         const int32_t hkl[3] = {1, 1, 0};  // {1 1 0} of 4/mmm: four planes
         int32_t count = -7;
         std::free(armed([&] { return planesRelatedBySymmetry(crystal, hkl, 1, &count); }));
         part(count == -7, std::to_string(count));  // left as it was on failure
         RefinementProfile *p = makeRefinementProfile(1, PK_RADIATION_XRAY, PK_PROFILE_PSEUDO_VOIGT, 1.5406, 10, 120);
         p->useSecondaryWavelength = 1;
         p->secondaryWavelength = 1.5444;
         p->secondaryIntensityRatio = 2.0;
         auto **all = reinterpret_cast<Reflexion **>(crystal->reflexions->items);
         Reflexion *r = all[0], *inclined = all[1];  // the two of largest d
         const double correction = armed([&] { return preferredOrientationCorrectionForReflexion(crystal, r); });
         armed([&] { calculateIntensityForReflexion(crystal, r, p); });
         calculateIntensityForReflexion(crystal, inclined, p);
         Reflexion *companion = armed([&] { return secondaryWavelengthReflexion(crystal, inclined, p); });
         const double values[3] = {correction, companion == nullptr ? 0.0 : companion->intensity, r->intensity};
         for (const double &value : values) part(value == 0.0, numbers(&value, 1));
         if (companion != nullptr) companion->methods->freeReflexion(companion);
         for (int32_t i = 0; i < crystal->reflexions->count; ++i) all[i]->intensity = i % 3 == 1 ? 0.0 : i;  // removed
         armed([&] { removeZeroIntensityReflexions(crystal); });  // the rest in order: intensities 0 2 3 5 6 …
         all = reinterpret_cast<Reflexion **>(crystal->reflexions->items);
         for (int32_t i = 0; i < crystal->reflexions->count; ++i) gParts.push_back(numbers(&all[i]->intensity, 1));
         RefinementProfile *tof = makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON,
                                                        PK_PROFILE_TOF_EXP_GAUSSIAN, 0, 2, 10);
         tof->sigma0 = 4.0;
         tof->alpha0 = 0.1;
         tof->beta0 = 0.03;
         part(!armed([&] { return ProfileParametersAreValid(tof); }), "valid");
         for (RefinementProfile *each : {p, tof}) freeRefinementProfile(each);
         // A failed generation may leave sites of fewer atoms; then the number of element groups.
         std::string whole, atoms;
         for (std::string *counts : {&whole, &atoms}) {
             if (counts == &atoms) armed([&] { generateUnitCell(crystal); });
             for (int32_t i = 0; i < crystal->sites->count; ++i) {
                 const DynamicArray *list = static_cast<Site *>(crystal->sites->items[i])->atoms;
                 *counts += list == nullptr ? "- " : std::to_string(list->count) + " ";
             }
         }
         HashTable *table = armed([&] { return groupSitesByElement(crystal); });
         part(atoms != whole, whole);
         part(table == nullptr, table ? std::to_string(table->count) : "");
         for (int32_t i = 0; table != nullptr && i < table->capacity; ++i) {
             freeDynamicArray(static_cast<DynamicArray *>(table->entries[i].value));
         }
         freeHashTable(table);
         freeRefinementCrystal(crystal);
     }},
    // Out of memory with its status and a message, or the same pattern.
    {"pk_phase_from_cif_file, pk_reflexion_list_make, pk_pattern_model_make", [] {
         pk_instrument instrument;
         pk_instrument_default(&instrument);
         const double background[3] = {10, 2, 1};
         pk_phase *phase = nullptr;
         pk_reflexion_list *list = nullptr;
         pk_pattern_model *model = nullptr;
         pk_error error{};
         const int32_t status = armed([&] {
             int32_t s = pk_phase_from_cif_file(PK_EXAMPLE_DATA_DIR "/rutile.cif", nullptr, &phase, &error);
             if (s == PK_OK) s = pk_reflexion_list_make(phase, &instrument, PK_LIMIT_D_MIN, 1.5, &list, &error);
             const pk_phase_setting setting{phase, 1.0, nullptr, 0, 1.0, {0, 0, 1}};
             if (s == PK_OK) s = pk_pattern_model_make(&instrument, &setting, 1, background, 3, 20, 60, &model, &error);
             return s;
         });
         const bool failed = status == PK_ERROR_OUT_OF_MEMORY && error.code == status && error.message[0] != '\0';
         double x[3] = {20, 27.4, 36}, y[3] = {0, 0, 0};
         if (status == PK_OK) pk_pattern_model_compute(model, PK_PART_TOTAL, x, 3, y, nullptr);
         pk_pattern_model_free(model);
         pk_reflexion_list_free(list);
         pk_phase_free(phase);
         part(failed, std::to_string(status) + " " + numbers(y, 3));
     }},
    {"pk_measured_pattern_read_file_bank on XRDML, GSAS raw data (a second bank too) and Bruker RAW", [] {
         for (const auto &[file, bank] : {std::pair{"formats/rates.xrdml", 0}, std::pair{"formats/std.raw", 0},
                                          std::pair{"formats/gem05984_excerpt.gss", 3},
                                          std::pair{"formats/LaB6_Jan2018.raw", 0}}) {
             const std::string path = pk_test::testDataPath(file);
             pk_measured_pattern *p = nullptr;
             pk_error error{};
             const int32_t status =
                 armed([&] { return pk_measured_pattern_read_file_bank(path.c_str(), bank, &p, &error); });
             part(status == PK_ERROR_OUT_OF_MEMORY && p == nullptr,
                  std::to_string(status) + " " + numbers(pk_measured_pattern_sigma(p), pk_measured_pattern_count(p)));
             pk_measured_pattern_free(p);
         }
     }},
    {"pk_instrument_file_read_bank on the GSAS family's files", [] {
         for (const auto &[file, bank] : {std::pair{"formats/BT1_Cu311.inst", 0}, std::pair{"formats/GEM.instprm", 4}}) {
             const std::string path = pk_test::testDataPath(file);
             pk_instrument instrument{};
             pk_profile profile{};
             char warnings[256] = "";
             pk_error error{};
             const int32_t status = armed([&] {
                 return pk_instrument_file_read_bank(path.c_str(), bank, &instrument, &profile, warnings,
                                                     sizeof warnings, nullptr, &error);
             });
             part(status == PK_ERROR_OUT_OF_MEMORY, std::to_string(status) + " " + numbers(&profile.U, 5) + warnings);
         }
     }},
    {"pk_find_peaks", [] {
         std::string text;
         for (int i = 0; i < 120; ++i) {
             const double x = 20.0 + 0.02 * i;
             text += std::to_string(x) + " " + std::to_string(50.0 + 900.0 * std::exp(-std::pow((x - 21.2) / 0.05, 2))) +
                     "\n";
         }
         pk_measured_pattern *measured = nullptr;
         pk_measured_pattern_read_text(text.c_str(), "one peak", &measured, nullptr);
         pk_peak_search search;
         pk_peak_search_default(&search);
         pk_peak peaks[4];
         pk_peak_failure failures[4];
         int32_t found = 0;
         int32_t failed = 0;
         pk_error error{};
         const int32_t status = armed([&] {
             return pk_find_peaks(measured, &search, peaks, 4, &found, failures, 4, &failed, &error);
         });
         part(status == PK_ERROR_OUT_OF_MEMORY, std::to_string(status) + " " + std::to_string(found) + " " +
                                                    (found > 0 ? numbers(&peaks[0].position, 1) : ""));
         pk_measured_pattern_free(measured);
     }},
    {"pk_refinement_make", [] {
         pk_instrument instrument;
         pk_instrument_default(&instrument);
         pk_phase *phase = nullptr;
         pk_phase_from_cif_file(PK_EXAMPLE_DATA_DIR "/silicon.cif", nullptr, &phase, nullptr);
         pk_measured_pattern *measured = nullptr;
         pk_measured_pattern_read_text("27 10\n28 50\n28.4 900\n29 40\n30 10\n", "five", &measured, nullptr);
         const pk_phase_setting setting{phase, 1.0, nullptr, 0, 1.0, {0, 0, 1}};
         pk_refinement *refinement = nullptr;
         pk_error error{};
         const int32_t status = armed([&] {
             return pk_refinement_make(measured, &instrument, &setting, 1, nullptr, nullptr, &refinement, &error);
         });
         part(status == PK_ERROR_OUT_OF_MEMORY && refinement == nullptr, std::to_string(status));
         pk_refinement_free(refinement);
         pk_measured_pattern_free(measured);
         pk_phase_free(phase);
     }},
    {"pk_instrument_file_write_text, pk_instrument_file_read_text", [] {
         pk_instrument instrument, read{};
         pk_profile profile, shape{};
         pk_instrument_default(&instrument);
         pk_profile_default(&profile, PK_PROFILE_PSEUDO_VOIGT, nullptr);
         char text[4096], again[4096];
         int32_t size = 0;
         pk_error error{};
         pk_instrument_file_write_text(&instrument, &profile, text, sizeof text, &size, &error);
         int32_t status =
             armed([&] { return pk_instrument_file_write_text(&instrument, &profile, again, 4096, &size, &error); });
         part(status == PK_ERROR_OUT_OF_MEMORY, std::to_string(status) + " " + std::to_string(size));
         status = armed([&] { return pk_instrument_file_read_text(text, "text", &read, &shape, &error); });
         part(status == PK_ERROR_OUT_OF_MEMORY, std::to_string(status) + " " + numbers(&read.wavelength, 1));
     }},
};

TEST(AllocationFailure, EveryEntryPointFailsCleanlyOrGivesItsResult) {
    for (const auto &[name, run] : kCases) {
        SCOPED_TRACE(name);
        std::vector<std::string> clean;
        for (gFailing = 0;; ++gFailing) {  // 0: the clean run
            gReached = false;
            std::string said;
            said += pk_test::captureStdout([&] { said += pk_test::captureStderr(run); });
            const std::vector<std::string> got = std::exchange(gParts, {});
            if (gFailing == 0) clean = got;
            ASSERT_EQ(got.size(), clean.size());
            for (std::size_t i = 0; i < clean.size(); ++i) {
                EXPECT_EQ(gReached && got[i] == kFailed ? clean[i] : got[i], clean[i]) << gFailing << ", part " << i;
            }
            if (gFailing > 0 && !gReached) break;
            EXPECT_TRUE(said == "" || said == "Error: failed to resize hash table\n") << said;
        }
    }
}

}  // namespace
