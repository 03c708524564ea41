// Reading and writing a whole text file for the phase layer's readers and writers.
#ifndef POWDERKIT_PHASE_TEXT_FILE_HPP
#define POWDERKIT_PHASE_TEXT_FILE_HPP

#include <string>

namespace powderkit::phase {

// The bytes of the file at `path`. Fails with PK_ERROR_FILE ("PATH: cannot
// open: REASON", "PATH: cannot read: REASON") when it cannot be opened or read,
// and with std::bad_alloc, never a shortened text, when memory runs out.
std::string readWholeFile(const char *path);

// Writes `content` as the file at `path`: first to a temporary file beside it,
// then renamed over it, so that a failure leaves the old file or none, never
// half of the new one. Fails with PK_ERROR_FILE ("PATH: cannot write: REASON").
void writeWholeFile(const std::string &path, const std::string &content);

}  // namespace powderkit::phase

#endif
