// `powderkit refine`: a Rietveld or Le Bail refinement of a measured pattern.
#include "commands.hpp"

namespace powderkit::cli {

std::string runRefine(const RefineOptions &options) {
    throw InputError("refine: " + options.measured + ": not available yet");
}

}  // namespace powderkit::cli
