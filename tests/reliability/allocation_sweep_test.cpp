// Every allocating entry point with its nth allocation failing (n = 1, 2, … until none is reached): each
// part of a case's outcome is kFailed (the documented failure) or the clean run's, nothing else printed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "elements/elements.hpp"
#include "linalg/linalg.hpp"
#include "powderkit_phase.h"
#include "support/allocation_failure.hpp"
#include "support/output_capture.hpp"
#include "support/reference_phases.hpp"

namespace {

const std::string kFailed = "failed";
long gFailing = 0;      // the allocation each armed call of this run fails (0: none)
bool gReached = false;  // some armed call of this run reached it

template <typename Call>
auto armed(Call call) {
    struct Disarm {
        ~Disarm() {
            gReached = gReached || (gFailing > 0 && pk_test::allocationsCounted() >= gFailing);
            pk_test::disarmAllocationFailure();
        }
    } disarm;
    if (gFailing > 0) pk_test::failAllocationNumber(gFailing);
    return call();
}

std::string numbers(const double *values, int32_t count) {
    std::string text;
    char field[32];
    for (int32_t i = 0; i < count; ++i) text += (std::snprintf(field, sizeof field, "%.17g ", values[i]), field);
    return text;
}
std::string part(bool failed, const std::string &value) { return (failed ? kFailed : value) + "|"; }
std::string matrix(const Matrix *m) {
    return m == nullptr ? kFailed : std::to_string(m->rows) + "x" + numbers(m->elements, m->rows * m->columns);
}
// A record from a maker must have its method table; released at once.
template <typename Record, typename Release>
std::string made(Record *record, Release release) {
    const std::string outcome = record == nullptr ? kFailed : record->methods != nullptr ? "made" : "no methods";
    if (record != nullptr) release(record);
    return outcome + "|";
}

int gObjects[64] = {0, 1, 2, 3, 4};  // each its own index
// "count capacity: the objects held" of an array.
std::string contents(const DynamicArray *array) {
    std::string text = std::to_string(array->count) + " " + std::to_string(array->capacity) + ":";
    for (int32_t i = 0; i < array->count; ++i) text += " " + std::to_string(static_cast<int *>(array->items[i])[0]);
    return text;
}

// A derivative table holds the entries of one built without failure, fewer (kFailed) only when a key
// copy or its resize failed.
std::string table(const std::function<HashTable *()> &build) {
    HashTable *reference = build(), *built = armed(build);
    std::string outcome = built == nullptr || built->count < reference->count ? kFailed : std::to_string(built->count);
    for (int32_t i = 0; built != nullptr && i < built->capacity; ++i) {
        const char *key = built->entries[i].key;
        if (key != nullptr && pointerForKey(reference, key) != built->entries[i].value) outcome = "wrong entry";
    }
    freeHashTable(built);
    freeHashTable(reference);
    return outcome + "|";
}

Reflexion *reflexionOf(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l) {
    auto **r = reinterpret_cast<Reflexion **>(crystal->reflexions->items);
    while ((*r)->h != h || (*r)->k != k || (*r)->l != l) ++r;  // present in the list
    return *r;
}
// A profile of the type, X-rays (two wavelengths) or neutrons by time of flight.
RefinementProfile *profile(int32_t type) {
    const bool tof = type >= PK_PROFILE_TOF_EXP_GAUSSIAN;
    RefinementProfile *p = makeRefinementProfile(tof ? PK_EXPERIMENT_TIME_OF_FLIGHT : 1,
                                                 tof ? PK_RADIATION_NEUTRON : PK_RADIATION_XRAY, type,
                                                 tof ? 0 : 1.5406, tof ? 2 : 10, tof ? 10 : 120);
    p->useSecondaryWavelength = 1, p->secondaryWavelength = 1.5444, p->secondaryIntensityRatio = 2.0;
    p->sigma0 = 4.0, p->sigma1 = 20.0, p->gamma0 = 1.0, p->gamma1 = 0.5;
    p->alpha0 = 0.1, p->alpha1 = 0.05, p->beta0 = 0.03, p->beta1 = 0.005;
    return p;
}

// Whether load writes the element table into a fresh folder.
bool loadWrites(bool arm) {
    char folder[] = "/tmp/pk_reliability_XXXXXX";
    if (mkdtemp(folder) == nullptr) return false;
    arm ? armed([&] { load(folder); }) : load(folder);
    const bool written = std::filesystem::exists(std::string(folder) + "/ASF.dat");
    return std::filesystem::remove_all(folder), written;
}

struct Case {
    const char *name;
    std::function<std::string()> run;
    const char *message = "";  // what a failing run may print
};

const Case kCases[] = {
    {"the makers of the records", [] {
         RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
         RefinementSiteOccupant *occupant = armed([&] { return makeRefinementSiteOccupant("Fe", 0.5, factor); });
         if (occupant == nullptr) freeRefinementAtomicScatteringFactor(factor);  // still the caller's
         const auto atom = [] { return makeRefinementAtom(0.1, 0.2, 0.3); };
         const auto profile = [] { return makeRefinementProfile(1, 2, 2, 1.5406, 10, 120); };
         return made(occupant, [](auto *o) { o->methods->freeRefinementSiteOccupant(o); }) +
                made(armed(makeEmptyRefinementCrystal), freeRefinementCrystal) +
                made(armed(makeReflexion), [](auto *r) { r->methods->freeReflexion(r); }) +
                made(armed(makeEmptySite), [](auto *s) { s->methods->freeSite(s); }) +
                made(armed(atom), [](auto *a) { a->methods->freeRefinementAtom(a); }) +
                made(armed(makeRefinementAtomicScatteringFactor), freeRefinementAtomicScatteringFactor) +
                made(armed(makeRefinementSymmetryOperator),
                     [](auto *o) { o->methods->freeRefinementSymmetryOperator(o); }) +
                made(armed(makeRefinementThermalEllipsoidUij),
                     [](auto *u) { u->methods->freeRefinementThermalEllipsoidUij(u); }) +
                made(armed(profile), freeRefinementProfile) +
                made(armed(makeRefinementMatrices), [](auto *ls) { freeLeastSquaresMatrices(ls), std::free(ls); });
     }},
    // A failed growth (of a full array, of an emptied one) or shrink leaves the array as it was; a failed
    // insertion leaves the table empty.
    {"the dynamic array and the hash table", [] {
         DynamicArray *made = armed([] { return makeDynamicArrayWithCapacity(5); });
         std::string outcome = part(made == nullptr, "made");
         if (made != nullptr) freeDynamicArray(made);
         for (const std::pair<int32_t, int32_t> &size : {std::pair{4, 4}, {4, 0}, {16, 3}}) {  // capacity, count
             DynamicArray *array = makeDynamicArrayWithCapacity(size.first);
             for (int32_t i = 0; i < size.second; ++i) addObjectToDynamicArray(array, &gObjects[i]);
             if (size.second == 0) shrinkDynamicArray(array);
             const std::string before = contents(array);
             const bool grow = size.first == 4;
             armed([&] { grow ? addObjectToDynamicArray(array, &gObjects[size.second]) : shrinkDynamicArray(array); });
             outcome += part(contents(array) == before, contents(array));
             freeDynamicArray(array);
         }
         HashTable *t = armed(makeHashTable);
         outcome += part(t == nullptr, t == nullptr ? "" : std::to_string(t->capacity));
         freeHashTable(t);
         t = makeHashTable();
         armed([&] { setPointerForKey(&t, &gObjects[1], "new"); });  // a failed resize is the frame tests' own
         const bool held = pointerForKey(t, "new") == &gObjects[1];
         outcome += part(!held && t->count == 0, std::to_string(t->count) + (held ? " held" : ""));
         freeHashTable(t);
         return outcome;
     }, "Error: failed to resize hash table\n"},
    {"the derivative tables", [] {
         std::string outcome = table(BackgroundDerivativesHashTable) + table(ReflexionDerivativesHashTable);
         for (int32_t type = 0; type < 5; ++type) {
             outcome += table([type] { return ProfileDerivativesHashTable(type); });
         }
         return outcome;
     }},
    // A failed inverse answers false with the identity in dst; the least-squares record is prepared,
    // prepared again larger and again smaller (realloc).
    {"copyMatrix, inverseMatrixDst, prepareForRefinementCycle", [] {
         Matrix *src = powderkit::makeMatrix(3, 3), *dst = powderkit::makeMatrix(3, 3);
         for (int i = 0; i < 9; ++i) src->elements[i] = i % 4 == 0 ? 3.0 : 1.0;
         Matrix *copy = armed([&] { return copyMatrix(src); });
         const bool inverted = armed([&] { return inverseMatrixDst(dst, src); });
         std::string outcome = part(copy == nullptr, matrix(copy)) +
                               part(!inverted && matrix(dst) == "3x1 0 0 0 1 0 0 0 1 ", matrix(dst));
         const auto shape = [](const Matrix *m) { return std::to_string(m->rows) + "x" + std::to_string(m->columns); };
         for (const std::pair<int32_t, int32_t> &size : {std::pair{7, 3}, {11, 4}, {5, 2}}) {
             LeastSquaresMatrices *ls = makeRefinementMatrices();
             if (size.first != 7) prepareForRefinementCycle(ls, 7, 3);
             const bool prepared = armed([&] { return prepareForRefinementCycle(ls, size.first, size.second); });
             outcome += part(!prepared, prepared ? shape(ls->jacobian) + shape(ls->observationColumn4) : "");
             freeLeastSquaresMatrices(ls), std::free(ls);
         }
         freeMatrix(copy), freeMatrix(dst), freeMatrix(src);
         return outcome;
     }},
    // A failed generation may leave sites of fewer atoms; the groups by element as "element count" each.
    {"generateUnitCell, groupSitesByElement", [] {
         RefinementCrystal *crystal = pk_test::makeReferenceCrystal("lowsym");
         std::string whole, atoms, groups;
         for (std::string *counts : {&whole, &atoms}) {
             if (counts == &atoms) armed([&] { generateUnitCell(crystal); });
             for (int32_t i = 0; i < crystal->sites->count; ++i) {
                 const DynamicArray *list = static_cast<Site *>(crystal->sites->items[i])->atoms;
                 *counts += list == nullptr ? "- " : std::to_string(list->count) + " ";
             }
         }
         HashTable *table = armed([&] { return groupSitesByElement(crystal); });
         for (int32_t i = 0; table != nullptr && i < table->capacity; ++i) {
             auto *sites = static_cast<DynamicArray *>(table->entries[i].value);
             groups += table->entries[i].key == nullptr ? "" : table->entries[i].key + std::to_string(sites->count);
             if (table->entries[i].key != nullptr) freeDynamicArray(sites);
         }
         freeHashTable(table);
         freeRefinementCrystal(crystal);
         return part(atoms != whole, whole) + part(table == nullptr, groups);
     }},
    // Without the load-time copy of the element table text, load writes nothing.
    {"load, the element table text", [] {
         std::string outcome = part(!loadWrites(true), "written");
         powderkit::releaseProcessTexts();
         armed(powderkit::initializeProcessTexts);
         outcome += part(!loadWrites(false), "written");
         return powderkit::initializeProcessTexts(), outcome;
     }},
    // Rutile, March orientation along [0 0 1]: without its plane array the correction is 0 and so is the
    // intensity of (1 1 0) and of the second-wavelength companion of (1 0 1); every third reflexion then
    // set to zero intensity and removed; the time-of-flight profile checks.
    {"planesRelatedBySymmetry, the intensities, ProfileParametersAreValid", [] {
         RefinementCrystal *crystal = pk_test::makeReferenceCrystal("rutile", 1.2);
         crystal->usePreferredOrientation = 1, crystal->preferredOrientationAxis[2] = 1.0;
         crystal->preferredOrientationMode = 1, crystal->preferredOrientation = 0.3;
         normalizeMarchEquation(crystal);
         const int32_t hkl[3] = {1, 1, 0};  // {1 1 0} of 4/mmm: four planes
         int32_t count = -7;
         std::free(armed([&] { return planesRelatedBySymmetry(crystal, hkl, 1, &count); }));
         std::string outcome = part(count == -7, std::to_string(count));  // left as it was on failure
         RefinementProfile *p = profile(PK_PROFILE_PSEUDO_VOIGT);
         Reflexion *r = reflexionOf(crystal, 1, 1, 0), *inclined = reflexionOf(crystal, 1, 0, 1);
         const double correction = armed([&] { return preferredOrientationCorrectionForReflexion(crystal, r); });
         armed([&] { calculateIntensityForReflexion(crystal, r, p); });
         calculateIntensityForReflexion(crystal, inclined, p);
         Reflexion *companion = armed([&] { return secondaryWavelengthReflexion(crystal, inclined, p); });
         const double second = companion == nullptr ? 0.0 : companion->intensity;
         outcome += part(correction == 0.0, numbers(&correction, 1)) + part(second == 0.0, numbers(&second, 1)) +
                    part(r->intensity == 0.0, numbers(&r->intensity, 1));
         if (companion != nullptr) companion->methods->freeReflexion(companion);
         auto **all = reinterpret_cast<Reflexion **>(crystal->reflexions->items);
         for (int32_t i = 0; i < crystal->reflexions->count; ++i) all[i]->intensity = i % 3 == 1 ? 0.0 : i;
         armed([&] { removeZeroIntensityReflexions(crystal); });  // the rest in order: intensities 0 2 3 5 6 …
         all = reinterpret_cast<Reflexion **>(crystal->reflexions->items);
         for (int32_t i = 0; i < crystal->reflexions->count; ++i) outcome += numbers(&all[i]->intensity, 1);
         for (int32_t type : {PK_PROFILE_TOF_EXP_GAUSSIAN, PK_PROFILE_TOF_EXP_PSEUDO_VOIGT}) {
             RefinementProfile *tof = profile(type);
             outcome += "|" + part(!armed([&] { return ProfileParametersAreValid(tof); }), "valid");
             freeRefinementProfile(tof);
         }
         freeRefinementProfile(p);
         freeRefinementCrystal(crystal);
         return outcome;
     }},
    // A line and three Gaussian peaks (σ 0.15°) at 20°, 35° and 50°, 600 points from 10° by 0.1°.
    {"locatePeakRanges, pseudoVoigtFit, fittedBackground", [] {
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
         const std::string outcome = part(ranges == nullptr && count == -3, std::to_string(count)) +
                                     part(fit == nullptr, matrix(fit)) +
                                     part(background == nullptr, background ? numbers(&background[0].x, 1200) : "");
         freeMatrix(fit), std::free(ranges), std::free(peaks), std::free(background);
         return outcome;
     }},
    // Out of memory with its status and a message, or the same |F|² and pattern.
    {"pk_phase_from_cif_text, pk_reflexion_list_make, pk_pattern_model_make", [] {
         std::ifstream file(PK_EXAMPLE_DATA_DIR "/rutile.cif");
         const std::string cif{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
         pk_instrument instrument;
         pk_instrument_default(&instrument);
         const double background[3] = {10, 2, 1};
         pk_phase *phase = nullptr;
         pk_reflexion_list *list = nullptr;
         pk_pattern_model *model = nullptr;
         pk_error error{};
         const int32_t status = armed([&] {
             int32_t s = pk_phase_from_cif_text(cif.c_str(), nullptr, &phase, &error);
             if (s == PK_OK) s = pk_reflexion_list_make(phase, &instrument, PK_LIMIT_D_MIN, 1.5, &list, &error);
             const pk_phase_setting setting{phase, 1.0, nullptr, 0, 1.0, {0, 0, 1}};
             if (s == PK_OK) s = pk_pattern_model_make(&instrument, &setting, 1, background, 3, 20, 60, &model, &error);
             return s;
         });
         const bool failed = status == PK_ERROR_OUT_OF_MEMORY && error.code == status && error.message[0] != '\0';
         std::vector<double> f2(status == PK_OK ? static_cast<std::size_t>(pk_reflexion_list_count(list)) : 0);
         std::vector<double> x{20, 27.4, 36}, y(3);
         if (status == PK_OK) pk_reflexion_list_values(list, PK_QUANTITY_F2, f2.data(), int32_t(f2.size()), nullptr);
         if (status == PK_OK) pk_pattern_model_compute(model, PK_PART_TOTAL, x.data(), 3, y.data(), nullptr);
         pk_pattern_model_free(model), pk_reflexion_list_free(list), pk_phase_free(phase);
         return part(failed, std::to_string(status) + numbers(f2.data(), int32_t(f2.size())) + numbers(y.data(), 3));
     }},
};

std::vector<std::string> parts(const std::string &outcome) {
    std::vector<std::string> all(1);
    for (char c : outcome) c == '|' ? all.emplace_back() : all.back() += c;
    return all;
}

TEST(AllocationFailure, EveryEntryPointFailsCleanlyOrGivesItsResult) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        gFailing = 0;
        const std::vector<std::string> clean = parts(c.run());
        for (gFailing = 1;; ++gFailing) {
            std::string outcome, said;
            gReached = false;
            said += pk_test::captureStdout([&] { said += pk_test::captureStderr([&] { outcome = c.run(); }); });
            const std::vector<std::string> got = parts(outcome);
            ASSERT_EQ(got.size(), clean.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(gReached && got[i] == kFailed ? clean[i] : got[i], clean[i]) << gFailing << ", part " << i;
            }
            if (!gReached) break;
            EXPECT_TRUE(said == "" || said == c.message) << said;
        }
    }
}

}  // namespace
