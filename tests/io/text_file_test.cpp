// Writing a whole file: a write cut short (here by the process's file-size
// limit, as a full disk would) fails naming the file and leaves the old file
// whole, with no temporary beside it.
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "boundary/boundary.hpp"
#include "io/text_file.hpp"

namespace powderkit::phase {
namespace {

std::string contentOf(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(TextFile, AWriteCutShortLeavesTheOldFileAndNoTemporary) {
    const auto folder = std::filesystem::temp_directory_path() / ("pk_text_file_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path path = folder / "pattern.xy";
    writeWholeFile(path.string(), "10 1\n20 2\n");
    // What the limit lets through, and what is written: 1 MiB against 64 KiB stops fwrite itself; 3,000 bytes
    // (less than the stream's buffer) against 1 KiB pass fwrite and fail when fclose flushes them.
    const struct {
        rlim_t limit;
        std::size_t size;
    } cuts[] = {{64 * 1024, 1 << 20}, {1024, 3000}};
    for (const auto &cut : cuts) {
        rlimit kept{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &kept), 0);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);  // EFBIG instead
        rlimit small = kept;
        small.rlim_cur = cut.limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        std::string failure;
        try {
            writeWholeFile(path.string(), std::string(cut.size, 'x'));
        } catch (const Failure &f) {
            failure = f.what();
        }
        setrlimit(RLIMIT_FSIZE, &kept);
        std::signal(SIGXFSZ, handler);
        EXPECT_NE(failure.find(path.string() + ": cannot write: "), std::string::npos) << cut.size << ": " << failure;
        EXPECT_EQ(contentOf(path), "10 1\n20 2\n") << cut.size;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << cut.size;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace powderkit::phase
