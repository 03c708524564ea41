// The process-wide values of the library and their lifetime: machine epsilon
// and the 100-byte error buffer, set up by the frame's load-time constructor
// (run before any other of the library's), and the values that folders above
// register from their own constructors, released by the frame's unload-time
// destructor (run after any other).
#include <cstring>

#include "frame/frame.hpp"

namespace powderkit {

double machineEpsilon = 0.0;

namespace {
char gErrorBuffer[PK_ERROR_BUFFER_SIZE];

// Halve a value until adding it to 1 no longer changes 1: the first such
// value is the unit roundoff (2^-53 in IEEE double arithmetic). The volatile
// store keeps the sum in double precision on every target.
double computeMachineEpsilon() {
    double value = 1.0;
    for (;;) {
        volatile double sum = 1.0 + value;
        if (!(sum > 1.0)) return value;
        value *= 0.5;
    }
}

// The release functions of the registered values, in registration order.
// Constant-initialised, so registration works whatever runs first.
void (*gReleases[kMaxProcessValues])() = {};
int gReleaseCount = 0;

// Priority 101, the first one available to programs: this constructor runs
// before, and this destructor after, the unprioritised ones of the folders
// that register values.
__attribute__((constructor(101))) void loadLibrary() {
    machineEpsilon = computeMachineEpsilon();
    std::memset(gErrorBuffer, 0, sizeof gErrorBuffer);
}

__attribute__((destructor(101))) void unloadLibrary() {
    while (gReleaseCount > 0) {
        --gReleaseCount;
        gReleases[gReleaseCount]();
        gReleases[gReleaseCount] = nullptr;
    }
}
}  // namespace

void registerProcessValue(void (*initialize)(), void (*release)()) {
    if (gReleaseCount >= kMaxProcessValues) return;
    gReleases[gReleaseCount] = release;
    ++gReleaseCount;
    initialize();
}

char *errorBuffer() { return gErrorBuffer; }

}  // namespace powderkit

extern "C" {

char *GetErrorBuffer(void) { return powderkit::errorBuffer(); }

void checkRefinementCrystal(void) {}

}  // extern "C"
