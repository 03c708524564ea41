// Reading the reference data checked into tests/data (tab-separated tables
// whose lines starting with '#' are comments).
#ifndef PK_TEST_TEST_DATA_HPP
#define PK_TEST_TEST_DATA_HPP

#include <string>
#include <vector>

namespace pk_test {

// Absolute path of a file under tests/data.
std::string testDataPath(const std::string &name);

// The rows of a tab-separated file under tests/data, comment lines skipped;
// empty when the file cannot be read.
std::vector<std::vector<std::string>> readTable(const std::string &name);

}  // namespace pk_test

#endif
