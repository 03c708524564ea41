// The extinction classes of a lattice system: its space groups, every
// setting that fits the conventional cells of the indexing, grouped by the
// reflexions they make systematically absent (h k l up to kBox in
// magnitude, enough for the 4n conditions of d glides and the 6n of 61
// axes). A class is named by its extinction symbol, written from one of its
// groups: each symmetry direction shows '-' when it makes nothing absent,
// else its glide letter, its screw axis when the axis's serial condition
// does not follow from the centring and the glides, or both ("21/c").
// Monoclinic symbols keep the 1s of the non-unique directions ("P 1 21/c 1",
// "P 1 - 1"); the triclinic one is "P -". Hexagonal and trigonal symbols all
// have three directions, [001], [100] and [1-10] ("P 31 - -", "P - c -",
// "P - - c"); the obverse rhombohedral groups, with two in their
// Hermann–Mauguin symbol, get a '-' for the third ("R - c -" for R-3c: its
// glide plane, like that of P3c1, makes h-h0l with odd l absent).
#include "indexing/extinction.hpp"

#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <map>
#include <new>
#include <sstream>
#include <tuple>
#include <utility>

namespace powderkit::indexing {
namespace {

constexpr int kBox = 8;
constexpr std::size_t kBoxSide = 2 * kBox + 1;
// The table opens with the settings of International Tables; the entries
// after them are origin variants and enlarged cells we do not index in.
constexpr std::size_t kTabulatedSettings = 530;

struct Class {
    ExtinctionClass shown;  // symbol, groups and centring; no line counts
    gemmi::GroupOps ops;    // one of its groups, to test any reflexion
};

std::vector<std::string> tokensOf(const char *hm) {
    std::istringstream stream(hm);
    std::vector<std::string> tokens;
    for (std::string token; stream >> token;) tokens.push_back(token);
    return tokens;
}

bool belongs(LatticeSystem system, const gemmi::SpaceGroup &sg, const std::vector<std::string> &tokens) {
    using CS = gemmi::CrystalSystem;
    const CS cs = sg.crystal_system();
    const auto letterIn = [&](const char *letters) { return std::strchr(letters, sg.hm[0]) != nullptr; };
    switch (system) {
    case LatticeSystem::Triclinic: return cs == CS::Triclinic && letterIn("P");
    case LatticeSystem::Monoclinic:  // b unique: "X 1 * 1"
        return cs == CS::Monoclinic && letterIn("PACI") && tokens.size() == 4 && tokens[1] == "1" &&
               tokens[3] == "1";
    case LatticeSystem::Orthorhombic: return cs == CS::Orthorhombic && letterIn("PABCIF");
    case LatticeSystem::Tetragonal: return cs == CS::Tetragonal && letterIn("PI");
    case LatticeSystem::Hexagonal: return (cs == CS::Trigonal || cs == CS::Hexagonal) && sg.ext != 'R';
    case LatticeSystem::Cubic: return cs == CS::Cubic && letterIn("PIF");
    }
    return false;
}

bool shifts(const gemmi::Op::Tran &t, const Hkl &hkl) {
    return (static_cast<long long>(hkl[0]) * t[0] + static_cast<long long>(hkl[1]) * t[1] +
            static_cast<long long>(hkl[2]) * t[2]) % gemmi::Op::DEN != 0;
}

// Whether the centring, or a mirror or glide plane leaving the reflexion in
// place, makes it absent: every cause of absence but the rotation axes.
bool absentWithoutAxes(const gemmi::GroupOps &ops, const Hkl &hkl) {
    for (std::size_t i = 1; i < ops.cen_ops.size(); ++i)
        if (shifts(ops.cen_ops[i], hkl)) return true;
    const Hkl scaled{gemmi::Op::DEN * hkl[0], gemmi::Op::DEN * hkl[1], gemmi::Op::DEN * hkl[2]};
    for (const gemmi::Op &op : ops.sym_ops) {
        if (op.det_rot() > 0 || op.apply_to_hkl_without_division(hkl) != scaled) continue;
        for (const gemmi::Op::Tran &c : ops.cen_ops)
            if (shifts({op.tran[0] + c[0], op.tran[1] + c[1], op.tran[2] + c[2]}, hkl)) return true;
    }
    return false;
}

bool isScrew(const std::string &axis) {
    return axis.size() == 2 && std::isdigit(static_cast<unsigned char>(axis[0])) &&
           std::isdigit(static_cast<unsigned char>(axis[1]));
}

// The row of reflexions along the symmetry direction `position` where a
// screw axis can stand in the groups' symbols; {0,0,0} where none does.
Hkl serialRow(LatticeSystem system, std::size_t position) {
    switch (system) {
    case LatticeSystem::Monoclinic: return {0, 1, 0};
    case LatticeSystem::Orthorhombic:
        return {position == 0 ? 1 : 0, position == 1 ? 1 : 0, position == 2 ? 1 : 0};
    case LatticeSystem::Tetragonal: return position == 0 ? Hkl{0, 0, 1} : position == 1 ? Hkl{1, 0, 0} : Hkl{};
    case LatticeSystem::Hexagonal:
    case LatticeSystem::Cubic: return position == 0 ? Hkl{0, 0, 1} : Hkl{};
    case LatticeSystem::Triclinic: break;
    }
    return {};
}

// A screw axis says something only when its serial absences do not follow
// from the rest of the group (41 of I41/amd follows from the d glide).
bool screwNeeded(const gemmi::GroupOps &ops, const Hkl &row) {
    if (row == Hkl{}) return true;
    for (int n = 1; n <= 2 * kBox; ++n) {
        const Hkl hkl{n * row[0], n * row[1], n * row[2]};
        if (ops.is_systematically_absent(hkl) && !absentWithoutAxes(ops, hkl)) return true;
    }
    return false;
}

std::string symbolOf(LatticeSystem system, const gemmi::SpaceGroup &sg, const gemmi::GroupOps &ops) {
    const std::vector<std::string> tokens = tokensOf(sg.hm);
    const std::size_t directions = system == LatticeSystem::Triclinic ? 1 : 3;
    std::string symbol(1, tokens[0][0]);
    for (std::size_t position = 0; position < directions; ++position) {
        symbol += ' ';
        if (system == LatticeSystem::Monoclinic && position != 1) {
            symbol += '1';
            continue;
        }
        const std::string token = position + 1 < tokens.size() ? tokens[position + 1] : "1";
        const std::size_t slash = token.find('/');
        std::string axis = token, plane;
        if (slash != std::string::npos) {
            axis = token.substr(0, slash);
            plane = token.substr(slash + 1);
        } else if (std::isalpha(static_cast<unsigned char>(token[0]))) {
            axis.clear();
            plane = token;
        }
        if (plane == "m") plane.clear();
        if (!isScrew(axis) || !screwNeeded(ops, serialRow(system, position))) axis.clear();
        const std::string shown = axis.empty() || plane.empty() ? axis + plane : axis + "/" + plane;
        symbol += shown.empty() ? "-" : shown;
    }
    return symbol;
}

int screwCount(const char *hm) {
    int count = 0;
    for (const std::string &token : tokensOf(hm)) count += isScrew(token.substr(0, token.find('/')));
    return count;
}

// The group a class is named from: the fewest screw axes (to be checked
// for redundancy), then a reference setting ("C m m a" rather than
// "C m m b"), then the first symbol in alphabetical order.
bool namesBetter(const gemmi::SpaceGroup &a, const gemmi::SpaceGroup &b) {
    const auto key = [](const gemmi::SpaceGroup &sg) {
        return std::make_tuple(screwCount(sg.hm), !sg.is_reference_setting(), std::string(sg.hm));
    };
    return key(a) < key(b);
}

std::vector<Class> buildClasses(LatticeSystem system) {
    struct Setting {
        const gemmi::SpaceGroup *sg;
        gemmi::GroupOps ops;
    };
    std::vector<Setting> settings;
    std::vector<std::vector<bool>> signatures;  // each class's absences over the box
    std::vector<std::vector<std::size_t>> members;
    std::map<std::string, std::vector<std::size_t>> classesOfHm;  // to qualify an hm that splits
    const std::size_t tabulated = std::min(kTabulatedSettings, std::size(gemmi::spacegroup_tables::main));
    for (std::size_t index = 0; index < tabulated; ++index) {
        const gemmi::SpaceGroup &sg = gemmi::spacegroup_tables::main[index];
        if (!belongs(system, sg, tokensOf(sg.hm))) continue;
        settings.push_back({&sg, sg.operations()});
        const gemmi::GroupOps &ops = settings.back().ops;
        std::vector<bool> absent;
        absent.reserve(kBoxSide * kBoxSide * kBoxSide);
        for (int h = -kBox; h <= kBox; ++h)
            for (int k = -kBox; k <= kBox; ++k)
                for (int l = -kBox; l <= kBox; ++l) absent.push_back(ops.is_systematically_absent({h, k, l}));
        const auto found = std::find(signatures.begin(), signatures.end(), absent);
        const std::size_t which = static_cast<std::size_t>(found - signatures.begin());
        if (found == signatures.end()) {
            signatures.push_back(std::move(absent));
            members.emplace_back();
        }
        members[which].push_back(settings.size() - 1);
        auto &ofHm = classesOfHm[sg.hm];
        if (std::find(ofHm.begin(), ofHm.end(), which) == ofHm.end()) ofHm.push_back(which);
    }
    std::vector<Class> classes;
    for (const std::vector<std::size_t> &group : members) {
        const Setting *named = &settings[group.front()];
        Class entry;
        for (std::size_t member : group) {
            const gemmi::SpaceGroup &sg = *settings[member].sg;
            if (namesBetter(sg, *named->sg)) named = &settings[member];
            const std::string name = classesOfHm[sg.hm].size() > 1 ? sg.xhm() : std::string(sg.hm);
            auto &groups = entry.shown.groups;
            if (std::find(groups.begin(), groups.end(), name) == groups.end()) groups.push_back(name);
        }
        entry.shown.symbol = symbolOf(system, *named->sg, named->ops);
        entry.shown.centring = named->sg->hm[0];
        entry.ops = named->ops;
        classes.push_back(std::move(entry));
    }
    return classes;
}

const std::vector<Class> &classesOf(LatticeSystem system) {
    switch (system) {
    case LatticeSystem::Cubic: { static const auto table = buildClasses(system); return table; }
    case LatticeSystem::Tetragonal: { static const auto table = buildClasses(system); return table; }
    case LatticeSystem::Hexagonal: { static const auto table = buildClasses(system); return table; }
    case LatticeSystem::Orthorhombic: { static const auto table = buildClasses(system); return table; }
    case LatticeSystem::Monoclinic: { static const auto table = buildClasses(system); return table; }
    case LatticeSystem::Triclinic: { static const auto table = buildClasses(system); return table; }
    }
    static const std::vector<Class> none;
    return none;
}

// The rotations of the system's holohedry (b unique for the monoclinic).
const std::vector<gemmi::Op> &holohedryOf(LatticeSystem system) {
    const auto rotations = [](const char *hm) {
        const gemmi::SpaceGroup *sg = gemmi::find_spacegroup_by_name(hm);
        return sg != nullptr ? sg->operations().sym_ops : std::vector<gemmi::Op>{gemmi::Op::identity()};
    };
    switch (system) {
    case LatticeSystem::Cubic: { static const auto ops = rotations("P m -3 m"); return ops; }
    case LatticeSystem::Tetragonal: { static const auto ops = rotations("P 4/m m m"); return ops; }
    case LatticeSystem::Hexagonal: { static const auto ops = rotations("P 6/m m m"); return ops; }
    case LatticeSystem::Orthorhombic: { static const auto ops = rotations("P m m m"); return ops; }
    case LatticeSystem::Monoclinic: { static const auto ops = rotations("P 1 2/m 1"); return ops; }
    case LatticeSystem::Triclinic: break;
    }
    static const auto ops = rotations("P -1");
    return ops;
}

// Each distinct reflexion given, widened to its holohedry orbit.
using Orbits = std::map<Hkl, std::vector<Hkl>>;

void addOrbits(Orbits &orbits, const std::vector<std::vector<Hkl>> &lines, const std::vector<gemmi::Op> &holohedry) {
    for (const auto &line : lines)
        for (const Hkl &hkl : line) {
            if (orbits.count(hkl) != 0) continue;
            std::vector<Hkl> orbit;
            for (const gemmi::Op &op : holohedry) orbit.push_back(op.apply_to_hkl(hkl));
            std::sort(orbit.begin(), orbit.end());
            orbit.erase(std::unique(orbit.begin(), orbit.end()), orbit.end());
            orbits.emplace(hkl, std::move(orbit));
        }
}

bool orbitAllowed(const gemmi::GroupOps &ops, const std::vector<Hkl> &orbit) {
    return std::any_of(orbit.begin(), orbit.end(), [&](const Hkl &hkl) { return !ops.is_systematically_absent(hkl); });
}

// Whether any of the line's reflexions is allowed, and whether any is absent.
std::pair<bool, bool> lineState(const gemmi::GroupOps &ops, const std::vector<Hkl> &line, const Orbits &orbits) {
    bool allowed = false, absent = false;
    for (const Hkl &hkl : line) (orbitAllowed(ops, orbits.at(hkl)) ? allowed : absent) = true;
    return {allowed, absent};
}

}  // namespace

std::vector<ExtinctionClass> consistentExtinctionClasses(LatticeSystem system,
                                                         const std::vector<std::vector<Hkl>> &observed,
                                                         const std::vector<std::vector<Hkl>> &possible) {
    const std::vector<Class> *classes = nullptr;
    const std::vector<gemmi::Op> *holohedry = nullptr;
    try {
        classes = &classesOf(system);
        holohedry = &holohedryOf(system);
    } catch (const std::bad_alloc &) {
        throw;
    } catch (...) {  // gemmi would not read its own table: nothing to offer
        return {};
    }
    Orbits orbits;
    addOrbits(orbits, observed, *holohedry);
    addOrbits(orbits, possible, *holohedry);

    std::vector<ExtinctionClass> consistent;
    for (const Class &entry : *classes) {
        ExtinctionClass result = entry.shown;
        bool keeps = true;
        for (const auto &line : observed) {
            if (line.empty()) continue;
            const auto [allowed, absent] = lineState(entry.ops, line, orbits);
            if (!allowed) {
                keeps = false;
                break;
            }
            result.ambiguousLines += absent;
        }
        if (!keeps) continue;
        for (const auto &line : possible)
            if (!line.empty()) result.absentLines += !lineState(entry.ops, line, orbits).first;
        consistent.push_back(std::move(result));
    }
    std::sort(consistent.begin(), consistent.end(), [](const ExtinctionClass &a, const ExtinctionClass &b) {
        if (a.absentLines != b.absentLines) return a.absentLines > b.absentLines;
        if (a.groups.size() != b.groups.size()) return a.groups.size() < b.groups.size();
        return a.symbol < b.symbol;
    });
    return consistent;
}

}  // namespace powderkit::indexing
