// The peak list of a measured pattern.
//  - Background: the core's spline through the flat low points of the pattern
//    (fittedBackground), or the lower quartile of the counts when it cannot be
//    had; either runs along the low side of the noise, so it is raised by the
//    clipped median of what lies above it.
//  - Candidates: the core's confirmed maxima (locatePeakRanges, 30 points kept
//    clear at each end), each with a FWHM between the points where the
//    smoothed counts fall to half. A fixed shape (η = ½) at the maximum, whose
//    height and the background's offset are linear, must reach a height of
//    kCandidateFraction × significance of its esd's; anything less is noise.
//  - Fits (peak_fit.cpp): every candidate, strongest first, on ±kWindowWidths
//    estimated FWHM with the significant neighbours' profiles added to the
//    background, in two passes; in the first the window also ends at a dip
//    towards a neighbouring candidate. A candidate that no longer passes the
//    fixed-shape test over its neighbours is a flank of theirs, not a line.
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
// locatePeakRanges needs this many points.
constexpr int32_t kLeastPoints = 100;
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
};

// A confirmed maximum, where its fit starts, the lowest points towards its
// neighbours on either side (its own index when it has none), and the fit.
struct Candidate {
    int32_t index;
    PeakStart start;
    int32_t lowLeft;
    int32_t lowRight;
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

// The points within kWindowWidths FWHM of x[m], at least kLeastSidePoints each side; a peak in them is at most a
// quarter of their span wide (a wider one could not be told from the background's offset).
FitWindow windowOf(const Pattern &p, const double *background, int32_t m, double fwhm) {
    FitWindow w{p.x, p.y, p.sigma, background, m, m, p.widest};
    while (w.first > 0 && (m - w.first < kLeastSidePoints || p.x[m] - p.x[w.first - 1] <= kWindowWidths * fwhm)) {
        --w.first;
    }
    while (w.last < p.count - 1 &&
           (w.last - m < kLeastSidePoints || p.x[w.last + 1] - p.x[m] <= kWindowWidths * fwhm)) {
        ++w.last;
    }
    w.widest = std::min(p.widest, (p.x[w.last] - p.x[w.first]) / 4.0);
    return w;
}

// The height H of the fixed shape (η = ½ and the candidate's FWHM at x[m]) by
// linear least squares with the background's offset c; true when H exceeds
// `times` its esd, (JᵀWJ)⁻¹ scaled by χ²/(N − 2).
bool standsOut(const FitWindow &w, int32_t m, double fwhm, double times, double &height) {
    Eigen::Matrix2d normal = Eigen::Matrix2d::Zero();
    Eigen::Vector2d gradient = Eigen::Vector2d::Zero();
    double sum = 0.0;  // Σ w·r², from which χ² = Σ w·r² − qᵀ·JᵀW·r at the solution
    for (int32_t i = w.first; i <= w.last; ++i) {
        const Eigen::Vector2d j(pseudoVoigtShape((w.x[i] - w.x[m]) / fwhm, 0.5), 1.0);
        const double weight = 1.0 / (w.sigma[i] * w.sigma[i]);
        const double r = w.y[i] - w.background[i];
        normal.noalias() += weight * j * j.transpose();
        gradient += weight * r * j;
        sum += weight * r * r;
    }
    const Eigen::Vector2d q = normal.ldlt().solve(gradient);
    const double chi2 = std::max(sum - q.dot(gradient), 0.0);
    height = q[0];
    return q[0] > 0.0 && q[0] * q[0] > times * times * normal.inverse()(0, 0) * chi2 / (w.last - w.first - 1);
}

std::string text(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

void setSpacing(pk_peak &peak, double wavelength) {
    const double theta = peak.position * kPi / 360.0;
    if (wavelength <= 0.0 || !(theta > 0.0) || !(theta < kPi / 2.0)) return;
    peak.d = wavelength / (2.0 * std::sin(theta));
    // |∂d/∂(2θ)| = d·cot θ / 2, 2θ in radians.
    peak.d_esd = peak.d / std::tan(theta) / 2.0 * peak.position_esd * kPi / 180.0;
}

std::vector<Candidate> candidatesOf(const Pattern &p, double times) {
    std::vector<PatternPoint> points(static_cast<std::size_t>(p.count));
    for (std::size_t i = 0; i < points.size(); ++i) points[i] = {p.x[i], p.y[i]};
    int32_t located = -1;  // left so by locatePeakRanges only when it could not allocate
    const std::unique_ptr<PeakRange, decltype(&std::free)> ranges(
        locatePeakRanges(points.data(), p.count, p.count, &located), &std::free);
    if (located < 0) throw std::bad_alloc();
    std::vector<Candidate> candidates;
    for (int32_t k = 0; ranges && k < located; ++k) {
        const auto m = static_cast<int32_t>(ranges.get()[k].maximum - points.data());
        const double fwhm = fwhmEstimate(p, m);
        double height = 0.0;
        if (standsOut(windowOf(p, p.background.data(), m, fwhm), m, fwhm, times, height)) {
            candidates.push_back({m, {height, p.x[m], fwhm, 0.5}, m, m, {}});
        }
    }
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

Found findPeaks(const Pattern &p, const pk_peak_search &search) {
    // A fit that ran to the widest FWHM found a stretch of background, not a peak.
    const auto significant = [&search](const PeakFit &fit) {
        return fit.reason.empty() && !fit.widest && fit.peak.height > search.significance * fit.peak.height_esd;
    };
    std::vector<Candidate> candidates = candidatesOf(p, kCandidateFraction * search.significance);
    std::vector<double> under = p.background;
    for (int pass = 0; pass < kPasses; ++pass) {
        for (Candidate &c : candidates) {
            FitWindow w = windowOf(p, under.data(), c.index, c.start.fwhm);
            if (pass == 0) {
                // Without its neighbours' profiles the window ends at the dips towards them.
                const int32_t m = c.index;
                if (c.lowLeft < m) w.first = std::max(w.first, std::min(c.lowLeft, m - kLeastSidePoints / 2));
                if (c.lowRight > m) w.last = std::min(w.last, std::max(c.lowRight, m + kLeastSidePoints / 2));
            }
            // The significant neighbours whose profiles may reach the window by more than kNegligible σ: H/(1 + 4t²)
            // bounds a pseudo-Voigt from above at |t| ≥ ½.
            const double floor = kNegligible * *std::min_element(p.sigma + w.first, p.sigma + w.last + 1);
            std::vector<const pk_peak *> near;
            for (const Candidate &other : candidates) {
                const pk_peak &o = other.fit.peak;
                if (&other == &c || !significant(other.fit)) continue;
                const double t = std::max({p.x[w.first] - o.position, o.position - p.x[w.last], 0.0}) / o.fwhm;
                if (o.height / (1.0 + 4.0 * t * t) > floor) near.push_back(&o);
            }
            for (int32_t i = w.first; i <= w.last; ++i) {
                double &b = under[static_cast<std::size_t>(i)];
                b = p.background[static_cast<std::size_t>(i)];
                for (const pk_peak *o : near) {
                    b += o->height * pseudoVoigtShape((p.x[i] - o->position) / o->fwhm, o->eta);
                }
            }
            double height = 0.0;
            if (!standsOut(w, c.index, c.start.fwhm, kCandidateFraction * search.significance, height)) {
                c.fit = PeakFit{};
                continue;
            }
            // A first fit that found a peak is the better start.
            const pk_peak &last = c.fit.peak;
            const bool again = c.fit.reason.empty() && last.height > 0.0;
            c.fit = fitPseudoVoigt(w, again ? PeakStart{last.height, last.position, last.fwhm, last.eta} : c.start);
        }
    }

    Found found;
    std::vector<pk_peak> kept;
    for (Candidate &c : candidates) {
        if (!c.fit.reason.empty()) {
            pk_peak_failure failure{};
            failure.position = p.x[c.index];
            std::snprintf(failure.reason, sizeof failure.reason, "%s", c.fit.reason.c_str());
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
        pk_instrument instrument{};
        pk_instrument_default(&instrument);
        search->significance = powderkit::peaks::kDefaultSignificance;
        search->merge_fraction = powderkit::peaks::kDefaultMergeFraction;
        search->wavelength = instrument.wavelength;
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
            {"wavelength", search->wavelength}};
        for (const auto &[name, value] : fields) {
            if (!std::isfinite(value) || value < 0.0) {
                fail(PK_ERROR_ARGUMENT, std::string("search.") + name + " = " + text(value) + " is not a number ≥ 0");
            }
        }
        const int32_t count = pk_measured_pattern_count(pattern);
        if (count < kLeastPoints) {
            fail(PK_ERROR_ARGUMENT, "the pattern has " + std::to_string(count) + " points; a peak search needs " +
                                        std::to_string(kLeastPoints));
        }
        Pattern p{pk_measured_pattern_x(pattern), pk_measured_pattern_y(pattern), pk_measured_pattern_sigma(pattern),
                  {}, count, 0.0};
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
