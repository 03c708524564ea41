// Heap copies of texts. The copy is made with malloc and memcpy so that every
// allocation of the library passes through malloc, calloc or realloc.
#include <cstdlib>
#include <cstring>

#include "frame/frame.hpp"

namespace powderkit {

char *copyText(const char *text) {
    const std::size_t length = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(length));
    if (copy != nullptr) std::memcpy(copy, text, length);
    return copy;
}

}  // namespace powderkit
