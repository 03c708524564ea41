// Reading a whole text file in chunks with istream::read, which turns a read
// error (a directory, an I/O fault) into badbit. The text grows outside the
// stream, so a failed allocation reaches the caller as std::bad_alloc rather
// than being swallowed by the stream as a short read.
#include "io/text_file.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "boundary/boundary.hpp"

namespace powderkit::phase {

std::string readWholeFile(const char *path) {
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int code = errno;
        fail(PK_ERROR_FILE, std::string(path) + ": cannot open: " +
                                (code != 0 ? std::strerror(code) : "unknown reason"));
    }
    std::string text;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        const int code = errno;
        fail(PK_ERROR_FILE, std::string(path) + ": cannot read: " +
                                (code != 0 ? std::strerror(code) : "read error"));
    }
    return text;
}

void writeWholeFile(const std::string &path, const std::string &content) {
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    std::FILE *file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) fail(PK_ERROR_FILE, path + ": cannot write: " + std::strerror(errno));
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const int cause = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int reason = !written ? cause : errno;
        std::remove(temporary.c_str());
        fail(PK_ERROR_FILE, path + ": cannot write: " + std::strerror(reason));
    }
}

}  // namespace powderkit::phase
