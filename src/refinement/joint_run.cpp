// The parts of a run that a joint refinement does histogram by histogram:
// the starting values from each measured pattern, each histogram's own
// statistics, and the lines of the verdict that one pattern shows.
#include <sstream>

#include "refinement/fit.hpp"

namespace powderkit::refinement {

namespace {

// Each line of `text` opened by "<name>: ".
std::string prefixed(const std::string &name, const std::string &text) {
    std::istringstream lines(text);
    std::string line, out;
    while (std::getline(lines, line)) out += name + ": " + line + "\n";
    return out;
}

}  // namespace

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
        r.notes += prefixed(r.histograms[h].name, member.notes);
        applyParameters(r);
    }
    evaluate(r, {});
}

void fillHistogramStatistics(pk_refinement &r, std::size_t freeCount,
                             void (*fill)(pk_refinement &, std::size_t)) {
    const double total = static_cast<double>(weightedPointCount(r));
    for (pk_refinement &member : r.members) {
        // A histogram's share of the free parameters: in proportion to its weighted points.
        const double share = total > 0.0 ? static_cast<double>(weightedPointCount(member)) / total : 0.0;
        fill(member, static_cast<std::size_t>(std::lround(share * static_cast<double>(freeCount))));
    }
}

std::string jointPatternReasons(const pk_refinement &r) {
    std::string reasons;
    for (std::size_t h = 0; h < r.members.size(); ++h) {
        reasons += prefixed(r.histograms[h].name, patternReasons(r.members[h]));
    }
    return reasons;
}

}  // namespace powderkit::refinement
