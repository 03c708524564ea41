// Reflexion lists of the eight example structures against the independent
// reference lists of tests/data/reflexions, read from CIF in both tag styles
// and built from the space-group symbol; observed lines and representatives.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "powderkit_phase.h"
#include "support/test_data.hpp"

namespace {

using Hkl = std::array<int32_t, 3>;

std::string cifPath(const std::string &name) {
    return std::string(PK_EXAMPLE_DATA_DIR) + "/" + (name == "Si" ? "silicon" : name) + ".cif";
}

std::string fileText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void replaceAll(std::string &text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The same file with dotted tags.
std::string dotted(std::string text) {
    replaceAll(text, "_cell_length_", "_cell.length_");
    replaceAll(text, "_cell_angle_", "_cell.angle_");
    replaceAll(text, "_atom_site_", "_atom_site.");
    replaceAll(text, "_symmetry_equiv_pos_as_xyz", "_space_group_symop.operation_xyz");
    replaceAll(text, "_symmetry_space_group_name_H-M", "_space_group.name_H-M_alt");
    return text;
}

std::vector<std::string> structureNames() {
    std::vector<std::string> names;
    for (const auto &row : pk_test::readTable("structures.tsv")) {
        if (std::find(names.begin(), names.end(), row[0]) == names.end()) names.push_back(row[0]);
    }
    return names;
}

pk_phase *phaseFromText(const std::string &text) {
    pk_phase *phase = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_phase_from_cif_text(text.c_str(), nullptr, &phase, &e), PK_OK) << e.message;
    return phase;
}

// h·R and −h·R over every operator of the phase: the set of planes of h.
std::set<Hkl> planesOf(const pk_phase *phase, const Hkl &h) {
    std::set<Hkl> planes;
    for (int32_t n = 0; n < pk_phase_operator_count(phase); ++n) {
        int32_t r[9];
        pk_phase_operator(phase, n, r, nullptr, nullptr);
        Hkl image{};
        for (int j = 0; j < 3; ++j) image[j] = h[0] * r[j] + h[1] * r[3 + j] + h[2] * r[6 + j];
        planes.insert(image);
        planes.insert(Hkl{-image[0], -image[1], -image[2]});
    }
    return planes;
}

pk_reflexion_list *makeList(const pk_phase *phase, int32_t radiation, double wavelength, int32_t kind,
                            double limit) {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.wavelength = wavelength;
    instrument.radiation = radiation;
    pk_reflexion_list *list = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_reflexion_list_make(phase, &instrument, kind, limit, &list, &e), PK_OK) << e.message;
    return list;
}

// One quantity of every entry (lines: of every line).
std::vector<double> values(const pk_reflexion_list *list, int32_t quantity, bool lines = false) {
    const int32_t n = lines ? pk_reflexion_list_line_count(list) : pk_reflexion_list_count(list);
    std::vector<double> v(static_cast<std::size_t>(n));
    EXPECT_EQ((lines ? pk_reflexion_list_line_values : pk_reflexion_list_values)(list, quantity, v.data(), n, nullptr),
              PK_OK);
    return v;
}

std::vector<Hkl> indices(const pk_reflexion_list *list) {
    const int32_t n = pk_reflexion_list_count(list);
    std::vector<Hkl> hkl(static_cast<std::size_t>(n));
    EXPECT_EQ(pk_reflexion_list_indices(list, hkl.data()->data(), n, nullptr), PK_OK);
    return hkl;
}

double largest(const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); }

// The reference prints d with 8 decimals and |F|², Lp, I with 9 significant digits.
constexpr double kDTolerance = 5.1e-9;
constexpr double kOfStrongest = 1e-6;
constexpr double kLpRelative = 1e-8;

TEST(ReflexionList, MatchesReferenceInBothTagStylesForBothRadiations) {
    for (const std::string &name : structureNames()) {
        const auto reference = pk_test::readTable("reflexions/" + name + ".tsv");
        ASSERT_FALSE(reference.empty()) << name;
        std::vector<double> column[10];  // the reference's columns 3 … 9 as numbers
        for (const auto &row : reference) {
            for (std::size_t c = 3; c < 10; ++c) column[c].push_back(std::stod(row[c]));
        }
        const std::string text = fileText(cifPath(name));
        for (const std::string &cif : {text, dotted(text)}) {
            pk_phase *phase = phaseFromText(cif);
            ASSERT_NE(phase, nullptr) << name;
            for (const bool xray : {true, false}) {
                SCOPED_TRACE(name + (cif == text ? " underscore tags" : " dotted tags") +
                             (xray ? " X-rays" : " neutrons"));
                pk_reflexion_list *list =
                    makeList(phase, xray ? PK_RADIATION_XRAY : PK_RADIATION_NEUTRON, 1.5406, PK_LIMIT_D_MIN, 0.8);
                const std::vector<Hkl> hkl = indices(list);
                const auto d = values(list, PK_QUANTITY_D), m = values(list, PK_QUANTITY_MULTIPLICITY),
                           f2 = values(list, PK_QUANTITY_F2), lp = values(list, PK_QUANTITY_LP),
                           intensity = values(list, PK_QUANTITY_INTENSITY);
                pk_reflexion_list_free(list);
                ASSERT_EQ(hkl.size(), reference.size());
                std::map<Hkl, std::size_t> entryOf;
                for (std::size_t i = 0; i < hkl.size(); ++i) {
                    for (const Hkl &plane : planesOf(phase, hkl[i])) entryOf[plane] = i;
                }
                const std::vector<double> &f2Ref = column[xray ? 5 : 6], &iRef = column[xray ? 8 : 9];
                std::set<std::size_t> matched;
                for (std::size_t r = 0; r < reference.size(); ++r) {
                    const Hkl h{std::stoi(reference[r][0]), std::stoi(reference[r][1]), std::stoi(reference[r][2])};
                    const auto found = entryOf.find(h);
                    ASSERT_NE(found, entryOf.end()) << h[0] << " " << h[1] << " " << h[2];
                    const std::size_t i = found->second;
                    EXPECT_TRUE(matched.insert(i).second) << "entry " << i << " matched twice";
                    EXPECT_NEAR(d[i], column[3][r], kDTolerance) << r;
                    EXPECT_EQ(m[i], column[4][r]) << r;
                    EXPECT_NEAR(f2[i], f2Ref[r], kOfStrongest * largest(f2Ref)) << r;
                    EXPECT_NEAR(intensity[i], iRef[r], kOfStrongest * largest(iRef)) << r;
                    if (xray) {
                        EXPECT_NEAR(lp[i], column[7][r], kLpRelative * column[7][r]) << r;
                    }
                }
            }
            pk_phase_free(phase);
        }
    }
}

// (R, t mod 1) of every operator, t in 24ths.
std::set<std::vector<int32_t>> operatorSet(const pk_phase *phase) {
    std::set<std::vector<int32_t>> ops;
    for (int32_t n = 0; n < pk_phase_operator_count(phase); ++n) {
        int32_t r[9];
        double t[3];
        pk_phase_operator(phase, n, r, t, nullptr);
        std::vector<int32_t> op(r, r + 9);
        for (double ti : t) op.push_back(static_cast<int32_t>((std::lround(ti * 24.0) % 24 + 24) % 24));
        ops.insert(op);
    }
    return ops;
}

TEST(ReflexionList, SymbolGivesTheSameGroupAndListAsTheOperatorLoop) {
    const auto rows = pk_test::readTable("structures.tsv");
    for (const std::string &name : structureNames()) {
        SCOPED_TRACE(name);
        std::vector<pk_site> sites;
        const std::vector<std::string> *last = nullptr;
        for (const auto &row : rows) {
            if (row[0] != name) continue;
            last = &row;
            const auto number = [&row](std::size_t c) { return std::stod(row[c]); };
            sites.push_back(pk_site{row[8].c_str(), row[9].c_str(), number(10), number(11), number(12), number(13),
                                    number(14), 0, {}});
        }
        double cell[6];
        for (std::size_t i = 0; i < 6; ++i) cell[i] = std::stod((*last)[2 + i]);
        pk_phase *fromSymbol = nullptr;
        pk_error e{};
        ASSERT_EQ(pk_phase_from_symbol(name.c_str(), (*last)[1].c_str(), cell, sites.data(),
                                       static_cast<int32_t>(sites.size()), &fromSymbol, &e),
                  PK_OK)
            << e.message;
        pk_phase *fromLoop = phaseFromText(fileText(cifPath(name)));
        ASSERT_NE(fromLoop, nullptr);
        EXPECT_EQ(operatorSet(fromSymbol), operatorSet(fromLoop));
        pk_reflexion_list *a = makeList(fromSymbol, PK_RADIATION_XRAY, 1.5406, PK_LIMIT_D_MIN, 0.8);
        pk_reflexion_list *b = makeList(fromLoop, PK_RADIATION_XRAY, 1.5406, PK_LIMIT_D_MIN, 0.8);
        const auto da = values(a, PK_QUANTITY_D), db = values(b, PK_QUANTITY_D);
        const auto fa = values(a, PK_QUANTITY_F2), fb = values(b, PK_QUANTITY_F2);
        ASSERT_EQ(da.size(), db.size());
        for (std::size_t i = 0; i < da.size(); ++i) {
            EXPECT_NEAR(da[i], db[i], 1e-12 * db[i]) << i;
            EXPECT_NEAR(fa[i], fb[i], 1e-12 * largest(fb)) << i;
        }
        pk_reflexion_list_free(a);
        pk_reflexion_list_free(b);
        pk_phase_free(fromSymbol);
        pk_phase_free(fromLoop);
    }
}

TEST(ReflexionList, LinesAndRepresentatives) {
    pk_phase *phase = phaseFromText(fileText(cifPath("corundum")));
    ASSERT_NE(phase, nullptr);
    pk_reflexion_list *list = makeList(phase, PK_RADIATION_XRAY, 1.540593, PK_LIMIT_X_MAX, 150.0);
    const std::vector<Hkl> hkl = indices(list);
    ASSERT_GE(hkl.size(), 3u);
    EXPECT_EQ(std::vector<Hkl>(hkl.begin(), hkl.begin() + 3), (std::vector<Hkl>{{0, 1, 2}, {1, 0, 4}, {1, 1, 0}}));
    const auto d = values(list, PK_QUANTITY_D), intensity = values(list, PK_QUANTITY_INTENSITY),
               multiplicity = values(list, PK_QUANTITY_MULTIPLICITY);
    const auto lineX = values(list, PK_QUANTITY_X, true), lineD = values(list, PK_QUANTITY_D, true),
               lineIntensity = values(list, PK_QUANTITY_INTENSITY, true),
               lineMultiplicity = values(list, PK_QUANTITY_MULTIPLICITY, true);
    const auto lines = static_cast<int32_t>(lineX.size());
    std::vector<int32_t> first(lineX.size()), count(lineX.size());
    ASSERT_EQ(pk_reflexion_list_line_members(list, first.data(), count.data(), lines, nullptr), PK_OK);
    int32_t next = 0;
    for (std::size_t i = 0; i < lineX.size(); ++i) {
        EXPECT_EQ(first[i], next) << "lines cover the entries in order";
        next = first[i] + count[i];
        for (int32_t m = first[i]; m < next; ++m) EXPECT_LE(std::fabs(d[m] - d[first[i]]), 1e-5) << i;
        if (i > 0) {
            EXPECT_GT(std::fabs(lineD[i] - lineD[i - 1]), 1e-5) << "lines " << i - 1 << " and " << i;
        }
    }
    EXPECT_EQ(next, static_cast<int32_t>(hkl.size()));

    // (1 4 6): 1/d² = 4/3 (h² + hk + k²)/a² + l²/c², 2θ = 2 asin(λ / 2d) = 136.08°.
    const double d146 = 1.0 / std::sqrt(4.0 / 3.0 * 21.0 / (4.7589 * 4.7589) + 36.0 / (12.991 * 12.991));
    const auto line = std::find_if(lineX.begin(), lineX.end(), [](double x) { return std::fabs(x - 136.08) < 0.01; });
    ASSERT_NE(line, lineX.end());
    const auto i = static_cast<std::size_t>(line - lineX.begin());
    ASSERT_EQ(count[i], 2);
    std::set<Hkl> members;
    double sum = 0.0, sumMultiplicity = 0.0;
    for (int32_t m = first[i]; m < first[i] + 2; ++m) {
        EXPECT_NEAR(d[m], d146, 1e-8);
        sum += intensity[m];
        sumMultiplicity += multiplicity[m];
        for (const Hkl &plane : planesOf(phase, hkl[m])) {
            if (plane == Hkl{1, 4, 6} || plane == Hkl{4, 1, 6}) members.insert(plane);
        }
    }
    EXPECT_EQ(members, (std::set<Hkl>{{1, 4, 6}, {4, 1, 6}}));
    EXPECT_NEAR(lineIntensity[i], sum, 1e-12 * sum);
    EXPECT_EQ(lineMultiplicity[i], sumMultiplicity);
    pk_reflexion_list_free(list);
    pk_phase_free(phase);

    // Fewest negative indices, then the largest h k l: (2 2 0) rather than (0 2 2).
    phase = phaseFromText(fileText(cifPath("Si")));
    list = makeList(phase, PK_RADIATION_XRAY, 1.5406, PK_LIMIT_D_MIN, 1.6);
    EXPECT_EQ(indices(list), (std::vector<Hkl>{{1, 1, 1}, {2, 2, 0}, {3, 1, 1}}));
    pk_reflexion_list_free(list);
    pk_phase_free(phase);
}

}  // namespace

// The core crystal of a phase carries each operator's coordinate texts
// ("+x-y+1/3"), which the core's site derivatives read: evaluated at a point,
// each text gives the component of R·v + t it stands for.
TEST(ReflexionList, CoreOperatorTextsSayWhatTheOperatorsDo) {
    const auto evaluate = [](const std::string &text, const double v[3]) {
        double value = 0.0;
        std::size_t i = 0;
        while (i < text.size()) {
            const double sign = text[i] == '-' ? -1.0 : 1.0;
            if (text[i] == '+' || text[i] == '-') ++i;
            if (text[i] >= 'x' && text[i] <= 'z') {
                value += sign * v[text[i] - 'x'];
                ++i;
                continue;
            }
            std::size_t used = 0;
            const double numerator = std::stod(text.substr(i), &used);
            i += used;
            double denominator = 1.0;
            if (i < text.size() && text[i] == '/') {
                denominator = std::stod(text.substr(i + 1), &used);
                i += 1 + used;
            }
            value += sign * numerator / denominator;
        }
        return value;
    };
    for (const char *file : {"corundum.cif", "silicon.cif", "ZnO.cif"}) {
        SCOPED_TRACE(file);
        pk_phase *phase = nullptr;
        ASSERT_EQ(pk_phase_from_cif_file((std::string(PK_EXAMPLE_DATA_DIR) + "/" + file).c_str(), nullptr, &phase,
                                         nullptr),
                  PK_OK);
        RefinementCrystal *crystal = nullptr;
        ASSERT_EQ(pk_phase_core_crystal(phase, 0.0, &crystal, nullptr), PK_OK);
        ASSERT_EQ(crystal->symmetryOperators->count, pk_phase_operator_count(phase));
        const double v[3] = {0.123, 0.456, 0.789};
        for (int32_t n = 0; n < crystal->symmetryOperators->count; ++n) {
            const auto *op = static_cast<const RefinementSymmetryOperator *>(crystal->symmetryOperators->items[n]);
            for (int i = 0; i < 3; ++i) {
                const double expected =
                    op->rotation[i][0] * v[0] + op->rotation[i][1] * v[1] + op->rotation[i][2] * v[2] + op->translation[i];
                EXPECT_NEAR(evaluate(op->coordinateExpressions[i], v), expected, 1e-12)
                    << op->coordinateExpressions[i];
            }
        }
        freeRefinementCrystal(crystal);
        pk_phase_free(phase);
    }
}
