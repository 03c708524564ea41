// The phase layer's version, the project's own (set by the build).
#include "powderkit_phase.h"

extern "C" {

const char *pk_version(void) { return PK_VERSION_TEXT; }

}  // extern "C"
