#include "support/reference_phases.hpp"

#include <cstdio>
#include <map>
#include <memory>

#include "powderkit_phase.h"
#include "support/test_data.hpp"

namespace pk_test {
namespace {

struct PhaseDeleter {
    void operator()(pk_phase *phase) const { pk_phase_free(phase); }
};
using PhasePointer = std::unique_ptr<pk_phase, PhaseDeleter>;

// Phases read so far, by name. The crystals' operator texts point into them,
// so they stay until the process ends.
const pk_phase *phaseOf(const std::string &name) {
    static std::map<std::string, PhasePointer> phases;
    const auto found = phases.find(name);
    if (found != phases.end()) return found->second.get();
    pk_phase *phase = nullptr;
    pk_error error{};
    const std::string path = std::string(PK_EXAMPLE_DATA_DIR) + "/" + referenceCifFile(name);
    if (pk_phase_from_cif_file(path.c_str(), nullptr, &phase, &error) != PK_OK) {
        std::fprintf(stderr, "reference structure %s: %s\n", name.c_str(), error.message);
        return nullptr;
    }
    return phases.emplace(name, PhasePointer(phase)).first->second.get();
}

}  // namespace

std::string referenceCifFile(const std::string &name) { return (name == "Si" ? "silicon" : name) + ".cif"; }

std::vector<std::string> referenceStructureNames() {
    std::vector<std::string> names;
    for (const auto &row : readTable("structures.tsv")) {
        if (!row.empty() && (names.empty() || names.back() != row[0])) names.push_back(row[0]);
    }
    return names;
}

RefinementCrystal *makeReferenceCrystal(const std::string &name, double dMin) {
    const pk_phase *phase = phaseOf(name);
    if (phase == nullptr) return nullptr;
    RefinementCrystal *crystal = nullptr;
    pk_error error{};
    if (pk_phase_core_crystal(phase, dMin, &crystal, &error) != PK_OK) {
        std::fprintf(stderr, "reference structure %s: %s\n", name.c_str(), error.message);
        return nullptr;
    }
    return crystal;
}

}  // namespace pk_test
