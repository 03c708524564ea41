// Starting values before the first cycle. What the measured peaks show
// comes first: the positions (zero shift and cells, peak_matching.cpp) and
// then the widths (profile_from_peaks.cpp), each only where free and asked
// for. Then the scales and the background, which enter the pattern
// linearly: for the values as they now stand their best values are one
// weighted linear least-squares solve. In Le Bail, every reflexion's first
// intensity is its calculated one at the scale that solve gives.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <vector>

#include "boundary/boundary.hpp"
#include "boundary/constants.hpp"
#include "starting_values/starting_values.hpp"

namespace powderkit::refinement {

namespace {

bool anyFree(const pk_refinement &r, Target target) {
    for (const Parameter &parameter : r.parameters) {
        if (parameter.target == target && parameter.state == PK_PARAMETER_FREE) return true;
    }
    return false;
}

}  // namespace

Eigen::VectorXd linearFit(pk_refinement &r, double &chi2) {
    // The normal equations AᵀWA c = AᵀWy of the few columns (phases at scale
    // 1, Chebyshev polynomials), summed point by point: the design matrix of
    // a million points is never formed. Scaled to a unit diagonal and solved
    // by a complete orthogonal decomposition, which gives the least-norm
    // answer when a column is empty (a phase with no peak in the range).
    const auto phases = static_cast<Eigen::Index>(r.phases.size());
    const auto columns = phases + r.options.background_count;
    for (int k = 0; k < r.options.background_count; ++k) chebyshevColumn(r, k);  // T_k, computed once and kept
    Eigen::MatrixXd normal = Eigen::MatrixXd::Zero(columns, columns);
    Eigen::VectorXd right = Eigen::VectorXd::Zero(columns);
    Eigen::VectorXd row(columns);
    const auto rowAt = [&](std::size_t point) {
        for (Eigen::Index p = 0; p < phases; ++p) row(p) = r.phases[static_cast<std::size_t>(p)].unit[point];
        for (int k = 0; k < r.options.background_count; ++k) {
            row(phases + k) = r.chebyshev[static_cast<std::size_t>(k)][point];
        }
    };
    for (std::size_t point = 0; point < r.x.size(); ++point) {
        const double w = r.weight[point];
        if (!(w > 0.0)) continue;
        rowAt(point);
        normal.selfadjointView<Eigen::Lower>().rankUpdate(row, w);
        right.noalias() += (w * r.y[point]) * row;
    }
    normal = normal.selfadjointView<Eigen::Lower>();
    Eigen::VectorXd scale(columns);
    for (Eigen::Index j = 0; j < columns; ++j) scale(j) = normal(j, j) > 0.0 ? 1.0 / std::sqrt(normal(j, j)) : 1.0;
    const Eigen::MatrixXd scaled = scale.asDiagonal() * normal * scale.asDiagonal();
    const Eigen::VectorXd solution =
        scale.asDiagonal() * scaled.completeOrthogonalDecomposition().solve(scale.asDiagonal() * right);
    // χ² from the residuals themselves, not from the normal equations, whose
    // yᵀWy − cᵀAᵀWy loses the digits of a close fit.
    chi2 = 0.0;
    for (std::size_t point = 0; point < r.x.size(); ++point) {
        const double w = r.weight[point];
        if (!(w > 0.0)) continue;
        rowAt(point);
        const double residual = r.y[point] - row.dot(solution);
        chi2 += w * residual * residual;
    }
    return solution;
}

std::vector<ObservedPeak> observedPeaks(const pk_refinement &r) {
    // A peak stands clear when its neighbours lie farther than this many of their mean widths, and its width is
    // known when its esd is below this fraction of it.
    constexpr double kClearOfNeighbours = 1.5, kWidthPrecision = 0.25;
    std::vector<double> x, y, sigma;
    for (std::size_t i = 0; i < r.x.size(); ++i) {
        if (!(r.weight[i] > 0.0)) continue;
        x.push_back(r.x[i]);
        y.push_back(r.y[i]);
        sigma.push_back(1.0 / std::sqrt(r.weight[i]));
    }
    pk_measured_pattern *pattern = nullptr;
    if (pk_measured_pattern_make(x.data(), y.data(), sigma.data(), static_cast<int32_t>(x.size()), &pattern,
                                 nullptr) != PK_OK) {
        return {};
    }
    pk_peak_search search;
    pk_peak_search_default(&search);
    search.wavelength = 0.0;
    // Single lines: decideAlpha2 reads the counts at the Kα2 places beside them.
    search.wavelength2 = 0.0;
    int32_t count = 0, failures = 0;
    std::vector<pk_peak> found;
    int32_t status = pk_find_peaks(pattern, &search, nullptr, 0, &count, nullptr, 0, &failures, nullptr);
    if (status == PK_OK && count > 0) {
        found.resize(static_cast<std::size_t>(count));
        status = pk_find_peaks(pattern, &search, found.data(), count, &count, nullptr, 0, &failures, nullptr);
    }
    pk_measured_pattern_free(pattern);
    if (status == PK_ERROR_OUT_OF_MEMORY) throw std::bad_alloc();
    if (status != PK_OK) return {};
    std::vector<ObservedPeak> peaks;
    for (std::size_t k = 0; k < found.size(); ++k) {
        const pk_peak &peak = found[k];
        bool clear = peak.fwhm_esd < kWidthPrecision * peak.fwhm;
        for (std::size_t other : {k - 1, k + 1}) {
            if (other >= found.size()) continue;  // k − 1 wraps round at the first peak
            const double apart = std::fabs(found[other].position - peak.position);
            if (apart < kClearOfNeighbours * 0.5 * (found[other].fwhm + peak.fwhm)) clear = false;
        }
        peaks.push_back({peak.position, peak.fwhm, peak.eta, peak.height, peak.area, clear});
    }
    return peaks;
}

void decideAlpha2(pk_refinement &r, const std::vector<ObservedPeak> &peaks) {
    // The peaks that vote are those at least kStrongPeak of the strongest and whose Kα2 offset exceeds
    // kResolvedOffset widths; a vote finds the line where the counts at the offset stand above the Kα1 peak's tail
    // by more than kPartnerShare of the Kα2/Kα1 ratio; at least kResolvedPeaks votes decide.
    constexpr double kStrongPeak = 0.05, kResolvedOffset = 1.5, kPartnerShare = 0.5;
    constexpr int kResolvedPeaks = 3;
    pk_instrument &source = r.instrument;
    if (r.options.alpha2_from_data == 0 || !(source.wavelength2 > 0.0 && source.ratio2 > 0.0) || peaks.empty()) return;
    const double strongest =
        std::max_element(peaks.begin(), peaks.end(), [](const auto &a, const auto &b) { return a.height < b.height; })
            ->height;
    // The counts at x, between the points about it.
    auto countsAt = [&](double x) {
        const auto above = std::lower_bound(r.x.begin(), r.x.end(), x);
        if (above == r.x.begin() || above == r.x.end()) return std::numeric_limits<double>::quiet_NaN();
        const auto i = static_cast<std::size_t>(above - r.x.begin());
        const double f = (x - r.x[i - 1]) / (r.x[i] - r.x[i - 1]);
        return r.y[i - 1] + f * (r.y[i] - r.y[i - 1]);
    };
    int present = 0, absent = 0;
    for (const ObservedPeak &peak : peaks) {
        if (peak.height < kStrongPeak * strongest) continue;
        const double theta = peak.position * phase::kDegreesToRadians / 2.0;
        const double s = source.wavelength2 / source.wavelength * std::sin(theta);
        if (!(s < 1.0)) continue;
        const double offset = 2.0 * (std::asin(s) - theta) * phase::kRadiansToDegrees;
        if (offset < kResolvedOffset * peak.fwhm) continue;
        // Above the background (the peak's top less its height): the counts at the Kα2 offset as a share of the
        // height, against the Kα1 peak's own tail there, t = η L + (1 − η) G of the offset.
        const double u = offset / peak.fwhm;
        const double tail = peak.eta / (1.0 + 4.0 * u * u) + (1.0 - peak.eta) * std::exp(-4.0 * std::log(2.0) * u * u);
        const double share = (countsAt(peak.position + offset) - (countsAt(peak.position) - peak.height)) / peak.height;
        if (!std::isfinite(share)) continue;
        (share - tail > kPartnerShare * source.ratio2 ? present : absent) += 1;
    }
    const int votes = present + absent;
    const std::string counted = std::to_string(present) + " of " + std::to_string(votes) + " resolved strong peaks";
    if (votes < kResolvedPeaks || (3 * present < 2 * votes && 6 * absent < 5 * votes)) {
        r.notes += "the measured peaks cannot tell whether the Kα2 line is there (" + counted +
                   " show it): kept\n";
    } else if (3 * present >= 2 * votes) {
        r.notes += "the measured peaks show the Kα2 line (" + counted + ")\n";
    } else {
        source.wavelength2 = 0.0;
        source.ratio2 = 0.0;
        r.notes += "the measured peaks show no Kα2 line (" + counted + " show it): Kα1 alone\n";
        evaluate(r, {});
    }
}

void startingValues(pk_refinement &r) {
    if (isJoint(r)) {
        jointStartingValues(r);
        return;
    }
    applyParameters(r);
    evaluate(r, {});
    const bool positions = anyFree(r, Target::Cell) || anyFree(r, Target::Zero);
    const bool fromData = r.options.start_from_data != 0 && (positions || anyFree(r, Target::Profile));
    if (fromData) {
        const bool tof = r.instrument.axis == PK_AXIS_TOF;
        beat(r);
        const std::vector<ObservedPeak> all = tof && !anyFree(r, Target::Cell) ? std::vector<ObservedPeak>{}
                                                                               : observedPeaks(r);
        beat(r);
        if (!tof) decideAlpha2(r, all);
        std::vector<ObservedPeak> peaks;
        std::copy_if(all.begin(), all.end(), std::back_inserter(peaks), [](const ObservedPeak &p) { return p.clear; });
        // On time of flight the cells from the peaks' flight times (the zero starts where given).
        if (tof ? anyFree(r, Target::Cell) : positions) matchPositions(r, peaks);
        beat(r);
        if (anyFree(r, Target::Profile)) {
            // The terms of a time-of-flight profile are too many for one peak list to fix (σ, γ and the
            // exponentials' rates share every width): their shape stays, their size follows the pattern.
            if (!tof) profileFromPeaks(r, peaks);
            scaleWidths(r);
        }
    }
    // The linear parameters at their best for these values, where free.
    double chi2 = 0.0;
    const Eigen::VectorXd solution = linearFit(r, chi2);
    const auto phases = static_cast<Eigen::Index>(r.phases.size());
    for (Parameter &parameter : r.parameters) {
        if (parameter.state == PK_PARAMETER_FIXED || parameter.state == PK_PARAMETER_TIED) continue;
        if (parameter.target == Target::Background) parameter.value = solution(phases + parameter.index);
        const double scale = solution(parameter.phase >= 0 ? parameter.phase : 0);
        if (parameter.target == Target::Scale && scale > 0.0) parameter.value = scale;
    }
    if (r.options.mode == PK_REFINE_LE_BAIL) {
        for (std::size_t p = 0; p < r.phases.size(); ++p) {
            const double factor = solution(static_cast<Eigen::Index>(p));
            PhaseModel &model = r.phases[p];
            for (std::size_t n = 0; n < model.peaks.primaryCount; ++n) {
                const Reflexion &reflexion = model.peaks.reflexions[n];
                model.extracted[{reflexion.h, reflexion.k, reflexion.l}] = std::fabs(factor) * reflexion.intensity;
            }
        }
    }
    applyParameters(r);
    evaluate(r, {});
}

void jointStartingValues(pk_refinement &r) {
    for (std::size_t h = 0; h < r.members.size(); ++h) {
        pk_refinement &member = r.members[h];
        const std::vector<int> &of = r.histograms[h].parameterOf;
        // The member frees what the joint refinement frees; a shared cell is
        // matched to the first histogram's peaks alone (the others start from it).
        for (std::size_t j = 0; j < of.size(); ++j) {
            const Parameter &joint = r.parameters[static_cast<std::size_t>(of[j])];
            const bool free = joint.state == PK_PARAMETER_FREE && (h == 0 || joint.histogram >= 0);
            if (!member.parameters[j].derived && member.parameters[j].leader < 0)
                member.parameters[j].state = free ? PK_PARAMETER_FREE : PK_PARAMETER_FIXED;
        }
        member.notes.clear();
        member.beat = r.beat;
        startingValues(member);
        member.beat = nullptr;
        for (std::size_t j = 0; j < of.size(); ++j) {
            Parameter &joint = r.parameters[static_cast<std::size_t>(of[j])];
            if (joint.state == PK_PARAMETER_FREE && joint.leader < 0 && (joint.histogram >= 0 || h == 0))
                joint.value = member.parameters[j].value;
        }
        r.notes += prefixedLines(r.histograms[h].name, member.notes);
        applyParameters(r);
    }
    evaluate(r, {});
}

}  // namespace powderkit::refinement
