// The Le Bail confirmation of a candidate cell: the whole measured pattern
// fitted with the cell, its lattice's holohedral space group (so that only
// the centring removes reflexions) and intensities extracted from the data,
// by the refinement's own machinery. Its Rwp says whether the cell explains
// the pattern and not only the peak list.
#include <cmath>
#include <memory>
#include <string>

#include "indexing/indexing.hpp"

namespace powderkit::indexing {
namespace {

// The holohedry of each lattice, with the centring letter in front.
std::string holohedralSymbol(LatticeSystem system, char centring) {
    const std::string letter(1, centring);
    switch (system) {
    case LatticeSystem::Cubic: return letter + " m -3 m";
    case LatticeSystem::Tetragonal: return letter + " 4/m m m";
    case LatticeSystem::Hexagonal: return centring == 'R' ? "R -3 m:H" : "P 6/m m m";
    case LatticeSystem::Orthorhombic: return letter + " m m m";
    case LatticeSystem::Monoclinic: return letter + " 1 2/m 1";
    case LatticeSystem::Triclinic: return "P -1";
    }
    return "P 1";
}

struct PhaseDeleter {
    void operator()(pk_phase *phase) const { pk_phase_free(phase); }
};
struct RefinementDeleter {
    void operator()(pk_refinement *refinement) const { pk_refinement_free(refinement); }
};

}  // namespace

double leBailCheck(const Candidate &candidate, const pk_measured_pattern &measured, const pk_instrument &instrument,
                   const std::function<bool()> &stop, std::string &failure) {
    pk_error error{};
    pk_phase *made = nullptr;
    const std::string symbol = holohedralSymbol(candidate.fit.system, candidate.centring);
    if (pk_phase_from_symbol("candidate", symbol.c_str(), candidate.cell.data(), nullptr, 0, &made, &error) != PK_OK) {
        failure = error.message;
        return std::nan("");
    }
    const std::unique_ptr<pk_phase, PhaseDeleter> phase(made);
    pk_instrument start = instrument;
    start.zero = candidate.fit.zero;
    pk_phase_setting setting{};
    setting.phase = phase.get();
    setting.scale = 1.0;
    setting.march_ratio = 1.0;
    pk_refinement_options options;
    pk_refinement_options_default(&options);
    options.mode = PK_REFINE_LE_BAIL;
    options.max_cycles = 40;
    // The cell and zero come from the lines already: only the widths are
    // started from the peaks.
    options.cell_window = 0.0;
    options.zero_window = 0.0;
    pk_refinement *refinementMade = nullptr;
    if (pk_refinement_make(&measured, &start, &setting, 1, nullptr, &options, &refinementMade, &error) != PK_OK) {
        failure = error.message;
        return std::nan("");
    }
    const std::unique_ptr<pk_refinement, RefinementDeleter> refinement(refinementMade);
    if (pk_refinement_set_free(refinement.get(), pk_refinement_default_free(PK_REFINE_LE_BAIL), true, &error) != PK_OK) {
        failure = error.message;
        return std::nan("");
    }
    const auto progress = [](void *context, int32_t, double, double, double) -> int32_t {
        return (*static_cast<const std::function<bool()> *>(context))() ? 1 : 0;
    };
    if (pk_refinement_run(refinement.get(), progress, const_cast<std::function<bool()> *>(&stop), &error) != PK_OK) {
        failure = error.message;
        return std::nan("");
    }
    pk_refinement_summary summary{};
    pk_refinement_get_summary(refinement.get(), &summary, nullptr);
    if (summary.stop == PK_STOP_CALLBACK) return std::nan("");
    return summary.Rwp;
}

}  // namespace powderkit::indexing
