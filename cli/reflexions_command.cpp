// `powderkit reflexions`: the reflexion list of one phase from a CIF file,
// largest d first, as a table on standard output, or its observed lines with
// --lines. The list is cut at --d-min, or at --two-theta-max, or by default
// at the d reached at 2θ = 150°.
#include <cmath>

#include "commands.hpp"
#include "phase_input.hpp"
#include "reflexion_table.hpp"

namespace powderkit::cli {

namespace {
constexpr double kDefaultTwoThetaMax = 150.0;  // degrees
}

std::string runReflexions(const ReflexionsOptions &options) {
    int32_t limit_kind = PK_LIMIT_X_MAX;
    double limit = kDefaultTwoThetaMax;
    if (options.has_d_min) {
        limit_kind = PK_LIMIT_D_MIN;
        limit = options.d_min;
    } else if (options.has_two_theta_max) {
        limit = options.two_theta_max;
    }
    const pk_instrument instrument = makeInstrument(options.source, false);
    const PhaseHandle phase = readPhase(options.file, options.block);
    const ReflexionListHandle list = makeReflexionList(*phase, instrument, limit_kind, limit);
    if (options.lines) return lineTable(*list);
    Table table(reflexionColumns(false));
    addReflexionRows(table, *list, nullptr, -HUGE_VAL);
    return table.text();
}

}  // namespace powderkit::cli
