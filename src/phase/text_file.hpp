// Reading a whole text file for the phase layer's readers.
#ifndef POWDERKIT_PHASE_TEXT_FILE_HPP
#define POWDERKIT_PHASE_TEXT_FILE_HPP

#include <string>

namespace powderkit::phase {

// The bytes of the file at `path`. Fails with PK_ERROR_FILE ("PATH: cannot
// open: REASON", "PATH: cannot read: REASON") when it cannot be opened or read,
// and with std::bad_alloc, never a shortened text, when memory runs out.
std::string readWholeFile(const char *path);

}  // namespace powderkit::phase

#endif
