// The least-squares cell of an indexing solution and its figures of merit.
// Q = (2 sin θ / λ)² is linear in the reciprocal-metric parameters, and a
// zero shift z (2θ_obs = 2θ_true + z) moves each line by ∂Q/∂2θ · z, so each
// cycle is one linear weighted least-squares problem
//     Q(2θ_obs − z₀) = Σ_j c_j(hkl) p_j + (∂Q/∂2θ) Δz,
// solved by Eigen's QR decomposition, then every line is given its nearest
// reflexion again.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

#include "indexing/indexing.hpp"

namespace powderkit::indexing {
namespace {

constexpr double kRadians = 3.14159265358979323846 / 180.0;

}  // namespace

// Every reflexion of the cell up to qMax, ascending Q: |h| ≤ √Q_max · a, ….
std::vector<Reflexion> reflexionsUpTo(LatticeSystem system, const std::vector<double> &p, double qMax) {
    const std::array<double, 6> cell = cellOf(system, p);
    std::array<int, 3> limits{};
    for (int j = 0; j < 3; ++j) {
        if (!std::isfinite(cell[j])) return {};
        limits[j] = std::min(60, static_cast<int>(std::sqrt(qMax) * cell[j]));
    }
    std::vector<Reflexion> list;
    for (const Hkl &hkl : indexBox(system, limits)) {
        const std::array<double, 6> c = coefficients(system, hkl);
        double q = 0.0;
        for (std::size_t j = 0; j < p.size(); ++j) q += c[j] * p[j];
        if (q <= qMax) list.push_back({q, hkl});
    }
    std::sort(list.begin(), list.end(), [](const Reflexion &a, const Reflexion &b) { return a.q < b.q; });
    return list;
}

namespace {

// The reflexion nearest in Q, or nullptr.
const Reflexion *nearest(const std::vector<Reflexion> &list, double q) {
    auto it = std::lower_bound(list.begin(), list.end(), q, [](const Reflexion &r, double v) { return r.q < v; });
    const Reflexion *best = nullptr;
    if (it != list.end()) best = &*it;
    if (it != list.begin() && (!best || q - (it - 1)->q < best->q - q)) best = &*(it - 1);
    return best;
}

}  // namespace

double qAt(double twoTheta, double wavelength) {
    const double s = 2.0 * std::sin(0.5 * twoTheta * kRadians) / wavelength;
    return s * s;
}

double twoThetaAt(double q, double wavelength) {
    const double s = 0.5 * wavelength * std::sqrt(q);
    return s <= 1.0 ? 2.0 * std::asin(s) / kRadians : std::nan("");
}

// ∂Q/∂2θ = (4/λ²) sin θ cos θ per radian of 2θ… per degree here.
Line lineAt(double twoTheta, double wavelength, double maxError, double zeroWindow) {
    Line line;
    line.twoTheta = twoTheta;
    line.q = qAt(twoTheta, wavelength);
    const double theta = 0.5 * twoTheta * kRadians;
    line.slope = 2.0 / (wavelength * wavelength) * std::sin(2.0 * theta) * kRadians;
    line.tolerance = line.slope * (maxError + zeroWindow);
    line.error = line.slope * maxError;
    line.allowed = maxError;
    return line;
}

double allowedError(double maxError, double esd) { return std::max(maxError, 3.0 * esd); }

double largestAllowed(const std::vector<Line> &lines) {
    double largest = 0.0;
    for (const Line &line : lines) largest = std::max(largest, line.allowed);
    return largest;
}

bool fitCell(LatticeSystem system, const std::vector<Line> &lines, const std::vector<double> &start,
             double startZero, const std::vector<Hkl> &reflexions, const FitSettings &settings, CellFit &fit) {
    const int n = parameterCount(system);
    const bool withZero = settings.zeroWindow > 0.0;
    const int unknowns = n + (withZero ? 1 : 0);
    const std::size_t count = lines.size();
    const int searched = std::min(settings.searched, static_cast<int>(count));
    fit = CellFit{};
    fit.system = system;
    fit.parameters = start;
    fit.zero = withZero ? startZero : 0.0;
    fit.hkl.assign(count, Hkl{0, 0, 0});
    fit.indexed.assign(count, false);

    // The first assignment: the searched lines by the reflexions the box kept.
    {
        std::vector<Reflexion> kept;
        for (const Hkl &hkl : reflexions) {
            const std::array<double, 6> c = coefficients(system, hkl);
            double q = 0.0;
            for (int j = 0; j < n; ++j) q += c[j] * start[j];
            kept.push_back({q, hkl});
        }
        std::sort(kept.begin(), kept.end(), [](const Reflexion &a, const Reflexion &b) { return a.q < b.q; });
        for (int i = 0; i < searched; ++i) {
            const double q = qAt(lines[i].twoTheta - fit.zero, settings.wavelength);
            const Reflexion *r = nearest(kept, q);
            if (r && std::fabs(r->q - q) <= lines[i].tolerance) {
                fit.hkl[i] = r->hkl;
                fit.indexed[i] = true;
            }
        }
    }
    const double qMax = lines.back().q + lines.back().tolerance;
    for (int cycle = 0; cycle < 8; ++cycle) {
        std::vector<int> rows;
        for (std::size_t i = 0; i < count; ++i)
            if (fit.indexed[i]) rows.push_back(static_cast<int>(i));
        if (static_cast<int>(rows.size()) < unknowns + 1) return false;
        Eigen::MatrixXd design(rows.size(), unknowns);
        Eigen::VectorXd observed(rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const Line &line = lines[static_cast<std::size_t>(rows[r])];
            // Weights 1/σ_Q², σ_Q = ∂Q/∂2θ · σ_2θ, σ_2θ a third of the
            // line's largest error (its esd where three of them are more).
            const double weight = 1.0 / (line.slope * line.allowed);
            const std::array<double, 6> c = coefficients(system, fit.hkl[static_cast<std::size_t>(rows[r])]);
            for (int j = 0; j < n; ++j) design(r, j) = c[j] * weight;
            if (withZero) design(r, n) = line.slope * weight;
            observed(r) = qAt(line.twoTheta - fit.zero, settings.wavelength) * weight;
        }
        const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(design);
        if (qr.rank() < unknowns) return false;
        const Eigen::VectorXd solution = qr.solve(observed);
        for (int j = 0; j < n; ++j) fit.parameters[j] = solution(j);
        if (withZero) fit.zero += solution(n);
        if (!(cellVolume(system, fit.parameters) > 0.0) || std::fabs(fit.zero) > settings.zeroWindow + settings.maxError)
            return false;
        const Eigen::VectorXd residual = design * solution - observed;
        fit.misfit = residual.squaredNorm();
        const double dof = std::max<double>(1.0, static_cast<double>(rows.size()) - unknowns);
        const Eigen::MatrixXd covariance =
            (design.transpose() * design).inverse() * (residual.squaredNorm() / dof);
        fit.covariance.assign(covariance.data(), covariance.data() + covariance.size());

        // Every line its nearest reflexion, kept within the largest error.
        const std::vector<Reflexion> list = reflexionsUpTo(system, fit.parameters, qMax);
        bool changed = false;
        fit.unindexedSearched = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const double q = qAt(lines[i].twoTheta - fit.zero, settings.wavelength);
            const Reflexion *r = nearest(list, q);
            const bool keep = r && std::fabs(twoThetaAt(r->q, settings.wavelength) + fit.zero - lines[i].twoTheta) <=
                                       lines[i].allowed;
            const Hkl hkl = keep ? r->hkl : Hkl{0, 0, 0};
            if (keep != fit.indexed[i] || hkl != fit.hkl[i]) changed = true;
            fit.indexed[i] = keep;
            fit.hkl[i] = hkl;
            if (!keep && static_cast<int>(i) < searched) ++fit.unindexedSearched;
        }
        if (!changed && cycle > 0) break;
    }
    const std::array<double, 6> cell = cellOf(system, fit.parameters);
    for (int j = 0; j < 3; ++j)
        if (!(cell[j] <= settings.axisMax * 1.02) || cell[j] < kShortestEdge) return false;
    // A cell is only as sure as its lines outnumber its unknowns: with
    // fewer than twice as many (and one), a few lines fit any cell of
    // enough freedom, and M20 soars on nothing.
    const long indexedCount = std::count(fit.indexed.begin(), fit.indexed.end(), true);
    if (indexedCount < 2 * unknowns + 1) return false;
    return fit.unindexedSearched <= settings.maxUnindexed;
}

std::vector<double> possibleLines(LatticeSystem system, const std::vector<double> &parameters, char centring,
                                  double qMax) {
    std::vector<double> q;
    for (const Reflexion &r : reflexionsUpTo(system, parameters, qMax))
        if (centringAllows(centring, r.hkl)) q.push_back(r.q);
    // Reflexions of one Q (equal to rounding) are one line.
    std::vector<double> distinct;
    for (double v : q)
        if (distinct.empty() || v - distinct.back() > 1e-9 * v) distinct.push_back(v);
    return distinct;
}

Figures figuresOfMerit(const CellFit &fit, const std::vector<Line> &lines, char centring, double wavelength,
                       double maxError) {
    Figures figures;
    const std::size_t count = lines.size();
    const std::size_t n20 = std::min<std::size_t>(20, count);
    const std::size_t nN = std::min<std::size_t>(30, count);
    const auto qCalc = [&](std::size_t i) {
        const std::array<double, 6> c = coefficients(fit.system, fit.hkl[i]);
        double q = 0.0;
        for (std::size_t j = 0; j < fit.parameters.size(); ++j) q += c[j] * fit.parameters[j];
        return q;
    };
    double sumQ = 0.0, sum2Theta = 0.0, penalty = 0.0;
    int indexed20 = 0, indexedN = 0;
    for (std::size_t i = 0; i < nN; ++i) {
        if (!fit.indexed[i]) {
            if (i < n20) penalty += lines[i].slope * maxError;
            continue;
        }
        const double q = qCalc(i);
        if (i < n20) {
            sumQ += std::fabs(qAt(lines[i].twoTheta - fit.zero, wavelength) - q);
            ++indexed20;
        }
        sum2Theta += std::fabs(twoThetaAt(q, wavelength) + fit.zero - lines[i].twoTheta);
        ++indexedN;
    }
    if (indexed20 == 0 || count == 0) return figures;
    const double q20 = qAt(lines[n20 - 1].twoTheta - fit.zero, wavelength);
    const double qN = qAt(lines[nN - 1].twoTheta - fit.zero, wavelength);
    const std::vector<double> possible = possibleLines(fit.system, fit.parameters, centring, qN * (1 + 1e-9));
    const auto upTo = [&](double q) {
        return static_cast<int>(std::upper_bound(possible.begin(), possible.end(), q * (1 + 1e-9)) - possible.begin());
    };
    const double meanQ = sumQ / indexed20;
    figures.M20 = q20 / (2.0 * meanQ * std::max(1, upTo(q20)));
    figures.ranking = q20 / (2.0 * ((sumQ + penalty) / static_cast<double>(n20)) * std::max(1, upTo(q20)));
    figures.N = static_cast<int>(nN);
    figures.meanError = sum2Theta / indexedN;
    figures.possible = std::max(1, upTo(qN));
    figures.FN = static_cast<double>(nN) / (figures.meanError * figures.possible);
    return figures;
}

}  // namespace powderkit::indexing
