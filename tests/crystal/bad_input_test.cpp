// Phases from CIF texts: bad ones fail with their status and a message naming the line or field, return no phase and
// print nothing; ionic and missing type symbols, and displacements as B or U, give the crystal they stand for.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/phase_calls.hpp"
#include "support/output_capture.hpp"

namespace {

// A small monoclinic crystal, P 1 21/c 1, in underscore tags.
const std::string kSymmetry =
    "_symmetry_space_group_name_H-M 'P 1 21/c 1'\nloop_\n_symmetry_equiv_pos_as_xyz\n"
    "'x,y,z'\n'-x,y+1/2,-z+1/2'\n'-x,-y,-z'\n'x,-y+1/2,z+1/2'\n";
const std::string kBase =
    "data_test\n_cell_length_a 5.0\n_cell_length_b 6.0\n_cell_length_c 7.0\n"
    "_cell_angle_alpha 90\n_cell_angle_beta 100\n_cell_angle_gamma 90\n" + kSymmetry +
    "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
    "_atom_site_fract_z\n_atom_site_occupancy\n_atom_site_U_iso_or_equiv\n"
    "Fe1 Fe 0.1 0.2 0.3 1.0 0.01\nO1 O 0.4 0.1 0.2 1.0 0.01\n";

std::string edited(std::vector<std::pair<std::string, std::string>> edits) {
    std::string text = kBase;
    for (const auto &[from, to] : edits) {
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
    }
    return text;
}

TEST(BadInput, FailsWithStatusAndMessageAndNoPhase) {
    struct Bad {
        std::string text;
        int32_t code;
        std::string message;  // a part of the message
        const char *block = nullptr;
    };
    const std::string missing = std::string(PK_TEST_DATA_DIR) + "/no-such-file.cif";
    const Bad cases[] = {
        {edited({{"Fe1 Fe", "Fe1 Xx"}}), PK_ERROR_CRYSTAL, "\"Xx\""},
        {edited({{kSymmetry, "_symmetry_space_group_name_H-M 'Q 9 z'\n"}}), PK_ERROR_CRYSTAL, "\"Q 9 z\""},
        {edited({{"'x,-y+1/2,z+1/2'\n", ""}}), PK_ERROR_CRYSTAL, "do not form a group"},
        // 100000/200000 is ½, but a run of more than four digits (zeros too) could overflow the operator's parser.
        {edited({{"'x,-y+1/2,z+1/2'", "'x,-y+100000/200000,z+1/2'"}}), PK_ERROR_CRYSTAL,
         "the operator \"x,-y+100000/200000,z+1/2\" holds a number out of range"},
        {edited({{"length_b 6.0", "length_b 0"}}), PK_ERROR_CRYSTAL,
         "CIF text:3: the cell edge _cell_length_b = 0 is not positive"},
        {"data_t _cell_length_a 5 _cell_length_b 6 _cell_length_c -7 _cell_angle_alpha 90 _cell_angle_beta 90 "
         "_cell_angle_gamma 90 _symmetry_space_group_name_H-M 'P 1'",
         PK_ERROR_CRYSTAL, "CIF text:1: the cell edge _cell_length_c = -7"},
        // cos 120° = −1/2: 1 − 3·(1/4) + 2·(−1/8) = 0, no volume.
        {edited({{"alpha 90", "alpha 120"}, {"beta 100", "beta 120"}, {"gamma 90", "gamma 120"}}), PK_ERROR_CRYSTAL,
         "angles"},
        {edited({{"gamma 90", "gamma 180"}}), PK_ERROR_CRYSTAL, "_cell_angle_gamma = 180 is not between 0 and 180"},
        {edited({{"0.3 1.0", "0.3 1.5"}}), PK_ERROR_CRYSTAL, "Fe1: the occupancy 1.5"},
        {edited({{"Fe1 Fe 0.1 0.2 0.3 1.0 0.01\nO1 O 0.4 0.1 0.2 1.0 0.01\n", ""}}), PK_ERROR_FORMAT, "header and no rows"},
        {edited({{"0.3 1.0 0.01", "0.3 1.0 -0.01"}}), PK_ERROR_CRYSTAL, "Fe1: Uiso = -0.01 Å² is negative"},
        // The 2-fold axis along b turns cos α into −cos α: α = 95° becomes 85°.
        {edited({{"alpha 90", "alpha 95"}}), PK_ERROR_CRYSTAL,
         "the cell does not have the symmetry of P 1 21/c 1: alpha = 95, which its operator"},
        {edited({{"_atom_site_fract_z\n", ""}, {"0.2 0.3 1.0", "0.2 1.0"}, {"0.1 0.2 1.0", "0.1 1.0"}}),
         PK_ERROR_FORMAT, "no z coordinate column"},
        {edited({{"0.1 0.2 0.3", "0.1 ? 0.3"}}), PK_ERROR_FORMAT, "CIF text:15: site Fe1 has no y"},
        {"", PK_ERROR_FORMAT, "no data block"},
        {kBase + "_cell_measurement_temperature\n", PK_ERROR_FORMAT, "_cell_measurement_temperature"},
        {"hello", PK_ERROR_FORMAT, "CIF text:1"},
        {kBase, PK_ERROR_ARGUMENT, "\"nope\"", "nope"},
        {"", PK_ERROR_FILE, missing},  // read from the file `missing`
    };
    for (const Bad &c : cases) {
        int marker = 0;  // never read: its address stands for a phase not cleared
        pk_phase *phase = reinterpret_cast<pk_phase *>(&marker);
        pk_error e{};
        int32_t status = PK_OK;
        const std::string out = pk_test::captureStdout([&] {
            EXPECT_EQ(pk_test::captureStderr([&] {
                          status = c.code == PK_ERROR_FILE
                                       ? pk_phase_from_cif_file(missing.c_str(), nullptr, &phase, &e)
                                       : pk_phase_from_cif_text(c.text.c_str(), c.block, &phase, &e);
                      }),
                      "");
        });
        EXPECT_EQ(out, "");
        EXPECT_EQ(status, c.code) << e.message;
        EXPECT_EQ(e.code, c.code);
        EXPECT_EQ(phase, nullptr);
        EXPECT_NE(std::string(e.message).find(c.message), std::string::npos) << e.message;
    }
    pk_phase *phase = nullptr;
    const double cell[6] = {5, 5, 5, 90, 90, 90};
    EXPECT_EQ(pk_phase_from_symbol("x", "P 1", cell, nullptr, 1, &phase, nullptr), PK_ERROR_ARGUMENT);
    // Cells their space groups cannot have: cubic with b ≠ a or γ ≠ 90° (the 4-fold axes map a onto b, the 3-fold
    // ones α onto γ), and R -3 c with a cubic cell (a hexagonal group: γ = 120°); b off by 3e-5, a CIF's rounding,
    // passes.
    const struct {
        const char *symbol;
        double cell[6];
        const char *message;
    } cells[] = {{"F m -3 m", {5.64, 5.9, 5.64, 90, 90, 90}, "symmetry of F m -3 m: "},
                 {"F m -3 m", {5.64, 5.64, 5.64, 90, 90, 100}, "symmetry of F m -3 m: "},
                 {"R -3 c", {4.76, 4.76, 4.76, 90, 90, 90}, "symmetry of R -3 c: a = 4.76, which its operator"},
                 {"F m -3 m", {5.64, 5.64017, 5.64, 90, 90, 90}, nullptr}};
    for (const auto &c : cells) {
        pk_error e{};
        const int32_t status = pk_phase_from_symbol("x", c.symbol, c.cell, nullptr, 0, &phase, &e);
        if (c.message == nullptr) {
            EXPECT_EQ(status, PK_OK) << e.message;
            pk_phase_free(phase);
            continue;
        }
        EXPECT_EQ(status, PK_ERROR_CRYSTAL) << c.symbol;
        EXPECT_NE(std::string(e.message).find(c.message), std::string::npos) << e.message;
    }
}

std::vector<double> xrayF2(const std::string &cif) {
    pk_phase *phase = pk_test::phaseOf(cif);
    pk_reflexion_list *list = pk_test::listOf(phase, PK_RADIATION_XRAY, 1.5406, PK_LIMIT_D_MIN, 1.0);
    const std::vector<double> f2 = pk_test::valuesOf(list, PK_QUANTITY_F2);
    pk_reflexion_list_free(list);
    pk_phase_free(phase);
    return f2;
}

// Charges are dropped, a missing type column takes the element from the label, wherever the label and type columns
// stand in the loop.
TEST(BadInput, IonicSymbolsAndElementsFromLabels) {
    const std::vector<double> neutral = xrayF2(kBase);
    ASSERT_GT(neutral.size(), 10u);
    EXPECT_EQ(xrayF2(edited({{"Fe1 Fe", "Fe1 Fe3+"}, {"O1 O", "O1 O2-"}})), neutral);
    EXPECT_EQ(xrayF2(edited({{"_atom_site_type_symbol\n", ""}, {"Fe1 Fe", "Fe1"}, {"O1 O", "O1"}})), neutral);
    EXPECT_EQ(xrayF2(edited({{"_atom_site_type_symbol\n", ""}, {"Fe1 Fe", "Al1"}, {"O1 O", "O1"}})),
              xrayF2(edited({{"Fe1 Fe", "Al1 Al"}})));
    EXPECT_EQ(xrayF2(edited({{"_atom_site_label\n_atom_site_type_symbol\n", "_atom_site_type_symbol\n"},
                             {"_atom_site_U_iso_or_equiv\n", "_atom_site_U_iso_or_equiv\n_atom_site_label\n"},
                             {"Fe1 Fe 0.1 0.2 0.3 1.0 0.01", "Fe 0.1 0.2 0.3 1.0 0.01 Fe1"},
                             {"O1 O 0.4 0.1 0.2 1.0 0.01", "O 0.4 0.1 0.2 1.0 0.01 O1"}})),
              neutral);
}

// B = 8π² U, for the isotropic and the anisotropic forms alike; six Uij other than an isotropic U change |F|².
TEST(BadInput, DisplacementsAsBOrU) {
    const double toB = 8.0 * pk_test::kPi * pk_test::kPi;
    const auto number = [](double v) {
        char field[40];
        std::snprintf(field, sizeof field, " %.12f", v);
        return std::string(field);
    };
    const std::vector<double> u = xrayF2(kBase);
    const std::vector<double> fromB = xrayF2(edited({{"U_iso_or_equiv", "B_iso_or_equiv"},
                                                     {"1.0 0.01\nO1", "1.0" + number(0.01 * toB) + "\nO1"},
                                                     {"1.0 0.01\n", "1.0" + number(0.01 * toB) + "\n"}}));
    std::string aniso[2] = {"loop_\n_atom_site_aniso_label\n", "loop_\n_atom_site_aniso_label\n"};
    for (const char *n : {"11", "22", "33", "12", "13", "23"}) {
        aniso[0] += std::string("_atom_site_aniso_U_") + n + "\n";
        aniso[1] += std::string("_atom_site_aniso_B_") + n + "\n";
    }
    aniso[0] += "Fe1";
    aniso[1] += "Fe1";
    for (double v : {0.010, 0.020, 0.015, 0.0, 0.003, 0.0}) {  // U11 U22 U33 U12 U13 U23
        aniso[0] += number(v);
        aniso[1] += number(v * toB);
    }
    const std::vector<double> anisoU = xrayF2(kBase + aniso[0] + "\n"), anisoB = xrayF2(kBase + aniso[1] + "\n");
    ASSERT_EQ(fromB.size(), u.size());
    ASSERT_EQ(anisoU.size(), u.size());
    ASSERT_EQ(anisoB.size(), u.size());
    bool differs = false;
    for (std::size_t i = 0; i < u.size(); ++i) {
        EXPECT_NEAR(fromB[i], u[i], 1e-9 * u[0]) << i;  // B printed to 12 decimals
        EXPECT_NEAR(anisoB[i], anisoU[i], 1e-9 * u[0]) << i;
        differs = differs || std::fabs(anisoU[i] - u[i]) > 1e-6 * u[0];
    }
    EXPECT_TRUE(differs) << "the anisotropic displacements were not applied";
}

}  // namespace

// Silicon at ⅛ ⅛ ⅛, where origin choice 2 puts it: "F d -3 m" alone is read as origin choice 1 with a warning naming
// both; with ":2" the diamond structure's 222 is absent (F ∝ 1 + i^(h+k+l) = 0 for h + k + l = 4n + 2) and 220 is not.
TEST(BadInput, OriginChoiceLeftOpenIsNamed) {
    const std::string cif = "data_Si\n_cell_length_a 5.431\n_cell_length_b 5.431\n_cell_length_c 5.431\n"
                            "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                            "_symmetry_space_group_name_H-M 'F d -3 m%s'\nloop_\n_atom_site_label\n"
                            "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\nSi1 0.125 0.125 0.125\n";
    for (const char *setting : {"", ":2"}) {
        char text[512];
        std::snprintf(text, sizeof text, cif.c_str(), setting);
        const pk_test::Phase phase(pk_test::phaseOf(text));
        const std::string warning = pk_phase_warnings(phase.get());
        const pk_test::List list(pk_test::listOf(phase.get(), PK_RADIATION_XRAY, 1.540593, PK_LIMIT_D_MIN, 1.5));
        const std::vector<pk_test::Hkl> hkl = pk_test::indicesOf(list.get());
        const std::vector<double> f2 = pk_test::valuesOf(list.get(), PK_QUANTITY_F2);
        double f220 = -1, f222 = -1;
        for (std::size_t i = 0; i < hkl.size(); ++i) {
            const int sum = std::abs(hkl[i][0]) + std::abs(hkl[i][1]) + std::abs(hkl[i][2]);
            if (sum == 4 && hkl[i][0] * hkl[i][1] * hkl[i][2] == 0) f220 = f2[i];
            if (sum == 6 && std::abs(hkl[i][0]) == 2 && std::abs(hkl[i][1]) == 2) f222 = f2[i];
        }
        if (*setting == '\0') {
            EXPECT_NE(warning.find("origin choice 1 (F d -3 m:1) is taken; write F d -3 m:2"), std::string::npos)
                << warning;
        } else {
            EXPECT_EQ(warning, "");
            EXPECT_GT(f220, 100.0);
            EXPECT_NEAR(f222, 0.0, 1e-9 * f220);
        }
    }
}
