// The exported phase functions: phases from CIF files or text, from a symbol
// or from operators with sites given in code, and read access to them.
#include <cstring>
#include <functional>

#include "boundary/boundary.hpp"
#include "crystal/phase.hpp"
#include "io/text_file.hpp"

namespace powderkit::phase {

namespace {

// Places the description in a new handle and builds the crystal there, so
// that the records point at texts in their final place.
pk_phase *makePhase(PhaseDescription &&description) {
    auto phase = std::make_unique<pk_phase>();
    phase->description = std::move(description);
    phase->crystal = buildCrystal(phase->description);
    const PhaseDescription &made = phase->description;
    if (!made.symmetry.warning.empty()) phase->warnings += made.symmetry.warning + "\n";
    if (made.sites.empty()) {
        phase->warnings += made.name + ": no atom sites, so every |F|² is zero: the phase serves reflexion "
                                       "positions and Le Bail refinement, not patterns or Rietveld refinement\n";
    }
    return phase.release();
}

std::vector<SiteDescription> sitesOf(const pk_site *sites, int32_t count, const std::string &where) {
    if (count < 0) fail(PK_ERROR_ARGUMENT, where + ": the site count is negative");
    if (count > 0) requireArgument(sites, "sites");
    std::vector<SiteDescription> described;
    for (int32_t i = 0; i < count; ++i) {
        const pk_site &given = sites[i];
        SiteDescription site;
        site.label = given.label != nullptr ? given.label : "site" + std::to_string(i + 1);
        if (given.type == nullptr) fail(PK_ERROR_ARGUMENT, where + ": site " + site.label + " has no type");
        site.type = given.type;
        try {
            site.element = &elementForType(site.type);
        } catch (const Failure &failure) {
            fail(failure.code(), where + ": site " + site.label + ": " + failure.what());
        }
        site.x = given.x;
        site.y = given.y;
        site.z = given.z;
        site.occupancy = given.occupancy;
        site.uIso = given.u_iso;
        site.anisotropic = given.has_u_aniso != 0;
        for (int j = 0; j < 6; ++j) site.u[static_cast<std::size_t>(j)] = given.u_aniso[j];
        described.push_back(site);
    }
    return described;
}

int32_t fromCode(const char *name, const double cell[6], const pk_site *sites, int32_t siteCount,
                 pk_phase **phase, pk_error *error, const std::function<Symmetry(const std::string &)> &symmetry) {
    if (phase != nullptr) *phase = nullptr;
    return guarded(error, [&] {
        requireArgument(phase, "phase");
        requireArgument(cell, "cell");
        PhaseDescription description;
        description.name = name != nullptr ? name : "phase";
        for (int i = 0; i < 6; ++i) description.cell[static_cast<std::size_t>(i)] = cell[i];
        description.symmetry = symmetry(description.name);
        description.sites = sitesOf(sites, siteCount, description.name);
        validateDescription(description, description.name);
        *phase = makePhase(std::move(description));
    });
}

}  // namespace

}  // namespace powderkit::phase

using namespace powderkit::phase;

extern "C" {

int32_t pk_phase_from_cif_text(const char *text, const char *block, pk_phase **phase, pk_error *error) {
    if (phase != nullptr) *phase = nullptr;
    return guarded(error, [&] {
        requireArgument(text, "text");
        requireArgument(phase, "phase");
        *phase = makePhase(readCifDescription(text, "CIF text", block));
    });
}

int32_t pk_phase_from_cif_file(const char *path, const char *block, pk_phase **phase, pk_error *error) {
    if (phase != nullptr) *phase = nullptr;
    return guarded(error, [&] {
        requireArgument(path, "path");
        requireArgument(phase, "phase");
        *phase = makePhase(readCifDescription(readWholeFile(path), path, block));
    });
}

int32_t pk_phase_from_symbol(const char *name, const char *symbol, const double cell[6],
                             const pk_site *sites, int32_t site_count, pk_phase **phase,
                             pk_error *error) {
    return fromCode(name, cell, sites, site_count, phase, error, [&](const std::string &where) {
        requireArgument(symbol, "symbol");
        try {
            return symmetryFromSymbol(symbol);
        } catch (const Failure &failure) {
            fail(failure.code(), where + ": " + failure.what());
        }
    });
}

int32_t pk_phase_from_operators(const char *name, const char *const *operators, int32_t operator_count,
                                const double cell[6], const pk_site *sites, int32_t site_count,
                                pk_phase **phase, pk_error *error) {
    return fromCode(name, cell, sites, site_count, phase, error, [&](const std::string &where) {
        requireArgument(operators, "operators");
        std::vector<std::string> triplets;
        for (int32_t i = 0; i < operator_count; ++i) {
            requireArgument(operators[i], "an operator");
            triplets.emplace_back(operators[i]);
        }
        return symmetryFromTriplets(triplets, where);
    });
}

void pk_phase_free(pk_phase *phase) { delete phase; }

const char *pk_phase_name(const pk_phase *phase) {
    return phase != nullptr ? phase->description.name.c_str() : "";
}

const char *pk_phase_symbol(const pk_phase *phase) {
    return phase != nullptr ? phase->description.symmetry.symbol.c_str() : "";
}

const char *pk_phase_warnings(const pk_phase *phase) {
    return phase != nullptr ? phase->warnings.c_str() : "";
}

int32_t pk_phase_cell(const pk_phase *phase, double cell[6], double *volume) {
    return guarded(nullptr, [&] {
        requireArgument(phase, "phase");
        if (cell != nullptr) {
            for (int i = 0; i < 6; ++i) cell[i] = phase->description.cell[static_cast<std::size_t>(i)];
        }
        if (volume != nullptr) *volume = phase->crystal->volume;
    });
}

int32_t pk_phase_site_count(const pk_phase *phase) {
    return phase != nullptr ? static_cast<int32_t>(phase->description.sites.size()) : 0;
}

int32_t pk_phase_site(const pk_phase *phase, int32_t index, pk_site *site, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(phase, "phase");
        requireArgument(site, "site");
        const auto &sites = phase->description.sites;
        const SiteDescription &s = sites[requireIndex(index, sites.size(), "site")];
        site->label = s.label.c_str();
        site->type = s.type.c_str();
        site->x = s.x;
        site->y = s.y;
        site->z = s.z;
        site->occupancy = s.occupancy;
        site->u_iso = s.uIso;
        site->has_u_aniso = s.anisotropic ? 1 : 0;
        for (int j = 0; j < 6; ++j) site->u_aniso[j] = s.u[static_cast<std::size_t>(j)];
    });
}

int32_t pk_phase_operator_count(const pk_phase *phase) {
    return phase != nullptr ? static_cast<int32_t>(phase->description.symmetry.operations.size()) : 0;
}

int32_t pk_phase_operator(const pk_phase *phase, int32_t index, int32_t rotation[9],
                          double translation[3], pk_error *error) {
    return guarded(error, [&] {
        requireArgument(phase, "phase");
        const auto &operations = phase->description.symmetry.operations;
        const SymmetryOperation &op = operations[requireIndex(index, operations.size(), "operator")];
        if (rotation != nullptr) {
            for (int i = 0; i < 9; ++i) rotation[i] = op.rotation[static_cast<std::size_t>(i)];
        }
        if (translation != nullptr) {
            for (int i = 0; i < 3; ++i) translation[i] = op.translation[static_cast<std::size_t>(i)];
        }
    });
}

}  // extern "C"
