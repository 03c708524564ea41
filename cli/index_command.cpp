// `powderkit index`: the cell of an unknown phase from its peak list. The
// lines are the measured pattern's peaks (found as `powderkit peaks` finds
// them) or a file of 2θ positions; the search runs over the systems asked
// for, its progress one line on standard error at every tenth of the work
// and at every new stage; standard output gets the ranked candidates, and
// the notes of the search go to standard error. With a measured pattern the
// best candidates are confirmed by Le Bail fits of it. With --output DIR,
// DIR/index.json holds every candidate in full.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "commands.hpp"
#include "output_files.hpp"
#include "progress_lines.hpp"
#include "phase_input.hpp"
#include "table_output.hpp"

namespace powderkit::cli {

namespace {

using Written = nlohmann::ordered_json;  // keys in the order written

struct IndexingFree {
    void operator()(pk_indexing *indexing) const { pk_indexing_free(indexing); }
};
using IndexingHandle = std::unique_ptr<pk_indexing, IndexingFree>;

// The crystal systems by name, in the order searched.
constexpr std::array<std::pair<const char *, int32_t>, 6> kSystems{{{"cubic", PK_SYSTEM_CUBIC},
                                                                     {"tetragonal", PK_SYSTEM_TETRAGONAL},
                                                                     {"hexagonal", PK_SYSTEM_HEXAGONAL},
                                                                     {"orthorhombic", PK_SYSTEM_ORTHORHOMBIC},
                                                                     {"monoclinic", PK_SYSTEM_MONOCLINIC},
                                                                     {"triclinic", PK_SYSTEM_TRICLINIC}}};

const char *systemName(int32_t bit) {
    for (const auto &[name, value] : kSystems) {
        if (value == bit) return name;
    }
    return "?";
}

// "cubic,tetragonal" as PK_SYSTEM_* bits; empty: 0, the library's choice.
int32_t systemBits(const std::string &list) {
    int32_t bits = 0;
    std::stringstream names(list);
    std::string name;
    while (std::getline(names, name, ',')) {
        const auto known = std::find_if(kSystems.begin(), kSystems.end(),
                                        [&](const auto &system) { return name == system.first; });
        if (known == kSystems.end()) {
            throw InputError("--systems: \"" + name + "\" is not a crystal system; name cubic, tetragonal, " +
                             "hexagonal, orthorhombic, monoclinic or triclinic, comma-separated");
        }
        bits |= known->second;
    }
    if (!list.empty() && bits == 0) throw InputError("--systems: names no crystal system");
    return bits;
}

// The checks of the options, each naming its option (the library names only its fields).
pk_index_options searchOptions(const IndexOptions &options) {
    pk_index_options search{};
    pk_index_options_default(&search);
    search.systems = systemBits(options.systems);
    if (options.volume.size() == 2) {
        const double low = options.volume[0], high = options.volume[1];
        if (!(low >= 0.0) || !std::isfinite(high) || !(high > low)) {
            throw InputError("--volume: " + formatNumber(low) + ' ' + formatNumber(high) +
                             ": give MIN MAX in Å³, 0 ≤ MIN < MAX");
        }
        search.volume_min = low;
        search.volume_max = high;
    }
    if (options.lines < 6 || options.lines > 60) {
        throw InputError("--lines: " + std::to_string(options.lines) + ": must be 6 to 60");
    }
    if (options.unindexed < 0 || options.unindexed > options.lines / 2) {
        throw InputError("--unindexed: " + std::to_string(options.unindexed) + ": must be 0 to half of --lines (" +
                         std::to_string(options.lines / 2) + ")");
    }
    if (!(options.max_error > 0.0 && options.max_error <= 1.0)) {
        throw InputError("--max-error: " + formatNumber(options.max_error) + ": must lie above 0 and at most 1 degree");
    }
    if (!(options.zero >= 0.0 && options.zero <= 2.0)) {
        throw InputError("--zero: " + formatNumber(options.zero) + ": must lie from 0 to 2 degrees");
    }
    if (!(options.d_max > 0.0) || !std::isfinite(options.d_max)) {
        throw InputError("--d-max: " + formatNumber(options.d_max) + ": must be a positive number of Å");
    }
    if (options.candidates < 1 || options.candidates > 1000) {
        throw InputError("--candidates: " + std::to_string(options.candidates) + ": must be 1 to 1000");
    }
    if (options.le_bail < 0) throw InputError("--le-bail-fits: " + std::to_string(options.le_bail) + ": must be 0 or more");
    search.max_unindexed = options.unindexed;
    search.max_error = options.max_error;
    search.zero_window = options.zero;
    search.d_max = options.d_max;
    search.line_count = options.lines;
    search.candidate_count = options.candidates;
    search.le_bail_count = options.le_bail;
    return search;
}

// A peak list: 2θ positions and their esd's (degrees; 0 where not known).
struct PeakList {
    std::vector<double> positions, esd;
};

// The 2θ positions of a peak list file: the first number of each line ('#'
// starts a comment; blanks, tabs or commas part the columns; one header line,
// such as that of `powderkit peaks`, may come first). A header naming a
// column two_theta_esd gives the esd's (a field there that is no number ≥ 0:
// not known).
PeakList readPeakList(const std::string &path) {
    errno = 0;
    std::ifstream stream(path);
    if (!stream) {
        throw InputError(path + ": cannot open the peak list: " + (errno != 0 ? std::strerror(errno) : "unreadable"));
    }
    PeakList list;
    std::string line;
    bool first = true;
    long esdColumn = -1;
    for (int number = 1; std::getline(stream, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream fields(line);
        std::vector<std::string> columns;
        for (std::string field; fields >> field;) columns.push_back(field);
        if (columns.empty()) continue;
        const std::string &field = columns.front();
        char *end = nullptr;
        errno = 0;
        const double value = std::strtod(field.c_str(), &end);
        const bool isNumber = end != field.c_str() && *end == '\0' && errno == 0;
        if (!isNumber && first) {
            first = false;
            const auto named = std::find(columns.begin(), columns.end(), "two_theta_esd");
            if (named != columns.end()) esdColumn = named - columns.begin();
            continue;  // a header
        }
        first = false;
        if (!isNumber || !(value > 0.0 && value < 180.0)) {
            throw InputError(path + " line " + std::to_string(number) + ": \"" + field +
                             "\" is not a 2θ in degrees (above 0, below 180)");
        }
        list.positions.push_back(value);
        double esd = 0.0;
        if (esdColumn > 0 && static_cast<std::size_t>(esdColumn) < columns.size()) {
            const double read = std::strtod(columns[static_cast<std::size_t>(esdColumn)].c_str(), &end);
            if (std::isfinite(read) && read >= 0.0) esd = read;
        }
        list.esd.push_back(esd);
    }
    if (stream.bad()) throw InputError(path + ": cannot read the peak list");
    if (list.positions.empty()) throw InputError(path + ": holds no peak position");
    return list;
}

// The Kα1 positions of the significant peaks of the pattern, as `powderkit peaks` lists them.
PeakList peaksOf(const pk_measured_pattern &pattern, const pk_instrument &instrument) {
    pk_peak_search search{};
    pk_peak_search_default(&search);
    search.wavelength = instrument.wavelength;
    search.wavelength2 = instrument.wavelength2;
    search.ratio2 = instrument.ratio2;
    pk_error error{};
    int32_t count = 0, failures = 0;
    check(pk_find_peaks(&pattern, &search, nullptr, 0, &count, nullptr, 0, &failures, &error), error);
    std::vector<pk_peak> peaks(static_cast<std::size_t>(count));
    check(pk_find_peaks(&pattern, &search, peaks.data(), count, &count, nullptr, 0, &failures, &error), error);
    PeakList list;
    for (int32_t k = 0; k < count && static_cast<std::size_t>(k) < peaks.size(); ++k) {
        const pk_peak &peak = peaks[static_cast<std::size_t>(k)];
        list.positions.push_back(peak.position);
        list.esd.push_back(std::isfinite(peak.position_esd) ? peak.position_esd : 0.0);
    }
    if (failures > 0) {
        std::fprintf(stderr, "powderkit: %d candidate peaks could not be fitted and are left out (powderkit peaks names "
                             "them)\n", failures);
    }
    return list;
}

struct Symbol {
    std::string symbol;
    std::vector<std::string> groups;
    bool cut = false;  // the library's list ended with "…"
    int32_t absent = 0, ambiguous = 0;
};

struct CandidateResult {
    pk_index_candidate c{};
    std::vector<double> unindexed;                       // 2θ of the searched lines left out
    std::vector<std::array<int32_t, 3>> hkl;             // per line; 0 0 0 unindexed
    std::vector<Symbol> symbols;                         // most absences first
};

CandidateResult collect(const pk_indexing &indexing, int32_t rank) {
    CandidateResult result;
    pk_error error{};
    check(pk_indexing_candidate(&indexing, rank, &result.c, &error), error);
    const int32_t lines = pk_indexing_line_count(&indexing);
    result.unindexed.resize(static_cast<std::size_t>(lines));
    int32_t written = 0;
    check(pk_indexing_unindexed(&indexing, rank, result.unindexed.data(), lines, &written, &error), error);
    result.unindexed.resize(static_cast<std::size_t>(std::min(written, lines)));
    std::vector<int32_t> hkl(3 * static_cast<std::size_t>(lines));
    check(pk_indexing_line_indices(&indexing, rank, hkl.data(), lines, &written, &error), error);
    for (int32_t i = 0; i < std::min(written, lines); ++i) {
        const std::size_t at = 3 * static_cast<std::size_t>(i);
        result.hkl.push_back({hkl[at], hkl[at + 1], hkl[at + 2]});
    }
    for (int32_t k = 0; k < pk_indexing_extinction_count(&indexing, rank); ++k) {
        pk_extinction_class found{};
        check(pk_indexing_extinction(&indexing, rank, k, &found, &error), error);
        Symbol symbol{found.symbol, {}, false, found.absent_lines, found.ambiguous_lines};
        const std::string groups = found.groups;
        for (std::size_t start = 0; start < groups.size();) {
            std::size_t end = groups.find(", ", start);
            if (end == std::string::npos) end = groups.size();
            const std::string group = groups.substr(start, end - start);
            if (group == "…") {
                symbol.cut = true;
            } else if (!group.empty()) {
                symbol.groups.push_back(group);
            }
            start = end + 2;
        }
        result.symbols.push_back(std::move(symbol));
    }
    return result;
}

// The symbols leaving the most lines absent, which the lines cannot tell apart.
std::string leadingSymbols(const CandidateResult &candidate) {
    std::string text;
    for (const Symbol &symbol : candidate.symbols) {
        if (symbol.absent != candidate.symbols.front().absent) break;
        text += (text.empty() ? "" : "; ") + symbol.symbol;
    }
    return text.empty() ? "-" : text;
}

std::string tableText(const std::vector<CandidateResult> &candidates) {
    Table table({"rank", "system", "centring", "a", "b", "c", "alpha", "beta", "gamma", "volume", "M20",
                 "F_N (<|d2theta|>, possible)", "unindexed", "extinction", "le_bail_Rwp", "supercell_of",
                 "subcell_of"});
    for (std::size_t rank = 0; rank < candidates.size(); ++rank) {
        const pk_index_candidate &c = candidates[rank].c;
        table.row().addInteger(static_cast<int64_t>(rank + 1)).add(systemName(c.system)).add(std::string(1, c.centring));
        for (int k = 0; k < 6; ++k) {
            // An angle the system fixes may carry an esd of rounding only.
            const bool exact = c.cell_esd[k] < 1e-9 * std::fabs(c.cell[k]);
            table.add(withEsd(c.cell[k], exact ? 0.0 : c.cell_esd[k]));
        }
        // The table for reading: volume to 0.01 Å³, M20 to 0.1, Rwp to 0.01 %
        // (index.json keeps every digit).
        const auto fixed = [](const char *format, double value) {
            char text[48];
            std::snprintf(text, sizeof text, format, value);
            return std::string(text);
        };
        char figure[96];
        std::snprintf(figure, sizeof figure, "F%d = %.1f (%.4f, %d)", c.N, c.F_N, c.mean_error, c.possible_lines);
        table.add(fixed("%.2f", c.volume)).add(fixed("%.1f", c.M20)).add(figure).addInteger(c.unindexed);
        table.add(leadingSymbols(candidates[rank]));
        table.add(std::isfinite(c.le_bail_rwp) ? fixed("%.2f", c.le_bail_rwp) : "-");
        table.add(c.supercell_of >= 0 ? formatInteger(c.supercell_of + 1) : "-");
        table.add(c.subcell_of >= 0 ? formatInteger(c.subcell_of + 1) : "-");
    }
    return table.text();
}

Written number(double value) {
    if (!std::isfinite(value)) return nullptr;
    return value;
}

Written six(const double (&values)[6]) {
    Written array = Written::array();
    for (double value : values) array.push_back(number(value));
    return array;
}

// The lines of a text, without their line ends.
std::vector<std::string> noteLines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

struct Run {
    const IndexOptions &options;
    const pk_index_options &search;
    double wavelength;
    std::string source;
    std::vector<double> lines;  // used, ascending; empty when they could not be told
    std::vector<CandidateResult> candidates;
    std::vector<std::string> notes;
    bool stopped = false;
};

std::string indexJson(const Run &run) {
    Written candidates = Written::array();
    for (std::size_t rank = 0; rank < run.candidates.size(); ++rank) {
        const CandidateResult &result = run.candidates[rank];
        const pk_index_candidate &c = result.c;
        Written symbols = Written::array();
        for (const Symbol &symbol : result.symbols) {
            symbols.push_back({{"symbol", symbol.symbol},
                               {"groups", symbol.groups},
                               {"groups_cut", symbol.cut},
                               {"absent_lines", symbol.absent},
                               {"ambiguous_lines", symbol.ambiguous}});
        }
        Written hkl = Written::array();
        for (const auto &indices : result.hkl) {
            const bool indexed = indices[0] != 0 || indices[1] != 0 || indices[2] != 0;
            hkl.push_back(indexed ? Written(indices) : Written(nullptr));
        }
        candidates.push_back({{"rank", rank + 1},
                              {"system", systemName(c.system)},
                              {"centring", std::string(1, c.centring)},
                              {"cell", six(c.cell)},
                              {"cell_esd", six(c.cell_esd)},
                              {"reduced_cell", six(c.reduced_cell)},
                              {"volume", number(c.volume)},
                              {"zero", number(c.zero)},
                              {"M20", number(c.M20)},
                              {"F_N", number(c.F_N)},
                              {"N", c.N},
                              {"mean_error", number(c.mean_error)},
                              {"possible_lines", c.possible_lines},
                              {"indexed", c.indexed},
                              {"unindexed", result.unindexed},
                              {"supercell_of", c.supercell_of >= 0 ? Written(c.supercell_of + 1) : Written(nullptr)},
                              {"subcell_of", c.subcell_of >= 0 ? Written(c.subcell_of + 1) : Written(nullptr)},
                              {"extinction_symbols", symbols},
                              {"le_bail_rwp", number(c.le_bail_rwp)},
                              {"hkl", hkl}});
    }
    const IndexOptions &options = run.options;
    const pk_index_options &search = run.search;
    Written systems = nullptr;
    if (search.systems != 0) {
        systems = Written::array();
        for (const auto &[name, bit] : kSystems) {
            if (search.systems & bit) systems.push_back(name);
        }
    }
    Written volume = nullptr;
    if (options.volume.size() == 2) volume = {search.volume_min, search.volume_max};
    const Written used = {{"measured", options.measured.empty() ? Written(nullptr) : Written(options.measured)},
                          {"peaks", options.peaks.empty() ? Written(nullptr) : Written(options.peaks)},
                          {"source", run.source},
                          {"wavelength", run.wavelength},
                          {"systems", systems},
                          {"volume", volume},
                          {"max_unindexed", search.max_unindexed},
                          {"max_error", search.max_error},
                          {"zero_window", search.zero_window},
                          {"d_max", search.d_max},
                          {"line_count", search.line_count},
                          {"candidate_count", search.candidate_count},
                          {"le_bail_count", search.le_bail_count}};
    const Written root = {{"candidates", candidates},
                          {"lines", run.lines.empty() ? Written(nullptr) : Written(run.lines)},
                          {"notes", run.notes},
                          {"stopped", run.stopped},
                          {"options", used}};
    return root.dump(2) + "\n";
}

}  // namespace

IndexOptions defaultIndexOptions() {
    pk_index_options search{};
    pk_index_options_default(&search);
    IndexOptions options;
    options.unindexed = search.max_unindexed;
    options.max_error = search.max_error;
    options.zero = search.zero_window;
    options.d_max = search.d_max;
    options.lines = search.line_count;
    options.candidates = search.candidate_count;
    options.le_bail = search.le_bail_count;
    return options;
}

std::string runIndex(const IndexOptions &options) {
    if (options.measured.empty() && options.peaks.empty()) {
        throw InputError("index: give a measured pattern, a peak list (--peaks FILE), or both");
    }
    const pk_index_options search = searchOptions(options);
    if (!options.output_dir.empty()) checkOutputFolder(options.output_dir);
    SourceOptions source = options.source;
    MeasuredPatternHandle measured;
    if (!options.measured.empty()) {
        measured = readMeasuredPattern(options.measured, source.bank, "index");
        takeFileWavelengths(source, *measured);
    }
    const pk_instrument instrument = makeInstrument(source, !options.no_alpha2);
    const PeakList list = options.peaks.empty() ? peaksOf(*measured, instrument) : readPeakList(options.peaks);
    const std::vector<double> &positions = list.positions;

    Run run{options, search, instrument.wavelength, describeSource(source, instrument), {}, {}, {}, false};
    std::fprintf(stderr, "%zu lines from %s; %s, Kα1 at %s Å\n", positions.size(),
                 (options.peaks.empty() ? options.measured : options.peaks).c_str(), run.source.c_str(),
                 formatNumber(instrument.wavelength).c_str());
    pk_error error{};
    pk_indexing *made = nullptr;
    ProgressLines progress;
    const int32_t status = pk_index(positions.data(), list.esd.data(), static_cast<int32_t>(positions.size()),
                                    instrument.wavelength, measured.get(), measured ? &instrument : nullptr, &search,
                                    printProgress, &progress, &made, &error);
    const IndexingHandle indexing(made);
    check(status, error);

    run.lines.resize(static_cast<std::size_t>(pk_indexing_line_count(indexing.get())));
    int32_t written = 0;
    check(pk_indexing_lines(indexing.get(), run.lines.data(), static_cast<int32_t>(run.lines.size()), &written, &error),
          error);
    for (int32_t rank = 0; rank < pk_indexing_candidate_count(indexing.get()); ++rank) {
        run.candidates.push_back(collect(*indexing, rank));
    }
    run.notes = noteLines(pk_indexing_notes(indexing.get()));
    run.stopped = pk_indexing_stopped(indexing.get()) != 0;
    for (const std::string &note : run.notes) std::fprintf(stderr, "note: %s\n", note.c_str());
    if (run.candidates.empty()) {
        std::fprintf(stderr, "powderkit: no cell indexes the lines within the limits; widen --max-error, "
                             "--unindexed, --volume or --systems\n");
    }
    const std::string text = tableText(run.candidates);
    if (!options.output_dir.empty()) writeOutputSet(options.output_dir, {{"index.json", indexJson(run)}});
    return text;
}

}  // namespace powderkit::cli
