// A joint refinement of several measured patterns ("histograms"). Each
// histogram is a refinement of its own (a member: its points, instrument,
// background, and each phase's profile and scale there), and the joint
// refinement holds the parameters they all follow: one cell, one set of
// coordinates, Uiso and occupancies per phase, shared by name; everything
// else its histogram's own, named "<histogram>.<name>". The joint points are
// the members' one after another, so that χ² is the sum of theirs, and a
// histogram's weight multiplies its points' 1/σ².
#include <gemmi/unitcell.hpp>

#include <cmath>
#include <limits>
#include <map>
#include <sstream>

#include "refinement_model/refinement.hpp"

namespace powderkit::refinement {

namespace {

// What the phases share across histograms: the structure.
bool sharedTarget(Target target) {
    return target == Target::Cell || target == Target::Coordinate || target == Target::Uiso ||
           target == Target::Occupancy;
}

// The element of the reciprocal metric G* that goes with each cell quantity:
// a → G*11, b → G*22, c → G*33, α → G*23, β → G*13, γ → G*12.
constexpr int kMetricRow[6] = {0, 1, 2, 1, 0, 0}, kMetricColumn[6] = {0, 1, 2, 2, 2, 1};
const char *const kStrainNames[6] = {"D11", "D22", "D33", "D23", "D13", "D12"};

std::array<double, 6> reciprocalMetric(const std::array<double, 6> &cell) {
    const gemmi::UnitCell reciprocal =
        gemmi::UnitCell(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]).reciprocal();
    const double edge[3] = {reciprocal.a, reciprocal.b, reciprocal.c};
    const double angle[3] = {reciprocal.alpha, reciprocal.beta, reciprocal.gamma};
    std::array<double, 6> metric{};
    for (std::size_t k = 0; k < 6; ++k) {
        const int i = kMetricRow[k], j = kMetricColumn[k];
        // G*_ij = a*_i a*_j cos(angle between them), the angle opposite the third axis.
        metric[k] = edge[i] * edge[j] * (i == j ? 1.0 : std::cos(angle[3 - i - j] * M_PI / 180.0));
    }
    return metric;
}

std::array<double, 6> cellOfMetric(const std::array<double, 6> &metric) {
    const double edge[3] = {std::sqrt(metric[0]), std::sqrt(metric[1]), std::sqrt(metric[2])};
    double angle[3] = {};
    for (std::size_t k = 3; k < 6; ++k) {
        const int i = kMetricRow[k], j = kMetricColumn[k];
        angle[3 - i - j] = std::acos(metric[k] / (edge[i] * edge[j])) * 180.0 / M_PI;
    }
    const gemmi::UnitCell direct =
        gemmi::UnitCell(edge[0], edge[1], edge[2], angle[0], angle[1], angle[2]).reciprocal();
    return {direct.a, direct.b, direct.c, direct.alpha, direct.beta, direct.gamma};
}

// A histogram's cell of a phase: G* of the phase's cell plus the histogram's
// offset D, whose terms follow the cell's symmetry (a tied quantity takes its
// leader's term; a right angle keeps G*_ij at 0; the hexagonal 120° keeps
// G*12/G*11, as a* = b*).
std::array<double, 6> strainedCell(const std::array<double, 6> &cell, const CellSymmetry &symmetry,
                                   const std::array<double, 6> &offset) {
    std::array<double, 6> metric = reciprocalMetric(cell);
    std::array<double, 6> d{};
    for (std::size_t k = 0; k < 6; ++k) {
        const int leader = symmetry.leader[k];
        if (leader >= 0) d[k] = offset[static_cast<std::size_t>(leader)];
    }
    for (std::size_t k = 3; k < 6; ++k) {
        const auto i = static_cast<std::size_t>(kMetricRow[k]);
        if (symmetry.leader[k] < 0 && metric[i] > 0.0) d[k] = d[i] * metric[k] / metric[i];
    }
    for (std::size_t k = 0; k < 6; ++k) metric[k] += d[k];
    return cellOfMetric(metric);
}

}  // namespace

void buildJointParameters(pk_refinement &r) {
    r.parameters.clear();
    std::map<std::string, int> shared;
    for (std::size_t h = 0; h < r.members.size(); ++h) {
        const pk_refinement &member = r.members[h];
        Histogram &histogram = r.histograms[h];
        histogram.parameterOf.assign(member.parameters.size(), -1);
        for (std::size_t j = 0; j < member.parameters.size(); ++j) {
            const Parameter &given = member.parameters[j];
            const bool isShared = given.phase >= 0 && sharedTarget(given.target);
            if (isShared) {
                const auto found = shared.find(given.name);
                if (found != shared.end()) {
                    histogram.parameterOf[j] = found->second;
                    continue;
                }
            }
            Parameter made = given;
            if (!isShared) {
                made.name = histogram.name + "." + given.name;
                made.histogram = static_cast<int>(h);
            }
            // A member's ties (a site sharing another's position) point to earlier parameters.
            if (given.leader >= 0) made.leader = histogram.parameterOf[static_cast<std::size_t>(given.leader)];
            r.parameters.push_back(made);
            histogram.parameterOf[j] = static_cast<int>(r.parameters.size()) - 1;
            if (isShared) shared[given.name] = histogram.parameterOf[j];
        }
    }
    // Beyond the first histogram, each may offset every phase's cell (a
    // pattern at another temperature or pressure): one term of G* per free
    // cell quantity, 0 until refined.
    for (std::size_t h = 1; h < r.members.size(); ++h) {
        for (std::size_t p = 0; p < r.members[h].phases.size(); ++p) {
            const PhaseModel &model = r.members[h].phases[p];
            for (std::size_t k = 0; k < 6; ++k) {
                if (model.cell.leader[k] != static_cast<int>(k)) continue;
                Parameter strain;
                strain.name = r.histograms[h].name + "." + model.name + ".strain." + kStrainNames[k];
                strain.group = "strain";
                strain.target = Target::Strain;
                strain.phase = static_cast<int>(p);
                strain.histogram = static_cast<int>(h);
                strain.index = static_cast<int>(k);
                strain.esd = std::numeric_limits<double>::quiet_NaN();
                strain.lower = -std::numeric_limits<double>::infinity();
                strain.upper = std::numeric_limits<double>::infinity();
                r.parameters.push_back(strain);
            }
        }
    }
    // The joint phases are the structures: the first histogram's, with their
    // cell quantities pointing to the joint parameters.
    const pk_refinement &first = r.members.front();
    r.phases.clear();
    for (const PhaseModel &model : first.phases) {
        PhaseModel copy;
        copy.name = model.name;
        copy.description = model.description;
        copy.profile = model.profile;
        copy.scale = model.scale;
        copy.cell = model.cell;
        copy.sites = model.sites;
        copy.density = model.density;
        for (std::size_t k = 0; k < 6; ++k) {
            const int given = model.cellParameter[k];
            copy.cellParameter[k] =
                given >= 0 ? r.histograms.front().parameterOf[static_cast<std::size_t>(given)] : -1;
        }
        r.phases.push_back(std::move(copy));
    }
}

namespace {

// Member h's free cell quantities from the shared cell and its offsets, where
// it has any that are not 0.
void applyStrain(pk_refinement &r, std::size_t h) {
    pk_refinement &member = r.members[h];
    for (std::size_t p = 0; p < member.phases.size(); ++p) {
        std::array<double, 6> offset{};
        bool any = false;
        for (const Parameter &parameter : r.parameters) {
            if (parameter.target != Target::Strain || parameter.histogram != static_cast<int>(h) ||
                parameter.phase != static_cast<int>(p))
                continue;
            offset[static_cast<std::size_t>(parameter.index)] = parameter.value;
            any = any || parameter.value != 0.0;
        }
        if (!any) continue;
        // The shared cell, its quantities from the member's parameters (the joint values just copied).
        const PhaseModel &model = member.phases[p];
        std::array<double, 6> cell{};
        for (std::size_t k = 0; k < 6; ++k) {
            const int leader = model.cell.leader[k];
            cell[k] = leader < 0 ? model.cell.fixedValue[k]
                                 : member.parameters[static_cast<std::size_t>(
                                                         model.cellParameter[static_cast<std::size_t>(leader)])]
                                       .value;
        }
        const std::array<double, 6> strained = strainedCell(cell, model.cell, offset);
        for (std::size_t k = 0; k < 6; ++k) {
            const int parameter = model.cellParameter[k];
            if (parameter >= 0) member.parameters[static_cast<std::size_t>(parameter)].value = strained[k];
        }
    }
}

}  // namespace

void applyJointParameters(pk_refinement &r) {
    for (Parameter &parameter : r.parameters) {
        if (parameter.leader >= 0) parameter.value = r.parameters[static_cast<std::size_t>(parameter.leader)].value;
    }
    for (std::size_t h = 0; h < r.members.size(); ++h) {
        pk_refinement &member = r.members[h];
        const std::vector<int> &of = r.histograms[h].parameterOf;
        for (std::size_t j = 0; j < member.parameters.size(); ++j) {
            member.parameters[j].value = r.parameters[static_cast<std::size_t>(of[j])].value;
        }
        applyStrain(r, h);
        applyParameters(member);
    }
    // What a member works out (the last occupancy of a shared position) and
    // the structures as they now stand.
    const pk_refinement &first = r.members.front();
    const std::vector<int> &of = r.histograms.front().parameterOf;
    for (std::size_t j = 0; j < first.parameters.size(); ++j) {
        if (first.parameters[j].derived) r.parameters[static_cast<std::size_t>(of[j])].value = first.parameters[j].value;
    }
    for (std::size_t p = 0; p < r.phases.size(); ++p) {
        r.phases[p].description = first.phases[p].description;
        r.phases[p].profile = first.phases[p].profile;
        r.phases[p].scale = first.phases[p].scale;
    }
}

std::string prefixedLines(const std::string &name, const std::string &text) {
    std::istringstream lines(text);
    std::string line, out;
    while (std::getline(lines, line)) out += name + ": " + line + "\n";
    return out;
}

void gatherMembers(pk_refinement &r) {
    r.calculated.resize(r.x.size());
    r.backgroundCurve.resize(r.x.size());
    for (std::size_t h = 0; h < r.members.size(); ++h) {
        const pk_refinement &member = r.members[h];
        const std::size_t first = r.histograms[h].first;
        std::copy(member.calculated.begin(), member.calculated.end(), r.calculated.begin() + static_cast<long>(first));
        std::copy(member.backgroundCurve.begin(), member.backgroundCurve.end(),
                  r.backgroundCurve.begin() + static_cast<long>(first));
    }
    for (std::size_t p = 0; p < r.phases.size(); ++p) r.phases[p].density = r.members.front().phases[p].density;
}

namespace {

// Histogram h's cell of phase p when the joint parameters take `values`.
std::array<double, 6> histogramCell(const pk_refinement &r, std::size_t h, std::size_t p,
                                    const std::vector<double> &values) {
    const PhaseModel &model = r.phases[p];
    std::array<double, 6> cell{}, offset{};
    for (std::size_t k = 0; k < 6; ++k) {
        const int leader = model.cell.leader[k];
        cell[k] = leader < 0 ? model.cell.fixedValue[k]
                             : values[static_cast<std::size_t>(model.cellParameter[static_cast<std::size_t>(leader)])];
    }
    for (std::size_t j = 0; j < r.parameters.size(); ++j) {
        const Parameter &parameter = r.parameters[j];
        if (parameter.target == Target::Strain && parameter.histogram == static_cast<int>(h) &&
            parameter.phase == static_cast<int>(p))
            offset[static_cast<std::size_t>(parameter.index)] = values[j];
    }
    return strainedCell(cell, model.cell, offset);
}

}  // namespace

std::array<double, 6> histogramCellEsd(const pk_refinement &r, std::size_t h, std::size_t p) {
    std::vector<double> values;
    for (const Parameter &parameter : r.parameters) values.push_back(parameter.value);
    // What moves the cell: the shared quantities' leaders and the histogram's offsets, where refined.
    std::vector<int> moving;
    for (std::size_t j = 0; j < r.parameters.size(); ++j) {
        const Parameter &parameter = r.parameters[j];
        if (parameter.state == PK_PARAMETER_FIXED || parameter.leader >= 0 || parameter.phase != static_cast<int>(p))
            continue;
        const bool strain = parameter.target == Target::Strain && parameter.histogram == static_cast<int>(h);
        if (strain || parameter.target == Target::Cell) moving.push_back(static_cast<int>(j));
    }
    // ∂cell/∂p by central differences (the cell is smooth in both; steps of 1e-6 of the value).
    std::vector<std::array<double, 6>> slopes;
    for (const int j : moving) {
        const auto at = static_cast<std::size_t>(j);
        const double step = 1e-6 * (values[at] != 0.0 ? std::fabs(values[at]) : 1e-3);
        std::vector<double> up = values, down = values;
        up[at] += step;
        down[at] -= step;
        const std::array<double, 6> above = histogramCell(r, h, p, up), below = histogramCell(r, h, p, down);
        std::array<double, 6> slope{};
        for (std::size_t k = 0; k < 6; ++k) slope[k] = (above[k] - below[k]) / (2.0 * step);
        slopes.push_back(slope);
    }
    std::array<double, 6> esd{};
    for (std::size_t k = 0; k < 6; ++k) {
        if (r.phases[p].cell.leader[k] < 0) continue;  // held by the symmetry
        std::vector<std::pair<int, double>> gradient;
        for (std::size_t m = 0; m < moving.size(); ++m) {
            if (std::fabs(slopes[m][k]) > 1e-9) gradient.emplace_back(moving[m], slopes[m][k]);
        }
        esd[k] = gradient.empty() ? 0.0 : propagatedEsd(r, gradient);
    }
    return esd;
}

void evaluateMembers(pk_refinement &r, const std::vector<bool> &phases, const std::vector<bool> &members,
                     int threads) {
    for (std::size_t h = 0; h < r.members.size(); ++h) {
        if (members.empty() || members[h]) evaluate(r.members[h], phases, threads);
    }
    gatherMembers(r);
}

}  // namespace powderkit::refinement
