// Writing the command's output files: the output folder is made when
// missing, and every file is written whole or not at all.
#ifndef POWDERKIT_CLI_OUTPUT_FILES_HPP
#define POWDERKIT_CLI_OUTPUT_FILES_HPP

#include <string>
#include <utility>
#include <vector>

namespace powderkit::cli {

// Fails before any work when the output folder could not be made or written:
// it, or the nearest of its parents that exists, is not a writable folder.
void checkOutputFolder(const std::string &dir);

// Makes `dir` (and its parents) when missing; InputError naming it when it
// cannot be made or is not a folder.
void makeOutputFolder(const std::string &dir);

// Writes `content` to `dir`/`name` through a temporary file in the same
// folder renamed over the target, so that a reader never sees half a file.
void writeFileWhole(const std::string &dir, const std::string &name, const std::string &content);

}  // namespace powderkit::cli

#endif
