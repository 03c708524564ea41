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
     "# made by hand\n! instrument\n2theta  counts\n\n  # indented\n5 1  # trailing\n6 4 ! also\n",
     {5, 6},
     {1, 4},
     {1, 2}},
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
    {"1 2\n2 0x10\n", "t.xy:2: field 2 '0x10'"},
    {"1 2\n2 +-3\n", "t.xy:2: field 2 '+-3'"},
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
        {kBank + "FXYE\n1000 1 1\n1010 2 1\n1020 3 1\n1030 4 1\n", "b:6: data after the 3 points"},
        {kBank + "FXYE\n1000 1 1\n1010 2\n", "b:4: 2 fields where FXYE needs 3"},
        {kBank + "FXYE\n1000 1 1\n1000 2 1\n", "b:4: x = 10 does not increase (x = 10 at line 3)"},
        {kBank + "STD\n       1       2\n", "b:3: truncated record: 16 columns where 3 values need 24"},
        {kBank + "STD\n       1      -2       3\n", "b:3: value 2: negative count y = -2"},
        {kBank + "STD\n       1-1     2       3\n", "b:3: value 2 counters '-1' is not a whole number"},
        {kBank + "ESD\n     1.0     1.0     abc     1.0     3.0     1.0\n", "value 2 intensity 'abc' is not a number"},
        {kBank + "ESD\n     1.0     1.0     2.0     0.0     3.0     1.0\n", "value 2: sigma = 0 is not positive"},
    };
    for (const auto &[text, message] : cases) {
        pk_measured_pattern *p = nullptr;
        pk_error e{};
        EXPECT_EQ(pk_measured_pattern_read_text(text.c_str(), "b", &p, &e), PK_ERROR_FORMAT) << text;
        EXPECT_NE(std::string(e.message).find(message), std::string::npos) << text << "\ngave: " << e.message;
        EXPECT_EQ(p, nullptr);
    }
}

}  // namespace
