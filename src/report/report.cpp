// The refinement's report as one self-contained web page: the template of
// page/report.html with the plotting library, the page's styles and script
// and the refinement's data (JSON) put in place of its @…@ marks. Nothing is
// fetched when the page opens.
//  - The curves are written as binary arrays (little-endian; the counts in
//    single precision, seven digits being more than a plot can show, an
//    unevenly spaced x in double), their bytes grouped by place (every
//    value's first byte, then every second byte, …: neighbours' high bytes
//    repeat), deflated (zlib) and in base64; the difference is left to the
//    page. Reading the page's text is most of a large page's opening time,
//    and the benchmark's million-point page holds a quarter of the text the
//    arrays would take in base64 alone (noisier counts deflate less).
//    Every other number (the tables, ticks, excluded regions) is in double
//    precision in JSON.
//  - "</" inside the JSON is written "<\/" so that no text of the data (a
//    phase's name) can close its script element.
//  - Positions are shown as their users read them: 2θ in degrees, and time
//    of flight in µs (the refinement's axis is in ms).
//  - A joint refinement shows each measured pattern on its own axis, with
//    its curves, ticks, unexplained peaks, excluded regions and statistics;
//    one pattern is shown the same way, named by the title.
//  - The excluded regions are the runs of points the fit leaves out (weight
//    0, which only an exclusion gives), from the first such point to the
//    last, so that the page shows what the fit did.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>
#include <zlib.h>

#include "boundary/boundary.hpp"
#include "powderkit_phase.h"
#include "refinement/fit.hpp"
#include "refinement_model/refinement.hpp"

namespace powderkit::report {

extern const char kPageHtml[], kPageCss[], kPageJs[], kPlotJs[], kPlotCss[];

namespace {

using Json = nlohmann::json;

// A compact page draws at most this many points per curve (the minimum and maximum of each of half as many columns).
constexpr std::size_t kCompactPoints = 2000;

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// The indices a compact page keeps: per column of the points, the lowest and highest observed count.
std::vector<std::size_t> keptPoints(const std::vector<double> &y, bool compact) {
    std::vector<std::size_t> kept;
    if (!compact || y.size() <= kCompactPoints) {
        for (std::size_t i = 0; i < y.size(); ++i) kept.push_back(i);
        return kept;
    }
    const std::size_t columns = kCompactPoints / 2;
    for (std::size_t c = 0; c < columns; ++c) {
        const std::size_t a = c * y.size() / columns, b = (c + 1) * y.size() / columns;
        if (b <= a) continue;
        std::size_t low = a, high = a;
        for (std::size_t i = a; i < b; ++i) {
            if (y[i] < y[low]) low = i;
            if (y[i] > y[high]) high = i;
        }
        kept.push_back(std::min(low, high));
        if (low != high) kept.push_back(std::max(low, high));
    }
    return kept;
}

// Whether the kept points' positions are evenly spaced (most scans): then
// the page gets their first, step and count, a quarter less to read.
bool evenlySpaced(const std::vector<double> &x, const std::vector<std::size_t> &kept) {
    if (kept.size() < 2 || kept.back() - kept.front() + 1 != kept.size()) return false;
    const double step = (x[kept.back()] - x[kept.front()]) / static_cast<double>(kept.size() - 1);
    for (std::size_t k = 0; k < kept.size(); ++k) {
        if (std::fabs(x[kept[k]] - (x[kept.front()] + static_cast<double>(k) * step)) > 1e-6 * step) return false;
    }
    return true;
}

// The shown x of a refinement's axis: 2θ as it is, time of flight ms as µs.
double shownPerAxisUnit(const pk_refinement &r) { return r.instrument.axis == PK_AXIS_TOF ? 1000.0 : 1.0; }

// `bytes` as base64 text (RFC 4648, padded, no line breaks).
std::string base64(const std::vector<unsigned char> &bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16 |
                                    (left > 1 ? static_cast<std::uint32_t>(bytes[i + 1]) << 8 : 0u) |
                                    (left > 2 ? static_cast<std::uint32_t>(bytes[i + 2]) : 0u);
        text += digits[group >> 18 & 63];
        text += digits[group >> 12 & 63];
        text += left > 1 ? digits[group >> 6 & 63] : '=';
        text += left > 2 ? digits[group & 63] : '=';
    }
    return text;
}

// `bytes` deflated in the zlib format.
std::vector<unsigned char> deflated(const std::vector<unsigned char> &bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<unsigned char> out(size);
    const int status = compress2(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), 6);
    if (status != Z_OK) throw std::bad_alloc();  // compressBound leaves room enough: only memory can fail
    out.resize(size);
    return out;
}

// The kept values of one curve as a little-endian array of `Real` (float or double), byte k of value i at
// k·count + i, deflated, in base64.
template <typename Real, typename Value>
std::string encodedCurve(const std::vector<std::size_t> &kept, const Value &value) {
    using Bits = std::conditional_t<sizeof(Real) == 4, std::uint32_t, std::uint64_t>;
    const std::size_t count = kept.size();
    std::vector<unsigned char> bytes(count * sizeof(Real));
    for (std::size_t n = 0; n < count; ++n) {
        const Real v = static_cast<Real>(value(kept[n]));
        Bits bits;
        std::memcpy(&bits, &v, sizeof bits);
        for (std::size_t b = 0; b < sizeof bits; ++b) bytes[b * count + n] = static_cast<unsigned char>(bits >> (8 * b));
    }
    return base64(deflated(bytes));
}

// The curves as encoded arrays: the counts in single precision, x (only when not evenly spaced) in double.
Json curvesJson(const pk_refinement &r, const std::vector<std::size_t> &kept) {
    const double shown = shownPerAxisUnit(r);
    Json curves = {{"count", kept.size()}};
    if (!evenlySpaced(r.x, kept)) curves["x"] = encodedCurve<double>(kept, [&](std::size_t i) { return r.x[i] * shown; });
    curves["observed"] = encodedCurve<float>(kept, [&](std::size_t i) { return r.y[i]; });
    curves["calculated"] = encodedCurve<float>(kept, [&](std::size_t i) { return r.calculated[i]; });
    curves["background"] = encodedCurve<float>(kept, [&](std::size_t i) { return r.backgroundCurve[i]; });
    return curves;
}

// The runs of points the fit leaves out: [from, to, points] each.
Json excludedJson(const pk_refinement &r) {
    const double shown = shownPerAxisUnit(r);
    Json regions = Json::array();
    for (std::size_t i = 0; i < r.x.size(); ++i) {
        if (r.weight[i] != 0.0) continue;
        std::size_t last = i;
        while (last + 1 < r.x.size() && r.weight[last + 1] == 0.0) ++last;
        regions.push_back({r.x[i] * shown, r.x[last] * shown, last - i + 1});
        i = last;
    }
    return regions;
}

// One row of reflexion ticks per phase: h k l, d, position and integrated intensity of each reflexion in the range.
Json ticksJson(const pk_refinement &r) {
    const double shown = shownPerAxisUnit(r);
    Json rows = Json::array();
    for (const refinement::PhaseModel &phase : r.phases) {
        Json hkl = Json::array(), d = Json::array(), x = Json::array(), intensity = Json::array();
        for (std::size_t n = 0; n < phase.peaks.primaryCount; ++n) {
            const Reflexion &reflexion = phase.peaks.reflexions[n];
            if (reflexion.peakPosition < r.x.front() || reflexion.peakPosition > r.x.back()) continue;
            hkl.push_back({reflexion.h, reflexion.k, reflexion.l});
            d.push_back(reflexion.dSpacing);
            x.push_back(reflexion.peakPosition * shown);
            double area = phase.peaks.scale * reflexion.intensity;
            if (r.options.mode == PK_REFINE_LE_BAIL) {
                const auto found = phase.extracted.find({reflexion.h, reflexion.k, reflexion.l});
                area = found != phase.extracted.end() ? found->second : 0.0;
            }
            intensity.push_back(area);
        }
        rows.push_back({{"phase", phase.name}, {"hkl", hkl}, {"d", d}, {"x", x}, {"intensity", intensity}});
    }
    return rows;
}

Json statisticsJson(const pk_refinement_summary &s) {
    return {{"Rp", s.Rp},     {"Rwp", s.Rwp},     {"Rexp", s.Rexp},           {"chi2", s.chi2},
            {"GoF", s.GoF},   {"points", s.points}, {"reduced_chi2", s.reduced_chi2}};
}

const char *axisLabel(const pk_refinement &r) { return r.instrument.axis == PK_AXIS_TOF ? "TOF (µs)" : "2θ (°)"; }

// One measured pattern (`r`, or a member of a joint refinement) as the page draws it.
Json patternJson(const pk_refinement &r, const std::string &name, bool compact) {
    const double shown = shownPerAxisUnit(r);
    Json unexplained = Json::array();
    for (const refinement::ResidualPeak &peak : refinement::unexplainedPeaks(r)) unexplained.push_back(peak.x * shown);
    const std::vector<std::size_t> kept = keptPoints(r.y, compact);
    Json axis = nullptr;
    if (evenlySpaced(r.x, kept)) {
        axis = {{"first", r.x[kept.front()] * shown},
                {"step", (r.x[kept.back()] - r.x[kept.front()]) * shown / static_cast<double>(kept.size() - 1)},
                {"count", kept.size()}};
    }
    return {{"name", name},
            {"axis", axisLabel(r)},
            {"even_x", axis},
            {"curves", curvesJson(r, kept)},
            {"ticks", ticksJson(r)},
            {"unexplained", unexplained},
            {"excluded", excludedJson(r)},
            {"statistics", statisticsJson(r.summary)}};
}

std::string dataJson(const pk_refinement &r, const std::string &title, bool compact) {
    Json data;
    data["title"] = title;
    data["compact"] = compact;
    data["axis"] = axisLabel(r);
    const pk_refinement_summary &s = r.summary;
    data["statistics"] = statisticsJson(s);
    data["converged"] = s.converged != 0;
    data["cycles"] = s.cycles;
    data["stop_reason"] = r.stopReason;
    data["verdict"] = {{"doubtful", s.doubtful != 0}, {"reasons", lines(r.verdict)}};
    data["notes"] = lines(r.notes);
    Json patterns = Json::array();
    if (refinement::isJoint(r)) {
        for (std::size_t h = 0; h < r.members.size(); ++h) {
            patterns.push_back(patternJson(r.members[h], r.histograms[h].name, compact));
        }
    } else {
        patterns.push_back(patternJson(r, title, compact));
    }
    data["patterns"] = patterns;
    Json parameters = Json::array();
    for (const refinement::Parameter &p : r.parameters) {
        parameters.push_back({{"name", p.name}, {"value", p.value}, {"esd", p.esd}, {"state", pk_parameter_state_name(p.state)},
                              {"lower", p.lower}, {"upper", p.upper}});
    }
    data["parameters"] = parameters;
    Json names = Json::array();
    for (int index : r.correlationOrder) names.push_back(r.parameters[static_cast<std::size_t>(index)].name);
    data["correlations"] = {{"names", names}, {"matrix", r.correlations}};
    // Each phase as each pattern sees it (of one pattern: the phase's own result).
    Json phases = Json::array();
    for (int32_t h = 0; h < pk_refinement_histogram_count(&r); ++h) {
        pk_refinement_histogram_result histogram{};
        pk_refinement_get_histogram(&r, h, &histogram, nullptr);
        for (int32_t p = 0; p < static_cast<int32_t>(r.phases.size()); ++p) {
            pk_refinement_phase result{};
            pk_refinement_histogram_phase_result(&r, h, p, &result, nullptr);
            phases.push_back({{"name", r.phases[static_cast<std::size_t>(p)].name},
                              {"pattern", histogram.name},
                              {"cell", result.cell},
                              {"cell_esd", result.cell_esd},
                              {"r_bragg", result.r_bragg},
                              {"weight_fraction", result.weight_fraction},
                              {"size_nm", result.size_nm},
                              {"size_esd", result.size_esd},
                              {"strain_percent", result.strain_percent},
                              {"strain_esd", result.strain_esd}});
        }
    }
    data["phases"] = phases;
    std::string text = data.dump();
    for (std::size_t at = text.find("</"); at != std::string::npos; at = text.find("</", at + 3)) text.insert(at + 1, "\\");
    return text;
}

// `html` with its one `mark` replaced by `text`.
void fill(std::string &html, const std::string &mark, const std::string &text) {
    const std::size_t at = html.find(mark);
    if (at != std::string::npos) html.replace(at, mark.size(), text);
}

std::string escaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string reportPage(const pk_refinement &r, const std::string &title, bool compact) {
    std::string html = kPageHtml;
    // The data last: nothing after it is searched for marks.
    fill(html, "@TITLE@", escaped(title));
    fill(html, "@PLOT_CSS@", kPlotCss);
    fill(html, "@PAGE_CSS@", kPageCss);
    fill(html, "@PAGE_JS@", kPageJs);
    fill(html, "@PLOT_JS@", kPlotJs);
    fill(html, "@DATA@", dataJson(r, title, compact));
    return html;
}

}  // namespace powderkit::report

using powderkit::phase::guarded;
using powderkit::phase::requireArgument;

extern "C" int32_t pk_refinement_report(const pk_refinement *refinement, const char *title, int32_t compact,
                                        char *text, int32_t capacity, int32_t *size, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(refinement, "refinement");
        requireArgument(size, "size");
        const std::string name = title != nullptr && *title != '\0' ? title : "powderkit refinement";
        const std::string page = powderkit::report::reportPage(*refinement, name, compact != 0);
        if (page.size() + 1 > static_cast<std::size_t>(INT32_MAX)) {
            powderkit::phase::fail(PK_ERROR_ARGUMENT, "the report is larger than 2 GB");
        }
        *size = static_cast<int32_t>(page.size() + 1);
        if (capacity == 0 && text == nullptr) return;
        powderkit::phase::copyText(page, text, capacity, size);
    });
}
