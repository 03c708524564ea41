// Progress of long work as lines on standard error: one at every tenth of a
// step and one when a new step begins.
#ifndef POWDERKIT_CLI_PROGRESS_LINES_HPP
#define POWDERKIT_CLI_PROGRESS_LINES_HPP

#include <cstdint>
#include <string>

namespace powderkit::cli {

struct ProgressLines {
    std::string stage;
    int tenth = -1;
};

// A pk_progress_handler (and pk_index_progress) whose context is a ProgressLines.
int32_t printProgress(void *context, double fraction, const char *stage);

}  // namespace powderkit::cli

#endif
