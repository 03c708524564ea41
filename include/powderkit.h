/*
 * powderkit.h — the public interface of powderkit, a library of numerical
 * routines for powder diffraction.
 *
 * Conventions
 * -----------
 *  - One crystalline phase lives in a tree of plain heap records. The host makes
 *    each record with its make function, fills the fields directly (field order
 *    and widths are part of the binary interface: do not reorder), hands the
 *    records to the computing functions and frees them with the free functions.
 *  - Every model record ends with `methods`, a pointer to its type's static
 *    table of operations; slot 0 is always the free operation. The operations
 *    are exported under their own names too, so a host can call either way.
 *  - Integers are 32-bit signed, reals are doubles, boolean results are `bool`.
 *    One-byte flag fields (and flag arguments) are `uint8_t`, read as != 0.
 *  - Units: lengths in Å, cell and pattern angles in degrees, time of flight in
 *    milliseconds on the pattern axis and microseconds inside the time-of-flight
 *    shapes. Derivatives with respect to an angle are per radian unless stated.
 *  - Symmetry operators act on fractional coordinates as x' = R·x + t.
 *  - A block that a function returns new belongs to the caller; each function
 *    says how it is released. Every free function accepts NULL.
 *  - Nothing aborts and nothing throws. Failing functions return NULL, false,
 *    0 or 0.0. Diagnostics go to standard error (most), standard output
 *    (matrix and covariance messages, the site-constraint listing) or the
 *    100-byte error buffer (profile checks; see GetErrorBuffer).
 *  - No function starts a thread or takes a lock. The error buffer and the
 *    asymmetry cut-off are process-wide: call the profile checks and
 *    SetAsymmetryCutoff2Theta from one thread at a time.
 *
 * The header is valid C11 and C++17.
 */
#ifndef POWDERKIT_H
#define POWDERKIT_H

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(PK_BUILDING_LIBRARY)
#    define PK_API __declspec(dllexport)
#  else
#    define PK_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) || defined(__clang__)
#  define PK_API __attribute__((visibility("default")))
#else
#  define PK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------- */
/* Type codes and named values                                               */
/* ------------------------------------------------------------------------- */

/* Peak shapes: RefinementProfile.profileType. */
enum {
    PK_PROFILE_GAUSSIAN = 0,          /* Caglioti width, Rietveld asymmetry */
    PK_PROFILE_LORENTZIAN = 1,        /* LX/LY width, five-point asymmetry average */
    PK_PROFILE_PSEUDO_VOIGT = 2,      /* Thompson–Cox–Hastings width and mixing */
    PK_PROFILE_TOF_EXP_GAUSSIAN = 3,  /* back-to-back exponentials ⊗ Gaussian */
    PK_PROFILE_TOF_EXP_PSEUDO_VOIGT = 4 /* back-to-back exponentials ⊗ pseudo-Voigt */
};

/* Experiments: RefinementProfile.experimentType. 4 is time of flight; every
 * other value is constant wavelength (1 and 2 are the usual codes). */
enum {
    PK_EXPERIMENT_CONSTANT_WAVELENGTH = 1,
    PK_EXPERIMENT_CONSTANT_WAVELENGTH_ALT = 2,
    PK_EXPERIMENT_TIME_OF_FLIGHT = 4
};

/* Radiation: RefinementProfile.radiationType. */
enum {
    PK_RADIATION_XRAY = 2,
    PK_RADIATION_NEUTRON = 3
};

/* Anisotropic displacement components, for
 * DiffReflexionIntensityWrtSiteAnisotropicTempFactor. */
enum {
    PK_ANISO_U11 = 1,
    PK_ANISO_U22 = 2,
    PK_ANISO_U33 = 3,
    PK_ANISO_U23 = 4,
    PK_ANISO_U13 = 5,
    PK_ANISO_U12 = 6
};

/* Site axes, for DiffReflexionIntensityWrtSiteAxis. */
enum {
    PK_SITE_AXIS_X = 0,
    PK_SITE_AXIS_Y = 1,
    PK_SITE_AXIS_Z = 2
};

/* The index that means "nothing found" (largest 32-bit signed integer). */
#define PK_NOT_FOUND 2147483647

/* Capacity of the process-wide error buffer, in bytes. */
#define PK_ERROR_BUFFER_SIZE 100

/* Room in RefinementCrystal.symmetryTranslations (and so the largest number of
 * symmetry operators a crystal may hold). */
#define PK_MAX_SYMMETRY_OPERATORS 193

/* Number of Chebyshev background coefficients B0 … B12. */
#define PK_BACKGROUND_COEFFICIENTS 13

/* ------------------------------------------------------------------------- */
/* Forward declarations                                                      */
/* ------------------------------------------------------------------------- */

typedef struct RefinementCrystal RefinementCrystal;
typedef struct Reflexion Reflexion;
typedef struct RefGenRec RefGenRec;
typedef struct Site Site;
typedef struct RefinementSiteOccupant RefinementSiteOccupant;
typedef struct RefinementAtom RefinementAtom;
typedef struct RefinementAtomicScatteringFactor RefinementAtomicScatteringFactor;
typedef struct RefinementSymmetryOperator RefinementSymmetryOperator;
typedef struct RefinementThermalEllipsoidUij RefinementThermalEllipsoidUij;
typedef struct RefinementProfile RefinementProfile;
typedef struct Matrix Matrix;
typedef struct LeastSquaresMatrices LeastSquaresMatrices;
typedef struct DynamicArray DynamicArray;
typedef struct HashTable HashTable;
typedef struct HashTableEntry HashTableEntry;
typedef struct PatternPoint PatternPoint;
typedef struct PeakRange PeakRange;
typedef struct ReflexionRange ReflexionRange;

/* ------------------------------------------------------------------------- */
/* Function types                                                            */
/* ------------------------------------------------------------------------- */

/* A peak shape: the unit-area profile of `reflexion` at pattern position x
 * (degrees 2θ, or milliseconds of flight time). Reads only. */
typedef double (*ProfileFunction)(double x, Reflexion *reflexion,
                                  RefinementProfile *profile);

/* ∂(profile value at x)/∂(one parameter); the crystal supplies scale and cell. */
typedef double (*ProfileDerivativeFunction)(double x, RefinementCrystal *crystal,
                                            Reflexion *reflexion,
                                            RefinementProfile *profile);

/* ∂(background at x)/∂(one coefficient), for a pattern running xMin … xMax. */
typedef double (*BackgroundDerivativeFunction)(double x, double xMin, double xMax);

/* ∂(reflexion intensity)/∂(one parameter). */
typedef double (*ReflexionDerivativeFunction)(RefinementCrystal *crystal,
                                              Reflexion *reflexion,
                                              RefinementProfile *profile);

/* ------------------------------------------------------------------------- */
/* Containers                                                                */
/* ------------------------------------------------------------------------- */

/* Growable array of untyped pointers. Never owns its elements. */
struct DynamicArray {
    int32_t count;    /* elements in use */
    int32_t capacity; /* element slots allocated */
    void **items;     /* the elements, in insertion order */
};

/* One slot of a HashTable. */
struct HashTableEntry {
    char *key;   /* the table's own copy of the key; NULL marks an empty slot */
    void *value; /* not owned */
};

/* Open-addressing map from text keys to untyped pointers. */
struct HashTable {
    int32_t count;           /* entries in use */
    int32_t capacity;        /* slots */
    HashTableEntry *entries; /* `capacity` slots */
};

/* ------------------------------------------------------------------------- */
/* Crystal model records                                                     */
/* ------------------------------------------------------------------------- */

/* Operations of RefinementCrystal, slot order fixed. */
typedef struct RefinementCrystalMethods {
    void (*freeRefinementCrystal)(RefinementCrystal *crystal);
    void (*freeRefinementCrystalReflexions)(RefinementCrystal *crystal);
    void (*generateUnitCell)(RefinementCrystal *crystal);
    void (*calculateSimilarityIndices)(RefinementCrystal *crystal);
    void (*normalizeMarchEquation)(RefinementCrystal *crystal);
    void (*calculateIntensityForReflexion)(RefinementCrystal *crystal, Reflexion *reflexion,
                                           RefinementProfile *profile);
    void (*calculateReciprocalCell)(RefinementCrystal *crystal);
    void (*calculateMetricTensor)(RefinementCrystal *crystal);
    void (*calculatePeakPositionsForPlot)(RefinementCrystal *crystal, RefinementProfile *profile);
    void (*removeZeroIntensityReflexions)(RefinementCrystal *crystal);
    bool (*allowedReflexion)(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l);
    bool (*ignoreReflexionWithIndices)(const int32_t *hkl);
    bool (*calculateRelativeIntensities)(RefinementCrystal *crystal);
    bool (*latticeAbsence)(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l);
    int32_t (*findPlaneWithIndices)(RefinementCrystal *crystal, const int32_t *hkl,
                                    const RefGenRec *records, int32_t first, int32_t last);
    int32_t (*compareRefGenRecByDSpacing)(const void *a, const void *b);
    int32_t (*maxNumRefs)(RefinementCrystal *crystal, double maxReciprocalLength,
                          int32_t *hMax, int32_t *kMax, int32_t *lMax);
    double (*preferredOrientationCorrectionForReflexion)(RefinementCrystal *crystal,
                                                         Reflexion *reflexion);
    double (*dSpacingForHKL)(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l);
    double (*minDSpacingForPlot)(RefinementProfile *profile);
    double (*calculateDensity)(RefinementCrystal *crystal);
    Reflexion *(*secondaryWavelengthReflexion)(RefinementCrystal *crystal, Reflexion *reflexion,
                                               RefinementProfile *profile);
    RefinementSymmetryOperator *(*symmetryOperatorRelatingAtomToSite)(
        RefinementCrystal *crystal, RefinementAtom *atom, Site *site);
    int32_t *(*planesRelatedBySymmetry)(RefinementCrystal *crystal, const int32_t *hkl,
                                        uint8_t unused, int32_t *count);
    HashTable *(*groupSitesByElement)(RefinementCrystal *crystal);
} RefinementCrystalMethods;

/* One crystalline phase. Do not reorder. */
struct RefinementCrystal {
    double scale;             /* scale factor of the phase; 1.0 on creation */
    double auxiliaryFactor;   /* 1.0 on creation; the library never reads it */
    double a, b, c;           /* cell edges, Å */
    double alpha, beta, gamma;/* cell angles, degrees */
    double aStar, bStar, cStar;           /* reciprocal edges, 1/Å (calculateReciprocalCell) */
    double alphaStar, betaStar, gammaStar;/* reciprocal angles, degrees (calculateReciprocalCell) */
    double volume;            /* cell volume, Å³ (calculateReciprocalCell) */
    DynamicArray *sites;      /* Site pointers; owned */
    DynamicArray *reflexions; /* Reflexion pointers; owned */
    DynamicArray *symmetryOperators; /* RefinementSymmetryOperator pointers; owned; ≤ 193 */
    char latticeType;         /* centring letter P, A, B, C, F, I or R */
    double reciprocalMetricTensor[3][3]; /* G*, 1/Å², row-major (calculateMetricTensor) */
    double metricTensor[3][3];           /* G, Å², row-major (calculateMetricTensor) */
    double preferredOrientationAxis[3];  /* (h k l), or [u v w] when the axis type is 2 */
    int32_t preferredOrientationMode;    /* 1: March r as is; otherwise 1/r */
    int32_t preferredOrientationAxisType;/* 2: direct-lattice direction; otherwise plane indices */
    double originShift[3];    /* origin displacement, fractional */
    double maxIntensity;      /* largest intensity (calculateRelativeIntensities) */
    double preferredOrientation; /* amount t; March r = max(1 − t, 0.0001) */
    uint8_t usePreferredOrientation;    /* March correction replaces the multiplicity */
    uint8_t useAnisotropicDisplacement; /* sites' displacement records give temperature factors */
    uint8_t allowAllForTwoOperators;    /* allowedReflexion allows all with exactly 2 operators */
    uint8_t addFriedelMates;            /* planesRelatedBySymmetry adds −h too */
    uint8_t suppressFriedelMates;       /* overrides addFriedelMates */
    double marchNormalization;          /* normalizeMarchEquation */
    double symmetryTranslations[PK_MAX_SYMMETRY_OPERATORS][3]; /* operator translations, fractional */
    double cellParameterErrors[6];      /* σ of a, b, c (Å) and α, β, γ (degrees) */
    const RefinementCrystalMethods *methods;
};

typedef struct ReflexionMethods {
    void (*freeReflexion)(Reflexion *reflexion);
} ReflexionMethods;

/* One reflexion (a set of equivalent planes). Do not reorder. */
struct Reflexion {
    int32_t h, k, l;             /* Miller indices */
    int32_t multiplicity;        /* number of symmetry-equivalent planes */
    double dSpacing;             /* Å */
    double peakPosition;         /* on the pattern axis (calculatePeakPositionsForPlot) */
    double intensity;            /* integrated intensity */
    double relativeIntensity;    /* intensity / crystal maxIntensity */
    double structureFactorReal;  /* A */
    double structureFactorImag;  /* B */
    double lorentzPolarization;  /* Lorentz-polarisation factor used for intensity */
    uint8_t isSecondaryWavelength; /* made for the second wavelength */
    const ReflexionMethods *methods;
};

/* A generation record, kept by the host in arrays sorted by decreasing d. */
struct RefGenRec {
    int32_t h, k, l;          /* Miller indices */
    int32_t auxiliaryInteger; /* not read by the library */
    double dSpacing;          /* Å, as dSpacingForHKL computes it */
    double auxiliaryValue;    /* not read by the library */
};

/* Operations of Site, slot order fixed. */
typedef struct SiteMethods {
    void (*freeSite)(Site *site);
    void (*freeSiteAtoms)(Site *site);
    void (*freeSiteOccupants)(Site *site);
    void (*wrapSiteCoordinates)(Site *site);
    bool (*siteHasSameOccupants)(Site *site, Site *other);
    bool (*describeSiteConstraints)(Site *site, char *buffer, int32_t capacity);
    double (*siteScatteringFactor)(Site *site, double dSpacing, int32_t radiationType);
    double (*siteWeight)(Site *site);
} SiteMethods;

/* A site of the asymmetric unit. Do not reorder. */
struct Site {
    double x, y, z;            /* fractional coordinates */
    uint8_t isIncluded;        /* contributes to structure factors only when set */
    const char *label;         /* not owned */
    DynamicArray *atoms;       /* RefinementAtom pointers (generateUnitCell); owned */
    DynamicArray *occupants;   /* RefinementSiteOccupant pointers; owned */
    RefinementThermalEllipsoidUij *displacement; /* owned; may be NULL */
    int32_t similarityIndex;   /* calculateSimilarityIndices */
    int32_t constraintX, constraintY, constraintZ; /* coordinate constraint codes */
    const SiteMethods *methods;
};

typedef struct RefinementSiteOccupantMethods {
    void (*freeRefinementSiteOccupant)(RefinementSiteOccupant *occupant);
    bool (*siteOccupantsAreEqual)(RefinementSiteOccupant *occupant,
                                  RefinementSiteOccupant *other);
    double (*siteOccupantScatteringFactor)(RefinementSiteOccupant *occupant, double dSpacing,
                                           int32_t radiationType);
} RefinementSiteOccupantMethods;

/* One chemical species on a site. Do not reorder. */
struct RefinementSiteOccupant {
    char *symbol;      /* element symbol; the record's own copy */
    double occupancy;  /* fraction of the site */
    RefinementAtomicScatteringFactor *scatteringFactor; /* owned; may be NULL */
    const RefinementSiteOccupantMethods *methods;
};

typedef struct RefinementAtomMethods {
    void (*freeRefinementAtom)(RefinementAtom *atom);
} RefinementAtomMethods;

/* One symmetry-equivalent position of a site. Do not reorder. */
struct RefinementAtom {
    double x, y, z; /* fractional coordinates */
    RefinementSymmetryOperator *symmetryOperator; /* operator that made it; not owned */
    const RefinementAtomMethods *methods;
};

typedef struct RefinementAtomicScatteringFactorMethods {
    void (*freeRefinementAtomicScatteringFactor)(RefinementAtomicScatteringFactor *record);
    double (*neutronScatteringLength)(RefinementAtomicScatteringFactor *record);
    double (*xrayScatteringFactor)(RefinementAtomicScatteringFactor *record, double dSpacing);
} RefinementAtomicScatteringFactorMethods;

/* Scattering data of one species. Do not reorder. */
struct RefinementAtomicScatteringFactor {
    uint8_t hasNeutronScatteringLength; /* scatteringLength is valid */
    uint8_t hasHighAngleCoefficients;   /* highAngleCoefficients are valid */
    uint8_t hasCromerMannCoefficients;  /* cromerMannCoefficients are valid */
    double scatteringLength;            /* coherent b, fm (element-table units) */
    double highAngleCoefficients[4];    /* ln f = c0 + c1 s + c2 s² + c3 s³ */
    double cromerMannCoefficients[9];   /* a1 b1 a2 b2 a3 b3 a4 b4 c */
    const RefinementAtomicScatteringFactorMethods *methods;
};

typedef struct RefinementSymmetryOperatorMethods {
    void (*freeRefinementSymmetryOperator)(RefinementSymmetryOperator *op);
    /* out = R·v */
    double *(*rotateVector)(double *out, const RefinementSymmetryOperator *op, const double *v);
    /* out = R·v + t */
    double *(*transformVector)(double *out, const RefinementSymmetryOperator *op,
                               const double *v);
    /* out = R·(v + origin) + t − origin */
    double *(*transformVectorWithDisplacedOrigin)(double *out, const RefinementSymmetryOperator *op,
                                                  const double *v, const double *origin);
} RefinementSymmetryOperatorMethods;

/* A space-group operator x' = R·x + t. Do not reorder. */
struct RefinementSymmetryOperator {
    const char *coordinateExpressions[3]; /* "+x+1/4", "-y", …; host-owned, never freed here */
    int32_t rotation[3][3];               /* R, row-major */
    double translation[3];                /* t, fractional */
    const RefinementSymmetryOperatorMethods *methods;
};

typedef struct RefinementThermalEllipsoidUijMethods {
    void (*freeRefinementThermalEllipsoidUij)(RefinementThermalEllipsoidUij *record);
    double (*uIsoEquivalent)(RefinementThermalEllipsoidUij *record);
    double (*temperatureFactor)(RefinementThermalEllipsoidUij *record, int32_t h, int32_t k,
                                int32_t l, double dSpacing, double aStar, double bStar,
                                double cStar);
} RefinementThermalEllipsoidUijMethods;

/* Displacement parameters of a site. Do not reorder. */
struct RefinementThermalEllipsoidUij {
    double uIso;          /* isotropic U, Å² */
    double u[3][3];       /* anisotropic U, Å², row-major */
    uint8_t isAnisotropic;/* use u rather than uIso */
    const RefinementThermalEllipsoidUijMethods *methods;
};

/* ------------------------------------------------------------------------- */
/* Profile record                                                            */
/* ------------------------------------------------------------------------- */

typedef struct RefinementProfileMethods {
    void (*freeRefinementProfile)(RefinementProfile *profile);
    void (*copyChebyschevPolynomialParametersToBuffer)(const RefinementProfile *profile,
                                                       double *buffer);
    double (*xForReflexion)(RefinementProfile *profile, Reflexion *reflexion);
    double (*dSpacingForX)(RefinementProfile *profile, double x);
    void (*dSpacingRange)(RefinementProfile *profile, double *dMin, double *dMax);
} RefinementProfileMethods;

/* Instrument and peak-shape parameters of one pattern. Do not reorder. */
struct RefinementProfile {
    double U, V, W;        /* Gaussian H_G² = U tan²θ + V tanθ + W, degrees² of 2θ */
    double LX, LY;         /* Lorentzian H_L = LX / cosθ + LY tanθ, degrees 2θ */
    double asymmetry;      /* asymmetry P of the constant-wavelength shapes */
    double wavelength;     /* primary wavelength, Å */
    double secondaryWavelength;     /* second wavelength, Å */
    double secondaryIntensityRatio; /* primary / secondary intensity */
    uint8_t useSecondaryWavelength; /* make second-wavelength reflexions (X-rays only) */
    double tofTwoTheta;    /* 2θ of the time-of-flight bank, degrees; 90 by default */
    double dtt1, dtt2;     /* TOF(µs) = dtt1·d + dtt2·d² + zero; dtt1 1000 by default */
    double sigma0, sigma1, sigma2; /* σ² = sigma0 + sigma1 d² + sigma2 d⁴, µs² */
    double gamma0, gamma1, gamma2; /* γ = gamma0 + gamma1 d + gamma2 d², µs (type 4) */
    double alpha0, alpha1; /* α = alpha0 + alpha1/d (type 3), alpha1/d (type 4), 1/µs */
    double beta0, beta1;   /* β = beta0 + beta1/d⁴, 1/µs */
    double zero;           /* zero shift: degrees 2θ, or µs for time of flight */
    double xMin, xMax;     /* fitting range, axis units (degrees 2θ or ms) */
    double backgroundCoefficients[PK_BACKGROUND_COEFFICIENTS]; /* Chebyshev B0 … B12 */
    int32_t profileType;   /* PK_PROFILE_* */
    int32_t experimentType;/* 4 = time of flight, otherwise constant wavelength */
    int32_t radiationType; /* 2 = X-rays, 3 = neutrons */
    const RefinementProfileMethods *methods;
};

/* Window of pattern points around one reflexion (FindReflexionRange). */
struct ReflexionRange {
    int32_t firstIndex;
    int32_t nearestIndex;
    int32_t lastIndex;
    int32_t pointCount;
};

/* ------------------------------------------------------------------------- */
/* Matrices and the least-squares record                                     */
/* ------------------------------------------------------------------------- */

/* Dense matrix of doubles: row i starts at rowPointers[i], which points into
 * the contiguous row-major `elements`. Released only with freeMatrix. */
struct Matrix {
    int32_t rows;
    int32_t columns;
    double **rowPointers;
    double *elements;
};

typedef struct LeastSquaresMatricesMethods {
    void (*freeLeastSquaresMatrices)(LeastSquaresMatrices *ls);
    bool (*prepareForRefinementCycle)(LeastSquaresMatrices *ls, int32_t observationCount,
                                      int32_t parameterCount);
    bool (*calculateParameterCorrelationsAndErrors)(LeastSquaresMatrices *ls);
} LeastSquaresMatricesMethods;

/* Every matrix of one least-squares cycle, for N observations and P
 * parameters. Do not reorder. */
struct LeastSquaresMatrices {
    Matrix *jacobian;           /* N × P */
    Matrix *jacobianTransposed; /* P × N */
    Matrix *parameterColumn1;   /* P × 1 */
    Matrix *normalMatrix;       /* P × P */
    Matrix *covariance;         /* P × P, left by the host */
    Matrix *correlations;       /* P × P */
    Matrix *observationColumn1; /* N × 1 */
    Matrix *observationColumn2; /* N × 1 */
    Matrix *observationColumn3; /* N × 1 */
    Matrix *observationColumn4; /* N × 1 */
    Matrix *parameterColumn2;   /* P × 1 */
    double *standardErrors;     /* P values */
    double cycleValue1;         /* 0.01 after each preparation */
    double cycleValue2;         /* 2.0 after each preparation */
    double hostReserved;        /* never touched by the library */
    uint8_t cycleFlag;          /* 1 after each preparation */
    int32_t observationCount;   /* N of the last preparation */
    int32_t parameterCount;     /* P of the last preparation; 0 before the first */
    const LeastSquaresMatricesMethods *methods;
};

/* ------------------------------------------------------------------------- */
/* Raw-pattern records                                                       */
/* ------------------------------------------------------------------------- */

/* One measured point. */
struct PatternPoint {
    double x; /* pattern axis */
    double y; /* intensity */
};

/* One peak of a raw pattern (locatePeakRanges, pseudoVoigtFit). */
struct PeakRange {
    PatternPoint *start;   /* first point of the fitting window (pseudoVoigtFit) */
    PatternPoint *maximum; /* the maximum, inside the host's pattern */
    int32_t pointCount;    /* points in the fitting window (pseudoVoigtFit) */
    double baseline;       /* lowest y before the peak was confirmed */
    double height;         /* y(maximum) − baseline */
};

/* ------------------------------------------------------------------------- */
/* Frame                                                                     */
/* ------------------------------------------------------------------------- */

/* The 100-byte error buffer written by ProfileParametersAreValid; the same
 * pointer for the life of the process. Do not free it. */
PK_API char *GetErrorBuffer(void);

/* Takes nothing, does nothing. */
PK_API void checkRefinementCrystal(void);

/* ------------------------------------------------------------------------- */
/* Records: make and free                                                    */
/* ------------------------------------------------------------------------- */

/* New crystal: scale = auxiliaryFactor = 1, everything else zero, no lists
 * (the host creates and stores them). NULL if memory runs out. */
PK_API RefinementCrystal *makeEmptyRefinementCrystal(void);

/* Frees the sites, reflexions and operators (each through its own table), the
 * three lists and the crystal. NULL does nothing. */
PK_API void freeRefinementCrystal(RefinementCrystal *crystal);

/* Frees the reflexion list and its reflexions and sets `reflexions` to NULL. */
PK_API void freeRefinementCrystalReflexions(RefinementCrystal *crystal);

/* New zero-filled reflexion, or NULL. */
PK_API Reflexion *makeReflexion(void);

/* New zero-filled site, or NULL. */
PK_API Site *makeEmptySite(void);

/* New occupant holding its own copy of `symbol`; it takes ownership of
 * `scatteringFactor` (which stays the caller's if NULL is returned). */
PK_API RefinementSiteOccupant *makeRefinementSiteOccupant(const char *symbol, double occupancy,
                                                          RefinementAtomicScatteringFactor *scatteringFactor);

/* New position at (x, y, z) with no operator, or NULL. */
PK_API RefinementAtom *makeRefinementAtom(double x, double y, double z);

/* New scattering-factor record, flags clear, coefficients zero, or NULL. */
PK_API RefinementAtomicScatteringFactor *makeRefinementAtomicScatteringFactor(void);

/* Releases a scattering-factor record; NULL does nothing. The same entry point
 * is freeRefinementProfile. */
PK_API void freeRefinementAtomicScatteringFactor(RefinementAtomicScatteringFactor *record);

/* New operator with zero rotation and translation, or NULL. */
PK_API RefinementSymmetryOperator *makeRefinementSymmetryOperator(void);

/* New isotropic displacement record with zero displacements, or NULL. */
PK_API RefinementThermalEllipsoidUij *makeRefinementThermalEllipsoidUij(void);

/* New profile record with the defaults of its type (U, V, W = 0.002, −0.002,
 * 0.005, or LX = LY = 0.005 for the Lorentzian; tofTwoTheta 90; dtt1 1000). */
PK_API RefinementProfile *makeRefinementProfile(int32_t experimentType, int32_t radiationType,
                                                int32_t profileType, double wavelength,
                                                double xMin, double xMax);

/* Releases a profile record; NULL does nothing. */
PK_API void freeRefinementProfile(RefinementProfile *profile);

/* New zero-filled least-squares record without matrices, or NULL. */
PK_API LeastSquaresMatrices *makeRefinementMatrices(void);

/* Releases the record's matrices and standard-error array, but NOT the record
 * itself: the host releases that with free() after this call. */
PK_API void freeLeastSquaresMatrices(LeastSquaresMatrices *ls);

/* ------------------------------------------------------------------------- */
/* Containers                                                                */
/* ------------------------------------------------------------------------- */

/* New empty array with room for `capacity` (≥ 1) elements, or NULL. */
PK_API DynamicArray *makeDynamicArrayWithCapacity(int32_t capacity);

/* Appends a non-NULL object, doubling the storage when full. If the storage
 * cannot grow the array stays as it was and the object is not added. */
PK_API void addObjectToDynamicArray(DynamicArray *array, void *object);

/* Reduces the capacity to the count. */
PK_API void shrinkDynamicArray(DynamicArray *array);

/* Releases the array's storage and record, not its elements. */
PK_API void freeDynamicArray(DynamicArray *array);

/* New table with 1024 empty slots, or NULL. */
PK_API HashTable *makeHashTable(void);

/* Stores `value` under a copy of `key`. The table may be replaced by a larger
 * one: *tableRef is updated then. Inserting a key twice stores two entries. */
PK_API void setPointerForKey(HashTable **tableRef, void *value, const char *key);

/* The value stored under `key`, or NULL. */
PK_API void *pointerForKey(const HashTable *table, const char *key);

/* Releases the keys, the slots and the table, not the values. */
PK_API void freeHashTable(HashTable *table);

/* ------------------------------------------------------------------------- */
/* Cell geometry                                                             */
/* ------------------------------------------------------------------------- */

/* Writes the reciprocal edges and angles and the volume from the cell. */
PK_API void calculateReciprocalCell(RefinementCrystal *crystal);

/* Writes G and G*; call calculateReciprocalCell first. */
PK_API void calculateMetricTensor(RefinementCrystal *crystal);

/* d-spacing of (h k l) in Å, from G*. */
PK_API double dSpacingForHKL(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l);

/* Smallest d worth generating: λ/2 + 1e-5 Å for experiment types 1 and 2,
 * otherwise 0.1 Å. */
PK_API double minDSpacingForPlot(RefinementProfile *profile);

/* ------------------------------------------------------------------------- */
/* Pattern axis conversions                                                  */
/* ------------------------------------------------------------------------- */

/* Time of flight of d (Å) in µs: dtt2·d² + dtt1·d + zero. */
PK_API double tofForDSpacingMicroseconds(RefinementProfile *profile, double d);

/* Time of flight of d (Å) in ms. */
PK_API double tofForDSpacing(RefinementProfile *profile, double d);

/* d (Å) of a flight time in ms, or 0.0 when no positive root exists. */
PK_API double dSpacingForTOFMilliseconds(RefinementProfile *profile, double t);

/* 2θ (degrees, zero included) of d; 180° + zero beyond θ = 90°. */
PK_API double twoThetaForDSpacing(RefinementProfile *profile, double d, uint8_t useSecondary);

/* d (Å) of a 2θ position in degrees. */
PK_API double dSpacingForTwoTheta(RefinementProfile *profile, double twoTheta,
                                  uint8_t useSecondary);

/* The reflexion's position on the pattern axis (2θ in degrees or TOF in ms). */
PK_API double xForReflexion(RefinementProfile *profile, Reflexion *reflexion);

/* d (Å) of a pattern-axis position. */
PK_API double dSpacingForX(RefinementProfile *profile, double x);

/* The d-spacing range covered by xMin … xMax. */
PK_API void dSpacingRange(RefinementProfile *profile, double *dMin, double *dMax);

/* ------------------------------------------------------------------------- */
/* Reflexion generation                                                      */
/* ------------------------------------------------------------------------- */

/* Index bounds floor(s / a*) etc., clamped to 1 … 32000; returns the number of
 * index triples in the box, origin excluded. */
PK_API int32_t maxNumRefs(RefinementCrystal *crystal, double maxReciprocalLength,
                          int32_t *hMax, int32_t *kMax, int32_t *lMax);

/* True when the lattice centring forbids (h k l). */
PK_API bool latticeAbsence(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l);

/* True when the summed symmetry translations allow (h k l). */
PK_API bool allowedReflexion(RefinementCrystal *crystal, int32_t h, int32_t k, int32_t l);

/* True for the member of a Friedel pair that is to be skipped. */
PK_API bool ignoreReflexionWithIndices(const int32_t *hkl);

/* qsort comparator of RefGenRec by decreasing d-spacing. */
PK_API int32_t compareRefGenRecByDSpacing(const void *a, const void *b);

/* Index of the record holding (h k l) or its negative among records[first …
 * last] (sorted by compareRefGenRecByDSpacing), or PK_NOT_FOUND. */
PK_API int32_t findPlaneWithIndices(RefinementCrystal *crystal, const int32_t *hkl,
                                    const RefGenRec *records, int32_t first, int32_t last);

/* The planes equivalent to (h k l): a new array of count × 3 integers, owned
 * by the caller (release with free), or NULL. `unused` is ignored. */
PK_API int32_t *planesRelatedBySymmetry(RefinementCrystal *crystal, const int32_t *hkl,
                                        uint8_t unused, int32_t *count);

/* ------------------------------------------------------------------------- */
/* Scattering                                                                */
/* ------------------------------------------------------------------------- */

/* X-ray scattering factor f (electrons) at d (Å). */
PK_API double xrayScatteringFactor(RefinementAtomicScatteringFactor *record, double dSpacing);

/* Neutron scattering length b (fm), 0 when absent. */
PK_API double neutronScatteringLength(RefinementAtomicScatteringFactor *record);

/* Marks runs of consecutive sites with equal occupants (Site.similarityIndex). */
PK_API void calculateSimilarityIndices(RefinementCrystal *crystal);

/* ------------------------------------------------------------------------- */
/* Intensities                                                               */
/* ------------------------------------------------------------------------- */

/* Structure factor, Lorentz-polarisation factor and integrated intensity of
 * one reflexion. */
PK_API void calculateIntensityForReflexion(RefinementCrystal *crystal, Reflexion *reflexion,
                                           RefinementProfile *profile);

/* relativeIntensity = intensity / maxIntensity over the list; false when no
 * intensity is positive. */
PK_API bool calculateRelativeIntensities(RefinementCrystal *crystal);

/* The companion reflexion for the second wavelength (owned by the caller), or
 * NULL. */
PK_API Reflexion *secondaryWavelengthReflexion(RefinementCrystal *crystal, Reflexion *reflexion,
                                               RefinementProfile *profile);

/* Drops and frees the reflexions whose intensity is zero. */
PK_API void removeZeroIntensityReflexions(RefinementCrystal *crystal);

/* Sets every reflexion's peakPosition on the profile's pattern axis. */
PK_API void calculatePeakPositionsForPlot(RefinementCrystal *crystal, RefinementProfile *profile);

/* March correction summed over the equivalent planes (replaces the
 * multiplicity); the multiplicity when preferred orientation is off.
 * 0.0 when memory for the equivalent planes runs out (a real correction is
 * always positive), so the intensities that use it come out 0 rather than
 * wrong; NULL arguments give 0.0 too. */
PK_API double preferredOrientationCorrectionForReflexion(RefinementCrystal *crystal,
                                                         Reflexion *reflexion);

/* Writes marchNormalization for the current preferredOrientation. */
PK_API void normalizeMarchEquation(RefinementCrystal *crystal);

/* ∫₀^π of the March function for parameter r (midpoint rule, 1000 steps). */
PK_API double integrateMarchEquationWithRValue(double r);

/* ------------------------------------------------------------------------- */
/* Profiles                                                                  */
/* ------------------------------------------------------------------------- */

/* The value function of a profile type 0 … 4, or NULL. */
PK_API ProfileFunction ProfileFuncForProfileType(int32_t profileType);

/* Sets the process-wide 2θ (degrees) above which peaks are symmetric; 50
 * at load time. */
PK_API void SetAsymmetryCutoff2Theta(double twoTheta);

/* True when the widths are real and positive over xMin … xMax; otherwise the
 * reason is in the error buffer (GetErrorBuffer). */
PK_API bool ProfileParametersAreValid(RefinementProfile *profile);

/* The nearest pattern point to the reflexion's peak and the window of
 * `window` points around it; false when the peak is off the pattern. */
PK_API bool FindReflexionRange(Reflexion *reflexion, const double *positions, int32_t count,
                               int32_t window, ReflexionRange *range);

/* ------------------------------------------------------------------------- */
/* Matrices                                                                  */
/* ------------------------------------------------------------------------- */

/* Releases a matrix; NULL does nothing. */
PK_API void freeMatrix(Matrix *m);

/* New matrix with src's shape and elements (release with freeMatrix), or NULL. */
PK_API Matrix *copyMatrix(const Matrix *src);

/* Copies src's elements into dst as one block (same shape). */
PK_API void fastCopyMatrixDst(Matrix *dst, const Matrix *src);

/* dst = a·b; nothing happens when the shapes do not fit. */
PK_API void multMatricesDst(Matrix *dst, const Matrix *a, const Matrix *b);

/* dst = dst − src, element by element. */
PK_API void subFromMatrix(Matrix *dst, const Matrix *src);

/* dst = srcᵀ; nothing happens when the shapes do not fit. */
PK_API void transposeMatrixDst(Matrix *dst, const Matrix *src);

/* dst = src⁻¹ by Gauss–Jordan elimination; false (dst = identity) when src is
 * not square or has a pivot below 1e-7. */
PK_API bool inverseMatrixDst(Matrix *dst, const Matrix *src);

/* ------------------------------------------------------------------------- */
/* Least squares and fit statistics                                          */
/* ------------------------------------------------------------------------- */

/* Makes or resizes every matrix for N observations and P parameters. */
PK_API bool prepareForRefinementCycle(LeastSquaresMatrices *ls, int32_t observationCount,
                                      int32_t parameterCount);

/* standardErrors = √diag(covariance) and the correlation matrix. */
PK_API bool calculateParameterCorrelationsAndErrors(LeastSquaresMatrices *ls);

/* residuals[i] = first[i] − second[i] over the vector length of residuals. */
PK_API void updateResidualsVector(Matrix *residuals, const double *first, const double *second);

/* Σ values[i]²·weights[i]. */
PK_API double calculateWeightedSumSquares(const double *values, const double *weights,
                                          int32_t count);

/* Σ values[i]. */
PK_API double calculateSumValues(const double *values, int32_t count);

/* χ² = Σ w·r² over the residual vector. */
PK_API double calculateChi2(const Matrix *residuals, const double *weights);

/* χ² / (N − P). */
PK_API double calculateGoodnessOfFit(double chi2, int32_t observationCount,
                                     int32_t parameterCount);

/* Rwp in percent: 100·√(χ² / Σ w·y²). */
PK_API double calculateWeightedProfileResidual(double chi2, double weightedObservedSquares);

/* Rp in percent: 100·Σ|r| / Σ y. */
PK_API double calculateProfileResidual(const Matrix *residuals, double observedSum);

/* Rexp in percent: 100·√((N − P) / Σ w·y²). */
PK_API double calculateExpectedProfileResidual(int32_t observationCount, int32_t parameterCount,
                                               double weightedObservedSquares);

/* ------------------------------------------------------------------------- */
/* Chebyshev background                                                      */
/* ------------------------------------------------------------------------- */

/* Σ B_i T_i(u), u = 2(x − xMin)/(xMax − xMin) − 1, for 13 coefficients. */
PK_API double BackgroundIntensity(const double *coefficients, double x, double xMin,
                                  double xMax);

/* The background at each of `count` positions; the range is x[0] … x[count−1]. */
PK_API void CalculateBackgroundIntensity(double *background, const double *coefficients,
                                         const double *x, int32_t count);

/* T_i(u); 0 for i outside 0 … 12. */
PK_API double DiffBackgroundIntensityWrtBi(int32_t i, double x, double xMin, double xMax);

/* Copies the profile's 13 background coefficients into buffer. */
PK_API void copyChebyschevPolynomialParametersToBuffer(const RefinementProfile *profile,
                                                       double *buffer);

/* ------------------------------------------------------------------------- */
/* Derivative tables and cell derivatives                                    */
/* ------------------------------------------------------------------------- */

/* "B0" … "B12" → BackgroundDerivativeFunction. Release with freeHashTable. */
PK_API HashTable *BackgroundDerivativesHashTable(void);

/* "a" … "gamma", "Ratio" → ReflexionDerivativeFunction. */
PK_API HashTable *ReflexionDerivativesHashTable(void);

/* Parameter key → ProfileDerivativeFunction for a profile type; values
 * outside 0 … 3 give the type-4 table. */
PK_API HashTable *ProfileDerivativesHashTable(int32_t profileType);

/* Standard uncertainty of the cell volume from cellParameterErrors, Å³. */
PK_API double UnitCellVolumeError(RefinementCrystal *crystal);

/* ------------------------------------------------------------------------- */
/* Symmetry and sites                                                        */
/* ------------------------------------------------------------------------- */

/* Expands every site into its distinct equivalent positions in the cell. */
PK_API void generateUnitCell(RefinementCrystal *crystal);

/* out = R·(v + origin) + t − origin; out may alias v or origin. Returns out. */
PK_API double *transformVectorWithDisplacedOrigin(double *out,
                                                  const RefinementSymmetryOperator *op,
                                                  const double *v, const double *origin);

/* The first operator carrying the site onto the atom (owned by the crystal),
 * or NULL. */
PK_API RefinementSymmetryOperator *symmetryOperatorRelatingAtomToSite(RefinementCrystal *crystal,
                                                                      RefinementAtom *atom,
                                                                      Site *site);

/* The six displacement constraint codes (U11 U22 U33 U23 U13 U12) that the
 * site symmetry imposes on the position (x, y, z). */
PK_API bool TemperatureConstraintsForASite(RefinementCrystal *crystal, const double *site,
                                           int32_t *constraints);

/* Prints every site's constraint codes on standard output. */
PK_API void FindTemperatureConstraintsForCrystal(RefinementCrystal *crystal);

/* Mean of the eigenvalues of the anisotropic tensor u, Å². Makes no
 * allocation (its work vectors live on the stack), so it cannot fail for
 * want of memory and has no failure value; a NULL record gives 0.0. */
PK_API double uIsoEquivalent(RefinementThermalEllipsoidUij *record);

/* ∂I/∂(occupancy of `occupant`, an occupant of `site`). */
PK_API double DiffReflexionIntensityWrtSiteOccupancy(RefinementCrystal *crystal,
                                                     Reflexion *reflexion,
                                                     RefinementProfile *profile, Site *site,
                                                     RefinementSiteOccupant *occupant);

/* ∂I/∂Uiso of the site, at the site's isotropic U (Å²). */
PK_API double DiffReflexionIntensityWrtSiteIsotropicTempFactor(RefinementCrystal *crystal,
                                                               Reflexion *reflexion,
                                                               RefinementProfile *profile,
                                                               Site *site, double uIso);

/* ∂I/∂Uij of the site; component is PK_ANISO_*. */
PK_API double DiffReflexionIntensityWrtSiteAnisotropicTempFactor(RefinementCrystal *crystal,
                                                                 Reflexion *reflexion,
                                                                 RefinementProfile *profile,
                                                                 Site *site, int32_t component);

/* ∂I/∂x, ∂y or ∂z of the site; axis is PK_SITE_AXIS_*. */
PK_API double DiffReflexionIntensityWrtSiteAxis(RefinementCrystal *crystal,
                                                Reflexion *reflexion,
                                                RefinementProfile *profile, Site *site,
                                                int32_t siteAxis);

/* Density in kg/m³ from the generated positions and the atomic weights. */
PK_API double calculateDensity(RefinementCrystal *crystal);

/* Sites grouped by their first occupant's symbol: a table of DynamicArrays of
 * Site pointers. Release each array with freeDynamicArray, then the table. */
PK_API HashTable *groupSitesByElement(RefinementCrystal *crystal);

/* ------------------------------------------------------------------------- */
/* Raw-pattern analysis                                                      */
/* ------------------------------------------------------------------------- */

/* Up to maxPeaks strongest maxima of a pattern of ≥ 100 points, in pattern
 * order; release the array with free. NULL when none. */
PK_API PeakRange *locatePeakRanges(PatternPoint *points, int32_t count, int32_t maxPeaks,
                                   int32_t *outCount);

/* Fits one pseudo-Voigt peak on a flat background; returns the 5 × 1 matrix
 * (x0, area, background, FWHM, η), release with freeMatrix, or NULL. */
PK_API Matrix *pseudoVoigtFit(PeakRange *range);

/* Unpacks the fitted parameters; 1 on success, 0 otherwise. */
PK_API int32_t peakParametersForPseudoVoigt(const Matrix *parameters, double *position,
                                            double *area, double *background, double *fwhm,
                                            double *eta);

/* The fitted curve at x. */
PK_API double pseudoVoigt(double x, const Matrix *parameters);

/* A smooth background at every point of a pattern of ≥ 200 points: a new
 * array of `count` points (release with free), or NULL. */
PK_API PatternPoint *fittedBackground(const PatternPoint *points, int32_t count);

/* ------------------------------------------------------------------------- */
/* Element table                                                             */
/* ------------------------------------------------------------------------- */

/* Writes the built-in element table to `directory`/ASF.dat with CR LF line
 * ends; does nothing when the directory does not exist. */
PK_API void load(const char *directory);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* POWDERKIT_H */
