// The process-wide values of the library and their lifetime: machine epsilon
// and the 100-byte error buffer, set up by the one load-time constructor, and
// the process-wide texts released by the one unload-time destructor. Other
// subsystems hook their own process-wide values in here.
#include <cstring>

#include "frame/frame.hpp"
#include "frame/lifetime.hpp"

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

__attribute__((constructor)) void loadLibrary() {
    machineEpsilon = computeMachineEpsilon();
    std::memset(gErrorBuffer, 0, sizeof gErrorBuffer);
    initializeProcessTexts();
}

__attribute__((destructor)) void unloadLibrary() { releaseProcessTexts(); }
}  // namespace

char *errorBuffer() { return gErrorBuffer; }

}  // namespace powderkit

extern "C" {

char *GetErrorBuffer(void) { return powderkit::errorBuffer(); }

void checkRefinementCrystal(void) {}

}  // extern "C"
