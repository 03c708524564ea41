// A joint refinement of several measured patterns ("histograms"). Each
// histogram is a refinement of its own (a member: its points, instrument,
// background, and each phase's profile and scale there), and the joint
// refinement holds the parameters they all follow: one cell, one set of
// coordinates, Uiso and occupancies per phase, shared by name; everything
// else its histogram's own, named "<histogram>.<name>". The joint points are
// the members' one after another, so that χ² is the sum of theirs, and a
// histogram's weight multiplies its points' 1/σ².
#include <map>

#include "refinement_model/refinement.hpp"

namespace powderkit::refinement {

namespace {

// What the phases share across histograms: the structure.
bool sharedTarget(Target target) {
    return target == Target::Cell || target == Target::Coordinate || target == Target::Uiso ||
           target == Target::Occupancy;
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

void evaluateMembers(pk_refinement &r, const std::vector<bool> &phases, const std::vector<bool> &members) {
    for (std::size_t h = 0; h < r.members.size(); ++h) {
        if (members.empty() || members[h]) evaluate(r.members[h], phases);
    }
    gatherMembers(r);
}

}  // namespace powderkit::refinement
