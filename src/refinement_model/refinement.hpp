// The refinement's model of a measured pattern: the phases as they stand
// (their descriptions, profiles, scales), the instrument, the background, the
// parameters by name with the constraints that tie them, the calculated
// pattern of their current values, and what a run leaves behind (esd's,
// correlations, statistics, warnings, notes, verdict). The fit that moves
// the values stands above it, in src/refinement/.
#ifndef POWDERKIT_REFINEMENT_REFINEMENT_HPP
#define POWDERKIT_REFINEMENT_REFINEMENT_HPP

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pattern/pattern_model.hpp"
#include "crystal/phase.hpp"
#include "powderkit_phase.h"
#include "refinement_model/symmetry_constraints.hpp"

namespace powderkit::refinement {

using phase::PhaseDescription;
using phase::PhasePeaks;

// What a parameter changes.
enum class Target {
    Scale,
    Cell,
    Coordinate,
    Uiso,
    Occupancy,
    Profile,
    Asymmetry,
    Axial,  // index 0: S/L, 1: H/L
    March,
    Zero,
    Displacement,
    Absorption,
    RoughnessP,
    RoughnessQ,
    Transparency,
    Calibration,  // time of flight: index 0 difC (dtt1), 1 difA (dtt2), 2 difB
    Background,
    Strain  // joint: a histogram's offset of the reciprocal metric, index the cell quantity it goes with
};

struct Parameter {
    std::string name;   // "SiC.a", "zero", "background.2"
    std::string group;  // the group word that frees it: "cell", "xyz", …
    Target target = Target::Scale;
    int phase = -1;      // its phase, or −1 for the instrument and background
    int histogram = -1;  // in a joint refinement, the histogram it belongs to; −1 when shared (or single)
    int index = 0;       // cell quantity 0–5, site, profile field (0–4 U V W X Y, 5–14 the TOF terms), coefficient
    int coordinate = 0;  // x, y, z for Target::Coordinate
    double value = 0.0;
    double esd = 0.0;  // NaN when undetermined or before a run
    int32_t state = PK_PARAMETER_FIXED;
    int leader = -1;       // the parameter this one follows, or −1
    bool derived = false;  // set by a constraint, never freed
    double lower = 0.0, upper = 0.0;
};

// A site's constraints: its special position, and the sites it shares a
// position with (a mixed Fe/Co site).
struct SiteFreedom {
    SiteSymmetry symmetry;
    int leader = -1;              // first site of a shared position, or −1 (itself)
    double occupancyTotal = 0.0;  // of the shared position, kept by its last member
    bool lastOfGroup = false;
};

// The peaks of a phase's current values, rebuilt by every evaluation of the
// phase. A copy of a refinement (one per thread of the Jacobian) starts
// without them: the core's profile record they hold is not copied, and the
// copy's first evaluation of the phase makes them again.
struct RebuiltPeaks : PhasePeaks {
    RebuiltPeaks() = default;
    RebuiltPeaks(const RebuiltPeaks &) : PhasePeaks() {}
    RebuiltPeaks(RebuiltPeaks &&) = default;
    RebuiltPeaks &operator=(const RebuiltPeaks &) {
        static_cast<PhasePeaks &>(*this) = PhasePeaks();
        return *this;
    }
    RebuiltPeaks &operator=(RebuiltPeaks &&) = default;
    RebuiltPeaks &operator=(PhasePeaks &&peaks) {
        static_cast<PhasePeaks &>(*this) = std::move(peaks);
        return *this;
    }
};

struct PhaseModel {
    std::string name;
    PhaseDescription description;  // current cell and sites
    pk_profile profile{};
    double scale = 1.0;
    bool useMarch = false;
    double marchRatio = 1.0;
    std::array<double, 3> marchAxis{0.0, 0.0, 1.0};
    CellSymmetry cell;
    std::array<int, 6> cellParameter{};  // the parameter of each free cell quantity, or −1
    std::vector<SiteFreedom> sites;
    double density = 0.0;  // kg/m³, of the current structure
    // Le Bail: the extracted intensity of each reflexion by its h k l.
    std::map<std::array<int32_t, 3>, double> extracted;
    RebuiltPeaks peaks;        // of the current values
    phase::PlaneSetCache planeSets;  // the reflexions' plane sets, kept while the cell moves
    std::vector<double> windows;  // half-widths held while windows are frozen
    std::vector<double> unit;  // the phase at scale 1 over the refinement's points
    double rBragg = 0.0;
    // After a run that knows the instrument's profile (NaN otherwise): size (nm) and microstrain (%) with esd's.
    double sizeNm = NAN, sizeEsd = NAN, strainPercent = NAN, strainEsd = NAN;
};

}  // namespace powderkit::refinement

namespace powderkit::refinement {

// One measured pattern of a joint refinement: its name (the prefix of its
// parameters), where its points start in the joint arrays, its weight, and
// the joint parameter each of its member's parameters follows.
struct Histogram {
    std::string name;
    std::size_t first = 0;
    double weight = 1.0;
    std::vector<int> parameterOf;
};

}  // namespace powderkit::refinement

struct pk_refinement {
    pk_refinement_options options{};
    // A joint refinement of several measured patterns: one member refinement
    // per histogram, each holding its own points, instrument, background and
    // phases' profiles and scales, and following the joint parameters. The
    // joint refinement's points are the members' one after another (weights
    // times each histogram's weight), its calculated pattern theirs, its
    // phases the shared structures. Empty for one pattern.
    std::vector<pk_refinement> members;
    std::vector<powderkit::refinement::Histogram> histograms;
    pk_instrument instrument{};
    // Time of flight: the calibration's 1/d term, µs·Å (TOF = difC d + difA d²
    // + difB / d + zero), which the instrument record does not hold.
    double difB = 0.0;
    std::vector<double> x, y, sigma;  // the points of the range
    std::vector<double> weight;       // 1/σ², 0 where excluded
    double xMin = 0.0, xMax = 0.0;    // the background's span
    std::vector<powderkit::refinement::PhaseModel> phases;
    std::array<double, PK_BACKGROUND_COEFFICIENTS> background{};
    std::vector<powderkit::refinement::Parameter> parameters;
    std::vector<double> calculated;  // every phase plus background
    std::vector<double> backgroundCurve;
    // The coefficients backgroundCurve was computed with (it is computed
    // again only when they change), and the Chebyshev polynomials T_k over
    // the points, each computed once when first needed.
    std::array<double, PK_BACKGROUND_COEFFICIENTS> backgroundCurveOf{};
    bool backgroundCurveValid = false;
    std::array<std::vector<double>, PK_BACKGROUND_COEFFICIENTS> chebyshev;
    // Within a cycle every reflexion keeps the window it had at the cycle's
    // start, so that the pattern is a smooth function of the parameters
    // (a window that gains or loses a point as a width moves would make it jump).
    bool windowsFrozen = false;
    // After a run.
    pk_refinement_summary summary{};
    std::string stopReason, warnings;
    std::string notes;    // what the run did on its own: starting values moved, stages cut short
    std::string verdict;  // the reasons to doubt the fit, one per line
    std::string stage;    // the stage running, "" outside a run
    // While the starting values are taken from the data: tells the host that
    // the run goes on, and throws StartStopped when it asks to stop (empty
    // otherwise, and in thread copies).
    std::function<void()> beat;
    std::vector<double> correlations;
    int32_t correlationSize = 0;
    std::vector<int> correlationOrder;  // the parameter of each row of the correlations
    // The profile of the instrument alone, when known: the phases' broadening beyond it gives size and strain.
    bool hasInstrumentProfile = false;
    pk_profile instrumentProfile{};
};

namespace powderkit::refinement {

// Whether the refinement is a joint one of several histograms.
inline bool isJoint(const pk_refinement &refinement) { return !refinement.members.empty(); }

// The joint parameters of a joint refinement whose members have theirs: a
// member's cell, coordinates, Uiso and occupancies are the phases' own, shared
// by name; every other (scale, profile, calibration, background) is its
// histogram's, named "<histogram>.<name>".
void buildJointParameters(pk_refinement &refinement);

// Writes the joint parameters' values into every member and applies them
// there; the joint phases take the structures as they now stand.
void applyJointParameters(pk_refinement &refinement);

// Evaluates the members marked in `members` (all when empty) for the phases
// marked in `phases`, then gathers every member's calculated pattern and
// background into the joint arrays.
void evaluateMembers(pk_refinement &refinement, const std::vector<bool> &phases, const std::vector<bool> &members,
                     int threads = 1);

// Each line of `text` opened by "<name>: " (a histogram's notes and warnings).
std::string prefixedLines(const std::string &name, const std::string &text);

// The joint arrays from the members' calculated patterns as they stand.
void gatherMembers(pk_refinement &refinement);

// The esd's of phase `phase`'s cell in histogram `histogram` of a joint
// refinement (the shared cell plus that histogram's offsets), propagated from
// the last run's covariance; 0 for a quantity nothing refined moves.
std::array<double, 6> histogramCellEsd(const pk_refinement &refinement, std::size_t histogram, std::size_t phase);

// Lists every parameter of the refinement, works out the symmetry of the
// cells and site positions and the shared positions, and puts each phase on
// its constraints (tied cell values equal, sites on their special positions).
void buildParameters(pk_refinement &refinement);

// The parameters named by a comma-separated list of names and group words;
// fails naming an unknown word, and, when they are to be freed, a group word
// of the other axis that names none here ("displacement" on time of flight).
std::vector<int> parametersOfList(const pk_refinement &refinement, const std::string &list, bool toFree = false);

// Fails when freeing parameter `index` would give its phase both asymmetries:
// S/L or H/L while P is above 0, or P while the profile has an axial divergence.
void requireOneAsymmetry(const pk_refinement &refinement, int index);

// The index of a parameter by name; fails naming it when there is none.
int parameterIndex(const pk_refinement &refinement, const std::string &name);

// Writes every parameter's value into the phases, the instrument and the
// background, ties and constraints resolved (followers take their leaders'
// values, shared positions their first site's, occupancies their total).
void applyParameters(pk_refinement &refinement);

// Rebuilds the peaks and unit patterns of the phases marked in `phases` (all
// when empty) from the current values, then the calculated pattern. Fails
// (phase::Failure) when the values cannot make a pattern. With `threads`
// above 1 the phases' peaks and the points are shared among so many
// threads; every value is the same to the bit as on one. Returns χ², the
// same to the bit as chiSquared().
double evaluate(pk_refinement &refinement, const std::vector<bool> &phases, int threads = 1);

// The first half of evaluate() on one pattern: the marked phases' peaks and
// unit patterns rebuilt, the calculated pattern left as it was.
void rebuildPhases(pk_refinement &refinement, const std::vector<bool> &phases);

// The refined structure of one phase as CIF text: cell, space group and
// operators, sites with occupancy and Uiso, refined values with their esd's.
std::string refinedCif(const pk_refinement &refinement, std::size_t phase);

// "4.75891(12)": a value rounded to the last digit of its esd (two digits
// when they read 19 or less, else one); the value alone when esd ≤ 0 or NaN.
std::string valueWithEsd(double value, double esd);

// T_k over the refinement's points (the background's k-th column).
const std::vector<double> &chebyshevColumn(pk_refinement &refinement, int k);

// Freezes every reflexion's window at its present width (or frees them).
void freezeWindows(pk_refinement &refinement, bool frozen);

// χ² = Σ w (y − y_calc)² over the points (summed by blocks of 64 points).
double chiSquared(const pk_refinement &refinement);

// Le Bail: replaces every phase's intensities by those the pattern gives,
// I_k ← I_k · Σ_i c_ik (y_i − b_i)/(y_calc,i − b_i) / Σ_i c_ik, c_ik the
// reflexion's share of point i; then re-evaluates.
void extractIntensities(pk_refinement &refinement);

// R-Bragg of every phase from the same partition of the observed pattern.
void computeBraggResiduals(pk_refinement &refinement);

// Crystallite size D = K λ / (X_s · π/180) in Å (K = 0.9, Scherrer's constant for the FWHM of spherical
// crystallites) from the Lorentzian size width X_s / cos θ (degrees) and the wavelength λ (Å).
double crystalliteSize(double xSample, double wavelength);

// Microstrain ε (a fraction) from the sample's tan θ widths, Gaussian √U_s tan θ and Lorentzian Y_s tan θ
// (degrees), combined by the Thompson–Cox–Hastings FWHM H, H = 4 ε tan θ in radians; with ∂ε/∂U_s and ∂ε/∂Y_s.
// A term left out passes 0 (then its derivative is 0).
std::array<double, 3> microstrain(double uSample, double ySample);

// The esd of Σ g_k p_k for the gradient g (pairs of parameter index and ∂/∂p_k) from the last run's covariance
// of the refined parameters; NaN when one of them has none.
double propagatedEsd(const pk_refinement &refinement, const std::vector<std::pair<int, double>> &gradient);

// Fills every phase's size and strain with esd's from the current values and the last run's covariance;
// returns the warning lines for those that cannot be given.
std::string sizeAndStrain(pk_refinement &refinement);


}  // namespace powderkit::refinement

#endif
