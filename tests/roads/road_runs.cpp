#include "roads/road_runs.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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

Pattern readPattern(const std::string &path) {
    Pattern pattern;
    for (const auto &row : readRows(path)) {
        if (row.size() < 2) continue;
        pattern.x.push_back(std::strtod(row[0].c_str(), nullptr));
        pattern.y.push_back(std::strtod(row[1].c_str(), nullptr));
    }
    return pattern;
}

}  // namespace pk_roads
