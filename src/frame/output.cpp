// The three routines that carry all text output of the library: to a stream,
// to standard output, and bounded formatting into a caller's buffer.
#include <cstdarg>

#include "frame/frame.hpp"

namespace powderkit {

int printToStream(std::FILE *stream, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vfprintf(stream, format, arguments);
    va_end(arguments);
    return written;
}

void printToStandardOutput(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
}

int formatIntoBuffer(char *destination, std::size_t capacity, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(destination, capacity, format, arguments);
    va_end(arguments);
    return length < 0 ? -1 : length;
}

}  // namespace powderkit
