// Starting the widths from the measured peaks. A refinement started at a
// laboratory diffractometer's widths cannot find a synchrotron's peaks
// fifteen times narrower, nor a nanocrystalline phase's twenty times broader:
// the pattern at the start overlaps the data too little for the first cycles
// to see which way to go. So, unless an instrument file gave the profile,
// each phase's free widths start from the resolved peaks its lines explain.
//
// Each peak's pseudo-Voigt fit gives its FWHM H and mixing η; the
// Thompson–Cox–Hastings relations split them into a Gaussian and a
// Lorentzian width: q = H_L/H from η = 1.36603 q − 0.47719 q² + 0.11116 q³,
// then H_G from H = TCH(H_G, H_L) (both monotonic, solved by bisection).
// Weighted least squares (relative errors) then fits the Caglioti form
// H_G² = U tan²θ + V tanθ + W and the Lorentzian H_L = X / cos θ + Y tan θ,
// with fewer terms where few peaks are found or a term would turn a width
// negative, the fixed terms held at their values; a peak whose width lies far
// from the first fit's is dropped before a second fit. A Kα1 + Kα2 doublet
// is one peak to the peak list at low angles and a peak with a shoulder at
// high ones: its fitted width and η say little of the line's, so with two
// lines this step is left out.
//
// Then the level of the widths is set by the whole pattern: each phase's
// free widths are scaled together (U V W by m², X Y by m) over m = 1/32 … 32
// on a grid of 2^(1/4), then of 2^(1/16) about the best, to the least χ²
// after the linear fit of scales and background. The model sees the doublet,
// the asymmetry and the overlaps the peak list cannot, and a start fifteen
// times too wide or too narrow lands within a few per cent.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "boundary/boundary.hpp"
#include "boundary/constants.hpp"
#include "pattern/peak_shapes.hpp"
#include "starting_values/starting_values.hpp"

namespace powderkit::refinement {

namespace {

using phase::kDegreesToRadians;

// A peak counts as its phase's when the phase's nearest line lies within
// this fraction of its width, and no other phase's line within kAlone widths.
constexpr double kOnLine = 0.5;
constexpr double kAlone = 1.5;
// After the first fit, peaks whose width lies outside this ratio of the fit's are dropped.
constexpr double kWidthRatio = 1.6;
// The least target a width fit weighs by, as a share of the targets' median;
// and the least width (a share of the narrowest peak's FWHM) a fitted Gaussian
// or Lorentzian part may have over the range: below it the data do not
// determine that part, and its terms keep their start.
constexpr double kLeastTargetShare = 0.1;
constexpr double kLeastWidthShare = 0.01;
constexpr int kBisections = 60;
// Le Bail extraction passes at each trial of the widths' scale.
constexpr int kExtractionPasses = 4;

// q with η(q) = η, η in [0, 1] (η(q) the pattern's Thompson–Cox–Hastings mixing).
double lorentzianShare(double eta) {
    double low = 0.0, high = 1.0;
    for (int i = 0; i < kBisections; ++i) {
        const double mid = 0.5 * (low + high);
        (phase::thompsonCoxHastingsEta(mid) < eta ? low : high) = mid;
    }
    return 0.5 * (low + high);
}

// H_G with TCH(H_G, H_L) = H, for 0 ≤ H_L ≤ H.
double gaussianWidth(double fwhm, double lorentzian) {
    double low = 0.0, high = fwhm;
    for (int i = 0; i < kBisections; ++i) {
        const double mid = 0.5 * (low + high);
        (phase::thompsonCoxHastingsFwhm(mid, lorentzian) < fwhm ? low : high) = mid;
    }
    return 0.5 * (low + high);
}

struct Widths {
    double tangent, secant;  // tan θ, 1/cos θ
    double gaussianSquare;   // H_G², degrees²
    double lorentzian;       // H_L, degrees
};

// Weighted least squares of `target` on the columns `use` of `basis`, with
// relative weights 1/target² (each target taken as at least a tenth of their
// median, so that a width near zero cannot outweigh the rest); the
// coefficients of the width's own columns (`mine`) not used stay at
// `coefficients` and their part is taken from the target first. The other
// width's columns play no part.
bool fitTerms(const std::vector<std::vector<double>> &basis, const std::vector<double> &target,
              const std::vector<bool> &use, const std::vector<bool> &mine, std::vector<double> &coefficients) {
    const auto rows = static_cast<Eigen::Index>(target.size());
    std::vector<std::size_t> columns;
    for (std::size_t c = 0; c < use.size(); ++c) {
        if (use[c]) columns.push_back(c);
    }
    if (columns.empty() || static_cast<Eigen::Index>(columns.size()) > rows) return false;
    std::vector<double> sizes;
    for (double t : target) sizes.push_back(std::fabs(t));
    const auto middle = sizes.begin() + static_cast<std::ptrdiff_t>(sizes.size() / 2);
    std::nth_element(sizes.begin(), middle, sizes.end());
    const double least = std::max(kLeastTargetShare * *middle, 1e-12);
    Eigen::MatrixXd a(rows, static_cast<Eigen::Index>(columns.size()));
    Eigen::VectorXd b(rows);
    for (Eigen::Index i = 0; i < rows; ++i) {
        const auto row = static_cast<std::size_t>(i);
        const double weight = 1.0 / std::max(std::fabs(target[row]), least);
        double rest = target[row];
        for (std::size_t c = 0; c < use.size(); ++c) {
            if (mine[c] && !use[c]) rest -= coefficients[c] * basis[row][c];
        }
        for (std::size_t k = 0; k < columns.size(); ++k)
            a(i, static_cast<Eigen::Index>(k)) = weight * basis[row][columns[k]];
        b(i) = weight * rest;
    }
    const Eigen::VectorXd solution = a.colPivHouseholderQr().solve(b);
    for (std::size_t k = 0; k < columns.size(); ++k) coefficients[columns[k]] = solution(static_cast<Eigen::Index>(k));
    return solution.allFinite();
}

// Fits the free terms (in order of preference: the constant term first) so
// that the width is positive over tan θ in [t0, t1]; `positive(c)` says so.
template <typename Positive>
void fitWidthTerms(const std::vector<std::vector<double>> &basis, const std::vector<double> &target,
                   const std::vector<bool> &free, const std::vector<std::size_t> &preference,
                   std::vector<double> &coefficients, Positive positive) {
    // At most one free term for every two peaks (one at least), the preferred first.
    const std::size_t most = std::max<std::size_t>(1, target.size() / 2);
    std::vector<std::size_t> order;
    for (std::size_t c : preference) {
        if (free[c]) order.push_back(c);
    }
    for (std::size_t count = std::min(most, order.size()); count > 0; --count) {
        std::vector<bool> use(free.size(), false);
        for (std::size_t k = 0; k < count; ++k) use[order[k]] = true;
        std::vector<double> trial = coefficients;
        for (std::size_t c = 0; c < free.size(); ++c) {
            if (free[c] && !use[c]) trial[c] = 0.0;
        }
        std::vector<bool> mine(free.size(), false);
        for (std::size_t c : preference) mine[c] = true;
        if (fitTerms(basis, target, use, mine, trial) && positive(trial)) {
            coefficients = trial;
            return;
        }
    }
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

// The widths of the peaks of phase p, resolved from the others' lines.
std::vector<Widths> widthsOf(const pk_refinement &r, std::size_t p, const std::vector<ObservedPeak> &peaks) {
    std::vector<Widths> widths;
    for (const ObservedPeak &peak : peaks) {
        double own = INFINITY, other = INFINITY;
        for (std::size_t q = 0; q < r.phases.size(); ++q) {
            const phase::PhasePeaks &lines = r.phases[q].peaks;
            for (std::size_t n = 0; n < lines.primaryCount; ++n) {
                const double d = std::fabs(lines.reflexions[n].peakPosition - peak.position);
                (q == p ? own : other) = std::min(q == p ? own : other, d);
            }
        }
        if (!(own < kOnLine * peak.fwhm) || other < kAlone * peak.fwhm) continue;
        const double theta = peak.position * kDegreesToRadians / 2.0;
        Widths w{std::tan(theta), 1.0 / std::cos(theta), 0.0, 0.0};
        const int32_t type = r.phases[p].profile.type;
        if (type == PK_PROFILE_GAUSSIAN) {
            w.gaussianSquare = peak.fwhm * peak.fwhm;
        } else if (type == PK_PROFILE_LORENTZIAN) {
            w.lorentzian = peak.fwhm;
        } else {
            w.lorentzian = lorentzianShare(std::clamp(peak.eta, 0.0, 1.0)) * peak.fwhm;
            const double g = gaussianWidth(peak.fwhm, w.lorentzian);
            w.gaussianSquare = g * g;
        }
        widths.push_back(w);
    }
    return widths;
}

}  // namespace

void profileFromPeaks(pk_refinement &r, const std::vector<ObservedPeak> &peaks) {
    const bool doublet = r.instrument.wavelength2 > 0.0 && r.instrument.ratio2 > 0.0;
    if (r.hasInstrumentProfile || peaks.empty() || doublet) return;
    const double t0 = std::tan(r.xMin * kDegreesToRadians / 2.0), t1 = std::tan(r.xMax * kDegreesToRadians / 2.0);
    for (std::size_t p = 0; p < r.phases.size(); ++p) {
        PhaseModel &model = r.phases[p];
        // The profile parameters U V W X Y of the phase, and which are free.
        std::vector<Parameter *> terms(5, nullptr);
        std::vector<bool> free(5, false);
        for (Parameter &parameter : r.parameters) {
            if (parameter.target != Target::Profile || parameter.phase != static_cast<int>(p)) continue;
            terms[static_cast<std::size_t>(parameter.index)] = &parameter;
            free[static_cast<std::size_t>(parameter.index)] = parameter.state == PK_PARAMETER_FREE;
        }
        if (std::none_of(free.begin(), free.end(), [](bool f) { return f; })) continue;
        std::vector<Widths> widths = widthsOf(r, p, peaks);
        if (widths.empty()) continue;
        std::vector<double> c(5);
        for (std::size_t k = 0; k < 5; ++k) c[k] = terms[k] != nullptr ? terms[k]->value : 0.0;
        const std::vector<double> given = c;
        const bool gaussian = model.profile.type != PK_PROFILE_LORENTZIAN;
        const bool lorentzian = model.profile.type != PK_PROFILE_GAUSSIAN;
        double narrowest = INFINITY;
        for (const Widths &w : widths) {
            narrowest = std::min(narrowest, phase::thompsonCoxHastingsFwhm(std::sqrt(w.gaussianSquare), w.lorentzian));
        }
        const double least = kLeastWidthShare * narrowest;
        auto gaussianPositive = [&](const std::vector<double> &v) {
            // H_G² = U t² + V t + W over [t0, t1]: its ends and its vertex.
            std::vector<double> ts = {t0, t1};
            if (v[0] > 0.0) ts.push_back(std::clamp(-v[1] / (2.0 * v[0]), t0, t1));
            return std::all_of(ts.begin(), ts.end(),
                               [&](double t) { return v[0] * t * t + v[1] * t + v[2] > least * least; });
        };
        // X / cos θ + Y tan θ, both terms ≥ 0, is least at the low end of the range (where cos θ ≈ 1).
        auto lorentzianPositive = [&](const std::vector<double> &v) {
            return v[3] >= 0.0 && v[4] >= 0.0 && v[3] + v[4] * t0 > least;
        };
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<std::vector<double>> basis;
            std::vector<double> gTarget, lTarget;
            for (const Widths &w : widths) {
                basis.push_back({w.tangent * w.tangent, w.tangent, 1.0, w.secant, w.tangent});
                gTarget.push_back(w.gaussianSquare);
                lTarget.push_back(w.lorentzian);
            }
            if (gaussian) fitWidthTerms(basis, gTarget, {free[0], free[1], free[2], false, false}, {2, 0, 1}, c,
                                        gaussianPositive);
            if (lorentzian) fitWidthTerms(basis, lTarget, {false, false, false, free[3], free[4]}, {3, 4}, c,
                                          lorentzianPositive);
            if (pass == 1 || widths.size() < 4) break;
            // Drop the peaks whose width lies far from the fit's (a hidden overlap, an impurity's line).
            std::vector<Widths> kept;
            for (const Widths &w : widths) {
                const double g = std::sqrt(std::max(c[0] * w.tangent * w.tangent + c[1] * w.tangent + c[2], 0.0));
                const double l = c[3] * w.secant + c[4] * w.tangent;
                const double fit = phase::thompsonCoxHastingsFwhm(gaussian ? g : 0.0, lorentzian ? l : 0.0);
                const double seen = phase::thompsonCoxHastingsFwhm(std::sqrt(w.gaussianSquare), w.lorentzian);
                if (fit > 0.0 && seen < kWidthRatio * fit && fit < kWidthRatio * seen) kept.push_back(w);
            }
            if (kept.size() == widths.size() || kept.size() < 3) break;
            widths = kept;
        }
        std::string moved;
        const char *const names[5] = {"U", "V", "W", "X", "Y"};
        for (std::size_t k = 0; k < 5; ++k) {
            if (terms[k] == nullptr || !free[k] || c[k] == given[k]) continue;
            terms[k]->value = c[k];
            moved += std::string(moved.empty() ? "" : ", ") + names[k] + " " + number(c[k]) + " (given " +
                     number(given[k]) + ")";
        }
        if (!moved.empty()) {
            r.notes += model.name + ": widths started from " + std::to_string(widths.size()) +
                       " resolved peaks: " + moved + "\n";
        }
    }
    applyParameters(r);
    evaluate(r, {});
}

namespace {

// How a profile term follows the peak's width w: the Gaussian variances as w²
// (U V W; σ0 σ1 σ2 of time of flight), the Lorentzian widths as w (X Y; γ0
// γ1 γ2), the exponentials' rates of time of flight as 1/w (α0 α1 β0 β1).
// Scaling every term so stretches the whole peak by m about its centre.
double widthPower(int32_t axis, int index) {
    if (axis != PK_AXIS_TOF) return index < 3 ? 2.0 : 1.0;
    constexpr int kFirstGamma = 8, kFirstRate = 11;
    if (index < kFirstGamma) return 2.0;
    return index < kFirstRate ? 1.0 : -1.0;
}

}  // namespace

void scaleWidths(pk_refinement &r) {
    if (r.hasInstrumentProfile) return;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t p = 0; p < r.phases.size(); ++p) {
            std::vector<Parameter *> terms;
            for (Parameter &parameter : r.parameters) {
                if (parameter.target == Target::Profile && parameter.phase == static_cast<int>(p) &&
                    parameter.state == PK_PARAMETER_FREE)
                    terms.push_back(&parameter);
            }
            if (terms.empty()) continue;
            std::vector<double> given;
            for (const Parameter *term : terms) given.push_back(term->value);
            std::vector<bool> only(r.phases.size(), false);
            only[p] = true;
            // χ² after the linear fit with the widths scaled by m; ∞ where they cannot make a pattern.
            auto chi2At = [&](double m) {
                beat(r);
                for (std::size_t k = 0; k < terms.size(); ++k)
                    terms[k]->value = given[k] * std::pow(m, widthPower(r.instrument.axis, terms[k]->index));
                applyParameters(r);
                try {
                    evaluate(r, only);
                } catch (const phase::Failure &) {
                    return static_cast<double>(INFINITY);
                }
                // Le Bail knows no intensities but the pattern's: they follow each trial's widths.
                for (int n = 0; n < kExtractionPasses && r.options.mode == PK_REFINE_LE_BAIL; ++n)
                    extractIntensities(r);
                double chi2 = 0.0;
                linearFit(r, chi2);
                return chi2;
            };
            double best = 1.0, bestChi2 = chi2At(1.0);
            for (int coarse = -20; coarse <= 20; ++coarse) {
                const double m = std::exp2(coarse / 4.0), chi2 = chi2At(m);
                if (chi2 < bestChi2) best = m, bestChi2 = chi2;
            }
            const double centre = best;
            for (int fine = -4; fine <= 4; ++fine) {
                const double m = centre * std::exp2(fine / 16.0), chi2 = chi2At(m);
                if (chi2 < bestChi2) best = m, bestChi2 = chi2;
            }
            // A time-of-flight profile comes with the calibration from the instrument's file: within √2 of
            // the pattern's widths it is left to the cycles (the scan would trade it for misfits elsewhere,
            // such as lines no phase holds); only a start off by more is rescued.
            const bool tof = r.instrument.axis == PK_AXIS_TOF;
            if (tof && std::fabs(std::log2(best)) < 0.5) best = 1.0;
            chi2At(best);
            if (best != 1.0) {
                r.notes += r.phases[p].name + ": widths scaled by " + number(best) +
                           " to fit the measured pattern as a whole\n";
            }
        }
    }
    evaluate(r, {});
}

}  // namespace powderkit::refinement
