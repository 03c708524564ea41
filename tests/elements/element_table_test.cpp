// The built-in element table text: its structure, every data row against the
// reference table, the electron count of every row, and the file that load
// writes (CR LF line ends, truncation, a missing directory, no process copy).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
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

std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t feed; (feed = text.find('\n', start)) != std::string::npos; start = feed + 1) {
        lines.push_back(text.substr(start, feed - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// A data row split into its whitespace-separated fields, the quoted note
// (without its quotes) kept as one field.
std::vector<std::string> splitRow(const std::string &line) {
    std::vector<std::string> fields;
    const std::size_t quote = line.find('"');
    std::istringstream stream(line.substr(0, quote));
    for (std::string field; stream >> field;) fields.push_back(field);
    if (quote != std::string::npos) {
        const std::size_t closing = line.rfind('"');
        fields.push_back(line.substr(quote + 1, closing - quote - 1));
    }
    return fields;
}

std::string compiledText() {
    return std::string(powderkit::kElementTableText, powderkit::kElementTableTextLength);
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A fresh empty directory under the temporary directory, removed with its
// ASF.dat at the end of the test.
class ScratchDirectory {
  public:
    ScratchDirectory() {
        char pattern[] = "/tmp/pk_elements_XXXXXX";
        const char *made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~ScratchDirectory() {
        std::remove(file().c_str());
        rmdir(path_.c_str());
    }
    const std::string &path() const { return path_; }
    std::string file() const { return path_ + "/ASF.dat"; }

  private:
    std::string path_;
};

TEST(ElementTable, TextHas56CommentLinesThen103RowsWithLineFeedsOnly) {
    const std::string text = compiledText();
    EXPECT_EQ(std::strlen(powderkit::kElementTableText), powderkit::kElementTableTextLength);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    ASSERT_EQ(text.back(), '\n');
    for (unsigned char c : text) ASSERT_TRUE(c == '\t' || c == '\n' || (c >= 32 && c < 127)) << int(c);
    const std::vector<std::string> lines = splitLines(text);
    ASSERT_EQ(lines.size(), 159u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_FALSE(lines[i].empty()) << "line " << i + 1;
        EXPECT_EQ(lines[i][0] == '!', i < 56) << "line " << i + 1 << ": " << lines[i];
    }
    // The banner names the file, the sections follow in order, and the column
    // header sits between two rules just above the first row.
    EXPECT_NE(lines[1].find("ASF.txt"), std::string::npos);
    EXPECT_NE(lines[1].find("Element diffraction properties"), std::string::npos);
    const std::size_t description = text.find("DESCRIPTION");
    const std::size_t acknowledgements = text.find("ACKNOWLEDGEMENTS");
    ASSERT_NE(description, std::string::npos);
    ASSERT_NE(acknowledgements, std::string::npos);
    EXPECT_LT(description, acknowledgements);
    EXPECT_NE(text.find("Neutron News, Vol. 3, No. 3 (1992)"), std::string::npos);
    EXPECT_NE(text.find("2nd Edition, 1999"), std::string::npos);
    EXPECT_EQ(lines[53].substr(0, 2), "!-");
    EXPECT_EQ(lines[55].substr(0, 2), "!-");
    const std::vector<std::string> header = splitRow(lines[54]);
    const std::vector<std::string> expectedHeader = {"!Z", "W", "a(1)", "b(1)", "a(2)", "b(2)", "a(3)",
                                                     "b(3)", "a(4)", "b(4)", "c", "b", "Note"};
    EXPECT_EQ(header, expectedHeader);
}

TEST(ElementTable, ProcessCopyEqualsTheCompiledText) {
    ASSERT_NE(powderkit::elementTableText(), nullptr);
    EXPECT_NE(powderkit::elementTableText(), powderkit::kElementTableText);
    EXPECT_EQ(std::string(powderkit::elementTableText()), compiledText());
}

TEST(ElementTable, EveryRowEqualsTheReferenceRow) {
    const std::vector<pk_test::ElementRow> &reference = pk_test::elementRows();
    ASSERT_EQ(reference.size(), 103u);
    const std::vector<std::string> lines = splitLines(compiledText());
    ASSERT_EQ(lines.size(), 159u);
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const std::vector<std::string> fields = splitRow(lines[56 + i]);
        const std::vector<std::string> &expected = reference[i].fields;
        const std::size_t expectedCount = reference[i].note.empty() ? 13 : 14;
        ASSERT_EQ(fields.size(), expectedCount) << lines[56 + i];
        for (std::size_t j = 0; j < expectedCount; ++j) {
            EXPECT_EQ(fields[j], expected[j]) << reference[i].symbol << " column " << j + 1;
        }
    }
    // Two rows exactly as they stand, the second with a tab before its
    // negative c.
    EXPECT_EQ(lines[56 + 30],
              "Fe    26     55.845   11.769500    4.761100    7.357300    0.307200    3.522200"
              "   15.353500    2.304500   76.880501    1.036900    9.45");
    EXPECT_EQ(lines[56 + 9],
              "N      7     14.007   12.212600    0.005700    3.132200    9.893300    2.012500"
              "   28.997499    1.166300    0.582600\t-11.529000    9.36");
    EXPECT_EQ(lines.back().substr(0, 2), "Cf");
}

TEST(ElementTable, EveryRowSumsToItsElectronCount) {
    const std::vector<std::string> lines = splitLines(compiledText());
    ASSERT_EQ(lines.size(), 159u);
    for (std::size_t i = 56; i < lines.size(); ++i) {
        const std::vector<std::string> fields = splitRow(lines[i]);
        ASSERT_GE(fields.size(), 12u);
        const std::string &symbol = fields[0];
        int electrons = std::atoi(fields[1].c_str());
        if (symbol == "H-" || symbol == "Li+") electrons = 2;
        if (symbol == "OH" || symbol == "Wa") electrons = 8;
        double sum = 0.0;
        for (std::size_t j : {3u, 5u, 7u, 9u, 11u}) sum += std::strtod(fields[j].c_str(), nullptr);
        EXPECT_NEAR(sum, electrons, 0.06) << symbol;
    }
}

TEST(ElementTable, LoadWritesTheTextWithCarriageReturns) {
    ScratchDirectory directory;
    ASSERT_FALSE(directory.path().empty());
    load(directory.path().c_str());
    const std::string written = readFile(directory.file());
    EXPECT_EQ(written.size(), powderkit::kElementTableTextLength + 159);
    std::size_t lineCount = 0;
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '\n') {
            ++lineCount;
            ASSERT_TRUE(i > 0 && written[i - 1] == '\r') << "byte " << i;
        } else if (written[i] == '\r') {
            ASSERT_TRUE(i + 1 < written.size() && written[i + 1] == '\n') << "byte " << i;
        }
    }
    EXPECT_EQ(lineCount, 159u);
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written[0], '!');
    const std::size_t lastLine = written.rfind('\n', written.size() - 2) + 1;
    EXPECT_EQ(written.substr(lastLine, 3), "Cf ");
    std::string withoutReturns;
    for (char c : written) {
        if (c != '\r') withoutReturns += c;
    }
    EXPECT_EQ(withoutReturns, compiledText());
}

TEST(ElementTable, LoadTruncatesAnEarlierFile) {
    ScratchDirectory directory;
    {
        std::ofstream earlier(directory.file(), std::ios::binary);
        earlier << std::string(40000, 'x');
    }
    load(directory.path().c_str());
    const std::string once = readFile(directory.file());
    load(directory.path().c_str());
    const std::string twice = readFile(directory.file());
    EXPECT_EQ(once.size(), powderkit::kElementTableTextLength + 159);
    EXPECT_EQ(twice, once);
}

TEST(ElementTable, LoadIntoAMissingDirectoryLeavesNothing) {
    ScratchDirectory parent;
    const std::string missing = parent.path() + "/absent";
    load(missing.c_str());
    EXPECT_FALSE(fileExists(missing));
    EXPECT_FALSE(fileExists(missing + "/ASF.dat"));
    EXPECT_FALSE(fileExists(missing + "\\ASF.dat"));
    load(nullptr);  // returns normally
}

TEST(ElementTable, LoadWritesNothingWithoutAProcessCopyOrAPath) {
    ScratchDirectory directory;
    // The load-time copy failing to allocate leaves no copy; load then does
    // nothing rather than crash.
    powderkit::releaseProcessTexts();
    pk_test::failAllocationNumber(1);
    powderkit::initializeProcessTexts();
    pk_test::disarmAllocationFailure();
    EXPECT_EQ(powderkit::elementTableText(), nullptr);
    load(directory.path().c_str());
    EXPECT_FALSE(fileExists(directory.file()));
    powderkit::initializeProcessTexts();
    ASSERT_NE(powderkit::elementTableText(), nullptr);
    // The path itself failing to allocate writes nothing either.
    pk_test::failAllocationNumber(1);
    load(directory.path().c_str());
    pk_test::disarmAllocationFailure();
    EXPECT_FALSE(fileExists(directory.file()));
    load(directory.path().c_str());
    EXPECT_EQ(readFile(directory.file()).size(), powderkit::kElementTableTextLength + 159);
}

}  // namespace
