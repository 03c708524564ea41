// Captures what a piece of code writes to standard output or standard error,
// at the file-descriptor level, so that the library's own stdio writes are
// seen exactly as a host would see them.
#ifndef PK_TEST_OUTPUT_CAPTURE_HPP
#define PK_TEST_OUTPUT_CAPTURE_HPP

#include <cstdio>
#include <functional>
#include <string>

namespace pk_test {

// Runs `body` with `stream` (stdout or stderr) redirected; returns the bytes
// written to it.
std::string captureStream(std::FILE *stream, const std::function<void()> &body);

inline std::string captureStderr(const std::function<void()> &body) {
    return captureStream(stderr, body);
}
inline std::string captureStdout(const std::function<void()> &body) {
    return captureStream(stdout, body);
}

}  // namespace pk_test

#endif
