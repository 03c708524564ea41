// The measured pattern as its readers build it, and what they share: the
// point checks, number parsing and quoting for messages, the bank choice and
// the warnings. measured_pattern.cpp recognises a file's format and reads the
// text columns; measured_xrdml.cpp, measured_gsas.cpp and
// measured_bruker_raw.cpp read the instrument formats.
#ifndef POWDERKIT_PHASE_MEASURED_PATTERN_HPP
#define POWDERKIT_PHASE_MEASURED_PATTERN_HPP

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "powderkit_phase.h"

struct pk_measured_pattern {
    std::vector<double> x, y, sigma;
    // The X-ray lines the file names (Å) and the Kα2/Kα1 intensity ratio; 0 where it names none.
    double alpha1 = 0.0, alpha2 = 0.0, ratio = 0.0;
    int32_t axis = PK_AXIS_TWO_THETA;  // x in degrees 2θ, or in milliseconds of flight time
    std::string warnings;              // what the reader ignored, one line each
};

namespace powderkit::phase {

// Fails with PK_ERROR_FORMAT: "NAME: WHAT", or "NAME:LINE: WHAT" when line > 0.
[[noreturn]] void failFormat(const std::string &name, long line, const std::string &what);

// Checks a point against the pattern read so far and appends it: x, y and σ
// finite, y ≥ 0, σ > 0, x above the previous point's. A failure opens with
// `where` ("scan.xy:12"); `previous` names where the last point came from
// ("line 11", "value 3"), for the message on an x that does not increase.
void appendPoint(pk_measured_pattern &pattern, double x, double y, double sigma, const std::string &where,
                 const std::string &previous);

// Fails unless the pattern holds at least 2 points.
void requireTwoPoints(const pk_measured_pattern &pattern, const std::string &name);

// σ of a value y that is `counts` / `per`, counts being Poisson counts: the
// counting error √counts (1 for zero counts) divided by `per` (the counting
// time of a count rate, the number of counters averaged).
double countingSigma(double counts, double per);

// Whole-field number parse, locale-independent; a leading '+' is accepted.
// Fills `value` and returns "" when the whole field is a number, otherwise
// what is wrong with it ("is not a number", "is out of range").
const char *parseNumber(std::string_view field, double &value);

// A field as it may appear in a message: quoted, at most 40 bytes, bytes
// outside printable ASCII shown as '?'.
std::string quoted(std::string_view field);

// The 1-based line of the byte at `offset` of `text`.
long lineOfOffset(std::string_view text, std::size_t offset);

// Blank within a line: space, tab, CR, VT, FF.
bool isBlank(char c);

// `text` without the blanks at either end.
std::string_view trimmed(std::string_view text);

// The fields of `text` that blanks and line feeds separate.
std::vector<std::string_view> blankSeparatedFields(std::string_view text);

// Appends one line to the pattern's warnings.
void warn(pk_measured_pattern &pattern, const std::string &line);

// The bank a reader reads among the `numbers` a file holds (in file order),
// `bank` being the caller's choice (0: the first). Fails naming the banks
// there are when the choice is not among them; with several banks, warns
// naming the ones left unread. `what` names a bank in messages ("bank",
// "range").
std::size_t chooseBank(const std::vector<long> &numbers, int32_t bank, const std::string &name, const char *what,
                       std::string &warnings);

// The numbers as a list for messages: "1, 2, 4".
std::string listed(const std::vector<long> &numbers);

// True when the text's first character that is not blank opens an XML tag.
bool looksLikeXml(std::string_view text);
// True when a BANK line follows the title (and any '#' comment lines).
bool looksLikeGsas(std::string_view text);

// True when the bytes open with the magic of a Bruker RAW version 1 file.
bool looksLikeBrukerRaw(std::string_view bytes);

// The readers of the instrument formats; `name` opens every message, `bank`
// picks a bank (GSAS) or range (Bruker RAW), 1-based, 0 for the first.
std::unique_ptr<pk_measured_pattern> readXrdml(std::string_view text, const std::string &name);
std::unique_ptr<pk_measured_pattern> readGsas(std::string_view text, const std::string &name, int32_t bank);
std::unique_ptr<pk_measured_pattern> readBrukerRaw(std::string_view bytes, const std::string &name, int32_t bank);

}  // namespace powderkit::phase

#endif
