// The measured-pattern reader: good texts against hand-read values, bad texts by status and the line or field their
// message names, and file errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "powderkit_phase.h"
#include "support/test_data.hpp"

namespace {

struct Good {
    const char *what;
    const char *text;
    std::vector<double> x, y, sigma;
};

// σ without a third column is √y (√4 = 2, √2.25 = 1.5), and 1 at zero counts.
const Good kGood[] = {
    {"two columns", "10 4\n10.5 2.25\n11 0\n", {10, 10.5, 11}, {4, 2.25, 0}, {2, 1.5, 1}},
    {"three columns kept as given", "1 9 0.5\n2 16 7\n", {1, 2}, {9, 16}, {0.5, 7}},
    {"commas, blanks and both mixed", "1,4\n2 ,\t9\n3, 16\n", {1, 2, 3}, {4, 9, 16}, {2, 3, 4}},
    {"header line, comments, blank lines",
     "# made by hand\n! instrument\n' written by a reduction program\n2theta  counts\n\n  # indented\n5 1  # trailing\n6 4 ' also\n",
     {5, 6},
     {1, 4},
     {1, 2}},
    {"commas between digits, blanks only at the ends and beside commas", "1,5,3 \n2, 6 ,3\n", {1, 2}, {5, 6}, {3, 3}},
    {"CR LF and no final newline", "x,y,s\r\n1,1,2\r\n2,0,3", {1, 2}, {1, 0}, {2, 3}},
    {"exponents, signs, byte-order mark", "\xEF\xBB\xBF-1.5e1 2.5e-1\n+1E0 1e2\n", {-15, 1}, {0.25, 100}, {0.5, 10}},
};

TEST(MeasuredPattern, ReadsGoodTextsAsWritten) {
    for (const Good &c : kGood) {
        pk_measured_pattern *p = nullptr;
        pk_error e{};
        ASSERT_EQ(pk_measured_pattern_read_text(c.text, "t.xy", &p, &e), PK_OK) << c.what << ": " << e.message;
        const int32_t n = pk_measured_pattern_count(p);
        EXPECT_EQ(std::vector<double>(pk_measured_pattern_x(p), pk_measured_pattern_x(p) + n), c.x) << c.what;
        EXPECT_EQ(std::vector<double>(pk_measured_pattern_y(p), pk_measured_pattern_y(p) + n), c.y) << c.what;
        EXPECT_EQ(std::vector<double>(pk_measured_pattern_sigma(p), pk_measured_pattern_sigma(p) + n), c.sigma)
            << c.what;
        pk_measured_pattern_free(p);
    }
}

struct Bad {
    const char *text;
    const char *message;  // a part of the expected message
};

const Bad kBad[] = {
    {"", "t.xy: no data points"},
    {"1 2\n", "only 1 data point"},
    {"x y\n1 2\n2 abc\n", "t.xy:3: field 2 'abc' is not a number"},
    {"x y\nangle counts\n1 2\n", "t.xy:2: field 1 'angle'"},
    {"1 2 3 4\n2 3 4 5\n", "t.xy:1: 4 fields"},
    {"1 2\n2\n", "t.xy:2: 1 field;"},
    {"1 2\n2 3 1\n", "t.xy:2: 3 fields where line 1 had 2"},
    {"1 2\n# gap\n3 4\n3 5\n", "t.xy:4: x = 3 does not increase (x = 3 at line 3)"},
    {"1 2\n2 nan\n", "t.xy:2: y 'nan' is not finite"},
    {"1 2\ninf 3\n", "t.xy:2: x 'inf' is not finite"},
    {"1 2\n2 1e999\n", "t.xy:2: field 2 '1e999' is out of range"},
    {"1 2\n2 -1\n", "t.xy:2: negative count y = -1"},
    {"1 2 1\n2 3 0\n", "t.xy:2: sigma = 0 is not positive"},
    {"1 2\n2,,3\n", "t.xy:2: empty field"},
    {"1 2\n2,3,\n", "t.xy:2: empty field"},
    // Decimal commas, with blanks (or a tab) between the columns, whatever the step; "1,5,3 " is three columns.
    {"10,0 217\n10,1 220\n", "t.xy:1: '10,0 217' holds decimal commas"},
    {"x y\n10,02\t217,5\n", "t.xy:2: '10,02?217,5' holds decimal commas"},
    {"1 2\n2 0x10\n", "t.xy:2: field 2 '0x10'"},
    {"1 2\n2 +-3\n", "t.xy:2: field 2 '+-3'"},
    // GSAS: a BANK line with no number, or with a number and nothing after it.
    {"t\nBANK\n1 1\n", "t.xy:2: BANK line without a bank number"},
    {"t\nBANK 1\n       4       9\n", "t.xy:2: BANK line with 2 fields; expected at least BANK n npts nrec BINTYP"},
};

TEST(MeasuredPattern, BadTextNamesLineAndField) {
    for (const Bad &c : kBad) {
        int sentinel = 0;
        auto *p = reinterpret_cast<pk_measured_pattern *>(&sentinel);
        pk_error e{};
        const int32_t status = pk_measured_pattern_read_text(c.text, "t.xy", &p, &e);
        EXPECT_EQ(status, PK_ERROR_FORMAT) << c.text;
        EXPECT_EQ(e.code, PK_ERROR_FORMAT) << c.text;
        EXPECT_NE(std::string(e.message).find(c.message), std::string::npos) << c.text << " gave: " << e.message;
        EXPECT_EQ(p, nullptr) << c.text;
    }
}

TEST(MeasuredPattern, FilesAndArguments) {
    pk_measured_pattern *p = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_measured_pattern_read_file("/nonexistent/scan.xy", &p, &e), PK_ERROR_FILE);
    EXPECT_NE(std::string(e.message).find("/nonexistent/scan.xy"), std::string::npos);
    EXPECT_NE(std::string(e.message).find("No such file"), std::string::npos) << e.message;
    EXPECT_EQ(pk_measured_pattern_read_file("/", &p, &e), PK_ERROR_FILE);
    EXPECT_NE(std::string(e.message).find("/: cannot"), std::string::npos) << e.message;
    EXPECT_EQ(p, nullptr);

    // Recognised by content whatever the extension; the path opens messages.
    const std::string path = testing::TempDir() + "pk_measured_pattern_test.dat";
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const char kText[] = "angle,counts\r\n20,25\r\n21,\0\r\n";  // a NUL byte for y
    std::fwrite(kText, 1, sizeof kText - 1, f);
    std::fclose(f);
    EXPECT_EQ(pk_measured_pattern_read_file(path.c_str(), &p, &e), PK_ERROR_FORMAT);
    EXPECT_EQ(std::string(e.message), path + ":3: field 2 '?' is not a number");
    std::remove(path.c_str());

    EXPECT_EQ(pk_measured_pattern_read_text(nullptr, "t", &p, &e), PK_ERROR_ARGUMENT);
    EXPECT_EQ(pk_measured_pattern_read_text("1 1\n2 2\n", nullptr, nullptr, &e), PK_ERROR_ARGUMENT);
    EXPECT_EQ(pk_measured_pattern_read_text("1 1\n2 x\n", nullptr, &p, nullptr), PK_ERROR_FORMAT);
    EXPECT_EQ(pk_measured_pattern_count(nullptr), 0);
    EXPECT_EQ(pk_measured_pattern_x(nullptr), nullptr);
    EXPECT_EQ(pk_measured_pattern_sigma(nullptr), nullptr);
    pk_measured_pattern_free(nullptr);
}

// Arrays from the host: copied, σ = √y (1 at zero counts) when none is given,
// and the reader's rules naming the first bad point.
TEST(MeasuredPattern, FromArrays) {
    const double x[3] = {10, 10.5, 11};
    const double y[3] = {4, 2.25, 0};
    const double sigma[3] = {0.5, 7, 1e-3};
    pk_measured_pattern *p = nullptr;
    pk_error e{};
    ASSERT_EQ(pk_measured_pattern_make(x, y, nullptr, 3, &p, &e), PK_OK) << e.message;
    EXPECT_EQ(std::vector<double>(pk_measured_pattern_sigma(p), pk_measured_pattern_sigma(p) + 3),
              (std::vector<double>{2, 1.5, 1}));
    pk_measured_pattern_free(p);
    ASSERT_EQ(pk_measured_pattern_make(x, y, sigma, 3, &p, &e), PK_OK) << e.message;
    EXPECT_EQ(std::vector<double>(pk_measured_pattern_x(p), pk_measured_pattern_x(p) + 3),
              (std::vector<double>{10, 10.5, 11}));
    EXPECT_EQ(std::vector<double>(pk_measured_pattern_sigma(p), pk_measured_pattern_sigma(p) + 3),
              (std::vector<double>{0.5, 7, 1e-3}));
    pk_measured_pattern_free(p);

    const double backwards[3] = {10, 11, 11};
    const double negative[3] = {1, -2, 3};
    const double nan[3] = {1, 2, std::numeric_limits<double>::quiet_NaN()};
    const double zeroSigma[3] = {1, 0, 1};
    struct Case {
        const double *x, *y, *sigma;
        int32_t count;
        const char *message;
    } cases[] = {
        {x, y, nullptr, 1, "count = 1; at least 2"},
        {backwards, y, nullptr, 3, "point 2: x = 11 does not increase (x = 11 before it)"},
        {x, negative, nullptr, 3, "point 1: negative count y = -2"},
        {nan, y, nullptr, 3, "point 2: x = nan, y = 0 is not finite"},
        {x, y, zeroSigma, 3, "point 1: sigma = 0 is not positive"},
        {nullptr, y, nullptr, 3, "x is NULL"},
    };
    for (const Case &c : cases) {
        p = reinterpret_cast<pk_measured_pattern *>(&e);
        EXPECT_EQ(pk_measured_pattern_make(c.x, c.y, c.sigma, c.count, &p, &e), PK_ERROR_ARGUMENT) << c.message;
        EXPECT_NE(std::string(e.message).find(c.message), std::string::npos) << e.message;
        EXPECT_EQ(p, nullptr);
    }
}

// The instrument formats from files written by hand under tests/data/formats. x from start and step (2θ =
// (1000 + 5i)/100 for STD, evenly from 20 to 20.08 for XRDML), σ from the counts: √N for N counts, 1 for none;
// cps × 4 s = 100, 0, 400, 25 counts gives σ = 10/4, 1/4, 20/4, 5/4; STD's n counters averaging y hold n·y counts,
// σ = √(n·y)/n (4 × 25 → 10/4, 2 × 8 → 4/2, 3 × 12 → 6/3; a blank or 0 counter field means one).
struct FormatFile {
    const char *file;
    std::vector<double> x, y, sigma;
    double alpha1, alpha2, ratio;
};

const FormatFile kFormatFiles[] = {
    {"counts.xrdml",
     {20, 20.02, 20.04, 20.06, 20.08},
     {100, 121, 0, 144, 9},
     {10, 11, 1, 12, 3},
     1.540598,
     1.544426,
     0.5},
    {"rates.xrdml", {30, 30.5, 31.25, 32}, {25, 0, 100, 6.25}, {2.5, 0.25, 5, 1.25}, 0.7093, 0, 0},
    {"std.raw",
     {10, 10.05, 10.1, 10.15, 10.2, 10.25, 10.3, 10.35, 10.4, 10.45, 10.5, 10.55},
     {100, 25, 0, 8, 49, 64, 81, 1, 16, 36, 12, 4},
     {10, 2.5, 1, 2, 7, 8, 9, 1, 4, 6, 2, 2},
     0,
     0,
     0},
    {"esd.gsa",
     {20, 20.025, 20.05, 20.075, 20.1, 20.125},
     {10.5, 20, 0, 7.25, 100, 3},
     {2, 4.5, 1, 0.5, 10, 1.75},
     0,
     0,
     0},
    {"fxye.fxye", {15, 15.1, 15.25, 15.4, 15.6}, {12.5, 13, 0, 2000, 250}, {0.5, 3.6, 1, 44.7, 15.8}, 0, 0, 0},
};

TEST(MeasuredPattern, ReadsInstrumentFormatsByContent) {
    constexpr double kRounding = 1e-12;  // x from start + i·step, and the unit conversions, in doubles
    for (const FormatFile &c : kFormatFiles) {
        pk_measured_pattern *p = nullptr;
        pk_error e{};
        ASSERT_EQ(
            pk_measured_pattern_read_file(pk_test::testDataPath(std::string("formats/") + c.file).c_str(), &p, &e),
            PK_OK)
            << c.file << ": " << e.message;
        ASSERT_EQ(pk_measured_pattern_count(p), static_cast<int32_t>(c.x.size())) << c.file;
        for (std::size_t i = 0; i < c.x.size(); ++i) {
            EXPECT_NEAR(pk_measured_pattern_x(p)[i], c.x[i], kRounding * c.x[i]) << c.file << " point " << i;
            EXPECT_EQ(pk_measured_pattern_y(p)[i], c.y[i]) << c.file << " point " << i;
            EXPECT_NEAR(pk_measured_pattern_sigma(p)[i], c.sigma[i], kRounding * c.sigma[i]) << c.file << " " << i;
        }
        double lines[3] = {-1, -1, -1};
        ASSERT_EQ(pk_measured_pattern_wavelengths(p, &lines[0], &lines[1], &lines[2], &e), PK_OK) << e.message;
        EXPECT_NEAR(lines[0], c.alpha1, kRounding) << c.file;
        EXPECT_EQ(lines[1], c.alpha2) << c.file;
        EXPECT_EQ(lines[2], c.ratio) << c.file;
        pk_measured_pattern_free(p);
    }
    // Text columns name no wavelength; any output may be left out; a NULL pattern is refused.
    pk_measured_pattern *p = nullptr;
    pk_error e{};
    ASSERT_EQ(pk_measured_pattern_read_text("1 1\n2 2\n", "t", &p, &e), PK_OK);
    double alpha2 = -1;
    EXPECT_EQ(pk_measured_pattern_wavelengths(p, nullptr, &alpha2, nullptr, &e), PK_OK);
    EXPECT_EQ(alpha2, 0.0);
    pk_measured_pattern_free(p);
    EXPECT_EQ(pk_measured_pattern_wavelengths(nullptr, nullptr, nullptr, nullptr, &e), PK_ERROR_ARGUMENT);
}

// An XRDML document around the given <dataPoints> content and <usedWavelength> content.
std::string xrdml(const std::string &points, const std::string &lines = "<kAlpha1>1.54</kAlpha1>") {
    return "<xrdMeasurements>\n<xrdMeasurement><usedWavelength>" + lines + "</usedWavelength><scan>\n<dataPoints>" +
           points + "</dataPoints></scan></xrdMeasurement></xrdMeasurements>";
}
const std::string kAxis =
    "<positions axis=\"2Theta\"><startPosition>10</startPosition><endPosition>11</endPosition>"
    "</positions>";
const std::string kBank = "title\nBANK 1 3 1 CONST 1000 10 0 0 ";

TEST(MeasuredPattern, BadInstrumentFilesNameWhatAndWhere) {
    const std::pair<std::string, const char *> cases[] = {
        {"<xrdMeasurements><scan>", "b:1: not well-formed XML"},
        {"<?xml version=\"1.0\"?>\n<html/>", "b:2: <html>: not an XRDML file"},
        {"<xrdMeasurements/>", "<xrdMeasurements>: no <xrdMeasurement> element"},
        {"<xrdMeasurements><xrdMeasurement><scan/></xrdMeasurement></xrdMeasurements>", "no <dataPoints> element"},
        {xrdml("<positions axis=\"Omega\"/><counts>1 2</counts>"), "no <positions axis=\"2Theta\"> element"},
        {xrdml(kAxis), "b:3: <dataPoints>: no <intensities> or <counts> element"},
        {xrdml("<positions axis=\"2Theta\"><listPositions>1 2 3</listPositions></positions><counts>1 2 3 4</counts>"),
         "<listPositions>: holds 3 positions where <counts> holds 4 values"},
        {xrdml(kAxis + "<intensities>1 2 x 4</intensities>"), "<intensities>: value 3 'x' is not a number"},
        {xrdml(kAxis + "<intensities>1 -5</intensities>"), "b:3: <intensities> value 2: negative count y = -5"},
        {xrdml(kAxis + "<intensities>7</intensities>"), "<intensities>: only 1 value"},
        {xrdml("<positions axis=\"2Theta\"><startPosition>20</startPosition><endPosition>20</endPosition></positions>"
               "<counts>1 2</counts>"),
         "<positions>: startPosition 20 is not below endPosition 20"},
        {xrdml("<positions axis=\"2Theta\"><listPositions>1 3 2</listPositions></positions><counts>1 2 3</counts>"),
         "<counts> value 3: x = 2 does not increase (x = 3 at value 2)"},
        {xrdml(kAxis + "<intensities unit=\"cps\">1 2</intensities>"), "count rates (cps) without"},
        {xrdml(kAxis + "<commonCountingTime>0</commonCountingTime><intensities unit=\"cps\">1 2</intensities>"),
         "<commonCountingTime>: counting time 0 is not positive"},
        {xrdml(kAxis + "<intensities unit=\"mA\">1 2</intensities>"), "unit 'mA': expected counts or cps"},
        {xrdml(kAxis + "<counts>1 2</counts>", "<kAlpha1>abc</kAlpha1>"), "<kAlpha1>: value 1 'abc' is not a number"},
        {"title\nBANK 1 4 1 TIME_MAP 1 2 3 4 ALT\n", "b:2: BINTYP 'TIME_MAP' is not read"},
        {"title\n# note\nBANK 1 2 1 CONST 1000\n", "b:3: BANK line without bcoef1 (start) and bcoef2 (step)"},
        {"title\nBANK 1 2 1 CONST 1000 0 0 0 FXYE\n", "step bcoef2 = 0 is not positive"},
        {"title\nBANK 1 2 1 CONST 1000 5 0 0 ALT\n", "data type 'ALT' is not read"},
        {"title\nBANK 1 1.5 1 CONST 1000 5 0 0\n", "b:2: npts '1.5' is not a whole number"},
        {"title\nBANK 1 2000000000 1 CONST 1000 5 0 0\n       1\n",
         "npts = 2000000000 is more points than the 9 bytes"},
        {kBank + "FXYE\n1000 1 1\n1010 2 1\n", "b:4: the file ends after 2 of the 3 points"},
        {kBank + "FXYE\n1000 1 1\nBANK 2 3 1 CONST 1000 10 0 0 FXYE\n", "b:4: the next BANK line comes after 1 of the 3"},
        {"title\nBANK 1 2 1 SLOG 1000 2000 0.1 0 ALT\n", "data type 'ALT' is not read with BINTYP 'SLOG'"},
        {"title\nBANK 1 2 1 RALF 1000 2 1000 0.1 ESD\n", "data type 'ESD' is not read with BINTYP 'RALF'"},
        {"title\nBANK 1 2 1 SLOG 1000 2000 0 0\n", "step ratio bcoef3 = 0 is not positive"},
        {"title\nBANK 1 2 1 RALF 1000 2 1000 0 ALT\n", "step ratio bcoef4 = 0 is not positive"},
        {"title\nBANK 1 2 1 RALF 0 2 1000 0.1 ALT\n", "start bcoef1 = 0 is not positive"},
        {"title\nBANK 1 2 1 SLOG 1000 2000\n", "without bcoef1 (start), bcoef2 (end) and bcoef3 (step ratio)"},
        {kBank + "FXYE\n1000 1 1\n1010 2\n", "b:4: 2 fields where FXYE needs 3"},
        {kBank + "FXYE\n1000 1 1\n1000 2 1\n", "b:4: x = 10 does not increase (x = 10 at line 3)"},
        {kBank + "STD\n       1       2\n", "b:3: truncated record: 16 columns where 3 values need 24"},
        {kBank + "STD\n       1      -2       3\n", "b:3: value 2: negative count y = -2"},
        {kBank + "STD\n       1-1     2       3\n", "b:3: value 2 counters '-1' is not a whole number"},
        {kBank + "ESD\n     1.0     1.0     abc     1.0     3.0     1.0\n", "value 2 intensity 'abc' is not a number"},
        {kBank + "ESD\n     1.0     1.0     2.0    -1.0     3.0     1.0\n", "value 2: sigma = -1 is not positive"},
        {kBank + "ESD\n     1.0     0.0     2.0     0.0     3.0     1.0\n", "b: only 1 data point"},
    };
    for (const auto &[text, message] : cases) {
        pk_measured_pattern *p = nullptr;
        pk_error e{};
        EXPECT_EQ(pk_measured_pattern_read_text(text.c_str(), "b", &p, &e), PK_ERROR_FORMAT) << text;
        EXPECT_NE(std::string(e.message).find(message), std::string::npos) << text << "\ngave: " << e.message;
        EXPECT_EQ(p, nullptr);
    }
}


// GSAS quirks by hand. x: CONST (start + i·step)/100 degrees; SLOG start·(1 + ratio)^i µs, shown in ms
// (1000·1.5 = 1500 µs = 1.5 ms; 2000·1.25 = 2500 µs); σ of STD √(n·y)/n (2 counters × 8 → 4/2).
struct Quirk {
    const char *what, *text;
    int32_t bank, axis;
    std::vector<double> x, y, sigma;
    const char *warning;  // part of the warnings, "" for none
};

const Quirk kQuirks[] = {
    {"data beyond the count", "t\nBANK 1 2 1 CONST 1000 10 0 0 FXYE\n1000 1 1\n1010 4 2\n1020 9 3\n\n", 0,
     PK_AXIS_TWO_THETA, {10, 10.1}, {1, 4}, {1, 2},
     "g: bank 1: 1 line of data after the 2 points the BANK line names ignored (line 5)"},
    {"blank title, comment, CONS, CR LF", "  \r\n# c\r\nBANK 1 2 1 CONS 1000 5 0 0 STD\r\n       4       9\r\n", 0,
     PK_AXIS_TWO_THETA, {10, 10.05}, {4, 9}, {2, 3}, ""},
    {"SLOG ESD, esd 0 left out", "t\nBANK 1 3 1 SLOG 1000 2000 0.5 0 ESD\n     4.0     2.0     9.0     3.0     1.0     0.0\n",
     0, PK_AXIS_TOF, {1, 1.5}, {4, 9}, {2, 3}, "g: bank 1: 1 point with esd 0 (no weight) left out (line 3)"},
    {"SLOG STD", "t\nBANK 1 2 1 SLOG 2000 4000 0.25 0\n       4 2     8\n", 0, PK_AXIS_TOF, {2, 2.5}, {4, 8}, {2, 2},
     ""},
    {"SLOG FXYE off the steps", "t\nBANK 1 2 2 SLOG 1000 2000 0.1 0 FXYE\n1000 1 1\n1300 4 2\n", 0, PK_AXIS_TOF,
     {1, 1.3}, {1, 4}, {1, 2}, "1 point lies more than a quarter step off the steps"},
    {"the second bank by number",
     "t\nBANK 1 2 1 CONST 1000 10 0 0 FXYE\n1000 1 1\n1010 1 1\nBANK 2 2 1 CONST 2000 10 0 0 FXYE\n2000 4 2\n2010 9 3\n",
     2, PK_AXIS_TWO_THETA, {20, 20.1}, {4, 9}, {2, 3}, "g: read bank 2; bank 1 not read (choose one by its number)"},
};

void expectPoints(const pk_measured_pattern *p, const std::vector<double> &x, const std::vector<double> &y,
                  const std::vector<double> &sigma, const std::string &what) {
    constexpr double kRounding = 1e-12;  // x from start and step, µs to ms, in doubles
    ASSERT_EQ(pk_measured_pattern_count(p), static_cast<int32_t>(x.size())) << what;
    for (std::size_t i = 0; i < x.size(); ++i) {
        EXPECT_NEAR(pk_measured_pattern_x(p)[i], x[i], kRounding * x[i]) << what << " point " << i;
        EXPECT_EQ(pk_measured_pattern_y(p)[i], y[i]) << what << " point " << i;
        EXPECT_NEAR(pk_measured_pattern_sigma(p)[i], sigma[i], kRounding * sigma[i]) << what << " point " << i;
    }
}

TEST(MeasuredPattern, GsasQuirksReadWithWarnings) {
    for (const Quirk &c : kQuirks) {
        pk_measured_pattern *p = nullptr;
        pk_error e{};
        ASSERT_EQ(pk_measured_pattern_read_text_bank(c.text, "g", c.bank, &p, &e), PK_OK) << c.what << ": " << e.message;
        expectPoints(p, c.x, c.y, c.sigma, c.what);
        EXPECT_EQ(pk_measured_pattern_axis(p), c.axis) << c.what;
        const std::string warnings = pk_measured_pattern_warnings(p);
        EXPECT_TRUE(*c.warning == '\0' ? warnings.empty() : warnings.find(c.warning) != std::string::npos)
            << c.what << " warned: " << warnings;
        pk_measured_pattern_free(p);
    }
    pk_measured_pattern *p = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_measured_pattern_read_text_bank(kQuirks[5].text, "g", 3, &p, &e), PK_ERROR_ARGUMENT);
    EXPECT_STREQ(e.message, "g: no bank 3; it holds banks 1, 2");
    EXPECT_EQ(pk_measured_pattern_read_text_bank("1 1\n2 2\n", "g", 2, &p, &e), PK_ERROR_ARGUMENT);
    EXPECT_STREQ(e.message, "g: no bank 2; it holds one pattern");
    EXPECT_EQ(pk_measured_pattern_read_text_bank("1 1\n2 2\n", "g", -1, &p, &e), PK_ERROR_ARGUMENT);
    EXPECT_EQ(p, nullptr);
    EXPECT_STREQ(pk_measured_pattern_warnings(nullptr), "");
}

// Excerpts of real files (tests/data/README.md), first and last point worked out from their bytes and BANK lines:
// NIST660CBI STD from 1500.66 by 1.31303 centidegrees, 18 points, the last of a padded record: 2θ = (1500.66 + 17 ×
// 1.31303)/100; LaMnO3 (a title with binary bytes, CR LF) ESD from 3.00° by 0.05°, its last record padded with zeros;
// Er2Ge2O7 (a blank title) 9 points from 2.025° by 0.05° and one record more; gem05984 RALF ALT, x = TOF×32 / 32 µs,
// bank 3's fields running together; 435 SLOG FXYE with one esd-0 point; LaB6 Bruker RAW, 3040 float counts from 10°
// by 0.0197448° (the step's double at byte 888) to 10 + 3039 × 0.0197448.
struct RealFile {
    const char *file;
    int32_t bank, axis, count;
    double first[3], last[3];  // x, y, σ
    const char *warning;
};

const RealFile kRealFiles[] = {
    {"NIST660CBI_excerpt.gsas", 0, PK_AXIS_TWO_THETA, 18, {15.0066, 2364, 48.620983124572}, {15.2298151, 370, 19.235384061671}, ""},
    {"LaMnO3_excerpt.gsas", 0, PK_AXIS_TWO_THETA, 6, {3, 523, 48}, {3.25, 681, 34}, ""},
    {"Er2Ge2O7_excerpt.gss", 0, PK_AXIS_TWO_THETA, 9, {2.025, 927.65, 29.15}, {2.425, 730.22, 25.9},
     "Er2Ge2O7_excerpt.gss: bank 1: 1 line of data after the 9 points the BANK line names ignored (line 5)"},
    {"gem05984_excerpt.gss", 0, PK_AXIS_TOF, 8, {2.55446875, 2988, 83}, {2.5688125, 3905, 90},
     "gem05984_excerpt.gss: read bank 1; bank 3 not read"},
    {"gem05984_excerpt.gss", 3, PK_AXIS_TOF, 8, {14.89875, 275295, 663}, {14.982375, 1641076, 2725},
     "gem05984_excerpt.gss: read bank 3; bank 1 not read"},
    {"435_excerpt.gda", 1, PK_AXIS_TOF, 7, {7.2665, 2, 1.41}, {7.3175, 2, 1.41},
     "435_excerpt.gda: bank 1: 1 point with esd 0 (no weight) left out (line 12)"},
    {"LaB6_Jan2018.raw", 0, PK_AXIS_TWO_THETA, 3040, {10, 7393, 85.982556370464}, {70.0044472, 1110, 33.316662497915}, ""},
};

TEST(MeasuredPattern, RealFilesByBank) {
    for (const RealFile &c : kRealFiles) {
        pk_measured_pattern *p = nullptr;
        pk_error e{};
        const std::string path = pk_test::testDataPath(std::string("formats/") + c.file);
        ASSERT_EQ(pk_measured_pattern_read_file_bank(path.c_str(), c.bank, &p, &e), PK_OK) << c.file << ": " << e.message;
        const int32_t n = pk_measured_pattern_count(p);
        ASSERT_EQ(n, c.count) << c.file;
        EXPECT_EQ(pk_measured_pattern_axis(p), c.axis) << c.file;
        const double *columns[3] = {pk_measured_pattern_x(p), pk_measured_pattern_y(p), pk_measured_pattern_sigma(p)};
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(columns[k][0], c.first[k], 1e-11 * c.first[k]) << c.file << " column " << k;
            EXPECT_NEAR(columns[k][n - 1], c.last[k], 1e-11 * c.last[k]) << c.file << " column " << k;
        }
        const std::string warnings = pk_measured_pattern_warnings(p);
        EXPECT_TRUE(*c.warning == '\0' ? warnings.empty() : warnings.find(c.warning) != std::string::npos)
            << c.file << " warned: " << warnings;
        pk_measured_pattern_free(p);
    }
    // The RAW file's lines (Cu Kα1, Kα2, ratio: doubles at bytes 624, 632, 648), and its faults by byte offset.
    const std::string raw = pk_test::testDataPath("formats/LaB6_Jan2018.raw");
    pk_measured_pattern *p = nullptr;
    pk_error e{};
    ASSERT_EQ(pk_measured_pattern_read_file(raw.c_str(), &p, &e), PK_OK) << e.message;
    double lines[3] = {0, 0, 0};
    pk_measured_pattern_wavelengths(p, &lines[0], &lines[1], &lines[2], &e);
    EXPECT_EQ(std::vector<double>(lines, lines + 3), (std::vector<double>{1.5406, 1.54439, 0.5}));
    pk_measured_pattern_free(p);
    EXPECT_EQ(pk_measured_pattern_read_file_bank(raw.c_str(), 2, &p, &e), PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("no range 2; it holds range 1"), std::string::npos) << e.message;
    std::FILE *in = std::fopen(raw.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::vector<char> bytes(13216);
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), in), bytes.size());
    std::fclose(in);
    const std::string cut = testing::TempDir() + "pk_cut.raw";
    for (const auto &[size, message] : {std::pair<std::size_t, const char *>{5000, "byte 1056: the file ends within range 1's 3040 counts"},
                                        {900, "byte 712: the file ends within range 1's header"}}) {
        std::FILE *out = std::fopen(cut.c_str(), "wb");
        std::fwrite(bytes.data(), 1, size, out);
        std::fclose(out);
        EXPECT_EQ(pk_measured_pattern_read_file(cut.c_str(), &p, &e), PK_ERROR_FORMAT);
        EXPECT_NE(std::string(e.message).find(message), std::string::npos) << e.message;
    }
    std::remove(cut.c_str());
}

}  // namespace
