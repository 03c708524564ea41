// Output files. One run's files are written into a staging folder beside the
// output folder and put in place together:
//  - no output folder yet: the staging folder is renamed to it;
//  - an output folder: the files it holds that the set does not replace (the
//    user's, other commands') are hard-linked into the staging folder, the
//    two folders are exchanged in one step (renameat2 with RENAME_EXCHANGE),
//    and the old folder is removed.
// A reader of the folder so sees the old set or the new one, never a mix. An
// output folder that holds folders of its own (never moved), or a file
// system that cannot exchange folders, gets each file renamed over its
// target instead, which still never shows half a file.
// SIGINT, SIGTERM and SIGHUP while the staging folder exists remove it (with
// only unlink and rmdir, which a signal handler may call) before the signal
// takes its usual course.
#include "output_files.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdio.h>
#include <unistd.h>

#include "commands.hpp"

namespace fs = std::filesystem;

namespace powderkit::cli {

namespace {

// The staging folder and the files made in it so far, for the signal handler.
constexpr int kMostStagedFiles = 256;
constexpr std::size_t kPathBytes = 4096;
char gStaging[kPathBytes];
char gStaged[kMostStagedFiles][kPathBytes];
volatile std::sig_atomic_t gStagedCount = 0;
volatile std::sig_atomic_t gStagingLive = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gPrevious[3];

extern "C" void removeStaging(int signal) {
    if (gStagingLive != 0) {
        for (int i = 0; i < gStagedCount; ++i) unlink(gStaged[i]);
        rmdir(gStaging);
        gStagingLive = 0;
    }
    std::signal(signal, SIG_DFL);
    raise(signal);
}

// Copies `path` into one of the handler's buffers.
void remember(char *buffer, const std::string &path) {
    std::memcpy(buffer, path.c_str(), path.size() + 1);
}

// The staging folder with its handlers: made on construction, and removed
// with what it holds when it is dropped before being put in place.
class Staging {
public:
    explicit Staging(const fs::path &path) : path_(path) {
        if (path.string().size() >= kPathBytes) throw InputError(path.string() + ": the path is too long");
        // The handlers first, so that no signal finds the folder made and not yet known.
        remember(gStaging, path.string());
        gStagedCount = 0;
        gStagingLive = 1;
        struct sigaction action {};
        action.sa_handler = removeStaging;
        sigemptyset(&action.sa_mask);
        for (int k = 0; k < 3; ++k) sigaction(kSignals[k], &action, &gPrevious[k]);
        std::error_code failure;
        fs::create_directory(path, failure);
        if (failure) {
            restore();
            throw InputError(path.string() + ": cannot make a staging folder: " + failure.message());
        }
    }
    Staging(const Staging &) = delete;
    Staging &operator=(const Staging &) = delete;
    ~Staging() {
        if (gStagingLive != 0) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
        }
        restore();
    }

    // Writes one file of the set; InputError naming its place in `dir`.
    void write(const std::string &dir, const std::string &name, const std::string &content) {
        const std::string target = (fs::path(dir) / name).string();
        const std::string path = (path_ / name).string();
        if (gStagedCount >= kMostStagedFiles || path.size() >= kPathBytes) {
            throw InputError(target + ": too many output files or too long a name");
        }
        remember(gStaged[gStagedCount], path);
        gStagedCount = gStagedCount + 1;
        std::FILE *file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) throw InputError(target + ": cannot write: " + std::strerror(errno));
        const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
        const int cause = errno;
        const bool closed = std::fclose(file) == 0;
        if (!written || !closed) throw InputError(target + ": cannot write: " + std::strerror(written ? errno : cause));
    }

    // Hard links (or copies) of whatever files `dir` holds that the set does
    // not replace; false, leaving the rest, when it holds a folder (which
    // cannot be linked, and is never moved).
    bool keepOthers(const fs::path &dir) {
        std::error_code failure;
        for (const fs::directory_entry &entry : fs::directory_iterator(dir, failure)) {
            std::error_code step;
            if (entry.is_directory(step) && !entry.is_symlink(step)) return false;
        }
        for (const fs::directory_entry &entry : fs::directory_iterator(dir, failure)) {
            const fs::path mine = path_ / entry.path().filename();
            if (fs::exists(fs::symlink_status(mine))) continue;
            if (gStagedCount >= kMostStagedFiles || mine.string().size() >= kPathBytes) return false;
            remember(gStaged[gStagedCount], mine.string());
            gStagedCount = gStagedCount + 1;
            std::error_code step;
            if (link(entry.path().c_str(), mine.c_str()) != 0) {
                fs::copy(entry.path(), mine, fs::copy_options::copy_symlinks, step);
            }
            if (step) throw InputError(entry.path().string() + ": cannot keep it beside the new files: " + step.message());
        }
        if (failure) throw InputError(dir.string() + ": cannot read the output folder: " + failure.message());
        return true;
    }

    // Puts the set in place as `dir`.
    void commit(const fs::path &dir) {
        std::error_code failure;
        if (!fs::exists(dir, failure)) {
            fs::rename(path_, dir, failure);
            if (failure) throw InputError(dir.string() + ": cannot make the output folder: " + failure.message());
            gStagingLive = 0;
            return;
        }
        fs::permissions(path_, fs::status(dir, failure).permissions(), failure);  // the folder keeps its mode
        if (keepOthers(dir) && renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, dir.c_str(), RENAME_EXCHANGE) == 0) {
            // path_ now holds the old folder: links to kept files and the replaced files.
            return;
        }
        // A folder inside, or no exchange on this file system: file by file,
        // each renamed whole.
        for (const fs::directory_entry &entry : fs::directory_iterator(path_)) {
            const fs::path target = dir / entry.path().filename();
            if (fs::equivalent(entry.path(), target, failure)) continue;
            fs::rename(entry.path(), target, failure);
            if (failure) throw InputError(target.string() + ": cannot write: " + failure.message());
        }
    }

private:
    static void restore() {
        gStagingLive = 0;
        for (int k = 0; k < 3; ++k) sigaction(kSignals[k], &gPrevious[k], nullptr);
    }
    fs::path path_;
};

}  // namespace

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

void writeOutputSet(const std::string &dir, const std::vector<std::pair<std::string, std::string>> &files) {
    checkOutputFolder(dir);
    std::error_code failure;
    const fs::path folder = fs::absolute(dir, failure).lexically_normal();
    const fs::path place = folder.has_filename() ? folder : folder.parent_path();
    fs::create_directories(place.parent_path(), failure);
    if (failure) throw InputError(dir + ": cannot make the output folder: " + failure.message());
    if (fs::exists(place, failure) && !fs::is_directory(place, failure)) {
        throw InputError(dir + ": the output folder is not a folder");
    }
    Staging staging(place.parent_path() / ("." + place.filename().string() + ".partial-" + std::to_string(getpid())));
    for (const auto &[name, content] : files) staging.write(dir, name, content);
    staging.commit(place);
}

}  // namespace powderkit::cli
