// The refinement's C entry points: each checks its arguments and runs its
// body through `guarded`, so that nothing throws across the interface.
#include <algorithm>
#include <cmath>
#include <limits>

#include "boundary/boundary.hpp"
#include "pattern/profile_check.hpp"
#include "refinement/fit.hpp"

using namespace powderkit::refinement;
using powderkit::phase::fail;
using powderkit::phase::guarded;
using powderkit::phase::requireArgument;
using powderkit::phase::copyOut;
using powderkit::phase::copyText;
using powderkit::phase::requireCapacity;
using powderkit::phase::requireIndex;
using powderkit::phase::shortest;

namespace {

void checkOptions(const pk_refinement_options &o) {
    if (o.mode != PK_REFINE_RIETVELD && o.mode != PK_REFINE_LE_BAIL) {
        fail(PK_ERROR_ARGUMENT, "options.mode " + std::to_string(o.mode) + " is neither Rietveld nor Le Bail");
    }
    if (o.background_count < 0 || o.background_count > PK_BACKGROUND_COEFFICIENTS) {
        fail(PK_ERROR_ARGUMENT, "the background takes 0 to 13 coefficients, not " + std::to_string(o.background_count));
    }
    if (o.max_cycles < 1) fail(PK_ERROR_ARGUMENT, "options.max_cycles must be at least 1");
    if (!(o.chi2_tolerance > 0.0) || !(o.shift_tolerance > 0.0)) {
        fail(PK_ERROR_ARGUMENT, "the tolerances must be positive numbers");
    }
    if (!std::isfinite(o.x_min) || !std::isfinite(o.x_max)) fail(PK_ERROR_ARGUMENT, "the range is not a number");
    if (!(o.x_min == 0.0 && o.x_max == 0.0) && !(o.x_max > o.x_min)) {
        fail(PK_ERROR_ARGUMENT, "the range " + shortest(o.x_min) + " … " + shortest(o.x_max) +
                                    " is reversed or empty: give x_min < x_max, or both 0 for the whole pattern");
    }
    if (!(o.cell_window >= 0.0 && o.cell_window <= 0.1)) {
        fail(PK_ERROR_ARGUMENT, "options.cell_window must lie from 0 to 0.1 (±10 %)");
    }
    if (!(o.zero_window >= 0.0 && o.zero_window <= 5.0)) {
        fail(PK_ERROR_ARGUMENT, "options.zero_window must lie from 0 to 5 degrees");
    }
    if (o.threads < 0 || o.threads > kMostThreads) {
        fail(PK_ERROR_ARGUMENT, "options.threads = " + std::to_string(o.threads) + ": must lie from 0 to " +
                                    std::to_string(kMostThreads));
    }
}

}  // namespace

namespace powderkit::refinement {

std::unique_ptr<pk_refinement> makeRefinement(const pk_measured_pattern &measured, const pk_instrument &instrument,
                                              const pk_phase_setting *phases, int32_t phaseCount,
                                              const char *const *names, const pk_refinement_options &options) {
    checkOptions(options);
    // A file that says time of flight needs such an instrument; text and
    // arrays say nothing, and take the instrument's axis.
    if (pk_measured_pattern_axis(&measured) == PK_AXIS_TOF && instrument.axis != PK_AXIS_TOF) {
        fail(PK_ERROR_ARGUMENT, "the measured pattern is on a time-of-flight axis and the instrument on a 2θ one: "
                                "give the bank's instrument (its difC, difA, zero and 2θ)");
    }
    if (phaseCount < 1) fail(PK_ERROR_ARGUMENT, "a refinement needs at least one phase");
    requireArgument(phases, "phases");
    auto r = std::make_unique<pk_refinement>();
    r->options = options;
    r->instrument = instrument;
    const int32_t count = pk_measured_pattern_count(&measured);
    const double *x = pk_measured_pattern_x(&measured);
    const double *y = pk_measured_pattern_y(&measured);
    const double *sigma = pk_measured_pattern_sigma(&measured);
    const bool whole = options.x_min == 0.0 && options.x_max == 0.0;
    for (int32_t i = 0; i < count; ++i) {
        if (!whole && (x[i] < options.x_min || x[i] > options.x_max)) continue;
        r->x.push_back(x[i]);
        r->y.push_back(y[i]);
        r->sigma.push_back(sigma[i]);
        r->weight.push_back(sigma[i] > 0.0 ? 1.0 / (sigma[i] * sigma[i]) : 0.0);
    }
    if (r->x.size() < 2) fail(PK_ERROR_ARGUMENT, "the range holds fewer than 2 points of the measured pattern");
    // Counts of zero alone (an empty file of a detector, a pattern written as zeros) leave nothing to fit: every
    // residual would be scaled by nothing measured.
    if (std::none_of(r->y.begin(), r->y.end(), [](double counts) { return counts > 0.0; })) {
        fail(PK_ERROR_ARGUMENT, "the measured pattern holds no positive count in the range refined");
    }
    r->xMin = r->x.front();
    r->xMax = r->x.back();
    // No flight lasts a second: such x are microseconds.
    if (instrument.axis == PK_AXIS_TOF && r->xMax > 1000.0) {
        fail(PK_ERROR_ARGUMENT, "the measured flight times reach " + shortest(r->xMax) +
                                    ": the time-of-flight axis is in ms, and these look like µs (divide by 1000)");
    }
    for (int32_t p = 0; p < phaseCount; ++p) {
        const pk_phase_setting &setting = phases[p];
        const std::string where = "phase " + std::to_string(p);
        if (setting.phase == nullptr) fail(PK_ERROR_ARGUMENT, where + ": the phase is NULL");
        PhaseModel model;
        const char *given = names != nullptr ? names[p] : nullptr;
        model.name = given != nullptr ? given : setting.phase->description.name;
        if (model.name.empty() || model.name.find_first_of(".,= ") != std::string::npos) {
            fail(PK_ERROR_ARGUMENT,
                 where + ": the name \"" + model.name + "\" is empty or holds '.', ',', '=' or a space");
        }
        for (const PhaseModel &other : r->phases) {
            if (other.name == model.name) fail(PK_ERROR_ARGUMENT, where + ": a second phase named " + model.name);
        }
        model.description = setting.phase->description;
        if (options.mode == PK_REFINE_RIETVELD && model.description.sites.empty()) {
            fail(PK_ERROR_ARGUMENT, where + " (" + model.name +
                                        "): no atom sites, so every intensity is zero; a Rietveld refinement needs "
                                        "them (Le Bail refines the cell of a phase without sites)");
        }
        model.profile = setting.profile != nullptr ? *setting.profile : powderkit::phase::defaultProfileFor(instrument);
        model.scale = options.mode == PK_REFINE_LE_BAIL ? 1.0 : setting.scale;
        model.useMarch = setting.use_march != 0;
        model.marchRatio = setting.march_ratio;
        std::copy(setting.march_axis, setting.march_axis + 3, model.marchAxis.begin());
        r->phases.push_back(std::move(model));
    }
    buildParameters(*r);
    applyParameters(*r);
    evaluate(*r, {});
    for (const PhaseModel &model : r->phases) {
        if (model.peaks.ticks.empty()) fail(PK_ERROR_ARGUMENT, model.name + ": no reflexion lies in the range");
    }
    return r;
}

// A phase's share of point i: in a joint refinement, in the histogram that holds it.
double phaseCurve(const pk_refinement &r, std::size_t phase, std::size_t i) {
    for (std::size_t h = r.members.size(); h-- > 0;) {
        const std::size_t first = r.histograms[h].first;
        if (i < first) continue;
        const PhaseModel &model = r.members[h].phases[phase];
        return model.scale * model.unit[i - first];
    }
    const PhaseModel &model = r.phases[phase];
    return model.scale * model.unit[i];
}

}  // namespace powderkit::refinement

namespace powderkit::refinement {

void fillPhaseResult(const pk_refinement &refinement, const std::vector<PhaseModel> &phases, std::size_t index,
                     const std::array<double, 6> &cellEsd, pk_refinement_phase *phase) {
    const PhaseModel &model = phases[index];
    phase->name = model.name.c_str();
    for (std::size_t k = 0; k < 6; ++k) {
        phase->cell[k] = model.description.cell[k];
        phase->cell_esd[k] = cellEsd[k];
    }
    phase->r_bragg = model.rBragg;
    double total = 0.0;
    for (const PhaseModel &other : phases) total += other.scale * other.density;
    // Weight fraction: the scale is proportional to the phase's volume
    // fraction, so w_p = S_p ρ_p / Σ S ρ, ρ the density of the phase.
    const bool rietveld = refinement.options.mode == PK_REFINE_RIETVELD;
    phase->weight_fraction =
        rietveld && total > 0.0 ? model.scale * model.density / total : std::numeric_limits<double>::quiet_NaN();
    phase->size_nm = model.sizeNm;
    phase->size_esd = model.sizeEsd;
    phase->strain_percent = model.strainPercent;
    phase->strain_esd = model.strainEsd;
}

}  // namespace powderkit::refinement

extern "C" {

const char *pk_refinement_default_free(int32_t mode) {
    switch (mode) {
    case PK_REFINE_RIETVELD:
        return "scale,background,zero,cell,profile";
    case PK_REFINE_LE_BAIL:
        return "background,zero,cell,profile";
    default:
        return nullptr;
    }
}

void pk_refinement_options_default(pk_refinement_options *options) {
    if (options == nullptr) return;
    *options = pk_refinement_options{};
    options->mode = PK_REFINE_RIETVELD;
    options->background_count = 6;
    options->max_cycles = 60;
    options->chi2_tolerance = 1e-5;
    options->shift_tolerance = 0.05;
    options->stages = 1;
    options->start_from_data = 1;
    options->cell_window = 0.01;
    options->zero_window = 0.1;
    options->threads = 1;
}

int32_t pk_refinement_make(const pk_measured_pattern *measured, const pk_instrument *instrument,
                           const pk_phase_setting *phases, int32_t phase_count, const char *const *names,
                           const pk_refinement_options *options, pk_refinement **refinement, pk_error *error) {
    if (refinement != nullptr) *refinement = nullptr;
    return guarded(error, [&] {
        requireArgument(measured, "measured");
        requireArgument(instrument, "instrument");
        requireArgument(refinement, "refinement");
        pk_refinement_options defaults;
        pk_refinement_options_default(&defaults);
        *refinement = makeRefinement(*measured, *instrument, phases, phase_count, names, options != nullptr ? *options : defaults)
                          .release();
    });
}

void pk_refinement_free(pk_refinement *refinement) { delete refinement; }

int32_t pk_refinement_exclude(pk_refinement *refinement, double x_from, double x_to, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        if (isJoint(*refinement)) {
            fail(PK_ERROR_ARGUMENT, "a joint refinement leaves points out of one histogram: "
                                    "pk_refinement_histogram_exclude");
        }
        if (!std::isfinite(x_from) || !std::isfinite(x_to) || !(x_to > x_from)) {
            fail(PK_ERROR_ARGUMENT, "the excluded region " + std::to_string(x_from) + " … " + std::to_string(x_to) +
                                        " is empty or not a number");
        }
        for (std::size_t i = 0; i < refinement->x.size(); ++i) {
            if (refinement->x[i] >= x_from && refinement->x[i] <= x_to) refinement->weight[i] = 0.0;
        }
    });
}

int32_t pk_refinement_parameter_count(const pk_refinement *refinement) {
    return refinement != nullptr ? static_cast<int32_t>(refinement->parameters.size()) : 0;
}

int32_t pk_refinement_parameter(const pk_refinement *refinement, int32_t index, pk_parameter *parameter,
                                pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(parameter, "parameter");
        const Parameter &p = refinement->parameters[requireIndex(index, refinement->parameters.size(), "parameter")];
        parameter->name = p.name.c_str();
        parameter->value = p.value;
        parameter->esd = p.esd;
        parameter->state = p.state;
        parameter->lower = p.lower;
        parameter->upper = p.upper;
    });
}

int32_t pk_refinement_set_free(pk_refinement *refinement, const char *list, bool free, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(list, "list");
        const std::vector<int> chosen = parametersOfList(*refinement, list, free);
        if (free) {
            for (int index : chosen) requireOneAsymmetry(*refinement, index);
        }
        for (int index : chosen) {
            Parameter &p = refinement->parameters[static_cast<std::size_t>(index)];
            if (p.leader >= 0) continue;
            p.state = free ? PK_PARAMETER_FREE : PK_PARAMETER_FIXED;
        }
    });
}

int32_t pk_refinement_set_value(pk_refinement *refinement, const char *name, double value, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(name, "name");
        Parameter &p = refinement->parameters[static_cast<std::size_t>(parameterIndex(*refinement, name))];
        if (!std::isfinite(value)) fail(PK_ERROR_ARGUMENT, p.name + ": the value is not a number");
        if (p.derived || p.leader >= 0) fail(PK_ERROR_ARGUMENT, p.name + " follows another parameter");
        const double kept = p.value;
        p.value = value;
        applyParameters(*refinement);
        try {
            evaluate(*refinement, {});
        } catch (...) {
            p.value = kept;
            applyParameters(*refinement);
            evaluate(*refinement, {});
            throw;
        }
    });
}

int32_t pk_refinement_set_limits(pk_refinement *refinement, const char *name, double lower, double upper,
                                 pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(name, "name");
        Parameter &p = refinement->parameters[static_cast<std::size_t>(parameterIndex(*refinement, name))];
        if (std::isnan(lower) || std::isnan(upper) || !(upper > lower)) {
            fail(PK_ERROR_ARGUMENT, p.name + ": the lower limit must lie below the upper one");
        }
        p.lower = lower;
        p.upper = upper;
    });
}

int32_t pk_refinement_tie(pk_refinement *refinement, const char *leader, const char *follower, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(leader, "leader");
        requireArgument(follower, "follower");
        int first = parameterIndex(*refinement, leader);
        const int second = parameterIndex(*refinement, follower);
        auto &parameters = refinement->parameters;
        while (parameters[static_cast<std::size_t>(first)].leader >= 0)
            first = parameters[static_cast<std::size_t>(first)].leader;
        Parameter &a = parameters[static_cast<std::size_t>(first)];
        Parameter &b = parameters[static_cast<std::size_t>(second)];
        const auto kind = [](const Parameter &p) {
            return p.name.substr(p.name.rfind('.') + 1);
        };
        const bool sameKind = a.target == b.target && (a.target != Target::Cell || (a.index < 3) == (b.index < 3)) &&
                              (a.target != Target::Profile || kind(a) == kind(b));
        if (!sameKind)
            fail(PK_ERROR_ARGUMENT, "cannot tie " + b.name + " to " + a.name + ": not the same kind of parameter");
        if (first == second) fail(PK_ERROR_ARGUMENT, "cannot tie " + b.name + " to itself");
        if (b.derived) fail(PK_ERROR_ARGUMENT, b.name + " already follows a constraint");
        for (Parameter &p : parameters) {
            if (p.leader == second) p.leader = first;
        }
        b.leader = first;
        b.state = PK_PARAMETER_TIED;
        applyParameters(*refinement);
        evaluate(*refinement, {});
    });
}

int32_t pk_refinement_set_instrument_profile(pk_refinement *refinement, const pk_profile *profile, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        if (isJoint(*refinement))
            fail(PK_ERROR_ARGUMENT,
                 "a joint refinement takes each histogram's instrument profile "
                 "(pk_refinement_histogram_set_instrument_profile)");
        pk_error inner{};
        if (pk_refinement_histogram_set_instrument_profile(refinement, 0, profile, &inner) != PK_OK)
            fail(inner.code, inner.message);
    });
}

int32_t pk_refinement_instrument(const pk_refinement *refinement, pk_instrument *instrument, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(instrument, "instrument");
        *instrument = isJoint(*refinement) ? refinement->members.front().instrument : refinement->instrument;
    });
}

int32_t pk_refinement_phase_profile(const pk_refinement *refinement, int32_t phase_index, pk_profile *profile,
                                    pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(profile, "profile");
        *profile = refinement->phases[requireIndex(phase_index, refinement->phases.size(), "phase")].profile;
    });
}

int32_t pk_refinement_run(pk_refinement *refinement, pk_refinement_progress progress, void *context, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        // A run that fails part-way (out of memory) leaves the values it started from.
        const std::vector<Parameter> parameters = refinement->parameters;
        std::vector<std::map<std::array<int32_t, 3>, double>> extracted;
        for (const PhaseModel &model : refinement->phases) extracted.push_back(model.extracted);
        for (const pk_refinement &member : refinement->members) {
            for (const PhaseModel &model : member.phases) extracted.push_back(model.extracted);
        }
        try {
            runFit(*refinement, progress, context);
        } catch (...) {
            refinement->parameters = parameters;
            std::size_t next = 0;
            for (PhaseModel &model : refinement->phases) model.extracted = extracted[next++];
            for (pk_refinement &member : refinement->members) {
                for (PhaseModel &model : member.phases) model.extracted = extracted[next++];
            }
            refinement->summary = pk_refinement_summary{};
            applyParameters(*refinement);
            evaluate(*refinement, {});
            throw;
        }
    });
}

int32_t pk_refinement_get_summary(const pk_refinement *refinement, pk_refinement_summary *summary, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(summary, "summary");
        *summary = refinement->summary;
    });
}

const char *pk_refinement_stop_reason(const pk_refinement *refinement) {
    return refinement != nullptr ? refinement->stopReason.c_str() : "";
}

const char *pk_refinement_warnings(const pk_refinement *refinement) {
    return refinement != nullptr ? refinement->warnings.c_str() : "";
}

const char *pk_refinement_notes(const pk_refinement *refinement) {
    return refinement != nullptr ? refinement->notes.c_str() : "";
}

const char *pk_refinement_verdict(const pk_refinement *refinement) {
    return refinement != nullptr ? refinement->verdict.c_str() : "";
}

const char *pk_refinement_stage(const pk_refinement *refinement) {
    return refinement != nullptr ? refinement->stage.c_str() : "";
}

const char *pk_parameter_state_name(int32_t state) {
    switch (state) {
    case PK_PARAMETER_FIXED: return "fixed";
    case PK_PARAMETER_FREE: return "free";
    case PK_PARAMETER_TIED: return "tied";
    case PK_PARAMETER_AT_LIMIT: return "at limit";
    case PK_PARAMETER_UNDETERMINED: return "fixed: undetermined";
    default: return "?";
    }
}

int32_t pk_refinement_correlations(const pk_refinement *refinement, double *matrix, int32_t capacity, int32_t *size,
                                   pk_error *error) {
    if (size != nullptr) *size = 0;
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireCapacity(capacity, refinement->correlations.size());
        if (!refinement->correlations.empty()) requireArgument(matrix, "matrix");
        std::copy(refinement->correlations.begin(), refinement->correlations.end(), matrix);
        if (size != nullptr) *size = refinement->correlationSize;
    });
}

int32_t pk_refinement_phase_count(const pk_refinement *refinement) {
    return refinement != nullptr ? static_cast<int32_t>(refinement->phases.size()) : 0;
}

int32_t pk_refinement_phase_result(const pk_refinement *refinement, int32_t index, pk_refinement_phase *phase,
                                   pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(phase, "phase");
        const auto &phases = refinement->phases;
        const std::size_t p = requireIndex(index, phases.size(), "phase");
        const PhaseModel &model = phases[p];
        std::array<double, 6> esd{};
        for (std::size_t k = 0; k < 6; ++k) {
            const int leader = model.cell.leader[k];
            const int parameter = leader >= 0 ? model.cellParameter[static_cast<std::size_t>(leader)] : -1;
            if (parameter < 0) continue;
            const Parameter &held = refinement->parameters[static_cast<std::size_t>(parameter)];
            if (held.state != PK_PARAMETER_FIXED) esd[k] = held.esd;
        }
        fillPhaseResult(*refinement, phases, p, esd, phase);
    });
}

int32_t pk_refinement_phase_cif(const pk_refinement *refinement, int32_t phase_index, char *text, int32_t capacity,
                                int32_t *size, pk_error *error) {
    if (size != nullptr) *size = 0;
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        const std::size_t phase = requireIndex(phase_index, refinement->phases.size(), "phase");
        copyText(refinedCif(*refinement, phase), text, capacity, size);
    });
}

int32_t pk_refinement_point_count(const pk_refinement *refinement) {
    return refinement != nullptr ? static_cast<int32_t>(refinement->x.size()) : 0;
}

int32_t pk_refinement_curve(const pk_refinement *refinement, int32_t curve, int32_t phase_index, double *values,
                            int32_t capacity, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        const pk_refinement &r = *refinement;
        requireCapacity(capacity, r.x.size());
        requireArgument(values, "values");
        const std::size_t n = r.x.size();
        if (curve == PK_CURVE_PHASE) requireIndex(phase_index, r.phases.size(), "phase");
        for (std::size_t i = 0; i < n; ++i) {
            switch (curve) {
            case PK_CURVE_X:
                values[i] = r.x[i];
                break;
            case PK_CURVE_OBSERVED:
                values[i] = r.y[i];
                break;
            case PK_CURVE_CALCULATED:
                values[i] = r.calculated[i];
                break;
            case PK_CURVE_BACKGROUND:
                values[i] = r.backgroundCurve[i];
                break;
            case PK_CURVE_DIFFERENCE:
                values[i] = r.y[i] - r.calculated[i];
                break;
            case PK_CURVE_PHASE:
                values[i] = phaseCurve(r, static_cast<std::size_t>(phase_index), i);
                break;
            default:
                fail(PK_ERROR_ARGUMENT, "curve " + std::to_string(curve) + " is not a PK_CURVE_ code");
            }
        }
    });
}

int32_t pk_refinement_peak_positions(const pk_refinement *refinement, int32_t phase_index, double *positions,
                                     int32_t capacity, int32_t *written, pk_error *error) {
    if (written != nullptr) *written = 0;
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        const std::size_t phase = requireIndex(phase_index, refinement->phases.size(), "phase");
        const pk_refinement &first = isJoint(*refinement) ? refinement->members.front() : *refinement;
        copyOut(first.phases[phase].peaks.ticks, positions, capacity, written, "positions");
    });
}

}  // extern "C"
