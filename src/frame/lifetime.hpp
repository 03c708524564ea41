// Hooks of the load-time constructor and the unload-time destructor for the
// process-wide values that other subsystems own.
#ifndef POWDERKIT_LIFETIME_HPP
#define POWDERKIT_LIFETIME_HPP

namespace powderkit {

// Builds the process-wide texts (the element table copy) at load time.
void initializeProcessTexts();

// Releases them at unload time.
void releaseProcessTexts();

}  // namespace powderkit

#endif
