// The refinement against synthetic measurements whose truth is known: patterns calculated from known parameters
// with seeded counting noise, refined from starts that are off, and the symmetry constraints against the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "refinement/synthetic.hpp"
#include "support/phase_calls.hpp"
#include "refinement/fit.hpp"
#include "refinement_model/refinement.hpp"
#include "refinement_model/symmetry_constraints.hpp"
#include "support/tolerances.hpp"

namespace {

using namespace pk_test;

class Mixture : public ::testing::Test {
protected:
    Phase corundum{phaseOf(exampleText("corundum.cif"))};
    Phase silicon{phaseOf(exampleText("silicon.cif"))};
    double corundumCell[6]{};
    double siliconCell[6]{};
    void SetUp() override {
        pk_phase_cell(corundum.get(), corundumCell, nullptr);
        pk_phase_cell(silicon.get(), siliconCell, nullptr);
    }
};

// From a cell 1 % off (0.3 % for silicon), scales and widths 20 % off: every parameter recovered, the cells kept
// to their symmetry, and the weight fractions those of the scales and the densities worked out by hand
// (ρ = Z M / (N_A V): corundum 6 × 101.961 g/mol in 254.80 Å³, silicon 8 × 28.0855 g/mol in 160.20 Å³).
TEST_F(Mixture, RietveldRecoversEveryParameterFromAStartOneHundredthOff) {
    const Measured measured = measure(
        {settingOf(corundum.get(), kCorundumScale), settingOf(silicon.get(), kSiliconScale)}, 20.0, 100.0, 0.02, 11);
    pk_profile wide;
    pk_profile_default(&wide, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    for (double *field : {&wide.U, &wide.V, &wide.W, &wide.X, &wide.Y}) *field *= 1.2;
    const Refinement r = refinementOf(measured.get(), {settingOf(corundum.get(), 0.8 * kCorundumScale, &wide),
                                                       settingOf(silicon.get(), 1.2 * kSiliconScale, &wide)});
    set(r.get(), "corundum.a", corundumCell[0] * 1.01);
    set(r.get(), "corundum.c", corundumCell[2] * 0.99);
    set(r.get(), "silicon.a", siliconCell[0] * 1.003);
    const pk_refinement_summary s = run(r.get(), "scale,background,zero,cell,profile");
    EXPECT_EQ(s.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(r.get());
    EXPECT_LE(s.cycles, 60);
    EXPECT_NEAR(s.reduced_chi2, 1.0, 0.1);
    EXPECT_NEAR(s.GoF, s.Rwp / s.Rexp, 1e-12);  // S = Rwp/Rexp, the square root of the reduced χ²
    pk_profile truth;
    pk_profile_default(&truth, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    expectRecovered(r.get(), {{"corundum.scale", kCorundumScale},
                              {"silicon.scale", kSiliconScale},
                              {"corundum.a", corundumCell[0]},
                              {"corundum.c", corundumCell[2]},
                              {"silicon.a", siliconCell[0]},
                              {"zero", 0.0},
                              {"corundum.W", truth.W},
                              {"corundum.U", truth.U},
                              {"silicon.X", truth.X},
                              {"silicon.Y", truth.Y}});
    pk_refinement_phase si{};
    ASSERT_EQ(pk_refinement_phase_result(r.get(), 1, &si, nullptr), PK_OK);
    EXPECT_EQ(si.cell[1], si.cell[0]);
    EXPECT_EQ(si.cell[2], si.cell[0]);
    EXPECT_EQ(si.cell[3], 90.0);
    EXPECT_EQ(si.cell_esd[0], parameter(r.get(), "silicon.a").esd);
    EXPECT_EQ(si.cell_esd[1], si.cell_esd[0]);
    const double avogadro = 0.602214076;  // N_A in mol⁻¹ per Å³ to g/cm³
    const double rhoCorundum = 6 * 101.961 / (avogadro * 254.80);
    const double rhoSilicon = 8 * 28.0855 / (avogadro * 160.20);
    const double expected = kCorundumScale * rhoCorundum / (kCorundumScale * rhoCorundum + kSiliconScale * rhoSilicon);
    pk_refinement_phase al{};
    ASSERT_EQ(pk_refinement_phase_result(r.get(), 0, &al, nullptr), PK_OK);
    EXPECT_NEAR(al.weight_fraction, expected, 0.003);
    EXPECT_NEAR(al.weight_fraction + si.weight_fraction, 1.0, kRoundOff);
    EXPECT_LT(al.r_bragg, 2.0);
}

// The starting values of an exact pattern (counts written to 6 decimals): with the cells at the truth, the scales and
// background are the linear least-squares solution, the truth to 1e-7 (the fourth background term 0); with corundum's a
// 1 % long, c 1 % short and silicon's a 0.3 % long, the grid search ends within one of its finest steps (0.1 % / 10).
TEST_F(Mixture, StartingValuesOfAnExactPattern) {
    const Measured exact = measure(
        {settingOf(corundum.get(), kCorundumScale), settingOf(silicon.get(), kSiliconScale)}, 20.0, 100.0, 0.02, 0);
    for (const bool cellsOff : {false, true}) {
        const Refinement r = refinementOf(exact.get(), {settingOf(corundum.get(), 0.8 * kCorundumScale),
                                                        settingOf(silicon.get(), 1.2 * kSiliconScale)});
        ASSERT_EQ(pk_refinement_set_free(r.get(), cellsOff ? "scale,background,cell" : "scale,background", true,
                                         nullptr),
                  PK_OK);
        if (cellsOff) {
            set(r.get(), "corundum.a", corundumCell[0] * 1.009);  // within the ±1 % the peaks may move a cell
            set(r.get(), "corundum.c", corundumCell[2] * 0.991);
            set(r.get(), "silicon.a", siliconCell[0] * 1.003);
        }
        powderkit::refinement::startingValues(*r);
        if (cellsOff) {
            for (const auto &[name, truth] : {std::pair{"corundum.a", corundumCell[0]},
                                              std::pair{"corundum.c", corundumCell[2]},
                                              std::pair{"silicon.a", siliconCell[0]}}) {
                EXPECT_NEAR(parameter(r.get(), name).value, truth, 1e-4 * truth) << name;
            }
            continue;
        }
        const std::pair<const char *, double> truth[] = {{"corundum.scale", kCorundumScale},
                                                         {"silicon.scale", kSiliconScale},
                                                         {"background.0", kBackground[0]},
                                                         {"background.1", kBackground[1]},
                                                         {"background.2", kBackground[2]},
                                                         {"background.3", 0.0}};
        for (const auto &[name, value] : truth) {
            EXPECT_TRUE(closeTo(parameter(r.get(), name).value, value, 1e-7)) << name;
        }
    }
}

// Le Bail needs only a cell and a space group: silicon given without a site finds the measured cell again, where a
// Rietveld refinement of it is refused (its intensities would all be zero).
TEST_F(Mixture, LeBailFindsTheCellOfAPhaseWithoutSites) {
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 120.0, 0.02, 5);
    const double start[6] = {siliconCell[0] * 1.003, siliconCell[0] * 1.003, siliconCell[0] * 1.003, 90, 90, 90};
    pk_phase *bare = nullptr;
    pk_error e{};
    ASSERT_EQ(pk_phase_from_symbol("bare", "F d -3 m:1", start, nullptr, 0, &bare, &e), PK_OK) << e.message;
    const Phase owned(bare);
    pk_instrument cu = copper();
    pk_refinement_options rietveld;
    pk_refinement_options_default(&rietveld);
    const pk_phase_setting bareSetting = settingOf(bare, 1.0);
    pk_refinement *refused = nullptr;
    EXPECT_EQ(pk_refinement_make(measured.get(), &cu, &bareSetting, 1, nullptr, &rietveld, &refused, &e),
              PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("phase 0 (bare): no atom sites"), std::string::npos) << e.message;
    const Refinement r = refinementOf(measured.get(), {settingOf(bare, 1.0)}, PK_REFINE_LE_BAIL);
    const pk_refinement_summary s = run(r.get(), "background,zero,cell,profile");
    EXPECT_EQ(s.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(r.get());
    EXPECT_LT(s.reduced_chi2, 1.3);
    expectRecovered(r.get(), {{"bare.a", siliconCell[0]}});
}

// Where the phases' peaks overlap the extraction settles slowly: its passes run until χ² stops moving, so that the
// cycles converge instead of chasing the intensities to the cycle limit.
TEST_F(Mixture, LeBailOfOverlappingPhasesConverges) {
    const Measured measured = measure(
        {settingOf(corundum.get(), kCorundumScale), settingOf(silicon.get(), kSiliconScale)}, 20.0, 90.0, 0.02, 13);
    const Refinement r = refinementOf(measured.get(), {settingOf(corundum.get(), 1.0), settingOf(silicon.get(), 1.0)},
                                      PK_REFINE_LE_BAIL);
    const pk_refinement_summary s = run(r.get(), "background,cell,profile");
    EXPECT_EQ(s.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(r.get());
    EXPECT_LT(s.cycles, 20);
    EXPECT_LT(s.reduced_chi2, 1.1) << s.cycles << " cycles, Rwp " << s.Rwp << " " << pk_refinement_warnings(r.get());
}

// Values with their esd's in the crystallographers' notation, worked out by hand: two esd digits when they read 19 or
// less, one otherwise, the value rounded to the same place.
TEST(CifOutput, ValuesWithEsds) {
    EXPECT_EQ(powderkit::refinement::valueWithEsd(4.75891234, 0.000123), "4.75891(12)");
    EXPECT_EQ(powderkit::refinement::valueWithEsd(0.352156, 0.0000345), "0.35216(3)");
    EXPECT_EQ(powderkit::refinement::valueWithEsd(0.0123, 0.0019), "0.0123(19)");
    EXPECT_EQ(powderkit::refinement::valueWithEsd(1234.4, 23.0), "1234(23)");
    EXPECT_EQ(powderkit::refinement::valueWithEsd(12.99, 0.0), "12.99");
    EXPECT_EQ(powderkit::refinement::valueWithEsd(5.0, std::nan("")), "5");
}

// The refined silicon written as CIF reads back as the refined phase (cell and Uiso to the digits written, the
// operators and the space group), with the refined values' esd's in parentheses; a short buffer is refused with the
// size it needs.
TEST_F(Mixture, RefinedStructureReadsBackFromItsCif) {
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 120.0, 0.02, 7);
    const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), 0.9 * kSiliconScale)});
    set(r.get(), "silicon.a", siliconCell[0] * 1.002);
    run(r.get(), "scale,cell,uiso,background");
    int32_t size = 0;
    pk_error e{};
    char small[8];
    EXPECT_EQ(pk_refinement_phase_cif(r.get(), 0, small, sizeof small, &size, &e), PK_ERROR_ARGUMENT);
    ASSERT_GT(size, 500);
    std::string text(static_cast<std::size_t>(size), '\0');
    ASSERT_EQ(pk_refinement_phase_cif(r.get(), 0, text.data(), size, &size, &e), PK_OK) << e.message;
    int32_t none = 1;  // a refused call needs nothing
    EXPECT_EQ(pk_refinement_phase_cif(r.get(), 1, text.data(), size, &none, &e), PK_ERROR_ARGUMENT);
    EXPECT_EQ(none, 0);
    const pk_parameter a = parameter(r.get(), "silicon.a"), u = parameter(r.get(), "silicon.Si1.uiso");
    EXPECT_NE(text.find("_cell_length_a " + powderkit::refinement::valueWithEsd(a.value, a.esd)), std::string::npos)
        << text;
    EXPECT_NE(text.find("\n'+x,+y,+z'\n"), std::string::npos) << text;  // the identity among the operators
    EXPECT_NE(text.find("_cell_angle_alpha 90\n"), std::string::npos) << text;  // fixed by symmetry: no esd
    // The site's coordinates (fixed by symmetry) and its occupancy (not refined) carry no esd, its Uiso does.
    EXPECT_NE(text.find("\nSi1 Si 0.125 0.125 0.125 1 " + powderkit::refinement::valueWithEsd(u.value, u.esd) + "\n"),
              std::string::npos)
        << text;
    pk_phase *back = nullptr;
    ASSERT_EQ(pk_phase_from_cif_text(text.c_str(), nullptr, &back, &e), PK_OK) << e.message << "\n" << text;
    const Phase owned(back);
    double cell[6];
    pk_phase_cell(back, cell, nullptr);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(cell[k], a.value, a.esd) << k;
    EXPECT_EQ(std::string(pk_phase_name(back)), "silicon");
    EXPECT_EQ(std::string(pk_phase_symbol(back)), std::string(pk_phase_symbol(silicon.get())));
    EXPECT_EQ(pk_phase_operator_count(back), pk_phase_operator_count(silicon.get()));
    pk_site site{};
    ASSERT_EQ(pk_phase_site(back, 0, &site, nullptr), PK_OK);
    EXPECT_NEAR(site.u_iso, u.value, u.esd);
    EXPECT_EQ(std::string(site.type), "Si");
}

// What the data cannot see is fixed where it stands and named, not returned as a number, and the fit goes on with the
// rest: the occupancy of a lone site beside the scale (the intensity goes as scale × occupancy²), and every parameter
// of a phase at zero scale.
TEST_F(Mixture, UndeterminedParametersAreFixedAndNamed) {
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 100.0, 0.02, 3);
    const Refinement lone = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale)});
    const pk_refinement_summary s = run(lone.get(), "silicon.scale,silicon.Si1.occ,background");
    EXPECT_EQ(s.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(lone.get());
    EXPECT_EQ(s.free_count, 5);  // the scale and four background terms
    EXPECT_LT(s.reduced_chi2, 1.3);
    EXPECT_EQ(parameter(lone.get(), "silicon.Si1.occ").state, PK_PARAMETER_UNDETERMINED);
    EXPECT_TRUE(std::isnan(parameter(lone.get(), "silicon.Si1.occ").esd));
    EXPECT_TRUE(std::isfinite(parameter(lone.get(), "silicon.scale").esd));
    EXPECT_NE(std::string(pk_refinement_warnings(lone.get())).find("silicon.Si1.occ"), std::string::npos);
    EXPECT_TRUE(s.doubtful);
    EXPECT_NE(std::string(pk_refinement_verdict(lone.get())).find("cannot determine silicon.Si1.occ"),
              std::string::npos);

    const Refinement absent =
        refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale), settingOf(corundum.get(), 0.0)});
    EXPECT_EQ(run(absent.get(), "silicon.scale,corundum.cell,background").stop, PK_STOP_CONVERGED);
    EXPECT_EQ(parameter(absent.get(), "corundum.a").state, PK_PARAMETER_UNDETERMINED);
    EXPECT_EQ(parameter(absent.get(), "silicon.scale").state, PK_PARAMETER_FREE);
}

// Of a degenerate combination the parameter released last is fixed, wherever it stands in the free list; between
// two of one stage, the larger part of the eigenvector; and a zero diagonal alone. Â of rank one: its null vector is
// (0.8, −0.6) for Â = (0.6, 0.8)ᵀ(0.6, 0.8), parts 0.8 and 0.6, both above 0.3.
TEST(Undetermined, TheLastReleasedOrLargestPartOfANullVector) {
    using powderkit::refinement::Target;
    pk_refinement r;
    r.parameters.resize(3);
    r.parameters[0].target = Target::Uiso;   // the last stage
    r.parameters[1].target = Target::Scale;  // the first
    r.parameters[2].target = Target::Scale;
    powderkit::refinement::NormalEquations e;
    e.diagonal = Eigen::Vector2d(1.0, 1.0);
    e.scaled.resize(2, 2);
    e.scaled << 0.36, 0.48, 0.48, 0.64;
    using Found = std::vector<std::size_t>;
    EXPECT_EQ(powderkit::refinement::undetermined(r, {0, 1}, e), Found({0}));  // Uiso, first in the list
    EXPECT_EQ(powderkit::refinement::undetermined(r, {1, 0}, e), Found({1}));  // Uiso, second
    EXPECT_EQ(powderkit::refinement::undetermined(r, {1, 2}, e), Found({0}));  // two scales: the part of 0.8
    EXPECT_EQ(powderkit::refinement::undetermined(r, {2, 1}, e), Found({0}));
    e.scaled << 0.64, 0.48, 0.48, 0.36;  // null vector (0.6, −0.8): the part of 0.8 second
    EXPECT_EQ(powderkit::refinement::undetermined(r, {1, 2}, e), Found({1}));
    e.scaled << 0.36, 0.48, 0.48, 0.64;
    // A column of zeros is undetermined whatever the rest.
    e.diagonal = Eigen::Vector2d(1.0, 0.0);
    e.scaled << 1.0, 0.0, 0.0, 0.0;
    EXPECT_EQ(powderkit::refinement::undetermined(r, {1, 2}, e), Found({1}));
    // A matrix of full rank: nothing.
    e.diagonal = Eigen::Vector2d(1.0, 1.0);
    e.scaled << 1.0, 0.5, 0.5, 1.0;
    EXPECT_EQ(powderkit::refinement::undetermined(r, {0, 1}, e), Found());
}

// A parameter pushed against its limit is held there with a warning, and the fit still converges.
TEST_F(Mixture, AParameterAtItsLimitIsHeldAndReported) {
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 120.0, 0.02, 8);
    const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale)});
    pk_error e{};
    ASSERT_EQ(pk_refinement_set_limits(r.get(), "silicon.Si1.uiso", 0.008, 0.05, &e), PK_OK) << e.message;
    set(r.get(), "silicon.Si1.uiso", 0.01);
    const pk_refinement_summary s = run(r.get(), "scale,background,silicon.Si1.uiso,zero,displacement");
    EXPECT_EQ(s.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(r.get());
    // A zero shift moves every line alike and a displacement by −2s cos θ/R: over 20°–120° their columns are
    // correlated beyond 0.99, so the displacement (the later of the two) is fixed and named. The free parameters
    // left, in order: scale, Uiso, zero, four background terms.
    EXPECT_EQ(parameter(r.get(), "displacement").state, PK_PARAMETER_UNDETERMINED);
    const std::string warnings = pk_refinement_warnings(r.get());
    const std::size_t named = warnings.find("zero and displacement correlated ");
    ASSERT_NE(named, std::string::npos) << warnings;
    // The correlation named is the one beyond 0.99 that fixed the displacement.
    const double correlation = std::strtod(warnings.c_str() + named + 33, nullptr);
    EXPECT_GT(correlation, 0.99) << warnings;
    EXPECT_LE(correlation, 1.0) << warnings;
    std::vector<double> c(49);
    int32_t size = 0;
    ASSERT_EQ(pk_refinement_correlations(r.get(), c.data(), 49, &size, nullptr), PK_OK);
    ASSERT_EQ(size, 7);
    EXPECT_EQ(pk_refinement_correlations(r.get(), c.data(), 48, &size, nullptr), PK_ERROR_ARGUMENT);
    EXPECT_EQ(size, 0);
    for (int j = 0; j < 7; ++j) {
        EXPECT_NEAR(c[static_cast<std::size_t>(8 * j)], 1.0, kRoundOff);
        for (int k = 0; k < 7; ++k)
            EXPECT_NEAR(c[static_cast<std::size_t>(7 * j + k)], c[static_cast<std::size_t>(7 * k + j)], kRoundOff);
    }
    const pk_parameter u = parameter(r.get(), "silicon.Si1.uiso");
    EXPECT_EQ(u.state, PK_PARAMETER_AT_LIMIT);
    // A second run frees it again, with the rest.
    EXPECT_EQ(pk_refinement_run(r.get(), nullptr, nullptr, nullptr), PK_OK);
    pk_refinement_summary again{};
    pk_refinement_get_summary(r.get(), &again, nullptr);
    EXPECT_EQ(again.free_count, 7);
    EXPECT_EQ(u.value, 0.008);
    EXPECT_NE(std::string(pk_refinement_warnings(r.get())).find("silicon.Si1.uiso is held at its lower limit"),
              std::string::npos);
    // The pair is found when it holds the first free parameter too.
    const Refinement pair = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale)});
    run(pair.get(), "zero,displacement");
    EXPECT_EQ(parameter(pair.get(), "displacement").state, PK_PARAMETER_UNDETERMINED);
    // A run that reaches its cycle limit with the pair still free fixes the displacement all the same and gives the
    // rest ten cycles more: from the zero 0.02° off, one cycle in one stage, it converges.
    r->options.max_cycles = 1;
    r->options.stages = 0;
    r->options.start_from_data = 0;
    set(r.get(), "zero", parameter(r.get(), "zero").value + 0.02);
    ASSERT_EQ(pk_refinement_run(r.get(), nullptr, nullptr, nullptr), PK_OK);
    pk_refinement_get_summary(r.get(), &again, nullptr);
    EXPECT_EQ(again.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(r.get());
    EXPECT_GT(again.cycles, 1);
    EXPECT_EQ(parameter(r.get(), "displacement").state, PK_PARAMETER_UNDETERMINED);
}

// Silicon's only site at occupancy 1, its scale set to 0.8 of the pattern's: the intensities (∝ scale · occ²) ask for
// occ = 1/√0.8 = 1.118, beyond the occupancy's upper limit of 1. Refined alone, it stays at 1, marked at its limit, and
// the run ends at its minimum within the limits (no step lowers χ²), not as lost.
TEST_F(Mixture, AnOccupancyTheDataWouldMovePastALimitIsHeldThere) {
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 120.0, 0.02, 0);
    const Refinement r =
        refinementOf(measured.get(), {settingOf(silicon.get(), 0.8 * kSiliconScale)}, PK_REFINE_RIETVELD, 3);
    r->options.stages = 0;
    r->options.start_from_data = 0;
    for (std::size_t k = 0; k < 3; ++k) set(r.get(), "background." + std::to_string(k), kBackground[k]);
    const pk_refinement_summary alone = run(r.get(), "silicon.Si1.occ");
    EXPECT_EQ(alone.stop, PK_STOP_CONVERGED);
    EXPECT_STREQ(pk_refinement_stop_reason(r.get()), "no step lowers χ² further");
    const pk_parameter occupancy = parameter(r.get(), "silicon.Si1.occ");
    EXPECT_EQ(occupancy.upper, 1.0);
    EXPECT_EQ(occupancy.value, 1.0);
    EXPECT_EQ(occupancy.state, PK_PARAMETER_AT_LIMIT);
    // The same at a lower limit: at 1.25 times the pattern's scale the intensities ask for occ = 1/√1.25 = 0.894,
    // below a lower limit set at 1.
    set(r.get(), "silicon.scale", 1.25 * kSiliconScale);
    pk_error e{};
    ASSERT_EQ(pk_refinement_set_limits(r.get(), "silicon.Si1.occ", 1.0, 2.0, &e), PK_OK) << e.message;
    const pk_refinement_summary below = run(r.get(), "silicon.Si1.occ");
    EXPECT_EQ(below.stop, PK_STOP_CONVERGED);
    EXPECT_STREQ(pk_refinement_stop_reason(r.get()), "no step lowers χ² further");
    EXPECT_EQ(parameter(r.get(), "silicon.Si1.occ").value, 1.0);
    EXPECT_EQ(parameter(r.get(), "silicon.Si1.occ").state, PK_PARAMETER_AT_LIMIT);
}

// A transparency of 1/μ = 0.3 mm planted in a noisy silicon pattern is refined back from none, with the scale and
// background; an absorption set by name below 0 or above its limit is refused.
TEST_F(Mixture, PlantedTransparencyIsRecovered) {
    pk_instrument planted = copper();
    planted.transparency = 0.3;
    const Measured measured =
        measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 120.0, 0.02, 5, {0.0, 0.0}, planted);
    const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale)});
    const pk_refinement_summary s = run(r.get(), "scale,background,transparency");
    EXPECT_EQ(s.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(r.get());
    expectRecovered(r.get(), {{"transparency", 0.3}, {"silicon.scale", kSiliconScale}});
    EXPECT_LT(parameter(r.get(), "transparency").esd, 0.01);
    pk_error e{};
    for (double muR : {-0.5, 10.5}) {  // below 0 and above the transmission's limit
        EXPECT_EQ(pk_refinement_set_value(r.get(), "absorption", muR, &e), PK_ERROR_ARGUMENT);
        EXPECT_NE(std::string(e.message).find("instrument.absorption"), std::string::npos) << e.message;
    }
}

// The Jacobian columns of the sample corrections (Kα1 and Kα2) against central differences of whole patterns made
// afresh with the field moved by ±h, steps 10 times the Jacobian's own, so the two share no arithmetic. Truncation
// h² f'''/6 is largest for q, whose e^(−q / sin θ) at 1 1 1 has f''' ≈ −2.5 against f' ≈ 0.022: 1e-6 relative at
// h = 2e-4, within the 1e-5 of the column's largest entry allowed. The scale's column is the pattern at scale 1, from
// 28.3°, on the flank of 1 1 1, so that the first point counts too.
TEST_F(Mixture, SampleCorrectionColumnsAreCentralDifferences) {
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 28.3, 120.0, 0.02, 0);
    const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale)}, PK_REFINE_RIETVELD, 0);
    pk_instrument base = copper();
    base.absorption = 0.3, base.roughness_p = 0.3, base.roughness_q = 0.5, base.transparency = 0.2;
    struct Field {
        const char *name;
        double pk_instrument::*field;
        double h;
    };
    const Field fields[] = {{"absorption", &pk_instrument::absorption, 2e-4},
                            {"roughness_p", &pk_instrument::roughness_p, 2e-4},
                            {"roughness_q", &pk_instrument::roughness_q, 2e-4},
                            {"transparency", &pk_instrument::transparency, 1e-3}};
    std::vector<int> free;
    for (const auto &[name, field, step] : fields) {
        set(r.get(), name, base.*field);
        free.push_back(powderkit::refinement::parameterIndex(*r, name));
    }
    free.push_back(powderkit::refinement::parameterIndex(*r, "silicon.scale"));
    const Eigen::MatrixXd j = powderkit::refinement::jacobian(*r, free);
    const std::vector<double> &x = r->x;
    const pk_phase_setting setting = settingOf(silicon.get(), kSiliconScale), unit = settingOf(silicon.get(), 1.0);
    std::vector<double> y(x.size());
    ASSERT_EQ(pk_pattern(&base, &unit, 1, nullptr, 0, x.data(), static_cast<int32_t>(x.size()), y.data(), nullptr),
              PK_OK);
    for (std::size_t i = 0; i < y.size(); ++i) {
        EXPECT_TRUE(closeTo(j(static_cast<Eigen::Index>(i), 4), y[i], kRoundOff)) << x[i];
    }
    for (std::size_t c = 0; c < 4; ++c) {
        std::vector<double> high(x.size()), low(x.size());
        for (const auto &[sign, y] : {std::pair{1.0, &high}, std::pair{-1.0, &low}}) {
            pk_instrument moved = base;
            moved.*fields[c].field += sign * fields[c].h;
            ASSERT_EQ(pk_pattern(&moved, &setting, 1, nullptr, 0, x.data(), static_cast<int32_t>(x.size()), y->data(),
                                 nullptr),
                      PK_OK);
        }
        const auto column = static_cast<Eigen::Index>(c);
        const double largest = j.col(column).cwiseAbs().maxCoeff();
        EXPECT_GT(largest, 0.0) << fields[c].name;
        for (std::size_t i = 0; i < x.size(); ++i) {
            EXPECT_NEAR(j(static_cast<Eigen::Index>(i), column), (high[i] - low[i]) / (2.0 * fields[c].h),
                        1e-5 * largest)
                << fields[c].name << " at " << x[i];
        }
    }
}

// Neutrons of 1.2 Å on silicon, 15 … 60° (1 1 1 at 22°) with Gaussian peaks of 0.2° and an axial divergence
// S/L 0.02, H/L 0.04 planted: the group word "asymmetry" frees SL and HL (not P) of a profile that has one, and
// from 0.01 and 0.03 their sum is refined back within 3 esd's; P cannot be freed beside them.
TEST_F(Mixture, PlantedAxialDivergenceIsRecovered) {
    pk_instrument neutrons;
    pk_instrument_default(&neutrons);
    neutrons.radiation = PK_RADIATION_NEUTRON;
    neutrons.wavelength = 1.2;
    pk_profile truth;
    pk_profile_default(&truth, PK_PROFILE_GAUSSIAN, nullptr);
    truth.U = truth.V = 0.0;
    truth.W = 0.04;
    truth.asymmetry = 0.0;
    truth.axial_sl = 0.02;
    truth.axial_hl = 0.04;
    const Measured measured =
        measure({settingOf(silicon.get(), 20.0, &truth)}, 15.0, 60.0, 0.02, 3, {0.0, 0.0}, neutrons);
    pk_profile start = truth;
    start.axial_sl = 0.01;  // not equal: the function is the same with S and H swapped, its columns alike at S = H
    start.axial_hl = 0.03;
    const Refinement r =
        refinementOf(measured.get(), {settingOf(silicon.get(), 20.0, &start)}, PK_REFINE_RIETVELD, 4, neutrons);
    pk_error e{};
    EXPECT_EQ(pk_refinement_set_free(r.get(), "silicon.asymmetry", true, &e), PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("silicon.asymmetry: an axial divergence"), std::string::npos) << e.message;
    const pk_refinement_summary s = run(r.get(), "scale,background,asymmetry");
    EXPECT_EQ(s.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(r.get());
    EXPECT_EQ(parameter(r.get(), "silicon.asymmetry").state, PK_PARAMETER_FIXED);
    // Over 15 … 60° the peaks tell S/L + H/L (the tail's reach) far better than how it splits: the two are
    // correlated beyond 0.99, so H/L is fixed and named, and S/L takes up the sum.
    EXPECT_EQ(parameter(r.get(), "silicon.HL").state, PK_PARAMETER_UNDETERMINED);
    EXPECT_NE(std::string(pk_refinement_warnings(r.get())).find("silicon.SL and silicon.HL correlated"),
              std::string::npos);
    const pk_parameter sl = parameter(r.get(), "silicon.SL"), hl = parameter(r.get(), "silicon.HL");
    EXPECT_LT(std::fabs(sl.value + hl.value - 0.06), 3.0 * sl.esd) << sl.value << " ± " << sl.esd << " + " << hl.value;
    expectRecovered(r.get(), {{"silicon.scale", 20.0}});
}

// The Jacobian's columns of S/L and H/L against the derivative from whole patterns made afresh: central differences
// at ±2e-4 and ±4e-4, extrapolated (4 D(h) − D(2h)) / 3 to h → 0. What remains is the Jacobian's own truncation at
// its step of 1e-4, h² f'''/6: 3e-5 of the column's largest entry here (it grows as h², measured at 1e-4 … 3e-4).
TEST_F(Mixture, AxialDivergenceColumnsAreCentralDifferences) {
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 60.0, 0.01, 0);
    pk_profile base;  // Gaussian: its window ends where it is 1e-173 of its height, so moving it changes nothing
    pk_profile_default(&base, PK_PROFILE_GAUSSIAN, nullptr);
    base.asymmetry = 0.0;
    base.axial_sl = 0.02;
    base.axial_hl = 0.03;
    const pk_phase_setting setting = settingOf(silicon.get(), kSiliconScale, &base);
    const Refinement r = refinementOf(measured.get(), {setting}, PK_REFINE_RIETVELD, 0);
    const std::vector<int> free = {powderkit::refinement::parameterIndex(*r, "silicon.SL"),
                                   powderkit::refinement::parameterIndex(*r, "silicon.HL")};
    const Eigen::MatrixXd j = powderkit::refinement::jacobian(*r, free);
    const std::vector<double> &x = r->x;
    const pk_instrument instrument = copper();
    const auto difference = [&](Eigen::Index c, double h) {
        std::vector<double> high(x.size()), low(x.size()), d(x.size());
        for (const auto &[sign, y] : {std::pair{1.0, &high}, std::pair{-1.0, &low}}) {
            pk_profile moved = base;
            (c == 0 ? moved.axial_sl : moved.axial_hl) += sign * h;
            const pk_phase_setting trial = settingOf(silicon.get(), kSiliconScale, &moved);
            EXPECT_EQ(pk_pattern(&instrument, &trial, 1, nullptr, 0, x.data(), static_cast<int32_t>(x.size()),
                                 y->data(), nullptr),
                      PK_OK);
        }
        for (std::size_t i = 0; i < x.size(); ++i) d[i] = (high[i] - low[i]) / (2.0 * h);
        return d;
    };
    for (Eigen::Index c = 0; c < 2; ++c) {
        const std::vector<double> near = difference(c, 2e-4), far = difference(c, 4e-4);
        const double largest = j.col(c).cwiseAbs().maxCoeff();
        EXPECT_GT(largest, 0.0);
        for (std::size_t i = 0; i < x.size(); ++i) {
            ASSERT_NEAR(j(static_cast<Eigen::Index>(i), c), (4.0 * near[i] - far[i]) / 3.0, 1e-4 * largest)
                << "column " << c << " at " << x[i];
        }
    }
}

// An exact pattern is fitted exactly (R-Bragg and Rwp zero to round-off, with or without a background); a region
// whose counts a spurious line doubled, once excluded, neither counts among the points nor biases the fit.
TEST_F(Mixture, ExactPatternsAndExcludedRegions) {
    const Measured exact = measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 100.0, 0.02, 0);
    const Refinement perfect = refinementOf(exact.get(), {settingOf(silicon.get(), kSiliconScale)});
    EXPECT_LT(run(perfect.get(), "scale,background").Rwp, 1e-6);
    // Le Bail: the exact intensities are the extraction's fixed point.
    const Refinement extracted = refinementOf(exact.get(), {settingOf(silicon.get(), kSiliconScale)}, PK_REFINE_LE_BAIL);
    EXPECT_LT(run(extracted.get(), "background").Rwp, 1e-6);
    pk_refinement_phase result{};
    ASSERT_EQ(pk_refinement_phase_result(perfect.get(), 0, &result, nullptr), PK_OK);
    EXPECT_LT(result.r_bragg, 1e-6);
    // At half the pattern's scale every point's net counts are twice the calculated ones, so is each reflexion's
    // share of the observed pattern, and R-Bragg = 100 Σ|2I − I| / Σ 2I = 50 %.
    const Refinement half =
        refinementOf(exact.get(), {settingOf(silicon.get(), kSiliconScale / 2.0)}, PK_REFINE_RIETVELD, 3);
    half->options.start_from_data = 0;
    for (std::size_t k = 0; k < 3; ++k) set(half.get(), "background." + std::to_string(k), kBackground[k]);
    run(half.get(), "");
    ASSERT_EQ(pk_refinement_phase_result(half.get(), 0, &result, nullptr), PK_OK);
    EXPECT_NEAR(result.r_bragg, 50.0, 1e-9);
    // The background the fit reached, from the kept polynomials, is the core's series point by point.
    const pk_refinement &fitted = *perfect;
    for (std::size_t i = 0; i < fitted.x.size(); i += 97) {
        EXPECT_DOUBLE_EQ(fitted.backgroundCurve[i],
                         BackgroundIntensity(fitted.background.data(), fitted.x[i], fitted.xMin, fitted.xMax));
    }
    const Refinement bare = refinementOf(exact.get(), {settingOf(silicon.get(), kSiliconScale)}, PK_REFINE_RIETVELD, 0);
    EXPECT_EQ(pk_refinement_parameter_count(bare.get()), pk_refinement_parameter_count(perfect.get()) - 4);
    const pk_refinement_summary none = run(bare.get(), "");
    EXPECT_EQ(none.stop, PK_STOP_NOTHING_FREE);
    EXPECT_STREQ(pk_refinement_stop_reason(bare.get()), "no parameter is free");
    EXPECT_STREQ(pk_refinement_stop_reason(nullptr), "");
    EXPECT_EQ(none.cycles, 0);
    EXPECT_EQ(none.free_count, 0);
    EXPECT_NEAR(none.reduced_chi2, none.chi2 / none.points, kRoundOff * none.reduced_chi2);  // χ²/(N − 0)

    // Silicon 220 lies at 47.30°; 47.0°–47.6° doubled, 46.9°–47.7° (41 points of 0.02°) left out.
    const Measured spoilt = measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 100.0, 0.02, 9, {47.0, 47.6});
    const Refinement r = refinementOf(spoilt.get(), {settingOf(silicon.get(), kSiliconScale)});
    pk_error e{};
    // Left out in two parts, the second through the one histogram a plain refinement has (there is no second).
    ASSERT_EQ(pk_refinement_exclude(r.get(), 46.9, 47.3, &e), PK_OK) << e.message;  // both ends are points
    ASSERT_EQ(pk_refinement_histogram_exclude(r.get(), 0, 47.3, 47.7, &e), PK_OK) << e.message;
    EXPECT_EQ(pk_refinement_histogram_exclude(r.get(), 1, 47.3, 47.7, &e), PK_ERROR_ARGUMENT);
    EXPECT_EQ(pk_refinement_exclude(r.get(), 50.0, 49.0, &e), PK_ERROR_ARGUMENT);
    EXPECT_EQ(pk_refinement_exclude(r.get(), -INFINITY, 30.0, &e), PK_ERROR_ARGUMENT);  // an end that is no number
    std::pair<pk_refinement *, std::vector<double>> trace{r.get(), {}};  // silicon.a after every cycle
    const auto record = [](void *context, int32_t, double, double, double) -> int32_t {
        auto *t = static_cast<std::pair<pk_refinement *, std::vector<double>> *>(context);
        t->second.push_back(parameter(t->first, "silicon.a").value);
        return 0;
    };
    const pk_refinement_summary s = run(r.get(), "scale,background,silicon.a", record, &trace);
    EXPECT_EQ(s.points, 4001 - 41);
    // Rp = 100 Σ|y − y_calc| / Σ y over the points fitted, from the curves.
    std::vector<double> x(4001), difference(4001), observed(4001);
    ASSERT_EQ(pk_refinement_curve(r.get(), PK_CURVE_X, 0, x.data(), 4001, nullptr), PK_OK);
    ASSERT_EQ(pk_refinement_curve(r.get(), PK_CURVE_DIFFERENCE, 0, difference.data(), 4001, nullptr), PK_OK);
    ASSERT_EQ(pk_refinement_curve(r.get(), PK_CURVE_OBSERVED, 0, observed.data(), 4001, nullptr), PK_OK);
    // χ² = Σ w (y − y_calc)², Rwp = 100 √(χ² / Σ w y²) and Rexp = 100 √((N − P) / Σ w y²), w = 1/σ² of the data.
    const double *sigma = pk_measured_pattern_sigma(spoilt.get());
    double absolute = 0.0;
    double total = 0.0;
    double chi2 = 0.0;
    double squares = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i] >= 46.9 && x[i] <= 47.7) continue;
        absolute += std::fabs(difference[i]);
        total += observed[i];
        chi2 += std::pow(difference[i] / sigma[i], 2);
        squares += std::pow(observed[i] / sigma[i], 2);
    }
    EXPECT_NEAR(s.Rp, 100.0 * absolute / total, kRoundOff);
    EXPECT_NEAR(s.chi2, chi2, kRoundOff * chi2);
    EXPECT_NEAR(s.Rwp, 100.0 * std::sqrt(chi2 / squares), kRoundOff * s.Rwp);
    EXPECT_EQ(s.free_count, 6);  // the scale, four background terms and a
    EXPECT_NEAR(s.Rexp, 100.0 * std::sqrt((s.points - 6.0) / squares), kRoundOff * s.Rexp);
    EXPECT_NEAR(s.reduced_chi2, 1.0, 0.1);
    expectRecovered(r.get(), {{"silicon.scale", kSiliconScale}, {"silicon.a", siliconCell[0]}});
    ASSERT_EQ(pk_refinement_phase_result(r.get(), 0, &result, nullptr), PK_OK);
    EXPECT_LT(result.r_bragg, 2.0);
    EXPECT_EQ(result.cell_esd[2], parameter(r.get(), "silicon.a").esd);  // c follows a
    // Converged: the last cycle moved a by less than the shift tolerance (0.05 esd), after at least one that moved it
    // further (the peak match starts it a fraction of its grid step off, many esd's); run again from there, it
    // converges in one cycle a stage (scale and background, then the cell), a moving by less than the tolerance.
    const pk_parameter a = parameter(r.get(), "silicon.a");
    ASSERT_GE(trace.second.size(), 2u);
    EXPECT_LT(std::fabs(trace.second.back() - trace.second[trace.second.size() - 2]), 0.05 * a.esd);
    const pk_refinement_summary again = run(r.get(), "scale,background,silicon.a");
    EXPECT_EQ(again.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(r.get());
    EXPECT_EQ(again.cycles, 2);
    EXPECT_LT(std::fabs(parameter(r.get(), "silicon.a").value - a.value), 0.05 * a.esd);
    // χ²'s tolerance alone ends no fit: at 1, which every step meets, a alone, started 0.02 % (dozens of esd's) off
    // and not moved by a peak match, still takes a second cycle and comes back to within 0.05 esd.
    r->options.chi2_tolerance = 1.0;
    r->options.start_from_data = 0;
    ASSERT_EQ(pk_refinement_set_free(r.get(), "scale,background", false, nullptr), PK_OK);
    set(r.get(), "silicon.a", a.value * 1.0002);
    const pk_refinement_summary alone = run(r.get(), "silicon.a");
    EXPECT_EQ(alone.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(r.get());
    EXPECT_GE(alone.cycles, 2);
    EXPECT_LT(std::fabs(parameter(r.get(), "silicon.a").value - a.value), 0.05 * a.esd);
}

// Over repeated measurements the spread of the refined cell is the esd the fit reports (the sample standard
// deviation of 50 values is itself uncertain by about 10 %, so 25 % holds with room).
TEST_F(Mixture, TheEsdOfTheCellIsItsSpreadOverRepeatedMeasurements) {
    std::vector<double> values;
    double esd = 0.0, firstEsd = 0.0;
    for (unsigned seed = 100; seed < 150; ++seed) {
        const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 25.0, 95.0, 0.04, seed);
        const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale)});
        run(r.get(), "scale,silicon.a,background");
        values.push_back(parameter(r.get(), "silicon.a").value);
        esd += parameter(r.get(), "silicon.a").esd / 50.0;
        if (seed == 100) firstEsd = parameter(r.get(), "silicon.a").esd;
    }
    double mean = 0.0;
    for (double v : values) mean += v / 50.0;
    double spread = 0.0;
    for (double v : values) spread += (v - mean) * (v - mean) / 49.0;
    EXPECT_NEAR(std::sqrt(spread) / esd, 1.0, 0.25);
    // σ's all twice as large (χ²/(N − P) a quarter) give the same values and esd's: only their ratios weigh.
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 25.0, 95.0, 0.04, 100);
    const int32_t n = pk_measured_pattern_count(measured.get());
    const double *x = pk_measured_pattern_x(measured.get()), *y = pk_measured_pattern_y(measured.get());
    const double *sigma = pk_measured_pattern_sigma(measured.get());
    std::vector<double> doubled(sigma, sigma + n);
    for (double &sigma : doubled) sigma *= 2.0;
    pk_measured_pattern *loose = nullptr;
    ASSERT_EQ(pk_measured_pattern_make(x, y, doubled.data(), n, &loose, nullptr), PK_OK);
    const Measured looser(loose);
    const Refinement r = refinementOf(looser.get(), {settingOf(silicon.get(), kSiliconScale)});
    EXPECT_NEAR(run(r.get(), "scale,silicon.a,background").reduced_chi2, 0.25, 0.04);
    EXPECT_NEAR(parameter(r.get(), "silicon.a").value, values[0], 1e-3 * parameter(r.get(), "silicon.a").esd);
    EXPECT_NEAR(parameter(r.get(), "silicon.a").esd, firstEsd, 1e-3 * firstEsd);
}

// Names, group words, ties, a shared Fe/Co site (at x, 0, 0, its x tied) and a triclinic cell whose angles are angles;
// every refused call names what was wrong and changes nothing.
TEST_F(Mixture, ParametersByNameTiesAndSharedSites) {
    const pk_site sites[2] = {{"Fe1", "Fe", 0.2, 0, 0, 0.6, 0.005, 0, {}}, {"Co1", "Co", 0.2, 0, 0, 0.4, 0.007, 0, {}}};
    const double cell[6] = {2.87, 2.87, 2.87, 90, 90, 90};
    pk_phase *alloy = nullptr;
    ASSERT_EQ(pk_phase_from_symbol("alloy", "I m -3 m", cell, sites, 2, &alloy, nullptr), PK_OK);
    const Phase owned(alloy);
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 100.0, 0.05, 1);
    const double oblique[6] = {5.0, 6.0, 7.0, 80.0, 85.0, 95.0};
    const pk_site general = {"Fe1", "Fe", 0.2, 0.3, 0.4, 1.0, 0.005, 0, {}};
    pk_phase *tri = nullptr;
    ASSERT_EQ(pk_phase_from_symbol("tri", "P -1", oblique, &general, 1, &tri, nullptr), PK_OK);
    const Phase ownedTri(tri);
    const Refinement r =
        refinementOf(measured.get(), {settingOf(silicon.get(), 1.0), settingOf(alloy, 1.0), settingOf(tri, 1.0)});
    EXPECT_EQ(parameter(r.get(), "alloy.Co1.occ").state, PK_PARAMETER_TIED);
    EXPECT_EQ(parameter(r.get(), "alloy.Co1.uiso").value, 0.005);
    set(r.get(), "alloy.Fe1.occ", 0.7);
    EXPECT_NEAR(parameter(r.get(), "alloy.Co1.occ").value, 0.3, kRoundOff);
    EXPECT_EQ(parameter(r.get(), "alloy.Co1.x").state, PK_PARAMETER_TIED);
    set(r.get(), "alloy.Fe1.x", 0.21);
    EXPECT_EQ(parameter(r.get(), "alloy.Co1.x").value, 0.21);
    pk_error e{};
    EXPECT_EQ(pk_refinement_tie(r.get(), "silicon.W", "alloy.W", &e), PK_OK) << e.message;
    set(r.get(), "silicon.W", 0.005);
    EXPECT_EQ(parameter(r.get(), "alloy.W").value, 0.005);
    EXPECT_EQ(pk_refinement_tie(r.get(), "silicon.a", "alloy.Fe1.uiso", &e), PK_ERROR_ARGUMENT);
    EXPECT_EQ(pk_refinement_tie(r.get(), "tri.a", "tri.alpha", &e), PK_ERROR_ARGUMENT);
    EXPECT_EQ(pk_refinement_tie(r.get(), "silicon.U", "alloy.X", &e), PK_ERROR_ARGUMENT);
    EXPECT_EQ(parameter(r.get(), "tri.alpha").lower, 1.0);  // an angle, not a length: 1° … 179°
    for (const auto &[axis, value] : {std::pair{"x", 0.2}, std::pair{"y", 0.3}, std::pair{"z", 0.4}})
        EXPECT_EQ(parameter(r.get(), std::string("tri.Fe1.") + axis).value, value);  // a general position, all free
    EXPECT_EQ(parameter(r.get(), "tri.gamma").upper, 179.0);
    EXPECT_EQ(pk_refinement_tie(r.get(), "silicon.scale", "alloy.scale", &e), PK_OK) << e.message;
    EXPECT_EQ(pk_refinement_set_value(r.get(), "alloy.scale", 2.0, &e), PK_ERROR_ARGUMENT);  // it follows
    // Tied to a follower, a parameter follows that one's leader: the scale column of silicon's (the first parameter)
    // holds all three phases.
    EXPECT_EQ(pk_refinement_tie(r.get(), "alloy.scale", "tri.scale", &e), PK_OK) << e.message;
    const Eigen::MatrixXd scales = powderkit::refinement::jacobian(*r, {powderkit::refinement::parameterIndex(*r, "silicon.scale")});
    double sum = 0.0;
    for (const powderkit::refinement::PhaseModel &model : r->phases)
        for (double v : model.unit) sum += v;
    EXPECT_NEAR(scales.sum(), sum, 1e-9 * sum);
    EXPECT_EQ(pk_refinement_set_free(r.get(), "cell,silicon.bogus", true, &e), PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("silicon.bogus"), std::string::npos);
    EXPECT_EQ(parameter(r.get(), "silicon.a").state, PK_PARAMETER_FIXED);
    EXPECT_EQ(pk_refinement_set_free(r.get(), "alloy.cell,march,displacement", true, &e), PK_OK) << e.message;
    EXPECT_EQ(parameter(r.get(), "alloy.a").state, PK_PARAMETER_FREE);
    EXPECT_EQ(parameter(r.get(), "silicon.a").state, PK_PARAMETER_FIXED);
    EXPECT_EQ(pk_refinement_set_value(r.get(), "nothing", 1.0, &e), PK_ERROR_ARGUMENT);
    EXPECT_EQ(pk_refinement_set_value(r.get(), "silicon.U", NAN, &e), PK_ERROR_ARGUMENT);
    // The first phase's group words by its name; its S/L refused beside the default profile's P of 0.02.
    EXPECT_EQ(pk_refinement_set_free(r.get(), "silicon.cell", true, &e), PK_OK) << e.message;
    EXPECT_EQ(parameter(r.get(), "silicon.a").state, PK_PARAMETER_FREE);
    EXPECT_EQ(pk_refinement_set_free(r.get(), "silicon.SL", true, &e), PK_ERROR_ARGUMENT);

    pk_refinement_options options;
    pk_refinement_options_default(&options);
    std::tie(options.x_min, options.x_max) = std::make_tuple(150.0, 160.0);
    const pk_instrument instrument = copper();
    const pk_phase_setting one = settingOf(silicon.get(), 1.0);
    pk_refinement *none = nullptr;
    EXPECT_EQ(pk_refinement_make(measured.get(), &instrument, &one, 1, nullptr, &options, &none, &e),
              PK_ERROR_ARGUMENT);
    EXPECT_EQ(none, nullptr);
    std::tie(options.x_min, options.x_max) = std::make_tuple(20.0, 21.0);
    EXPECT_EQ(pk_refinement_make(measured.get(), &instrument, &one, 1, nullptr, &options, &none, &e),
              PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("no reflexion"), std::string::npos);
    // 0 … 13 background coefficients; the March ratio refined within 0.05 … 20.
    pk_refinement_options_default(&options);
    const pk_phase_setting needles{silicon.get(), 1.0, nullptr, 1, 1.5, {0, 0, 1}};
    for (const int32_t terms : {14, 13}) {
        options.background_count = terms;
        EXPECT_EQ(pk_refinement_make(measured.get(), &instrument, &needles, 1, nullptr, &options, &none, &e),
                  terms == 13 ? PK_OK : PK_ERROR_ARGUMENT);
    }
    ASSERT_NE(none, nullptr);
    const Refinement thirteen(none);
    EXPECT_EQ(parameter(thirteen.get(), "silicon.march").lower, 0.05);
    EXPECT_EQ(parameter(thirteen.get(), "silicon.march").upper, 20.0);
    EXPECT_EQ(pk_refinement_make(nullptr, &instrument, &one, 1, nullptr, nullptr, &none, &e), PK_ERROR_ARGUMENT);
}

// The calibration columns and the profile's TOF terms are the central differences of patterns computed with
// the instrument or profile moved (Richardson's extrapolation of two steps), so each name moves its own field.
TEST_F(Mixture, TimeOfFlightColumnsAreCentralDifferences) {
    const pk_profile base = tofProfile();
    const pk_phase_setting setting = settingOf(silicon.get(), kSiliconScale, &base);
    const Measured measured = measure({setting}, 4.5, 21.5, 0.002, 0, {}, kBank);
    const Refinement r = refinementOf(measured.get(), {setting}, PK_REFINE_RIETVELD, 0, kBank);
    const std::vector<const char *> names = {"difC", "difA", "zero", "silicon.sigma1", "silicon.gamma1",
                                             "silicon.beta0"};
    std::vector<int> free;
    for (const char *name : names) free.push_back(powderkit::refinement::parameterIndex(*r, name));
    const Eigen::MatrixXd j = powderkit::refinement::jacobian(*r, free);
    const std::vector<double> &x = r->x;
    const auto difference = [&](std::size_t c, double h) {
        std::vector<double> high(x.size()), low(x.size()), d(x.size());
        for (const auto &[sign, y] : {std::pair{1.0, &high}, std::pair{-1.0, &low}}) {
            pk_instrument bank = kBank;
            pk_profile profile = base;
            double *const fields[] = {&bank.dtt1, &bank.dtt2, &bank.zero, &profile.sigma1, &profile.gamma1,
                                      &profile.beta0};
            *fields[c] += sign * h;
            const pk_phase_setting trial = settingOf(silicon.get(), kSiliconScale, &profile);
            EXPECT_EQ(pk_pattern(&bank, &trial, 1, nullptr, 0, x.data(), static_cast<int32_t>(x.size()), y->data(),
                                 nullptr),
                      PK_OK);
        }
        for (std::size_t i = 0; i < x.size(); ++i) d[i] = (high[i] - low[i]) / (2.0 * h);
        return d;
    };
    // A peak's window widens with its width: where an edge crosses a point between the two patterns (the
    // refinement holds its windows), the two steps disagree by far more than h²; such points are left out, and
    // they must be few.
    const double steps[] = {0.02, 1e-3, 0.02, 0.05, 1e-3, 1e-4};
    for (std::size_t c = 0; c < names.size(); ++c) {
        const std::vector<double> near = difference(c, steps[c]), far = difference(c, 2.0 * steps[c]);
        const auto column = static_cast<Eigen::Index>(c);
        const double largest = j.col(column).cwiseAbs().maxCoeff();
        EXPECT_GT(largest, 0.0) << names[c];
        std::size_t crossed = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (std::fabs(near[i] - far[i]) > 2e-5 * largest) {
                ++crossed;
                continue;
            }
            EXPECT_NEAR(j(static_cast<Eigen::Index>(i), column), (4.0 * near[i] - far[i]) / 3.0, 1e-4 * largest)
                << names[c] << " at " << x[i];
        }
        EXPECT_LT(crossed, x.size() / 100) << names[c];
    }
}

// A standard of known cell calibrates the bank from difC 0.1 % off and no zero; a sample on a calibrated bank
// gets its cell back from 1 % off (ten peak widths at 3 Å: matched to the peaks first) and σ1 30 % off; both
// truths within 3 esd. Freeing difC beside the cell of a cubic phase leaves them undetermined together
// (a ∝ difC exactly): the run says so.
TEST_F(Mixture, TimeOfFlightCalibrationAndCell) {
    const pk_profile truth = tofProfile();
    const pk_phase_setting setting = settingOf(silicon.get(), kSiliconScale, &truth);
    const Measured measured = measure({setting}, 4.5, 21.5, 0.002, 17, {}, kBank);

    const Refinement standard = refinementOf(measured.get(), {setting}, PK_REFINE_RIETVELD, 3,
                                             tofBank(7007.0, 1.5, 0.0));
    pk_refinement_summary summary = run(standard.get(), "scale,background,calibration,profile");
    EXPECT_TRUE(summary.converged) << pk_refinement_stop_reason(standard.get());
    expectRecovered(standard.get(), {{"difC", 7000.0}, {"difA", 1.5}, {"zero", 5.0}, {"silicon.sigma1", truth.sigma1},
                                     {"silicon.scale", kSiliconScale}});

    pk_profile wide = truth;
    wide.sigma1 *= 1.3;
    const Refinement sample = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale, &wide)},
                                           PK_REFINE_RIETVELD, 3, kBank);
    set(sample.get(), "silicon.a", siliconCell[0] * 1.01);
    summary = run(sample.get(), "scale,background,cell,profile");
    EXPECT_TRUE(summary.converged) << pk_refinement_stop_reason(sample.get());
    expectRecovered(sample.get(), {{"silicon.a", siliconCell[0]}, {"silicon.sigma1", truth.sigma1}});
    EXPECT_NE(std::string(pk_refinement_notes(sample.get())).find("silicon.a started at"), std::string::npos)
        << pk_refinement_notes(sample.get());

    // Peaks ten times too wide to start (the Gaussian variance 100 times, the Lorentzian 10 times, the rates a
    // tenth): the widths are scaled by 1/10 to the pattern before the first cycle, and the fit ends at the truth
    // (from where it started it stopped at reduced χ² 1.16 with the rates a tenth of theirs).
    pk_profile tenfold = truth;
    for (double *variance : {&tenfold.sigma0, &tenfold.sigma1, &tenfold.sigma2}) *variance *= 100.0;
    for (double *width : {&tenfold.gamma0, &tenfold.gamma1, &tenfold.gamma2}) *width *= 10.0;
    for (double *rate : {&tenfold.alpha0, &tenfold.alpha1, &tenfold.beta0, &tenfold.beta1}) *rate /= 10.0;
    const Refinement broad = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale, &tenfold)},
                                          PK_REFINE_RIETVELD, 3, kBank);
    summary = run(broad.get(), "scale,background,silicon.sigma1,silicon.gamma1,silicon.alpha1,silicon.beta0,silicon.beta1");
    EXPECT_TRUE(summary.converged) << pk_refinement_stop_reason(broad.get());
    const std::string notes = pk_refinement_notes(broad.get());
    const std::size_t scaled = notes.find("silicon: widths scaled by ");
    ASSERT_NE(scaled, std::string::npos) << notes;
    EXPECT_NEAR(std::stod(notes.substr(scaled + 26)), 0.1, 0.005) << notes;  // within the search's 2^(1/16) steps
    expectRecovered(broad.get(), {{"silicon.sigma1", truth.sigma1}, {"silicon.gamma1", truth.gamma1},
                                  {"silicon.alpha1", truth.alpha1}, {"silicon.beta0", truth.beta0},
                                  {"silicon.beta1", truth.beta1}});

    const Refinement both = refinementOf(measured.get(), {setting}, PK_REFINE_RIETVELD, 3, kBank);
    run(both.get(), "scale,background,cell,calibration");
    EXPECT_NE(std::string(pk_refinement_warnings(both.get())).find("difC and the cell lengths scale every peak alike"),
              std::string::npos)
        << pk_refinement_warnings(both.get());
    // The 2θ axis's terms free nothing here, and saying so beats a silent no-op; fixing them is harmless.
    pk_error word{};
    for (const char *twoTheta : {"scale,displacement", "silicon.asymmetry"}) {
        EXPECT_EQ(pk_refinement_set_free(both.get(), twoTheta, true, &word), PK_ERROR_ARGUMENT) << twoTheta;
        EXPECT_NE(std::string(word.message).find("a time-of-flight pattern has none"), std::string::npos) << word.message;
    }
    EXPECT_EQ(pk_refinement_set_free(both.get(), "displacement,transparency", false, nullptr), PK_OK);
    const Measured twoTheta = measure({settingOf(silicon.get(), kSiliconScale)}, 25.0, 60.0, 0.05, 0);
    const Refinement onTwoTheta = refinementOf(twoTheta.get(), {settingOf(silicon.get(), kSiliconScale)});
    EXPECT_EQ(pk_refinement_set_free(onTwoTheta.get(), "calibration", true, &word), PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(word.message).find("this one is on 2θ"), std::string::npos) << word.message;

    // Flight times in µs are named as such.
    pk_refinement *refused = nullptr;
    pk_refinement_options options;
    pk_refinement_options_default(&options);
    pk_error e{};
    const std::string microseconds = "5000 10\n5002 12\n5004 11\n";
    pk_measured_pattern *inMicroseconds = nullptr;
    ASSERT_EQ(pk_measured_pattern_read_text(microseconds.c_str(), "us.xy", &inMicroseconds, nullptr), PK_OK);
    EXPECT_EQ(pk_refinement_make(inMicroseconds, &kBank, &setting, 1, nullptr, &options, &refused, &e),
              PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("µs"), std::string::npos) << e.message;
    pk_measured_pattern_free(inMicroseconds);
}

// difB adds difB / d to each line's flight time (µs; the axis in ms): each line's d is taken back from its
// position without difB by the quadratic's root, and its position with difB 20 µs·Å is that plus 20 / d. The
// group word "calibration" leaves difB fixed; freed by name beside difC, both are recovered from a pattern made
// with 20 (difB from 0).
TEST_F(Mixture, TimeOfFlightDifBMovesEachLineByItsOneOverD) {
    const pk_profile truth = tofProfile();
    const pk_phase_setting setting = settingOf(silicon.get(), kSiliconScale, &truth);
    const Measured plain = measure({setting}, 4.5, 21.5, 0.002, 0, {}, kBank);
    const Refinement r = refinementOf(plain.get(), {setting}, PK_REFINE_RIETVELD, 3, kBank);
    const auto positions = [&] {
        std::vector<double> t(400);
        int32_t written = 0;
        EXPECT_EQ(pk_refinement_peak_positions(r.get(), 0, t.data(), 400, &written, nullptr), PK_OK);
        t.resize(static_cast<std::size_t>(written));
        return t;
    };
    const std::vector<double> without = positions();
    constexpr double kDifB = 20.0;
    set(r.get(), "difB", kDifB);
    const std::vector<double> with = positions();
    std::vector<double> expected;
    for (const double t : without) {
        const double c = kBank.zero - 1000.0 * t;  // difA d² + difC d + c = 0
        const double d = (-kBank.dtt1 + std::sqrt(kBank.dtt1 * kBank.dtt1 - 4.0 * kBank.dtt2 * c)) / (2.0 * kBank.dtt2);
        expected.push_back(t + kDifB / d * 1e-3);
    }
    // Lines within 0.05 ms of the range's ends may cross them: compared inside.
    const auto inside = [](std::vector<double> t) {
        t.erase(std::remove_if(t.begin(), t.end(), [](double v) { return v < 4.55 || v > 21.45; }), t.end());
        return t;
    };
    const std::vector<double> shifted = inside(with), predicted = inside(expected);
    ASSERT_EQ(shifted.size(), predicted.size());
    ASSERT_GT(shifted.size(), 20u);
    for (std::size_t k = 0; k < shifted.size(); ++k) EXPECT_NEAR(shifted[k], predicted[k], 1e-10) << k;

    // The pattern with difB 20 on a background of 100 counts, Poisson counts; refined from difB 0.
    std::vector<double> x(static_cast<std::size_t>(pk_refinement_point_count(r.get()))), y(x.size());
    ASSERT_EQ(pk_refinement_curve(r.get(), PK_CURVE_X, 0, x.data(), static_cast<int32_t>(x.size()), nullptr), PK_OK);
    ASSERT_EQ(pk_refinement_curve(r.get(), PK_CURVE_CALCULATED, 0, y.data(), static_cast<int32_t>(y.size()), nullptr),
              PK_OK);
    std::mt19937 random(23);
    std::string text;
    for (std::size_t i = 0; i < x.size(); ++i) {
        std::poisson_distribution<int> counts(y[i] + 100.0);  // on a flat background, far from few counts' bias
        text += std::to_string(x[i]) + " " + std::to_string(counts(random)) + "\n";
    }
    pk_measured_pattern *made = nullptr;
    ASSERT_EQ(pk_measured_pattern_read_text(text.c_str(), "difB", &made, nullptr), PK_OK);
    const Measured measured(made);
    const Refinement fit = refinementOf(measured.get(), {setting}, PK_REFINE_RIETVELD, 3, kBank);
    ASSERT_EQ(pk_refinement_set_free(fit.get(), "calibration", true, nullptr), PK_OK);
    EXPECT_EQ(parameter(fit.get(), "difB").state, PK_PARAMETER_FIXED);
    ASSERT_EQ(pk_refinement_set_free(fit.get(), "difA,zero", false, nullptr), PK_OK);
    const pk_refinement_summary summary = run(fit.get(), "scale,background,difB");
    EXPECT_TRUE(summary.converged) << pk_refinement_stop_reason(fit.get());
    expectRecovered(fit.get(), {{"difB", kDifB}, {"difC", kBank.dtt1}});
}

// Corundum measured beside silicon on a TOF bank and left out of the model: the verdict names its strongest
// lines by flight time and by d from the calibration (corundum 1 0 4: 1/d² = 4/(3a²) + 16/c² with a 4.7589,
// c 12.9910 Å gives d 2.5510 Å), with difA and without it (TOF = difC d + zero).
TEST_F(Mixture, TimeOfFlightVerdictNamesAMissingPhase) {
    const pk_profile truth = tofProfile();
    for (const double difA : {1.5, 0.0}) {
        const pk_instrument bank = tofBank(7000.0, difA, 5.0);
        const Measured measured = measure({settingOf(silicon.get(), kSiliconScale, &truth),
                                           settingOf(corundum.get(), kCorundumScale, &truth)},
                                          4.5, 21.5, 0.002, 19, {}, bank);
        const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale, &truth)},
                                          PK_REFINE_RIETVELD, 3, bank);
        run(r.get(), "scale,background");
        const std::string verdict = pk_refinement_verdict(r.get());
        EXPECT_NE(verdict.find("a phase may be missing: the difference curve holds peaks no phase explains at TOF"),
                  std::string::npos)
            << verdict;
        const double d104 = 1.0 / std::sqrt(4.0 / (3.0 * 4.7589 * 4.7589) + 16.0 / (12.991 * 12.991));
        const double tof104 = 7000.0 * d104 + difA * d104 * d104 + 5.0;
        double nearest = 1.0;  // the d named nearest to 1 0 4's, within the peak's place (a few µs)
        for (std::size_t at = verdict.find("(d "); at != std::string::npos; at = verdict.find("(d ", at + 1)) {
            nearest = std::min(nearest, std::fabs(std::strtod(verdict.c_str() + at + 3, nullptr) - d104));
        }
        EXPECT_LT(nearest, 0.002) << verdict << " (looked for d " << d104 << " near " << tof104 << " µs, difA " << difA
                                  << ")";
    }
}

// Symmetry leaves free what the tables say: the cell quantities of each crystal system and the coordinates of
// special positions (hexagonal 6h at x, 2x, 1/4 moves along (1, 2, 0)).
TEST(SymmetryConstraints, CellsAndSitesAsTheTablesGiveThem) {
    using powderkit::refinement::cellSymmetry;
    using Leaders = std::array<int, 6>;
    EXPECT_EQ(cellSymmetry(powderkit::phase::symmetryFromSymbol("F m -3 m")).leader, (Leaders{0, 0, 0, -1, -1, -1}));
    EXPECT_EQ(cellSymmetry(powderkit::phase::symmetryFromSymbol("P 63/m m c")).leader, (Leaders{0, 0, 2, -1, -1, -1}));
    EXPECT_NEAR(cellSymmetry(powderkit::phase::symmetryFromSymbol("P 63/m m c")).fixedValue[5], 120.0, kRoundOff);
    EXPECT_EQ(cellSymmetry(powderkit::phase::symmetryFromSymbol("P 1 21/c 1")).leader, (Leaders{0, 1, 2, -1, 4, -1}));
    EXPECT_EQ(cellSymmetry(powderkit::phase::symmetryFromSymbol("R -3 c:R")).leader, (Leaders{0, 0, 0, 3, 3, 3}));
    EXPECT_EQ(cellSymmetry(powderkit::phase::symmetryFromSymbol("P -1")).leader, (Leaders{0, 1, 2, 3, 4, 5}));
    const auto hexagonal = powderkit::phase::symmetryFromSymbol("P 63/m m c");
    const auto site = powderkit::refinement::siteSymmetry(hexagonal, {0.1701, 0.3399, 0.2502});
    EXPECT_EQ(site.free, (std::array<bool, 3>{true, false, false}));
    EXPECT_NEAR(site.direction[0][1], 2.0, kRoundOff);
    EXPECT_NEAR(site.anchor[1], 2.0 * site.anchor[0], kRoundOff);
    EXPECT_NEAR(site.anchor[2], 0.25, kRoundOff);
    const auto general = powderkit::refinement::siteSymmetry(hexagonal, {0.11, 0.23, 0.07});
    EXPECT_EQ(general.free, (std::array<bool, 3>{true, true, true}));
}

// Two refinements in two threads give what each gives alone; the progress callback stops a run.
TEST_F(Mixture, ThreadsRefineDistinctObjectsAndTheCallbackStops) {
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 25.0, 60.0, 0.02, 2);
    std::vector<Refinement> r;
    for (int i = 0; i < 4; ++i) r.push_back(refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale)}));
    for (auto &one : r) pk_refinement_set_free(one.get(), "scale,background,silicon.a", true, nullptr);
    std::thread first([&] { pk_refinement_run(r[0].get(), nullptr, nullptr, nullptr); });
    std::thread second([&] { pk_refinement_run(r[1].get(), nullptr, nullptr, nullptr); });
    first.join();
    second.join();
    EXPECT_EQ(parameter(r[0].get(), "silicon.a").value, parameter(r[1].get(), "silicon.a").value);
    const auto stopAtTwo = [](void *, int32_t cycle, double, double, double) -> int32_t {
        return cycle >= 2;
    };
    pk_refinement_run(r[2].get(), stopAtTwo, nullptr, nullptr);
    pk_refinement_summary s{};
    pk_refinement_get_summary(r[2].get(), &s, nullptr);
    EXPECT_EQ(s.stop, PK_STOP_CALLBACK);
    EXPECT_EQ(s.cycles, 2);
    // The first call, before any cycle, has cycle 0 and χ² NaN: stopping there leaves every parameter as it was.
    const auto stopAtStart = [](void *, int32_t cycle, double chi2, double, double) -> int32_t {
        return cycle == 0 && std::isnan(chi2);
    };
    set(r[3].get(), "silicon.a", 5.44);
    pk_refinement_run(r[3].get(), stopAtStart, nullptr, nullptr);
    pk_refinement_get_summary(r[3].get(), &s, nullptr);
    EXPECT_EQ(s.stop, PK_STOP_CALLBACK);
    EXPECT_EQ(s.cycles, 0);
    EXPECT_EQ(parameter(r[3].get(), "silicon.a").value, 5.44);
}

// The Jacobian shared among threads: two phases, 16 differenced columns among 3 threads (one of them on the
// refinement itself), each run from the same start gives every value, esd and χ² of the run on one thread to the
// bit; a thread count beyond 64 is refused, naming the field.
TEST_F(Mixture, ThreadsShareTheJacobianAndChangeNoBit) {
    const std::vector<pk_phase_setting> truth = {settingOf(corundum.get(), kCorundumScale),
                                                 settingOf(silicon.get(), kSiliconScale)};
    const Measured measured = measure(truth, 25.0, 70.0, 0.02, 5);
    const pk_instrument instrument = copper();
    std::vector<Refinement> runs;
    std::vector<pk_refinement_summary> summaries;
    for (int32_t threads : {1, 3}) {
        pk_refinement_options options;
        pk_refinement_options_default(&options);
        options.threads = threads;
        pk_refinement *made = nullptr;
        ASSERT_EQ(pk_refinement_make(measured.get(), &instrument, truth.data(), 2, nullptr, &options, &made, nullptr),
                  PK_OK);
        runs.emplace_back(made);
        set(made, "corundum.a", corundumCell[0] * 1.002);
        set(made, "silicon.a", siliconCell[0] * 0.998);
        summaries.push_back(run(made, "scale,background,zero,cell,profile,uiso"));
    }
    EXPECT_EQ(summaries[0].chi2, summaries[1].chi2);
    EXPECT_EQ(summaries[0].cycles, summaries[1].cycles);
    for (int32_t i = 0; i < pk_refinement_parameter_count(runs[0].get()); ++i) {
        pk_parameter one{}, three{};
        pk_refinement_parameter(runs[0].get(), i, &one, nullptr);
        pk_refinement_parameter(runs[1].get(), i, &three, nullptr);
        EXPECT_EQ(one.value, three.value) << one.name;
        EXPECT_TRUE(one.esd == three.esd || (std::isnan(one.esd) && std::isnan(three.esd))) << one.name;
        EXPECT_EQ(one.state, three.state) << one.name;
    }
}

// What cannot be fitted is refused when the refinement is made, naming why: a thread count beyond 64, a measured
// pattern of zeros alone (which would "converge" with an Rwp of NaN), a cell window beyond ±10 %, a range of one
// point (the step is 0.05°); a window of 10 % and a range of two points are made.
TEST_F(Mixture, MakingRefusesWhatCannotBeFitted) {
    const std::vector<pk_phase_setting> phases = {settingOf(silicon.get(), kSiliconScale)};
    const pk_instrument instrument = copper();
    const Measured measured = measure(phases, 25.0, 40.0, 0.05, 5);
    const std::vector<double> x = axis(25.0, 0.05, 301), zeros(x.size(), 0.0);
    pk_measured_pattern *nothing = nullptr;
    ASSERT_EQ(pk_measured_pattern_make(x.data(), zeros.data(), nullptr, 301, &nothing, nullptr), PK_OK);
    const Measured empty(nothing);
    pk_measured_pattern *bank = nullptr;  // GSAS time of flight: two points, 2000 and 2500 µs
    ASSERT_EQ(pk_measured_pattern_read_text_bank("t\nBANK 1 2 1 SLOG 2000 4000 0.25 0\n       4 2     8\n", "g", 0,
                                                 &bank, nullptr),
              PK_OK);
    const Measured flight(bank);
    pk_refinement_options options;
    pk_refinement_options_default(&options);
    const struct {
        const pk_measured_pattern *measured;
        int32_t threads;
        double cellWindow, xMax;
        const char *message;
    } cases[] = {{measured.get(), 65, 0.01, 0.0, "options.threads = 65: must lie from 0 to 64"},
                 {empty.get(), 1, 0.01, 0.0, "the measured pattern holds no positive count in the range refined"},
                 {flight.get(), 1, 0.01, 0.0, "the measured pattern is on a time-of-flight axis and the instrument"},
                 {measured.get(), 1, 0.1001, 0.0, "options.cell_window must lie from 0 to 0.1"},
                 {measured.get(), 1, 0.01, 28.44, "the range holds fewer than 2 points"}};
    for (const auto &c : cases) {
        options.threads = c.threads;
        options.cell_window = c.cellWindow;
        std::tie(options.x_min, options.x_max) = std::make_tuple(c.xMax > 0.0 ? 28.4 : 0.0, c.xMax);
        pk_refinement *refused = nullptr;
        pk_error e{};
        EXPECT_EQ(pk_refinement_make(c.measured, &instrument, phases.data(), 1, nullptr, &options, &refused, &e),
                  PK_ERROR_ARGUMENT);
        EXPECT_NE(std::string(e.message).find(c.message), std::string::npos) << e.message;
        EXPECT_EQ(refused, nullptr);
    }
    // Counts below 1 (normalised data) are counts all the same: one positive point is enough; threads 0
    // (one, as 1) is no error.
    std::vector<double> small = zeros;
    small[150] = 0.25;
    pk_measured_pattern *little = nullptr;
    ASSERT_EQ(pk_measured_pattern_make(x.data(), small.data(), nullptr, 301, &little, nullptr), PK_OK);
    const Measured fraction(little);
    options.threads = 0;
    options.cell_window = 0.1;
    std::tie(options.x_min, options.x_max) = std::make_tuple(0.0, 0.0);
    pk_refinement *made = nullptr;
    EXPECT_EQ(pk_refinement_make(fraction.get(), &instrument, phases.data(), 1, nullptr, &options, &made, nullptr),
              PK_OK);
    pk_refinement_free(made);
    std::tie(options.x_min, options.x_max) = std::make_tuple(28.4, 28.45);  // two points, silicon 1 1 1 between them
    EXPECT_EQ(pk_refinement_make(measured.get(), &instrument, phases.data(), 1, nullptr, &options, &made, nullptr),
              PK_OK);
    pk_refinement_free(made);
}

// The verdict's unexplained peaks are sharp and clear of the phases' lines: a line 300 counts high and 0.1° wide added
// at 62° (6° from silicon's lines) to the counts of a refined pattern is named there; a step of 300 counts there, up
// or down, is not, a misfit as broad as the background's (the counts two to four widths beyond it hold more than 0.35
// of its score); nor is such a line 5000 counts high at 47.50°, 0.08° above silicon 2 2 0's Kα2 line, within two of
// its widths.
TEST_F(Mixture, UnexplainedPeaksAreSharpNotSteps) {
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 20.0, 120.0, 0.02, 5);
    const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale)});
    run(r.get(), "scale,background");
    EXPECT_TRUE(powderkit::refinement::unexplainedPeaks(*r).empty());
    const std::vector<double> counts = r->y;
    for (const int step : {0, 1, -1, 2}) {
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const double t = (r->x[i] - (step == 2 ? 47.50 : 62.0)) / 0.1;
            const double shape = step == 1 || step == -1 ? (step * t > 0.0 ? 1.0 : 0.0) : std::pow(2.0, -4.0 * t * t);
            r->y[i] = counts[i] + (step == 2 ? 5000.0 : 300.0) * shape;
        }
        const std::vector<powderkit::refinement::ResidualPeak> found = powderkit::refinement::unexplainedPeaks(*r);
        ASSERT_EQ(found.size(), step != 0 ? 0u : 1u) << step;
        for (const powderkit::refinement::ResidualPeak &peak : found) EXPECT_NEAR(peak.x, 62.0, 0.05);
    }
}

// Silicon's TOF pattern (9 … 14 ms) refined in scale and background, then each line of `added` (its centre, ms, and
// whether the verdict must name it) added alone as 2000 counts of FWHM 0.04 ms: the unexplained peaks found.
void expectNamedOnTimeOfFlight(const pk_phase *silicon, const pk_profile &profile,
                               const std::vector<std::pair<double, bool>> &added) {
    const Measured measured = measure({settingOf(silicon, kSiliconScale, &profile)}, 9.0, 14.0, 0.002, 23, {}, kBank);
    const Refinement r =
        refinementOf(measured.get(), {settingOf(silicon, kSiliconScale, &profile)}, PK_REFINE_RIETVELD, 3, kBank);
    run(r.get(), "scale,background");
    const std::vector<double> counts = r->y;
    for (const auto &[at, named] : added) {
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const double t = (r->x[i] - at) / 0.04;
            r->y[i] = counts[i] + 2000.0 * std::pow(2.0, -4.0 * t * t);
        }
        const std::vector<powderkit::refinement::ResidualPeak> found = powderkit::refinement::unexplainedPeaks(*r);
        ASSERT_EQ(found.size(), named ? 1u : 0u) << at;
        for (const powderkit::refinement::ResidualPeak &peak : found) EXPECT_NEAR(peak.x, at, 0.01);
    }
}

// On time of flight a line's width is its Gaussian's, widened by the exponentials' ln 2 (1/α + 1/β): 65 µs at silicon
// 2 2 0 (13.45 ms, d 1.920 Å: 2.355 · √(40 d²) + ln 2 · (d/0.1 + 1/(0.03 + 0.005/d⁴))). A line added 0.1 ms above it,
// within two of those widths, is not named; the same line 0.16 ms above it (beyond two widths, within two of a width
// whose Gaussian part were twice as wide: 93 µs) and at 12.5 ms, far from silicon's, is.
TEST_F(Mixture, UnexplainedPeaksOnTimeOfFlightAreClearOfLines) {
    expectNamedOnTimeOfFlight(silicon.get(), tofProfile(), {{13.55, false}, {13.61, true}, {12.5, true}});
}

// With a Lorentzian part the width is the wider of the Gaussian's and γ = γ0 + γ1 d + γ2 d²: at silicon 2 2 0 (d 1.920 Å)
// γ = 30 + 15 · 1.920 + 5 · 1.920² = 77.2 µs beside the Gaussian's 28.6 µs, so the line is 77.2 + 36.1 = 113.4 µs
// wide. A line 0.19 ms above it lies within two of those widths and is not named (it would be if any term of γ
// were taken with the wrong sign: 19.6 or 40.4 µs); the same line 0.26 ms above it is.
TEST_F(Mixture, UnexplainedPeaksOnTimeOfFlightKeepTheLorentzianWidth) {
    pk_profile profile = tofProfile();
    profile.gamma0 = 30.0;
    profile.gamma1 = 15.0;
    profile.gamma2 = 5.0;
    expectNamedOnTimeOfFlight(silicon.get(), profile, {{13.64, false}, {13.71, true}});
}

// Size and strain from patterns broadened beyond the instrument's profile, the sample's widths worked out here from the
// chosen D and ε: X_s = K λ / (D · π/180) (Scherrer, K = 0.9) and, for equal Gaussian and Lorentzian strain widths t,
// the pseudo-Voigt FWHM t (1 + 2.69269 + 2.42843 + 4.47163 + 0.07842 + 1)^(1/5) = 4 ε · 180/π (Y_s = t, U_s = t²);
// for a Lorentzian strain alone Y_s = 4 ε · 180/π (pseudo-Voigt or Lorentzian profiles), for a Gaussian profile
// √U_s = 4 ε · 180/π. Refined from the instrument's profile, each value lies within 5 % and three esd's of the truth,
// the esd's those of X, Y or U carried through by hand; with X fixed (or no Lorentzian part) the size is NaN and named
// in the warnings.
TEST_F(Mixture, SizeAndStrainFromTheBroadeningBeyondTheInstrument) {
    struct Case {
        double sizeNm, strainPercent;
        bool gaussianStrain;
        const char *free;
        int32_t type = PK_PROFILE_PSEUDO_VOIGT;
    };
    const Case cases[] = {{80.0, 0.08, true, "scale,background,zero,cell,profile"},
                          {80.0, 0.08, true, "profile,background"},  // U the first free parameter
                          {NAN, 0.05, false, "scale,background,zero,cell,silicon.W,silicon.Y"},
                          {80.0, 0.05, false, "scale,background,zero,cell,silicon.X,silicon.Y", PK_PROFILE_LORENTZIAN},
                          {NAN, 0.05, false, "scale,background,zero,cell,silicon.U,silicon.W", PK_PROFILE_GAUSSIAN}};
    const double degrees = 180.0 / kPi;
    const auto expectRecoveredWithin = [](double value, double esd, double truth, const char *what) {
        EXPECT_NEAR(value, truth, 0.05 * truth) << what;
        EXPECT_LT(std::fabs(value - truth), 3.0 * esd) << what << " = " << value << " ± " << esd;
    };
    for (const Case &c : cases) {
        pk_profile instrument;
        pk_profile_default(&instrument, c.type, nullptr);
        pk_profile sample = instrument;
        if (!std::isnan(c.sizeNm)) sample.X += 0.9 * 1.540593 / (10.0 * c.sizeNm) * degrees;
        const double width = 4.0 * c.strainPercent / 100.0 * degrees;
        const double t = c.gaussianStrain ? width / std::pow(1.0 + 2.69269 + 2.42843 + 4.47163 + 0.07842 + 1.0, 0.2)
                                          : width;
        const bool gaussian = c.type == PK_PROFILE_GAUSSIAN;  // its strain width all in U
        sample.Y += t;
        if (c.gaussianStrain || gaussian) sample.U += t * t;
        const double scale = 5.0 * kSiliconScale;
        const Measured measured = measure({settingOf(silicon.get(), scale, &sample)}, 20.0, 120.0, 0.02, 21);
        const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), scale, &instrument)});
        pk_error e{};
        ASSERT_EQ(pk_refinement_set_instrument_profile(r.get(), &instrument, &e), PK_OK) << e.message;
        const pk_refinement_summary s = run(r.get(), c.free);
        EXPECT_EQ(s.stop, PK_STOP_CONVERGED) << pk_refinement_stop_reason(r.get());
        pk_refinement_phase result{};
        ASSERT_EQ(pk_refinement_phase_result(r.get(), 0, &result, nullptr), PK_OK);
        const std::string warnings = pk_refinement_warnings(r.get());
        if (std::isnan(c.sizeNm)) {
            EXPECT_TRUE(std::isnan(result.size_nm) && std::isnan(result.size_esd));
            EXPECT_NE(warnings.find("silicon: no size: X"), std::string::npos) << warnings;
        } else {
            expectRecoveredWithin(result.size_nm, result.size_esd, c.sizeNm, "size");
            // D = K λ / X_s: σ_D = D σ_X / X_s.
            const pk_parameter x = parameter(r.get(), "silicon.X");
            EXPECT_NEAR(result.size_esd, result.size_nm * x.esd / (x.value - instrument.X), 1e-9 * result.size_esd);
        }
        expectRecoveredWithin(result.strain_percent, result.strain_esd, c.strainPercent, "strain");
        if (gaussian) {  // U_s alone: ε = (π/720) √U_s, σ_ε = (π/720) σ_U / (2 √U_s)
            const pk_parameter u = parameter(r.get(), "silicon.U");
            const double g = std::sqrt(u.value - instrument.U);
            EXPECT_NEAR(result.strain_percent, 100.0 * kPi / 720.0 * g, 1e-9 * c.strainPercent);
            EXPECT_NEAR(result.strain_esd, 100.0 * kPi / 720.0 * u.esd / (2.0 * g), 1e-6 * result.strain_esd);
        } else if (!c.gaussianStrain) {  // Y_s alone: ε = (π/720) Y_s, σ_ε = (π/720) σ_Y
            const pk_parameter y = parameter(r.get(), "silicon.Y");
            EXPECT_NEAR(result.strain_percent, 100.0 * kPi / 720.0 * (y.value - instrument.Y), 1e-9 * c.strainPercent);
            EXPECT_NEAR(result.strain_esd, 100.0 * kPi / 720.0 * y.esd, 1e-9 * result.strain_esd);
        }
    }
    {  // An instrument profile whose Y exceeds the pattern's by 0.05, U_s = 0.01: no strain, the warning names Y_s.
        pk_profile instrument, sample;
        pk_profile_default(&instrument, PK_PROFILE_PSEUDO_VOIGT, nullptr);
        sample = instrument;
        sample.U += 0.01, instrument.Y += 0.05;
        const pk_phase_setting broadened = settingOf(silicon.get(), 5.0 * kSiliconScale, &sample);
        const Measured measured = measure({broadened}, 20.0, 120.0, 0.02, 21);
        const Refinement r = refinementOf(measured.get(), {broadened});
        ASSERT_EQ(pk_refinement_set_instrument_profile(r.get(), &instrument, nullptr), PK_OK);
        run(r.get(), "profile,background");
        std::ostringstream expected;
        expected << "silicon: no strain: Y − Y_instrument = " << parameter(r.get(), "silicon.Y").value - instrument.Y;
        EXPECT_NE(std::string(pk_refinement_warnings(r.get())).find(expected.str()), std::string::npos)
            << pk_refinement_warnings(r.get());
    }
    pk_profile tof;
    pk_profile_default(&tof, PK_PROFILE_TOF_EXP_GAUSSIAN, nullptr);
    const Measured measured = measure({settingOf(silicon.get(), kSiliconScale)}, 25.0, 60.0, 0.05, 0);
    const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale)});
    EXPECT_EQ(pk_refinement_set_instrument_profile(r.get(), &tof, nullptr), PK_ERROR_ARGUMENT);
}

// The widths taken from the resolved peaks of exact Kα1 patterns, from a start three times too wide: Gaussian lines (no
// Lorentzian terms), and pseudo-Voigt lines with X and Y as well (each width's fit must leave the other's terms out).
// At every silicon line the fitted FWHM is the truth's to 2 %, each part's FWHM (Gaussian √(U t² + V t + W),
// Lorentzian X/cos θ + Y tan θ) combined by Thompson, Cox and Hastings' H⁵ = G⁵ + 2.69269 G⁴L + 2.42843 G³L² +
// 4.47163 G²L³ + 0.07842 GL⁴ + L⁵.
TEST_F(Mixture, StartingWidthsFromTheMeasuredPeaks) {
    pk_instrument alpha1 = copper();
    alpha1.wavelength2 = alpha1.ratio2 = 0.0;
    const auto fwhm = [](const double *p, double theta) {
        const double t = std::tan(theta), g = std::sqrt(p[0] * t * t + p[1] * t + p[2]), l = p[3] / std::cos(theta) + p[4] * t;
        return std::pow(std::pow(g, 5) + 2.69269 * std::pow(g, 4) * l + 2.42843 * std::pow(g, 3) * l * l +
                            4.47163 * g * g * std::pow(l, 3) + 0.07842 * g * std::pow(l, 4) + std::pow(l, 5), 0.2);
    };
    for (const std::array<double, 5> &uvwxy : {std::array<double, 5>{0.01, -0.004, 0.006, 0.0, 0.0},
                                               std::array<double, 5>{0.01, -0.004, 0.006, 0.02, 0.03}}) {
        pk_profile truth, start;
        pk_profile_default(&truth, PK_PROFILE_PSEUDO_VOIGT, nullptr);
        std::tie(truth.U, truth.V, truth.W, truth.X, truth.Y, truth.asymmetry) =
            std::make_tuple(uvwxy[0], uvwxy[1], uvwxy[2], uvwxy[3], uvwxy[4], 0.0);
        start = truth;
        std::tie(start.U, start.V, start.W, start.X, start.Y) =
            std::make_tuple(9 * truth.U, 9 * truth.V, 9 * truth.W, 3 * truth.X, 3 * truth.Y);
        const Measured measured =
            measure({settingOf(silicon.get(), kSiliconScale, &truth)}, 20.0, 120.0, 0.01, 0, {0.0, 0.0}, alpha1);
        const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), kSiliconScale, &start)},
                                          PK_REFINE_RIETVELD, 4, alpha1);
        ASSERT_EQ(pk_refinement_set_free(r.get(), "profile", true, nullptr), PK_OK);
        const std::vector<powderkit::refinement::ObservedPeak> peaks = powderkit::refinement::observedPeaks(*r);
        ASSERT_GE(peaks.size(), 8u);
        powderkit::refinement::profileFromPeaks(*r, peaks);
        double fitted[5];
        for (int k = 0; k < 5; ++k) fitted[k] = parameter(r.get(), std::string("silicon.") + "UVWXY"[k]).value;
        for (const powderkit::refinement::ObservedPeak &peak : peaks) {
            const double theta = peak.position * kPi / 360.0;
            EXPECT_NEAR(fwhm(fitted, theta), fwhm(uvwxy.data(), theta), 0.02 * fwhm(uvwxy.data(), theta))
                << peak.position << ", X " << uvwxy[3];
        }
    }
}

// A measured peak is clear of its neighbours when they lie more than 1.5 of their mean FWHM away: Gaussian lines of
// FWHM 0.1° on 100 counts (σ = √y, no noise) at 20° and 40° stand alone, those at 30° and 30.12° (1.2 widths apart,
// a dip between them) are each other's neighbour.
TEST(ObservedPeaks, APeakWithinOneAndAHalfWidthsOfANeighbourIsNotClear) {
    pk_refinement r;
    const double lines[4] = {20.0, 30.0, 30.12, 40.0};
    for (int i = 0; i <= 4000; ++i) {
        const double x = 10.0 + 0.01 * i;
        double y = 100.0;
        for (double line : lines) y += 5000.0 * std::exp(-4.0 * std::log(2.0) * (x - line) * (x - line) / 0.01);
        r.x.push_back(x);
        r.y.push_back(y);
        r.weight.push_back(1.0 / y);
    }
    const std::vector<powderkit::refinement::ObservedPeak> peaks = powderkit::refinement::observedPeaks(r);
    ASSERT_EQ(peaks.size(), 4u);
    const bool clear[4] = {true, false, false, true};
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(peaks[k].position, lines[k], 0.01) << k;  // the pair, fitted as pseudo-Voigts, 0.007° apart more
        EXPECT_NEAR(peaks[k].fwhm, 0.1, 0.01) << k;
        EXPECT_EQ(peaks[k].clear, clear[k]) << k;
    }
}

// The Kα2 vote on Lorentzian lines of 100 counts over 100, each with its Kα2 companion at ρ of its height, u = 1.6
// widths off: the counts there stand L(u) + ρ (1 − L(u)) of the height above the background, L(u) = 1/(1 + 4u²) the
// Kα1 line's own tail, so a line shows its Kα2 when 0.911 ρ > ½ · ratio2. ρ = 0.66 ratio2 shows it (0.60 ratio2
// above the tail); three lines that show it decide that it is there, two of four cannot tell and keep it.
TEST_F(Mixture, KAlpha2VotedFromTheCountsAboveTheTails) {
    const pk_instrument cu = copper();
    const double ratio = cu.wavelength2 / cu.wavelength, u = 1.6;
    for (const std::vector<double> &shares : {std::vector<double>{0.66, 0.66, 0.66}, {0.66, 0.0, 0.66, 0.0}}) {
        std::vector<powderkit::refinement::ObservedPeak> peaks;
        const std::vector<double> x = axis(30.0, 0.001, 60001);
        std::vector<double> y(x.size(), 100.0);
        for (std::size_t k = 0; k < shares.size(); ++k) {
            const double position = 40.0 + 12.0 * static_cast<double>(k), theta = position * kPi / 360.0;
            const double offset = (std::asin(ratio * std::sin(theta)) - theta) * 360.0 / kPi, fwhm = offset / u;
            for (std::size_t i = 0; i < x.size(); ++i) {
                const double t = (x[i] - position) / fwhm, t2 = t - u;
                y[i] += 100.0 / (1.0 + 4.0 * t * t) + shares[k] * cu.ratio2 * 100.0 / (1.0 + 4.0 * t2 * t2);
            }
            peaks.push_back({position, fwhm, 1.0, 100.0, 0.0, true});
        }
        pk_measured_pattern *made = nullptr;
        ASSERT_EQ(pk_measured_pattern_make(x.data(), y.data(), nullptr, static_cast<int32_t>(x.size()), &made, nullptr),
                  PK_OK);
        const Measured measured(made);
        const Refinement r = refinementOf(measured.get(), {settingOf(silicon.get(), 1.0)});
        r->options.alpha2_from_data = 1;
        powderkit::refinement::decideAlpha2(*r, peaks);
        const bool decided = shares.size() == 3;
        EXPECT_NE(r->notes.find(decided ? "show the Kα2 line (3 of 3" : "cannot tell whether the Kα2 line is there (2 of 4"),
                  std::string::npos) << r->notes;
        EXPECT_EQ(r->instrument.wavelength2, cu.wavelength2);
    }
}

// The strain's value and derivatives against the pseudo-Voigt FWHM written out by hand, ε = (π/720) P^(1/5) with
// P = g⁵ + 2.69269 g⁴ l + 2.42843 g³ l² + 4.47163 g² l³ + 0.07842 g l⁴ + l⁵, g = √U_s, l = Y_s, ∂g/∂U_s = 1/(2g);
// the size of X_s = 0.1° at Cu Kα1, 0.9 · 1.540593 / (0.1 π/180) = 794.4252916 Å, by hand.
TEST(SizeStrain, StrainAndItsDerivativesFollowTheWidthFormula) {
    const double a[4] = {2.69269, 2.42843, 4.47163, 0.07842};
    for (const auto &[u, y] : {std::pair{0.01, 0.1}, std::pair{0.0004, 0.3}, std::pair{0.05, 0.002}}) {
        const double g = std::sqrt(u), l = y;
        const double p = std::pow(g, 5) + a[0] * std::pow(g, 4) * l + a[1] * std::pow(g, 3) * l * l +
                         a[2] * g * g * std::pow(l, 3) + a[3] * g * std::pow(l, 4) + std::pow(l, 5);
        const double byG = 5 * std::pow(g, 4) + 4 * a[0] * std::pow(g, 3) * l + 3 * a[1] * g * g * l * l +
                           2 * a[2] * g * std::pow(l, 3) + a[3] * std::pow(l, 4);
        const double byL = a[0] * std::pow(g, 4) + 2 * a[1] * std::pow(g, 3) * l + 3 * a[2] * g * g * l * l +
                           4 * a[3] * g * std::pow(l, 3) + 5 * std::pow(l, 4);
        const double c = kPi / 720.0, chain = c * 0.2 * std::pow(p, -0.8);
        const auto strain = powderkit::refinement::microstrain(u, y);
        EXPECT_TRUE(closeTo(strain[0], c * std::pow(p, 0.2), kRoundOff)) << u << " " << y;
        EXPECT_NEAR(strain[1], chain * byG / (2.0 * g), kFiniteDifference * std::fabs(strain[1])) << u << " " << y;
        EXPECT_NEAR(strain[2], chain * byL, kFiniteDifference * std::fabs(strain[2])) << u << " " << y;
    }
    // No Gaussian strain (U_s = 0): the FWHM is l alone, ε = (π/720)·l, its slope by l π/720, and by U_s none to give
    // (∂g/∂U_s is infinite at g = 0): 0, not a NaN.
    const auto lorentzian = powderkit::refinement::microstrain(0.0, 0.2);
    EXPECT_TRUE(closeTo(lorentzian[0], kPi / 720.0 * 0.2, kRoundOff));
    EXPECT_EQ(lorentzian[1], 0.0);
    EXPECT_NEAR(lorentzian[2], kPi / 720.0, kFiniteDifference * kPi / 720.0);
    EXPECT_NEAR(powderkit::refinement::crystalliteSize(0.1, 1.540593), 794.4252916, 1e-6);
}

}  // namespace
