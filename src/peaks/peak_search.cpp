// The peak list of a measured pattern.
//  - Background: the core's spline through the flat low points of the pattern
//    (fittedBackground), or the lower quartile of the counts when it cannot be
//    had; either runs along the low side of the noise, so it is raised by the
//    clipped median of what lies above it.
//  - Candidates: the core's confirmed maxima (locatePeakRanges, which keeps 30
//    points clear at each end), and in the points it leaves out at either
//    end the maxima of the smoothed counts over ±10 points; each with a FWHM
//    between the points where the smoothed counts fall to half. A fixed shape
//    (η = ½) at the maximum, whose height and the background's offset are
//    linear, must reach a height of kCandidateFraction × significance of its
//    esd's; anything less is noise.
//  - Fits (peak_fit.cpp): every candidate, strongest first, on ±kWindowWidths
//    estimated FWHM (on the high side also its Kα2 offset) with the
//    significant neighbours' profiles added to the background, in two
//    passes; in the first the window also ends at a dip towards a
//    neighbouring candidate. A candidate that no longer passes the
//    fixed-shape test over its neighbours is a flank of theirs, not a line:
//    so is a resolved Kα2 line once its Kα1 line's doublet lies under it.
//    With a Kα2 line each fit is a doublet (Doublet in peaks.hpp) and the
//    peak is its Kα1 line.
//  - Ends: a candidate at either end that stands out by the full significance
//    and whose fit gives no peak is fitted again on a flat background
//    (fitAtEnd); if that fails too, or its maximum lies within kInside esd's
//    of the end, it is a failure "cut by the end of the data". Weaker ones
//    are taken for the noise's maxima.
//  - Kept: height > significance × its own esd; of peaks closer than
//    merge_fraction × FWHM, the more significant. d = λ / (2 sin θ).
//  - A pattern whose peaks span many points is searched on bins of them
//    (oversampling.cpp), so that the search stays linear in the points.
#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "peaks/peaks.hpp"
#include "boundary/boundary.hpp"
#include "powderkit.h"

namespace powderkit::peaks {

namespace {

// Fitted height over its esd: a flat pattern of 5,000 points with counting
// noise then shows fewer than 0.1 false peaks on average (about 0.002).
constexpr double kDefaultSignificance = 4.5;
constexpr double kDefaultMergeFraction = 0.5;
constexpr double kCandidateFraction = 0.6;
// locatePeakRanges needs this many points, keeps kCoreMargin clear at each end, and confirms a maximum once a point
// more than kConfirmation beyond it has been seen; the maxima it cannot see are looked for here.
constexpr int32_t kLeastPoints = 100;
constexpr int32_t kCoreMargin = 30;
constexpr int32_t kConfirmation = 10;
// A line at either end whose maximum lies closer to the end than this many esd's of its position is cut by it.
constexpr double kInside = 3.0;
// A Kα2 line is longer than its Kα1 line, by less than 1 % for every anode.
constexpr double kLongestAlpha2 = 1.05;
constexpr double kWindowWidths = 6.0;
constexpr int32_t kLeastSidePoints = 10;
constexpr int kPasses = 2;
constexpr double kDip = 0.8;
constexpr double kNegligible = 0.01;
// No peak is wider than this fraction of the pattern's span: the background
// follows anything broader (its spline has a knot about every 2.5 % of the points).
constexpr double kWidestFraction = 0.0125;
// The background's centring: points more than kClip σ above it are peaks.
constexpr double kClip = 2.0;
constexpr int kCentringRounds = 3;
constexpr double kPi = 3.14159265358979323846;

struct Pattern {
    const double *x;
    const double *y;
    const double *sigma;
    std::vector<double> background;
    int32_t count;
    double widest;
    Doublet doublet;
};

// A confirmed maximum, where its fit starts, the lowest points towards its
// neighbours on either side (its own index when it has none), whether it lies
// in the points at either end that locatePeakRanges leaves out (and if so,
// whether it stands out there by the full significance), and the fit.
struct Candidate {
    int32_t index;
    PeakStart start;
    int32_t lowLeft;
    int32_t lowRight;
    bool atEnd;
    bool strongAtEnd;
    PeakFit fit;
};

struct Found {
    std::vector<pk_peak> peaks;
    std::vector<pk_peak_failure> failures;
};

// Raises the background by the median of y − b over the points not more than
// kClip σ above the raised background, kCentringRounds times.
void centre(std::vector<double> &background, const double *y, const double *sigma) {
    double shift = 0.0;
    std::vector<double> residuals;
    for (int round = 0; round < kCentringRounds; ++round) {
        residuals.clear();
        for (std::size_t i = 0; i < background.size(); ++i) {
            const double r = y[i] - background[i];
            if (r - shift < kClip * sigma[i]) residuals.push_back(r);
        }
        if (residuals.empty()) return;
        const auto middle = residuals.begin() + static_cast<std::ptrdiff_t>(residuals.size() / 2);
        std::nth_element(residuals.begin(), middle, residuals.end());
        shift = *middle;
    }
    for (double &b : background) b += shift;
}

std::vector<double> backgroundOf(const double *x, const double *y, const double *sigma, int32_t count) {
    std::vector<PatternPoint> points(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < points.size(); ++i) points[i] = {x[i], y[i]};
    const std::unique_ptr<PatternPoint, decltype(&std::free)> spline(fittedBackground(points.data(), count),
                                                                      &std::free);
    std::vector<double> background(points.size());
    if (spline) {
        for (std::size_t i = 0; i < points.size(); ++i) background[i] = spline.get()[i].y;
    } else {
        std::vector<double> sorted(y, y + count);
        const auto quartile = sorted.begin() + count / 4;
        std::nth_element(sorted.begin(), quartile, sorted.end());
        std::fill(background.begin(), background.end(), *quartile);
    }
    centre(background, y, sigma);
    return background;
}

// The mean of y − b over the points i − kSmoothing … i + kSmoothing (fewer at the ends).
double smoothedAbove(const Pattern &p, int32_t i) {
    const int32_t first = std::max(i - kSmoothing, 0);
    const int32_t last = std::min(i + kSmoothing, p.count - 1);
    double sum = 0.0;
    for (int32_t k = first; k <= last; ++k) sum += p.y[k] - p.background[static_cast<std::size_t>(k)];
    return sum / (last - first + 1);
}

// The FWHM between the points around maximum m where the smoothed counts fall
// to half their value at m: at least two point spacings, at most the widest.
double fwhmEstimate(const Pattern &p, int32_t m) {
    const double half = 0.5 * smoothedAbove(p, m);
    int32_t left = m;
    int32_t right = m;
    while (left > 0 && p.x[m] - p.x[left] < p.widest / 2.0 && smoothedAbove(p, left - 1) > half) --left;
    while (right < p.count - 1 && p.x[right] - p.x[m] < p.widest / 2.0 && smoothedAbove(p, right + 1) > half) {
        ++right;
    }
    const double spacing = (p.x[std::min(m + 1, p.count - 1)] - p.x[std::max(m - 1, 0)]) / 2.0;
    return std::max(p.x[right] - p.x[left] + spacing, 2.0 * spacing);
}

// The points within kWindowWidths FWHM of x[m] (on the high side `beyond` farther), at least kLeastSidePoints each
// side where the data reach; a peak in them is at most a quarter of their span wide (a wider one could not be told
// from the background's offset).
FitWindow windowOf(const Pattern &p, const double *background, int32_t m, double fwhm, double beyond = 0.0) {
    FitWindow w{p.x, p.y, p.sigma, background, m, m, p.widest};
    while (w.first > 0 && (m - w.first < kLeastSidePoints || p.x[m] - p.x[w.first - 1] <= kWindowWidths * fwhm)) {
        --w.first;
    }
    while (w.last < p.count - 1 &&
           (w.last - m < kLeastSidePoints || p.x[w.last + 1] - p.x[m] <= kWindowWidths * fwhm + beyond)) {
        ++w.last;
    }
    w.widest = std::min(p.widest, (p.x[w.last] - p.x[w.first]) / 4.0);
    return w;
}

// The height H of the fixed shape (η = ½ and the candidate's FWHM at x[m]) by
// linear least squares with the background's offset c (and, when `sloped`, a
// slope s·(x − x[m]) of it); true when H exceeds `times` its esd, (JᵀWJ)⁻¹
// scaled by χ²/(N − 2), or χ²/(N − 3) with the slope.
bool standsOut(const FitWindow &w, int32_t m, double fwhm, double times, double &height, bool sloped = false) {
    Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
    Eigen::Vector3d gradient = Eigen::Vector3d::Zero();
    double sum = 0.0;  // Σ w·r², from which χ² = Σ w·r² − qᵀ·JᵀW·r at the solution
    for (int32_t i = w.first; i <= w.last; ++i) {
        const Eigen::Vector3d j(pseudoVoigtShape((w.x[i] - w.x[m]) / fwhm, 0.5), 1.0, sloped ? w.x[i] - w.x[m] : 0.0);
        const double weight = 1.0 / (w.sigma[i] * w.sigma[i]);
        const double r = w.y[i] - w.background[i];
        normal.noalias() += weight * j * j.transpose();
        gradient += weight * r * j;
        sum += weight * r * r;
    }
    if (!sloped) normal(2, 2) = 1.0;  // the slope's row and column stand apart, its value 0
    const Eigen::Vector3d q = normal.ldlt().solve(gradient);
    const double chi2 = std::max(sum - q.dot(gradient), 0.0);
    const int32_t free = w.last - w.first + 1 - (sloped ? 3 : 2);
    height = q[0];
    return q[0] > 0.0 && free > 0 && q[0] * q[0] > times * times * normal.inverse()(0, 0) * chi2 / free;
}

std::string text(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

void setSpacing(pk_peak &peak, double wavelength) {
    const double theta = peak.position * kPi / 360.0;
    if (!(theta > 0.0) || !(theta < kPi / 2.0)) return;  // without a wavelength (0) d and its esd are 0
    peak.d = wavelength / (2.0 * std::sin(theta));
    // |∂d/∂(2θ)| = d·cot θ / 2, 2θ in radians.
    peak.d_esd = peak.d / std::tan(theta) / 2.0 * peak.position_esd * kPi / 180.0;
}

// The maxima of the smoothed counts over ±kConfirmation points (fewer at the data's ends) among the points
// first … last, the first of equal ones.
void addEndMaxima(const Pattern &p, int32_t first, int32_t last, std::vector<std::pair<int32_t, bool>> &maxima) {
    for (int32_t i = std::max(first, 0); i <= std::min(last, p.count - 1); ++i) {
        const double here = smoothedAbove(p, i);
        bool highest = true;
        const int32_t to = std::min(i + kConfirmation, p.count - 1);
        for (int32_t j = std::max(i - kConfirmation, 0); highest && j <= to; ++j) {
            const double there = smoothedAbove(p, j);
            highest = j < i ? there < here : there <= here;
        }
        if (highest) maxima.emplace_back(i, true);
    }
}

std::vector<Candidate> candidatesOf(const Pattern &p, double times) {
    std::vector<PatternPoint> points(static_cast<std::size_t>(p.count));
    for (std::size_t i = 0; i < points.size(); ++i) points[i] = {p.x[i], p.y[i]};
    int32_t located = -1;  // left so by locatePeakRanges only when it could not allocate
    const std::unique_ptr<PeakRange, decltype(&std::free)> ranges(
        locatePeakRanges(points.data(), p.count, p.count, &located), &std::free);
    if (located < 0) throw std::bad_alloc();
    std::vector<std::pair<int32_t, bool>> maxima;  // index, and whether in the points at either end
    addEndMaxima(p, 0, kCoreMargin + kConfirmation, maxima);
    for (int32_t k = 0; ranges && k < located; ++k) {
        maxima.emplace_back(static_cast<int32_t>(ranges.get()[k].maximum - points.data()), false);
    }
    // locatePeakRanges confirms no maximum past count − kCoreMargin − kConfirmation − 2.
    addEndMaxima(p, p.count - kCoreMargin - kConfirmation - 2, p.count - 1, maxima);
    std::vector<Candidate> candidates;
    for (std::size_t k = 0; k < maxima.size(); ++k) {
        const auto [m, atEnd] = maxima[k];
        // An end maximum beside one that locatePeakRanges confirmed is the same.
        bool seen = false;
        for (std::size_t other = 0; atEnd && other < maxima.size(); ++other) {
            seen |= !maxima[other].second && std::abs(maxima[other].first - m) <= kConfirmation;
        }
        if (seen) continue;
        const double fwhm = fwhmEstimate(p, m);
        double height = 0.0;
        if (standsOut(windowOf(p, p.background.data(), m, fwhm), m, fwhm, times, height)) {
            candidates.push_back({m, {height, p.x[m], fwhm, 0.5}, m, m, atEnd, false, {}});
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate &a, const Candidate &b) { return a.index < b.index; });
    // A dip between neighbours counts where the smoothed counts fall below kDip of the lower maximum; on the flank
    // of a line there is none.
    for (std::size_t k = 1; k < candidates.size(); ++k) {
        const int32_t left = candidates[k - 1].index;
        const int32_t right = candidates[k].index;
        const auto lowest = static_cast<int32_t>(std::min_element(p.y + left, p.y + right + 1) - p.y);
        if (smoothedAbove(p, lowest) < kDip * std::min(smoothedAbove(p, left), smoothedAbove(p, right))) {
            candidates[k - 1].lowRight = lowest;
            candidates[k].lowLeft = lowest;
        }
    }
    // Strongest first: a weaker neighbour is then fitted over the stronger one's profile.
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate &a, const Candidate &b) { return a.start.height > b.start.height; });
    return candidates;
}

// A line at either end lifts the background's knot there (the core's spline takes the data's own value at its first
// and last points), so that the background misjudges its width and height. It is fitted on the neighbours' profiles
// alone, the background flat (the free offset c), with a FWHM of twice the distance to where the counts, averaged
// over ±kSmoothing points, fall halfway from their value at the candidate m to their lowest within twice the widest
// FWHM inwards. `lay` fills `under` with the neighbours' profiles over a window. `strong` tells whether the fixed
// shape at m stands out by `times` its esd over a sloping background, which a line cut by the end does and a rise of
// the background towards the end does not.
template <typename Lay>
PeakFit fitAtEnd(const Pattern &p, int32_t m, double times, std::vector<double> &under, const Lay &lay, bool &strong) {
    const int32_t inwards = m < p.count / 2 ? 1 : -1;
    // From the end to twice the widest FWHM inwards (and kSmoothing points more, for the averages there).
    FitWindow region{p.x, p.y, p.sigma, under.data(), inwards > 0 ? 0 : m, inwards > 0 ? m : p.count - 1, p.widest};
    int32_t &far = inwards > 0 ? region.last : region.first;
    const auto within = [&](int32_t i) {
        return i >= 0 && i < p.count && std::fabs(p.x[i] - p.x[m]) <= 2.0 * p.widest;
    };
    while (within(far + inwards)) far += inwards;
    const int32_t inner = far;
    far = std::clamp(far + inwards * kSmoothing, 0, p.count - 1);
    lay(region);
    const auto mean = [&](int32_t i) {
        const int32_t first = std::max(i - kSmoothing, region.first), last = std::min(i + kSmoothing, region.last);
        double sum = 0.0;
        for (int32_t k = first; k <= last; ++k) sum += p.y[k] - under[static_cast<std::size_t>(k)];
        return sum / (last - first + 1);
    };
    double lowest = mean(m);
    for (int32_t i = m; i != inner; i += inwards) lowest = std::min(lowest, mean(i));
    const double half = 0.5 * (mean(m) + lowest);
    int32_t i = m;
    while (i != inner && mean(i + inwards) > half) i += inwards;
    const double spacing = std::fabs(p.x[m + inwards] - p.x[m]);
    const double fwhm = std::min(std::max(2.0 * std::fabs(p.x[i] - p.x[m]) + spacing, 2.0 * spacing), p.widest);
    FitWindow w = windowOf(p, under.data(), m, fwhm, p.doublet.offset(p.x[m]));
    w.first = std::max(w.first, region.first);
    w.last = std::min(w.last, region.last);
    double height = 0.0;
    strong = standsOut(w, m, fwhm, times, height, true);
    return fitPseudoVoigt(w, {mean(m) - lowest, p.x[m], fwhm, 0.5}, p.doublet);
}

Found findPeaks(const Pattern &p, const pk_peak_search &search) {
    // A fit that ran to the widest FWHM found a stretch of background, not a peak.
    const auto significant = [&search](const PeakFit &fit) {
        return fit.reason.empty() && !fit.widest && fit.peak.height > search.significance * fit.peak.height_esd;
    };
    std::vector<Candidate> candidates = candidatesOf(p, kCandidateFraction * search.significance);
    std::vector<double> under = p.background;
    // under[w.first … w.last] = base (0 where null) + the profiles (Kα1 and Kα2) of the significant neighbours of c
    // that may reach the window by more than kNegligible σ: H/(1 + 4t²) bounds a pseudo-Voigt from above at |t| ≥ ½.
    const auto layUnder = [&](const Candidate &c, const FitWindow &w, const double *base) {
        const double floor = kNegligible * *std::min_element(p.sigma + w.first, p.sigma + w.last + 1);
        const auto bound = [&](double position, double height, double fwhm) {
            const double t = std::max({p.x[w.first] - position, position - p.x[w.last], 0.0}) / fwhm;
            return height / (1.0 + 4.0 * t * t);
        };
        std::vector<const pk_peak *> near;
        for (const Candidate &other : candidates) {
            const pk_peak &o = other.fit.peak;
            if (&other == &c || !significant(other.fit)) continue;
            const double offset = p.doublet.offset(o.position);
            double reach = bound(o.position, o.height, o.fwhm);
            if (offset > 0.0) reach += bound(o.position + offset, p.doublet.ratio * o.height, o.fwhm);
            if (reach > floor) near.push_back(&o);
        }
        for (int32_t i = w.first; i <= w.last; ++i) {
            double &b = under[static_cast<std::size_t>(i)];
            b = base != nullptr ? base[i] : 0.0;
            for (const pk_peak *o : near) b += profileAt(*o, p.doublet, p.x[i]);
        }
    };
    for (int pass = 0; pass < kPasses; ++pass) {
        for (Candidate &c : candidates) {
            FitWindow w = windowOf(p, under.data(), c.index, c.start.fwhm, p.doublet.offset(p.x[c.index]));
            if (pass == 0) {
                // Without its neighbours' profiles the window ends at the dips towards them.
                const int32_t m = c.index;
                if (c.lowLeft < m) w.first = std::max(w.first, std::min(c.lowLeft, m - kLeastSidePoints / 2));
                if (c.lowRight > m) w.last = std::min(w.last, std::max(c.lowRight, m + kLeastSidePoints / 2));
            }
            layUnder(c, w, p.background.data());
            double height = 0.0;
            c.strongAtEnd = false;
            if (!standsOut(w, c.index, c.start.fwhm, kCandidateFraction * search.significance, height)) {
                c.fit = PeakFit{};
                continue;
            }
            if (pass == kPasses - 1 && c.atEnd) {
                c.fit = fitAtEnd(p, c.index, search.significance, under,
                                 [&](const FitWindow &region) { layUnder(c, region, nullptr); }, c.strongAtEnd);
                c.strongAtEnd = c.strongAtEnd || significant(c.fit);
                continue;
            }
            // A first fit that found a peak is the better start.
            const pk_peak &last = c.fit.peak;
            const bool again = c.fit.reason.empty() && last.height > 0.0;
            c.fit = fitPseudoVoigt(w, again ? PeakStart{last.height, last.position, last.fwhm, last.eta} : c.start,
                                   p.doublet);
        }
    }

    Found found;
    std::vector<pk_peak> kept;
    for (Candidate &c : candidates) {
        std::string reason = c.fit.reason;
        const pk_peak &fitted = c.fit.peak;
        const double inside = std::min(fitted.position - p.x[0], p.x[p.count - 1] - fitted.position);
        // At the ends as elsewhere, a fit that runs to the widest FWHM is background (a rise towards the end).
        if (c.strongAtEnd && reason.empty() && !c.fit.widest && !significant(c.fit)) {
            reason = "its fit is not significant";
        } else if (c.atEnd && significant(c.fit) && !(inside > kInside * fitted.position_esd)) {
            reason = "its maximum lies within " + text(kInside) + " esd's of the end";
        }
        if (c.atEnd && !c.strongAtEnd && !reason.empty()) continue;  // a maximum of the noise at an end
        if (!reason.empty()) {
            pk_peak_failure failure{};
            failure.position = p.x[c.index];
            std::snprintf(failure.reason, sizeof failure.reason, "%s%s", c.atEnd ? "cut by the end of the data: " : "",
                          reason.c_str());
            found.failures.push_back(failure);
        } else if (significant(c.fit)) {
            setSpacing(c.fit.peak, search.wavelength);
            kept.push_back(c.fit.peak);
        }
    }
    std::sort(kept.begin(), kept.end(), [](const pk_peak &a, const pk_peak &b) { return a.position < b.position; });
    std::sort(found.failures.begin(), found.failures.end(),
              [](const pk_peak_failure &a, const pk_peak_failure &b) { return a.position < b.position; });
    for (const pk_peak &peak : kept) {
        pk_peak *last = found.peaks.empty() ? nullptr : &found.peaks.back();
        const bool apart = last == nullptr ||
                           peak.position - last->position >= search.merge_fraction * std::max(peak.fwhm, last->fwhm);
        if (apart) {
            found.peaks.push_back(peak);
        } else if (peak.height * last->height_esd > last->height * peak.height_esd) {
            *last = peak;  // the more significant of the two
        }
    }
    return found;
}

}  // namespace

}  // namespace powderkit::peaks

using powderkit::phase::fail;
using powderkit::phase::guarded;
using powderkit::phase::requireArgument;

extern "C" PK_PHASE_API void pk_peak_search_default(pk_peak_search *search) {
    guarded(nullptr, [&] {
        if (search == nullptr) return;
        // The source the layer takes when none is named: Cu Kα1 + Kα2.
        pk_instrument instrument{};
        pk_instrument_default_source(&instrument);
        search->significance = powderkit::peaks::kDefaultSignificance;
        search->merge_fraction = powderkit::peaks::kDefaultMergeFraction;
        search->wavelength = instrument.wavelength;
        search->wavelength2 = instrument.wavelength2;
        search->ratio2 = instrument.ratio2;
    });
}

extern "C" PK_PHASE_API int32_t pk_find_peaks(const pk_measured_pattern *pattern, const pk_peak_search *search,
                                              pk_peak *peaks, int32_t capacity, int32_t *peak_count,
                                              pk_peak_failure *failures, int32_t failure_capacity,
                                              int32_t *failure_count, pk_error *error) {
    using namespace powderkit::peaks;
    return guarded(error, [&] {
        requireArgument(peak_count, "peak_count");
        requireArgument(failure_count, "failure_count");
        *peak_count = 0;
        *failure_count = 0;
        requireArgument(pattern, "pattern");
        requireArgument(search, "search");
        if (capacity < 0) fail(PK_ERROR_ARGUMENT, "capacity = " + std::to_string(capacity) + " is negative");
        if (failure_capacity < 0) {
            fail(PK_ERROR_ARGUMENT, "failure_capacity = " + std::to_string(failure_capacity) + " is negative");
        }
        if (capacity > 0) requireArgument(peaks, "peaks");
        if (failure_capacity > 0) requireArgument(failures, "failures");
        const std::pair<const char *, double> fields[] = {
            {"significance", search->significance}, {"merge_fraction", search->merge_fraction},
            {"wavelength", search->wavelength}, {"wavelength2", search->wavelength2}, {"ratio2", search->ratio2}};
        for (const auto &[name, value] : fields) {
            if (!std::isfinite(value) || value < 0.0) {
                fail(PK_ERROR_ARGUMENT, std::string("search.") + name + " = " + text(value) + " is not a number ≥ 0");
            }
        }
        const bool doublet = search->wavelength2 > 0.0 && search->ratio2 > 0.0 &&
                             pk_measured_pattern_axis(pattern) == PK_AXIS_TWO_THETA;
        // λ₂/λ₁, the lengthening of the Kα2 line
        const double lengthening = search->wavelength > 0.0 ? search->wavelength2 / search->wavelength : 0.0;
        if (doublet && !(lengthening > 1.0 && lengthening <= kLongestAlpha2)) {
            fail(PK_ERROR_ARGUMENT, "search.wavelength2 = " + text(search->wavelength2) +
                                        " is no Kα2 line of search.wavelength = " + text(search->wavelength) +
                                        ": it must be longer, by at most 5 % (0: no Kα2 line)");
        }
        const int32_t count = pk_measured_pattern_count(pattern);
        if (count < kLeastPoints) {
            fail(PK_ERROR_ARGUMENT, "the pattern has " + std::to_string(count) + " points; a peak search needs " +
                                        std::to_string(kLeastPoints));
        }
        Pattern p{pk_measured_pattern_x(pattern), pk_measured_pattern_y(pattern), pk_measured_pattern_sigma(pattern),
                  {}, count, 0.0, {}};
        if (doublet) p.doublet = {lengthening, search->ratio2};
        p.widest = kWidestFraction * (p.x[count - 1] - p.x[0]);
        p.background = backgroundOf(p.x, p.y, p.sigma, count);
        // Peaks many points wide are searched on bins of k points (oversampling.cpp).
        const int32_t k = binningFactor(p.y, p.sigma, p.background.data(), count,
                                        static_cast<int32_t>(kWidestFraction * count / 2.0));
        BinnedPattern bins;
        if (k > 1) {
            bins = binned(p.x, p.y, p.sigma, count, k);
            p.x = bins.x.data();
            p.y = bins.y.data();
            p.sigma = bins.sigma.data();
            p.count = static_cast<int32_t>(bins.x.size());
            p.background = backgroundOf(p.x, p.y, p.sigma, p.count);
        }
        const Found found = findPeaks(p, *search);
        std::copy_n(found.peaks.begin(), std::min(found.peaks.size(), static_cast<std::size_t>(capacity)), peaks);
        std::copy_n(found.failures.begin(), std::min(found.failures.size(), static_cast<std::size_t>(failure_capacity)),
                    failures);
        *peak_count = static_cast<int32_t>(found.peaks.size());
        *failure_count = static_cast<int32_t>(found.failures.size());
    });
}
