#include "roads/road_runs.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_data.hpp"

namespace pk_roads {

Run runProgram(const std::string &program, const std::string &arguments) {
    Run run;
    const std::string command = "'" + program + "' " + arguments;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string scratchFolder(const std::string &name) {
    const std::filesystem::path folder = std::filesystem::path(PK_ROADS_OUTPUT) / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder.parent_path());
    return folder.string();
}

std::vector<std::vector<std::string>> readRows(const std::string &path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::istringstream stream(line);
        std::string field;
        while (stream >> field) fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

double commentValue(const std::string &path, const std::string &key) {
    std::ifstream in(path);
    std::string line;
    const std::string prefix = "# " + key + "\t";
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            return std::strtod(line.c_str() + prefix.size(), nullptr);
        }
    }
    return std::nan("");
}

Pattern readPattern(const std::string &path) {
    Pattern pattern;
    for (const auto &row : readRows(path)) {
        if (row.size() < 2) continue;
        pattern.x.push_back(std::strtod(row[0].c_str(), nullptr));
        pattern.y.push_back(std::strtod(row[1].c_str(), nullptr));
    }
    return pattern;
}

std::vector<std::array<int, 9>> spaceGroupRotations(const std::string &spaceGroup) {
    std::vector<std::array<int, 9>> rotations;
    for (const auto &row : pk_test::readTable("spacegroups.tsv")) {
        if (row.size() < 3 || row[0] != spaceGroup) continue;
        std::array<int, 9> r{};
        std::istringstream entries(row[2]);
        for (int &entry : r) entries >> entry;
        rotations.push_back(r);
    }
    return rotations;
}

bool equivalentPlanes(const std::vector<std::array<int, 9>> &rotations,
                      const std::array<int, 3> &h1, const std::array<int, 3> &h2) {
    for (const auto &r : rotations) {
        // Plane indices transform as the row vector h·R.
        std::array<int, 3> image{};
        for (int j = 0; j < 3; ++j) image[j] = h1[0] * r[j] + h1[1] * r[3 + j] + h1[2] * r[6 + j];
        if (image == h2) return true;
        if (image[0] == -h2[0] && image[1] == -h2[1] && image[2] == -h2[2]) return true;
    }
    return false;
}

}  // namespace pk_roads
