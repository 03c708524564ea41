// Reflexion lists: the plane sets of a phase with their positions, |F|²,
// Lorentz(-polarisation) factors and integrated intensities (the layer's
// structure factors, held to the core's), and the same merged into observed lines.
#include <algorithm>
#include <cmath>
#include <vector>

#include "boundary/boundary.hpp"
#include "boundary/progress.hpp"
#include "reflexions/reflexion_generation.hpp"
#include "reflexions/sample_corrections.hpp"
#include "reflexions/structure_factors.hpp"

namespace powderkit::phase {

namespace {

// Entries whose d agree within this (Å) are one observed line.
constexpr double kLineTolerance = 1e-5;

struct Entry {
    std::array<int32_t, 3> hkl;
    int32_t multiplicity;
    double d, x, f2, lp, intensity, relative;
};

struct Line {
    double d, x, intensity, relative;
    int32_t multiplicity, first, count;
};

}  // namespace

}  // namespace powderkit::phase

struct pk_reflexion_list {
    std::vector<powderkit::phase::Entry> entries;
    std::vector<powderkit::phase::Line> lines;
};

namespace powderkit::phase {

namespace {

std::unique_ptr<pk_reflexion_list> makeList(const pk_phase &phase, const pk_instrument &instrument,
                                            int32_t limitKind, double limit) {
    validateInstrument(instrument);
    ProfilePointer profile = coreProfileOf(instrument, nullptr, 0.0, 0.0);
    double dMin = limit;
    if (limitKind == PK_LIMIT_X_MAX) {
        const bool twoTheta = instrument.axis == PK_AXIS_TWO_THETA;
        if (twoTheta && !(limit > 0.0 && limit <= 180.0)) {
            fail(PK_ERROR_ARGUMENT, "the 2θ limit " + shortest(limit) + " must lie in (0, 180] degrees");
        }
        if (!twoTheta && !(limit > 0.0 && std::isfinite(limit))) {
            fail(PK_ERROR_ARGUMENT, "the flight-time limit " + shortest(limit) + " must be a positive number of ms");
        }
        dMin = dSpacingAt(instrument, profile.get(), limit);
    } else if (limitKind != PK_LIMIT_D_MIN) {
        fail(PK_ERROR_ARGUMENT, "unknown limit kind " + std::to_string(limitKind));
    } else if (!(limit > 0.0 && std::isfinite(limit))) {
        fail(PK_ERROR_ARGUMENT, "d_min " + shortest(limit) + " must be a positive number of Å");
    } else if (instrument.axis == PK_AXIS_TWO_THETA) {
        // Below λ/2 there is no Bragg angle: such reflexions cannot be seen
        // at this wavelength, and the list stops where 2θ reaches 179.9°.
        dMin = std::max(dMin, dSpacingAt(instrument, profile.get(), 180.0 + instrument.zero));
    }
    auto list = std::make_unique<pk_reflexion_list>();
    double strongest = 0.0;
    const StructureFactors structureFactors(phase.crystal.get(), &instrument);
    StructureFactors::Scratch scratch;
    const std::vector<PlaneSet> sets = planeSetsOf(phase, dMin);
    Progress progress("structure factors and intensities");
    for (const PlaneSet &set : sets) {
        progress.at(static_cast<double>(&set - sets.data()) / static_cast<double>(sets.size()));
        Reflexion reflexion = reflexionOf(set);
        structureFactors.compute(reflexion, profile->radiationType, scratch);
        setIntensity(phase.crystal.get(), reflexion, profile.get());
        polarise(instrument, instrument.wavelength, reflexion);
        correctForSample(instrument, instrument.wavelength, reflexion);
        Entry entry;
        entry.hkl = set.hkl;
        entry.multiplicity = set.multiplicity;
        entry.d = set.d;
        entry.x = peakPositionOf(instrument, profile.get(), &reflexion);
        // |F|² = A² + B² (with dispersion the mean of h and −h).
        entry.f2 = reflexion.structureFactorReal * reflexion.structureFactorReal +
                   reflexion.structureFactorImag * reflexion.structureFactorImag;
        entry.lp = reflexion.lorentzPolarization;
        entry.intensity = reflexion.intensity;
        strongest = std::max(strongest, entry.intensity);
        list->entries.push_back(entry);
    }
    for (Entry &entry : list->entries) entry.relative = strongest > 0.0 ? 100.0 * (entry.intensity / strongest) : 0.0;

    const auto count = static_cast<int32_t>(list->entries.size());
    for (int32_t i = 0; i < count; ++i) {
        const Entry &entry = list->entries[static_cast<std::size_t>(i)];
        if (list->lines.empty() ||
            std::fabs(list->entries[static_cast<std::size_t>(list->lines.back().first)].d - entry.d) > kLineTolerance) {
            list->lines.push_back(Line{entry.d, entry.x, 0.0, 0.0, 0, i, 0});
        }
        Line &line = list->lines.back();
        line.intensity += entry.intensity;
        line.multiplicity += entry.multiplicity;
        line.count += 1;
    }
    double strongestLine = 0.0;
    for (const Line &line : list->lines) strongestLine = std::max(strongestLine, line.intensity);
    for (Line &line : list->lines) line.relative = strongestLine > 0.0 ? 100.0 * (line.intensity / strongestLine) : 0.0;
    return list;
}

// The value of `quantity` for an entry, or for a line (which has no |F|² and
// no Lorentz factor); fails for a quantity the item does not have.
double quantityOf(const Entry &e, int32_t quantity) {
    switch (quantity) {
    case PK_QUANTITY_D: return e.d;
    case PK_QUANTITY_X: return e.x;
    case PK_QUANTITY_F2: return e.f2;
    case PK_QUANTITY_LP: return e.lp;
    case PK_QUANTITY_INTENSITY: return e.intensity;
    case PK_QUANTITY_RELATIVE: return e.relative;
    case PK_QUANTITY_MULTIPLICITY: return e.multiplicity;
    default: fail(PK_ERROR_ARGUMENT, "unknown quantity " + std::to_string(quantity));
    }
}

double quantityOf(const Line &line, int32_t quantity) {
    switch (quantity) {
    case PK_QUANTITY_D: return line.d;
    case PK_QUANTITY_X: return line.x;
    case PK_QUANTITY_INTENSITY: return line.intensity;
    case PK_QUANTITY_RELATIVE: return line.relative;
    case PK_QUANTITY_MULTIPLICITY: return line.multiplicity;
    default: fail(PK_ERROR_ARGUMENT, "quantity " + std::to_string(quantity) + " has no value for a line");
    }
}

// One quantity of every item into the caller's `values` (`capacity` long).
template <typename Item>
void copyQuantity(const std::vector<Item> &items, int32_t quantity, double *values, int32_t capacity) {
    requireCapacity(capacity, items.size());
    if (!items.empty()) requireArgument(values, "values");
    for (std::size_t i = 0; i < items.size(); ++i) values[i] = quantityOf(items[i], quantity);
}

}  // namespace

}  // namespace powderkit::phase

using namespace powderkit::phase;

extern "C" {

int32_t pk_reflexion_list_make(const pk_phase *phase, const pk_instrument *instrument, int32_t limit_kind,
                               double limit, pk_reflexion_list **list, pk_error *error) {
    if (list != nullptr) *list = nullptr;
    return guarded(error, [&] {
        requireArgument(phase, "phase");
        requireArgument(instrument, "instrument");
        requireArgument(list, "list");
        *list = makeList(*phase, *instrument, limit_kind, limit).release();
    });
}

void pk_reflexion_list_free(pk_reflexion_list *list) { delete list; }

int32_t pk_reflexion_list_count(const pk_reflexion_list *list) {
    return list != nullptr ? static_cast<int32_t>(list->entries.size()) : 0;
}

int32_t pk_reflexion_list_indices(const pk_reflexion_list *list, int32_t *hkl, int32_t capacity,
                                  pk_error *error) {
    return guarded(error, [&] {
        requireArgument(list, "list");
        requireCapacity(capacity, list->entries.size());
        if (!list->entries.empty()) requireArgument(hkl, "hkl");
        for (std::size_t i = 0; i < list->entries.size(); ++i) {
            for (std::size_t j = 0; j < 3; ++j) hkl[3 * i + j] = list->entries[i].hkl[j];
        }
    });
}

int32_t pk_reflexion_list_values(const pk_reflexion_list *list, int32_t quantity, double *values,
                                 int32_t capacity, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(list, "list");
        copyQuantity(list->entries, quantity, values, capacity);
    });
}

int32_t pk_reflexion_list_line_count(const pk_reflexion_list *list) {
    return list != nullptr ? static_cast<int32_t>(list->lines.size()) : 0;
}

int32_t pk_reflexion_list_line_values(const pk_reflexion_list *list, int32_t quantity, double *values,
                                      int32_t capacity, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(list, "list");
        copyQuantity(list->lines, quantity, values, capacity);
    });
}

int32_t pk_reflexion_list_line_members(const pk_reflexion_list *list, int32_t *first, int32_t *count,
                                       int32_t capacity, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(list, "list");
        requireCapacity(capacity, list->lines.size());
        if (!list->lines.empty()) {
            requireArgument(first, "first");
            requireArgument(count, "count");
        }
        for (std::size_t i = 0; i < list->lines.size(); ++i) {
            first[i] = list->lines[i].first;
            count[i] = list->lines[i].count;
        }
    });
}

}  // extern "C"
