// The verdict of a run: "converged" says only that the values stopped
// moving. A fit that converged can still be poor, and the verdict names why,
// as an expert reading the result would:
//   - the reduced χ² above 10, that is S = Rwp/Rexp above about 3: the model
//     does not explain the data to their precision;
//   - peaks in the difference curve that no phase explains: the weighted
//     residual z_i = (y_i − y_calc,i)/σ_i summed over one peak width,
//     Σz/√m for the m points there, is a standard normal number where the
//     model is right; a run of it above 8 that stands clear of its
//     surroundings and lies farther than two widths from every calculated
//     line is a peak of something the model lacks ("a phase may be missing");
//   - widths, Uiso or occupancies held at a limit; parameters the data
//     cannot determine; a stop other than convergence.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "boundary/constants.hpp"
#include "refinement/fit.hpp"
#include "reflexions/anode_lines.hpp"

namespace powderkit::refinement {

namespace {

std::string fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// About the FWHM of a time-of-flight peak at d (ms): the wider of the
// Gaussian's 2√(2 ln 2) σ and the Lorentzian's γ, widened by the rise and
// decay exponentials' ln 2 (1/α + 1/β), each from the profile's terms.
double tofWidth(const pk_profile &p, double d) {
    const double variance = p.sigma0 + p.sigma1 * d * d + p.sigma2 * std::pow(d, 4);
    const bool voigt = p.type == PK_PROFILE_TOF_EXP_PSEUDO_VOIGT;
    const double gamma = voigt ? p.gamma0 + p.gamma1 * d + p.gamma2 * d * d : 0.0;
    const double alpha = p.alpha1 / d + (voigt ? 0.0 : p.alpha0);
    const double beta = p.beta0 + p.beta1 / std::pow(d, 4);
    if (!(alpha > 0.0) || !(beta > 0.0) || !(variance >= 0.0)) return 0.0;
    const double microseconds = std::max(2.0 * std::sqrt(2.0 * std::log(2.0) * variance), std::fabs(gamma)) +
                                std::log(2.0) * (1.0 / alpha + 1.0 / beta);
    return microseconds / 1000.0;
}

// Every calculated line of every phase, by position: its position and FWHM (axis units).
class Lines {
public:
    explicit Lines(const pk_refinement &r) {
        for (const PhaseModel &model : r.phases) {
            const phase::PhasePeaks &peaks = model.peaks;
            for (std::size_t n = 0; n < peaks.reflexions.size() && n < peaks.cwPeaks.size(); ++n) {
                if (peaks.cwPeaks[n].inverseFwhm > 0.0)
                    lines_.push_back({peaks.reflexions[n].peakPosition, 1.0 / peaks.cwPeaks[n].inverseFwhm});
            }
            for (std::size_t n = 0; n < peaks.reflexions.size() && n < peaks.tofPeaks.size(); ++n) {
                const double width = tofWidth(model.profile, peaks.reflexions[n].dSpacing);
                if (width > 0.0) lines_.push_back({peaks.reflexions[n].peakPosition, width});
            }
        }
        std::sort(lines_.begin(), lines_.end());
    }
    // The FWHM of the line nearest x, and the distance to it (0 and ∞ when there is none).
    std::pair<double, double> nearest(double x) const {
        const auto above = std::lower_bound(lines_.begin(), lines_.end(), std::make_pair(x, 0.0));
        std::pair<double, double> best{0.0, INFINITY};
        for (auto it : {above, above == lines_.begin() ? lines_.end() : above - 1}) {
            if (it == lines_.end()) continue;
            const double d = std::fabs(it->first - x);
            if (d < best.second) best = {it->second, d};
        }
        return best;
    }

private:
    std::vector<std::pair<double, double>> lines_;
};

// The unexplained peaks that sit where the anode's Kβ line puts a line of a
// phase (within one of its widths) and are at most kBetaShare as high above
// the calculated curve as that line's Kα1 peak stands above the background
// (an unfiltered tube gives Kβ about a fifth of Kα, a filter far less), when
// that peak lies in the range: they are named and taken out of `peaks`.
std::string betaLines(const pk_refinement &r, std::vector<ResidualPeak> &peaks) {
    constexpr double kWidths = 1.0, kBetaShare = 0.3;
    const phase::BetaLine beta = phase::betaLineOf(r.instrument.wavelength);
    if (beta.wavelength == 0.0 || r.instrument.radiation != PK_RADIATION_XRAY || r.x.empty()) return "";
    const auto nearest = [&](double x) {
        const auto at = std::lower_bound(r.x.begin(), r.x.end(), x);
        return static_cast<std::size_t>(std::min<std::ptrdiff_t>(at - r.x.begin(), static_cast<std::ptrdiff_t>(r.x.size()) - 1));
    };
    std::string named;
    for (auto peak = peaks.begin(); peak != peaks.end();) {
        std::string line;
        const std::size_t at = nearest(peak->x);
        const double residual = r.y[at] - r.calculated[at];
        for (const PhaseModel &model : r.phases) {
            const phase::PhasePeaks &p = model.peaks;
            for (std::size_t n = 0; n < p.primaryCount && n < p.cwPeaks.size() && line.empty(); ++n) {
                const Reflexion &reflexion = p.reflexions[n];
                const double sine = beta.wavelength / (2.0 * reflexion.dSpacing);
                if (!(sine < 1.0)) continue;
                // A Kα1 line beyond the range cannot be weighed against: its Kβ line is taken on position alone.
                const std::size_t top = nearest(reflexion.peakPosition);
                const bool inside = reflexion.peakPosition >= r.x.front() && reflexion.peakPosition <= r.x.back();
                if (inside && !(residual <= kBetaShare * (r.calculated[top] - r.backgroundCurve[top]))) continue;
                // Bragg's law at λβ, with the zero the Kα1 line has.
                const double x = 2.0 * std::asin(sine) / phase::kDegreesToRadians + (reflexion.peakPosition -
                                 2.0 * std::asin(r.instrument.wavelength / (2.0 * reflexion.dSpacing)) / phase::kDegreesToRadians);
                if (std::fabs(x - peak->x) <= kWidths / p.cwPeaks[n].inverseFwhm) {
                    line = model.name + " " + std::to_string(reflexion.h) + " " + std::to_string(reflexion.k) + " " +
                           std::to_string(reflexion.l);
                }
            }
            if (!line.empty()) break;
        }
        if (line.empty()) {
            ++peak;
            continue;
        }
        named += (named.empty() ? "" : ", ") + fixed(peak->x, 3) + "° (" + line + ")";
        peak = peaks.erase(peak);
    }
    if (named.empty()) return "";
    return std::string("the difference curve holds ") + beta.anode + " Kβ lines (" + fixed(beta.wavelength, 4) +
           " Å) that the filter let through at 2θ " + named +
           ": the model has no Kβ line; exclude them (--exclude) or they stay in the misfit\n";
}

}  // namespace

std::vector<ResidualPeak> unexplainedPeaks(const pk_refinement &r) {
    // A summed weighted residual above kResidualPeakSigma standard deviations is a peak (8: about one false alarm in
    // 10¹⁵ windows of pure noise); an unexplained one lies farther than kClearOfLines widths from every line, its
    // surroundings (two to four widths away) hold less than kContrast of it; at most kNamedPeaks are named.
    constexpr double kResidualPeakSigma = 8.0, kClearOfLines = 2.0, kContrast = 0.35;
    constexpr std::size_t kNamedPeaks = 5;
    const Lines lines(r);
    const std::size_t n = r.x.size();
    std::vector<double> z(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) z[i] = (r.y[i] - r.calculated[i]) * std::sqrt(r.weight[i]);
    // Prefix sums of z and of the weighted-point count, for sums over windows.
    std::vector<double> sum(n + 1, 0.0), points(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        sum[i + 1] = sum[i] + z[i];
        points[i + 1] = points[i] + (r.weight[i] > 0.0 ? 1.0 : 0.0);
    }
    auto windowed = [&](double from, double to) {
        const auto a = static_cast<std::size_t>(std::lower_bound(r.x.begin(), r.x.end(), from) - r.x.begin());
        const auto b = static_cast<std::size_t>(std::upper_bound(r.x.begin(), r.x.end(), to) - r.x.begin());
        const double m = points[b] - points[a];
        return m > 0.0 ? (sum[b] - sum[a]) / std::sqrt(m) : 0.0;
    };
    std::vector<ResidualPeak> found;
    std::vector<double> score(n, 0.0);
    std::vector<double> width(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        width[i] = lines.nearest(r.x[i]).first;
        if (width[i] > 0.0) score[i] = windowed(r.x[i] - width[i] / 2.0, r.x[i] + width[i] / 2.0);
    }
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const double h = width[i];
        if (!(score[i] > kResidualPeakSigma) || score[i] < score[i - 1] || score[i] < score[i + 1]) continue;
        const double x = r.x[i];
        if (lines.nearest(x).second < kClearOfLines * h) continue;
        const double left = windowed(x - 4.0 * h, x - 2.0 * h), right = windowed(x + 2.0 * h, x + 4.0 * h);
        if (std::max(left, right) > kContrast * score[i]) continue;
        if (!found.empty() && x - found.back().x < 2.0 * h) {
            if (score[i] > found.back().significance) found.back() = {x, score[i]};
            continue;
        }
        found.push_back({x, score[i]});
    }
    std::sort(found.begin(), found.end(),
              [](const ResidualPeak &a, const ResidualPeak &b) { return a.significance > b.significance; });
    if (found.size() > kNamedPeaks) found.resize(kNamedPeaks);
    std::sort(found.begin(), found.end(), [](const ResidualPeak &a, const ResidualPeak &b) { return a.x < b.x; });
    return found;
}

std::string patternReasons(const pk_refinement &r) {
    std::ostringstream reasons;
    std::vector<ResidualPeak> peaks = unexplainedPeaks(r);
    reasons << betaLines(r, peaks);
    if (!peaks.empty()) {
        const pk_instrument &instrument = r.instrument;
        const bool tof = instrument.axis == PK_AXIS_TOF;
        reasons << "a phase may be missing: the difference curve holds peaks no phase explains at "
                << (tof ? "TOF" : "2θ");
        for (std::size_t k = 0; k < peaks.size(); ++k) {
            double d = 0.0;
            if (tof) {
                d = phase::dSpacingOfFlightTime(instrument, r.difB, 1000.0 * peaks[k].x);
            } else {
                d = instrument.wavelength / (2.0 * std::sin(peaks[k].x * phase::kDegreesToRadians / 2.0));
            }
            reasons << (k == 0 ? " " : ", ") << (tof ? fixed(1000.0 * peaks[k].x, 0) + " µs" : fixed(peaks[k].x, 3) + "°")
                    << " (d " << fixed(d, 4) << " Å)";
        }
        reasons << "\n";
    }
    return reasons.str();
}

void judge(pk_refinement &r) {
    // Above this reduced χ² the misfit is far beyond counting noise.
    constexpr double kPoorReducedChiSquared = 10.0;
    std::ostringstream reasons;
    const pk_refinement_summary &s = r.summary;
    if (s.stop != PK_STOP_CONVERGED && s.stop != PK_STOP_NOTHING_FREE) {
        reasons << "the run did not converge: " << r.stopReason << "\n";
    }
    if (s.reduced_chi2 > kPoorReducedChiSquared) {
        reasons << "the reduced χ² is " << fixed(s.reduced_chi2, 1) << " (GoF S = Rwp/Rexp = " << fixed(s.GoF, 2)
                << "): the model does not explain the data to their precision\n";
    }
    reasons << (isJoint(r) ? jointPatternReasons(r) : patternReasons(r));
    std::string undetermined;
    for (const Parameter &parameter : r.parameters) {
        if (parameter.state == PK_PARAMETER_UNDETERMINED) {
            undetermined += (undetermined.empty() ? "" : ", ") + parameter.name;
        }
        const bool judged = parameter.target == Target::Profile || parameter.target == Target::Uiso ||
                            parameter.target == Target::Occupancy;
        if (judged && parameter.state == PK_PARAMETER_AT_LIMIT) {
            reasons << parameter.name << " is held at its " << (parameter.value <= parameter.lower ? "lower" : "upper")
                    << " limit " << parameter.value << "\n";
        }
    }
    if (!undetermined.empty()) {
        reasons << "the data cannot determine " << undetermined << ": they were fixed where they stood\n";
    }
    r.verdict = reasons.str();
    r.summary.doubtful = r.verdict.empty() ? 0 : 1;
}

}  // namespace powderkit::refinement
