// Output files: the folder is made with std::filesystem, and each file is
// first written to a temporary name in the same folder and then renamed over
// its target, so that a failure (full disk, no permission) leaves either the
// old file or none, never half of the new one.
#include "output_files.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "commands.hpp"

namespace fs = std::filesystem;

namespace powderkit::cli {

void checkOutputFolder(const std::string &dir) {
    // The folder, or the nearest of its parents that exists, must be a folder this process may write in.
    std::error_code failure;
    fs::path existing = fs::absolute(dir, failure);
    while (!failure && !fs::exists(existing, failure) && existing.has_parent_path() && existing != existing.parent_path()) {
        existing = existing.parent_path();
    }
    if (failure) throw InputError(dir + ": cannot check the output folder: " + failure.message());
    if (!fs::is_directory(existing, failure)) {
        throw InputError(dir + ": the output folder cannot be made: " + existing.string() + " is not a folder");
    }
    if (access(existing.c_str(), W_OK | X_OK) != 0) {
        throw InputError(dir + ": the output folder cannot be written: " + existing.string() + ": " +
                         std::strerror(errno));
    }
}

void makeOutputFolder(const std::string &dir) {
    std::error_code failure;
    fs::create_directories(dir, failure);
    if (failure) {
        throw InputError(dir + ": cannot make the output folder: " + failure.message());
    }
    if (!fs::is_directory(dir, failure)) {
        throw InputError(dir + ": the output folder is not a folder");
    }
}

void writeFileWhole(const std::string &dir, const std::string &name, const std::string &content) {
    const std::string target = (fs::path(dir) / name).string();
    const std::string temporary =
        (fs::path(dir) / ("." + name + ".tmp" + std::to_string(getpid()))).string();
    std::FILE *file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        throw InputError(target + ": cannot write: " + std::strerror(errno));
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const int cause = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::remove(temporary.c_str());
        throw InputError(target + ": cannot write: " + std::strerror(written ? errno : cause));
    }
    std::error_code failure;
    fs::rename(temporary, target, failure);
    if (failure) {
        std::remove(temporary.c_str());
        throw InputError(target + ": cannot write: " + failure.message());
    }
}

}  // namespace powderkit::cli
