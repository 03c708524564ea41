// The indexing of a peak list: the lattice search by successive dichotomy,
// the least-squares cell of each solution, its figures of merit, reduced and
// conventional cells, and the extinction symbols its lines allow.
#ifndef POWDERKIT_INDEXING_INDEXING_HPP
#define POWDERKIT_INDEXING_INDEXING_HPP

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "powderkit_phase.h"

namespace powderkit::indexing {

using Hkl = std::array<int, 3>;

// The lattice systems, in the order searched (highest symmetry first); the
// values are the PK_SYSTEM_* bits.
enum class LatticeSystem : int32_t {
    Cubic = PK_SYSTEM_CUBIC,
    Tetragonal = PK_SYSTEM_TETRAGONAL,
    Hexagonal = PK_SYSTEM_HEXAGONAL,
    Orthorhombic = PK_SYSTEM_ORTHORHOMBIC,
    Monoclinic = PK_SYSTEM_MONOCLINIC,
    Triclinic = PK_SYSTEM_TRICLINIC
};
const char *systemName(LatticeSystem system);

// One observed line: its position as 1/d² (Å⁻²) and the tolerance the
// search allows on it (Å⁻²), with its 2θ (degrees) and the slope ∂Q/∂2θ for
// the zero shift (both 0 for lines given as d).
struct Line {
    double q = 0.0;
    double tolerance = 0.0;  // the error and the zero shift allowed together
    double error = 0.0;      // the error allowed alone
    double twoTheta = 0.0;
    double slope = 0.0;
    double allowed = 0.0;    // the error allowed alone, degrees 2θ
};

// The reflexions of a conventional cell: Q = Σ c_j p_j over the system's
// reciprocal-metric parameters p (cubic A; tetragonal A C; hexagonal A C with
// A = 4/(3a²); orthorhombic A B C; monoclinic A B C E; triclinic A B C D E F,
// Q = h²A + k²B + l²C + klD + hlE + hkF).
int parameterCount(LatticeSystem system);
std::array<double, 6> coefficients(LatticeSystem system, const Hkl &hkl);

// The conventional cell (a b c α β γ) of reciprocal-metric parameters, and back.
std::array<double, 6> cellOf(LatticeSystem system, const std::vector<double> &parameters);
std::vector<double> parametersOf(LatticeSystem system, const std::array<double, 6> &cell);

// Every reflexion of the system's Laue half-space (one of each set of
// Friedel- and metric-equivalent indices), h k l up to `limit` in magnitude.
std::vector<Hkl> indexBox(LatticeSystem system, int limit);
// The same with a limit of its own for each index.
std::vector<Hkl> indexBox(LatticeSystem system, const std::array<int, 3> &limits);

// Whether a lattice centring lets a reflexion be seen.
bool centringAllows(char centring, const Hkl &hkl);

// No crystal has a cell edge shorter than this (Å): shorter ones are
// artefacts of a few lines fitted too freely. The search does not enter
// them and a fitted cell is refused with one.
constexpr double kShortestEdge = 2.0;

// The bounds of a search.
struct SearchLimits {
    double volumeMin = 0.0, volumeMax = 0.0;  // Å³, of the conventional cell
    double axisMax = 30.0;                    // Å
    int maxUnindexed = 2;                     // lines that may be left out
    double zeroWindow = 0.0;                  // ± degrees 2θ of zero shift, searched as one more parameter
    // Triclinic: how many of the reduced cell's axial reflexions (1 0 0,
    // 0 1 0, 0 0 1 of the Buerger-reduced reciprocal cell, the three
    // shortest non-coplanar vectors) may lie off every line. 3 searches the
    // whole reduced domain; 0 or 1 start from boxes of the lines' own
    // windows for the others, thousands of times less space.
    int axesOffLines = 3;
};

// The successive dichotomy of a system's parameter space: boxes of
// reciprocal-metric parameters, each halved until it is small or dropped as
// soon as more than maxUnindexed of `lines` (ascending q) fall outside every
// reflexion's range of Q over it. Q is linear in the parameters, so those
// ranges are exact and no cell inside the limits can be missed. Each box
// small enough is handed to `leaf` with its centre (the zero shift last,
// when one is searched: it moves each line by ∂Q/∂2θ · zero, linear too) and the reflexions that
// index its lines; `progress` receives the fraction of the space done and
// returns true to stop. Returns false when stopped. In the searches of three
// parameters and more the zero shift is one for all lines: a box keeps only
// the shifts at which enough of its lines are explained together, and is
// dropped when there are none.
using LeafVisitor = std::function<void(const std::vector<double> &centre, const std::vector<Hkl> &reflexions)>;
using SearchProgress = std::function<bool(double fraction)>;
bool dichotomySearch(LatticeSystem system, const std::vector<Line> &lines, const SearchLimits &limits,
                     const LeafVisitor &leaf, const SearchProgress &progress);

// The volume of the cell of reciprocal-metric parameters, Å³ (NaN when they
// make no lattice).
double cellVolume(LatticeSystem system, const std::vector<double> &parameters);

// The lines as the search and the fit see them: each 2θ (degrees, the Kα1
// line of `wavelength` Å) as Q = (2 sin θ / λ)², with its tolerance from
// the largest error and zero shift allowed.
Line lineAt(double twoTheta, double wavelength, double maxError, double zeroWindow);
// The largest 2θ error allowed a line (degrees): the option's, or three of
// the line's esd's where they are more (esd 0: not known).
double allowedError(double maxError, double esd);
// The largest of the lines' largest errors, degrees.
double largestAllowed(const std::vector<Line> &lines);
// Q at 2θ (degrees), and 2θ at Q (NaN beyond 180°).
double qAt(double twoTheta, double wavelength);
double twoThetaAt(double q, double wavelength);

// What the least-squares cell of a solution needs besides its lines.
struct FitSettings {
    double wavelength = 1.5406;  // Å
    double maxError = 0.03;      // largest |Δ2θ| of an indexed line, degrees
    double zeroWindow = 0.1;     // |zero| allowed; 0: no zero shift fitted
    int searched = 20;           // the first lines, of which at most maxUnindexed …
    int maxUnindexed = 2;        // … may stay unindexed
    double axisMax = 30.0;       // Å
};

// A cell fitted to the lines: reciprocal-metric parameters and zero shift
// (2θ_obs = 2θ_calc + zero), their covariance (the zero last, when fitted),
// and each line's reflexion (index −1: unindexed).
struct CellFit {
    LatticeSystem system = LatticeSystem::Cubic;
    std::vector<double> parameters;
    double zero = 0.0;
    std::vector<double> covariance;  // row-major, parameters then zero
    std::vector<Hkl> hkl;            // per line; {0,0,0} unindexed
    std::vector<bool> indexed;       // per line
    int unindexedSearched = 0;
    double misfit = 0.0;             // the sum of the weighted squared residuals of the last cycle
};

// Indexes the lines from the starting parameters (the search's box centre
// and the reflexions it kept), then alternates least squares of Q on the
// parameters and the zero shift with assigning every line its nearest
// reflexion, until the assignment holds. Fails (false) when the fit is
// singular, leaves too many searched lines unindexed, or makes no lattice.
bool fitCell(LatticeSystem system, const std::vector<Line> &lines, const std::vector<double> &start,
             double startZero, const std::vector<Hkl> &reflexions, const FitSettings &settings, CellFit &fit);

// Every reflexion of a cell (one of each metric-equivalent set) up to
// qMax, ascending Q.
struct Reflexion {
    double q;
    Hkl hkl;
};
std::vector<Reflexion> reflexionsUpTo(LatticeSystem system, const std::vector<double> &parameters, double qMax);

// The distinct Q (ascending) of the cell's reflexions a centring allows, up
// to qMax: the possible lines.
std::vector<double> possibleLines(LatticeSystem system, const std::vector<double> &parameters, char centring,
                                  double qMax);

// The figures of merit of a fit: de Wolff's M20 = Q₂₀ / (2 ⟨|ΔQ|⟩ N₂₀) on the
// first 20 lines (all, if fewer), and Smith and Snyder's
// F_N = N / (⟨|Δ2θ|⟩ N_poss) on the first N (30 at most), the means over the
// indexed lines, N₂₀ and N_poss the possible lines up to the 20th and N-th line.
struct Figures {
    double M20 = 0.0;
    // M20 with each unindexed line of the first 20 counted at the largest
    // error allowed (∂Q/∂2θ · maxError) in ⟨|ΔQ|⟩: what candidates are
    // ranked by, so that leaving lines out costs as much as fitting them badly.
    double ranking = 0.0;
    double FN = 0.0;
    int N = 0;
    double meanError = 0.0;  // degrees
    int possible = 0;
};
Figures figuresOfMerit(const CellFit &fit, const std::vector<Line> &lines, char centring, double wavelength,
                       double maxError = 0.0);

// One ranked candidate: its fit, centring, cells and figures.
struct Candidate {
    CellFit fit;
    char centring = 'P';
    std::array<double, 6> cell{};
    std::array<double, 6> cellEsd{};
    std::array<double, 6> reducedCell{};
    double volume = 0.0;
    Figures figures;
    int supercellOf = -1;  // a better candidate whose lattice this one multiplies
    int subcellOf = -1;    // a better candidate whose lattice multiplies this one
    double leBailRwp = std::nan("");
    std::vector<std::string> extinctionSymbols;  // filled by the caller
};

// The centring its indexed lines allow that leaves the most possible lines
// absent ('P' when none): every indexed line must keep a reflexion within
// its largest error (at most maxError) that the centring allows.
char latticeCentring(const CellFit &fit, const std::vector<Line> &lines, double wavelength, double maxError);

// The reflexions (any of each metric-equivalent set) within each line's
// largest error (Line::allowed, at most maxError), by the fit's cell and zero shift.
std::vector<std::vector<Hkl>> reflexionsOfLines(const CellFit &fit, const std::vector<Line> &lines,
                                                double wavelength, double maxError);

// The candidate made of a fit: centring, conventional and reduced cell with
// esd's, volume and figures of merit.
Candidate makeCandidate(const CellFit &fit, const std::vector<Line> &lines, const FitSettings &settings);

// Whether two candidates describe one lattice (their reduced cells agree).
bool sameLattice(const Candidate &a, const Candidate &b);

// Merges candidates of one lattice (the higher symmetry kept, unless the
// lower fits the lines clearly better), ranks them by M20 and marks each
// supercell and each sub-cell of a better-ranked candidate; keeps at most `keep`.
void rankCandidates(std::vector<Candidate> &candidates, std::size_t keep, double qMax);

// A whole search over the systems the options ask for: the lines (2θ,
// ascending, at `wavelength`, each with its esd in degrees, 0 where not
// known), the volume range of each system, the solutions of every leaf
// fitted, merged and ranked. `progress` receives the
// fraction done and the system searched, and returns true to stop.
struct SearchOutcome {
    std::vector<Line> lines;
    std::vector<Candidate> candidates;
    bool stopped = false;
    std::string notes;
};
using RunProgress = std::function<bool(double fraction, const char *stage)>;
SearchOutcome searchCells(const std::vector<double> &twoTheta, const std::vector<double> &esd, double wavelength,
                          const pk_index_options &options, const RunProgress &progress);

// The volume range searched for a system when the options give none: from
// the number of lines and the Q of the last, by the count of reflexions of
// a cell of volume V up to Q, (4π/3) Q^{3/2} V over the Laue group's order.
std::array<double, 2> defaultVolumes(LatticeSystem system, const std::vector<Line> &lines);

// The Rwp (percent) of a Le Bail fit of `measured` with the candidate's
// cell; NaN, with `failure` saying why, when the fit cannot run or `stop`
// stopped it.
double leBailCheck(const Candidate &candidate, const pk_measured_pattern &measured, const pk_instrument &instrument,
                   const std::function<bool()> &stop, std::string &failure);

}  // namespace powderkit::indexing

#endif
