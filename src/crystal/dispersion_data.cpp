// The anomalous-dispersion table (dispersion.hpp): its rows live in
// dispersion_table.inc, written once by scripts/make_dispersion_table.py.
#include "crystal/dispersion.hpp"

namespace powderkit::phase {

#include "crystal/dispersion_table.inc"

}  // namespace powderkit::phase
