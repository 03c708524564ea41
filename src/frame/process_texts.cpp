// The process-wide texts built at load time. Until the element table lands
// there are none; the element code replaces these two hooks.
#include "frame/lifetime.hpp"

namespace powderkit {

void initializeProcessTexts() {}

void releaseProcessTexts() {}

}  // namespace powderkit
