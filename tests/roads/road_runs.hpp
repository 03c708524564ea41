// Running the example hosts as a user runs them, and reading what they write.
#ifndef PK_TEST_ROAD_RUNS_HPP
#define PK_TEST_ROAD_RUNS_HPP

#include <array>
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

// The comment line "# key<TAB>value" of a file, as a number (NaN if absent).
double commentValue(const std::string &path, const std::string &key);

struct Pattern {
    std::vector<double> x, y;
};
Pattern readPattern(const std::string &path);

// The rotations of a space group from tests/data/spacegroups.tsv.
std::vector<std::array<int, 9>> spaceGroupRotations(const std::string &spaceGroup);

// True when h2 is h1·R or −h1·R for one of the rotations (the two planes
// belong to one set of equivalent reflexions, Friedel mates included).
bool equivalentPlanes(const std::vector<std::array<int, 9>> &rotations,
                      const std::array<int, 3> &h1, const std::array<int, 3> &h2);

}  // namespace pk_roads

#endif
