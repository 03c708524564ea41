// The record of the allocation-failure sweeps and the summary printed when
// the suite ends.
#include "sweep.hpp"

#include <link.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace pk_reliability {
namespace {

struct Record {
    long allocationsPerCall = 0;
    long sweeps = 0;
};

std::map<std::string, Record> &records() {
    static std::map<std::string, Record> all;
    return all;
}

std::set<const void *> &sitesStruck() {
    static std::set<const void *> all;
    return all;
}

long &failuresInjected() {
    static long total = 0;
    return total;
}

int recordLoadBias(struct dl_phdr_info *info, std::size_t, void *data) {
    // The first object reported is the executable itself.
    *static_cast<uintptr_t *>(data) = static_cast<uintptr_t>(info->dlpi_addr);
    return 1;
}

// The source locations (file:line) of the struck call sites inside the
// library sources, by addr2line on this executable; empty when addr2line
// cannot be run.
std::set<std::string> sourceSites() {
    std::set<std::string> locations;
    uintptr_t bias = 0;
    dl_iterate_phdr(recordLoadBias, &bias);
    char executable[4096];
    const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length <= 0) return locations;
    executable[length] = '\0';
    std::string command = std::string("addr2line -e '") + executable + "'";
    char text[32];
    for (const void *site : sitesStruck()) {
        // One byte back: inside the call instruction rather than after it.
        std::snprintf(text, sizeof text, " %#lx",
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(site) - bias - 1));
        command += text;
    }
    std::FILE *pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return locations;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string location(line);
        const std::size_t cut = location.find_first_of(" \n");
        location = location.substr(0, cut);
        const std::size_t src = location.rfind("/src/");
        if (src != std::string::npos) locations.insert(location.substr(src + 1));
    }
    pclose(pipe);
    return locations;
}

// Every line of the library sources that calls malloc, calloc or realloc, as
// "src/<folder>/<file>:<line>".
std::set<std::string> allocationLinesInSources() {
    std::set<std::string> lines;
    const std::string top = std::string(PK_TEST_DATA_DIR) + "/../../src";
    const std::regex call("std::(malloc|calloc|realloc)\\(");
    DIR *folders = opendir(top.c_str());
    if (folders == nullptr) return lines;
    while (dirent *folder = readdir(folders)) {
        if (folder->d_name[0] == '.') continue;
        const std::string path = top + "/" + folder->d_name;
        DIR *files = opendir(path.c_str());
        if (files == nullptr) continue;
        while (dirent *file = readdir(files)) {
            const std::string name = file->d_name;
            if (name.size() < 5 || name.compare(name.size() - 4, 4, ".cpp") != 0) continue;
            std::ifstream in(path + "/" + name);
            std::string text;
            for (int number = 1; std::getline(in, text); ++number) {
                const std::size_t code = text.find_first_not_of(" ");
                if (code != std::string::npos && text.compare(code, 2, "//") == 0) continue;
                if (std::regex_search(text, call)) {
                    lines.insert("src/" + std::string(folder->d_name) + "/" + name + ":" +
                                 std::to_string(number));
                }
            }
        }
        closedir(files);
    }
    closedir(folders);
    return lines;
}

class SummaryPrinter : public ::testing::Environment {
public:
    void TearDown() override {
        if (records().empty()) return;
        std::printf("\nAllocation-failure sweep: calls swept (allocations each makes when nothing fails)\n");
        for (const auto &entry : records()) {
            std::printf("  %-58s %4ld\n", entry.first.c_str(), entry.second.allocationsPerCall);
        }
        const std::set<std::string> locations = sourceSites();
        std::printf("Allocation call sites of the library struck:\n");
        for (const std::string &location : locations) std::printf("  %s\n", location.c_str());
        std::printf("%zu calls swept, %ld allocation failures injected, %zu distinct call "
                    "instructions struck, %zu distinct allocation sites in the library source\n",
                    records().size(), failuresInjected(), sitesStruck().size(), locations.size());
        const std::set<std::string> all = allocationLinesInSources();
        std::string missed;
        for (const std::string &line : all) {
            if (locations.count(line) == 0) missed += "  " + line + "\n";
        }
        std::printf("%zu allocation calls in the library sources; not struck by the sweep:\n%s",
                    all.size(), missed.empty() ? "  (none)\n" : missed.c_str());
        // A whole run must reach every allocation call of the library (a
        // filtered run cannot, and addr2line may be missing). A new call site
        // needs a sweep of the function that reaches it, here in
        // tests/reliability.
        const bool wholeRun = ::testing::GTEST_FLAG(filter) == "*";
        if (wholeRun && !locations.empty() && !missed.empty()) {
            ADD_FAILURE() << "allocation calls that no sweep reaches:\n" << missed;
        }
    }
};

const bool kRegistered =
    (::testing::AddGlobalTestEnvironment(new SummaryPrinter), true);

}  // namespace

void recordSweep(const char *name, long allocationsPerCall,
                 const std::vector<const void *> &sites) {
    (void)kRegistered;
    Record &record = records()[name];
    if (allocationsPerCall > record.allocationsPerCall) record.allocationsPerCall = allocationsPerCall;
    record.sweeps += 1;
    failuresInjected() += static_cast<long>(sites.size());
    for (const void *site : sites) {
        if (site != nullptr) sitesStruck().insert(site);
    }
}

}  // namespace pk_reliability
