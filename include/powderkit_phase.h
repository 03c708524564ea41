/*
 * powderkit_phase.h — the phase layer of powderkit: whole crystals from CIF
 * files or space-group symbols, reflexion lists, calculated patterns of one or
 * more phases and measured patterns, each in one call.
 *
 * Conventions
 * -----------
 *  - Objects are opaque handles made by a pk_*_make / pk_*_from_* function and
 *    released by the matching pk_*_free, which accepts NULL.
 *  - Every function that can fail returns a status (PK_OK = 0 on success) and,
 *    when `error` is not NULL, fills the caller's pk_error with the status and a
 *    message naming the file and line, or the field, and what was wrong. On
 *    failure no handle is returned (the out pointer is set to NULL) and nothing
 *    is left half made. Nothing prints, aborts or throws.
 *  - Arrays cross as pointer + count; the caller owns every array it passes.
 *    A function that fills an array of `capacity` entries writes at most that
 *    many and fails with PK_ERROR_ARGUMENT when it is too small.
 *  - Units: lengths in Å, cell angles and 2θ in degrees, time of flight in
 *    milliseconds on the pattern axis (µs for the calibration and the zero),
 *    displacements U in Å², sample displacement and goniometer radius in mm.
 *  - A made phase, reflexion list or pattern model is read-only afterwards:
 *    any number of threads may compute from one object at the same time.
 *    Text returned by an accessor lives as long as its object.
 *
 * The header is valid C11 and C++17. It stands beside powderkit.h, whose type
 * codes (PK_PROFILE_*, PK_RADIATION_*) it uses.
 */
#ifndef POWDERKIT_PHASE_H
#define POWDERKIT_PHASE_H

#include <stdbool.h>
#include <stdint.h>

#include "powderkit.h"

#if defined(_WIN32)
#  if defined(PK_BUILDING_PHASE_LIBRARY)
#    define PK_PHASE_API __declspec(dllexport)
#  else
#    define PK_PHASE_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) || defined(__clang__)
#  define PK_PHASE_API __attribute__((visibility("default")))
#else
#  define PK_PHASE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------- */
/* Statuses and the error record                                             */
/* ------------------------------------------------------------------------- */

enum {
    PK_OK = 0,
    PK_ERROR_ARGUMENT = 1,      /* a field or argument out of its range, or NULL */
    PK_ERROR_FILE = 2,          /* a file missing or unreadable */
    PK_ERROR_FORMAT = 3,        /* a file or text that does not parse */
    PK_ERROR_CRYSTAL = 4,       /* a crystal that cannot be (bad cell, symmetry, sites) */
    PK_ERROR_OUT_OF_MEMORY = 5, /* an allocation failed */
    PK_ERROR_INTERNAL = 6,      /* anything else; the message says what */
    PK_ERROR_STOPPED = 7        /* the thread's progress handler asked to stop */
};

/* Long work of this thread (listing the reflexions of a large cell, their
 * structure factors and peaks, which for a 500 Å cell take tens of seconds)
 * calls the handler about every quarter second with the fraction of that
 * step done (0 … 1) and the step's name ("listing reflexions", "structure
 * factors", …). A non-zero return stops the work: the call fails with
 * PK_ERROR_STOPPED and changes nothing. The handler belongs to the thread
 * that sets it; NULL removes it. A refinement run's own callback is apart. */
typedef int32_t (*pk_progress_handler)(void *context, double fraction, const char *stage);
PK_PHASE_API void pk_set_progress_handler(pk_progress_handler handler, void *context);

/* Capacity of pk_error.message, in bytes, NUL included. */
#define PK_ERROR_MESSAGE_SIZE 512

/* What went wrong, filled by a failing function. Caller-owned. */
typedef struct pk_error {
    int32_t code;                          /* PK_ERROR_*, or PK_OK */
    char message[PK_ERROR_MESSAGE_SIZE];   /* UTF-8, NUL-terminated */
} pk_error;

/* The library's version text, "MAJOR.MINOR.PATCH". */
PK_PHASE_API const char *pk_version(void);

/* ------------------------------------------------------------------------- */
/* Instrument                                                                */
/* ------------------------------------------------------------------------- */

/* The pattern axis. */
enum {
    PK_AXIS_TWO_THETA = 0, /* constant wavelength, 2θ in degrees */
    PK_AXIS_TOF = 1        /* time of flight, milliseconds */
};

/* The source and the geometry of one measurement. Fill it with
 * pk_instrument_default and change what differs. */
typedef struct pk_instrument {
    int32_t axis;            /* PK_AXIS_TWO_THETA or PK_AXIS_TOF */
    int32_t radiation;       /* PK_RADIATION_XRAY or PK_RADIATION_NEUTRON */
    double wavelength;       /* Å, the (Kα1) line */
    double wavelength2;      /* Å, the Kα2 line; 0 for a single line */
    double ratio2;           /* intensity of the Kα2 line over that of Kα1 (0.5 for Cu) */
    double zero;             /* zero shift: degrees 2θ, or µs of flight time */
    double displacement;     /* Bragg–Brentano sample displacement s, mm (+ towards the source side) */
    double radius;           /* goniometer radius R, mm; the displacement moves 2θ by
                                −(2 s cos θ / R)·(180/π) degrees */
    double tof_two_theta;    /* 2θ of the time-of-flight bank, degrees */
    double dtt1, dtt2;       /* TOF(µs) = dtt1·d + dtt2·d² + zero; dtt1 > 0, and dtt2 may be
                                negative down to −dtt1/200 (the time still rising at d = 100 Å) */
    double monochromator;    /* 2θ_M of a monochromator crystal, degrees, 0 for none
                                (graphite 002 for Cu Kα 26.6°, Ge 111 27.3°): the X-ray
                                polarisation (1 + cos² 2θ_M cos² 2θ) / (1 + cos² 2θ_M)
                                replaces (1 + cos² 2θ) / 2 on a 2θ axis */
    int32_t dispersion;      /* 1 (the default): X-ray scattering factors f0 + f′ + i f″
                                with the anomalous dispersion of each line; 0: f0 alone */
    double absorption;       /* μR of a Debye–Scherrer capillary (μ linear absorption
                                coefficient, R its radius), 0 (none) … PK_ABSORPTION_MAX:
                                intensity × the cylinder's transmission at 2θ, the mean of
                                exp(−μR (path in + path out)) over its cross-section
                                (radius 1), normalised to 1 at μR = 0; within 2e-7 of
                                the exact integral */
    double roughness_p;      /* Bragg–Brentano surface roughness, Suortti's two terms, 0 ≤ p ≤ 1 */
    double roughness_q;      /* and q ≥ 0: intensity × [1 − p e^(−q) + p e^(−q / sin θ)]; p = 0 for none */
    double transparency;     /* Bragg–Brentano sample transparency 1/μ ≥ 0, mm (0 for none): 2θ
                                moves by −(1/μ) sin 2θ / (2R) · (180/π) degrees.
                                absorption, roughness and transparency are for a 2θ axis:
                                on time of flight they must be 0 */
} pk_instrument;

/* Largest μR of pk_instrument.absorption: the capillary transmission is
 * computed to 2e-7 up to it, and refused beyond it. */
#define PK_ABSORPTION_MAX 10.0

/* Cu Kα1 X-rays alone (1.540593 Å), 2θ axis, no zero, no displacement, a
 * goniometer radius of 240 mm, no monochromator, anomalous dispersion on, no
 * absorption, roughness or transparency; time-of-flight fields at 90°,
 * dtt1 = 1000. */
PK_PHASE_API void pk_instrument_default(pk_instrument *instrument);

/* The source a pattern or refinement takes when the user names none (the
 * command's and the Python package's one rule): pk_instrument_default with
 * Cu Kα1 + Kα2, the usual laboratory tube. A refinement of a pattern whose
 * file names no lines then decides from its peaks whether the Kα2 line is
 * there (pk_refinement_options.alpha2_from_data). */
PK_PHASE_API void pk_instrument_default_source(pk_instrument *instrument);

/* Sets the X-ray lines of an anode by name ("Cu", "Co", "Mo", "Fe", "Cr",
 * "Ag"): Kα1, and Kα2 with its intensity ratio when `with_alpha2`. */
PK_PHASE_API int32_t pk_instrument_set_anode(pk_instrument *instrument, const char *anode,
                                             bool with_alpha2, pk_error *error);

/* The Kα1 and Kα2 wavelengths (Å) and the Kα2/Kα1 intensity ratio of an anode. */
PK_PHASE_API int32_t pk_anode_lines(const char *anode, double *alpha1, double *alpha2,
                                    double *ratio, pk_error *error);

/* The anomalous-dispersion terms f′ and f″ (electrons) of the element of a
 * site type ("Fe", "Fe3+", "O2-") at an X-ray wavelength (Å): the layer's
 * table (Henke, Gullikson and Davis, Atomic Data and Nuclear Data Tables 54,
 * 1993: f′ = f1 − Z, f″ = f2), interpolated linearly in energy. It holds H to
 * U from 0.4133 to 4.1328 Å (3 to 30 keV), so every anode's Kα1 and Kα2. */
PK_PHASE_API int32_t pk_anomalous_dispersion(const char *type, double wavelength, double *f_prime,
                                             double *f_double_prime, pk_error *error);

/* ------------------------------------------------------------------------- */
/* Profile                                                                   */
/* ------------------------------------------------------------------------- */

/* The peak shape of one phase. Fill it with pk_profile_default. */
typedef struct pk_profile {
    int32_t type;               /* PK_PROFILE_* of powderkit.h */
    double U, V, W;             /* Gaussian H_G² = U tan²θ + V tanθ + W, degrees² */
    double X, Y;                /* Lorentzian H_L = X / cosθ + Y tanθ, degrees */
    double asymmetry;           /* asymmetry P of the constant-wavelength shapes */
    double asymmetry_cutoff;    /* 2θ (degrees) above which peaks are symmetric */
    double sigma0, sigma1, sigma2; /* TOF σ² = σ0 + σ1 d² + σ2 d⁴, µs² */
    double gamma0, gamma1, gamma2; /* TOF γ = γ0 + γ1 d + γ2 d², µs */
    double alpha0, alpha1;      /* TOF α = α0 + α1/d, 1/µs */
    double beta0, beta1;        /* TOF β = β0 + β1/d⁴, 1/µs */
    double axial_sl, axial_hl;  /* axial divergence S/L and H/L (dimensionless, 0 … PK_AXIAL_MAX):
                                   sample and detector half-heights over the distance from
                                   sample to detector; both 0: none */
} pk_profile;

/* Largest S/L and H/L of pk_profile.axial_sl and axial_hl. */
#define PK_AXIAL_MAX 0.1

/* The two asymmetries of the constant-wavelength shapes. With axial_sl +
 * axial_hl > 0 each peak is the symmetric shape convolved with the
 * Finger–Cox–Jephcoat axial-divergence function (J. Appl. Cryst. 27 (1994)
 * 892) at every angle: its tail lies towards lower 2θ below 90° and towards
 * higher 2θ above, its area is kept and its reported position stays 2θ₀. The
 * asymmetry P is the other, empirical description of the same effect: a
 * profile that sets both (P > 0 and axial_sl + axial_hl > 0) is refused, so
 * set asymmetry to 0 when you give the axial divergence. asymmetry_cutoff
 * concerns P alone. Time-of-flight shapes take neither. The function is the
 * same with S/L and H/L swapped: a refinement keeps them in the order they
 * start in, and cannot move them apart from equal values. */

/* A typical laboratory diffractometer for the 2θ types (pseudo-Voigt:
 * U 0.004, V −0.002, W 0.003, X 0.02, Y 0.01, asymmetry 0.02 below 50°);
 * a typical backscattering bank for the time-of-flight types (σ1 40,
 * α1 0.1, β0 0.03, β1 0.005, γ1 2). */
PK_PHASE_API int32_t pk_profile_default(pk_profile *profile, int32_t type, pk_error *error);

/* The profile a pattern or refinement takes when none is given: for a
 * time-of-flight axis the time-of-flight pseudo-Voigt's default; for
 * constant-wavelength neutrons the pseudo-Voigt's widths with the axial
 * divergence of a neutron diffractometer (axial_sl 0.02, axial_hl 0.03: a
 * sample about 6 cm and detectors about 9 cm tall on a 1.5 m circle) in place
 * of the asymmetry P; else the pseudo-Voigt's default. */
PK_PHASE_API int32_t pk_profile_default_for(pk_profile *profile, const pk_instrument *instrument, pk_error *error);

/* ------------------------------------------------------------------------- */
/* Instrument files                                                          */
/* ------------------------------------------------------------------------- */

/* An instrument file keeps what a refinement of a standard (Si, LaB6, CeO2)
 * learns about a diffractometer, so that each sample's refinement starts from
 * it: one pk_instrument and the profile of the standard. It is JSON, UTF-8:
 *
 *   {"format": "powderkit-instrument", "version": 1,
 *    "instrument": {"axis": "two_theta", "radiation": "xray",
 *                   "wavelength": 1.540593, "wavelength2": 1.544414, "ratio2": 0.5,
 *                   "zero": -0.012, "displacement": 0.031, "radius": 240, ...},
 *    "profile": {"type": "pseudo_voigt", "U": 0.004, "V": -0.002, ...}}
 *
 * Required: "format" (exactly "powderkit-instrument"), "version" (1),
 * "instrument" with "wavelength", "profile" with "type". Every other key may
 * be left out and then takes the value of pk_instrument_default or of
 * pk_profile_default for the type. Keys of "instrument" (units as in the record):
 *   axis           "two_theta" (default) or "tof"
 *   radiation      "xray" (default) or "neutron"
 *   wavelength     Å, > 0;  wavelength2 Å, ≥ 0 (0: one line, the default)
 *   ratio2         ≥ 0 (default 0)
 *   zero           degrees 2θ or µs (default 0)
 *   displacement   mm (default 0);  radius mm, > 0 (default 240)
 *   tof_two_theta  degrees, 0 … 180 (default 90);  dtt1 µs/Å (default 1000), dtt2 µs/Å² (default 0)
 *   monochromator  2θ_M degrees, 0 (none, the default) … below 180
 *   dispersion     true (the default) or false
 *   absorption     μR, 0 … 10;  roughness_p 0 … 1;  roughness_q ≥ 0;  transparency mm, ≥ 0 (defaults 0)
 * Keys of "profile": type ("gaussian", "lorentzian", "pseudo_voigt",
 * "tof_exp_gaussian", "tof_exp_pseudo_voigt": a 2θ shape on a 2θ axis, a
 * time-of-flight shape on a time-of-flight axis), and the numbers U V W X Y
 * asymmetry (≥ 0) asymmetry_cutoff sigma0 sigma1 sigma2 gamma0 gamma1 gamma2
 * alpha0 alpha1 beta0 beta1 axial_sl axial_hl (each 0 … PK_AXIAL_MAX, and not
 * beside an asymmetry above 0: a profile with an axial divergence takes
 * asymmetry 0 when the file leaves it out) of pk_profile.
 * Reading refuses, naming the key: another format or version, a key it does
 * not know (a misspelt key never passes silently), a value of the wrong type,
 * a missing required key and a value out of its range. */

/* Writes the instrument file `path`: first to a temporary file beside it,
 * then renamed over it, so that a failure leaves the old file or none, never
 * half of the new one. Refuses values a reader would refuse. */
PK_PHASE_API int32_t pk_instrument_file_write(const char *path, const pk_instrument *instrument,
                                              const pk_profile *profile, pk_error *error);

/* Reads the instrument file `path` into *instrument and *profile, which are
 * left as they were when it fails (PK_ERROR_FILE: cannot be read;
 * PK_ERROR_FORMAT: not such a file, the message naming the key). */
PK_PHASE_API int32_t pk_instrument_file_read(const char *path, pk_instrument *instrument,
                                             pk_profile *profile, pk_error *error);

/* Instrument parameter files of the GSAS family are read too, recognised by
 * content (anything but a JSON object): INS records (.prm, .inst: HTYPE,
 * ICONS, BNKPAR, PRCFn) and key:value lines (.instprm: Type, Lam, Zero, U V
 * W X Y, difC difA, alpha beta-0 beta-1 sig-0 sig-1 sig-2, 2-theta …). Their
 * Gaussian terms (variances, centidegrees²) become the FWHM² of pk_profile
 * (U = 8 ln 2 · U_file / 10⁴ degrees²), their Lorentzian terms (centidegrees)
 * degrees; the zero of INS records is in centidegrees. Terms the layer does
 * not model (Z, beta-q, sig-q, …) are named in the warnings when not zero.
 * A time-of-flight entry's difB (TOF = difC d + difA d² + difB / d + zero),
 * which pk_instrument does not hold, is read by pk_instrument_file_difb; a
 * refinement takes it as its parameter "difB" (pk_refinement_set_value), a
 * pattern model leaves it out. */

/* Reads bank `bank` of an instrument file (the bank number the file gives;
 * 0: the first) into *instrument and *profile, left as they were on failure.
 * A JSON file holds one (bank 0 or 1). A file whose entries share a bank's
 * label fails naming it, as does a bank it does not hold (PK_ERROR_ARGUMENT).
 * The reader's warnings (other banks, terms not used), one per line, are
 * copied NUL-terminated into warnings[capacity], cut to fit; `warnings` may
 * be NULL; *size (may be NULL) receives the bytes they need, NUL included. */
PK_PHASE_API int32_t pk_instrument_file_read_bank(const char *path, int32_t bank, pk_instrument *instrument,
                                                  pk_profile *profile, char *warnings, int32_t capacity,
                                                  int32_t *size, pk_error *error);
/* The same from the file's content (NUL-terminated); `name` names it in messages. */
PK_PHASE_API int32_t pk_instrument_file_read_text_bank(const char *text, const char *name, int32_t bank,
                                                       pk_instrument *instrument, pk_profile *profile,
                                                       char *warnings, int32_t capacity, int32_t *size,
                                                       pk_error *error);
/* The difB (µs·Å) of bank `bank` of an instrument file into *difb: 0 when
 * the file does not give it (a JSON file, a constant-wavelength bank). Fails
 * as pk_instrument_file_read_bank does, *difb then unchanged. */
PK_PHASE_API int32_t pk_instrument_file_difb(const char *path, int32_t bank, double *difb, pk_error *error);

/* The same as text: the file's content (NUL-terminated) into text[capacity];
 * *size receives the bytes needed, NUL included, also when the buffer is too
 * small (which fails). */
PK_PHASE_API int32_t pk_instrument_file_write_text(const pk_instrument *instrument, const pk_profile *profile,
                                                   char *text, int32_t capacity, int32_t *size, pk_error *error);

/* Reads an instrument file's content (NUL-terminated); `name` names it in messages. */
PK_PHASE_API int32_t pk_instrument_file_read_text(const char *text, const char *name, pk_instrument *instrument,
                                                  pk_profile *profile, pk_error *error);

/* ------------------------------------------------------------------------- */
/* Phases                                                                    */
/* ------------------------------------------------------------------------- */

/* One complete crystal: cell, symmetry operators, sites. */
typedef struct pk_phase pk_phase;

/* One site of the asymmetric unit, as given in code. */
typedef struct pk_site {
    const char *label;     /* unique within the phase */
    const char *type;      /* element or ion symbol: "Fe", "O2-", "Fe3+" */
    double x, y, z;        /* fractional coordinates */
    double occupancy;      /* 0 … 1 */
    double u_iso;          /* isotropic U, Å² (used when has_u_aniso is 0) */
    uint8_t has_u_aniso;   /* u_aniso holds the six Uij */
    double u_aniso[6];     /* U11 U22 U33 U12 U13 U23, Å² */
} pk_site;

/* A phase from a CIF file: the data block named `block`, or the first when
 * `block` is NULL. The phase is named after its data block. */
PK_PHASE_API int32_t pk_phase_from_cif_file(const char *path, const char *block,
                                            pk_phase **phase, pk_error *error);

/* The same from CIF text in memory (`text` NUL-terminated). */
PK_PHASE_API int32_t pk_phase_from_cif_text(const char *text, const char *block,
                                            pk_phase **phase, pk_error *error);

/* A phase from a space-group symbol (Hermann–Mauguin with an optional setting
 * such as ":H", ":R", ":1", ":2", or a Hall symbol), a cell (a b c in Å,
 * α β γ in degrees) and `site_count` sites. */
PK_PHASE_API int32_t pk_phase_from_symbol(const char *name, const char *symbol,
                                          const double cell[6], const pk_site *sites,
                                          int32_t site_count, pk_phase **phase,
                                          pk_error *error);

/* The same from explicit operators "x,y,z", "-y,x-y,z+1/3", … (`operator_count`
 * of them, identity included), checked to form a group. */
PK_PHASE_API int32_t pk_phase_from_operators(const char *name, const char *const *operators,
                                             int32_t operator_count, const double cell[6],
                                             const pk_site *sites, int32_t site_count,
                                             pk_phase **phase, pk_error *error);

PK_PHASE_API void pk_phase_free(pk_phase *phase);

/* The phase's name (its data block, or the name given). */
PK_PHASE_API const char *pk_phase_name(const pk_phase *phase);

/* The space-group symbol, as read or given; "" when only operators were given. */
PK_PHASE_API const char *pk_phase_symbol(const pk_phase *phase);

/* What the description left open and how it was read, one per line ("" when
 * nothing): a symbol of a group with two origin choices that names neither
 * is read as origin choice 1; a phase without atom sites has every |F|² zero
 * (it serves reflexion positions and Le Bail refinement). Lives as long as
 * the phase. */
PK_PHASE_API const char *pk_phase_warnings(const pk_phase *phase);

/* a b c (Å) α β γ (degrees) into cell[6], and the cell volume (Å³). */
PK_PHASE_API int32_t pk_phase_cell(const pk_phase *phase, double cell[6], double *volume);

/* Number of sites, and one site by index (its texts live as long as the phase). */
PK_PHASE_API int32_t pk_phase_site_count(const pk_phase *phase);
PK_PHASE_API int32_t pk_phase_site(const pk_phase *phase, int32_t index, pk_site *site,
                                   pk_error *error);

/* Number of symmetry operators, and one as R (row-major) and t: x' = R·x + t. */
PK_PHASE_API int32_t pk_phase_operator_count(const pk_phase *phase);
PK_PHASE_API int32_t pk_phase_operator(const pk_phase *phase, int32_t index,
                                       int32_t rotation[9], double translation[3],
                                       pk_error *error);

/* The core's records of a phase, for hosts that go on with the core's own
 * functions (derivatives, least squares): a new RefinementCrystal, released
 * with freeRefinementCrystal, holding the cell with its reciprocal cell and
 * metric tensors, the operators, the sites with their scattering data and
 * displacements (useAnisotropicDisplacement set, the sites expanded into the
 * cell) and, when d_min > 0, one Reflexion per set of equivalent planes down
 * to d_min, largest d first, with h k l, multiplicity and d (intensities not
 * yet computed). The operators' coordinate texts belong to the phase: free
 * the crystal before the phase. */
PK_PHASE_API int32_t pk_phase_core_crystal(const pk_phase *phase, double d_min,
                                           RefinementCrystal **crystal, pk_error *error);

/* ------------------------------------------------------------------------- */
/* Reflexion lists                                                           */
/* ------------------------------------------------------------------------- */

/* The reflexions of one phase for one instrument, largest d first, one entry
 * per set of equivalent planes (Friedel mates included in the multiplicity),
 * and the same merged into observed lines. */
typedef struct pk_reflexion_list pk_reflexion_list;

/* How the list is cut. */
enum {
    PK_LIMIT_D_MIN = 0,   /* down to a d-spacing, Å */
    PK_LIMIT_X_MAX = 1    /* up to a 2θ (degrees) or a flight time (ms) */
};

/* Quantities of an entry or a line, for pk_reflexion_list_values and
 * pk_reflexion_list_line_values. */
enum {
    PK_QUANTITY_D = 0,            /* d-spacing, Å */
    PK_QUANTITY_X = 1,            /* 2θ (degrees, zero included) or flight time (ms) */
    PK_QUANTITY_F2 = 2,           /* |F|² of one reflexion for the radiation (entries only) */
    PK_QUANTITY_LP = 3,           /* Lorentz(-polarisation) factor (entries only) */
    PK_QUANTITY_INTENSITY = 4,    /* |F|²·Lp·λ³/V²·multiplicity (lines: summed) */
    PK_QUANTITY_RELATIVE = 5,     /* intensity relative to the strongest, 0 … 100 */
    PK_QUANTITY_MULTIPLICITY = 6  /* multiplicity (entries; lines: summed) */
};

/* Lists the reflexions of `phase` down to d = `limit` (PK_LIMIT_D_MIN) or up
 * to x = `limit` on the instrument's axis (PK_LIMIT_X_MAX); on a 2θ axis the
 * list stops at 2θ = 179.9° (below d = λ/2 no reflexion can be seen). Absences follow
 * the exact rule; reflexions that symmetry allows but whose |F|² is zero are
 * kept. The instrument's Kα2 line plays no part here. */
PK_PHASE_API int32_t pk_reflexion_list_make(const pk_phase *phase,
                                            const pk_instrument *instrument, int32_t limit_kind,
                                            double limit, pk_reflexion_list **list,
                                            pk_error *error);
PK_PHASE_API void pk_reflexion_list_free(pk_reflexion_list *list);

PK_PHASE_API int32_t pk_reflexion_list_count(const pk_reflexion_list *list);

/* h k l of every entry into hkl[3·capacity] (one representative of each set). */
PK_PHASE_API int32_t pk_reflexion_list_indices(const pk_reflexion_list *list, int32_t *hkl,
                                               int32_t capacity, pk_error *error);

/* One PK_QUANTITY_* of every entry into values[capacity]. */
PK_PHASE_API int32_t pk_reflexion_list_values(const pk_reflexion_list *list, int32_t quantity,
                                              double *values, int32_t capacity,
                                              pk_error *error);

/* Observed lines: entries whose d agree within 1e-5 Å are one line. */
PK_PHASE_API int32_t pk_reflexion_list_line_count(const pk_reflexion_list *list);

/* One PK_QUANTITY_* (D, X, INTENSITY, RELATIVE, MULTIPLICITY) of every line. */
PK_PHASE_API int32_t pk_reflexion_list_line_values(const pk_reflexion_list *list,
                                                   int32_t quantity, double *values,
                                                   int32_t capacity, pk_error *error);

/* The members of every line: line i holds the entries first[i] …
 * first[i] + count[i] − 1 of the list. */
PK_PHASE_API int32_t pk_reflexion_list_line_members(const pk_reflexion_list *list,
                                                    int32_t *first, int32_t *count,
                                                    int32_t capacity, pk_error *error);

/* ------------------------------------------------------------------------- */
/* Calculated patterns                                                       */
/* ------------------------------------------------------------------------- */

/* One phase of a pattern and how it appears in it. */
typedef struct pk_phase_setting {
    const pk_phase *phase;      /* borrowed: must outlive the model */
    double scale;               /* scale factor */
    const pk_profile *profile;  /* copied; NULL for pk_profile_default of the pseudo-Voigt
                                   (or of the TOF pseudo-Voigt on a TOF axis) */
    uint8_t use_march;          /* apply the March preferred-orientation correction */
    double march_ratio;         /* March r (1 = none; < 1 platelets, > 1 needles) */
    double march_axis[3];       /* the preferred plane normal (h k l) */
} pk_phase_setting;

/* A calculated pattern of one or more phases and one Chebyshev background:
 * everything that depends only on the model is computed when it is made. */
typedef struct pk_pattern_model pk_pattern_model;

/* Makes the model of `phase_count` phases for `instrument` on the span
 * x_min … x_max of the axis (the reflexions that can reach it), with
 * `background_count` (≤ 13) Chebyshev coefficients over that span. */
PK_PHASE_API int32_t pk_pattern_model_make(const pk_instrument *instrument,
                                           const pk_phase_setting *phases, int32_t phase_count,
                                           const double *background, int32_t background_count,
                                           double x_min, double x_max,
                                           pk_pattern_model **model, pk_error *error);
PK_PHASE_API void pk_pattern_model_free(pk_pattern_model *model);

/* Which part of the pattern pk_pattern_model_compute fills. */
enum {
    PK_PART_TOTAL = -1,      /* every phase plus the background */
    PK_PART_BACKGROUND = -2  /* the background alone; 0 … phase_count − 1: that phase alone */
};

/* Fills y[count] with the part of the pattern at x[count] (ascending). No
 * allocation: call it as often as needed, from any number of threads. */
PK_PHASE_API int32_t pk_pattern_model_compute(const pk_pattern_model *model, int32_t part,
                                              const double *x, int32_t count, double *y,
                                              pk_error *error);

/* Number of phases of the model, and the peak positions (axis units) of one
 * phase's reflexions inside the span, Kα1 only, in ascending order, into
 * positions[capacity]; *written receives how many. */
PK_PHASE_API int32_t pk_pattern_model_phase_count(const pk_pattern_model *model);
PK_PHASE_API int32_t pk_pattern_model_peak_positions(const pk_pattern_model *model,
                                                     int32_t phase_index, double *positions,
                                                     int32_t capacity, int32_t *written,
                                                     pk_error *error);

/* One call: the pattern of the phases plus background at x[count] into y. */
PK_PHASE_API int32_t pk_pattern(const pk_instrument *instrument, const pk_phase_setting *phases,
                                int32_t phase_count, const double *background,
                                int32_t background_count, const double *x, int32_t count,
                                double *y, pk_error *error);

/* ------------------------------------------------------------------------- */
/* Measured patterns                                                         */
/* ------------------------------------------------------------------------- */

/* A measured pattern: x ascending, y, and σ of every point. */
typedef struct pk_measured_pattern pk_measured_pattern;

/* Reads a measured pattern, its format recognised by content whatever the
 * file's extension:
 *  - XRDML (XML): the first scan's 2θ axis (degrees; start and end positions
 *    spread evenly over the points, or a list of positions) and its counts;
 *    count rates (unit cps) with their counting time, σ then being the
 *    counting error of the counts in the rate's unit. The wavelengths the file
 *    names (Kα1, Kα2, their ratio) are kept: pk_measured_pattern_wavelengths.
 *  - GSAS raw data: a title line (blank, or with stray bytes), '#' comment
 *    and "Instrument parameter" lines, then BANK lines, each followed by its
 *    data. Constant wavelength: BINTYP CONST or CONS (2θ start and step in
 *    centidegrees), the data as STD (counter count and intensity, σ =
 *    √(counts) over the counters), ESD (intensity and esd pairs) or FXYE (2θ
 *    in centidegrees, intensity, esd per line). Time of flight: BINTYP SLOG
 *    (start and end in µs, log step Δt/t) with STD, ESD or FXYE (x the flight
 *    time in µs), and RALF with ALT records (flight time × 32, intensity,
 *    esd); the pattern's x are then milliseconds (pk_measured_pattern_axis).
 *    Points with esd 0 carry no weight and are left out; data beyond the
 *    points a BANK line names are ignored; both with a warning.
 *  - Bruker RAW version 1 (binary, "RAW1.01"): one range of 2θ steps, counts,
 *    and the wavelengths the file names.
 *  - otherwise two- or three-column text (x y, or x y σ), separated by
 *    whitespace or commas, '#', '!' and apostrophe (') comments and one header line
 *    tolerated.
 * Where σ is absent it is √y, and 1 for zero counts. A malformed file fails
 * with PK_ERROR_FORMAT naming the line (or byte offset) and what was wrong.
 * The first bank (GSAS) or range (Bruker RAW) is read, with a warning naming
 * the others; pk_measured_pattern_read_file_bank reads another. */
PK_PHASE_API int32_t pk_measured_pattern_read_file(const char *path,
                                                   pk_measured_pattern **pattern,
                                                   pk_error *error);
/* The same from text in memory (NUL-terminated); `name` names it in messages. */
PK_PHASE_API int32_t pk_measured_pattern_read_text(const char *text, const char *name,
                                                   pk_measured_pattern **pattern,
                                                   pk_error *error);
/* Reads bank `bank` of the file: the GSAS BANK of that number, the Bruker RAW
 * range of that position (1-based); 0 reads the first. A format of one
 * pattern takes 0 or 1. PK_ERROR_ARGUMENT names the banks there are when the
 * file holds no such bank. */
PK_PHASE_API int32_t pk_measured_pattern_read_file_bank(const char *path, int32_t bank,
                                                        pk_measured_pattern **pattern, pk_error *error);
/* The same from text in memory (NUL-terminated). */
PK_PHASE_API int32_t pk_measured_pattern_read_text_bank(const char *text, const char *name, int32_t bank,
                                                        pk_measured_pattern **pattern, pk_error *error);
/* What the reader ignored or left out (other banks, points without weight,
 * data beyond the declared count), one line each ending in a newline, each
 * opening with the file's name; "" when nothing. Lives as long as the pattern. */
PK_PHASE_API const char *pk_measured_pattern_warnings(const pk_measured_pattern *pattern);
/* The axis of the pattern's x: PK_AXIS_TWO_THETA (degrees) or PK_AXIS_TOF
 * (milliseconds); PK_AXIS_TWO_THETA for NULL. */
PK_PHASE_API int32_t pk_measured_pattern_axis(const pk_measured_pattern *pattern);
/* A pattern from arrays of `count` (≥ 2) points, copied: x strictly
 * ascending, y ≥ 0, all finite; `sigma` (each > 0) may be NULL, and then σ is
 * √y, and 1 for zero counts. Fails naming the first bad point. */
PK_PHASE_API int32_t pk_measured_pattern_make(const double *x, const double *y,
                                              const double *sigma, int32_t count,
                                              pk_measured_pattern **pattern, pk_error *error);
PK_PHASE_API void pk_measured_pattern_free(pk_measured_pattern *pattern);

PK_PHASE_API int32_t pk_measured_pattern_count(const pk_measured_pattern *pattern);
/* Read-only views of the arrays, `count` values each; live as long as the pattern. */
PK_PHASE_API const double *pk_measured_pattern_x(const pk_measured_pattern *pattern);
PK_PHASE_API const double *pk_measured_pattern_y(const pk_measured_pattern *pattern);
PK_PHASE_API const double *pk_measured_pattern_sigma(const pk_measured_pattern *pattern);
/* The X-ray lines the pattern's file named: Kα1 and Kα2 in Å, and the Kα2/Kα1
 * intensity ratio; 0 for each the file did not name (text columns, GSAS raw
 * data, a pattern made from arrays). Any of the three may be NULL. */
PK_PHASE_API int32_t pk_measured_pattern_wavelengths(const pk_measured_pattern *pattern, double *alpha1,
                                                     double *alpha2, double *ratio, pk_error *error);

/* ------------------------------------------------------------------------- */
/* Peak lists of measured patterns                                           */
/* ------------------------------------------------------------------------- */

/* One fitted peak of a measured pattern, with the esd of every value. With a
 * Kα2 line in the search, the position, d, height and area are those of the
 * Kα1 line alone (the Kα2 copy's area is ratio2 times it); the FWHM and η are
 * both lines'. */
typedef struct pk_peak {
    double position, position_esd;   /* x of the maximum: degrees 2θ (or the axis unit) */
    double d, d_esd;                 /* d-spacing, Å (0 when no wavelength is known) */
    double height, height_esd;       /* height above the background, counts */
    double fwhm, fwhm_esd;           /* full width at half maximum, axis units */
    double eta, eta_esd;             /* pseudo-Voigt mixing, 0 (Gaussian) … 1 (Lorentzian) */
    double area, area_esd;           /* integrated area above the background, counts × axis unit */
} pk_peak;

/* A candidate maximum whose fit failed, and why. */
typedef struct pk_peak_failure {
    double position;                 /* x of the candidate */
    char reason[128];                /* UTF-8, NUL-terminated */
} pk_peak_failure;

/* How peaks are searched for. Fill it with pk_peak_search_default. */
typedef struct pk_peak_search {
    double significance;   /* fitted height over its own esd a peak must exceed */
    double merge_fraction; /* candidates closer than this fraction of the FWHM are one line */
    double wavelength;     /* Å, the Kα1 line, for d; 0: no d */
    double wavelength2;    /* Å, the Kα2 line; 0: none. Longer than `wavelength` by at most
                              5 %; not used on a time-of-flight axis */
    double ratio2;         /* Kα2/Kα1 intensity ratio; 0: no Kα2 line */
} pk_peak_search;

/* Significance 4.5, chosen so that a flat background with counting noise
 * over 5,000 points yields fewer than 0.1 false peaks on average (about
 * 0.002 were measured); merge fraction 0.5; Cu Kα1 + Kα2, the source the
 * layer takes when none is named (pk_instrument_default_source). For a
 * pattern measured with one line, set wavelength2 (or ratio2) to 0. */
PK_PHASE_API void pk_peak_search_default(pk_peak_search *search);

/* The peak list of a measured pattern (at least 100 points): a background
 * first, then candidate maxima up to the first and the last point, each
 * fitted with a pseudo-Voigt on the local background (η held within [0, 1],
 * weights 1/σ², esd's from the covariance scaled by the reduced χ²) and kept
 * when its height exceeds `significance` times its own esd. With a Kα2 line
 * each peak is fitted as a doublet: the Kα1 pseudo-Voigt at 2θ₁ and a copy
 * at 2θ₂ = 2·asin(λ₂/λ₁ · sin θ₁) of ratio2 times its height, with the same
 * FWHM and η; a Kα2 line is never a peak of its own, resolved or not. A
 * line at either end whose window, cut by the end, cannot be fitted is a
 * failure whose reason begins "cut by the end of the data". A fit that runs
 * to the widest FWHM allowed, 1.25 % of the pattern's span, is background.
 * Writes at most `capacity` peaks in ascending position and
 * `failure_capacity` failures (candidates whose fit failed, and why);
 * *peak_count and *failure_count receive how many there are (more than the
 * capacity means the arrays were too small, which is not an error: call
 * again with larger ones). */
PK_PHASE_API int32_t pk_find_peaks(const pk_measured_pattern *pattern, const pk_peak_search *search,
                                   pk_peak *peaks, int32_t capacity, int32_t *peak_count,
                                   pk_peak_failure *failures, int32_t failure_capacity,
                                   int32_t *failure_count, pk_error *error);

/* ------------------------------------------------------------------------- */
/* Refinement                                                                */
/* ------------------------------------------------------------------------- */

/* One refinement of a measured pattern by one or more phases: Rietveld (the
 * structures known) or Le Bail (intensities extracted from the pattern), by
 * Levenberg–Marquardt on the weighted residuals. Not shared between threads;
 * distinct refinements may run in parallel. */
typedef struct pk_refinement pk_refinement;

enum {
    PK_REFINE_RIETVELD = 0,
    PK_REFINE_LE_BAIL = 1
};

/* Why a run stopped. */
enum {
    PK_STOP_CONVERGED = 0,     /* χ² and every shift below their tolerances */
    PK_STOP_CYCLE_LIMIT = 1,   /* the cycle limit was reached first */
    PK_STOP_CALLBACK = 2,      /* the progress callback asked to stop */
    PK_STOP_SINGULAR = 3,      /* kept for hosts: runs now fix undetermined parameters and go on */
    PK_STOP_DIVERGED = 4,      /* no step lowered χ² however damped */
    PK_STOP_NOTHING_FREE = 5   /* no parameter is free */
};

/* What a refinement is made with. Fill it with pk_refinement_options_default. */
typedef struct pk_refinement_options {
    int32_t mode;               /* PK_REFINE_RIETVELD or PK_REFINE_LE_BAIL */
    int32_t background_count;   /* Chebyshev coefficients, 0 … 13 */
    double x_min, x_max;        /* the range refined, x_min < x_max; both 0: the whole pattern */
    int32_t max_cycles;         /* cycle limit */
    double chi2_tolerance;      /* converged when χ² changes by less than this fraction … */
    double shift_tolerance;     /* … and every shift is below this fraction of its esd */
    /* Release the free parameters in stages (1) or all at once (0): scale and
     * background; + zero, displacement, transparency and cells; + the 2θ
     * widths W and X; + the rest of the profile; + coordinates; + Uiso, occupancies, March, absorption and roughness. Each
     * stage runs until it converges or uses its share of the cycles
     * (max_cycles / 4, at least 8; the last stage the rest). */
    uint8_t stages;
    /* Before the first cycle, start from what the measured peaks show (1) or
     * from the values as given (0): free widths U V W X Y from the widths of
     * the resolved peaks (unless pk_refinement_set_instrument_profile gave the
     * instrument's profile), then scaled together to fit the whole pattern (on
     * time of flight the free terms σ, γ, α and β as given, scaled so that
     * each peak stretches about its centre); and a free zero shift and free
     * cell lengths by matching each phase's strongest lines to the peaks,
     * within the windows below, a move kept only where it clearly improves
     * the match. What moved is said in pk_refinement_notes. */
    uint8_t start_from_data;
    double cell_window;         /* how far the cell lengths may move so: a fraction (0.01 = ±1 %; 0: not at all) */
    double zero_window;         /* how far the zero shift may move so: degrees 2θ (0: not at all) */
    /* The source does not say whether the pattern holds a Kα2 line (a text
     * pattern refined with an anode's default lines): with start_from_data,
     * 1 decides it from the measured peaks: each strong peak whose Kα2 offset
     * exceeds 1.5 widths votes by the counts there (above its own tail by
     * more than half the Kα2/Kα1 ratio: the line is there); two thirds of
     * three votes or more keep the line, five sixths against drop it, and
     * anything between keeps it as given, each said in pk_refinement_notes;
     * 0 (the default) takes the instrument's lines as given. */
    uint8_t alpha2_from_data;
    /* Threads each cycle's work is shared among (the Jacobian's columns,
     * each a pattern rebuilt at ±h; the normal equations' blocks of points;
     * the points of the patterns at the cycle's start and trial step): 0 or
     * 1 (the default) one, up to 64; every result is the same to the last
     * bit whatever the count. */
    int32_t threads;
} pk_refinement_options;

/* Rietveld, 6 background coefficients, the whole pattern, 60 cycles, χ²
 * tolerance 1e-5, shift tolerance 0.05, in stages, starting from the data
 * within ±1 % of the cells and ±0.1° of the zero shift, one thread. */
PK_PHASE_API void pk_refinement_options_default(pk_refinement_options *options);

/* Makes a refinement of `measured` (copied) with `phase_count` phases, each
 * as in a pattern (its scale, profile and March correction the starting
 * values); `names` (NULL, or one per phase, NULL entries allowed) renames the
 * phases, which are otherwise named after their data blocks. Every parameter
 * starts fixed; the background starts at zero. On a time-of-flight
 * instrument (x in ms, the axis of a GSAS TOF bank; text and arrays take the
 * instrument's axis, and times above 1000 are refused as µs) the refinement
 * fits the bank with its calibration and the TOF profile terms; a file that
 * says time of flight refuses a 2θ instrument. Starting values are taken from
 * the data on a 2θ axis only. */
PK_PHASE_API int32_t pk_refinement_make(const pk_measured_pattern *measured,
                                        const pk_instrument *instrument,
                                        const pk_phase_setting *phases, int32_t phase_count,
                                        const char *const *names,
                                        const pk_refinement_options *options,
                                        pk_refinement **refinement, pk_error *error);
PK_PHASE_API void pk_refinement_free(pk_refinement *refinement);

/* Leaves the points from x_from to x_to out of the fit (one measured pattern;
 * a joint refinement takes pk_refinement_histogram_exclude). */
PK_PHASE_API int32_t pk_refinement_exclude(pk_refinement *refinement, double x_from, double x_to,
                                           pk_error *error);

/* One measured pattern of a joint refinement (a "histogram"), with its own
 * instrument: X-rays or neutrons, constant wavelength or time of flight. */
typedef struct pk_refinement_histogram {
    const char *name;                     /* prefixes its parameters: "xray" → "xray.zero", "xray.SiC.scale";
                                             not empty, no '.', ',', '=' or space, no phase's name */
    const pk_measured_pattern *measured;  /* its points (copied) */
    const pk_instrument *instrument;      /* its source and geometry, or its TOF calibration */
    const pk_profile *profiles;           /* the starting profile of each phase here (phase_count), or NULL:
                                             each phase setting's profile where it suits the axis, else
                                             the instrument's default */
    double weight;                        /* multiplies its points' 1/σ²; 0 counts as 1 */
    double x_min, x_max;                  /* its range in its axis units; both 0 for the whole pattern */
} pk_refinement_histogram;

/* Makes a joint refinement of several measured patterns against the same
 * phases: their cells, coordinates, Uiso and occupancies are shared (named as
 * in one pattern, "SiC.a"); each histogram has its own scale per phase,
 * profile per phase, zero shift or calibration, sample corrections and
 * background, named "<histogram>.<name>" ("neutron.SiC.scale",
 * "neutron.zero", "tof1.difC", "xray.background.2"). Group words free every
 * histogram's ("zero", "calibration", "profile"), or one's when qualified
 * ("xray.zero", "xray.SiC.profile"). Each histogram after the first may
 * offset each phase's cell (a pattern at another temperature): its reciprocal
 * metric is the phase's G* plus terms "<histogram>.<phase>.strain.D11", D22,
 * D33, D23, D13, D12 (Å⁻², one per free cell quantity: a, b, c, α, β, γ),
 * group word "strain", 0 until freed. χ² is the sum over the histograms;
 * options.x_min and x_max are ignored (each histogram has its range). The
 * starting values come from each pattern, a shared cell from the first's.
 * Size and strain are not worked out in a joint refinement. One histogram
 * makes a refinement like pk_refinement_make, its names prefixed. */
PK_PHASE_API int32_t pk_refinement_make_joint(const pk_refinement_histogram *histograms,
                                              int32_t histogram_count,
                                              const pk_phase_setting *phases, int32_t phase_count,
                                              const char *const *names,
                                              const pk_refinement_options *options,
                                              pk_refinement **refinement, pk_error *error);

/* The profile of a phase in histogram `index`, as refined. */
PK_PHASE_API int32_t pk_refinement_histogram_profile(const pk_refinement *refinement, int32_t index,
                                                     int32_t phase_index, pk_profile *profile, pk_error *error);
/* The peak positions of a phase's reflexions in histogram `index` (its axis
 * units), as pk_refinement_peak_positions gives those of one pattern. */
PK_PHASE_API int32_t pk_refinement_histogram_peak_positions(const pk_refinement *refinement, int32_t index,
                                                            int32_t phase_index, double *positions,
                                                            int32_t capacity, int32_t *written, pk_error *error);

/* The state of one parameter. */
enum {
    PK_PARAMETER_FIXED = 0,      /* not refined */
    PK_PARAMETER_FREE = 1,       /* refined */
    PK_PARAMETER_TIED = 2,       /* follows another parameter (a tie, or a shared site) */
    PK_PARAMETER_AT_LIMIT = 3,   /* refined, and held at a limit in the last cycle */
    PK_PARAMETER_UNDETERMINED = 4 /* chosen free, but the data cannot determine it: fixed where it stood, no esd */
};

/* One parameter by name: "SiC.scale", "SiC.a", "SiC.Si1.x", "SiC.Si1.uiso",
 * "SiC.Si1.occ", "SiC.U" … "SiC.Y", "SiC.asymmetry", "SiC.SL" and "SiC.HL" (the
 * axial divergence's axial_sl and axial_hl, 0 … 0.1), "SiC.march", "zero",
 * "displacement", "absorption" (μR, 0 … 10), "roughness_p" (0 … 1), "roughness_q" (≥ 0),
 * "transparency" (1/μ ≥ 0, mm), "background.0" … On a time-of-flight axis:
 * "difC" and "difA" (the instrument's dtt1 > 0 and dtt2 > −dtt1/200) and "zero" (µs),
 * "difB" (µs·Å: TOF = difC d + difA d² + difB / d + zero; 0 unless set, freed
 * by its name alone, not by "calibration"), and per phase the profile terms its shape uses, each ≥ 0: "SiC.sigma0" …
 * "SiC.sigma2", "SiC.gamma0" … "SiC.gamma2" (pseudo-Voigt), "SiC.alpha0"
 * (Gaussian), "SiC.alpha1", "SiC.beta0", "SiC.beta1" (these four at most
 * 1000); no displacement, sample corrections or asymmetry there. difC and
 * the cell lengths move every peak alike: where every pattern is TOF and
 * each one's difC is free beside a cell length, the first difC is fixed as
 * undetermined. */
typedef struct pk_parameter {
    const char *name;      /* lives as long as the refinement */
    double value;          /* in the units of its record field */
    double esd;            /* after a run: the estimated standard deviation; NaN when none */
    int32_t state;         /* PK_PARAMETER_* */
    double lower, upper;   /* limits (−∞/+∞ when none) */
} pk_parameter;

/* A state's name as results print it: "fixed", "free", "tied", "at limit",
 * "fixed: undetermined"; "?" for a number that is no PK_PARAMETER_*. */
PK_PHASE_API const char *pk_parameter_state_name(int32_t state);

/* Number of parameters, and one by index. */
PK_PHASE_API int32_t pk_refinement_parameter_count(const pk_refinement *refinement);
PK_PHASE_API int32_t pk_refinement_parameter(const pk_refinement *refinement, int32_t index,
                                             pk_parameter *parameter, pk_error *error);

/* Frees (free = true) or fixes the parameters of a comma-separated list of
 * names and group words: "scale", "cell", "xyz", "uiso", "occ", "profile",
 * "asymmetry", "march", "zero", "displacement", "absorption", "roughness" (both terms),
 * "transparency", "background", "calibration" (difC, difA and zero of a
 * time-of-flight bank; "profile" there frees its TOF terms), each alone (every phase) or after
 * a phase name ("SiC.cell"). The group word "asymmetry" frees a phase's P when
 * its profile has no axial divergence, and its SL and HL when it has; naming
 * SL or HL of a phase whose P is above 0 (or its P while it has an axial
 * divergence) fails, for a profile takes one asymmetry or the other.
 * Fails naming an unknown word, changing nothing. */
PK_PHASE_API int32_t pk_refinement_set_free(pk_refinement *refinement, const char *list, bool free,
                                            pk_error *error);

/* The list a run frees when the user names none, as the command and the
 * Python package take it: "scale,background,zero,cell,profile" for
 * PK_REFINE_RIETVELD, the same without "scale" for PK_REFINE_LE_BAIL (whose
 * intensities are the pattern's); NULL for another mode. A static text. */
PK_PHASE_API const char *pk_refinement_default_free(int32_t mode);

/* Sets a parameter's value (its followers follow). */
PK_PHASE_API int32_t pk_refinement_set_value(pk_refinement *refinement, const char *name,
                                             double value, pk_error *error);

/* Sets a parameter's limits (use −INFINITY/INFINITY for none). */
PK_PHASE_API int32_t pk_refinement_set_limits(pk_refinement *refinement, const char *name,
                                              double lower, double upper, pk_error *error);

/* Ties `follower` to `leader` (the same kind of parameter: both cell lengths,
 * both Uiso …): the follower takes the leader's value from then on. */
PK_PHASE_API int32_t pk_refinement_tie(pk_refinement *refinement, const char *leader,
                                       const char *follower, pk_error *error);

/* The profile the instrument alone gives (a refinement of a standard, read
 * from its instrument file), from which each phase's size and strain are
 * worked out after a run; NULL forgets it. Refuses a time-of-flight shape, and
 * a joint refinement (which takes one per histogram:
 * pk_refinement_histogram_set_instrument_profile). */
PK_PHASE_API int32_t pk_refinement_set_instrument_profile(pk_refinement *refinement, const pk_profile *profile,
                                                          pk_error *error);

/* The instrument as it stands, its refined values (zero, displacement)
 * included; of a joint refinement, the first histogram's. */
PK_PHASE_API int32_t pk_refinement_instrument(const pk_refinement *refinement, pk_instrument *instrument,
                                              pk_error *error);

/* One phase's profile as it stands, its refined values (U … Y, asymmetry,
 * axial divergence) included; of a joint refinement, in the first histogram. */
PK_PHASE_API int32_t pk_refinement_phase_profile(const pk_refinement *refinement, int32_t phase_index,
                                                 pk_profile *profile, pk_error *error);

/* Called after every cycle; return non-zero to stop the run. Also called with
 * cycle 0 (χ² and Rwp NaN) when the run begins and then every quarter second
 * or so while the starting values are taken from the data, which on a
 * million points takes seconds; stopping then leaves every parameter as it
 * was. */
typedef int32_t (*pk_refinement_progress)(void *context, int32_t cycle, double chi2, double rwp,
                                          double damping);

/* Runs the refinement until it converges, reaches its cycle limit, cannot go
 * on, or `progress` (may be NULL) asks it to stop. PK_OK however it stopped;
 * pk_refinement_summary says how. */
PK_PHASE_API int32_t pk_refinement_run(pk_refinement *refinement, pk_refinement_progress progress,
                                       void *context, pk_error *error);

/* The outcome of the last run (all zero before one). */
typedef struct pk_refinement_summary {
    uint8_t converged;      /* stopped at PK_STOP_CONVERGED */
    int32_t stop;           /* PK_STOP_* */
    int32_t cycles;         /* cycles run */
    int32_t points;         /* points fitted */
    int32_t free_count;     /* parameters refined */
    double Rp, Rwp, Rexp;   /* percent */
    double chi2;            /* Σ w (y_obs − y_calc)² */
    double reduced_chi2;    /* χ² / (N − P) */
    double GoF;             /* goodness of fit S = Rwp / Rexp = √(reduced χ²) */
    uint8_t doubtful;       /* the verdict found reasons to doubt the fit: pk_refinement_verdict */
} pk_refinement_summary;

PK_PHASE_API int32_t pk_refinement_get_summary(const pk_refinement *refinement,
                                               pk_refinement_summary *summary, pk_error *error);

/* The histograms of a refinement: 1 for one made by pk_refinement_make. */
PK_PHASE_API int32_t pk_refinement_histogram_count(const pk_refinement *refinement);

/* What a histogram holds and how it fits after the last run. */
typedef struct pk_refinement_histogram_result {
    const char *name;                 /* "" for one made by pk_refinement_make; lives as long as the refinement */
    int32_t first_point;              /* its first point among the refinement's (pk_refinement_curve) */
    int32_t point_count;              /* its points there */
    pk_instrument instrument;         /* as refined */
    pk_refinement_summary summary;    /* its own figures: χ², Rp, Rwp, Rexp over its points, with the
                                         free parameters shared out by its share of the weighted points */
} pk_refinement_histogram_result;

PK_PHASE_API int32_t pk_refinement_get_histogram(const pk_refinement *refinement, int32_t index,
                                                 pk_refinement_histogram_result *result, pk_error *error);
/* Leaves the points of histogram `index` from x_from to x_to (its axis units) out of the fit. */
PK_PHASE_API int32_t pk_refinement_histogram_exclude(pk_refinement *refinement, int32_t index, double x_from,
                                                     double x_to, pk_error *error);

/* Why the last run stopped, and its warnings (parameters held at a limit,
 * undetermined parameters, pairs correlated beyond 0.99), one per line; ""
 * when none. Lives until the next run. */
PK_PHASE_API const char *pk_refinement_stop_reason(const pk_refinement *refinement);
PK_PHASE_API const char *pk_refinement_warnings(const pk_refinement *refinement);

/* What the last run did on its own, one per line ("" when nothing): the
 * starting values it took from the data and by how much they moved, the
 * stages that ended before converging. Lives until the next run. */
PK_PHASE_API const char *pk_refinement_notes(const pk_refinement *refinement);

/* The verdict of the last run, one reason to doubt the fit per line ("" when
 * none; summary.doubtful says whether there are any): a reduced χ² above 10
 * (S = Rwp/Rexp above about 3); peaks in the difference curve that no phase
 * explains, with their 2θ (or flight time) and d ("a phase may be missing");
 * on a time-of-flight axis, difC fixed beside free cell lengths (they scale
 * every peak alike); a width, Uiso or
 * occupancy held at a limit; parameters the data cannot determine; a stop
 * other than convergence. Lives until the next run. */
PK_PHASE_API const char *pk_refinement_verdict(const pk_refinement *refinement);

/* The stage a run is in ("starting values from the data", "scale and background", "zero, displacement and
 * cells", "profile widths W and X", "profile", "coordinates", "displacement parameters and
 * occupancies", or "every free parameter" without stages), for a progress
 * callback to show; "" outside a run. */
PK_PHASE_API const char *pk_refinement_stage(const pk_refinement *refinement);

/* The correlation matrix of the free parameters (in parameter order) after a
 * run, into matrix[capacity], row-major; *size receives their number. */
PK_PHASE_API int32_t pk_refinement_correlations(const pk_refinement *refinement, double *matrix,
                                                int32_t capacity, int32_t *size, pk_error *error);

/* One phase after a run. */
typedef struct pk_refinement_phase {
    const char *name;          /* lives as long as the refinement */
    double cell[6];            /* a b c (Å) α β γ (degrees) */
    double cell_esd[6];        /* 0 for a fixed or symmetry-tied value; NaN when undetermined */
    double r_bragg;            /* R-Bragg, percent (of a joint refinement, in the first histogram;
                                  each histogram's: pk_refinement_histogram_phase_result) */
    double weight_fraction;    /* Rietveld: fraction of the mixture's mass, 0 … 1; NaN in Le Bail */
    /* Crystallite size and microstrain from the broadening beyond the
     * instrument's, after a run of a refinement that knows the instrument's
     * profile (pk_refinement_set_instrument_profile), on a 2θ axis; NaN
     * otherwise, and NaN (with a line in pk_refinement_warnings) when the term
     * they rest on is fixed or its excess is not positive. With X, Y, U the
     * phase's and X_i, Y_i, U_i the instrument's (a shape without a Lorentzian
     * part counts X = Y = 0, one without a Gaussian part U = 0):
     *   size D = K λ / ((X − X_i) · π/180), K = 0.9 (Scherrer's constant for the
     *     FWHM of spherical crystallites), λ the Kα1 wavelength: the Lorentzian
     *     width X / cos θ is the size's;
     *   strain ε from the tan θ widths, H = 4 ε tan θ (radians): the Gaussian
     *     √(U − U_i) tan θ and the Lorentzian (Y − Y_i) tan θ combined by the
     *     Thompson–Cox–Hastings FWHM of the pseudo-Voigt (which keeps H ∝ tan θ),
     *     ε = TCH(√(U − U_i), Y − Y_i) · (π/180) / 4; a fixed term counts as no
     *     broadening by the sample. Esd's from the covariance of the refined
     *     parameters, by the gradient of D and ε. */
    double size_nm, size_esd;              /* crystallite size D and its esd, nm */
    double strain_percent, strain_esd;     /* microstrain ε and its esd, percent */
} pk_refinement_phase;

PK_PHASE_API int32_t pk_refinement_phase_count(const pk_refinement *refinement);
PK_PHASE_API int32_t pk_refinement_phase_result(const pk_refinement *refinement, int32_t index,
                                                pk_refinement_phase *phase, pk_error *error);

/* One phase as histogram `index` sees it after a run: its cell there (the
 * shared cell plus that histogram's offsets, esd's propagated from both), and
 * its R-Bragg, weight fraction (from that histogram's scales), size and strain
 * there (pk_refinement_histogram_set_instrument_profile). Histogram 0 of a
 * refinement of one pattern is pk_refinement_phase_result's. */
PK_PHASE_API int32_t pk_refinement_histogram_phase_result(const pk_refinement *refinement, int32_t index,
                                                          int32_t phase_index, pk_refinement_phase *phase,
                                                          pk_error *error);
/* Histogram `index`'s instrument profile (NULL: none), so that the run works
 * out each phase's size and strain there from the broadening beyond it, as
 * pk_refinement_set_instrument_profile does for one pattern (2θ axes only). */
PK_PHASE_API int32_t pk_refinement_histogram_set_instrument_profile(pk_refinement *refinement, int32_t index,
                                                                    const pk_profile *profile, pk_error *error);

/* The refined structure of one phase as CIF text (NUL-terminated) into
 * text[capacity]: its data block, the space group's name and operators, the
 * cell and every site (occupancy, Uiso, and the Uij of anisotropic sites),
 * each refined value followed by its esd in parentheses in units of its last
 * digit ("4.75891(12)"). *size receives the bytes needed, NUL included, also
 * when the buffer is too small (which fails). Read back by
 * pk_phase_from_cif_text it gives the refined phase. */
PK_PHASE_API int32_t pk_refinement_phase_cif(const pk_refinement *refinement, int32_t phase_index, char *text,
                                             int32_t capacity, int32_t *size, pk_error *error);

/* The curves of the refinement over its points (the range, excluded points
 * included). */
enum {
    PK_CURVE_X = 0,           /* the points' positions */
    PK_CURVE_OBSERVED = 1,
    PK_CURVE_CALCULATED = 2,  /* every phase plus the background */
    PK_CURVE_BACKGROUND = 3,
    PK_CURVE_DIFFERENCE = 4,  /* observed − calculated */
    PK_CURVE_PHASE = 5        /* one phase's share (phase_index) */
};

/* The points fitted; of a joint refinement, every histogram's one after another
 * (pk_refinement_get_histogram gives where each begins). */
PK_PHASE_API int32_t pk_refinement_point_count(const pk_refinement *refinement);
PK_PHASE_API int32_t pk_refinement_curve(const pk_refinement *refinement, int32_t curve,
                                         int32_t phase_index, double *values, int32_t capacity,
                                         pk_error *error);

/* The Kα1 peak positions of one phase's reflexions inside the range,
 * ascending; of a joint refinement, in the first histogram. */
PK_PHASE_API int32_t pk_refinement_peak_positions(const pk_refinement *refinement,
                                                  int32_t phase_index, double *positions,
                                                  int32_t capacity, int32_t *written,
                                                  pk_error *error);

/* ------------------------------------------------------------------------- */
/* The refinement's report                                                   */
/* ------------------------------------------------------------------------- */

/* The last run as one self-contained web page (UTF-8 HTML; its plotting
 * library, styles, script and data inline, nothing fetched when it opens)
 * into text[capacity], NUL-terminated; *size receives the bytes needed, NUL
 * included, also when the buffer is too small (which fails) or NULL with
 * capacity 0 (which asks only the size). The page holds:
 *  - the observed points, calculated curve and background over 2θ with a row
 *    of reflexion ticks per phase (hover: h k l, d, position, intensity),
 *    the difference in a panel of its own scale with the peaks no phase
 *    explains marked; zoom by dragging, pan with the wheel, double-click to
 *    reset; y in counts, √counts or log; a pattern of many points is drawn
 *    from the extremes of each pixel column, at full resolution when zoomed;
 *  - the statistics (Rp, Rwp, Rexp, χ², reduced χ², GoF), the verdict with its
 *    reasons, the notes;
 *  - each phase's cell with esd's, R-Bragg, weight fraction, size and strain;
 *  - the parameters (value, esd, state, limits), sortable and filterable,
 *    and the correlation matrix as a colour map with the pairs beyond 0.9.
 * `title` (may be NULL) heads the page; `compact` non-zero draws at most 2,000
 * points per curve and leaves the parameters and correlations out (for a
 * notebook). */
PK_PHASE_API int32_t pk_refinement_report(const pk_refinement *refinement, const char *title, int32_t compact,
                                          char *text, int32_t capacity, int32_t *size, pk_error *error);

/* ------------------------------------------------------------------------- */
/* Indexing: the cell of an unknown phase from its peak list                 */
/* ------------------------------------------------------------------------- */

/* The crystal systems an indexing search tries, as bits. */
enum {
    PK_SYSTEM_CUBIC = 1,
    PK_SYSTEM_TETRAGONAL = 2,
    PK_SYSTEM_HEXAGONAL = 4,      /* hexagonal and trigonal lattices, R-centred ones included */
    PK_SYSTEM_ORTHORHOMBIC = 8,
    PK_SYSTEM_MONOCLINIC = 16,    /* b the unique axis */
    PK_SYSTEM_TRICLINIC = 32
};

/* How an indexing search runs. Fill it with pk_index_options_default. */
typedef struct pk_index_options {
    /* PK_SYSTEM_* bits; 0: cubic to monoclinic. Triclinic is searched only
     * when asked, and with two of its reduced cell's three axial lines (1 0 0,
     * 0 1 0, 0 0 1 of the reduced reciprocal cell) among the lines: seconds
     * when all three are there, about a minute when one is missing */
    int32_t systems;
    double volume_min, volume_max; /* Å³, of the conventional cell; both 0: from the lines */
    double max_error;       /* the largest 2θ error of an indexed line, degrees (three esd's where more) */
    int32_t max_unindexed;  /* lines of those searched that may stay unindexed (impurities) */
    double zero_window;     /* the zero shift searched and fitted, ± degrees 2θ (0: none) */
    double d_max;           /* lines of d above this are ignored (low-angle artefacts), Å */
    double axis_max;        /* the longest cell edge searched, Å */
    int32_t line_count;     /* the search uses the first lines, this many (at least 6) */
    int32_t candidate_count;/* the most candidates kept */
    int32_t le_bail_count;  /* the best candidates confirmed by a Le Bail fit, when a pattern is given */
} pk_index_options;

/* Cubic to monoclinic, volumes from the lines (each system's volume shells
 * searched smallest first, ending after the shell where a cell indexing every
 * searched line with M20 ≥ 20 turned up), 2θ errors to 0.03°, 2 of the first 20 lines
 * unindexed, zero shift ±0.1°, lines of d above 20 Å ignored, edges to 30 Å,
 * 10 candidates kept, the best 3 confirmed by Le Bail fits. */
PK_PHASE_API void pk_index_options_default(pk_index_options *options);

/* The outcome of one indexing search: ranked candidates, best first. */
typedef struct pk_indexing pk_indexing;

/* One candidate cell. */
typedef struct pk_index_candidate {
    int32_t system;          /* PK_SYSTEM_* (one bit) */
    char centring;           /* lattice centring: 'P', 'A', 'B', 'C', 'I', 'F' or 'R' (hexagonal axes) */
    double cell[6];          /* the conventional cell: a b c in Å, α β γ in degrees */
    double cell_esd[6];      /* their esd's from the fit of the line positions */
    double reduced_cell[6];  /* the Niggli reduced cell of the lattice (primitive) */
    double volume;           /* of the conventional cell, Å³ */
    double zero;             /* the zero shift fitted with the cell, degrees 2θ */
    double M20;              /* de Wolff's figure of merit on the first 20 lines (or all, if fewer) */
    double F_N;              /* Smith and Snyder's figure of merit on the first N lines */
    int32_t N;               /* … its N */
    double mean_error;       /* … its mean |Δ2θ| over the indexed lines, degrees */
    int32_t possible_lines;  /* … its number of possible lines up to the N-th */
    int32_t indexed;         /* lines indexed, of all the lines given */
    int32_t unindexed;       /* lines of those searched left unindexed */
    int32_t supercell_of;    /* the rank (0 = best) of a better candidate whose lattice this
                                one multiplies (a supercell), or −1 */
    int32_t subcell_of;      /* the rank of a better candidate whose lattice multiplies this
                                one's (a sub-cell: it indexes the lines with a sublattice of
                                their reflexions, at a whole fraction of the volume), or −1 */
    double le_bail_rwp;      /* Rwp of the Le Bail confirmation, percent; NaN when none ran */
} pk_index_candidate;

/* One extinction symbol consistent with a candidate's indexed lines. */
typedef struct pk_extinction_class {
    char symbol[32];         /* "P 1 21/c 1", "I - - -", "F d - -" */
    char groups[480];        /* the space groups carrying it (Hermann–Mauguin, with the setting
                                where the cell's axes need one), ", "-separated; cut with "…" */
    int32_t absent_lines;    /* possible lines up to the last searched line it makes absent */
    int32_t ambiguous_lines; /* observed lines indexable both by a reflexion it allows and by one
                                it forbids (overlaps: the symbol rests less on them) */
} pk_extinction_class;

/* Called as the search goes: `fraction` of the work done (0 … 1) and what it
 * is doing ("cubic", …, "Le Bail fits"). Return non-zero to stop the search;
 * the candidates found so far are kept and pk_indexing_stopped says so. */
typedef int32_t (*pk_index_progress)(void *context, double fraction, const char *stage);

/* Indexes a peak list. `positions` (count of them) are 2θ in degrees when
 * `wavelength` > 0 (the Kα1 line, Å), or d-spacings in Å when `wavelength` is
 * 0 (no zero shift is then searched); `esd` (may be NULL) holds their esd's,
 * degrees or Å, 0 where not known: a line's largest error is three esd's
 * where that is more than options.max_error, and the cells are fitted with
 * weights of 1/(a third of each line's largest error)². With `measured` (may
 * be NULL) and count 0, the peak list is that of pk_find_peaks on the
 * pattern with the instrument's lines, with its esd's; with `measured` and
 * `instrument`, the best candidates are confirmed by a Le Bail fit of the pattern. */
PK_PHASE_API int32_t pk_index(const double *positions, const double *esd, int32_t count,
                              double wavelength, const pk_measured_pattern *measured,
                              const pk_instrument *instrument, const pk_index_options *options,
                              pk_index_progress progress, void *context, pk_indexing **indexing,
                              pk_error *error);
PK_PHASE_API void pk_indexing_free(pk_indexing *indexing);

/* The candidates, best first (rank 0 … count − 1): by M20 with each line of
 * the first 20 left unindexed counted at the largest error allowed, so that
 * a small cell leaving lines out does not outrank one that indexes them. */
PK_PHASE_API int32_t pk_indexing_candidate_count(const pk_indexing *indexing);
PK_PHASE_API int32_t pk_indexing_candidate(const pk_indexing *indexing, int32_t rank,
                                           pk_index_candidate *candidate, pk_error *error);
/* The 2θ (or d) of the searched lines a candidate leaves unindexed, in the
 * order of the lines used (ascending 2θ, descending d); *written receives how
 * many there are. */
PK_PHASE_API int32_t pk_indexing_unindexed(const pk_indexing *indexing, int32_t rank, double *positions,
                                           int32_t capacity, int32_t *written, pk_error *error);
/* The h k l a candidate gives each line used (three per line, in ascending
 * 2θ or descending d; 0 0 0 for a line left unindexed) into hkl[3 × capacity]. */
PK_PHASE_API int32_t pk_indexing_line_indices(const pk_indexing *indexing, int32_t rank, int32_t *hkl,
                                              int32_t capacity, int32_t *written, pk_error *error);
/* The extinction symbols consistent with a candidate's lines, most absences first. */
PK_PHASE_API int32_t pk_indexing_extinction_count(const pk_indexing *indexing, int32_t rank);
PK_PHASE_API int32_t pk_indexing_extinction(const pk_indexing *indexing, int32_t rank, int32_t index,
                                            pk_extinction_class *symbol, pk_error *error);
/* How many lines were used: those given, less those beyond the d limit. */
PK_PHASE_API int32_t pk_indexing_line_count(const pk_indexing *indexing);
/* The positions of the lines used (2θ in degrees, or d in Å, as given; in
 * ascending 2θ or descending d: the order of pk_indexing_line_indices), the
 * peaks found in the pattern when it gave them, into positions[capacity];
 * *written receives how many there are. */
PK_PHASE_API int32_t pk_indexing_lines(const pk_indexing *indexing, double *positions, int32_t capacity,
                                       int32_t *written, pk_error *error);
/* Non-zero when the progress callback stopped the search before its end. */
PK_PHASE_API int32_t pk_indexing_stopped(const pk_indexing *indexing);
/* What the search did and met, one per line ("" when nothing): volumes searched,
 * lines ignored, systems skipped, Le Bail fits that failed. */
PK_PHASE_API const char *pk_indexing_notes(const pk_indexing *indexing);

#ifdef __cplusplus
}
#endif

#endif /* POWDERKIT_PHASE_H */
