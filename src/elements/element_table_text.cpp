// The process-wide copy of the element table text and the load function that
// writes it to ASF.dat. The text itself is src/elements/ASF.txt, compiled into
// the library by the build; the library never parses it. The copy is made at
// load time and released at unload time, registered with the frame by this
// folder's load-time constructor; if it cannot be made, load writes nothing.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "elements/elements.hpp"
#include "frame/frame.hpp"

namespace powderkit {

namespace {
char *gElementTableText = nullptr;
}  // namespace

void initializeProcessTexts() {
    if (gElementTableText != nullptr) return;
    char *copy = static_cast<char *>(std::malloc(kElementTableTextLength + 1));
    if (copy == nullptr) return;
    std::memcpy(copy, kElementTableText, kElementTableTextLength + 1);
    gElementTableText = copy;
}

void releaseProcessTexts() {
    std::free(gElementTableText);
    gElementTableText = nullptr;
}

const char *elementTableText() { return gElementTableText; }

namespace {
__attribute__((constructor)) void registerElementTableText() {
    registerProcessValue(initializeProcessTexts, releaseProcessTexts);
}
}  // namespace

namespace {

// Writes `text` to `file` with every line feed written as CR LF; false on the
// first failed write.
bool writeWithCarriageReturns(std::FILE *file, const char *text) {
    static const char kLineEnd[2] = {'\r', '\n'};
    const char *line = text;
    for (;;) {
        const char *feed = std::strchr(line, '\n');
        if (feed == nullptr) {
            const std::size_t rest = std::strlen(line);
            return rest == 0 || std::fwrite(line, 1, rest, file) == rest;
        }
        const std::size_t length = static_cast<std::size_t>(feed - line);
        if (length > 0 && std::fwrite(line, 1, length, file) != length) return false;
        if (std::fwrite(kLineEnd, 1, sizeof kLineEnd, file) != sizeof kLineEnd) return false;
        line = feed + 1;
    }
}

}  // namespace

}  // namespace powderkit

extern "C" {

// Writes the element table text to directory/ASF.dat (CR LF line ends),
// replacing any earlier file. A directory that does not exist, a file that
// cannot be opened or a failed write leave no message; nothing is returned.
void load(const char *directory) {
    using namespace powderkit;
    const char *text = elementTableText();
    if (directory == nullptr || text == nullptr) return;
    const std::size_t directoryLength = std::strlen(directory);
    const std::size_t nameLength = std::strlen(kElementTableFileName);
    char *path = static_cast<char *>(std::malloc(directoryLength + 1 + nameLength + 1));
    if (path == nullptr) return;
    std::memcpy(path, directory, directoryLength);
    path[directoryLength] = kPathSeparator;
    std::memcpy(path + directoryLength + 1, kElementTableFileName, nameLength + 1);
    std::FILE *file = std::fopen(path, "wb");
    std::free(path);
    if (file == nullptr) return;
    // A failed write leaves an incomplete file, as a failed open leaves none.
    (void)writeWithCarriageReturns(file, text);
    std::fclose(file);
}

}  // extern "C"
