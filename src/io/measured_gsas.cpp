// GSAS raw data at constant wavelength. The file opens with a title line;
// '#' comment lines (and an "Instrument parameter" line) may follow; then
//   BANK n npts nrec BINTYP bcoef1 bcoef2 bcoef3 bcoef4 [type]
// names the points. With BINTYP CONST (or CONS) the points lie at
// 2θ = (bcoef1 + i·bcoef2) / 100 degrees, bcoef1 and bcoef2 being centidegrees.
// The data follow in one of three forms:
//   STD  (the default): 80-column records of 10 fields, each an I2 count of
//        counters n (blank or 0: one) and an F6 intensity y, the mean over
//        the counters; the n·y counts give σ = √(n·y) / n;
//   ESD: records of 5 pairs, an F8 intensity and its F8 esd;
//   FXYE: one point per line, free format: 2θ in centidegrees, y, esd.
// The first bank is read; the data must hold exactly its npts points (the
// last STD or ESD record may carry unused fields after them). Time-of-flight
// and other BINTYPs are refused.
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "boundary/boundary.hpp"
#include "io/measured_pattern.hpp"

namespace powderkit::phase {
namespace {


std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool isBankLine(std::string_view line) { return startsWith(line, "BANK") && (line.size() == 4 || isBlank(line[4])); }

// Lines that may stand between the title and the BANK line.
bool isPreamble(std::string_view line) {
    const std::string_view content = trimmed(line);
    return content.empty() || content.front() == '#' || startsWith(content, "Instrument parameter");
}

// The text cut into lines, each without its line end.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    // The next line; false at the end (an empty text after the last line end is no line).
    bool next(std::string_view &line) {
        if (start_ >= text_.size() && (start_ > 0 || text_.empty())) return false;
        std::size_t end = text_.find('\n', start_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(start_, end - start_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start_ = end + 1;
        number_ += 1;
        return true;
    }
    long number() const { return number_; }
    std::size_t bytesLeft() const { return start_ < text_.size() ? text_.size() - start_ : 0; }

private:
    std::string_view text_;
    std::size_t start_ = 0;
    long number_ = 0;
};

enum class DataForm { kStd, kEsd, kFxye };

class GsasReader {
public:
    GsasReader(std::string_view text, const std::string &name) : lines_(text), name_(name) {}

    std::unique_ptr<pk_measured_pattern> read() {
        std::string_view line;
        lines_.next(line);  // the title
        while (lines_.next(line) && isPreamble(line)) {
        }
        readBank(line);
        auto pattern = std::make_unique<pk_measured_pattern>();
        pattern->x.reserve(points_);
        pattern->y.reserve(points_);
        pattern->sigma.reserve(points_);
        while (pattern->x.size() < points_) {
            if (!lines_.next(line)) {
                failHere("the file ends after " + std::to_string(pattern->x.size()) + " of the " +
                         std::to_string(points_) + " points the BANK line names");
            }
            if (form_ == DataForm::kFxye) {
                readFxyeLine(line, *pattern);
            } else {
                readRecord(line, *pattern);
            }
        }
        // Only blank lines, or the next bank, may follow the points.
        while (lines_.next(line) && !isBankLine(line)) {
            if (!trimmed(line).empty()) {
                failHere("data after the " + std::to_string(points_) + " points the BANK line names");
            }
        }
        requireTwoPoints(*pattern, name_);
        return pattern;
    }

private:
    [[noreturn]] void failHere(const std::string &what) const { failFormat(name_, lines_.number(), what); }

    std::string here() const { return name_ + ":" + std::to_string(lines_.number()); }

    double numberField(std::string_view field, const std::string &what) const {
        field = trimmed(field);
        double value = 0.0;
        const char *problem = parseNumber(field, value);
        if (field.empty()) failHere(what + " is blank");
        if (*problem != '\0') failHere(what + " " + quoted(field) + " " + problem);
        if (!std::isfinite(value)) failHere(what + " " + quoted(field) + " is not finite");
        return value;
    }

    long wholeField(std::string_view field, const std::string &what, long largest) const {
        field = trimmed(field);
        long value = 0;
        const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
        if (field.empty() || result.ec != std::errc() || result.ptr != field.data() + field.size() || value < 0 ||
            value > largest) {
            failHere(what + " " + quoted(field) + " is not a whole number from 0 to " + std::to_string(largest));
        }
        return value;
    }

    void readBank(std::string_view line) {
        if (!isBankLine(line)) failHere("expected a BANK line after the title");
        const std::vector<std::string_view> fields = blankSeparatedFields(line);
        if (fields.size() < 5)
            failHere("BANK line with " + std::to_string(fields.size()) +
                     " fields; expected at least"
                     " BANK n npts nrec BINTYP");
        const std::string_view bintyp = fields[4];
        if (bintyp != "CONST" && bintyp != "CONS") {
            failHere("BINTYP " + quoted(bintyp) + " is not read: only constant-wavelength steps (CONST, CONS)");
        }
        std::size_t coefficients = fields.size();
        form_ = DataForm::kStd;
        double ignored = 0.0;
        if (fields.size() > 5 && *parseNumber(fields.back(), ignored) != '\0') {
            coefficients -= 1;
            const std::string_view form = fields.back();
            if (form == "ESD") {
                form_ = DataForm::kEsd;
            } else if (form == "FXYE") {
                form_ = DataForm::kFxye;
            } else if (form != "STD") {
                failHere("data type " + quoted(form) + " is not read: STD, ESD or FXYE");
            }
        }
        if (coefficients < 7) failHere("BANK line without bcoef1 (start) and bcoef2 (step)");
        start_ = numberField(fields[5], "bcoef1");
        step_ = numberField(fields[6], "bcoef2");
        if (!(step_ > 0.0)) failHere("step bcoef2 = " + shortest(step_) + " is not positive");
        const long points = wholeField(fields[2], "npts", std::numeric_limits<int32_t>::max());
        wholeField(fields[3], "nrec", std::numeric_limits<int32_t>::max());
        // Every point takes at least one byte of the text after this line.
        if (static_cast<std::size_t>(points) > lines_.bytesLeft()) {
            failHere("npts = " + std::to_string(points) + " is more points than the " +
                     std::to_string(lines_.bytesLeft()) + " bytes after the BANK line can hold");
        }
        points_ = static_cast<std::size_t>(points);
        previousLine_ = lines_.number();
    }

    // One STD or ESD record: fields of 8 (STD) or 16 (ESD) columns.
    void readRecord(std::string_view line, pk_measured_pattern &pattern) {
        const bool standard = form_ == DataForm::kStd;
        const std::size_t width = standard ? 8 : 16, perRecord = standard ? 10 : 5;
        const std::size_t wanted = std::min(perRecord, points_ - pattern.x.size());
        // Each field wanted must at least begin within the record.
        if (line.size() < (wanted - 1) * width + 1) {
            failHere("truncated record: " + std::to_string(line.size()) + " columns where " + std::to_string(wanted) +
                     " values need " + std::to_string(wanted * width));
        }
        for (std::size_t k = 0; k < wanted; ++k) {
            const std::string_view field = line.substr(k * width, width);
            const std::string what = "value " + std::to_string(k + 1);
            double y = 0.0, sigma = 0.0;
            if (standard) {
                const std::string_view counters = trimmed(field.substr(0, 2));
                const double n =
                    counters.empty() ? 1.0 : static_cast<double>(wholeField(counters, what + " counters", 99));
                y = numberField(field.substr(2), what + " intensity");
                const double per = n > 0.0 ? n : 1.0;
                sigma = countingSigma(y * per, per);
            } else {
                y = numberField(field.substr(0, 8), what + " intensity");
                sigma = numberField(field.substr(8), what + " esd");
            }
            const double x = (start_ + static_cast<double>(pattern.x.size()) * step_) / 100.0;
            appendPoint(pattern, x, y, sigma, here() + ": " + what, "line " + std::to_string(previousLine_));
        }
        previousLine_ = lines_.number();
    }

    void readFxyeLine(std::string_view line, pk_measured_pattern &pattern) {
        const std::vector<std::string_view> fields = blankSeparatedFields(line);
        if (fields.size() != 3) {
            failHere(std::to_string(fields.size()) + " fields where FXYE needs 3 (2θ in centidegrees, y, esd)");
        }
        const double x = numberField(fields[0], "x") / 100.0;
        const double y = numberField(fields[1], "y");
        const double sigma = numberField(fields[2], "esd");
        appendPoint(pattern, x, y, sigma, here(), "line " + std::to_string(previousLine_));
        previousLine_ = lines_.number();
    }

    Lines lines_;
    const std::string &name_;
    std::size_t points_ = 0;
    DataForm form_ = DataForm::kStd;
    double start_ = 0.0, step_ = 0.0;  // centidegrees
    long previousLine_ = 0;
};

}  // namespace

bool looksLikeGsas(std::string_view text) {
    Lines lines(text);
    std::string_view line;
    if (!lines.next(line)) return false;  // the title
    while (lines.next(line)) {
        if (!isPreamble(line)) return isBankLine(line);
    }
    return false;
}

std::unique_ptr<pk_measured_pattern> readGsas(std::string_view text, const std::string &name) {
    return GsasReader(text, name).read();
}

}  // namespace powderkit::phase
