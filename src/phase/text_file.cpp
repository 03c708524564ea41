// Reading a whole text file in chunks with istream::read, which turns a read
// error (a directory, an I/O fault) into badbit. The text grows outside the
// stream, so a failed allocation reaches the caller as std::bad_alloc rather
// than being swallowed by the stream as a short read.
#include "phase/text_file.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "phase/boundary.hpp"

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

}  // namespace powderkit::phase
