// GSAS raw data. The file opens with a title line (blank, or text followed by
// stray bytes from the instrument's software); '#' comment lines, blank lines
// and an "Instrument parameter" line may follow; then one or more banks, each
//   BANK n npts nrec BINTYP bcoef1 bcoef2 bcoef3 bcoef4 [type]
// followed by its data. Lines end in LF or CR LF.
//
// The steps, by BINTYP:
//   CONST (or CONS), constant wavelength: 2θ_i = (bcoef1 + i·bcoef2) / 100
//     degrees, bcoef1 and bcoef2 being centidegrees;
//   SLOG, time of flight in logarithmic steps: t_i = bcoef1·(1 + bcoef3)^i µs,
//     bcoef1 the first and bcoef2 the last flight time, bcoef3 the step Δt/t;
//   RALF, time of flight with the flight time on every point (ALT data):
//     bcoef1 the first flight time × 32 (units of 1/32 µs), bcoef2 the first
//     step × 32 (≈ bcoef1·bcoef4), bcoef3 the flight time × 32 the steps grow
//     from, bcoef4 the step Δt/t; so t_i ≈ bcoef1/32·(1 + bcoef4)^i µs, each
//     point's own t rounded to 1/32 µs (gem05984.gss: 81743, 81808, 81874 …
//     with bcoef1 81743, bcoef2 65, bcoef4 0.0008).
// The data, by type:
//   STD (the default): 80-column records of 10 fields, each an I2 count of
//     counters n (blank or 0: one) and an I6 intensity y, the mean over the
//     counters; the n·y counts give σ = √(n·y) / n;
//   ESD: records of 5 pairs, an F8 intensity and its F8 esd;
//   FXYE: one point per line, free format: x, y, esd, x being 2θ in
//     centidegrees (CONST) or the flight time in µs (SLOG);
//   ALT (RALF only): 80-column records of four 20-column triples, the flight
//     time × 32 in I8, the intensity in I7 and its esd in I5; the fields are
//     fixed-width, so large values run together without blanks.
// Flight times become milliseconds on the pattern's axis. Where a point's
// own x is given (FXYE, ALT) on a time-of-flight bank, it is checked against
// the steps the BANK line names; one off by more than a quarter step is read
// as written, and a warning counts them.
//
// A point with esd 0 carries no weight (GSAS writes it where nothing was
// measured): it is left out, and a warning says how many and where. The
// last STD, ESD or ALT record may carry unused fields after the npts points
// (blank, or padding zeros); lines of data after them, before the next bank,
// are ignored with a warning. Fewer points than npts is an error.
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

    // A place to come back to: the line read last, and where the next begins.
    struct Mark {
        std::size_t start;
        long number;
    };
    Mark mark() const { return {start_, number_}; }
    void restore(Mark m) {
        start_ = m.start;
        number_ = m.number;
    }

private:
    std::string_view text_;
    std::size_t start_ = 0;
    long number_ = 0;
};

enum class Binning { kConst, kSlog, kRalf };
enum class DataForm { kStd, kEsd, kFxye, kAlt };

class GsasReader {
public:
    GsasReader(std::string_view text, const std::string &name) : lines_(text), name_(name) {}

    std::unique_ptr<pk_measured_pattern> read(int32_t bank) {
        auto pattern = std::make_unique<pk_measured_pattern>();
        std::string_view line;
        lines_.next(line);  // the title
        while (lines_.next(line) && isPreamble(line)) {
        }
        if (!isBankLine(line)) failHere("expected a BANK line after the title");
        const std::size_t chosen = chooseBank(bankNumbers(), bank, name_, "bank", pattern->warnings);
        lines_.restore(banks_[chosen]);
        lines_.next(line);
        readBank(line);
        if (binning_ != Binning::kConst) pattern->axis = PK_AXIS_TOF;
        pattern->x.reserve(points_);
        pattern->y.reserve(points_);
        pattern->sigma.reserve(points_);
        while (read_ < points_) {
            const bool more = lines_.next(line);
            if (!more || isBankLine(line)) {
                failHere(std::string(more ? "the next BANK line comes" : "the file ends") + " after " +
                         std::to_string(read_) + " of the " + std::to_string(points_) + " points BANK " +
                         std::to_string(number_) + " names");
            }
            if (form_ == DataForm::kFxye) {
                readFxyeLine(line, *pattern);
            } else {
                readRecord(line, *pattern);
            }
        }
        warnAboutTheRest(*pattern);
        requireTwoPoints(*pattern, name_);
        if (pattern->axis == PK_AXIS_TOF) {
            for (double &x : pattern->x) x /= 1000.0;  // µs → ms
        }
        return pattern;
    }

private:
    [[noreturn]] void failHere(const std::string &what) const { failFormat(name_, lines_.number(), what); }

    std::string here() const { return name_ + ":" + std::to_string(lines_.number()); }

    std::string bankName() const { return name_ + ": bank " + std::to_string(number_) + ": "; }

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

    // The numbers of the file's BANK lines, remembering where each begins.
    std::vector<long> bankNumbers() {
        std::vector<long> numbers;
        std::string_view line;
        lines_.restore(Lines::Mark{0, 0});
        while (true) {
            const Lines::Mark before = lines_.mark();
            if (!lines_.next(line)) break;
            if (lines_.number() < 2 || !isBankLine(line)) continue;
            const std::vector<std::string_view> fields = blankSeparatedFields(line);
            if (fields.size() < 2) failHere("BANK line without a bank number");
            numbers.push_back(wholeField(fields[1], "bank number", std::numeric_limits<int32_t>::max()));
            banks_.push_back(before);
        }
        return numbers;
    }

    void readBank(std::string_view line) {
        const std::vector<std::string_view> fields = blankSeparatedFields(line);
        if (fields.size() < 5)
            failHere("BANK line with " + std::to_string(fields.size()) +
                     " fields; expected at least"
                     " BANK n npts nrec BINTYP");
        number_ = wholeField(fields[1], "bank number", std::numeric_limits<int32_t>::max());
        const std::string_view bintyp = fields[4];
        std::size_t needed = 2;
        if (bintyp == "CONST" || bintyp == "CONS") {
            binning_ = Binning::kConst;
        } else if (bintyp == "SLOG") {
            binning_ = Binning::kSlog;
            needed = 3;
        } else if (bintyp == "RALF") {
            binning_ = Binning::kRalf;
            needed = 4;
        } else {
            failHere("BINTYP " + quoted(bintyp) + " is not read: CONST, CONS, SLOG or RALF");
        }
        std::size_t coefficients = fields.size() - 5;
        form_ = DataForm::kStd;
        double ignored = 0.0;
        if (coefficients > 0 && *parseNumber(fields.back(), ignored) != '\0') {
            coefficients -= 1;
            const std::string_view form = fields.back();
            if (form == "ESD") {
                form_ = DataForm::kEsd;
            } else if (form == "FXYE") {
                form_ = DataForm::kFxye;
            } else if (form == "ALT") {
                form_ = DataForm::kAlt;
            } else if (form != "STD") {
                failHere("data type " + quoted(form) + " is not read: STD, ESD, FXYE or ALT");
            }
        }
        if ((form_ == DataForm::kAlt) != (binning_ == Binning::kRalf)) {
            failHere("data type " + quoted(fields.back()) + " is not read with BINTYP " + quoted(bintyp) +
                     ": ALT data go with RALF steps, and only they");
        }
        static const char *const kMeaning[3][4] = {{"start", "step"},
                                                   {"start", "end", "step ratio"},
                                                   {"start", "first step", "origin", "step ratio"}};
        const auto binningIndex = static_cast<std::size_t>(binning_);
        if (coefficients < needed) {
            std::string names;
            for (std::size_t k = 0; k < needed; ++k) {
                names += std::string(k == 0 ? "" : k + 1 == needed ? " and " : ", ") + "bcoef" +
                         std::to_string(k + 1) + " (" + kMeaning[binningIndex][k] + ")";
            }
            failHere("BANK line without " + names);
        }
        for (std::size_t k = 0; k < needed; ++k) bcoef_[k] = numberField(fields[5 + k], "bcoef" + std::to_string(k + 1));
        // The value that must be positive: CONST's step, SLOG's start and ratio, RALF's start and ratio.
        const std::size_t positive[3][2] = {{1, 1}, {0, 2}, {0, 3}};
        for (std::size_t k : positive[binningIndex]) {
            if (!(bcoef_[k] > 0.0)) {
                failHere(std::string(kMeaning[binningIndex][k]) + " bcoef" + std::to_string(k + 1) + " = " +
                         shortest(bcoef_[k]) + " is not positive");
            }
        }
        const long points = wholeField(fields[2], "npts", std::numeric_limits<int32_t>::max());
        wholeField(fields[3], "nrec", std::numeric_limits<int32_t>::max());
        // Every point takes at least one byte of the text after this line.
        if (static_cast<std::size_t>(points) > lines_.bytesLeft()) {
            failHere("npts = " + std::to_string(points) + " is more points than the " +
                     std::to_string(lines_.bytesLeft()) + " bytes after the BANK line can hold");
        }
        points_ = static_cast<std::size_t>(points);
    }

    // x of point i from the BANK line: centidegrees → degrees, or µs.
    double stepX(std::size_t i) const {
        const double index = static_cast<double>(i);
        switch (binning_) {
            case Binning::kConst:
                return (bcoef_[0] + index * bcoef_[1]) / 100.0;
            case Binning::kSlog:
                return bcoef_[0] * std::pow(1.0 + bcoef_[2], index);
            case Binning::kRalf:
                break;
        }
        return bcoef_[0] / 32.0 * std::pow(1.0 + bcoef_[3], index);
    }

    // Takes the next point: left out when its esd is 0 (no weight), otherwise
    // checked and appended. A time-of-flight point's own x is compared with the steps.
    void take(pk_measured_pattern &pattern, double x, double y, double sigma, bool ownX, const std::string &where) {
        if (ownX && binning_ != Binning::kConst) {
            const double expected = stepX(read_);
            const double ratio = binning_ == Binning::kSlog ? bcoef_[2] : bcoef_[3];
            if (std::fabs(x - expected) > 0.25 * ratio * expected) {
                offGrid_ += 1;
                if (firstOffGrid_ == 0) firstOffGrid_ = lines_.number();
            }
        }
        read_ += 1;
        if (sigma == 0.0) {
            if (withoutWeight_ == 0) firstWithoutWeight_ = lines_.number();
            withoutWeight_ += 1;
            lastWithoutWeight_ = lines_.number();
            return;
        }
        appendPoint(pattern, x, y, sigma, where, previous_);
        previous_ = "line " + std::to_string(lines_.number());
    }

    // One STD, ESD or ALT record: fields of 8 (STD), 16 (ESD) or 20 (ALT) columns.
    void readRecord(std::string_view line, pk_measured_pattern &pattern) {
        static const std::size_t kWidth[] = {8, 16, 0, 20}, kPerRecord[] = {10, 5, 0, 4};
        const auto form = static_cast<std::size_t>(form_);
        const std::size_t width = kWidth[form], perRecord = kPerRecord[form];
        const std::size_t wanted = std::min(perRecord, points_ - read_);
        // Each field wanted must at least begin within the record.
        if (line.size() < (wanted - 1) * width + 1) {
            failHere("truncated record: " + std::to_string(line.size()) + " columns where " + std::to_string(wanted) +
                     " values need " + std::to_string(wanted * width));
        }
        for (std::size_t k = 0; k < wanted; ++k) {
            const std::string_view field = line.substr(k * width, width);
            const std::string what = "value " + std::to_string(k + 1);
            double x = stepX(read_), y = 0.0, sigma = 0.0;
            if (form_ == DataForm::kStd) {
                const std::string_view counters = trimmed(field.substr(0, 2));
                const double n =
                    counters.empty() ? 1.0 : static_cast<double>(wholeField(counters, what + " counters", 99));
                y = numberField(field.substr(2), what + " intensity");
                const double per = n > 0.0 ? n : 1.0;
                sigma = countingSigma(y * per, per);
            } else if (form_ == DataForm::kEsd) {
                y = numberField(field.substr(0, 8), what + " intensity");
                sigma = numberField(field.substr(8), what + " esd");
            } else {
                x = numberField(field.substr(0, 8), what + " flight time") / 32.0;
                y = numberField(field.substr(8, 7), what + " intensity");
                sigma = numberField(field.substr(15), what + " esd");
            }
            take(pattern, x, y, sigma, form_ == DataForm::kAlt, here() + ": " + what);
        }
    }

    void readFxyeLine(std::string_view line, pk_measured_pattern &pattern) {
        const std::vector<std::string_view> fields = blankSeparatedFields(line);
        if (fields.size() != 3) {
            failHere(std::to_string(fields.size()) + " fields where FXYE needs 3 (" +
                     (binning_ == Binning::kConst ? "2θ in centidegrees" : "flight time in µs") + ", y, esd)");
        }
        const double x = numberField(fields[0], "x") / (binning_ == Binning::kConst ? 100.0 : 1.0);
        take(pattern, x, numberField(fields[1], "y"), numberField(fields[2], "esd"), true, here());
    }

    // Warns about what the bank's points left aside: lines of data after
    // them, points without weight, points off the steps.
    void warnAboutTheRest(pk_measured_pattern &pattern) {
        std::string_view line;
        long first = 0, last = 0, count = 0;
        while (lines_.next(line) && !isBankLine(line)) {
            if (trimmed(line).empty()) continue;
            if (count == 0) first = lines_.number();
            last = lines_.number();
            count += 1;
        }
        const auto span = [](long from, long to) {
            return from == to ? "line " + std::to_string(from)
                              : "lines " + std::to_string(from) + "–" + std::to_string(to);
        };
        if (count > 0) {
            warn(pattern, bankName() + std::to_string(count) + (count == 1 ? " line" : " lines") +
                              " of data after the " + std::to_string(points_) + " points the BANK line names ignored (" +
                              span(first, last) + ")");
        }
        if (withoutWeight_ > 0) {
            warn(pattern, bankName() + std::to_string(withoutWeight_) +
                              (withoutWeight_ == 1 ? " point" : " points") + " with esd 0 (no weight) left out (" +
                              span(firstWithoutWeight_, lastWithoutWeight_) + ")");
        }
        if (offGrid_ > 0) {
            warn(pattern, bankName() + std::to_string(offGrid_) + (offGrid_ == 1 ? " point lies" : " points lie") +
                              " more than a quarter step off the steps the BANK line names, read as written (first "
                              "at line " +
                              std::to_string(firstOffGrid_) + ")");
        }
    }

    Lines lines_;
    const std::string &name_;
    std::vector<Lines::Mark> banks_;  // where each BANK line begins
    long number_ = 0;                 // of the bank read
    std::size_t points_ = 0, read_ = 0;
    Binning binning_ = Binning::kConst;
    DataForm form_ = DataForm::kStd;
    double bcoef_[4] = {0, 0, 0, 0};
    std::string previous_;  // where the last point kept came from, for messages
    long withoutWeight_ = 0, firstWithoutWeight_ = 0, lastWithoutWeight_ = 0;
    long offGrid_ = 0, firstOffGrid_ = 0;
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

std::unique_ptr<pk_measured_pattern> readGsas(std::string_view text, const std::string &name, int32_t bank) {
    return GsasReader(text, name).read(bank);
}

}  // namespace powderkit::phase
