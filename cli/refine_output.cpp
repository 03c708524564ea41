// The files of `powderkit refine`: refinement.json (the outcome), fit.xy or
// fit_<name>.xy (each pattern's curves) and setup.json (what the run was made
// from, with the final values), which --setup reads back. JSON is read and written with nlohmann-json; a
// number that is not finite (an esd the data cannot give) is written as null.
#include "refine_output.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "table_output.hpp"

namespace fs = std::filesystem;
using nlohmann::json;
using Written = nlohmann::ordered_json;   // keys in the order written

namespace powderkit::cli {

namespace {

Written number(double value) {
    if (!std::isfinite(value)) return nullptr;
    return value;
}

Written statisticsJson(const pk_refinement_summary &summary) {
    return {{"Rp", number(summary.Rp)},
            {"Rwp", number(summary.Rwp)},
            {"Rexp", number(summary.Rexp)},
            {"chi2", number(summary.chi2)},
            {"reduced_chi2", number(summary.reduced_chi2)},
            {"GoF", number(summary.GoF)}};
}

// The source as refined: a time-of-flight bank's calibration, TOF(µs) = difC d + difA d² + zero, or the lines.
Written instrumentJson(const pk_instrument &instrument) {
    if (instrument.axis == PK_AXIS_TOF) {
        return {{"axis", "tof"},
                {"two_theta", instrument.tof_two_theta},
                {"difC", instrument.dtt1},
                {"difA", instrument.dtt2},
                {"zero", instrument.zero}};
    }
    return {{"axis", "two_theta"},
            {"wavelength", instrument.wavelength},
            {"wavelength2", instrument.wavelength2},
            {"zero", instrument.zero}};
}

// FROM TO pairs as JSON lists.
Written pairsJson(const std::vector<double> &pairs) {
    Written list = Written::array();
    for (size_t k = 0; k + 1 < pairs.size(); k += 2) list.push_back({pairs[k], pairs[k + 1]});
    return list;
}

bool refined(int32_t state) {
    return state == PK_PARAMETER_FREE || state == PK_PARAMETER_AT_LIMIT ||
           state == PK_PARAMETER_UNDETERMINED;
}

std::string absolutePath(const std::string &path) {
    std::error_code ignored;
    const fs::path made = fs::absolute(path, ignored);
    return made.empty() ? path : made.lexically_normal().string();
}

// Reads the fields of one setup.json, naming the file and field in every refusal.
class SetupReader {
public:
    explicit SetupReader(std::string path) : path_(std::move(path)) {}

    json parse() const {
        std::ifstream stream(path_, std::ios::binary);
        if (!stream) throw InputError(path_ + ": cannot open the setup file");
        std::ostringstream text;
        text << stream.rdbuf();
        try {
            return json::parse(text.str());
        } catch (const json::parse_error &e) {
            const std::string what = e.what();
            const size_t end = what.find("] ");
            throw InputError(path_ + ": not valid JSON: " +
                             (end == std::string::npos ? what : what.substr(end + 2)));
        }
    }

    [[noreturn]] void refuse(const std::string &field, const std::string &why) const {
        throw InputError(path_ + ": \"" + field + "\": " + why);
    }

    double toNumber(const json &value, const std::string &field) const {
        if (!value.is_number()) refuse(field, "must be a number");
        return value.get<double>();
    }

    // A limit: a number, or null for none.
    double toLimit(const json &value, const std::string &field, double none) const {
        return value.is_null() ? none : toNumber(value, field);
    }

    int toInteger(const json &value, const std::string &field) const {
        if (!value.is_number_integer()) refuse(field, "must be a whole number");
        return value.get<int>();
    }

    std::string toText(const json &value, const std::string &field) const {
        if (!value.is_string()) refuse(field, "must be a text");
        return value.get<std::string>();
    }

    bool toBool(const json &value, const std::string &field) const {
        if (!value.is_boolean()) refuse(field, "must be true or false");
        return value.get<bool>();
    }

    const json &toArray(const json &value, const std::string &field) const {
        if (!value.is_array()) refuse(field, "must be a list");
        return value;
    }

    const json &toObject(const json &value, const std::string &field) const {
        if (!value.is_object()) refuse(field, "must be an object");
        return value;
    }

    // A FROM TO pair of numbers.
    void addPair(const json &value, const std::string &field, std::vector<double> &into) const {
        if (!value.is_array() || value.size() != 2) refuse(field, "must be a list of two numbers");
        into.push_back(toNumber(value[0], field));
        into.push_back(toNumber(value[1], field));
    }

    // A file named in the setup: relative paths start from the setup's folder.
    std::string toFile(const json &value, const std::string &field) const {
        const fs::path file = toText(value, field);
        if (file.is_absolute() || file.empty()) return file.string();
        return (fs::path(path_).parent_path() / file).lexically_normal().string();
    }

private:
    std::string path_;
};

void readSource(const SetupReader &reader, const json &source, RefineOptions &options) {
    for (const auto &[key, value] : reader.toObject(source, "source").items()) {
        const std::string field = "source." + key;
        if (key == "anode") {
            options.source.anode = reader.toText(value, field);
        } else if (key == "alpha2") {
            options.no_alpha2 = !reader.toBool(value, field);
        } else if (key == "wavelength") {
            options.source.wavelength = reader.toNumber(value, field);
            options.source.has_wavelength = true;
        } else if (key == "neutron") {
            options.source.neutron = reader.toBool(value, field);
        } else if (key == "monochromator") {
            options.source.monochromator = reader.toNumber(value, field);
            options.source.has_monochromator = true;
        } else if (key == "dispersion") {
            options.source.no_dispersion = !reader.toBool(value, field);
        } else if (key == "absorption") {
            options.source.absorption = reader.toNumber(value, field);
            options.source.has_absorption = true;
        } else if (key == "roughness") {
            options.source.roughness.clear();
            reader.addPair(value, field, options.source.roughness);
        } else if (key == "transparency") {
            options.source.transparency = reader.toNumber(value, field);
            options.source.has_transparency = true;
        } else if (key == "instrument") {
            options.source.instrument_file = reader.toFile(value, field);
        } else {
            reader.refuse(field, "unknown key");
        }
    }
    if (!options.source.anode.empty() && options.source.has_wavelength) {
        reader.refuse("source", "give an anode or a wavelength, not both");
    }
}

void readPhases(const SetupReader &reader, const json &phases, RefineSetup &setup) {
    for (const json &phase : reader.toArray(phases, "phases")) {
        reader.toObject(phase, "phases");
        if (!phase.contains("file")) reader.refuse("phases", "every phase needs a \"file\"");
        setup.options.phases.push_back(reader.toFile(phase["file"], "phases.file"));
        setup.names.push_back(phase.contains("name") ? reader.toText(phase["name"], "phases.name") : "");
    }
}

// FROM TO pairs of the pattern named `pattern` ("" for the only one).
void readSpans(const SetupReader &reader, const json &pairs, const std::string &field, const std::string &pattern,
               std::vector<XSpan> &into) {
    for (const json &pair : pairs) {
        std::vector<double> ends;
        reader.addPair(pair, field, ends);
        into.push_back({pattern, ends[0], ends[1]});
    }
}

// The measured patterns of a joint refinement, each with its range and exclusions.
void readPatterns(const SetupReader &reader, const json &patterns, RefineOptions &options) {
    for (const json &entry : reader.toArray(patterns, "patterns")) {
        reader.toObject(entry, "patterns");
        if (!entry.contains("file") || !entry.contains("name")) {
            reader.refuse("patterns", "every pattern needs a \"file\" and a \"name\"");
        }
        PatternInput input;
        input.name = reader.toText(entry["name"], "patterns.name");
        const std::string field = "patterns." + input.name;
        for (const auto &[key, value] : entry.items()) {
            if (key == "file") {
                input.file = reader.toFile(value, field + ".file");
            } else if (key == "instrument") {
                input.instrument_file = reader.toFile(value, field + ".instrument");
            } else if (key == "bank") {
                input.bank = reader.toInteger(value, field + ".bank");
                if (input.bank < 1) reader.refuse(field + ".bank", "must be a bank number, 1 or more");
            } else if (key == "weight") {
                input.weight = reader.toNumber(value, field + ".weight");
                if (!(input.weight > 0.0)) reader.refuse(field + ".weight", "must be a positive number");
            } else if (key == "range") {
                if (!value.is_null()) readSpans(reader, json::array({value}), field + ".range", input.name, options.ranges);
            } else if (key == "excluded") {
                readSpans(reader, reader.toArray(value, field + ".excluded"), field + ".excluded", input.name,
                          options.excluded);
            } else if (key != "name") {
                reader.refuse(field + '.' + key, "unknown key");
            }
        }
        options.patterns.push_back(input);
    }
}

void readParameters(const SetupReader &reader, const json &parameters, RefineSetup &setup) {
    for (const json &entry : reader.toArray(parameters, "parameters")) {
        reader.toObject(entry, "parameters");
        if (!entry.contains("name") || !entry.contains("value")) {
            reader.refuse("parameters", "every parameter needs a \"name\" and a \"value\"");
        }
        SetupParameter parameter;
        parameter.name = reader.toText(entry["name"], "parameters.name");
        const std::string field = "parameters." + parameter.name;
        parameter.value = reader.toNumber(entry["value"], field + ".value");
        if (entry.contains("lower")) parameter.lower = reader.toLimit(entry["lower"], field + ".lower", -INFINITY);
        if (entry.contains("upper")) parameter.upper = reader.toLimit(entry["upper"], field + ".upper", INFINITY);
        for (const auto &item : entry.items()) {
            const bool known = item.key() == "name" || item.key() == "value" || item.key() == "lower" ||
                               item.key() == "upper";
            if (!known) reader.refuse(field + '.' + item.key(), "unknown key");
        }
        setup.parameters.push_back(parameter);
    }
}

RefineSetup readSetup(const std::string &path) {
    const SetupReader reader(path);
    const json root = reader.parse();
    if (!root.is_object()) reader.refuse("(top)", "must be an object");
    RefineSetup setup;
    RefineOptions &options = setup.options;
    for (const auto &[key, value] : root.items()) {
        if (key == "measured") {
            options.measured = reader.toFile(value, key);
        } else if (key == "phases") {
            readPhases(reader, value, setup);
        } else if (key == "source") {
            readSource(reader, value, options);
        } else if (key == "bank") {
            options.source.bank = reader.toInteger(value, key);
            if (options.source.bank < 1) reader.refuse(key, "must be a bank number, 1 or more");
        } else if (key == "patterns") {
            readPatterns(reader, value, options);
        } else if (key == "range") {
            readSpans(reader, value.is_null() ? json::array() : json::array({value}), key, "", options.ranges);
        } else if (key == "excluded") {
            readSpans(reader, reader.toArray(value, key), key, "", options.excluded);
        } else if (key == "background") {
            options.background = reader.toInteger(value, key);
            options.has_background = true;
        } else if (key == "mode") {
            const std::string mode = reader.toText(value, key);
            if (mode != "rietveld" && mode != "le_bail") reader.refuse(key, "must be rietveld or le_bail");
            options.le_bail = mode == "le_bail";
        } else if (key == "cycles") {
            options.cycles = reader.toInteger(value, key);
            options.has_cycles = true;
        } else if (key == "stages") {
            options.stages = reader.toBool(value, key) ? 1 : 0;
        } else if (key == "start_from_data") {
            options.start_from_data = reader.toBool(value, key) ? 1 : 0;
        } else if (key == "cell_window") {
            options.cell_window = reader.toNumber(value, key);
        } else if (key == "zero_window") {
            options.zero_window = reader.toNumber(value, key);
        } else if (key == "free") {
            options.free = reader.toText(value, key);
        } else if (key == "ties") {
            for (const json &tie : reader.toArray(value, key)) options.ties.push_back(reader.toText(tie, key));
        } else if (key == "parameters") {
            readParameters(reader, value, setup);
        } else {
            reader.refuse(key, "unknown key");
        }
    }
    return setup;
}

// Whether a parameter is a phase's asymmetry: "<phase>.asymmetry", ".SL" or ".HL".
bool isAsymmetry(const std::string &name) {
    for (const std::string suffix : {".asymmetry", ".SL", ".HL"}) {
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) return true;
    }
    return false;
}

// The index K of "background.K", or −1.
int backgroundIndex(const std::string &name) {
    const std::string prefix = "background.";
    if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size()) return -1;
    const std::string digits = name.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 3) return -1;
    return std::stoi(digits);
}

// The monochromator and sample corrections `from` gives, copied into `into`.
void keepInstrumentTerms(const SourceOptions &from, SourceOptions &into) {
    if (from.has_monochromator) {
        into.has_monochromator = true;
        into.monochromator = from.monochromator;
    }
    if (from.has_absorption) {
        into.has_absorption = true;
        into.absorption = from.absorption;
    }
    if (!from.roughness.empty()) into.roughness = from.roughness;
    if (from.has_transparency) {
        into.has_transparency = true;
        into.transparency = from.transparency;
    }
    if (from.no_dispersion) into.no_dispersion = true;
    if (!from.instrument_file.empty()) into.instrument_file = from.instrument_file;
}

}  // namespace

RefineSetup resolveSetup(const RefineOptions &given) {
    // Beside --pattern, or a setup of several patterns, the first file named alone is a phase too.
    const auto phasesOnly = [&](RefineOptions &options) {
        if (options.measured.empty()) return;
        options.phases.insert(options.phases.begin(), options.measured);
        options.measured.clear();
    };
    if (given.setup.empty()) {
        RefineSetup setup;
        setup.options = given;
        if (!given.patterns.empty()) phasesOnly(setup.options);
        return setup;
    }
    RefineSetup setup = readSetup(given.setup);
    RefineOptions &options = setup.options;
    RefineOptions files = given;
    if (!given.patterns.empty() && options.patterns.empty()) {
        throw InputError("--pattern: " + given.setup + " refines one measured pattern; a joint refinement starts "
                         "without it, or from the setup.json of a joint one");
    }
    if (!options.patterns.empty()) phasesOnly(files);
    if (!given.patterns.empty()) options.patterns = given.patterns;
    if (!files.measured.empty()) options.measured = files.measured;
    if (!files.phases.empty()) {
        options.phases = files.phases;
        setup.names.clear();
    }
    const int bank = given.source.bank > 0 ? given.source.bank : options.source.bank;
    if (!given.source.anode.empty() || given.source.has_wavelength || given.source.neutron) {
        const SourceOptions kept = options.source;
        options.source = given.source;
        keepInstrumentTerms(kept, options.source);  // unless given below
        options.no_alpha2 = given.no_alpha2;
    }
    options.source.bank = bank;
    if (given.no_alpha2) options.no_alpha2 = true;
    keepInstrumentTerms(given.source, options.source);
    // A correction given on the command line replaces the value the setup's
    // parameters carry from the last run; --axial replaces the phases' asymmetries.
    const auto overridden = [&](const SetupParameter &p) {
        return (p.name == "absorption" && given.source.has_absorption) ||
               ((p.name == "roughness_p" || p.name == "roughness_q") && !given.source.roughness.empty()) ||
               (p.name == "transparency" && given.source.has_transparency) ||
               (!given.axial.empty() && isAsymmetry(p.name));
    };
    setup.parameters.erase(std::remove_if(setup.parameters.begin(), setup.parameters.end(), overridden),
                           setup.parameters.end());
    if (!given.ranges.empty()) options.ranges = given.ranges;
    if (!given.excluded.empty()) options.excluded = given.excluded;
    if (given.has_background) {
        options.background = given.background;
        options.has_background = true;
        // Coefficients beyond the new count are dropped.
        auto beyond = [&](const SetupParameter &p) { return backgroundIndex(p.name) >= given.background; };
        setup.parameters.erase(std::remove_if(setup.parameters.begin(), setup.parameters.end(), beyond),
                               setup.parameters.end());
    }
    if (given.le_bail && !options.le_bail) {
        options.le_bail = true;
        options.free.clear();   // the new mode's default, unless given
    }
    if (!given.free.empty()) options.free = given.free;
    if (!given.axial.empty()) options.axial = given.axial;
    if (!given.ties.empty()) options.ties = given.ties;
    if (given.has_cycles) {
        options.cycles = given.cycles;
        options.has_cycles = true;
    }
    if (given.stages >= 0) options.stages = given.stages;
    if (given.start_from_data >= 0) options.start_from_data = given.start_from_data;
    if (!std::isnan(given.cell_window)) options.cell_window = given.cell_window;
    if (!std::isnan(given.zero_window)) options.zero_window = given.zero_window;
    options.output_dir = given.output_dir;
    options.save_instrument = given.save_instrument;
    options.threads = given.threads;  // how this run is computed, not what it refines
    options.setup.clear();
    return setup;
}

std::string refinementJson(const RefineResult &result) {
    Written parameters = Written::array();
    for (const ParameterResult &parameter : result.parameters) {
        parameters.push_back({{"name", parameter.name},
                              {"value", number(parameter.value)},
                              {"esd", number(parameter.esd)},
                              {"free", refined(parameter.state)},
                              {"state", pk_parameter_state_name(parameter.state)}});
    }
    const auto phasesJson = [](const std::vector<PhaseResult> &given) {
        Written phases = Written::array();
        for (const PhaseResult &phase : given) {
            Written cell = Written::array();
            Written cell_esd = Written::array();
            for (size_t k = 0; k < 6; ++k) {
                cell.push_back(number(phase.cell[k]));
                cell_esd.push_back(number(phase.cell_esd[k]));
            }
            phases.push_back({{"name", phase.name},
                              {"cell", cell},
                              {"cell_esd", cell_esd},
                              {"R_bragg", number(phase.r_bragg)},
                              {"weight_fraction", number(phase.weight_fraction)},
                              {"size_nm", number(phase.size_nm)},
                              {"size_esd", number(phase.size_esd)},
                              {"strain_percent", number(phase.strain_percent)},
                              {"strain_esd", number(phase.strain_esd)}});
        }
        return phases;
    };
    const Written phases = phasesJson(result.phases);
    const bool joint = !result.histograms.empty() && !result.histograms.front().name.empty();
    Written histograms = Written::array();
    for (const HistogramResult &histogram : result.histograms) {
        const bool neutron = histogram.instrument.radiation == PK_RADIATION_NEUTRON;
        histograms.push_back({{"name", histogram.name},
                              {"file", absolutePath(histogram.file)},
                              {"kind", {{"radiation", neutron ? "neutron" : "x-ray"},
                                        {"measurement", histogram.tof ? "time of flight" : "constant wavelength"}}},
                              {"fit", fitFileName(histogram)},
                              {"points", histogram.summary.points},
                              {"statistics", statisticsJson(histogram.summary)},
                              {"instrument", instrumentJson(histogram.instrument)},
                              {"phases", phasesJson(histogram.phases)}});
    }
    const pk_refinement_summary &summary = result.summary;
    Written root = {{"converged", summary.converged != 0},
                    {"cycles", summary.cycles},
                    {"stop_reason", result.stop_reason},
                    {"verdict", {{"doubtful", summary.doubtful != 0}, {"reasons", result.verdict}}},
                    {"notes", result.notes},
                    {"points", summary.points},
                    {"statistics", statisticsJson(summary)}};
    // Each pattern of a joint refinement has its own instrument, under "histograms".
    if (!joint && !result.histograms.empty()) root["instrument"] = instrumentJson(result.histograms.front().instrument);
    root["histograms"] = histograms;
    root["parameters"] = parameters;
    root["phases"] = phases;
    return root.dump(2) + "\n";
}

std::string fitFileName(const HistogramResult &histogram) {
    return histogram.name.empty() ? "fit.xy" : "fit_" + histogram.name + ".xy";
}

std::string fitXy(const HistogramResult &histogram, const std::string &title) {
    std::string text = "# powderkit refine: " + title + "\n# " + (histogram.tof ? "tof_us" : "x") +
                       "\tobserved\tcalculated\tdifference\tbackground\n";
    text.reserve(text.size() + histogram.x.size() * 64);
    for (size_t i = 0; i < histogram.x.size(); ++i) {
        text += formatNumber(histogram.x[i]) + '\t' + formatNumber(histogram.observed[i]) + '\t' +
                formatNumber(histogram.calculated[i]) + '\t' + formatNumber(histogram.difference[i]) + '\t' +
                formatNumber(histogram.background[i]) + '\n';
    }
    return text;
}

std::string setupJson(const RefineSetup &setup, const RefineResult &result) {
    const RefineOptions &options = setup.options;
    const bool joint = !options.patterns.empty();
    Written phases = Written::array();
    for (size_t p = 0; p < options.phases.size(); ++p) {
        const std::string name = p < result.phases.size() ? result.phases[p].name : "";
        phases.push_back({{"file", absolutePath(options.phases[p])}, {"name", name}});
    }
    const HistogramResult &first = result.histograms.front();
    Written source = Written::object();
    const bool tof = !joint && first.tof;
    if (joint) {
        // What was given beside the patterns, for those whose files do not name their source.
        if (!options.source.anode.empty()) source["anode"] = options.source.anode;
        if (options.source.has_wavelength) source["wavelength"] = options.source.wavelength;
        source["alpha2"] = !options.no_alpha2;
    } else if (tof) {
        // A time-of-flight bank: its instrument file alone; the refined calibration is among the parameters.
    } else if (options.source.has_wavelength) {
        source["wavelength"] = options.source.wavelength;
    } else if (options.source.anode.empty() && options.source.file_alpha1 > 0.0) {
        source["alpha2"] = !options.no_alpha2;  // the lines the measured file names, read again from it
    } else {
        // Without an anode the instrument file's lines stand.
        if (!options.source.anode.empty() || options.source.instrument_file.empty())
            source["anode"] = options.source.anode.empty() ? "Cu" : options.source.anode;
        source["alpha2"] = !options.no_alpha2;
    }
    if (!tof) source["neutron"] = options.source.neutron;
    if (options.source.has_monochromator) source["monochromator"] = options.source.monochromator;
    if (!tof) source["dispersion"] = !options.source.no_dispersion;
    if (options.source.has_absorption) source["absorption"] = options.source.absorption;
    if (!options.source.roughness.empty()) source["roughness"] = options.source.roughness;
    if (options.source.has_transparency) source["transparency"] = options.source.transparency;
    if (!options.source.instrument_file.empty()) source["instrument"] = absolutePath(options.source.instrument_file);
    Written parameters = Written::array();
    for (const ParameterResult &parameter : result.parameters) {
        Written entry = {{"name", parameter.name}, {"value", parameter.value}};
        if (std::isfinite(parameter.lower)) entry["lower"] = parameter.lower;
        if (std::isfinite(parameter.upper)) entry["upper"] = parameter.upper;
        parameters.push_back(entry);
    }
    const auto rangeJson = [](const HistogramResult &histogram) {
        return histogram.range.size() == 2 ? Written{histogram.range[0], histogram.range[1]} : Written(nullptr);
    };
    pk_refinement_options defaults;
    pk_refinement_options_default(&defaults);
    Written root = Written::object();
    if (joint) {
        Written patterns = Written::array();
        for (size_t h = 0; h < options.patterns.size() && h < result.histograms.size(); ++h) {
            const PatternInput &input = options.patterns[h];
            const HistogramResult &histogram = result.histograms[h];
            Written entry = {{"file", absolutePath(input.file)}, {"name", histogram.name}};
            if (!input.instrument_file.empty()) entry["instrument"] = absolutePath(input.instrument_file);
            if (input.bank > 0) entry["bank"] = input.bank;
            entry["weight"] = input.weight;
            entry["range"] = rangeJson(histogram);
            entry["excluded"] = pairsJson(histogram.excluded);
            patterns.push_back(entry);
        }
        root["patterns"] = patterns;
    } else {
        root["measured"] = absolutePath(options.measured);
    }
    root["phases"] = phases;
    root["source"] = source;
    if (!joint) {
        root["range"] = rangeJson(first);
        root["excluded"] = pairsJson(first.excluded);
    }
    root["background"] = options.background;
    root["mode"] = options.le_bail ? "le_bail" : "rietveld";
    root["cycles"] = options.cycles;
    root["stages"] = options.stages != 0;
    root["start_from_data"] = options.start_from_data != 0;
    root["cell_window"] = std::isnan(options.cell_window) ? defaults.cell_window : options.cell_window;
    // Degrees 2θ: on time of flight the zero starts where given.
    const bool all_tof = std::all_of(result.histograms.begin(), result.histograms.end(),
                                     [](const HistogramResult &histogram) { return histogram.tof; });
    if (!all_tof) root["zero_window"] = std::isnan(options.zero_window) ? defaults.zero_window : options.zero_window;
    root["free"] = options.free;
    root["ties"] = options.ties;
    root["parameters"] = parameters;
    if (!joint && options.source.bank > 0) root["bank"] = options.source.bank;  // of the measured and instrument files
    return root.dump(2) + "\n";
}

}  // namespace powderkit::cli
