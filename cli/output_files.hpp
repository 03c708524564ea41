// Writing the command's output files: the output folder is made when
// missing, and one run's files are put in place together or not at all.
#ifndef POWDERKIT_CLI_OUTPUT_FILES_HPP
#define POWDERKIT_CLI_OUTPUT_FILES_HPP

#include <string>
#include <utility>
#include <vector>

namespace powderkit::cli {

// Fails before any work when the output folder could not be made or written:
// it, or the nearest of its parents that exists, is not a writable folder.
void checkOutputFolder(const std::string &dir);

// Writes one run's files (name, content) into `dir`, made with its parents
// when missing, all together: a reader sees the folder's old files or the
// new set, never a mix; on a failure or a signal nothing is left behind and
// the folder is as it was. InputError naming the file or folder that failed.
void writeOutputSet(const std::string &dir, const std::vector<std::pair<std::string, std::string>> &files);

}  // namespace powderkit::cli

#endif
