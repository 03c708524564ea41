// The built-in element table text: its structure, every data row against the
// reference table and its electron count, and the file that load writes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "elements/elements.hpp"
#include "support/allocation_failure.hpp"
#include "support/element_data.hpp"

namespace {

const std::string kText(powderkit::kElementTableText, powderkit::kElementTableTextLength);

std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// Whitespace-separated fields; a quoted note (without its quotes) is one field.
std::vector<std::string> fieldsOf(const std::string &line) {
    std::vector<std::string> fields;
    const std::size_t quote = line.find('"');
    std::istringstream stream(line.substr(0, quote));
    for (std::string field; stream >> field;) fields.push_back(field);
    if (quote != std::string::npos)
        fields.push_back(line.substr(quote + 1, line.rfind('"') - quote - 1));
    return fields;
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// A fresh directory, removed with its ASF.dat at the end of the test.
struct ScratchDirectory {
    char path[32] = "/tmp/pk_elements_XXXXXX";
    const bool made = mkdtemp(path) != nullptr;
    const std::string file = std::string(path) + "/ASF.dat";
    ~ScratchDirectory() {
        std::remove(file.c_str());
        rmdir(path);
    }
};

TEST(ElementTable, TextOf56CommentLinesAnd103RowsEqualToTheReference) {
    EXPECT_EQ(std::strlen(powderkit::kElementTableText), kText.size());
    for (const unsigned char c : kText) ASSERT_TRUE(c == '\t' || c == '\n' || (c >= 32 && c < 127));
    EXPECT_EQ(kText.back(), '\n');
    const std::vector<std::string> lines = linesOf(kText);
    const std::vector<pk_test::ElementRow> &reference = pk_test::elementRows();
    ASSERT_EQ(lines.size(), 159u);
    ASSERT_EQ(reference.size(), 103u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_FALSE(lines[i].empty()) << "line " << i + 1;
        EXPECT_EQ(lines[i][0] == '!', i < 56) << "line " << i + 1 << ": " << lines[i];
    }
    EXPECT_NE(lines[1].find("ASF.txt - Element diffraction properties"), std::string::npos);
    EXPECT_LT(kText.find("DESCRIPTION"), kText.find("ACKNOWLEDGEMENTS"));
    EXPECT_NE(kText.find("Neutron News, Vol. 3, No. 3 (1992), pp. 29-37"), std::string::npos);
    EXPECT_EQ(lines[53].substr(0, 3) + lines[55].substr(0, 3), "!--!--");
    EXPECT_EQ(fieldsOf(lines[54]), (std::vector<std::string>{"!Z", "W", "a(1)", "b(1)", "a(2)", "b(2)",
                                                            "a(3)", "b(3)", "a(4)", "b(4)", "c", "b",
                                                            "Note"}));
    for (std::size_t i = 0; i < reference.size(); ++i) {
        std::vector<std::string> fields = fieldsOf(lines[56 + i]);
        if (fields.size() == 13) fields.emplace_back();  // no note: the reference's is empty
        EXPECT_EQ(fields, reference[i].fields) << lines[56 + i];
        // a1 + a2 + a3 + a4 + c is Z, but 2 for H- and Li+ and the 8 of O for OH and Wa.
        const std::string &symbol = reference[i].symbol;
        double sum = reference[i].coefficients[8];
        for (int j = 0; j < 8; j += 2) sum += reference[i].coefficients[j];
        const int electrons = symbol == "H-" || symbol == "Li+" ? 2
                              : symbol == "OH" || symbol == "Wa" ? 8
                                                                 : reference[i].atomicNumber;
        EXPECT_NEAR(sum, electrons, 0.06) << symbol;
    }
    // Two rows exactly as they stand, the second with a tab before its negative c.
    EXPECT_EQ(lines[56 + 30],
              "Fe    26     55.845   11.769500    4.761100    7.357300    0.307200"
              "    3.522200   15.353500    2.304500   76.880501    1.036900    9.45");
    EXPECT_EQ(lines[56 + 9],
              "N      7     14.007   12.212600    0.005700    3.132200    9.893300"
              "    2.012500   28.997499    1.166300    0.582600\t-11.529000    9.36");
}

TEST(ElementTable, LoadWritesTheTextWithCarriageReturnsOrNothing) {
    ScratchDirectory directory;
    ASSERT_TRUE(directory.made);
    std::ofstream(directory.file, std::ios::binary) << std::string(40000, 'x');
    load(directory.path);
    load(directory.path);  // truncates, not appends
    std::string expected;
    for (const char c : kText) expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::ifstream in(directory.file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected);
    // A missing directory, no directory, a failed path allocation: nothing written, no
    // "absent\ASF.dat" beside it.
    const std::string missing = std::string(directory.path) + "/absent";
    load(missing.c_str());
    load(nullptr);
    EXPECT_FALSE(exists(missing) || exists(missing + "\\ASF.dat"));
    pk_test::forEachAllocationFailure([&] { load(directory.path); });
    // A load-time copy that failed to allocate leaves load doing nothing.
    std::remove(directory.file.c_str());
    powderkit::releaseProcessTexts();
    pk_test::failAllocationNumber(1);
    powderkit::initializeProcessTexts();
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(powderkit::elementTableText(), nullptr);
    load(directory.path);
    EXPECT_FALSE(exists(directory.file));
    powderkit::initializeProcessTexts();
    ASSERT_NE(powderkit::elementTableText(), nullptr);
    EXPECT_EQ(std::string(powderkit::elementTableText()), kText);
    EXPECT_NE(powderkit::elementTableText(), powderkit::kElementTableText);
}

}  // namespace
