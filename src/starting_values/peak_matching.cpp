// Starting the zero shift and the cell lengths from the measured peaks. A
// literature cell some tenths of a per cent off puts its high-angle lines
// beside the measured peaks, further than their width, and Levenberg–
// Marquardt cannot find its way from there. So before the first cycle each
// phase's strongest lines (Kα2 companions included) are matched to the peaks
// of the measured pattern over a bounded window of moves, and a move is kept
// only where it clearly improves the match.
//
// The match of a set of lines k (intensities w_k, summing to 1) to the
// measured peaks j (areas a_j summing to 1, positions o_j, widths τ_j) is
//   M = Σ_k Σ_j √(w_k a_j) exp(−4 ln 2 ((t_k − o_j)/τ_j)²),
// a Bhattacharyya-like overlap of the two stick patterns: it rewards strong
// lines on strong peaks, and a Kα1 line on a Kα2 peak (half the area, no
// companion matched) scores well below the right cell. Peaks that another
// phase's lines explain at its present values are left out of a phase's
// match, so that a cell never moves onto another phase's lines.
//
// Moves: the cell lengths scaled together by s and the zero shifted by z
// (when free), on a grid fine enough that no line moves more than a third of
// the narrowest peak width per step; then each free length alone. A line's
// position follows its d by 2θ = 2 asin(λ/2d) (or by the flight time
// difC d + difA d²), with the instrument's other shifts (zero, displacement,
// transparency) held as they were; scaling the
// lengths by f_i at fixed angles scales the reciprocal metric G*_ij by
// 1/(f_i f_j), so 1/d² = Σ h_i h_j G*_ij / (f_i f_j).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "boundary/boundary.hpp"
#include "boundary/constants.hpp"
#include "starting_values/starting_values.hpp"

namespace powderkit::refinement {

namespace {

using phase::kDegreesToRadians;
using phase::kRadiansToDegrees;

// The lines of a phase that take part in its match.
constexpr std::size_t kMatchedLines = 16;
// A move is kept when it raises the match by this fraction and by at least kClearGain.
constexpr double kClearImprovement = 0.15;
constexpr double kClearGain = 0.03;
// Grid steps move the outermost line by at most this fraction of the narrowest width.
constexpr double kStepOfWidth = 1.0 / 3.0;
// The best points of one level of the search that the next level searches about.
constexpr std::size_t kCandidates = 6;
// Peaks farther than this many widths from a line add nothing.
constexpr double kReach = 2.5;

struct Line {
    std::array<int32_t, 3> hkl;
    double wavelength;  // Å
    double weight;      // w_k
    double shift;       // position − 2 asin(λ/2d): the instrument's other shifts
    double position;    // at the start
};

// The 2θ (degrees) of d at wavelength λ, without shifts; NaN beyond 180°.
double braggAngle(double wavelength, double d) {
    const double s = wavelength / (2.0 * d);
    return s < 1.0 ? 2.0 * std::asin(s) * kRadiansToDegrees : NAN;
}

// Where a line of d falls before the instrument's shifts: 2θ by Bragg's law
// at its wavelength, or the flight time difC d + difA d² + difB / d (ms, zero apart).
struct Axis {
    bool tof;
    pk_instrument calibration;  // its zero 0
    double difB;                // µs·Å
    double at(double wavelength, double d) const {
        return tof ? phase::flightTime(calibration, difB, d) * 1e-3 : braggAngle(wavelength, d);
    }
};

Axis axisOf(const pk_refinement &r) {
    pk_instrument calibration = r.instrument;
    calibration.zero = 0.0;
    return {r.instrument.axis == PK_AXIS_TOF, calibration, r.difB};
}

// The strongest primary lines of a phase inside the span, with their Kα2 companions.
std::vector<Line> strongestLines(const pk_refinement &r, const PhaseModel &model, std::size_t count) {
    const phase::PhasePeaks &peaks = model.peaks;
    const bool leBail = r.options.mode == PK_REFINE_LE_BAIL;
    std::vector<std::pair<double, std::size_t>> ranked;
    for (std::size_t n = 0; n < peaks.primaryCount; ++n) {
        const Reflexion &reflexion = peaks.reflexions[n];
        if (reflexion.peakPosition < r.xMin || reflexion.peakPosition > r.xMax) continue;
        // Le Bail knows no intensities yet: multiplicity and Lorentz-polarisation stand in.
        const double w = leBail ? reflexion.multiplicity * reflexion.lorentzPolarization : reflexion.intensity;
        if (w > 0.0) ranked.emplace_back(w, n);
    }
    std::sort(ranked.begin(), ranked.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    if (ranked.size() > count) ranked.resize(count);
    std::vector<Line> lines;
    double total = 0.0;
    for (const auto &[w, n] : ranked) {
        for (std::size_t m : {n, n + peaks.primaryCount}) {
            if (m >= peaks.reflexions.size()) continue;
            const Reflexion &reflexion = peaks.reflexions[m];
            const double wavelength = m == n ? r.instrument.wavelength : r.instrument.wavelength2;
            const double weight = m == n ? w : w * (peaks.reflexions[n].intensity > 0.0 && !leBail
                                                        ? reflexion.intensity / peaks.reflexions[n].intensity
                                                        : r.instrument.ratio2);
            const double bragg = axisOf(r).at(wavelength, reflexion.dSpacing);
            if (!std::isfinite(bragg) || !(weight > 0.0)) continue;
            lines.push_back({{reflexion.h, reflexion.k, reflexion.l}, wavelength, weight,
                             reflexion.peakPosition - bragg, reflexion.peakPosition});
            total += weight;
        }
    }
    for (Line &line : lines) line.weight /= total;
    return lines;
}

// The peaks a phase may match: those no other phase's strong lines explain
// unless its own lines do too, with areas normalised to sum 1.
std::vector<ObservedPeak> peaksFor(const pk_refinement &r, std::size_t p, const std::vector<ObservedPeak> &all) {
    auto near = [](const std::vector<Line> &lines, const ObservedPeak &peak) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const Line &line) { return std::fabs(line.position - peak.position) < peak.fwhm; });
    };
    std::vector<std::vector<Line>> lines;
    for (const PhaseModel &model : r.phases) lines.push_back(strongestLines(r, model, 2 * kMatchedLines));
    std::vector<ObservedPeak> kept;
    double total = 0.0;
    for (const ObservedPeak &peak : all) {
        bool claimed = false;
        for (std::size_t q = 0; q < r.phases.size() && !claimed; ++q) {
            if (q != p) claimed = near(lines[q], peak) && !near(lines[p], peak);
        }
        if (claimed) continue;
        kept.push_back(peak);
        total += peak.area;
    }
    for (ObservedPeak &peak : kept) peak.area /= total;
    return kept;
}

// The reciprocal metric G* of a cell (a b c in Å, angles in degrees).
std::array<std::array<double, 3>, 3> reciprocalMetric(const std::array<double, 6> &cell) {
    const double ca = std::cos(cell[3] * kDegreesToRadians), cb = std::cos(cell[4] * kDegreesToRadians),
                 cg = std::cos(cell[5] * kDegreesToRadians);
    const double g[3][3] = {{cell[0] * cell[0], cell[0] * cell[1] * cg, cell[0] * cell[2] * cb},
                            {cell[0] * cell[1] * cg, cell[1] * cell[1], cell[1] * cell[2] * ca},
                            {cell[0] * cell[2] * cb, cell[1] * cell[2] * ca, cell[2] * cell[2]}};
    const Eigen::Matrix3d inverse = Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(&g[0][0]).inverse();
    std::array<std::array<double, 3>, 3> result{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) result[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = inverse(i, j);
    }
    return result;
}

// One phase's lines as the lengths are scaled by f (per axis) and the zero moved by z.
class Mover {
public:
    Mover(std::vector<Line> lines, const std::array<double, 6> &cell, const Axis &axis)
        : lines_(std::move(lines)), axis_(axis) {
        metric_ = reciprocalMetric(cell);
    }
    const std::vector<Line> &lines() const { return lines_; }
    // The position of line k at length factors f and zero move z.
    double position(const Line &line, const std::array<double, 3> &f, double z) const {
        double inverseSquare = 0.0;
        for (std::size_t i = 0; i < 3; ++i) {
            for (std::size_t j = 0; j < 3; ++j)
                inverseSquare += line.hkl[i] * line.hkl[j] * metric_[i][j] / (f[i] * f[j]);
        }
        return axis_.at(line.wavelength, 1.0 / std::sqrt(inverseSquare)) + line.shift + z;
    }
    // M at f and z against `peaks` (sorted by position), every width blurred by `blur`.
    double match(const std::vector<ObservedPeak> &peaks, const std::array<double, 3> &f, double z,
                 double blur = 1.0) const {
        double total = 0.0;
        const double reach = kReach * widest_ * blur;
        for (const Line &line : lines_) {
            const double t = position(line, f, z);
            if (!std::isfinite(t)) continue;
            auto it = std::lower_bound(peaks.begin(), peaks.end(), t - reach,
                                       [](const ObservedPeak &peak, double x) { return peak.position < x; });
            for (; it != peaks.end() && it->position < t + reach; ++it) {
                const double u = (t - it->position) / (it->fwhm * blur);
                if (std::fabs(u) > kReach) continue;
                total += std::sqrt(line.weight * it->area) * std::exp(-phase::kGaussianExponentFactor * u * u);
            }
        }
        return total;
    }
    void setWidest(double widest) { widest_ = widest; }

private:
    std::vector<Line> lines_;
    Axis axis_;
    std::array<std::array<double, 3>, 3> metric_{};
    double widest_ = 0.0;
};

// One dimension of the search: a free length (its parameter) or the zero
// (parameter −1), its half-window (fraction, or degrees) and finest step.
struct Dimension {
    int parameter;
    double window;
    double step;
};

// The search over the dimensions, coarse to fine: the widths blurred by 27,
// 9, 3 and 1 (the levels that leave at least eight grid steps across the
// widest window), each level on a grid of steps blur × finest step, the first
// over the whole window, the others about the best few points of the level
// before (so that a narrow true optimum is not lost for a broad wrong one).
class Search {
public:
    Search(const Mover &mover, const std::vector<ObservedPeak> &peaks, const std::array<int, 3> &parameterOf,
           const std::vector<Dimension> &dimensions)
        : mover_(mover), peaks_(peaks), parameterOf_(parameterOf), dimensions_(dimensions) {}

    // The length factors and zero move of a point of the search.
    void apply(const std::vector<double> &point, std::array<double, 3> &f, double &z) const {
        f = {1.0, 1.0, 1.0};
        z = 0.0;
        for (std::size_t d = 0; d < dimensions_.size(); ++d) {
            if (dimensions_[d].parameter < 0) {
                z = point[d];
                continue;
            }
            for (std::size_t k = 0; k < 3; ++k) {
                if (parameterOf_[k] == dimensions_[d].parameter) f[k] = 1.0 + point[d];
            }
        }
    }

    double match(const std::vector<double> &point, double blur) const {
        std::array<double, 3> f;
        double z;
        apply(point, f, z);
        return mover_.match(peaks_, f, z, blur);
    }

    std::vector<double> best() const {
        std::vector<std::pair<double, std::vector<double>>> kept = {{0.0, std::vector<double>(dimensions_.size())}};
        double previous = 0.0;  // the blur of the level before; 0 at the first
        // Blurring beyond an eighth of the finest grid across the widest window would smear every line over
        // every peak: the first level starts below that.
        double finest = 1.0;
        for (const Dimension &d : dimensions_) finest = std::max(finest, d.window / d.step);
        for (double blur : {27.0, 9.0, 3.0, 1.0}) {
            if (blur > 1.0 && blur > finest / 8.0) continue;
            std::vector<std::pair<double, std::vector<double>>> next;
            for (const auto &[score, centre] : kept) {
                std::vector<int> steps(dimensions_.size());
                std::vector<double> size(dimensions_.size());
                for (std::size_t d = 0; d < dimensions_.size(); ++d) {
                    size[d] = std::min(blur * dimensions_[d].step, dimensions_[d].window);
                    const double reach = previous > 0.0 ? 2.0 * previous * dimensions_[d].step : dimensions_[d].window;
                    steps[d] = static_cast<int>(std::ceil(std::min(reach, dimensions_[d].window) / size[d]));
                }
                visit(centre, steps, size, blur, next);
            }
            std::sort(next.begin(), next.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
            if (next.size() > kCandidates) next.resize(kCandidates);
            kept = next;
            previous = blur;
        }
        return kept.front().second;
    }

private:
    // Every grid point about `centre`, within the windows, with its match at `blur`.
    void visit(const std::vector<double> &centre, const std::vector<int> &steps, const std::vector<double> &size,
               double blur, std::vector<std::pair<double, std::vector<double>>> &out) const {
        std::vector<int> index(steps.size());
        for (std::size_t d = 0; d < steps.size(); ++d) index[d] = -steps[d];
        while (true) {
            std::vector<double> point(steps.size());
            bool inside = true;
            for (std::size_t d = 0; d < steps.size(); ++d) {
                point[d] = centre[d] + index[d] * size[d];
                inside = inside && std::fabs(point[d]) <= dimensions_[d].window * (1.0 + 1e-12);
            }
            if (inside) out.emplace_back(match(point, blur), point);
            std::size_t d = 0;
            while (d < steps.size() && ++index[d] > steps[d]) index[d] = -steps[d], ++d;
            if (d == steps.size()) break;
        }
    }

    const Mover &mover_;
    const std::vector<ObservedPeak> &peaks_;
    std::array<int, 3> parameterOf_;
    std::vector<Dimension> dimensions_;
};

std::string percent(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.3f %%", 100.0 * fraction);
    return text;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

}  // namespace

void matchPositions(pk_refinement &r, const std::vector<ObservedPeak> &all) {
    if (all.empty()) return;
    const int zeroIndex = parameterIndex(r, "zero");
    Parameter &zero = r.parameters[static_cast<std::size_t>(zeroIndex)];
    // The zero window is in degrees: on time of flight the zero starts where given.
    const Axis axis = axisOf(r);
    bool zeroFree = zero.state == PK_PARAMETER_FREE && r.options.zero_window > 0.0 && !axis.tof;
    const double narrowest =
        std::min_element(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.fwhm < b.fwhm; })->fwhm;
    const double widest =
        std::max_element(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.fwhm < b.fwhm; })->fwhm;
    const double step = kStepOfWidth * narrowest;
    for (std::size_t p = 0; p < r.phases.size(); ++p) {
        PhaseModel &model = r.phases[p];
        // The free lengths: the parameter of each axis (tied axes share one), or −1.
        std::array<int, 3> parameterOf{-1, -1, -1};
        bool cellFree = false;
        for (std::size_t k = 0; k < 3; ++k) {
            const int leader = model.cell.leader[k];
            if (leader < 0) continue;
            const int index = model.cellParameter[static_cast<std::size_t>(leader)];
            if (index >= 0 && r.parameters[static_cast<std::size_t>(index)].state == PK_PARAMETER_FREE) {
                parameterOf[k] = index;
                cellFree = true;
            }
        }
        cellFree = cellFree && r.options.cell_window > 0.0;
        if (!cellFree && !zeroFree) continue;
        const std::vector<ObservedPeak> peaks = peaksFor(r, p, all);
        Mover mover(strongestLines(r, model, kMatchedLines), model.description.cell, axis);
        if (peaks.empty() || mover.lines().empty()) continue;
        mover.setWidest(widest);
        // The outermost line sets the grid of s: Δ2θ = 2 tan θ · s (radians),
        // or a flight time t moving by t · s.
        double outermost = 0.0;
        for (const Line &line : mover.lines()) {
            outermost = std::max(outermost, axis.tof ? line.position : std::tan(line.position * kDegreesToRadians / 2.0));
        }
        const double sStep = axis.tof ? step / std::max(outermost, 1e-9)
                                      : step * kDegreesToRadians / (2.0 * std::max(outermost, 1e-3));
        // The dimensions searched: each free length (tied axes move together) and the zero.
        std::vector<Dimension> dimensions;
        for (std::size_t k = 0; k < 3 && cellFree; ++k) {
            if (parameterOf[k] < 0 || (k > 0 && parameterOf[k] == parameterOf[k - 1]) ||
                (k > 1 && parameterOf[k] == parameterOf[0]))
                continue;
            Dimension d{parameterOf[k], r.options.cell_window, sStep};
            dimensions.push_back(d);
        }
        if (zeroFree) dimensions.push_back({-1, r.options.zero_window, step});
        const Search search{mover, peaks, parameterOf, dimensions};
        const std::vector<double> origin(dimensions.size(), 0.0);
        const double start = search.match(origin, 1.0);
        const std::vector<double> found = search.best();
        const double best = search.match(found, 1.0);
        std::array<double, 3> bestF{1.0, 1.0, 1.0};
        double bestZ = 0.0;
        search.apply(found, bestF, bestZ);
        if (!(best > start * (1.0 + kClearImprovement) && best - start > kClearGain)) continue;
        for (std::size_t k = 0; k < 3; ++k) {
            if (parameterOf[k] < 0 || (k > 0 && parameterOf[k] == parameterOf[k - 1]) ||
                (k > 1 && parameterOf[k] == parameterOf[0]))
                continue;
            Parameter &length = r.parameters[static_cast<std::size_t>(parameterOf[k])];
            const double before = length.value;
            length.value *= bestF[k];
            if (bestF[k] != 1.0) {
                // A start on the window's edge says the data may want more than the window allows.
                const bool edge = std::fabs(bestF[k] - 1.0) >= r.options.cell_window * (1.0 - 1e-9) - sStep;
                r.notes += length.name + " started at " + number(length.value) + " Å (given " + number(before) + ", " +
                           percent(bestF[k] - 1.0) + ") to match the measured peaks" +
                           (edge ? ", at the edge of the ±" + number(100.0 * r.options.cell_window) +
                                       " % searched: the refinement goes on from there"
                                 : "") +
                           "\n";
            }
        }
        if (bestZ != 0.0) {
            const double before = zero.value;
            zero.value += bestZ;
            const bool edge = std::fabs(bestZ) >= r.options.zero_window - step;
            r.notes += "zero started at " + number(zero.value) + "° (given " + number(before) +
                       "°) to match the measured peaks" +
                       (edge ? ", at the edge of the ±" + number(r.options.zero_window) +
                                   "° searched: the refinement goes on from there"
                             : "") +
                       "\n";
        }
        // The zero is shared: the first phase that moves it sets it for the others.
        if (zeroFree && bestZ != 0.0) zeroFree = false;
        beat(r);
        applyParameters(r);
        evaluate(r, {});
    }
}

}  // namespace powderkit::refinement
