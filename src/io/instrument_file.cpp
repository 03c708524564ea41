// The instrument file: one pk_instrument and one pk_profile as versioned JSON
// (nlohmann-json), or read from a GSAS-family parameter file
// (instrument_gsas.cpp), so that what a refinement of a standard learnt about the
// diffractometer starts each sample's refinement. Keys are checked against
// tables of the two records, the same tables for reading and writing: a
// misspelt key, a wrong type or a value out of range is refused naming the key,
// and a file is written only with values that read back.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "boundary/boundary.hpp"
#include "io/instrument_gsas.hpp"
#include "io/text_file.hpp"

namespace powderkit::phase {

namespace {

using Json = nlohmann::json;

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
        const auto number = [](double v) {
            return shown(v);
        };
        if (lower == -kNone) return "must be a finite number";
        if (upper == kNone) return std::string("must be ") + (lowerOpen ? "> " : "≥ ") + number(lower);
        return "must lie in " + std::string(lowerOpen ? "(" : "[") + number(lower) + ", " + number(upper) +
               (upperOpen ? ")" : "]");
    }
};

constexpr Range kAny{};
constexpr Range kPositive{0.0, kNone, true, false};
constexpr Range kNotNegative{0.0, kNone, false, false};

// A number field of a record (pk_instrument or pk_profile): its key in the
// file, the field and the values it may take.
template <typename Record>
struct NumberField {
    const char *key;
    double Record::*field;
    Range range;
};

const NumberField<pk_instrument> kInstrumentNumbers[] = {
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
    {"absorption", &pk_instrument::absorption, {0.0, PK_ABSORPTION_MAX, false, false}},
    {"roughness_p", &pk_instrument::roughness_p, {0.0, 1.0, false, false}},
    {"roughness_q", &pk_instrument::roughness_q, kNotNegative},
    {"transparency", &pk_instrument::transparency, kNotNegative},
};

const NumberField<pk_profile> kProfileNumbers[] = {
    {"U", &pk_profile::U, kAny},
    {"V", &pk_profile::V, kAny},
    {"W", &pk_profile::W, kAny},
    {"X", &pk_profile::X, kAny},
    {"Y", &pk_profile::Y, kAny},
    {"asymmetry", &pk_profile::asymmetry, kNotNegative},
    {"asymmetry_cutoff", &pk_profile::asymmetry_cutoff, kAny},
    {"sigma0", &pk_profile::sigma0, kAny},
    {"sigma1", &pk_profile::sigma1, kAny},
    {"sigma2", &pk_profile::sigma2, kAny},
    {"gamma0", &pk_profile::gamma0, kAny},
    {"gamma1", &pk_profile::gamma1, kAny},
    {"gamma2", &pk_profile::gamma2, kAny},
    {"alpha0", &pk_profile::alpha0, kAny},
    {"alpha1", &pk_profile::alpha1, kAny},
    {"beta0", &pk_profile::beta0, kAny},
    {"beta1", &pk_profile::beta1, kAny},
    {"axial_sl", &pk_profile::axial_sl, {0.0, PK_AXIAL_MAX, false, false}},
    {"axial_hl", &pk_profile::axial_hl, {0.0, PK_AXIAL_MAX, false, false}},
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

// Every number field of `record` (its keys under `prefix`) within its range; fails naming the key.
template <typename Record, std::size_t N>
void checkNumbers(const Record &record, const NumberField<Record> (&fields)[N], const std::string &prefix,
                  const std::string &name) {
    for (const NumberField<Record> &n : fields) {
        const double value = record.*n.field;
        if (!n.range.holds(value)) refuse(name, prefix + n.key, n.range.text() + ", not " + shown(value));
    }
}

// Both records as a reader would take them; fails naming the key.
void checkRecords(const pk_instrument &instrument, const pk_profile &profile, const std::string &name) {
    if (instrument.axis != PK_AXIS_TWO_THETA && instrument.axis != PK_AXIS_TOF) {
        refuse(name, "instrument.axis", "unknown axis code " + std::to_string(instrument.axis));
    }
    if (instrument.radiation != PK_RADIATION_XRAY && instrument.radiation != PK_RADIATION_NEUTRON) {
        refuse(name, "instrument.radiation", "unknown radiation code " + std::to_string(instrument.radiation));
    }
    checkNumbers(instrument, kInstrumentNumbers, "instrument.", name);
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
    checkNumbers(profile, kProfileNumbers, "profile.", name);
    if (hasAxialDivergence(profile) && profile.asymmetry > 0.0) refuse(name, "profile.axial_sl", kBothAsymmetries);
}

// One value of a file: its JSON text for messages, and the value where it is a scalar.
struct Value {
    enum Kind { Number, Text, Boolean, Other } kind = Other;
    bool integer = false;
    double number = 0.0;
    long long whole = 0;
    std::string text;  // of a Text
    bool boolean = false;
    std::string shown;  // as written, or "an object", "a list"
};
using Section = std::vector<std::pair<std::string, Value>>;  // keys in the file's order

// The file's keys and values, taken from nlohmann-json's event (SAX) parser: the top object and the objects
// "instrument" and "profile" within it. No JSON tree is built, whose destruction may allocate where it
// cannot fail (a noexcept destructor), and so would end the host when memory runs out.
class Collector : public nlohmann::json_sax<Json> {
public:
    bool topIsObject = false;
    Section top, instrument, profile;
    std::string error;

    bool null() override { return scalar(Value{Value::Other, false, 0, 0, "", false, "null"}); }
    bool boolean(bool b) override { return scalar(Value{Value::Boolean, false, 0, 0, "", b, b ? "true" : "false"}); }
    bool number_integer(number_integer_t n) override {
        return scalar(Value{Value::Number, true, double(n), n, "", false, std::to_string(n)});
    }
    bool number_unsigned(number_unsigned_t n) override {
        return scalar(Value{Value::Number, n <= static_cast<number_unsigned_t>(std::numeric_limits<long long>::max()),
                            double(n), static_cast<long long>(n), "", false, std::to_string(n)});
    }
    bool number_float(number_float_t n, const string_t &written) override {
        return scalar(Value{Value::Number, false, n, 0, "", false, written});
    }
    bool string(string_t &t) override { return scalar(Value{Value::Text, false, 0, 0, t, false, "\"" + t + "\""}); }
    bool binary(binary_t &) override { return scalar(Value{}); }
    bool key(string_t &k) override {
        key_ = k;
        return true;
    }
    bool start_object(std::size_t) override { return open(true); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &e) override {
        error = e.what();
        const std::size_t end = error.find("] ");
        if (end != std::string::npos) error = error.substr(end + 2);
        return false;
    }

private:
    std::vector<Section *> frames_;  // the open containers: the section collected, or NULL
    std::string key_;

    bool scalar(const Value &value) {
        if (!frames_.empty() && frames_.back() != nullptr) frames_.back()->emplace_back(key_, value);
        return true;
    }
    bool open(bool object) {
        Section *collected = nullptr;
        if (frames_.empty()) {
            topIsObject = object;
            collected = object ? &top : nullptr;
        } else if (frames_.back() != nullptr) {
            frames_.back()->emplace_back(key_,
                                         Value{Value::Other, false, 0, 0, "", false, object ? "an object" : "a list"});
            if (object && frames_.back() == &top && key_ == "instrument") collected = &instrument;
            if (object && frames_.back() == &top && key_ == "profile") collected = &profile;
        }
        frames_.push_back(collected);
        return true;
    }
    bool close() {
        frames_.pop_back();
        return true;
    }
};

// Every key of `section` (named `prefix`) among `known` and `others`; fails naming the unknown ones.
template <typename Table>
void requireKnownKeys(const Section &section, const std::string &prefix, const Table &known,
                      std::initializer_list<const char *> others, const std::string &name) {
    std::string unknown;
    for (const auto &[key, value] : section) {
        bool found = false;
        for (const auto &entry : known) found = found || key == entry.key;
        for (const char *other : others) found = found || key == other;
        if (!found) unknown += (unknown.empty() ? "" : ", ") + ("\"" + prefix + key + "\"");
    }
    if (!unknown.empty()) fail(PK_ERROR_FORMAT, name + ": unknown key " + unknown);
}

// The value of `key` in `section` (the last, where a key is repeated), or NULL.
const Value *find(const Section &section, const std::string &key) {
    const Value *found = nullptr;
    for (const auto &[k, value] : section) {
        if (k == key) found = &value;
    }
    return found;
}

const Value &member(const Section &section, const std::string &prefix, const char *key, const std::string &name) {
    const Value *found = find(section, key);
    if (found == nullptr) refuse(name, prefix + key, "is missing (it is required)");
    return *found;
}

double numberAt(const Value &value, const std::string &key, const std::string &name) {
    if (value.kind != Value::Number) refuse(name, key, "must be a number, not " + value.shown);
    return value.number;
}

// The number fields of `record` that `section` (keys under `prefix`) gives; fails naming a value that is
// not a number.
template <typename Record, std::size_t N>
void readNumbers(const Section &section, const NumberField<Record> (&fields)[N], const std::string &prefix,
                 Record &record, const std::string &name) {
    for (const NumberField<Record> &n : fields) {
        if (const Value *value = find(section, n.key)) record.*n.field = numberAt(*value, prefix + n.key, name);
    }
}

template <std::size_t N>
int codeAt(const Value &value, const std::string &key, const char *const (&names)[N], const std::string &name) {
    const int code = value.kind == Value::Text ? codeOf(names, value.text) : -1;
    if (code < 0) refuse(name, key, "must be one of " + listOf(names) + ", not " + value.shown);
    return code;
}

void readRecords(const std::string &text, const std::string &name, pk_instrument &instrument, pk_profile &profile) {
    Collector file;
    if (!Json::sax_parse(text, &file)) fail(PK_ERROR_FORMAT, name + ": not valid JSON: " + file.error);
    if (!file.topIsObject) fail(PK_ERROR_FORMAT, name + ": not an instrument file (the top is not an object)");
    const Value &format = member(file.top, "", "format", name);
    if (format.kind != Value::Text || format.text != kFormat) {
        refuse(name, "format", "must be \"" + std::string(kFormat) + "\", not " + format.shown);
    }
    const Value &version = member(file.top, "", "version", name);
    if (version.kind != Value::Number || !version.integer) {
        refuse(name, "version", "must be a whole number, not " + version.shown);
    }
    if (version.whole != kVersion) {
        refuse(name, "version", version.shown + " is not supported (this library reads version 1)");
    }
    const struct Key { const char *key; } top[] = {{"format"}, {"version"}, {"instrument"}, {"profile"}};
    requireKnownKeys(file.top, "", top, {}, name);
    for (const char *section : {"instrument", "profile"}) {
        if (member(file.top, "", section, name).shown != "an object") refuse(name, section, "must be an object");
    }

    requireKnownKeys(file.instrument, "instrument.", kInstrumentNumbers, {"axis", "radiation", "dispersion"}, name);
    pk_instrument_default(&instrument);
    member(file.instrument, "instrument.", "wavelength", name);
    if (const Value *axis = find(file.instrument, "axis")) {
        instrument.axis = codeAt(*axis, "instrument.axis", kAxisNames, name);
    }
    if (const Value *radiation = find(file.instrument, "radiation")) {
        instrument.radiation = PK_RADIATION_XRAY + codeAt(*radiation, "instrument.radiation", kRadiationNames, name);
    }
    readNumbers(file.instrument, kInstrumentNumbers, "instrument.", instrument, name);
    if (const Value *dispersion = find(file.instrument, "dispersion")) {
        if (dispersion->kind != Value::Boolean) refuse(name, "instrument.dispersion", "must be true or false");
        instrument.dispersion = dispersion->boolean ? 1 : 0;
    }

    requireKnownKeys(file.profile, "profile.", kProfileNumbers, {"type"}, name);
    const int type = codeAt(member(file.profile, "profile.", "type", name), "profile.type", kProfileTypeNames, name);
    pk_profile_default(&profile, type, nullptr);
    readNumbers(file.profile, kProfileNumbers, "profile.", profile, name);
    // A file that gives an axial divergence describes the asymmetry by it: P then defaults to 0.
    if (hasAxialDivergence(profile) && find(file.profile, "asymmetry") == nullptr) profile.asymmetry = 0.0;
    checkRecords(instrument, profile, name);
}

// Either format, told by content: JSON (an object) or a GSAS-family file, whose values are checked as JSON's are.
void readAnyRecords(std::string_view text, const std::string &name, int32_t bank, pk_instrument &instrument,
                    pk_profile &profile, std::string &warnings, double &difB) {
    difB = 0.0;
    if (bank < 0) fail(PK_ERROR_ARGUMENT, "bank " + std::to_string(bank) + " is negative (0: the first)");
    if (looksLikeGsasInstrument(text)) {
        readGsasInstrument(text, name, bank, instrument, profile, difB, warnings);
        checkRecords(instrument, profile, name);
        return;
    }
    if (bank > 1) fail(PK_ERROR_ARGUMENT, name + ": no bank " + std::to_string(bank) + "; it holds one instrument");
    readRecords(std::string(text), name, instrument, profile);
}

// Reads into the caller's records only when the whole file reads, and copies
// the warnings, cut to fit, into warnings[capacity].
void readInto(std::string_view text, const std::string &name, int32_t bank, pk_instrument *instrument,
              pk_profile *profile, char *warnings, int32_t capacity, int32_t *size) {
    requireArgument(instrument, "instrument");
    requireArgument(profile, "profile");
    pk_instrument readInstrument{};
    pk_profile readProfile{};
    std::string said;
    double difB = 0.0;
    readAnyRecords(text, name, bank, readInstrument, readProfile, said, difB);
    *instrument = readInstrument;
    *profile = readProfile;
    if (size != nullptr) *size = static_cast<int32_t>(said.size() + 1);
    if (warnings != nullptr && capacity > 0) {
        const std::size_t kept = std::min(said.size(), static_cast<std::size_t>(capacity) - 1);
        std::memcpy(warnings, said.data(), kept);
        warnings[kept] = '\0';
    }
}

// The file's text: a fixed layout of keys, each value written by nlohmann-json (numbers to the digits that
// read back exactly). Like reading, writing builds no JSON tree.
std::string writeRecords(const pk_instrument &instrument, const pk_profile &profile) {
    checkRecords(instrument, profile, "the instrument file");
    const auto line = [](const std::string &indent, const char *key, const Json &value, bool last = false) {
        return indent + Json(key).dump() + ": " + value.dump() + (last ? "\n" : ",\n");
    };
    std::string text =
        "{\n" + line("  ", "format", kFormat) + line("  ", "version", kVersion) + "  \"instrument\": {\n";
    text += line("    ", "axis", kAxisNames[instrument.axis]);
    text += line("    ", "radiation", kRadiationNames[instrument.radiation - PK_RADIATION_XRAY]);
    for (const auto &n : kInstrumentNumbers) text += line("    ", n.key, instrument.*n.field);
    text += line("    ", "dispersion", instrument.dispersion != 0, true) + "  },\n  \"profile\": {\n";
    text += line("    ", "type", kProfileTypeNames[profile.type]);
    for (const auto &n : kProfileNumbers) {
        text += line("    ", n.key, profile.*n.field, &n == &kProfileNumbers[std::size(kProfileNumbers) - 1]);
    }
    return text + "  }\n}\n";
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
        writeWholeFile(path, writeRecords(*instrument, *profile));
    });
}

int32_t pk_instrument_file_read_bank(const char *path, int32_t bank, pk_instrument *instrument, pk_profile *profile,
                                     char *warnings, int32_t capacity, int32_t *size, pk_error *error) {
    if (size != nullptr) *size = 0;
    return guarded(error, [&] {
        requireArgument(path, "path");
        requireArgument(instrument, "instrument");
        requireArgument(profile, "profile");
        readInto(readWholeFile(path), path, bank, instrument, profile, warnings, capacity, size);
    });
}

int32_t pk_instrument_file_difb(const char *path, int32_t bank, double *difb, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(path, "path");
        requireArgument(difb, "difb");
        pk_instrument instrument{};
        pk_profile profile{};
        std::string warnings;
        double read = 0.0;
        readAnyRecords(readWholeFile(path), path, bank, instrument, profile, warnings, read);
        *difb = read;
    });
}

int32_t pk_instrument_file_read(const char *path, pk_instrument *instrument, pk_profile *profile, pk_error *error) {
    return pk_instrument_file_read_bank(path, 0, instrument, profile, nullptr, 0, nullptr, error);
}

int32_t pk_instrument_file_write_text(const pk_instrument *instrument, const pk_profile *profile, char *text,
                                      int32_t capacity, int32_t *size, pk_error *error) {
    if (size != nullptr) *size = 0;
    return guarded(error, [&] {
        requireArgument(instrument, "instrument");
        requireArgument(profile, "profile");
        copyText(writeRecords(*instrument, *profile), text, capacity, size);
    });
}

int32_t pk_instrument_file_read_text_bank(const char *text, const char *name, int32_t bank, pk_instrument *instrument,
                                          pk_profile *profile, char *warnings, int32_t capacity, int32_t *size,
                                          pk_error *error) {
    if (size != nullptr) *size = 0;
    return guarded(error, [&] {
        requireArgument(text, "text");
        readInto(text, name != nullptr ? name : "instrument file", bank, instrument, profile, warnings, capacity, size);
    });
}

int32_t pk_instrument_file_read_text(const char *text, const char *name, pk_instrument *instrument, pk_profile *profile,
                                     pk_error *error) {
    return pk_instrument_file_read_text_bank(text, name, 0, instrument, profile, nullptr, 0, nullptr, error);
}

}  // extern "C"
