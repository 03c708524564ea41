// The parameters of a refinement by name, the constraints that tie them, and
// writing their values into the phases, the instrument and the background.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <tuple>

#include "boundary/boundary.hpp"
#include "refinement_model/refinement.hpp"

namespace powderkit::refinement {

namespace {

using phase::fail;

constexpr double kInfinity = std::numeric_limits<double>::infinity();
const char *const kCellNames[6] = {"a", "b", "c", "alpha", "beta", "gamma"};
// The profile's fields by index: the constant-wavelength widths, then the
// time-of-flight terms (σ² = σ0 + σ1 d² + σ2 d⁴ µs², γ = γ0 + γ1 d + γ2 d² µs,
// α = α0 + α1/d and β = β0 + β1/d⁴ per µs).
constexpr int kProfileFields = 15, kFirstTofField = 5;
const char *const kProfileNames[kProfileFields] = {"U",      "V",      "W",      "X",      "Y",
                                                   "sigma0", "sigma1", "sigma2", "gamma0", "gamma1",
                                                   "gamma2", "alpha0", "alpha1", "beta0",  "beta1"};
const char *const kCoordinateNames[3] = {"x", "y", "z"};
// Sites closer than this (fractional, each coordinate) share one position.
constexpr double kSharedTolerance = 1e-4;

double *profileField(pk_profile &profile, int index) {
    double *const fields[kProfileFields] = {
        &profile.U,      &profile.V,      &profile.W,      &profile.X,      &profile.Y,
        &profile.sigma0, &profile.sigma1, &profile.sigma2, &profile.gamma0, &profile.gamma1,
        &profile.gamma2, &profile.alpha0, &profile.alpha1, &profile.beta0,  &profile.beta1};
    return fields[index];
}

// Whether a time-of-flight shape uses a field: the Gaussian one has no γ,
// the pseudo-Voigt's rise rate is α1/d alone.
bool tofShapeUses(int32_t type, int index) {
    if (type == PK_PROFILE_TOF_EXP_GAUSSIAN) return kProfileNames[index][0] != 'g';
    return index != 11;
}

double &coordinate(phase::SiteDescription &site, int axis) {
    if (axis == 0) return site.x;
    return axis == 1 ? site.y : site.z;
}

bool samePosition(const std::array<double, 3> &first, const std::array<double, 3> &second) {
    for (std::size_t i = 0; i < 3; ++i) {
        const double difference = first[i] - second[i];
        if (std::fabs(difference - std::round(difference)) > kSharedTolerance) return false;
    }
    return true;
}

int add(pk_refinement &r, const std::string &name, const std::string &group, Target target, int phaseIndex, int index,
        double value, double lower, double upper) {
    Parameter p;
    p.name = name;
    p.group = group;
    p.target = target;
    p.phase = phaseIndex;
    p.index = index;
    p.value = value;
    p.esd = std::numeric_limits<double>::quiet_NaN();
    p.lower = lower;
    p.upper = upper;
    r.parameters.push_back(p);
    return static_cast<int>(r.parameters.size()) - 1;
}

// Sites on their special positions; shared positions found.
void constrainSites(PhaseModel &model) {
    auto &sites = model.description.sites;
    model.sites.assign(sites.size(), SiteFreedom{});
    for (std::size_t s = 0; s < sites.size(); ++s) {
        SiteFreedom &freedom = model.sites[s];
        freedom.symmetry = siteSymmetry(model.description.symmetry, {sites[s].x, sites[s].y, sites[s].z});
        std::tie(sites[s].x, sites[s].y, sites[s].z) =
            std::make_tuple(freedom.symmetry.anchor[0], freedom.symmetry.anchor[1], freedom.symmetry.anchor[2]);
        for (std::size_t t = 0; t < s; ++t) {
            if (model.sites[t].leader < 0 && samePosition(model.sites[t].symmetry.anchor, freedom.symmetry.anchor)) {
                freedom.leader = static_cast<int>(t);
                break;
            }
        }
    }
    for (std::size_t s = 0; s < sites.size(); ++s) {
        if (model.sites[s].leader >= 0) continue;
        std::size_t last = s;
        double total = sites[s].occupancy;
        for (std::size_t t = s + 1; t < sites.size(); ++t) {
            if (model.sites[t].leader == static_cast<int>(s)) {
                total += sites[t].occupancy;
                last = t;
            }
        }
        if (last == s) continue;
        model.sites[last].lastOfGroup = true;
        model.sites[last].occupancyTotal = total;
    }
}

void addPhaseParameters(pk_refinement &r, int p, bool leBail) {
    PhaseModel &model = r.phases[static_cast<std::size_t>(p)];
    const std::string prefix = model.name + ".";
    if (!leBail) add(r, prefix + "scale", "scale", Target::Scale, p, 0, model.scale, 0.0, kInfinity);
    model.cell = cellSymmetry(model.description.symmetry);
    for (std::size_t k = 0; k < 6; ++k) {
        model.cellParameter[k] = -1;
        const int leader = model.cell.leader[k];
        if (leader < 0) model.description.cell[k] = model.cell.fixedValue[k];
        if (leader >= 0 && leader != static_cast<int>(k)) {
            model.description.cell[k] = model.description.cell[static_cast<std::size_t>(leader)];
        }
        if (leader != static_cast<int>(k)) continue;
        const bool length = k < 3;
        model.cellParameter[k] = add(r, prefix + kCellNames[k], "cell", Target::Cell, p, static_cast<int>(k),
                                     model.description.cell[k], length ? 0.0 : 1.0, length ? kInfinity : 179.0);
    }
    constrainSites(model);
    std::vector<std::array<int, 3>> coordinateParameter(model.sites.size(), {-1, -1, -1});
    std::vector<int> uisoParameter(model.sites.size(), -1);
    for (std::size_t s = 0; s < model.sites.size() && !leBail; ++s) {
        const phase::SiteDescription &site = model.description.sites[s];
        const SiteFreedom &freedom = model.sites[s];
        const std::string sitePrefix = prefix + site.label + ".";
        const auto leader = static_cast<std::size_t>(freedom.leader);
        for (int axis = 0; axis < 3; ++axis) {
            if (!freedom.symmetry.free[static_cast<std::size_t>(axis)]) continue;
            const int made =
                add(r, sitePrefix + kCoordinateNames[axis], "xyz", Target::Coordinate, p, static_cast<int>(s),
                    coordinate(model.description.sites[s], axis), -kInfinity, kInfinity);
            r.parameters.back().coordinate = axis;
            coordinateParameter[s][static_cast<std::size_t>(axis)] = made;
            if (freedom.leader >= 0) {
                r.parameters.back().derived = true;
                r.parameters.back().leader = coordinateParameter[leader][static_cast<std::size_t>(axis)];
            }
        }
        if (!site.anisotropic) {
            uisoParameter[s] =
                add(r, sitePrefix + "uiso", "uiso", Target::Uiso, p, static_cast<int>(s), site.uIso, 0.0, kInfinity);
            if (freedom.leader >= 0) {
                r.parameters.back().derived = true;
                r.parameters.back().leader = uisoParameter[leader];
            }
        }
        add(r, sitePrefix + "occ", "occ", Target::Occupancy, p, static_cast<int>(s), site.occupancy, 0.0, 1.0);
        r.parameters.back().derived = freedom.lastOfGroup;
    }
    if (r.instrument.axis == PK_AXIS_TOF) {
        // Widths and rates are never negative. A rate beyond kLargestTofRate
        // per µs makes its exponential narrower than a nanosecond, where the
        // data no longer see it: it is held there instead of running away.
        constexpr int kFirstRate = 11;
        constexpr double kLargestTofRate = 1e3;
        for (int i = kFirstTofField; i < kProfileFields; ++i) {
            if (!tofShapeUses(model.profile.type, i)) continue;
            add(r, prefix + kProfileNames[i], "profile", Target::Profile, p, i, *profileField(model.profile, i), 0.0,
                i >= kFirstRate ? kLargestTofRate : kInfinity);
        }
        if (model.useMarch) add(r, prefix + "march", "march", Target::March, p, 0, model.marchRatio, 0.05, 20.0);
        return;
    }
    for (int i = 0; i < kFirstTofField; ++i) {
        add(r, prefix + kProfileNames[i], "profile", Target::Profile, p, i, *profileField(model.profile, i), -kInfinity,
            kInfinity);
    }
    add(r, prefix + "asymmetry", "asymmetry", Target::Asymmetry, p, 0, model.profile.asymmetry, -kInfinity, kInfinity);
    add(r, prefix + "SL", "asymmetry", Target::Axial, p, 0, model.profile.axial_sl, 0.0, PK_AXIAL_MAX);
    add(r, prefix + "HL", "asymmetry", Target::Axial, p, 1, model.profile.axial_hl, 0.0, PK_AXIAL_MAX);
    if (model.useMarch) add(r, prefix + "march", "march", Target::March, p, 0, model.marchRatio, 0.05, 20.0);
}

// Whether a parameter belongs to the group word or name `word`: a group word
// alone, or qualified by the names of a phase and (in a joint refinement) a
// histogram: "SiC.cell", "xray.zero", "xray.SiC.profile".
bool matches(const Parameter &parameter, const pk_refinement &r, const std::string &word) {
    if (parameter.name == word) return true;
    const std::size_t dot = word.rfind('.');
    const std::string group = dot == std::string::npos ? word : word.substr(dot + 1);
    if (parameter.group != group) return false;
    std::size_t start = 0;
    while (dot != std::string::npos && start < dot) {
        std::size_t end = word.find('.', start);
        const std::string qualifier = word.substr(start, end - start);
        start = end + 1;
        const bool phase =
            parameter.phase >= 0 && r.phases[static_cast<std::size_t>(parameter.phase)].name == qualifier;
        const bool histogram = parameter.histogram >= 0 &&
                               r.histograms[static_cast<std::size_t>(parameter.histogram)].name == qualifier;
        if (!phase && !histogram) return false;
    }
    return true;
}

const char *const kGroupWords[] = {"scale",      "cell",      "xyz",          "uiso",      "occ",
                                   "profile",    "asymmetry", "march",        "zero",      "displacement",
                                   "absorption", "roughness", "transparency", "background", "calibration",
                                   "strain"};

// Whether a group word passes over this parameter: "asymmetry" frees the
// asymmetry its phase's profile takes, P or (with an axial divergence) S/L and H/L.
bool otherAsymmetry(const Parameter &parameter, const pk_refinement &r) {
    if (parameter.target != Target::Asymmetry && parameter.target != Target::Axial) return false;
    const bool axial = phase::hasAxialDivergence(r.phases[static_cast<std::size_t>(parameter.phase)].profile);
    return axial != (parameter.target == Target::Axial);
}

bool isGroupWord(const std::string &word) {
    for (const char *group : kGroupWords) {
        if (word == group) return true;
    }
    return false;
}

// A group word (alone or qualified) that frees nothing because it belongs to
// the other axis: the 2θ axis's instrument and sample terms on time-of-flight
// patterns, the calibration on 2θ patterns. Freeing it would be a silent no-op.
void refuseOtherAxisWord(const pk_refinement &r, const std::string &word) {
    const std::string group = word.substr(word.rfind('.') + 1);
    static const char *const kTwoThetaWords[] = {"displacement", "absorption", "roughness", "transparency", "asymmetry"};
    const bool twoTheta = std::any_of(std::begin(kTwoThetaWords), std::end(kTwoThetaWords),
                                      [&](const char *known) { return group == known; });
    if (twoTheta) {
        fail(PK_ERROR_ARGUMENT, "\"" + word + "\" frees nothing: " + group +
                                    " belongs to 2θ patterns, and a time-of-flight pattern has none");
    }
    if (group == "calibration") {
        fail(PK_ERROR_ARGUMENT, "\"" + word + "\" frees nothing: difC, difA and the flight-time zero belong to "
                                "time-of-flight patterns" + std::string(isJoint(r) ? "" : ", and this one is on 2θ"));
    }
}

// The background's coefficients, the last parameters; then the derived ones marked tied.
void addBackground(pk_refinement &r) {
    for (int k = 0; k < r.options.background_count; ++k) {
        add(r, "background." + std::to_string(k), "background", Target::Background, -1, k,
            r.background[static_cast<std::size_t>(k)], -kInfinity, kInfinity);
    }
    for (Parameter &parameter : r.parameters) {
        if (parameter.derived) parameter.state = PK_PARAMETER_TIED;
    }
}

}  // namespace

void buildParameters(pk_refinement &r) {
    r.parameters.clear();
    const bool leBail = r.options.mode == PK_REFINE_LE_BAIL;
    for (std::size_t p = 0; p < r.phases.size(); ++p) addPhaseParameters(r, static_cast<int>(p), leBail);
    if (r.instrument.axis == PK_AXIS_TOF) {
        // TOF = difC d + difA d² + zero (µs), difA no lower than the
        // instrument takes (the time rising to d = kLongestTofD); the sample
        // corrections are the 2θ axis's.
        add(r, "difC", "calibration", Target::Calibration, -1, 0, r.instrument.dtt1, 0.0, kInfinity);
        add(r, "difA", "calibration", Target::Calibration, -1, 1, r.instrument.dtt2,
            -r.instrument.dtt1 / (2.0 * phase::kLongestTofD), kInfinity);
        add(r, "zero", "calibration", Target::Zero, -1, 0, r.instrument.zero, -kInfinity, kInfinity);
        // difB, rarely determined beside difC and difA, is freed by its name only.
        add(r, "difB", "difB", Target::Calibration, -1, 2, r.difB, -kInfinity, kInfinity);
        addBackground(r);
        return;
    }
    add(r, "zero", "zero", Target::Zero, -1, 0, r.instrument.zero, -kInfinity, kInfinity);
    add(r, "displacement", "displacement", Target::Displacement, -1, 0, r.instrument.displacement, -kInfinity,
        kInfinity);
    // The sample corrections within the ranges the instrument accepts: μR and
    // 1/μ are lengths (never negative), μR at most PK_ABSORPTION_MAX (where the
    // capillary transmission is computed to its bound), and roughness only
    // removes intensity (0 ≤ p ≤ 1, q ≥ 0).
    add(r, "absorption", "absorption", Target::Absorption, -1, 0, r.instrument.absorption, 0.0, PK_ABSORPTION_MAX);
    add(r, "roughness_p", "roughness", Target::RoughnessP, -1, 0, r.instrument.roughness_p, 0.0, 1.0);
    add(r, "roughness_q", "roughness", Target::RoughnessQ, -1, 0, r.instrument.roughness_q, 0.0, kInfinity);
    add(r, "transparency", "transparency", Target::Transparency, -1, 0, r.instrument.transparency, 0.0, kInfinity);
    addBackground(r);
}

std::vector<int> parametersOfList(const pk_refinement &r, const std::string &list, bool toFree) {
    std::vector<int> chosen;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string word = list.substr(start, end - start);
        word.erase(0, word.find_first_not_of(" \t"));
        word.erase(word.find_last_not_of(" \t") + 1);
        start = end + 1;
        if (word.empty()) continue;
        bool known = isGroupWord(word);
        const std::size_t before = chosen.size();
        for (std::size_t i = 0; i < r.parameters.size(); ++i) {
            if (!matches(r.parameters[i], r, word)) continue;
            known = true;
            if (r.parameters[i].name != word && otherAsymmetry(r.parameters[i], r)) continue;
            if (!r.parameters[i].derived) chosen.push_back(static_cast<int>(i));
        }
        if (toFree && chosen.size() == before) refuseOtherAxisWord(r, word);
        if (!known) fail(PK_ERROR_ARGUMENT, "\"" + word + "\" names no parameter and no group of parameters");
    }
    return chosen;
}

void requireOneAsymmetry(const pk_refinement &r, int index) {
    const Parameter &parameter = r.parameters[static_cast<std::size_t>(index)];
    if (parameter.target != Target::Asymmetry && parameter.target != Target::Axial) return;
    const pk_profile &profile = r.phases[static_cast<std::size_t>(parameter.phase)].profile;
    const bool other = parameter.target == Target::Axial ? profile.asymmetry > 0.0 : phase::hasAxialDivergence(profile);
    if (other) fail(PK_ERROR_ARGUMENT, parameter.name + ": " + phase::kBothAsymmetries);
}

int parameterIndex(const pk_refinement &r, const std::string &name) {
    for (std::size_t i = 0; i < r.parameters.size(); ++i) {
        if (r.parameters[i].name == name) return static_cast<int>(i);
    }
    fail(PK_ERROR_ARGUMENT, "\"" + name + "\" names no parameter");
}

void applyParameters(pk_refinement &r) {
    if (isJoint(r)) {
        applyJointParameters(r);
        return;
    }
    for (Parameter &parameter : r.parameters) {
        if (parameter.leader >= 0) parameter.value = r.parameters[static_cast<std::size_t>(parameter.leader)].value;
    }
    for (const Parameter &parameter : r.parameters) {
        PhaseModel *model = parameter.phase >= 0 ? &r.phases[static_cast<std::size_t>(parameter.phase)] : nullptr;
        const auto index = static_cast<std::size_t>(parameter.index);
        switch (parameter.target) {
        case Target::Scale:
            model->scale = parameter.value;
            break;
        case Target::Cell:
            model->description.cell[index] = parameter.value;
            break;
        case Target::Coordinate:
            coordinate(model->description.sites[index], parameter.coordinate) = parameter.value;
            break;
        case Target::Uiso:
            model->description.sites[index].uIso = parameter.value;
            break;
        case Target::Occupancy:
            if (!parameter.derived) model->description.sites[index].occupancy = parameter.value;
            break;
        case Target::Profile:
            *profileField(model->profile, parameter.index) = parameter.value;
            break;
        case Target::Asymmetry:
            model->profile.asymmetry = parameter.value;
            break;
        case Target::Axial:
            (parameter.index == 0 ? model->profile.axial_sl : model->profile.axial_hl) = parameter.value;
            break;
        case Target::March:
            model->marchRatio = parameter.value;
            break;
        case Target::Zero:
            r.instrument.zero = parameter.value;
            break;
        case Target::Displacement:
            r.instrument.displacement = parameter.value;
            break;
        case Target::Absorption:
            r.instrument.absorption = parameter.value;
            break;
        case Target::RoughnessP:
            r.instrument.roughness_p = parameter.value;
            break;
        case Target::RoughnessQ:
            r.instrument.roughness_q = parameter.value;
            break;
        case Target::Transparency:
            r.instrument.transparency = parameter.value;
            break;
        case Target::Calibration:
            (parameter.index == 0 ? r.instrument.dtt1 : parameter.index == 1 ? r.instrument.dtt2 : r.difB) =
                parameter.value;
            break;
        case Target::Background:
            r.background[index] = parameter.value;
            break;
        case Target::Strain:  // a joint refinement's alone
            break;
        }
    }
    for (PhaseModel &model : r.phases) {
        for (std::size_t k = 0; k < 6; ++k) {
            const int leader = model.cell.leader[k];
            if (leader >= 0) model.description.cell[k] = model.description.cell[static_cast<std::size_t>(leader)];
        }
        auto &sites = model.description.sites;
        for (std::size_t s = 0; s < sites.size(); ++s) {
            const SiteSymmetry &symmetry = model.sites[s].symmetry;
            std::array<double, 3> position = symmetry.anchor;
            for (int f = 0; f < 3; ++f) {
                if (!symmetry.free[static_cast<std::size_t>(f)]) continue;
                const double shift = coordinate(sites[s], f) - symmetry.anchor[static_cast<std::size_t>(f)];
                for (std::size_t i = 0; i < 3; ++i)
                    position[i] += shift * symmetry.direction[static_cast<std::size_t>(f)][i];
            }
            std::tie(sites[s].x, sites[s].y, sites[s].z) = std::make_tuple(position[0], position[1], position[2]);
        }
        // The last site of a shared position keeps the occupancies at their total.
        for (std::size_t s = 0; s < sites.size(); ++s) {
            if (!model.sites[s].lastOfGroup) continue;
            const int leader = model.sites[s].leader;
            double others = 0.0;
            for (std::size_t t = 0; t < s; ++t) {
                if (static_cast<int>(t) == leader || model.sites[t].leader == leader) others += sites[t].occupancy;
            }
            sites[s].occupancy = model.sites[s].occupancyTotal - others;
        }
    }
    for (Parameter &parameter : r.parameters) {
        if (parameter.target == Target::Occupancy && parameter.derived) {
            const auto &site = r.phases[static_cast<std::size_t>(parameter.phase)].description.sites;
            parameter.value = site[static_cast<std::size_t>(parameter.index)].occupancy;
        }
    }
}

}  // namespace powderkit::refinement
