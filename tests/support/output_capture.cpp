#include "support/output_capture.hpp"

#include <unistd.h>

#include <cstdlib>

namespace pk_test {

std::string captureStream(std::FILE *stream, const std::function<void()> &body) {
    std::fflush(stream);
    const int fd = fileno(stream);
    const int saved = dup(fd);
    std::FILE *sink = std::tmpfile();
    if (saved < 0 || sink == nullptr) std::abort();
    dup2(fileno(sink), fd);
    body();
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::string text;
    std::rewind(sink);
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, sink)) > 0) text.append(chunk, n);
    std::fclose(sink);
    return text;
}

}  // namespace pk_test
