// Internal interface of the element data: the process-wide copy of the
// element table text, the atomic weights by symbol, and the scattering
// operations of occupants and sites that are method slots but not exported.
#ifndef POWDERKIT_ELEMENTS_HPP
#define POWDERKIT_ELEMENTS_HPP

#include <cstddef>
#include <cstdint>

#include "powderkit.h"

namespace powderkit {

// The element table text compiled into the library (src/elements/ASF.txt,
// NUL-terminated), and its length in bytes without the NUL.
extern const char kElementTableText[];
extern const std::size_t kElementTableTextLength;

// The process-wide copy of the element table text made at load time, or
// nullptr when that copy could not be made (load then writes nothing).
const char *elementTableText();

// Make and release that copy; registered with the frame at load time.
// Making it again while it exists does nothing.
void initializeProcessTexts();
void releaseProcessTexts();

// The name of the file that load writes, and the separator that joins it to
// the directory.
constexpr const char *kElementTableFileName = "ASF.dat";
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Above this s = sin θ / λ (Å⁻¹) the high-angle logarithmic form of the X-ray
// scattering factor takes over, when a record has its coefficients.
constexpr double kHighAngleScatteringLimit = 2.0;

// Weight of the first entry of the atomic-weight table whose symbol equals
// `symbol` byte for byte; 0 when none does or `symbol` is null.
double atomicWeightForSymbol(const char *symbol);

// Number of entries of the atomic-weight table, and the entry at `index`.
constexpr int32_t kAtomicWeightCount = 107;
struct AtomicWeightEntry {
    char symbol[8];
    double weight;
};
const AtomicWeightEntry &atomicWeightEntry(int32_t index);

// Occupancy × scattering power of one occupant (X-ray f at d, or neutron b).
double siteOccupantScatteringFactor(RefinementSiteOccupant *occupant, double dSpacing,
                                    int32_t radiationType);

// Sum of the occupants' scattering powers; temperature factors not included.
double siteScatteringFactor(Site *site, double dSpacing, int32_t radiationType);

// Occupancy-weighted atomic weight of a site's occupants.
double siteWeight(Site *site);

}  // namespace powderkit

#endif
