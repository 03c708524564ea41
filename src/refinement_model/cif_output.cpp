// The refined structure of one phase as CIF text: the cell, the space group's
// name and operators, and every site with its occupancy and Uiso, each refined
// value followed by its esd in parentheses, in units of its last digit. The
// esd keeps two significant digits when they read 19 or less and one digit
// otherwise, and the value is rounded to the same decimal place
// (4.75891(12), 0.35216(3)); a fixed value is written with enough digits to
// read back unchanged to 1e−9 relative.
#include <cmath>
#include <cstdio>
#include <string>

#include "refinement_model/refinement.hpp"

namespace powderkit::refinement {

namespace {

// A CIF value: bare when it contains no blank or quote and does not start like a reserved word.
std::string quotedIfNeeded(const std::string &text) {
    if (!text.empty() && text.find_first_of(" \t'\"#$;_[]") == std::string::npos) return text;
    return "'" + text + "'";
}

// The esd of the refined parameter with this target, phase, index and coordinate; 0 when it is not refined.
double esdOf(const pk_refinement &r, Target target, int phase, int index, int coordinate = 0) {
    for (const Parameter &p : r.parameters) {
        if (p.target != target || p.phase != phase || p.index != index) continue;
        if (target == Target::Coordinate && p.coordinate != coordinate) continue;
        if (p.state == PK_PARAMETER_FREE || p.state == PK_PARAMETER_AT_LIMIT) return p.esd;
        return 0.0;
    }
    return 0.0;
}

}  // namespace

std::string valueWithEsd(double value, double esd) {
    char text[64];
    if (!(esd > 0.0) || !std::isfinite(esd)) {
        std::snprintf(text, sizeof text, "%.10g", value);
        return text;
    }
    const int exponent = static_cast<int>(std::floor(std::log10(esd)));
    const double leading = esd / std::pow(10.0, exponent - 1);  // 10 … 99.9…
    int decimals = leading < 19.5 ? 1 - exponent : -exponent;
    if (decimals < 0) decimals = 0;
    const long units = std::lround(esd * std::pow(10.0, decimals));
    std::snprintf(text, sizeof text, "%.*f(%ld)", decimals, value, units);
    return text;
}

std::string refinedCif(const pk_refinement &r, std::size_t phaseIndex) {
    const PhaseModel &model = r.phases[phaseIndex];
    const phase::PhaseDescription &d = model.description;
    const int phase = static_cast<int>(phaseIndex);
    std::string cif = "# " + model.name + " as refined by powderkit; esd's in parentheses\n";
    cif += "data_" + model.name + "\n";
    if (!d.symmetry.symbol.empty()) cif += "_space_group_name_H-M_alt " + quotedIfNeeded(d.symmetry.symbol) + "\n";
    static const char *const kCell[6] = {"length_a",    "length_b",   "length_c",
                                         "angle_alpha", "angle_beta", "angle_gamma"};
    for (std::size_t k = 0; k < 6; ++k) {
        const int leader = model.cell.leader[k];
        const int parameter = leader >= 0 ? model.cellParameter[static_cast<std::size_t>(leader)] : -1;
        double esd = 0.0;
        if (parameter >= 0) {
            const Parameter &p = r.parameters[static_cast<std::size_t>(parameter)];
            if (p.state == PK_PARAMETER_FREE || p.state == PK_PARAMETER_AT_LIMIT) esd = p.esd;
        }
        cif += std::string("_cell_") + kCell[k] + " " + valueWithEsd(d.cell[k], esd) + "\n";
    }
    cif += "loop_\n_space_group_symop_operation_xyz\n";
    for (const phase::SymmetryOperation &op : d.symmetry.operations) {
        cif += "'" + op.expressions[0] + "," + op.expressions[1] + "," + op.expressions[2] + "'\n";
    }
    cif +=
        "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
        "_atom_site_fract_z\n_atom_site_occupancy\n_atom_site_U_iso_or_equiv\n";
    bool anisotropic = false;
    for (std::size_t s = 0; s < d.sites.size(); ++s) {
        const phase::SiteDescription &site = d.sites[s];
        const int index = static_cast<int>(s);
        cif += quotedIfNeeded(site.label) + " " + quotedIfNeeded(site.type);
        const double xyz[3] = {site.x, site.y, site.z};
        for (int c = 0; c < 3; ++c) cif += " " + valueWithEsd(xyz[c], esdOf(r, Target::Coordinate, phase, index, c));
        cif += " " + valueWithEsd(site.occupancy, esdOf(r, Target::Occupancy, phase, index));
        cif += " " + valueWithEsd(site.uIso, esdOf(r, Target::Uiso, phase, index)) + "\n";
        anisotropic = anisotropic || site.anisotropic;
    }
    if (anisotropic) {
        cif +=
            "loop_\n_atom_site_aniso_label\n_atom_site_aniso_U_11\n_atom_site_aniso_U_22\n_atom_site_aniso_U_33\n"
            "_atom_site_aniso_U_12\n_atom_site_aniso_U_13\n_atom_site_aniso_U_23\n";
        for (const phase::SiteDescription &site : d.sites) {
            if (!site.anisotropic) continue;
            cif += quotedIfNeeded(site.label);
            for (double u : site.u) cif += " " + valueWithEsd(u, 0.0);
            cif += "\n";
        }
    }
    return cif;
}

}  // namespace powderkit::refinement
