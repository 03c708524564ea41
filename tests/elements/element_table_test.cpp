// The built-in element table text: its structure, every data row against the
// reference table and its electron count, and the file that load writes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "elements/elements.hpp"
#include "frame/lifetime.hpp"
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

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A fresh directory, removed with its ASF.dat at the end of the test.
struct ScratchDirectory {
    std::string path;
    ScratchDirectory() {
        char pattern[] = "/tmp/pk_elements_XXXXXX";
        path = mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~ScratchDirectory() {
        std::remove(file().c_str());
        rmdir(path.c_str());
    }
    std::string file() const { return path + "/ASF.dat"; }
};

TEST(ElementTable, TextHas56CommentLinesThen103RowsWithLineFeedsOnly) {
    EXPECT_EQ(std::strlen(powderkit::kElementTableText), kText.size());
    EXPECT_EQ(kText.find('\r'), std::string::npos);
    EXPECT_EQ(kText.back(), '\n');
    for (unsigned char c : kText)
        ASSERT_TRUE(c == '\t' || c == '\n' || (c >= 32 && c < 127)) << int(c);
    const std::vector<std::string> lines = linesOf(kText);
    ASSERT_EQ(lines.size(), 159u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_FALSE(lines[i].empty()) << "line " << i + 1;
        EXPECT_EQ(lines[i][0] == '!', i < 56) << "line " << i + 1 << ": " << lines[i];
    }
    EXPECT_NE(lines[1].find("ASF.txt - Element diffraction properties"), std::string::npos);
    EXPECT_LT(kText.find("DESCRIPTION"), kText.find("ACKNOWLEDGEMENTS"));
    EXPECT_NE(kText.find("Neutron News, Vol. 3, No. 3 (1992), pp. 29-37"), std::string::npos);
    EXPECT_EQ(lines[53].substr(0, 3) + lines[55].substr(0, 3), "!--!--");
    EXPECT_EQ(fieldsOf(lines[54]),
              (std::vector<std::string>{"!Z", "W", "a(1)", "b(1)", "a(2)", "b(2)", "a(3)", "b(3)",
                                        "a(4)", "b(4)", "c", "b", "Note"}));
}

TEST(ElementTable, EveryRowEqualsItsReferenceRowAndItsElectronCount) {
    const std::vector<pk_test::ElementRow> &reference = pk_test::elementRows();
    const std::vector<std::string> lines = linesOf(kText);
    ASSERT_EQ(reference.size(), 103u);
    ASSERT_EQ(lines.size(), 159u);
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const std::vector<std::string> fields = fieldsOf(lines[56 + i]);
        const std::vector<std::string> &expected = reference[i].fields;
        ASSERT_EQ(fields.size(), reference[i].note.empty() ? 13u : 14u) << lines[56 + i];
        EXPECT_TRUE(std::equal(fields.begin(), fields.end(), expected.begin())) << lines[56 + i];
        // a1 + a2 + a3 + a4 + c against the electrons: Z, but 2 for H- and
        // Li+ and the 8 of O for OH and Wa.
        const std::string &symbol = fields[0];
        int electrons = std::atoi(fields[1].c_str());
        if (symbol == "H-" || symbol == "Li+") electrons = 2;
        if (symbol == "OH" || symbol == "Wa") electrons = 8;
        double sum = 0.0;
        for (std::size_t j : {3u, 5u, 7u, 9u, 11u}) sum += std::strtod(fields[j].c_str(), nullptr);
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

TEST(ElementTable, LoadWritesTheTextWithCarriageReturnsOverAnyEarlierFile) {
    ScratchDirectory directory;
    ASSERT_FALSE(directory.path.empty());
    std::ofstream(directory.file(), std::ios::binary) << std::string(40000, 'x');
    load(directory.path.c_str());
    load(directory.path.c_str());
    const std::string written = readFile(directory.file());
    ASSERT_EQ(written.size(), kText.size() + 159);
    // 159 CR LF pairs, and nothing else changed.
    std::size_t pairs = 0;
    for (std::size_t at = 0; (at = written.find("\r\n", at)) != std::string::npos; at += 2) ++pairs;
    EXPECT_EQ(pairs, 159u);
    std::string withoutReturns = written;
    withoutReturns.erase(std::remove(withoutReturns.begin(), withoutReturns.end(), '\r'),
                         withoutReturns.end());
    EXPECT_EQ(withoutReturns, kText);
    EXPECT_EQ(written[0], '!');
    EXPECT_EQ(written.substr(written.rfind('\n', written.size() - 2) + 1, 3), "Cf ");
}

TEST(ElementTable, LoadIntoAMissingDirectoryOrWithoutAProcessCopyWritesNothing) {
    ScratchDirectory parent;
    const std::string missing = parent.path + "/absent";
    load(missing.c_str());
    load(nullptr);
    EXPECT_FALSE(exists(missing));
    EXPECT_FALSE(exists(missing + "\\ASF.dat"));
    // A load-time copy that failed to allocate leaves load doing nothing.
    powderkit::releaseProcessTexts();
    pk_test::failAllocationNumber(1);
    powderkit::initializeProcessTexts();
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(powderkit::elementTableText(), nullptr);
    load(parent.path.c_str());
    EXPECT_FALSE(exists(parent.file()));
    powderkit::initializeProcessTexts();
    ASSERT_NE(powderkit::elementTableText(), nullptr);
    EXPECT_EQ(std::string(powderkit::elementTableText()), kText);
    EXPECT_NE(powderkit::elementTableText(), powderkit::kElementTableText);
}

}  // namespace
