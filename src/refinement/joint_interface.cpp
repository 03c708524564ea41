// The C entry points of joint refinements and of the histograms of any
// refinement (one made from a single pattern has one).
#include <algorithm>
#include <cmath>

#include "boundary/boundary.hpp"
#include "pattern/profile_check.hpp"
#include "refinement/fit.hpp"

using namespace powderkit::refinement;
using powderkit::phase::copyOut;
using powderkit::phase::fail;
using powderkit::phase::guarded;
using powderkit::phase::requireArgument;
using powderkit::phase::requireIndex;
using powderkit::phase::shortest;

namespace {

bool timeOfFlight(int32_t type) {
    return type == PK_PROFILE_TOF_EXP_GAUSSIAN || type == PK_PROFILE_TOF_EXP_PSEUDO_VOIGT;
}

void checkName(const std::string &name, const std::string &where, const pk_phase_setting *phases, int32_t phaseCount,
               const char *const *names) {
    if (name.empty() || name.find_first_of(".,= ") != std::string::npos) {
        fail(PK_ERROR_ARGUMENT, where + ": the name \"" + name + "\" is empty or holds '.', ',', '=' or a space");
    }
    for (int32_t p = 0; p < phaseCount; ++p) {
        const char *given = names != nullptr ? names[p] : nullptr;
        const std::string phase =
            given != nullptr ? given : (phases[p].phase != nullptr ? phases[p].phase->description.name : "");
        if (phase == name) fail(PK_ERROR_ARGUMENT, where + ": \"" + name + "\" also names a phase");
    }
}

std::unique_ptr<pk_refinement> makeJoint(const pk_refinement_histogram *histograms, int32_t count,
                                         const pk_phase_setting *phases, int32_t phaseCount, const char *const *names,
                                         const pk_refinement_options &options) {
    requireArgument(histograms, "histograms");
    requireArgument(phases, "phases");
    if (count < 1) fail(PK_ERROR_ARGUMENT, "a joint refinement needs at least one histogram");
    if (phaseCount < 1) fail(PK_ERROR_ARGUMENT, "a refinement needs at least one phase");
    auto joint = std::make_unique<pk_refinement>();
    joint->options = options;
    for (int32_t h = 0; h < count; ++h) {
        const pk_refinement_histogram &histogram = histograms[h];
        std::string where = "histogram " + std::to_string(h);
        if (histogram.name == nullptr) fail(PK_ERROR_ARGUMENT, where + ": the name is NULL");
        const std::string name = histogram.name;
        where += " (" + name + ")";
        checkName(name, where, phases, phaseCount, names);
        for (const Histogram &other : joint->histograms) {
            if (other.name == name) fail(PK_ERROR_ARGUMENT, where + ": a second histogram named " + name);
        }
        if (histogram.measured == nullptr || histogram.instrument == nullptr) {
            fail(PK_ERROR_ARGUMENT, where + ": its measured pattern or instrument is NULL");
        }
        if (!(histogram.weight >= 0.0) || !std::isfinite(histogram.weight)) {
            fail(PK_ERROR_ARGUMENT, where + ": the weight " + shortest(histogram.weight) + " is not a number ≥ 0");
        }
        // Each phase starts from the profile given for it here, or from its
        // setting's where that suits the axis, or from the instrument's default.
        const bool tof = histogram.instrument->axis == PK_AXIS_TOF;
        std::vector<pk_phase_setting> settings(phases, phases + phaseCount);
        for (int32_t p = 0; p < phaseCount; ++p) {
            if (histogram.profiles != nullptr) {
                settings[static_cast<std::size_t>(p)].profile = &histogram.profiles[p];
            } else if (phases[p].profile != nullptr && timeOfFlight(phases[p].profile->type) != tof) {
                settings[static_cast<std::size_t>(p)].profile = nullptr;
            }
        }
        pk_refinement_options own = options;
        own.x_min = histogram.x_min;
        own.x_max = histogram.x_max;
        std::unique_ptr<pk_refinement> member;
        try {
            member = makeRefinement(*histogram.measured, *histogram.instrument, settings.data(), phaseCount, names,
                                    own);
        } catch (const powderkit::phase::Failure &failure) {
            fail(failure.code(), where + ": " + failure.what());
        }
        Histogram made;
        made.name = name;
        made.first = joint->x.size();
        made.weight = histogram.weight > 0.0 ? histogram.weight : 1.0;
        joint->x.insert(joint->x.end(), member->x.begin(), member->x.end());
        joint->y.insert(joint->y.end(), member->y.begin(), member->y.end());
        joint->sigma.insert(joint->sigma.end(), member->sigma.begin(), member->sigma.end());
        for (double w : member->weight) joint->weight.push_back(w * made.weight);
        joint->histograms.push_back(made);
        joint->members.push_back(std::move(*member));
    }
    joint->instrument = joint->members.front().instrument;
    buildJointParameters(*joint);
    applyParameters(*joint);
    evaluate(*joint, {});
    return joint;
}

// Histogram `index` of a refinement: a joint refinement's member, or a
// single-pattern refinement itself as its one histogram (index 0).
template <typename Refinement> Refinement &memberOf(Refinement &r, int32_t index) {
    if (!isJoint(r)) {
        requireIndex(index, 1, "histogram");
        return r;
    }
    return r.members[requireIndex(index, r.members.size(), "histogram")];
}

}  // namespace

extern "C" {

int32_t pk_refinement_make_joint(const pk_refinement_histogram *histograms, int32_t histogram_count,
                                 const pk_phase_setting *phases, int32_t phase_count, const char *const *names,
                                 const pk_refinement_options *options, pk_refinement **refinement, pk_error *error) {
    if (refinement != nullptr) *refinement = nullptr;
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        pk_refinement_options defaults;
        pk_refinement_options_default(&defaults);
        *refinement = makeJoint(histograms, histogram_count, phases, phase_count, names,
                                options != nullptr ? *options : defaults)
                          .release();
    });
}

int32_t pk_refinement_histogram_count(const pk_refinement *refinement) {
    if (refinement == nullptr) return 0;
    return isJoint(*refinement) ? static_cast<int32_t>(refinement->members.size()) : 1;
}

int32_t pk_refinement_get_histogram(const pk_refinement *refinement, int32_t index, pk_refinement_histogram_result *result,
                                pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(result, "result");
        const pk_refinement &member = memberOf(*refinement, index);
        static const char *const kNoName = "";
        const bool joint = isJoint(*refinement);
        result->name = joint ? refinement->histograms[static_cast<std::size_t>(index)].name.c_str() : kNoName;
        result->first_point =
            joint ? static_cast<int32_t>(refinement->histograms[static_cast<std::size_t>(index)].first) : 0;
        result->point_count = static_cast<int32_t>(member.x.size());
        result->instrument = member.instrument;
        result->summary = member.summary;
        // Of a joint run, the histogram's own figures; the run's stop is the whole's.
        result->summary.stop = refinement->summary.stop;
        result->summary.converged = refinement->summary.converged;
        result->summary.cycles = refinement->summary.cycles;
    });
}

int32_t pk_refinement_histogram_exclude(pk_refinement *refinement, int32_t index, double x_from, double x_to,
                                        pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        pk_error inner{};
        if (!isJoint(*refinement)) {
            requireIndex(index, 1, "histogram");
            if (pk_refinement_exclude(refinement, x_from, x_to, &inner) != PK_OK) fail(inner.code, inner.message);
            return;
        }
        const std::size_t h = requireIndex(index, refinement->members.size(), "histogram");
        pk_refinement &member = refinement->members[h];
        if (pk_refinement_exclude(&member, x_from, x_to, &inner) != PK_OK) fail(inner.code, inner.message);
        const std::size_t first = refinement->histograms[h].first;
        for (std::size_t i = 0; i < member.x.size(); ++i) {
            if (member.weight[i] == 0.0) refinement->weight[first + i] = 0.0;
        }
    });
}

int32_t pk_refinement_histogram_profile(const pk_refinement *refinement, int32_t index, int32_t phase_index,
                                        pk_profile *profile, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(profile, "profile");
        const pk_refinement &member = memberOf(*refinement, index);
        *profile = member.phases[requireIndex(phase_index, member.phases.size(), "phase")].profile;
    });
}

int32_t pk_refinement_histogram_peak_positions(const pk_refinement *refinement, int32_t index, int32_t phase_index,
                                               double *positions, int32_t capacity, int32_t *written,
                                               pk_error *error) {
    if (written != nullptr) *written = 0;
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        const pk_refinement &member = memberOf(*refinement, index);
        const std::size_t phase = requireIndex(phase_index, member.phases.size(), "phase");
        copyOut(member.phases[phase].peaks.ticks, positions, capacity, written, "positions");
    });
}

int32_t pk_refinement_histogram_phase_result(const pk_refinement *refinement, int32_t index, int32_t phase_index,
                                             pk_refinement_phase *phase, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(phase, "phase");
        if (!isJoint(*refinement)) {
            requireIndex(index, 1, "histogram");
            pk_error inner{};
            if (pk_refinement_phase_result(refinement, phase_index, phase, &inner) != PK_OK)
                fail(inner.code, inner.message);
            return;
        }
        const std::size_t h = requireIndex(index, refinement->members.size(), "histogram");
        const pk_refinement &member = refinement->members[h];
        const std::size_t p = requireIndex(phase_index, member.phases.size(), "phase");
        fillPhaseResult(*refinement, member.phases, p, histogramCellEsd(*refinement, h, p), phase);
        // The joint phase's name lives as long as the refinement, as the record says.
        phase->name = refinement->phases[p].name.c_str();
    });
}

int32_t pk_refinement_histogram_set_instrument_profile(pk_refinement *refinement, int32_t index,
                                                       const pk_profile *profile, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        pk_refinement &member = memberOf(*refinement, index);
        if (profile == nullptr) {
            member.hasInstrumentProfile = false;
            return;
        }
        powderkit::phase::checkProfileFields(*profile, false);
        member.instrumentProfile = *profile;
        member.hasInstrumentProfile = true;
    });
}

}  // extern "C"
