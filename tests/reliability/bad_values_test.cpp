// Bad values in the records: NaN, infinities, zero and negative widths, zero
// and degenerate cells, huge Miller indices and empty lists, put into a real
// crystal (rutile, with its reflexion list and intensities) and its profile,
// and then every computing function called on them. Results may be NaN or
// failure values; what is checked is that every call returns, and (in the
// sanitizer pass) that none reads out of bounds, leaks, overflows a signed
// integer or converts an out-of-range double to an integer. Where a failure
// value is certain it is checked too.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/reference_phases.hpp"
#include "support/output_capture.hpp"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A crystal ready for every computation, and a profile of each kind.
struct Scene {
    RefinementCrystal *crystal = nullptr;
    RefinementProfile *profile = nullptr;     // constant wavelength, pseudo-Voigt, X-rays
    RefinementProfile *tofProfile = nullptr;  // time of flight, type 4, neutrons

    Scene() {
        crystal = pk_test::makeReferenceCrystal("rutile", 1.0);
        profile = makeRefinementProfile(1, PK_RADIATION_XRAY, PK_PROFILE_PSEUDO_VOIGT, 1.5406, 10.0,
                                        120.0);
        profile->useSecondaryWavelength = 1;
        profile->secondaryWavelength = 1.5444;
        profile->secondaryIntensityRatio = 2.0;
        profile->asymmetry = 0.2;
        tofProfile = makeRefinementProfile(PK_EXPERIMENT_TIME_OF_FLIGHT, PK_RADIATION_NEUTRON,
                                           PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, 0.0, 1.0, 10.0);
        tofProfile->sigma0 = 4.0;
        tofProfile->sigma1 = 20.0;
        tofProfile->gamma0 = 1.0;
        tofProfile->alpha0 = 0.1;
        tofProfile->alpha1 = 0.05;
        tofProfile->beta0 = 0.03;
        tofProfile->beta1 = 0.005;
        for (Reflexion *r : reflexions()) calculateIntensityForReflexion(crystal, r, profile);
        calculateRelativeIntensities(crystal);
    }
    ~Scene() {
        freeRefinementCrystal(crystal);
        freeRefinementProfile(profile);
        freeRefinementProfile(tofProfile);
    }
    Scene(const Scene &) = delete;
    Scene &operator=(const Scene &) = delete;

    template <typename T>
    static std::vector<T *> itemsOf(const DynamicArray *list) {
        std::vector<T *> items;
        if (list == nullptr) return items;
        for (int32_t i = 0; i < list->count; ++i) items.push_back(static_cast<T *>(list->items[i]));
        return items;
    }
    std::vector<Reflexion *> reflexions() const { return itemsOf<Reflexion>(crystal->reflexions); }
    std::vector<Site *> sites() const { return itemsOf<Site>(crystal->sites); }
    std::vector<RefinementSymmetryOperator *> operators() const {
        return itemsOf<RefinementSymmetryOperator>(crystal->symmetryOperators);
    }
    void setCell(double a, double b, double c, double alpha, double beta, double gamma) {
        crystal->a = a;
        crystal->b = b;
        crystal->c = c;
        crystal->alpha = alpha;
        crystal->beta = beta;
        crystal->gamma = gamma;
        calculateReciprocalCell(crystal);
        calculateMetricTensor(crystal);
    }
    void forEachProfileNumber(const std::function<void(double &)> &change) {
        for (RefinementProfile *p : {profile, tofProfile}) {
            for (double *field : {&p->U, &p->V, &p->W, &p->LX, &p->LY, &p->asymmetry,
                                  &p->wavelength, &p->secondaryWavelength,
                                  &p->secondaryIntensityRatio, &p->tofTwoTheta, &p->dtt1,
                                  &p->dtt2, &p->sigma0, &p->sigma1, &p->sigma2, &p->gamma0,
                                  &p->gamma1, &p->gamma2, &p->alpha0, &p->alpha1, &p->beta0,
                                  &p->beta1, &p->zero, &p->xMin, &p->xMax}) {
                change(*field);
            }
            for (double &coefficient : p->backgroundCoefficients) change(coefficient);
        }
    }
    // Replaces a list by an empty one (the list exists, with no element).
    static void emptyList(DynamicArray *&list, void (*release)(void *)) {
        for (void *item : itemsOf<void>(list)) release(item);
        freeDynamicArray(list);
        list = makeDynamicArrayWithCapacity(1);
    }
};

struct Corruption {
    const char *name;
    std::function<void(Scene &)> apply;
};

void freeSiteItem(void *p) { static_cast<Site *>(p)->methods->freeSite(static_cast<Site *>(p)); }
void freeReflexionItem(void *p) {
    static_cast<Reflexion *>(p)->methods->freeReflexion(static_cast<Reflexion *>(p));
}
void freeOperatorItem(void *p) {
    auto *op = static_cast<RefinementSymmetryOperator *>(p);
    op->methods->freeRefinementSymmetryOperator(op);
}
void freeOccupantItem(void *p) {
    auto *o = static_cast<RefinementSiteOccupant *>(p);
    o->methods->freeRefinementSiteOccupant(o);
}
void freeAtomItem(void *p) {
    auto *a = static_cast<RefinementAtom *>(p);
    a->methods->freeRefinementAtom(a);
}

const std::vector<Corruption> &corruptions() {
    static const std::vector<Corruption> all = {
        {"nothing (the clean scene)", [](Scene &) {}},
        {"zero cell", [](Scene &s) { s.setCell(0, 0, 0, 0, 0, 0); }},
        {"NaN cell", [](Scene &s) { s.setCell(kNaN, kNaN, kNaN, kNaN, kNaN, kNaN); }},
        {"infinite cell", [](Scene &s) { s.setCell(kInf, kInf, -kInf, 90, 90, 90); }},
        {"negative edges", [](Scene &s) { s.setCell(-4.6, 4.6, -3.0, 90, 90, 90); }},
        {"flat angles", [](Scene &s) { s.setCell(4.6, 4.6, 3.0, 180, 0, 180); }},
        {"huge cell", [](Scene &s) { s.setCell(1e300, 1e-300, 1e300, 90, 90, 120); }},
        {"NaN sites, occupancies and displacements",
         [](Scene &s) {
             for (Site *site : s.sites()) {
                 site->x = site->y = site->z = kNaN;
                 for (auto *o : Scene::itemsOf<RefinementSiteOccupant>(site->occupants)) {
                     o->occupancy = kNaN;
                 }
                 for (auto *a : Scene::itemsOf<RefinementAtom>(site->atoms)) a->x = kNaN;
                 if (site->displacement != nullptr) {
                     site->displacement->uIso = kNaN;
                     site->displacement->isAnisotropic = 1;
                     for (auto &row : site->displacement->u) row[0] = row[1] = row[2] = kNaN;
                 }
             }
             s.crystal->useAnisotropicDisplacement = 1;
         }},
        {"infinite coordinates and negative occupancies",
         [](Scene &s) {
             for (Site *site : s.sites()) {
                 site->x = kInf;
                 site->y = -kInf;
                 site->z = 1e300;
                 for (auto *o : Scene::itemsOf<RefinementSiteOccupant>(site->occupants)) {
                     o->occupancy = -1.0;
                 }
             }
         }},
        {"scattering factors of NaN",
         [](Scene &s) {
             for (Site *site : s.sites()) {
                 for (auto *o : Scene::itemsOf<RefinementSiteOccupant>(site->occupants)) {
                     if (o->scatteringFactor == nullptr) continue;
                     for (double &c : o->scatteringFactor->cromerMannCoefficients) c = kNaN;
                     o->scatteringFactor->scatteringLength = kInf;
                     o->scatteringFactor->hasHighAngleCoefficients = 1;
                     for (double &c : o->scatteringFactor->highAngleCoefficients) c = 1e300;
                 }
             }
         }},
        {"NaN reflexions",
         [](Scene &s) {
             for (Reflexion *r : s.reflexions()) {
                 r->dSpacing = r->intensity = r->peakPosition = kNaN;
                 r->structureFactorReal = r->lorentzPolarization = kNaN;
             }
         }},
        {"zero and negative d-spacings",
         [](Scene &s) {
             int i = 0;
             for (Reflexion *r : s.reflexions()) r->dSpacing = (i++ % 2 == 0) ? 0.0 : -1.5;
         }},
        {"huge indices and multiplicities",
         [](Scene &s) {
             for (Reflexion *r : s.reflexions()) {
                 r->h = INT32_MAX;
                 r->k = INT32_MIN;
                 r->l = INT32_MAX - 1;
                 r->multiplicity = INT32_MIN;
             }
         }},
        {"empty lists",
         [](Scene &s) {
             for (Site *site : s.sites()) {
                 Scene::emptyList(site->occupants, freeOccupantItem);
                 Scene::emptyList(site->atoms, freeAtomItem);
             }
             Scene::emptyList(s.crystal->reflexions, freeReflexionItem);
             Scene::emptyList(s.crystal->symmetryOperators, freeOperatorItem);
         }},
        {"no sites", [](Scene &s) { Scene::emptyList(s.crystal->sites, freeSiteItem); }},
        {"no operators",
         [](Scene &s) {
             // The positions name the operators that made them: they go first.
             for (Site *site : s.sites()) Scene::emptyList(site->atoms, freeAtomItem);
             Scene::emptyList(s.crystal->symmetryOperators, freeOperatorItem);
         }},
        {"hostile operators",
         [](Scene &s) {
             for (RefinementSymmetryOperator *op : s.operators()) {
                 op->rotation[0][0] = INT32_MAX;
                 op->rotation[1][2] = INT32_MIN;
                 op->translation[0] = kNaN;
                 op->translation[2] = kInf;
             }
             for (auto &t : s.crystal->symmetryTranslations) t[0] = kNaN;
             s.crystal->originShift[1] = kNaN;
         }},
        {"NaN profiles", [](Scene &s) { s.forEachProfileNumber([](double &v) { v = kNaN; }); }},
        {"infinite profiles", [](Scene &s) { s.forEachProfileNumber([](double &v) { v = kInf; }); }},
        {"zero profiles", [](Scene &s) { s.forEachProfileNumber([](double &v) { v = 0.0; }); }},
        {"negative profiles",
         [](Scene &s) { s.forEachProfileNumber([](double &v) { v = -std::fabs(v) - 1.0; }); }},
        {"huge profiles", [](Scene &s) { s.forEachProfileNumber([](double &v) { v = 1e300; }); }},
        {"bad profile codes",
         [](Scene &s) {
             s.profile->profileType = -7;
             s.profile->radiationType = 99;
             s.tofProfile->profileType = INT32_MAX;
             s.tofProfile->experimentType = INT32_MIN;
         }},
        {"hostile preferred orientation",
         [](Scene &s) {
             RefinementCrystal *c = s.crystal;
             c->usePreferredOrientation = 1;
             c->preferredOrientationAxis[0] = 1e300;
             c->preferredOrientationAxis[1] = kNaN;
             c->preferredOrientationAxis[2] = -kInf;
             c->preferredOrientation = kNaN;
             c->preferredOrientationMode = 1;
             normalizeMarchEquation(c);
         }},
        {"zero preferred-orientation axis in plane mode",
         [](Scene &s) {
             RefinementCrystal *c = s.crystal;
             c->usePreferredOrientation = 1;
             c->preferredOrientationAxis[0] = 0.5;  // truncates to the zero axis
             c->preferredOrientation = 2.0;         // r clamped to 0.0001
             c->preferredOrientationMode = 0;
             normalizeMarchEquation(c);
         }},
        {"NaN scale and cell errors",
         [](Scene &s) {
             s.crystal->scale = kNaN;
             for (double &e : s.crystal->cellParameterErrors) e = kInf;
             s.crystal->maxIntensity = 0.0;
         }},
    };
    return all;
}

struct Call {
    const char *name;
    std::function<void(Scene &)> run;
};

// The functions stored in a derivative table, in slot order.
template <typename Function>
std::vector<Function> functionsOf(HashTable *table) {
    std::vector<Function> functions;
    if (table == nullptr) return functions;
    for (int32_t i = 0; i < table->capacity; ++i) {
        if (table->entries[i].key == nullptr) continue;
        Function function;
        void *value = table->entries[i].value;
        std::memcpy(&function, &value, sizeof function);
        functions.push_back(function);
    }
    freeHashTable(table);
    return functions;
}

void freeGroups(HashTable *groups) {
    if (groups == nullptr) return;
    for (int32_t i = 0; i < groups->capacity; ++i) {
        if (groups->entries[i].key != nullptr) {
            freeDynamicArray(static_cast<DynamicArray *>(groups->entries[i].value));
        }
    }
    freeHashTable(groups);
}

// Every computing function on the scene. Functions that consume or replace
// parts of it (the list passes, unit-cell generation) come last.
const std::vector<Call> &calls() {
    static const std::vector<Call> all = {
        {"cell geometry",
         [](Scene &s) {
             calculateReciprocalCell(s.crystal);
             calculateMetricTensor(s.crystal);
             (void)dSpacingForHKL(s.crystal, 1, 1, 0);
             (void)dSpacingForHKL(s.crystal, INT32_MAX, INT32_MIN, 7);
             (void)UnitCellVolumeError(s.crystal);
             (void)calculateDensity(s.crystal);
         }},
        {"reflexion generation",
         [](Scene &s) {
             int32_t h = -1, k = -1, l = -1;
             for (double length : {2.0, kNaN, kInf, -1.0, 1e300}) {
                 (void)maxNumRefs(s.crystal, length, &h, &k, &l);
                 EXPECT_GE(h, 1);
                 EXPECT_LE(h, 32000);
             }
             for (int32_t index : {1, 0, -3, INT32_MAX, INT32_MIN}) {
                 (void)latticeAbsence(s.crystal, index, index, 1);
                 (void)allowedReflexion(s.crystal, index, 1, index);
                 const int32_t hkl[3] = {index, 1, 3};
                 (void)ignoreReflexionWithIndices(hkl);
                 int32_t count = -1;
                 std::free(planesRelatedBySymmetry(s.crystal, hkl, 1, &count));
             }
             RefGenRec records[3] = {{1, 1, 0, 0, kNaN, 0}, {1, 0, 1, 0, 2.0, 0}, {2, 0, 0, 0, kInf, 0}};
             const int32_t hkl[3] = {1, 0, 1};
             (void)compareRefGenRecByDSpacing(&records[0], &records[1]);
             (void)findPlaneWithIndices(s.crystal, hkl, records, 0, 2);
         }},
        {"axis conversions",
         [](Scene &s) {
             for (RefinementProfile *p : {s.profile, s.tofProfile}) {
                 for (double v : {1.0, 0.0, -1.0, kNaN, kInf, 1e300}) {
                     (void)tofForDSpacingMicroseconds(p, v);
                     (void)tofForDSpacing(p, v);
                     (void)dSpacingForTOFMilliseconds(p, v);
                     (void)twoThetaForDSpacing(p, v, 1);
                     (void)dSpacingForTwoTheta(p, v, 0);
                     (void)dSpacingForX(p, v);
                 }
                 double dMin = 0.0, dMax = 0.0;
                 dSpacingRange(p, &dMin, &dMax);
                 (void)minDSpacingForPlot(p);
                 for (Reflexion *r : s.reflexions()) (void)xForReflexion(p, r);
             }
         }},
        {"scattering",
         [](Scene &s) {
             calculateSimilarityIndices(s.crystal);
             for (Site *site : s.sites()) {
                 for (int32_t radiation : {int32_t{PK_RADIATION_XRAY}, int32_t{PK_RADIATION_NEUTRON}, int32_t{0}}) {
                     for (double d : {1.0, 0.0, kNaN, -kInf}) {
                         (void)site->methods->siteScatteringFactor(site, d, radiation);
                     }
                 }
                 (void)site->methods->siteWeight(site);
                 char text[64];
                 (void)site->methods->describeSiteConstraints(site, text, sizeof text);
             }
         }},
        {"intensities",
         [](Scene &s) {
             normalizeMarchEquation(s.crystal);
             for (double r : {0.5, 0.0, -1.0, kNaN, kInf}) (void)integrateMarchEquationWithRValue(r);
             for (RefinementProfile *p : {s.profile, s.tofProfile}) {
                 for (Reflexion *r : s.reflexions()) {
                     calculateIntensityForReflexion(s.crystal, r, p);
                     (void)preferredOrientationCorrectionForReflexion(s.crystal, r);
                     Reflexion *companion = secondaryWavelengthReflexion(s.crystal, r, p);
                     if (companion != nullptr) companion->methods->freeReflexion(companion);
                 }
                 calculatePeakPositionsForPlot(s.crystal, p);
             }
             (void)calculateRelativeIntensities(s.crystal);
         }},
        {"displacements and site symmetry",
         [](Scene &s) {
             for (Site *site : s.sites()) {
                 if (site->displacement != nullptr) (void)uIsoEquivalent(site->displacement);
                 const double position[3] = {site->x, site->y, site->z};
                 int32_t constraints[6];
                 (void)TemperatureConstraintsForASite(s.crystal, position, constraints);
                 for (auto *atom : Scene::itemsOf<RefinementAtom>(site->atoms)) {
                     (void)symmetryOperatorRelatingAtomToSite(s.crystal, atom, site);
                 }
             }
             FindTemperatureConstraintsForCrystal(s.crystal);
             freeGroups(groupSitesByElement(s.crystal));
         }},
        {"profiles",
         [](Scene &s) {
             for (RefinementProfile *p : {s.profile, s.tofProfile}) {
                 const bool valid = ProfileParametersAreValid(p);
                 if (valid) {
                     EXPECT_EQ(GetErrorBuffer()[0], '\0');
                 }
                 for (double cutoff : {50.0, kNaN, -kInf}) {
                     SetAsymmetryCutoff2Theta(cutoff);
                     for (int32_t type = 0; type < 5; ++type) {
                         const ProfileFunction shape = ProfileFuncForProfileType(type);
                         ASSERT_NE(shape, nullptr);
                         for (Reflexion *r : s.reflexions()) {
                             for (double x : {r->peakPosition, r->peakPosition + 0.01, kNaN, kInf}) {
                                 (void)shape(x, r, p);
                             }
                         }
                     }
                 }
                 SetAsymmetryCutoff2Theta(50.0);
                 const double positions[4] = {p->xMin, 0.5 * (p->xMin + p->xMax), p->xMax, kNaN};
                 ReflexionRange range;
                 for (Reflexion *r : s.reflexions()) {
                     (void)FindReflexionRange(r, positions, 3, 5, &range);
                     (void)FindReflexionRange(r, positions, 4, INT32_MAX, &range);
                 }
                 double buffer[PK_BACKGROUND_COEFFICIENTS];
                 copyChebyschevPolynomialParametersToBuffer(p, buffer);
                 for (double x : {p->xMin, kNaN, kInf}) {
                     (void)BackgroundIntensity(buffer, x, p->xMin, p->xMax);
                     for (int32_t i : {0, 12, 13, -1, INT32_MIN}) {
                         (void)DiffBackgroundIntensityWrtBi(i, x, p->xMin, p->xMax);
                     }
                 }
             }
         }},
        {"derivatives",
         [](Scene &s) {
             for (int32_t type = 0; type < 5; ++type) {
                 RefinementProfile *p = type < 3 ? s.profile : s.tofProfile;
                 for (ProfileDerivativeFunction f :
                      functionsOf<ProfileDerivativeFunction>(ProfileDerivativesHashTable(type))) {
                     for (Reflexion *r : s.reflexions()) {
                         for (double x : {r->peakPosition, r->peakPosition - 0.02, kNaN}) {
                             (void)f(x, s.crystal, r, p);
                         }
                     }
                 }
             }
             for (ReflexionDerivativeFunction f :
                  functionsOf<ReflexionDerivativeFunction>(ReflexionDerivativesHashTable())) {
                 for (Reflexion *r : s.reflexions()) (void)f(s.crystal, r, s.profile);
             }
             for (BackgroundDerivativeFunction f :
                  functionsOf<BackgroundDerivativeFunction>(BackgroundDerivativesHashTable())) {
                 for (double x : {20.0, kNaN, kInf}) (void)f(x, s.profile->xMin, s.profile->xMax);
             }
             for (Site *site : s.sites()) {
                 for (Reflexion *r : s.reflexions()) {
                     for (auto *o : Scene::itemsOf<RefinementSiteOccupant>(site->occupants)) {
                         (void)DiffReflexionIntensityWrtSiteOccupancy(s.crystal, r, s.profile, site, o);
                     }
                     for (double u : {0.01, 0.0, kNaN, -kInf}) {
                         (void)DiffReflexionIntensityWrtSiteIsotropicTempFactor(s.crystal, r,
                                                                                s.profile, site, u);
                     }
                     if (site->displacement != nullptr) {
                         for (int32_t component = 0; component < 8; ++component) {
                             (void)DiffReflexionIntensityWrtSiteAnisotropicTempFactor(
                                 s.crystal, r, s.profile, site, component);
                         }
                     }
                     for (int32_t axis : {-1, 0, 1, 2, 3, INT32_MIN}) {
                         (void)DiffReflexionIntensityWrtSiteAxis(s.crystal, r, s.profile, site, axis);
                     }
                 }
             }
         }},
        {"list passes",
         [](Scene &s) {
             removeZeroIntensityReflexions(s.crystal);
             ASSERT_NE(s.crystal->reflexions, nullptr);
             generateUnitCell(s.crystal);
             calculateSimilarityIndices(s.crystal);
             (void)calculateDensity(s.crystal);
         }},
    };
    return all;
}

TEST(BadValues, EveryComputingFunctionReturnsOnEveryCorruptedScene) {
    for (const Corruption &corruption : corruptions()) {
        // Said before the calls, whose output is captured: if a sanitizer
        // stops the run, the log ends with the scene that did it (run again
        // with PK_SHOW_OUTPUT=1 to see the report).
        std::printf("scene: %s\n", corruption.name);
        std::fflush(stdout);
        Scene scene;
        ASSERT_NE(scene.crystal, nullptr);
        corruption.apply(scene);
        for (const Call &call : calls()) {
            SCOPED_TRACE(std::string(corruption.name) + " / " + call.name);
            // PK_SHOW_OUTPUT=1 lets the library's messages (and any sanitizer
            // report) through instead of capturing them.
            if (std::getenv("PK_SHOW_OUTPUT") != nullptr) {
                call.run(scene);
            } else {
                pk_test::captureStdout([&] { pk_test::captureStderr([&] { call.run(scene); }); });
            }
        }
    }
}

TEST(BadValues, CertainFailureValuesOnDegenerateInput) {
    Scene scene;
    // No positive intensity: false, with the message.
    for (Reflexion *r : scene.reflexions()) r->intensity = kNaN;
    const std::string message =
        pk_test::captureStderr([&] { EXPECT_FALSE(calculateRelativeIntensities(scene.crystal)); });
    EXPECT_EQ(message, "error calculating relative intensities - all intensities are zero\n");
    // Patterns of NaN, of equal x, and too short: no peak, no background.
    std::vector<PatternPoint> nans(400, PatternPoint{kNaN, kNaN});
    std::vector<PatternPoint> flat(400, PatternPoint{5.0, 1.0});
    int32_t count = -1;
    for (std::vector<PatternPoint> *points : {&nans, &flat}) {
        count = -1;
        PeakRange *ranges = locatePeakRanges(points->data(), 400, 3, &count);
        EXPECT_EQ(ranges, nullptr);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(fittedBackground(points->data(), 400), nullptr);
    }
    count = -1;
    EXPECT_EQ(locatePeakRanges(flat.data(), 99, 3, &count), nullptr);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(fittedBackground(flat.data(), 199), nullptr);
    // A range on a pattern of NaN heights is refused before any fit.
    PeakRange range{nullptr, &nans[200], 0, kNaN, kNaN};
    EXPECT_EQ(pseudoVoigtFit(&range), nullptr);
    EXPECT_EQ(range.start, nullptr);
    // An empty window and an empty pattern give no range.
    ReflexionRange window{1, 2, 3, 4};
    const double positions[1] = {1.0};
    EXPECT_FALSE(FindReflexionRange(scene.reflexions()[0], positions, 0, 5, &window));
    EXPECT_FALSE(FindReflexionRange(scene.reflexions()[0], positions, 1, 0, &window));
    EXPECT_EQ(window.firstIndex, 1);
    // Profiles that are all zero or all NaN are not valid.
    for (double v : {0.0, kNaN}) {
        RefinementProfile *p = makeRefinementProfile(1, 2, PK_PROFILE_PSEUDO_VOIGT, 1.5406, 10, 120);
        p->U = p->V = p->W = p->LX = p->LY = v;
        pk_test::captureStderr([&] { EXPECT_FALSE(ProfileParametersAreValid(p)) << v; });
        EXPECT_NE(GetErrorBuffer()[0], '\0');
        freeRefinementProfile(p);
    }
}

}  // namespace
