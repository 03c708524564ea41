// XRDML scans (the XML of PANalytical diffractometers), parsed with pugixml.
// The document is <xrdMeasurements> holding <xrdMeasurement> elements; the
// first of these is read: its <usedWavelength> (kAlpha1, kAlpha2 in Å,
// ratioKAlpha2KAlpha1) and, in its first <scan>, the <dataPoints>:
//   <positions axis="2Theta" unit="deg"> with <startPosition> and
//     <endPosition> (the points spread evenly between them, both ends
//     included) or <listPositions> (one position per point);
//   <intensities> (or <counts>, the older name) in counts, or in counts per
//     second (unit="cps") with <commonCountingTime> (or <countingTimes>, one
//     per point) in seconds.
// σ is the counting error of the counts: √N for N counts (1 for none), and
// for a rate r counted for t seconds, N = r·t and σ(r) = √N / t. Elements are
// matched by their local name, so a namespace prefix does not matter. Beam
// attenuation factors, when a file lists them, are not applied.
#include <pugixml.hpp>

#include <cmath>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "boundary/boundary.hpp"
#include "io/measured_pattern.hpp"

namespace powderkit::phase {

bool looksLikeXml(std::string_view text) {
    std::size_t first = 0;
    while (first < text.size() &&
           (text[first] == ' ' || text[first] == '\t' || text[first] == '\r' || text[first] == '\n')) {
        ++first;
    }
    return first < text.size() && text[first] == '<';
}

namespace {

std::string_view localName(const char *name) {
    const std::string_view whole(name);
    const std::size_t colon = whole.rfind(':');
    return colon == std::string_view::npos ? whole : whole.substr(colon + 1);
}

// The first child element of `parent` of the local name `name`, or an empty node.
pugi::xml_node child(const pugi::xml_node &parent, std::string_view name) {
    for (const pugi::xml_node &node : parent.children()) {
        if (node.type() == pugi::node_element && localName(node.name()) == name) return node;
    }
    return pugi::xml_node();
}

class XrdmlReader {
public:
    XrdmlReader(std::string_view text, const std::string &name) : text_(text), name_(name) {}

    std::unique_ptr<pk_measured_pattern> read() {
        pugi::xml_document document;
        const pugi::xml_parse_result parsed =
            document.load_buffer(text_.data(), text_.size(), pugi::parse_default, pugi::encoding_auto);
        if (parsed.status == pugi::status_out_of_memory) throw std::bad_alloc();
        if (!parsed) {
            const std::size_t offset = parsed.offset > 0 ? static_cast<std::size_t>(parsed.offset) : 0;
            failFormat(name_, lineOfOffset(text_, offset), std::string("not well-formed XML: ") + parsed.description());
        }
        const pugi::xml_node root = document.document_element();
        if (localName(root.name()) != "xrdMeasurements") {
            failAt(root, "not an XRDML file: the root element is not <xrdMeasurements>");
        }
        const pugi::xml_node measurement = required(root, "xrdMeasurement");
        auto pattern = std::make_unique<pk_measured_pattern>();
        if (const pugi::xml_node lines = child(measurement, "usedWavelength")) readWavelengths(lines, *pattern);
        const pugi::xml_node scan = required(measurement, "scan");
        readDataPoints(required(scan, "dataPoints"), *pattern);
        return pattern;
    }

private:
    long lineOf(const pugi::xml_node &node) const {
        const std::ptrdiff_t offset = node.offset_debug();
        return offset >= 0 ? lineOfOffset(text_, static_cast<std::size_t>(offset)) : 0;
    }

    // "NAME:LINE: <element>: WHAT".
    [[noreturn]] void failAt(const pugi::xml_node &node, const std::string &what) const {
        failFormat(name_, lineOf(node), "<" + std::string(localName(node.name())) + ">: " + what);
    }

    pugi::xml_node required(const pugi::xml_node &parent, std::string_view name) const {
        const pugi::xml_node found = child(parent, name);
        if (!found) failAt(parent, "no <" + std::string(name) + "> element");
        return found;
    }

    std::string attribute(const pugi::xml_node &node, const char *name) const {
        return node.attribute(name).as_string();
    }

    // The whitespace-separated numbers of an element's text.
    std::vector<double> numbers(const pugi::xml_node &node) const {
        std::vector<double> values;
        for (const std::string_view field : blankSeparatedFields(node.text().get())) {
            double value = 0.0;
            const char *problem = parseNumber(field, value);
            if (*problem != '\0') {
                failAt(node, "value " + std::to_string(values.size() + 1) + " " + quoted(field) + " " + problem);
            }
            if (!std::isfinite(value)) {
                failAt(node, "value " + std::to_string(values.size() + 1) + " " + quoted(field) + " is not finite");
            }
            values.push_back(value);
        }
        return values;
    }

    double number(const pugi::xml_node &node) const {
        const std::vector<double> values = numbers(node);
        if (values.size() != 1) failAt(node, "holds " + std::to_string(values.size()) + " values where 1 is needed");
        return values[0];
    }

    // A wavelength in Å from an element in Angstrom (the default) or nm.
    double wavelength(const pugi::xml_node &node) const {
        const std::string unit = attribute(node, "unit");
        double value = number(node);
        if (unit == "nm") {
            value *= 10.0;
        } else if (!unit.empty() && unit != "Angstrom") {
            failAt(node, "unit '" + unit + "': expected Angstrom or nm");
        }
        if (!(value > 0.0)) failAt(node, "wavelength " + shortest(value) + " is not positive");
        return value;
    }

    void readWavelengths(const pugi::xml_node &lines, pk_measured_pattern &pattern) const {
        if (const pugi::xml_node node = child(lines, "kAlpha1")) pattern.alpha1 = wavelength(node);
        if (const pugi::xml_node node = child(lines, "kAlpha2")) pattern.alpha2 = wavelength(node);
        if (const pugi::xml_node node = child(lines, "ratioKAlpha2KAlpha1")) {
            pattern.ratio = number(node);
            if (pattern.ratio < 0.0) failAt(node, "ratio " + shortest(pattern.ratio) + " is negative");
        }
    }

    // The 2θ position of every one of `count` points.
    std::vector<double> positions(const pugi::xml_node &dataPoints, std::size_t count,
                                  const pugi::xml_node &intensities) const {
        pugi::xml_node axis;
        for (const pugi::xml_node &node : dataPoints.children()) {
            if (localName(node.name()) == "positions" && attribute(node, "axis") == "2Theta") {
                axis = node;
                break;
            }
        }
        if (!axis) failAt(dataPoints, "no <positions axis=\"2Theta\"> element");
        const std::string unit = attribute(axis, "unit");
        if (!unit.empty() && unit != "deg") failAt(axis, "unit '" + unit + "' of the 2Theta axis: expected deg");
        if (const pugi::xml_node list = child(axis, "listPositions")) {
            std::vector<double> x = numbers(list);
            if (x.size() != count) {
                failAt(list, "holds " + std::to_string(x.size()) + " positions where <" +
                                 std::string(localName(intensities.name())) + "> holds " + std::to_string(count) +
                                 " values");
            }
            return x;
        }
        const pugi::xml_node startNode = child(axis, "startPosition");
        const pugi::xml_node endNode = child(axis, "endPosition");
        if (!startNode || !endNode) failAt(axis, "neither <listPositions> nor <startPosition> and <endPosition>");
        const double start = number(startNode), end = number(endNode);
        if (!(start < end)) {
            failAt(axis, "startPosition " + shortest(start) + " is not below endPosition " + shortest(end));
        }
        // Evenly spaced, both ends exact: x_i = (start·(n − 1 − i) + end·i) / (n − 1).
        std::vector<double> x(count);
        const double last = static_cast<double>(count - 1);
        for (std::size_t i = 0; i < count; ++i) {
            const double at = static_cast<double>(i);
            x[i] = (start * (last - at) + end * at) / last;
        }
        return x;
    }

    // The counting time of each point, in seconds, for count rates.
    std::vector<double> countingTimes(const pugi::xml_node &dataPoints, std::size_t count) const {
        std::vector<double> times;
        pugi::xml_node node = child(dataPoints, "commonCountingTime");
        if (node) {
            times.assign(count, number(node));
        } else if ((node = child(dataPoints, "countingTimes"))) {
            times = numbers(node);
            if (times.size() != count) {
                failAt(node, "holds " + std::to_string(times.size()) + " times where there are " +
                                 std::to_string(count) + " points");
            }
        } else {
            failAt(dataPoints, "count rates (cps) without <commonCountingTime> or <countingTimes>");
        }
        const std::string unit = attribute(node, "unit");
        if (!unit.empty() && unit != "seconds") failAt(node, "unit '" + unit + "': expected seconds");
        for (double time : times) {
            if (!(time > 0.0)) failAt(node, "counting time " + shortest(time) + " is not positive");
        }
        return times;
    }

    void readDataPoints(const pugi::xml_node &dataPoints, pk_measured_pattern &pattern) const {
        pugi::xml_node intensities = child(dataPoints, "intensities");
        if (!intensities) intensities = child(dataPoints, "counts");
        if (!intensities) failAt(dataPoints, "no <intensities> or <counts> element");
        const std::vector<double> y = numbers(intensities);
        if (y.size() < 2) failAt(intensities, y.empty() ? "no values" : "only 1 value; at least 2 are needed");
        const std::string unit = attribute(intensities, "unit");
        const bool rates = unit == "cps";
        if (!rates && !unit.empty() && unit != "counts")
            failAt(intensities, "unit '" + unit + "': expected counts or cps");
        const std::vector<double> x = positions(dataPoints, y.size(), intensities);
        const std::vector<double> times = rates ? countingTimes(dataPoints, y.size()) : std::vector<double>();

        const std::string where =
            name_ + ":" + std::to_string(lineOf(intensities)) + ": <" + std::string(localName(intensities.name()));
        pattern.x.reserve(y.size());
        pattern.y.reserve(y.size());
        pattern.sigma.reserve(y.size());
        for (std::size_t i = 0; i < y.size(); ++i) {
            const double sigma = rates ? countingSigma(y[i] * times[i], times[i]) : countingSigma(y[i], 1.0);
            appendPoint(pattern, x[i], y[i], sigma, where + "> value " + std::to_string(i + 1),
                        "value " + std::to_string(i));
        }
    }

    std::string_view text_;
    const std::string &name_;
};

}  // namespace

std::unique_ptr<pk_measured_pattern> readXrdml(std::string_view text, const std::string &name) {
    return XrdmlReader(text, name).read();
}

}  // namespace powderkit::phase
