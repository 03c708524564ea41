// The measured patterns of `powderkit refine`. A --pattern value is a file
// followed by KEY=VALUE words, split at commas: a value format of one option,
// read here in a few lines, so a file named in it cannot hold a comma.
// A pattern of a joint refinement is read as one measured pattern is
// (readMeasuredPattern, makeInstrument, onInstrumentAxis), with its own
// instrument file and bank, the command's source options standing in for
// what its files do not say.
#include "refine_patterns.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "table_output.hpp"

namespace powderkit::cli {

namespace {

bool safeCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The whole of `text` as a finite number, else NaN.
double number(const std::string &text) {
    if (text.empty() || text.find_first_of(" \t") != std::string::npos) return NAN;
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    return *end == '\0' && errno == 0 && std::isfinite(value) ? value : NAN;
}

PatternInput parsePattern(const std::string &value) {
    const std::string given = "--pattern \"" + value + "\": ";
    std::vector<std::string> words;
    for (std::size_t start = 0;;) {
        const std::size_t comma = value.find(',', start);
        words.push_back(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    PatternInput input;
    input.file = words[0];
    if (input.file.empty() || input.file.find('=') != std::string::npos) {
        throw InputError(given + "give the pattern's file first, then KEY=VALUE words");
    }
    std::vector<std::string> seen;
    for (std::size_t k = 1; k < words.size(); ++k) {
        const std::size_t equals = words[k].find('=');
        const std::string key = words[k].substr(0, equals);
        const std::string text = equals == std::string::npos ? "" : words[k].substr(equals + 1);
        if (key != "instrument" && key != "bank" && key != "name" && key != "weight") {
            throw InputError(given + "unknown key \"" + key + "\" (the keys are instrument, bank, name and weight)");
        }
        if (text.empty()) throw InputError(given + key + ": give a value, as " + key + "=VALUE");
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) throw InputError(given + key + " given twice");
        seen.push_back(key);
        if (key == "instrument") {
            input.instrument_file = text;
        } else if (key == "bank") {
            const double bank = number(text);
            if (!(bank >= 1.0 && bank <= 1e6 && bank == std::floor(bank))) {
                throw InputError(given + "bank=" + text + ": must be a bank number, 1 or more");
            }
            input.bank = static_cast<int>(bank);
        } else if (key == "name") {
            if (!std::all_of(text.begin(), text.end(), safeCharacter)) {
                throw InputError(given + "name=" + text + ": a name holds letters, digits and '_' only");
            }
            input.name = text;
        } else {
            input.weight = number(text);
            if (!(input.weight > 0.0)) throw InputError(given + "weight=" + text + ": must be a positive number");
        }
    }
    return input;
}

std::string spanText(const std::string &option, const XSpan &span) {
    return option + ' ' + (span.pattern.empty() ? "" : span.pattern + ':') + formatNumber(span.from) + ' ' +
           formatNumber(span.to);
}

// FROM TO pairs, FROM perhaps NAME:FROM.
std::vector<XSpan> parseSpans(const std::string &option, const std::vector<std::string> &args) {
    std::vector<XSpan> spans;
    for (std::size_t k = 0; k + 1 < args.size(); k += 2) {
        XSpan span;
        std::string from = args[k];
        const std::size_t colon = from.find(':');
        if (colon != std::string::npos) {
            span.pattern = from.substr(0, colon);
            from = from.substr(colon + 1);
        }
        span.from = number(from);
        span.to = number(args[k + 1]);
        const std::string given = option + " " + args[k] + ' ' + args[k + 1] + ": ";
        if (colon != std::string::npos && span.pattern.empty()) throw InputError(given + "give NAME:FROM TO");
        if (std::isnan(span.from) || std::isnan(span.to)) {
            throw InputError(given + "give two numbers" +
                             (colon == std::string::npos ? "" : " after the pattern's name"));
        }
        checkSpan(option, span);
        spans.push_back(span);
    }
    return spans;
}

// The file's name without its extension, made safe: each run of other characters one '_', none at either end.
std::string nameOfFile(const std::string &file) {
    std::string name;
    for (char c : std::filesystem::path(file).stem().string()) {
        if (safeCharacter(c)) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name;
}

// Gives each pattern its name, refusing a given one that is taken.
void nameThe(std::vector<PatternRun> &runs, const std::vector<std::string> &phase_names) {
    std::vector<std::string> taken = phase_names;
    const auto isTaken = [&](const std::string &name) {
        return std::find(taken.begin(), taken.end(), name) != taken.end();
    };
    for (const PatternRun &run : runs) {
        const std::string &name = run.input.name;
        if (!name.empty() && isTaken(name)) {
            const bool phase = std::find(phase_names.begin(), phase_names.end(), name) != phase_names.end();
            throw InputError("--pattern " + run.input.file + ",name=" + name + ": " +
                             (phase ? "a phase has that name" : "another pattern has that name"));
        }
        taken.push_back(name);
    }
    for (std::size_t p = 0; p < runs.size(); ++p) {
        std::string &name = runs[p].input.name;
        if (!name.empty()) continue;
        name = nameOfFile(runs[p].input.file);
        if (name.empty() || isTaken(name)) name = "pattern" + std::to_string(p + 1);
        while (isTaken(name)) name += '_';
        taken.push_back(name);
    }
}

// The pattern a span names: the only one when it names none.
PatternRun &patternOf(std::vector<PatternRun> &runs, bool joint, const std::string &option, const XSpan &span) {
    std::string names;
    for (const PatternRun &run : runs) names += (names.empty() ? "" : ", ") + run.input.name;
    if (!joint && !span.pattern.empty()) {
        throw InputError(spanText(option, span) + ": names a pattern, but without --pattern the one measured "
                                                  "pattern takes FROM TO alone");
    }
    if (span.pattern.empty()) {
        if (runs.size() == 1) return runs.front();
        throw InputError(spanText(option, span) + ": this refinement has " + std::to_string(runs.size()) +
                         " patterns (" + names + "): name one, as in " + option + ' ' + runs.front().input.name +
                         ':' + formatNumber(span.from) + ' ' + formatNumber(span.to));
    }
    for (PatternRun &run : runs) {
        if (run.input.name == span.pattern) return run;
    }
    throw InputError(spanText(option, span) + ": no pattern is named " + span.pattern + " (" + names + ")");
}

// Whether a pattern's own files say what its source is: an instrument file, a
// time-of-flight bank, or the X-ray lines the file names.
bool filesNameSource(const SourceOptions &source, const pk_measured_pattern &read) {
    double alpha1 = 0.0;
    pk_error error{};
    check(pk_measured_pattern_wavelengths(&read, &alpha1, nullptr, nullptr, &error), error);
    return !source.instrument_file.empty() || pk_measured_pattern_axis(&read) == PK_AXIS_TOF || alpha1 > 0.0;
}

PatternRun readOne(const RefineOptions &options, const PatternInput &input, bool joint) {
    PatternRun run;
    run.input = input;
    run.source = options.source;
    if (joint) {
        run.source.instrument_file = input.instrument_file;
        run.source.bank = input.bank;
    }
    MeasuredPatternHandle read = readMeasuredPattern(input.file, run.source.bank, "");
    if (joint && filesNameSource(run.source, *read)) {
        run.source.anode.clear();
        run.source.has_wavelength = false;
        run.source.neutron = false;
    }
    takeFileWavelengths(run.source, *read);
    run.instrument = makeInstrument(run.source, !options.no_alpha2);
    if (joint && run.instrument.axis == PK_AXIS_TOF) {
        // The 2θ sample corrections given beside serve the 2θ patterns.
        run.source.has_monochromator = run.source.has_absorption = run.source.has_transparency = false;
        run.source.roughness.clear();
        run.instrument = makeInstrument(run.source, !options.no_alpha2);
    }
    run.measured = onInstrumentAxis(std::move(read), input.file, run.instrument, run.source.instrument_file,
                                    joint ? "instrument=FILE in its --pattern" : "--instrument FILE");
    run.axis = userAxis(run.instrument);
    if (run.source.neutron && !run.source.has_wavelength && !run.axis.tof) {
        run.source.has_wavelength = true;  // the setup names the wavelength used
        run.source.wavelength = run.instrument.wavelength;
    }
    return run;
}

}  // namespace

UserAxis userAxis(const pk_instrument &instrument) {
    if (instrument.axis != PK_AXIS_TOF) return {};
    return {true, 1000.0, "TOF (µs)"};
}

void checkSpan(const std::string &option, const XSpan &span) {
    if (!std::isfinite(span.from) || !std::isfinite(span.to) || span.to <= span.from) {
        throw InputError(spanText(option, span) + ": give two finite numbers, the end above the start");
    }
}

void readPatternArguments(RefineOptions &options) {
    for (const std::string &value : options.pattern_args) options.patterns.push_back(parsePattern(value));
    if (!options.range_args.empty()) options.ranges = parseSpans("--range", options.range_args);
    if (!options.exclude_args.empty()) options.excluded = parseSpans("--exclude", options.exclude_args);
    options.pattern_args.clear();
    options.range_args.clear();
    options.exclude_args.clear();
}

std::vector<PatternRun> readPatterns(const RefineOptions &options, const std::vector<std::string> &phase_names) {
    const bool joint = !options.patterns.empty();
    std::vector<PatternRun> runs;
    if (joint) {
        for (const PatternInput &input : options.patterns) runs.push_back(readOne(options, input, true));
        nameThe(runs, phase_names);
    } else {
        PatternInput input;
        input.file = options.measured;
        input.instrument_file = options.source.instrument_file;
        input.bank = options.source.bank;
        runs.push_back(readOne(options, input, false));
    }
    for (const XSpan &span : options.ranges) {
        PatternRun &run = patternOf(runs, joint, "--range", span);
        if (!run.range.empty()) {
            throw InputError(spanText("--range", span) + ": a second range for " +
                             (joint ? run.input.name : run.input.file));
        }
        run.range = {span.from, span.to};
    }
    for (const XSpan &span : options.excluded) {
        PatternRun &run = patternOf(runs, joint, "--exclude", span);
        run.excluded.push_back(span.from);
        run.excluded.push_back(span.to);
    }
    return runs;
}

}  // namespace powderkit::cli
