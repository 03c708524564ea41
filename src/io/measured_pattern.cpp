// Measured patterns: the reader's dispatch, the text columns, and the point
// checks, bank choice and warnings every format shares. A file is recognised
// by its content, whatever its extension: the magic bytes "RAW1.01" open a
// Bruker RAW file (measured_bruker_raw.cpp), XML is read as an XRDML scan
// (measured_xrdml.cpp), a title line followed by a BANK line as GSAS raw data
// (measured_gsas.cpp), anything else as two- or three-column text (x y, or
// x y σ). Fields of the
// columns are separated by blanks or commas; '#', '!' and an apostrophe open comments (whole
// lines, or the rest of a line after the numbers); one header line of text is
// allowed before the data. Every point is checked as it is read: finite
// numbers, counts not negative, x strictly increasing, σ > 0 when given;
// where σ is absent it is the counting error √y, and 1 for a point of zero
// counts. A file is read whole.
#include "io/measured_pattern.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "boundary/boundary.hpp"
#include "io/text_file.hpp"
#include "powderkit_phase.h"

namespace powderkit::phase {

void failFormat(const std::string &name, long line, const std::string &what) {
    std::string message = name;
    if (line > 0) message += ":" + std::to_string(line);
    fail(PK_ERROR_FORMAT, message + ": " + what);
}

void appendPoint(pk_measured_pattern &pattern, double x, double y, double sigma, const std::string &where,
                 const std::string &previous) {
    const auto failHere = [&](const std::string &what) {
        fail(PK_ERROR_FORMAT, where + ": " + what);
    };
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(sigma)) {
        failHere("x = " + shortest(x) + ", y = " + shortest(y) + ", sigma = " + shortest(sigma) + " is not finite");
    }
    if (y < 0.0) failHere("negative count y = " + shortest(y));
    if (!(sigma > 0.0)) failHere("sigma = " + shortest(sigma) + " is not positive");
    if (!pattern.x.empty() && !(x > pattern.x.back())) {
        failHere("x = " + shortest(x) + " does not increase (x = " + shortest(pattern.x.back()) + " at " + previous +
                 ")");
    }
    if (pattern.x.size() >= static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        failHere("too many data points");
    }
    pattern.x.push_back(x);
    pattern.y.push_back(y);
    pattern.sigma.push_back(sigma);
}

void requireTwoPoints(const pk_measured_pattern &pattern, const std::string &name) {
    if (pattern.x.empty()) failFormat(name, 0, "no data points");
    if (pattern.x.size() < 2) failFormat(name, 0, "only 1 data point; at least 2 are needed");
}

// Poisson counting statistics: σ(N) = √N, taken as 1 at N = 0 so that every
// point keeps a finite weight; y = N / per has σ(y) = σ(N) / per.
double countingSigma(double counts, double per) { return (counts > 0.0 ? std::sqrt(counts) : 1.0) / per; }

std::string quoted(std::string_view field) {
    constexpr std::size_t kShown = 40;
    std::string out = "'";
    for (std::size_t i = 0; i < field.size() && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        out.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?');
    }
    if (field.size() > kShown) out += "...";
    return out + "'";
}

const char *parseNumber(std::string_view field, double &value) {
    if (!field.empty() && field.front() == '+') {
        field.remove_prefix(1);
        if (!field.empty() && (field.front() == '-' || field.front() == '+')) {
            return "is not a number";
        }
    }
    const char *end = field.data() + field.size();
    const auto result = std::from_chars(field.data(), end, value);
    if (result.ec == std::errc::result_out_of_range) return "is out of range";
    if (field.empty() || result.ec != std::errc() || result.ptr != end) return "is not a number";
    return "";
}

void warn(pk_measured_pattern &pattern, const std::string &line) { pattern.warnings += line + "\n"; }

std::string listed(const std::vector<long> &numbers) {
    std::string list;
    for (long number : numbers) list += (list.empty() ? "" : ", ") + std::to_string(number);
    return list;
}

std::size_t chooseBank(const std::vector<long> &numbers, int32_t bank, const std::string &name, const char *what,
                       std::string &warnings) {
    const std::string plural = std::string(what) + "s";
    if (numbers.empty()) fail(PK_ERROR_FORMAT, name + ": no " + plural);
    std::size_t chosen = 0;
    if (bank != 0) {
        chosen = std::find(numbers.begin(), numbers.end(), bank) - numbers.begin();
        if (chosen == numbers.size()) {
            fail(PK_ERROR_ARGUMENT, name + ": no " + what + " " + std::to_string(bank) + "; it holds " +
                                        (numbers.size() > 1 ? plural : std::string(what)) + " " + listed(numbers));
        }
    }
    const long number = numbers[chosen];
    if (std::count(numbers.begin(), numbers.end(), number) > 1) {
        fail(PK_ERROR_FORMAT, name + ": " + std::to_string(std::count(numbers.begin(), numbers.end(), number)) +
                                  " entries are labelled " + what + " " + std::to_string(number) +
                                  "; which one is meant cannot be told");
    }
    if (numbers.size() > 1) {
        std::vector<long> others;
        for (long other : numbers) {
            if (other != number) others.push_back(other);
        }
        warnings += name + ": read " + what + " " + std::to_string(number) + "; " +
                    (others.size() > 1 ? plural : std::string(what)) + " " + listed(others) +
                    " not read (choose one by its number)\n";
    }
    return chosen;
}

long lineOfOffset(std::string_view text, std::size_t offset) {
    const std::string_view before = text.substr(0, offset);
    long line = 1;
    for (char c : before) line += c == '\n' ? 1 : 0;
    return line;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::vector<std::string_view> blankSeparatedFields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < text.size()) {
        if (isBlank(text[i]) || text[i] == '\n') {
            ++i;
            continue;
        }
        const std::size_t first = i;
        while (i < text.size() && !isBlank(text[i]) && text[i] != '\n') ++i;
        fields.push_back(text.substr(first, i - first));
    }
    return fields;
}

namespace {

bool isSeparator(char c) { return isBlank(c) || c == ','; }
bool opensComment(char c) { return c == '#' || c == '!' || c == '\''; }

const char *const kEmptyField = "empty field (a comma with no value before or after it)";

std::string_view withoutByteOrderMark(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte-order mark
    return text;
}

// The two- or three-column text.
class ColumnReader {
public:
    explicit ColumnReader(std::string name) : name_(std::move(name)) {}

    std::unique_ptr<pk_measured_pattern> read(std::string_view text) {
        auto pattern = std::make_unique<pk_measured_pattern>();
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            line_ += 1;
            readLine(text.substr(start, end - start), *pattern);
            start = end + 1;
        }
        requireTwoPoints(*pattern, name_);
        return pattern;
    }

private:
    [[noreturn]] void failHere(const std::string &what) const { failFormat(name_, line_, what); }

    // Splits a line (comment removed) into fields. Two commas with only
    // blanks between them, or a comma opening or closing the line, leave an
    // empty field: `emptyField_` is set, an error on a line of data.
    // A comma between two digits on a line whose other fields are apart by
    // blanks alone ("10,0 217") is a decimal comma: `decimalComma_` is set.
    void split(std::string_view line) {
        fields_.clear();
        emptyField_ = false;
        bool commaPending = true;  // as if a comma stood before the line
        bool sawComma = false;
        bool tightComma = false, blanksApart = false, blankSinceField = false;
        const auto digit = [&](std::size_t k) { return k < line.size() && line[k] >= '0' && line[k] <= '9'; };
        std::size_t i = 0;
        while (i < line.size()) {
            if (isBlank(line[i])) {
                blankSinceField = blankSinceField || !fields_.empty();
                ++i;
            } else if (line[i] == ',') {
                tightComma = tightComma || (i > 0 && digit(i - 1) && digit(i + 1));
                blankSinceField = false;
                emptyField_ = emptyField_ || commaPending;
                commaPending = true;
                sawComma = true;
                ++i;
            } else {
                blanksApart = blanksApart || (blankSinceField && !commaPending);
                blankSinceField = false;
                const std::size_t first = i;
                while (i < line.size() && !isSeparator(line[i])) ++i;
                fields_.push_back(line.substr(first, i - first));
                commaPending = false;
            }
        }
        emptyField_ = emptyField_ || (sawComma && commaPending);
        decimalComma_ = tightComma && blanksApart;
    }

    void readLine(std::string_view line, pk_measured_pattern &pattern) {
        std::size_t first = 0;
        while (first < line.size() && isBlank(line[first])) ++first;
        if (first == line.size() || opensComment(line[first])) return;
        std::size_t comment = first;
        while (comment < line.size() && !opensComment(line[comment])) ++comment;
        split(line.substr(first, comment - first));

        double values[3] = {0.0, 0.0, 0.0};
        const char *problem = fields_.empty() ? "" : parseNumber(fields_[0], values[0]);
        if (fields_.empty() || *problem != '\0') {
            // The first line that is neither blank nor comment may be a header.
            if (!seenContent_) {
                seenContent_ = true;
                return;
            }
            if (fields_.empty()) failHere(kEmptyField);
            failHere("field 1 " + quoted(fields_[0]) + " " + problem);
        }
        seenContent_ = true;
        if (decimalComma_) {
            failHere(quoted(trimmed(line)) + " holds decimal commas; write decimal points (10.0), or separate the "
                                             "columns by commas alone");
        }
        if (emptyField_) failHere(kEmptyField);

        const std::size_t fieldCount = fields_.size();
        if (fieldCount < 2 || fieldCount > 3) {
            failHere(std::to_string(fieldCount) + (fieldCount == 1 ? " field" : " fields") +
                     "; expected 2 (x y) or 3 (x y sigma)");
        }
        if (columns_ == 0) {
            columns_ = fieldCount;
            columnsLine_ = line_;
        } else if (fieldCount != columns_) {
            failHere(std::to_string(fieldCount) + " fields where line " + std::to_string(columnsLine_) + " had " +
                     std::to_string(columns_));
        }
        static const char *const kNames[3] = {"x", "y", "sigma"};
        for (std::size_t k = 0; k < fieldCount; ++k) {
            problem = k > 0 ? parseNumber(fields_[k], values[k]) : "";
            if (*problem != '\0') {
                failHere("field " + std::to_string(k + 1) + " " + quoted(fields_[k]) + " " + problem);
            }
            if (!std::isfinite(values[k]))
                failHere(std::string(kNames[k]) + " " + quoted(fields_[k]) + " is not finite");
        }
        const double y = values[1];
        const double sigma = fieldCount == 3 ? values[2] : countingSigma(y, 1.0);
        appendPoint(pattern, values[0], y, sigma, name_ + ":" + std::to_string(line_),
                    "line " + std::to_string(previousLine_));
        previousLine_ = line_;
    }

    std::string name_;
    long line_ = 0;
    bool seenContent_ = false;
    std::size_t columns_ = 0;
    long columnsLine_ = 0;
    long previousLine_ = 0;
    std::vector<std::string_view> fields_;
    bool emptyField_ = false;
    bool decimalComma_ = false;
};

// The reader the content asks for; formats of one pattern take bank 0 or 1.
std::unique_ptr<pk_measured_pattern> readAny(std::string_view text, const std::string &name, int32_t bank) {
    if (bank < 0) fail(PK_ERROR_ARGUMENT, "bank " + std::to_string(bank) + " is negative (0: the first)");
    if (looksLikeBrukerRaw(text)) return readBrukerRaw(text, name, bank);
    text = withoutByteOrderMark(text);
    const bool xml = looksLikeXml(text);
    if (!xml && looksLikeGsas(text)) return readGsas(text, name, bank);
    if (bank > 1) {
        fail(PK_ERROR_ARGUMENT, name + ": no bank " + std::to_string(bank) + "; it holds one pattern");
    }
    return xml ? readXrdml(text, name) : ColumnReader(name).read(text);
}

}  // namespace
}  // namespace powderkit::phase

using powderkit::phase::fail;
using powderkit::phase::guarded;
using powderkit::phase::requireArgument;
using powderkit::phase::shortest;

// Reads the pattern in the file at `path`; *pattern is NULL on failure.
extern "C" PK_PHASE_API int32_t pk_measured_pattern_read_file_bank(const char *path, int32_t bank,
                                                                   pk_measured_pattern **pattern, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(pattern, "pattern");
        *pattern = nullptr;
        requireArgument(path, "path");
        const std::string text = powderkit::phase::readWholeFile(path);
        *pattern = powderkit::phase::readAny(text, path, bank).release();
    });
}

extern "C" PK_PHASE_API int32_t pk_measured_pattern_read_file(const char *path, pk_measured_pattern **pattern,
                                                              pk_error *error) {
    return pk_measured_pattern_read_file_bank(path, 0, pattern, error);
}

// The same from text in memory; `name` (or "text" when NULL) opens every message.
extern "C" PK_PHASE_API int32_t pk_measured_pattern_read_text_bank(const char *text, const char *name, int32_t bank,
                                                                   pk_measured_pattern **pattern, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(pattern, "pattern");
        *pattern = nullptr;
        requireArgument(text, "text");
        *pattern = powderkit::phase::readAny(text, name != nullptr ? name : "text", bank).release();
    });
}

extern "C" PK_PHASE_API int32_t pk_measured_pattern_read_text(const char *text, const char *name,
                                                              pk_measured_pattern **pattern, pk_error *error) {
    return pk_measured_pattern_read_text_bank(text, name, 0, pattern, error);
}

extern "C" PK_PHASE_API const char *pk_measured_pattern_warnings(const pk_measured_pattern *pattern) {
    const char *text = "";
    guarded(nullptr, [&] {
        if (pattern != nullptr) text = pattern->warnings.c_str();
    });
    return text;
}

extern "C" PK_PHASE_API int32_t pk_measured_pattern_axis(const pk_measured_pattern *pattern) {
    int32_t axis = PK_AXIS_TWO_THETA;
    guarded(nullptr, [&] {
        if (pattern != nullptr) axis = pattern->axis;
    });
    return axis;
}

// The X-ray lines the pattern's file named; zeros where it named none.
extern "C" PK_PHASE_API int32_t pk_measured_pattern_wavelengths(const pk_measured_pattern *pattern, double *alpha1,
                                                                double *alpha2, double *ratio, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(pattern, "pattern");
        if (alpha1 != nullptr) *alpha1 = pattern->alpha1;
        if (alpha2 != nullptr) *alpha2 = pattern->alpha2;
        if (ratio != nullptr) *ratio = pattern->ratio;
    });
}

// A pattern from the host's arrays, checked point by point with the reader's
// rules; `sigma` NULL gives the counting error √y (1 for zero counts).
extern "C" PK_PHASE_API int32_t pk_measured_pattern_make(const double *x, const double *y, const double *sigma,
                                                         int32_t count, pk_measured_pattern **pattern,
                                                         pk_error *error) {
    return guarded(error, [&] {
        requireArgument(pattern, "pattern");
        *pattern = nullptr;
        requireArgument(x, "x");
        requireArgument(y, "y");
        if (count < 2) {
            fail(PK_ERROR_ARGUMENT, "count = " + std::to_string(count) + "; at least 2 points are needed");
        }
        auto made = std::make_unique<pk_measured_pattern>();
        made->x.assign(x, x + count);
        made->y.assign(y, y + count);
        made->sigma.resize(static_cast<std::size_t>(count));
        const auto at = [](int32_t i) {
            return "point " + std::to_string(i) + ": ";
        };
        for (int32_t i = 0; i < count; ++i) {
            if (!std::isfinite(x[i]) || !std::isfinite(y[i])) {
                fail(PK_ERROR_ARGUMENT, at(i) + "x = " + shortest(x[i]) + ", y = " + shortest(y[i]) + " is not finite");
            }
            if (y[i] < 0.0) fail(PK_ERROR_ARGUMENT, at(i) + "negative count y = " + shortest(y[i]));
            if (i > 0 && !(x[i] > x[i - 1])) {
                fail(PK_ERROR_ARGUMENT,
                     at(i) + "x = " + shortest(x[i]) + " does not increase (x = " + shortest(x[i - 1]) + " before it)");
            }
            double s = y[i] > 0.0 ? std::sqrt(y[i]) : 1.0;
            if (sigma != nullptr) {
                s = sigma[i];
                if (!(s > 0.0) || !std::isfinite(s)) {
                    fail(PK_ERROR_ARGUMENT, at(i) + "sigma = " + shortest(s) + " is not positive and finite");
                }
            }
            made->sigma[static_cast<std::size_t>(i)] = s;
        }
        *pattern = made.release();
    });
}
extern "C" PK_PHASE_API void pk_measured_pattern_free(pk_measured_pattern *pattern) {
    guarded(nullptr, [&] { delete pattern; });
}

extern "C" PK_PHASE_API int32_t pk_measured_pattern_count(const pk_measured_pattern *pattern) {
    int32_t count = 0;
    guarded(nullptr, [&] {
        if (pattern != nullptr) count = static_cast<int32_t>(pattern->x.size());
    });
    return count;
}

extern "C" PK_PHASE_API const double *pk_measured_pattern_x(const pk_measured_pattern *pattern) {
    const double *values = nullptr;
    guarded(nullptr, [&] {
        if (pattern != nullptr) values = pattern->x.data();
    });
    return values;
}

extern "C" PK_PHASE_API const double *pk_measured_pattern_y(const pk_measured_pattern *pattern) {
    const double *values = nullptr;
    guarded(nullptr, [&] {
        if (pattern != nullptr) values = pattern->y.data();
    });
    return values;
}

extern "C" PK_PHASE_API const double *pk_measured_pattern_sigma(const pk_measured_pattern *pattern) {
    const double *values = nullptr;
    guarded(nullptr, [&] {
        if (pattern != nullptr) values = pattern->sigma.data();
    });
    return values;
}
