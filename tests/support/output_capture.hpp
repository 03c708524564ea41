// Captures what a piece of code writes to standard output or standard error at
// the file-descriptor level, as a host would see the library's own writes.
#ifndef PK_TEST_OUTPUT_CAPTURE_HPP
#define PK_TEST_OUTPUT_CAPTURE_HPP

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <functional>
#include <string>

namespace pk_test {

// Runs `body` with `stream` (stdout or stderr) redirected; returns the bytes written to it.
inline std::string captureStream(std::FILE *stream, const std::function<void()> &body) {
    std::fflush(stream);
    const int fd = fileno(stream), saved = dup(fd);
    std::FILE *sink = std::tmpfile();
    if (saved < 0 || sink == nullptr || dup2(fileno(sink), fd) < 0) throw std::runtime_error("cannot capture output");
    body();
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::rewind(sink);
    std::string text;
    for (int c; (c = std::fgetc(sink)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(sink);
    return text;
}
inline std::string captureStderr(const std::function<void()> &body) { return captureStream(stderr, body); }
inline std::string captureStdout(const std::function<void()> &body) { return captureStream(stdout, body); }

}  // namespace pk_test

#endif
