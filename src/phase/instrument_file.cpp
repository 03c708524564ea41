// The instrument file: one pk_instrument and one pk_profile as versioned JSON
// (nlohmann-json), so that what a refinement of a standard learnt about the
// diffractometer starts each sample's refinement. Keys are checked against
// tables of the two records, the same tables for reading and writing: a
// misspelt key, a wrong type or a value out of range is refused naming the key,
// and a file is written only with values that read back.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "phase/boundary.hpp"
#include "phase/text_file.hpp"

namespace powderkit::phase {

namespace {

using Json = nlohmann::json;
using Written = nlohmann::ordered_json;  // keys in the order of the records

constexpr const char *kFormat = "powderkit-instrument";
constexpr int kVersion = 1;
constexpr double kNone = std::numeric_limits<double>::infinity();

// A number as a reader would write it: "180", "0.5", "-3e-05".
std::string shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// The values a number may take: lower … upper, each end open or closed.
struct Range {
    double lower = -kNone, upper = kNone;
    bool lowerOpen = false, upperOpen = false;
    bool holds(double v) const {
        return std::isfinite(v) && (lowerOpen ? v > lower : v >= lower) && (upperOpen ? v < upper : v <= upper);
    }
    std::string text() const {
        const auto number = [](double v) { return shown(v); };
        if (lower == -kNone) return "must be a finite number";
        if (upper == kNone) return std::string("must be ") + (lowerOpen ? "> " : "≥ ") + number(lower);
        return "must lie in " + std::string(lowerOpen ? "(" : "[") + number(lower) + ", " + number(upper) +
               (upperOpen ? ")" : "]");
    }
};

constexpr Range kAny{};
constexpr Range kPositive{0.0, kNone, true, false};
constexpr Range kNotNegative{0.0, kNone, false, false};

struct InstrumentNumber {
    const char *key;
    double pk_instrument::*field;
    Range range;
};

const InstrumentNumber kInstrumentNumbers[] = {
    {"wavelength", &pk_instrument::wavelength, kPositive},
    {"wavelength2", &pk_instrument::wavelength2, kNotNegative},
    {"ratio2", &pk_instrument::ratio2, kNotNegative},
    {"zero", &pk_instrument::zero, kAny},
    {"displacement", &pk_instrument::displacement, kAny},
    {"radius", &pk_instrument::radius, kPositive},
    {"tof_two_theta", &pk_instrument::tof_two_theta, {0.0, 180.0, true, false}},
    {"dtt1", &pk_instrument::dtt1, kAny},
    {"dtt2", &pk_instrument::dtt2, kAny},
    {"monochromator", &pk_instrument::monochromator, {0.0, 180.0, false, true}},
    {"absorption", &pk_instrument::absorption, kNotNegative},
    {"roughness_p", &pk_instrument::roughness_p, {0.0, 1.0, false, false}},
    {"roughness_q", &pk_instrument::roughness_q, kNotNegative},
    {"transparency", &pk_instrument::transparency, kNotNegative},
};

struct ProfileNumber {
    const char *key;
    double pk_profile::*field;
    Range range;
};

const ProfileNumber kProfileNumbers[] = {
    {"U", &pk_profile::U, kAny},           {"V", &pk_profile::V, kAny},
    {"W", &pk_profile::W, kAny},           {"X", &pk_profile::X, kAny},
    {"Y", &pk_profile::Y, kAny},           {"asymmetry", &pk_profile::asymmetry, kNotNegative},
    {"asymmetry_cutoff", &pk_profile::asymmetry_cutoff, kAny},
    {"sigma0", &pk_profile::sigma0, kAny}, {"sigma1", &pk_profile::sigma1, kAny},
    {"sigma2", &pk_profile::sigma2, kAny}, {"gamma0", &pk_profile::gamma0, kAny},
    {"gamma1", &pk_profile::gamma1, kAny}, {"gamma2", &pk_profile::gamma2, kAny},
    {"alpha0", &pk_profile::alpha0, kAny}, {"alpha1", &pk_profile::alpha1, kAny},
    {"beta0", &pk_profile::beta0, kAny},   {"beta1", &pk_profile::beta1, kAny},
};

// Names of the coded fields, indexed by their codes.
const char *const kAxisNames[] = {"two_theta", "tof"};
const char *const kRadiationNames[] = {"xray", "neutron"};  // PK_RADIATION_XRAY + index
const char *const kProfileTypeNames[] = {"gaussian", "lorentzian", "pseudo_voigt", "tof_exp_gaussian",
                                         "tof_exp_pseudo_voigt"};

template <std::size_t N>
int codeOf(const char *const (&names)[N], const std::string &name) {
    for (std::size_t i = 0; i < N; ++i) {
        if (name == names[i]) return static_cast<int>(i);
    }
    return -1;
}

template <std::size_t N>
std::string listOf(const char *const (&names)[N]) {
    std::string list;
    for (std::size_t i = 0; i < N; ++i) list += (i > 0 ? ", " : "") + std::string("\"") + names[i] + "\"";
    return list;
}

[[noreturn]] void refuse(const std::string &name, const std::string &key, const std::string &why) {
    fail(PK_ERROR_FORMAT, name + ": \"" + key + "\": " + why);
}

// Both records as a reader would take them; fails naming the key.
void checkRecords(const pk_instrument &instrument, const pk_profile &profile, const std::string &name) {
    if (instrument.axis != PK_AXIS_TWO_THETA && instrument.axis != PK_AXIS_TOF) {
        refuse(name, "instrument.axis", "unknown axis code " + std::to_string(instrument.axis));
    }
    if (instrument.radiation != PK_RADIATION_XRAY && instrument.radiation != PK_RADIATION_NEUTRON) {
        refuse(name, "instrument.radiation", "unknown radiation code " + std::to_string(instrument.radiation));
    }
    for (const InstrumentNumber &n : kInstrumentNumbers) {
        const double value = instrument.*n.field;
        if (!n.range.holds(value)) refuse(name, std::string("instrument.") + n.key, n.range.text() + ", not " + shown(value));
    }
    if (instrument.dispersion != 0 && instrument.dispersion != 1) {
        refuse(name, "instrument.dispersion", "must be 0 or 1, not " + std::to_string(instrument.dispersion));
    }
    if (profile.type < PK_PROFILE_GAUSSIAN || profile.type > PK_PROFILE_TOF_EXP_PSEUDO_VOIGT) {
        refuse(name, "profile.type", "unknown profile type code " + std::to_string(profile.type));
    }
    const bool tofShape = profile.type >= PK_PROFILE_TOF_EXP_GAUSSIAN;
    if (tofShape != (instrument.axis == PK_AXIS_TOF)) {
        refuse(name, "profile.type",
               std::string("a ") + (tofShape ? "time-of-flight" : "2θ") + " shape does not fit the instrument's axis");
    }
    for (const ProfileNumber &n : kProfileNumbers) {
        const double value = profile.*n.field;
        if (!n.range.holds(value)) refuse(name, std::string("profile.") + n.key, n.range.text() + ", not " + shown(value));
    }
}

// Every key of `object` (the section `section`) among `known`; fails naming the unknown ones.
template <typename Table>
void requireKnownKeys(const Json &object, const std::string &section, const Table &known,
                      std::initializer_list<const char *> others, const std::string &name) {
    std::string unknown;
    for (const auto &item : object.items()) {
        bool found = false;
        for (const auto &entry : known) found = found || item.key() == entry.key;
        for (const char *other : others) found = found || item.key() == other;
        if (!found) unknown += (unknown.empty() ? "" : ", ") + ("\"" + section + item.key() + "\"");
    }
    if (!unknown.empty()) fail(PK_ERROR_FORMAT, name + ": unknown key " + unknown);
}

const Json &member(const Json &object, const std::string &section, const char *key, const std::string &name) {
    const auto found = object.find(key);
    if (found == object.end()) refuse(name, section + key, "is missing (it is required)");
    return *found;
}

double numberAt(const Json &value, const std::string &key, const std::string &name) {
    if (!value.is_number()) refuse(name, key, "must be a number, not " + value.dump());
    return value.get<double>();
}

template <std::size_t N>
int codeAt(const Json &value, const std::string &key, const char *const (&names)[N], const std::string &name) {
    const int code = value.is_string() ? codeOf(names, value.get<std::string>()) : -1;
    if (code < 0) refuse(name, key, "must be one of " + listOf(names) + ", not " + value.dump());
    return code;
}

const Json &objectAt(const Json &root, const char *key, const std::string &name) {
    const Json &value = member(root, "", key, name);
    if (!value.is_object()) refuse(name, key, "must be an object");
    return value;
}

void readRecords(const std::string &text, const std::string &name, pk_instrument &instrument, pk_profile &profile) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::exception &e) {  // a syntax error, or a number beyond a double
        const std::string what = e.what();
        const std::size_t end = what.find("] ");
        fail(PK_ERROR_FORMAT, name + ": not valid JSON: " + (end == std::string::npos ? what : what.substr(end + 2)));
    }
    if (!root.is_object()) fail(PK_ERROR_FORMAT, name + ": not an instrument file (the top is not an object)");
    const Json &format = member(root, "", "format", name);
    if (format != kFormat) refuse(name, "format", "must be \"" + std::string(kFormat) + "\", not " + format.dump());
    const Json &version = member(root, "", "version", name);
    if (!version.is_number_integer()) refuse(name, "version", "must be a whole number, not " + version.dump());
    if (version.get<long long>() != kVersion) {
        refuse(name, "version", version.dump() + " is not supported (this library reads version 1)");
    }
    const struct Key { const char *key; } top[] = {{"format"}, {"version"}, {"instrument"}, {"profile"}};
    requireKnownKeys(root, "", top, {}, name);

    const Json &section = objectAt(root, "instrument", name);
    requireKnownKeys(section, "instrument.", kInstrumentNumbers, {"axis", "radiation", "dispersion"}, name);
    pk_instrument_default(&instrument);
    member(section, "instrument.", "wavelength", name);
    if (section.contains("axis")) instrument.axis = codeAt(section["axis"], "instrument.axis", kAxisNames, name);
    if (section.contains("radiation")) {
        instrument.radiation =
            PK_RADIATION_XRAY + codeAt(section["radiation"], "instrument.radiation", kRadiationNames, name);
    }
    for (const InstrumentNumber &n : kInstrumentNumbers) {
        if (section.contains(n.key)) instrument.*n.field = numberAt(section[n.key], std::string("instrument.") + n.key, name);
    }
    if (section.contains("dispersion")) {
        if (!section["dispersion"].is_boolean()) refuse(name, "instrument.dispersion", "must be true or false");
        instrument.dispersion = section["dispersion"].get<bool>() ? 1 : 0;
    }

    const Json &shape = objectAt(root, "profile", name);
    requireKnownKeys(shape, "profile.", kProfileNumbers, {"type"}, name);
    const int type = codeAt(member(shape, "profile.", "type", name), "profile.type", kProfileTypeNames, name);
    pk_profile_default(&profile, type, nullptr);
    for (const ProfileNumber &n : kProfileNumbers) {
        if (shape.contains(n.key)) profile.*n.field = numberAt(shape[n.key], std::string("profile.") + n.key, name);
    }
    checkRecords(instrument, profile, name);
}

std::string writeRecords(const pk_instrument &instrument, const pk_profile &profile) {
    checkRecords(instrument, profile, "the instrument file");
    Written section = Written::object();
    section["axis"] = kAxisNames[instrument.axis];
    section["radiation"] = kRadiationNames[instrument.radiation - PK_RADIATION_XRAY];
    for (const InstrumentNumber &n : kInstrumentNumbers) section[n.key] = instrument.*n.field;
    section["dispersion"] = instrument.dispersion != 0;
    Written shape = Written::object();
    shape["type"] = kProfileTypeNames[profile.type];
    for (const ProfileNumber &n : kProfileNumbers) shape[n.key] = profile.*n.field;
    Written root = Written::object();
    root["format"] = kFormat;
    root["version"] = kVersion;
    root["instrument"] = section;
    root["profile"] = shape;
    return root.dump(2) + "\n";
}

// Writes `content` to a temporary file beside `path`, then renames it over `path`.
void writeWhole(const std::string &path, const std::string &content) {
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    std::FILE *file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) fail(PK_ERROR_FILE, path + ": cannot write: " + std::strerror(errno));
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const int cause = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int reason = !written ? cause : errno;
        std::remove(temporary.c_str());
        fail(PK_ERROR_FILE, path + ": cannot write: " + std::strerror(reason));
    }
}

}  // namespace

}  // namespace powderkit::phase

using namespace powderkit::phase;

extern "C" {

int32_t pk_instrument_file_write(const char *path, const pk_instrument *instrument, const pk_profile *profile,
                                 pk_error *error) {
    return guarded(error, [&] {
        requireArgument(path, "path");
        requireArgument(instrument, "instrument");
        requireArgument(profile, "profile");
        writeWhole(path, writeRecords(*instrument, *profile));
    });
}

int32_t pk_instrument_file_read(const char *path, pk_instrument *instrument, pk_profile *profile, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(path, "path");
        requireArgument(instrument, "instrument");
        requireArgument(profile, "profile");
        pk_instrument readInstrument{};
        pk_profile readProfile{};
        readRecords(readWholeFile(path), path, readInstrument, readProfile);
        *instrument = readInstrument;
        *profile = readProfile;
    });
}

int32_t pk_instrument_file_write_text(const pk_instrument *instrument, const pk_profile *profile, char *text,
                                      int32_t capacity, int32_t *size, pk_error *error) {
    if (size != nullptr) *size = 0;
    return guarded(error, [&] {
        requireArgument(instrument, "instrument");
        requireArgument(profile, "profile");
        const std::string content = writeRecords(*instrument, *profile);
        const auto needed = static_cast<int32_t>(content.size() + 1);
        if (size != nullptr) *size = needed;
        if (capacity < needed) {
            fail(PK_ERROR_ARGUMENT, "the text needs " + std::to_string(needed) + " bytes; the buffer holds " +
                                        std::to_string(capacity));
        }
        requireArgument(text, "text");
        std::memcpy(text, content.c_str(), content.size() + 1);
    });
}

int32_t pk_instrument_file_read_text(const char *text, const char *name, pk_instrument *instrument,
                                     pk_profile *profile, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(text, "text");
        requireArgument(instrument, "instrument");
        requireArgument(profile, "profile");
        pk_instrument readInstrument{};
        pk_profile readProfile{};
        readRecords(text, name != nullptr ? name : "instrument file", readInstrument, readProfile);
        *instrument = readInstrument;
        *profile = readProfile;
    });
}

}  // extern "C"
