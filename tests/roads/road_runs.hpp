// Running the example hosts as a user runs them, and reading what they write.
#ifndef PK_TEST_ROAD_RUNS_HPP
#define PK_TEST_ROAD_RUNS_HPP

#include <string>
#include <vector>

namespace pk_roads {

struct Run {
    int status = -1;     // exit status of the program
    std::string output;  // its standard output
};

// Runs `program` with `arguments` (already quoted where needed) in a shell,
// standard error passed through.
Run runProgram(const std::string &program, const std::string &arguments);

// A fresh, empty folder for one run under the build's scratch folder.
std::string scratchFolder(const std::string &name);

// The tab- or space-separated rows of a file, comment lines ('#') skipped.
std::vector<std::vector<std::string>> readRows(const std::string &path);

struct Pattern {
    std::vector<double> x, y;
};
Pattern readPattern(const std::string &path);

}  // namespace pk_roads

#endif
