#include "support/test_data.hpp"

#include <fstream>
#include <sstream>

namespace pk_test {

std::string testDataPath(const std::string &name) { return std::string(PK_TEST_DATA_DIR) + "/" + name; }

std::vector<std::vector<std::string>> readTable(const std::string &name) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(testDataPath(name));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream stream(line);
        std::string field;
        while (std::getline(stream, field, '\t')) fields.push_back(field);
        if (!line.empty() && line.back() == '\t') fields.emplace_back();
        rows.push_back(fields);
    }
    return rows;
}

}  // namespace pk_test
