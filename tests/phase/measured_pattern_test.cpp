// The measured-pattern reader: good texts against hand-read values, bad texts by status and the line or field their
// message names, and file errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "powderkit_phase.h"

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
     {5, 6}, {1, 4}, {1, 2}},
    {"CR LF and no final newline", "x,y,s\r\n1,1,2\r\n2,0,3", {1, 2}, {1, 0}, {2, 3}},
    {"exponents, signs, byte-order mark", "\xEF\xBB\xBF-1.5e1 2.5e-1\n+1E0 1e2\n", {-15, 1},
     {0.25, 100}, {0.5, 10}},
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
        EXPECT_NE(std::string(e.message).find(c.message), std::string::npos)
            << c.text << " gave: " << e.message;
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
    EXPECT_EQ(pk_measured_pattern_read_text("1 1\n2 2\n", nullptr, nullptr, &e),
              PK_ERROR_ARGUMENT);
    EXPECT_EQ(pk_measured_pattern_read_text("1 1\n2 x\n", nullptr, &p, nullptr),
              PK_ERROR_FORMAT);
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

}  // namespace
