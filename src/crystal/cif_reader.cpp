// Reading a crystal from a CIF data block, in both tag styles: underscore
// names (_cell_length_a, _atom_site_fract_x) and dotted names
// (_cell.length_a, _atom_site.fract_x). The text is parsed by gemmi; the
// block's values are read here, each with the line it stands on for messages.
// Symmetry comes from the operator loop when there is one, else from the
// Hermann–Mauguin symbol, else from the Hall symbol.
#include <cmath>
#include <cstdio>
#include <initializer_list>

// The number parser inside gemmi checks invariants of its big-integer
// arithmetic with abort(). This library never aborts its host; the checks
// hold by construction, so they are compiled out, as a release build
// compiles out assert.
#define FASTFLOAT_ASSERT(x) ((void)0)
#include <gemmi/cif.hpp>
#include <gemmi/numb.hpp>

#include "boundary/constants.hpp"
#include "boundary/boundary.hpp"
#include "crystal/phase.hpp"

namespace powderkit::phase {

namespace {

namespace cif = gemmi::cif;

// 8π², which turns B into U: B = 8π² U.

using Tags = std::initializer_list<const char *>;

// The block being read, and how to name a place in it.
struct Reader {
    cif::Block &block;
    std::string source;     // the file, for "FILE:LINE"
    std::string blockText;  // "FILE (data_NAME)", for what has no line

    std::string at(const cif::Column &column) const {
        const cif::Item *item = column.item();
        if (item != nullptr && item->line_number > 0) return source + ":" + std::to_string(item->line_number);
        return source;
    }

    // The first of `tags` the block holds, as a pair or a loop column.
    cif::Column column(Tags tags) const {
        for (const char *tag : tags) {
            cif::Column found = block.find_values(tag);
            if (found.item() != nullptr) return found;
        }
        return cif::Column();
    }

    // A number of a single-valued tag: standard uncertainties in parentheses
    // are accepted; missing, '?', '.' and text are errors naming the tag.
    double number(Tags tags) const {
        cif::Column found = column(tags);
        const char *name = *tags.begin();
        if (found.item() == nullptr || found.length() == 0) {
            fail(PK_ERROR_FORMAT, blockText + ": " + name + " is missing");
        }
        const std::string &value = found[0];
        if (cif::is_null(value)) fail(PK_ERROR_FORMAT, at(found) + ": " + name + " has no value");
        const double parsed = cif::as_number(value);
        if (std::isnan(parsed)) {
            fail(PK_ERROR_FORMAT, at(found) + ": " + name + " = \"" + value + "\" is not a number");
        }
        return parsed;
    }

    // A text value, or "" when absent or null.
    std::string text(Tags tags) const {
        cif::Column found = column(tags);
        if (found.item() == nullptr || found.length() == 0 || cif::is_null(found[0])) return "";
        return cif::as_string(found[0]);
    }
};

// One loop of the block: the columns of given tags by position.
struct LoopReader {
    const Reader &reader;
    const cif::Item *item = nullptr;

    int find(Tags tags) const {
        if (item == nullptr) return -1;
        for (const char *tag : tags) {
            const int position = item->loop.find_tag(tag);
            if (position >= 0) return position;
        }
        return -1;
    }
    std::size_t rows() const { return item == nullptr ? 0 : item->loop.length(); }
    const std::string &value(std::size_t row, int position) const {
        return item->loop.val(row, static_cast<std::size_t>(position));
    }
    std::string where() const {
        return item != nullptr && item->line_number > 0
                   ? reader.source + ":" + std::to_string(item->line_number)
                   : reader.source;
    }
};

LoopReader loopOf(const Reader &reader, Tags tags) {
    for (const char *tag : tags) {
        if (const cif::Item *item = reader.block.find_loop_item(tag)) return LoopReader{reader, item};
    }
    return LoopReader{reader, nullptr};
}

Symmetry readSymmetry(const Reader &reader) {
    const std::string hm = reader.text({"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M",
                                        "_space_group.name_H-M_alt", "_symmetry.space_group_name_H-M"});
    const std::string hall = reader.text({"_space_group_name_Hall", "_symmetry_space_group_name_Hall",
                                          "_space_group.name_Hall", "_symmetry.space_group_name_Hall"});
    cif::Column operators = reader.column({"_space_group_symop_operation_xyz", "_symmetry_equiv_pos_as_xyz",
                                           "_space_group_symop.operation_xyz", "_symmetry_equiv.pos_as_xyz"});
    if (operators.item() != nullptr && operators.length() > 0) {
        std::vector<std::string> triplets;
        for (const std::string &value : operators) triplets.push_back(cif::as_string(value));
        Symmetry symmetry = symmetryFromTriplets(triplets, reader.at(operators));
        symmetry.symbol = !hm.empty() ? hm : hall;
        return symmetry;
    }
    if (!hm.empty()) return symmetryFromSymbol(hm);
    if (!hall.empty()) return symmetryFromHall(hall);
    fail(PK_ERROR_FORMAT, reader.blockText + ": no symmetry: the block has no operator loop, "
                                          "no Hermann-Mauguin symbol and no Hall symbol");
}

// A number of a loop cell; null values take `fallback`, or are an error when
// `required`.
double loopNumber(const LoopReader &loop, std::size_t row, int position, const std::string &what,
                  const std::string &site, bool required, double fallback) {
    if (position < 0) {
        if (required) fail(PK_ERROR_FORMAT, loop.where() + ": the atom-site loop has no " + what + " column");
        return fallback;
    }
    const std::string &value = loop.value(row, position);
    if (cif::is_null(value)) {
        if (required) fail(PK_ERROR_FORMAT, loop.where() + ": site " + site + " has no " + what);
        return fallback;
    }
    const double parsed = cif::as_number(value);
    if (std::isnan(parsed)) {
        fail(PK_ERROR_FORMAT, loop.where() + ": site " + site + ": the " + what + " \"" + value +
                                  "\" is not a number");
    }
    return parsed;
}

std::vector<SiteDescription> readSites(const Reader &reader) {
    const LoopReader loop = loopOf(reader, {"_atom_site_label", "_atom_site.label", "_atom_site_fract_x",
                                            "_atom_site.fract_x"});
    std::vector<SiteDescription> sites;
    if (loop.item == nullptr) return sites;
    if (loop.rows() == 0) fail(PK_ERROR_FORMAT, loop.where() + ": the atom-site loop has a header and no rows");
    const int label = loop.find({"_atom_site_label", "_atom_site.label"});
    const int type = loop.find({"_atom_site_type_symbol", "_atom_site.type_symbol"});
    const int fx = loop.find({"_atom_site_fract_x", "_atom_site.fract_x"});
    const int fy = loop.find({"_atom_site_fract_y", "_atom_site.fract_y"});
    const int fz = loop.find({"_atom_site_fract_z", "_atom_site.fract_z"});
    const int occupancy = loop.find({"_atom_site_occupancy", "_atom_site.occupancy"});
    const int uIso = loop.find({"_atom_site_U_iso_or_equiv", "_atom_site.U_iso_or_equiv"});
    const int bIso = loop.find({"_atom_site_B_iso_or_equiv", "_atom_site.B_iso_or_equiv"});
    for (std::size_t row = 0; row < loop.rows(); ++row) {
        SiteDescription site;
        site.label = label >= 0 ? cif::as_string(loop.value(row, label)) : "site" + std::to_string(row + 1);
        const bool hasType = type >= 0 && !cif::is_null(loop.value(row, type));
        try {
            if (hasType) {
                site.type = cif::as_string(loop.value(row, type));
                site.element = &elementForType(site.type);
            } else {
                site.element = &elementForLabel(site.label);
                site.type = site.element->symbol;
            }
        } catch (const Failure &failure) {
            fail(failure.code(), loop.where() + ": " + failure.what());
        }
        site.x = loopNumber(loop, row, fx, "x coordinate", site.label, true, 0.0);
        site.y = loopNumber(loop, row, fy, "y coordinate", site.label, true, 0.0);
        site.z = loopNumber(loop, row, fz, "z coordinate", site.label, true, 0.0);
        site.occupancy = loopNumber(loop, row, occupancy, "occupancy", site.label, false, 1.0);
        if (uIso >= 0 && !cif::is_null(loop.value(row, uIso))) {
            site.uIso = loopNumber(loop, row, uIso, "Uiso", site.label, false, 0.0);
        } else if (bIso >= 0) {
            site.uIso = loopNumber(loop, row, bIso, "Biso", site.label, false, 0.0) / kEightPiSquared;
        }
        sites.push_back(site);
    }
    return sites;
}

void readAnisotropic(const Reader &reader, std::vector<SiteDescription> &sites) {
    const LoopReader loop = loopOf(reader, {"_atom_site_aniso_label", "_atom_site_aniso.label"});
    if (loop.item == nullptr) return;
    const int label = loop.find({"_atom_site_aniso_label", "_atom_site_aniso.label"});
    static const char *kU[6][2] = {{"_atom_site_aniso_U_11", "_atom_site_aniso.U_11"},
                                   {"_atom_site_aniso_U_22", "_atom_site_aniso.U_22"},
                                   {"_atom_site_aniso_U_33", "_atom_site_aniso.U_33"},
                                   {"_atom_site_aniso_U_12", "_atom_site_aniso.U_12"},
                                   {"_atom_site_aniso_U_13", "_atom_site_aniso.U_13"},
                                   {"_atom_site_aniso_U_23", "_atom_site_aniso.U_23"}};
    static const char *kB[6][2] = {{"_atom_site_aniso_B_11", "_atom_site_aniso.B_11"},
                                   {"_atom_site_aniso_B_22", "_atom_site_aniso.B_22"},
                                   {"_atom_site_aniso_B_33", "_atom_site_aniso.B_33"},
                                   {"_atom_site_aniso_B_12", "_atom_site_aniso.B_12"},
                                   {"_atom_site_aniso_B_13", "_atom_site_aniso.B_13"},
                                   {"_atom_site_aniso_B_23", "_atom_site_aniso.B_23"}};
    static const char *kNames[6] = {"U11", "U22", "U33", "U12", "U13", "U23"};
    int columns[6];
    double divisor = 1.0;
    for (int i = 0; i < 6; ++i) columns[i] = loop.find({kU[i][0], kU[i][1]});
    if (columns[0] < 0) {
        for (int i = 0; i < 6; ++i) columns[i] = loop.find({kB[i][0], kB[i][1]});
        divisor = kEightPiSquared;
    }
    if (label < 0) return;
    for (std::size_t row = 0; row < loop.rows(); ++row) {
        const std::string name = cif::as_string(loop.value(row, label));
        SiteDescription *site = nullptr;
        for (SiteDescription &candidate : sites) {
            if (candidate.label == name) site = &candidate;
        }
        if (site == nullptr) {
            fail(PK_ERROR_FORMAT, loop.where() + ": anisotropic displacements for \"" + name +
                                      "\", which is not a site of the atom-site loop");
        }
        for (int i = 0; i < 6; ++i) {
            site->u[static_cast<std::size_t>(i)] =
                loopNumber(loop, row, columns[i], kNames[i], name, true, 0.0) / divisor;
        }
        site->anisotropic = true;
    }
}

bool sameName(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

PhaseDescription readCifDescription(const std::string &text, const std::string &source,
                                    const char *block) {
    cif::Document document;
    try {
        document = cif::read_memory(text.data(), text.size(), source.c_str());
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const std::exception &e) {
        fail(PK_ERROR_FORMAT, std::string(e.what()));
    }
    if (document.blocks.empty()) fail(PK_ERROR_FORMAT, source + ": no data block (not a CIF file?)");
    cif::Block *chosen = &document.blocks.front();
    if (block != nullptr) {
        chosen = nullptr;
        std::string names;
        for (cif::Block &candidate : document.blocks) {
            if (sameName(candidate.name, block)) chosen = &candidate;
            names += (names.empty() ? "" : ", ") + candidate.name;
        }
        if (chosen == nullptr) {
            fail(PK_ERROR_ARGUMENT, source + ": no data block named \"" + block + "\" (the file holds " +
                                        names + ")");
        }
    }
    const Reader reader{*chosen, source, source + " (data_" + chosen->name + ")"};
    PhaseDescription description;
    description.name = chosen->name;
    // Each cell value is checked where it stands, so that the message names
    // its line; whether the angles make a cell is checked with the rest.
    const auto cellValue = [&reader](Tags tags, bool edge) {
        const double value = reader.number(tags);
        if (edge ? !(value > 0.0) : !(value > 0.0 && value < 180.0)) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%.10g", value);
            fail(PK_ERROR_CRYSTAL, reader.at(reader.column(tags)) + ": the cell " + (edge ? "edge " : "angle ") +
                                       *tags.begin() + " = " + shown +
                                       (edge ? " is not positive" : " is not between 0 and 180 degrees"));
        }
        return value;
    };
    description.cell = {cellValue({"_cell_length_a", "_cell.length_a"}, true),
                        cellValue({"_cell_length_b", "_cell.length_b"}, true),
                        cellValue({"_cell_length_c", "_cell.length_c"}, true),
                        cellValue({"_cell_angle_alpha", "_cell.angle_alpha"}, false),
                        cellValue({"_cell_angle_beta", "_cell.angle_beta"}, false),
                        cellValue({"_cell_angle_gamma", "_cell.angle_gamma"}, false)};
    description.symmetry = readSymmetry(reader);
    description.sites = readSites(reader);
    readAnisotropic(reader, description.sites);
    validateDescription(description, reader.blockText);
    return description;
}

}  // namespace powderkit::phase
