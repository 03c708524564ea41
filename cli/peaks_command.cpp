// `powderkit peaks`: the significant peaks of a measured pattern.
#include "commands.hpp"

namespace powderkit::cli {

std::string runPeaks(const PeaksOptions &options) {
    throw InputError("peaks: " + options.file + ": not available yet");
}

}  // namespace powderkit::cli
