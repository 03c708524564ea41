#include "progress_lines.hpp"

#include <cmath>
#include <cstdio>

namespace powderkit::cli {

int32_t printProgress(void *context, double fraction, const char *stage) {
    auto *progress = static_cast<ProgressLines *>(context);
    const int tenth = static_cast<int>(std::floor(fraction * 10.0));
    if (stage != progress->stage) {
        progress->stage = stage;
        progress->tenth = -1;
    }
    if (tenth > progress->tenth) {
        std::fprintf(stderr, "%3d %%  %s\n", static_cast<int>(std::floor(fraction * 100.0)), stage);
        progress->tenth = tenth;
    }
    return 0;
}

}  // namespace powderkit::cli
