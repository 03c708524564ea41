// The reflexion list of a phase as a table: one row per set of equivalent
// planes (h k l d two_theta multiplicity F2 intensity relative), or one row
// per observed line with its member reflexions.
#ifndef POWDERKIT_CLI_REFLEXION_TABLE_HPP
#define POWDERKIT_CLI_REFLEXION_TABLE_HPP

#include <string>
#include <vector>

#include "phase_input.hpp"
#include "table_output.hpp"

namespace powderkit::cli {

// The list of `phase` for `instrument`, cut by PK_LIMIT_* `limit_kind`.
ReflexionListHandle makeReflexionList(const pk_phase &phase, const pk_instrument &instrument,
                                      int32_t limit_kind, double limit);

// The columns of the reflexion table, with a first column `phase` when asked.
std::vector<std::string> reflexionColumns(bool with_phase);

// Adds a row for every reflexion of `list` at 2θ ≥ x_from (largest d first);
// the first cell is `phase_name` when it is not null.
void addReflexionRows(Table &table, const pk_reflexion_list &list, const std::string *phase_name,
                      double x_from);

// The observed lines of `list`: d two_theta intensity relative reflexions,
// the last "h k l;h k l;…".
std::string lineTable(const pk_reflexion_list &list);

}  // namespace powderkit::cli

#endif
