// Joint refinements: one structure against several synthetic measurements at once (X-rays beside neutrons,
// two time-of-flight banks), whose truth is known.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <utility>
#include <string>
#include <vector>

#include "refinement/fit.hpp"
#include "refinement/synthetic.hpp"
#include "refinement_model/refinement.hpp"
#include "support/phase_calls.hpp"
#include "support/tolerances.hpp"

namespace {

using namespace pk_test;

pk_instrument neutrons() {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.radiation = PK_RADIATION_NEUTRON;
    instrument.wavelength = 1.594;
    instrument.wavelength2 = 0.0;
    instrument.ratio2 = 0.0;
    return instrument;
}

Refinement jointOf(const std::vector<pk_refinement_histogram> &histograms, const std::vector<pk_phase_setting> &phases,
                   int32_t backgroundCount = 3, int32_t mode = PK_REFINE_RIETVELD) {
    pk_refinement_options options;
    pk_refinement_options_default(&options);
    options.background_count = backgroundCount;
    options.mode = mode;
    pk_refinement *made = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_refinement_make_joint(histograms.data(), static_cast<int32_t>(histograms.size()), phases.data(),
                                       static_cast<int32_t>(phases.size()), nullptr, &options, &made, &e),
              PK_OK)
        << e.message;
    return Refinement(made);
}

pk_refinement_histogram_result histogram(const pk_refinement *r, int32_t index) {
    pk_refinement_histogram_result result{};
    EXPECT_EQ(pk_refinement_get_histogram(r, index, &result, nullptr), PK_OK);
    return result;
}

class Joint : public ::testing::Test {
protected:
    Phase rutile{phaseOf(exampleText("rutile.cif"))};
    Phase silicon{phaseOf(exampleText("silicon.cif"))};
    const pk_instrument xrays = copper();
    const pk_instrument neutron = neutrons();
    // Rutile's oxygen at (x, x, 0): X-rays see it beside titanium's 22 electrons, neutrons see it more strongly
    // (b_O 5.80 fm against b_Ti −3.44 fm).
    const double oxygenX = 0.3048;
};

// Each histogram keeps its own points, scale and background under its name, the structure is one set of
// parameters, and the joint Jacobian of a shared coordinate over the neutron points is the neutron refinement's
// own column, while the X-ray scale's column is zero there.
TEST_F(Joint, NamesPointsAndColumnsFollowTheHistograms) {
    const pk_phase_setting setting = settingOf(rutile.get(), 1000.0, nullptr);
    const Measured x = measure({setting}, 20.0, 100.0, 0.04, 0, {}, xrays);
    const Measured n = measure({setting}, 15.0, 120.0, 0.05, 0, {}, neutron);
    const Refinement r = jointOf({{"xray", x.get(), &xrays, nullptr, 0.0, 0.0, 0.0},
                                  {"neutron", n.get(), &neutron, nullptr, 2.0, 0.0, 0.0}},
                                 {setting});
    ASSERT_NE(r.get(), nullptr);
    EXPECT_EQ(pk_refinement_histogram_count(r.get()), 2);
    for (const char *name : {"rutile.a", "rutile.c", "rutile.O1.x", "xray.rutile.scale", "neutron.rutile.scale",
                             "neutron.zero", "xray.background.2", "neutron.rutile.W"}) {
        EXPECT_TRUE(std::isfinite(parameter(r.get(), name).value)) << name;
    }
    const pk_refinement_histogram_result second = histogram(r.get(), 1);
    EXPECT_STREQ(second.name, "neutron");
    EXPECT_EQ(second.first_point, pk_measured_pattern_count(x.get()));
    EXPECT_EQ(second.point_count, pk_measured_pattern_count(n.get()));
    EXPECT_EQ(pk_refinement_point_count(r.get()), second.first_point + second.point_count);
    // The histogram weight multiplies its points' 1/σ².
    const auto first = static_cast<std::size_t>(second.first_point);
    EXPECT_DOUBLE_EQ(r->weight[first + 10], 2.0 * r->members[1].weight[10]);

    const Refinement alone = refinementOf(n.get(), {setting}, PK_REFINE_RIETVELD, 3, neutron);
    using powderkit::refinement::jacobian;
    using powderkit::refinement::parameterIndex;
    const Eigen::MatrixXd joint =
        jacobian(*r, {parameterIndex(*r, "rutile.O1.x"), parameterIndex(*r, "xray.rutile.scale")});
    const Eigen::MatrixXd own = jacobian(*alone, {parameterIndex(*alone, "rutile.O1.x")});
    const auto rows = static_cast<Eigen::Index>(second.point_count);
    const Eigen::Index at = second.first_point;
    EXPECT_LT((joint.col(0).segment(at, rows) - own.col(0)).cwiseAbs().maxCoeff(),
              1e-9 * own.col(0).cwiseAbs().maxCoeff());
    EXPECT_EQ(joint.col(1).segment(at, rows).cwiseAbs().maxCoeff(), 0.0);
    EXPECT_GT(joint.col(1).head(at).cwiseAbs().maxCoeff(), 0.0);

    // A region excluded from the neutron pattern from its first point on takes those points' weights, and those
    // alone, out of the joint fit.
    const double *nx = pk_measured_pattern_x(n.get());
    ASSERT_EQ(pk_refinement_histogram_exclude(r.get(), 1, nx[0] - 0.01, nx[0] + 0.101, nullptr), PK_OK);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(r->weight[first + i], i < 3 ? 0.0 : 2.0 * r->members[1].weight[i]) << i;
    EXPECT_GT(r->weight[first - 1], 0.0);
    EXPECT_EQ(pk_refinement_histogram_exclude(r.get(), 2, 20.0, 21.0, nullptr), PK_ERROR_ARGUMENT);
    // The neutron histogram's first line is rutile 1 1 0 by Bragg's law at its wavelength (d = a/√2); a histogram
    // that is not there writes no positions.
    std::vector<double> ticks(200);
    int32_t written = -1;
    ASSERT_EQ(pk_refinement_histogram_peak_positions(r.get(), 1, 0, ticks.data(), 200, &written, nullptr), PK_OK);
    ASSERT_GT(written, 0);
    const double d110 = parameter(r.get(), "rutile.a").value / std::sqrt(2.0);
    EXPECT_NEAR(ticks[0], 2.0 * std::asin(neutron.wavelength / (2.0 * d110)) * 180.0 / kPi, 1e-9);
    EXPECT_EQ(pk_refinement_histogram_peak_positions(r.get(), 2, 0, ticks.data(), 200, &written, nullptr),
              PK_ERROR_ARGUMENT);
    EXPECT_EQ(written, 0);

    // Qualified group words free one histogram's parameters; an unknown qualifier is refused.
    pk_error e{};
    ASSERT_EQ(pk_refinement_set_free(r.get(), "neutron.zero,xray.rutile.profile", true, &e), PK_OK) << e.message;
    EXPECT_EQ(parameter(r.get(), "neutron.zero").state, PK_PARAMETER_FREE);
    EXPECT_EQ(parameter(r.get(), "xray.zero").state, PK_PARAMETER_FIXED);
    EXPECT_EQ(parameter(r.get(), "xray.rutile.U").state, PK_PARAMETER_FREE);
    EXPECT_EQ(parameter(r.get(), "neutron.rutile.U").state, PK_PARAMETER_FIXED);
    EXPECT_EQ(pk_refinement_set_free(r.get(), "synchrotron.zero", true, &e), PK_ERROR_ARGUMENT);
}

// From the oxygen 0.01 off and both Uiso 50 % off, the joint fit recovers the structure within 3 esd, with a
// smaller esd for the oxygen than the X-ray pattern alone gives; χ² is the sum of the histograms' χ², each
// worked out here from the curves.
TEST_F(Joint, NeutronsSharpenTheLightAtomBesideXRays) {
    const pk_phase_setting setting = settingOf(rutile.get(), 1000.0, nullptr);
    const Measured x = measure({setting}, 20.0, 120.0, 0.02, 3, {}, xrays);
    const Measured n = measure({setting}, 15.0, 140.0, 0.05, 4, {}, neutron);
    double truthTi = 0.0, truthO = 0.0;
    pk_site site{};
    ASSERT_EQ(pk_phase_site(rutile.get(), 0, &site, nullptr), PK_OK);
    truthTi = site.u_iso;
    ASSERT_EQ(pk_phase_site(rutile.get(), 1, &site, nullptr), PK_OK);
    truthO = site.u_iso;
    const char *free = "scale,background,xyz,uiso";
    const auto offStart = [&](pk_refinement *r) {
        set(r, "rutile.O1.x", oxygenX + 0.01);
        set(r, "rutile.Ti1.uiso", 1.5 * truthTi);
        set(r, "rutile.O1.uiso", 1.5 * truthO);
    };

    const Refinement alone = refinementOf(x.get(), {setting}, PK_REFINE_RIETVELD, 3, xrays);
    offStart(alone.get());
    run(alone.get(), free);
    const double esdAlone = parameter(alone.get(), "rutile.O1.x").esd;

    const Refinement r = jointOf({{"xray", x.get(), &xrays, nullptr, 0.0, 0.0, 0.0},
                                  {"neutron", n.get(), &neutron, nullptr, 0.0, 0.0, 0.0}},
                                 {setting});
    offStart(r.get());
    const pk_refinement_summary summary = run(r.get(), free);
    EXPECT_TRUE(summary.converged) << pk_refinement_stop_reason(r.get());
    expectRecovered(r.get(), {{"rutile.O1.x", oxygenX},
                              {"rutile.Ti1.uiso", truthTi},
                              {"rutile.O1.uiso", truthO},
                              {"xray.rutile.scale", 1000.0},
                              {"neutron.rutile.scale", 1000.0}});
    EXPECT_LT(parameter(r.get(), "rutile.O1.x").esd, 0.7 * esdAlone);

    const int32_t count = pk_refinement_point_count(r.get());
    std::vector<double> observed(static_cast<std::size_t>(count)), calculated(observed.size());
    ASSERT_EQ(pk_refinement_curve(r.get(), PK_CURVE_OBSERVED, 0, observed.data(), count, nullptr), PK_OK);
    ASSERT_EQ(pk_refinement_curve(r.get(), PK_CURVE_CALCULATED, 0, calculated.data(), count, nullptr), PK_OK);
    double total = 0.0;
    for (int32_t h = 0; h < 2; ++h) {
        const pk_refinement_histogram_result result = histogram(r.get(), h);
        double chi2 = 0.0;
        for (int32_t i = result.first_point; i < result.first_point + result.point_count; ++i) {
            const double residual = observed[static_cast<std::size_t>(i)] - calculated[static_cast<std::size_t>(i)];
            // Poisson counts: σ² = y, and 1 for zero counts.
            chi2 += residual * residual / std::max(observed[static_cast<std::size_t>(i)], 1.0);
        }
        EXPECT_NEAR(result.summary.chi2, chi2, 1e-9 * chi2) << result.name;
        // Counting noise alone: each histogram's reduced χ² near 1.
        EXPECT_NEAR(result.summary.reduced_chi2, 1.0, 0.15) << result.name;
        total += chi2;
    }
    EXPECT_NEAR(summary.chi2, total, 1e-9 * total);
}

// Two time-of-flight banks of one silicon sample, the backscattering bank at twice the resolution, refine to one
// cell from 1 % off, within 3 esd of the truth; a histogram that cannot be made is refused naming it.
TEST_F(Joint, TwoTimeOfFlightBanksRefineOneCell) {
    double cell[6]{};
    pk_phase_cell(silicon.get(), cell, nullptr);
    const pk_profile low = tofProfile();
    pk_profile high = low;
    high.sigma1 /= 4.0;
    const pk_instrument back = tofBank(12000.0, -2.0, 3.0);
    const Measured m90 = measure({settingOf(silicon.get(), kSiliconScale, &low)}, 4.5, 21.5, 0.002, 5, {}, kBank);
    const Measured m150 = measure({settingOf(silicon.get(), kSiliconScale, &high)}, 7.5, 37.0, 0.003, 6, {}, back);
    const std::vector<pk_profile> profiles90 = {low}, profiles150 = {high};
    const pk_phase_setting start = settingOf(silicon.get(), kSiliconScale, nullptr);
    const Refinement r = jointOf({{"bank90", m90.get(), &kBank, profiles90.data(), 0.0, 0.0, 0.0},
                                  {"bank150", m150.get(), &back, profiles150.data(), 0.0, 0.0, 0.0}},
                                 {start});
    set(r.get(), "silicon.a", 1.01 * cell[0]);
    const pk_refinement_summary summary = run(r.get(), "scale,background,cell,profile");
    EXPECT_TRUE(summary.converged) << pk_refinement_stop_reason(r.get());
    expectRecovered(r.get(), {{"silicon.a", cell[0]},
                              {"bank90.silicon.sigma1", low.sigma1},
                              {"bank150.silicon.sigma1", high.sigma1}});
    pk_profile refined{};
    ASSERT_EQ(pk_refinement_histogram_profile(r.get(), 1, 0, &refined, nullptr), PK_OK);
    EXPECT_DOUBLE_EQ(refined.sigma1, parameter(r.get(), "bank150.silicon.sigma1").value);

    // A histogram that cannot be made names itself; a bad name is refused.
    const std::string microseconds = "5000 10\n5002 12\n5004 11\n";
    pk_measured_pattern *inMicroseconds = nullptr;
    ASSERT_EQ(pk_measured_pattern_read_text(microseconds.c_str(), "us.xy", &inMicroseconds, nullptr), PK_OK);
    const Measured us(inMicroseconds);
    pk_refinement *refused = nullptr;
    pk_error e{};
    std::vector<pk_refinement_histogram> histograms = {{"bank90", m90.get(), &kBank, nullptr, 0.0, 0.0, 0.0},
                                                       {"raw", us.get(), &back, nullptr, 0.0, 0.0, 0.0}};
    EXPECT_EQ(pk_refinement_make_joint(histograms.data(), 2, &start, 1, nullptr, nullptr, &refused, &e),
              PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("histogram 1 (raw)"), std::string::npos) << e.message;
    for (const char *name : {"bank90", "silicon", "a.b"}) {
        histograms[1] = {name, m150.get(), &back, nullptr, 0.0, 0.0, 0.0};
        EXPECT_EQ(pk_refinement_make_joint(histograms.data(), 2, &start, 1, nullptr, nullptr, &refused, &e),
                  PK_ERROR_ARGUMENT)
            << name;
        EXPECT_EQ(refused, nullptr);
    }
}

// The pattern shared among threads by its points, the runs cut where the peaks' windows lie: a 2θ pattern with
// axial divergence beside a time-of-flight bank, every calculated value of the joint pattern and of each member,
// the bank's χ² as its evaluation sums it (equal to a plain sum over the points to round-off) and the Jacobian's
// differenced columns, the same to the bit with one thread and with two or three; a parameter
// held within limits closer than its step has a column of zeros.
TEST_F(Joint, ThreadsShareThePointsAndChangeNoBit) {
    pk_profile axial;
    pk_profile_default(&axial, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    axial.asymmetry = 0.0;
    axial.axial_sl = 0.02;
    axial.axial_hl = 0.03;
    const pk_profile flight = tofProfile();
    const Measured x = measure({settingOf(silicon.get(), kSiliconScale, &axial)}, 20.0, 110.0, 0.02, 3, {}, xrays);
    const Measured t = measure({settingOf(silicon.get(), kSiliconScale, &flight)}, 4.5, 21.5, 0.004, 4, {}, kBank);
    const std::vector<pk_profile> axials = {axial}, flights = {flight};
    const Refinement r = jointOf({{"xray", x.get(), &xrays, axials.data(), 0.0, 0.0, 0.0},
                                  {"bank", t.get(), &kBank, flights.data(), 0.0, 0.0, 0.0}},
                                 {settingOf(silicon.get(), kSiliconScale, nullptr)});
    set(r.get(), "silicon.a", 5.44);
    // A time-of-flight profile given with the phase, not the histogram, serves the bank and not the 2θ pattern.
    pk_profile wider = flight;
    wider.sigma1 = 2.0 * flight.sigma1 + 1.0;
    const Refinement given = jointOf({{"xray", x.get(), &xrays, nullptr, 0.0, 0.0, 0.0},
                                      {"bank", t.get(), &kBank, nullptr, 0.0, 0.0, 0.0}},
                                     {settingOf(silicon.get(), kSiliconScale, &wider)});
    EXPECT_EQ(parameter(given.get(), "bank.silicon.sigma1").value, wider.sigma1);
    EXPECT_TRUE(std::isfinite(parameter(given.get(), "xray.silicon.U").value));
    // W held within limits a thousandth of its difference step apart: no side can move, and its column is zero.
    const double w = parameter(r.get(), "xray.silicon.W").value;
    ASSERT_EQ(pk_refinement_set_limits(r.get(), "xray.silicon.W", w, w + 1e-9, nullptr), PK_OK);
    using powderkit::refinement::parameterIndex;
    const std::vector<int> free = {parameterIndex(*r, "silicon.a"), parameterIndex(*r, "xray.silicon.SL"),
                                   parameterIndex(*r, "bank.silicon.sigma1"), parameterIndex(*r, "xray.silicon.W")};
    std::vector<std::vector<double>> patterns;
    std::vector<Eigen::MatrixXd> jacobians;
    std::vector<double> chi2;  // the time-of-flight bank's, as its evaluation sums it by threads
    for (int threads : {1, 2, 3}) {
        powderkit::refinement::applyParameters(*r);
        pk_refinement &bank = r->members[1];
        chi2.push_back(powderkit::refinement::evaluate(bank, {}, threads));
        double plain = 0.0;
        for (std::size_t i = 0; i < bank.x.size(); ++i)
            plain += bank.weight[i] * (bank.y[i] - bank.calculated[i]) * (bank.y[i] - bank.calculated[i]);
        EXPECT_NEAR(chi2.back(), plain, 1e-12 * plain) << threads << " threads";
        powderkit::refinement::evaluate(*r, {}, threads);
        std::vector<double> all = r->calculated;
        for (const pk_refinement &member : r->members) all.insert(all.end(), member.calculated.begin(), member.calculated.end());
        patterns.push_back(all);
        r->options.threads = threads;
        jacobians.push_back(powderkit::refinement::jacobian(*r, free));
    }
    ASSERT_GT(patterns[0].size(), 2 * r->x.size() - 1);
    for (std::size_t k = 1; k < patterns.size(); ++k) {
        EXPECT_EQ(patterns[k], patterns[0]) << k + 1 << " threads";
        EXPECT_EQ(chi2[k], chi2[0]) << k + 1 << " threads";
        EXPECT_EQ((jacobians[k] - jacobians[0]).cwiseAbs().maxCoeff(), 0.0) << k + 1 << " threads";
    }
    EXPECT_GT(jacobians[0].col(1).cwiseAbs().maxCoeff(), 0.0);
    for (const Eigen::MatrixXd &j : jacobians) EXPECT_EQ(j.col(3).cwiseAbs().maxCoeff(), 0.0);
}

// A second pattern of ZnO measured with a 0.2 % and c 0.4 % longer (another temperature): the joint fit with
// the second histogram's strain free recovers the first's cell and the offsets of G*, D11 = 4/3 (1/a₂² − 1/a₁²)
// and D33 = 1/c₂² − 1/c₁² (hexagonal G*11 = 4/(3a²)), within 3 esd, and the second cell stays hexagonal.
TEST_F(Joint, AHistogramsCellOffsetFollowsItsPattern) {
    const std::string text = exampleText("ZnO.cif");
    std::string warm = text;
    for (const auto &[from, to] : {std::pair{"3.249800", "3.256300"}, std::pair{"5.206600", "5.227426"}}) {
        for (std::size_t at = warm.find(from); at != std::string::npos; at = warm.find(from)) warm.replace(at, 8, to);
    }
    // The hot pattern's crystallites are 60 nm: Scherrer's X_s = K λ / D (radians to degrees) beyond the instrument's.
    pk_profile instrument;
    pk_profile_default(&instrument, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    pk_profile grown = instrument;
    grown.X += 0.9 * 1.540593 / 600.0 * 180.0 / kPi;
    const Phase cold{phaseOf(text)}, hot{phaseOf(warm)};
    const Measured first = measure({settingOf(cold.get(), 800.0, &instrument)}, 25.0, 110.0, 0.02, 7, {}, xrays);
    const Measured second = measure({settingOf(hot.get(), 800.0, &grown)}, 25.0, 110.0, 0.02, 8, {}, xrays);
    const pk_phase_setting start = settingOf(cold.get(), 800.0, &instrument);
    const Refinement r = jointOf({{"cold", first.get(), &xrays, nullptr, 0.0, 0.0, 0.0},
                                  {"hot", second.get(), &xrays, nullptr, 0.0, 0.0, 0.0}},
                                 {start});
    for (int32_t h = 0; h < 2; ++h) ASSERT_EQ(pk_refinement_histogram_set_instrument_profile(r.get(), h, &instrument, nullptr), PK_OK);
    // The hot pattern's whole profile free from the instrument's: released together, U V W drove H_G² to 0 at
    // 110° and were fixed there as undetermined, the cascade ending at reduced χ² 7.5.
    const pk_refinement_summary summary = run(r.get(), "scale,background,cell,strain,hot.ZnO.profile");
    EXPECT_LT(summary.reduced_chi2, 1.1);
    EXPECT_TRUE(summary.converged) << pk_refinement_stop_reason(r.get());
    const double d11 = 4.0 / 3.0 * (1.0 / (3.2563 * 3.2563) - 1.0 / (3.2498 * 3.2498));
    const double d33 = 1.0 / (5.227426 * 5.227426) - 1.0 / (5.2066 * 5.2066);
    expectRecovered(r.get(), {{"ZnO.a", 3.2498}, {"ZnO.c", 5.2066}, {"hot.ZnO.strain.D11", d11},
                              {"hot.ZnO.strain.D33", d33}});
    // Each histogram's phase: its own cell (the shared one plus its offsets, esd's from both), its own size.
    const double truth[2][3] = {{3.2498, 5.2066, NAN}, {3.2563, 5.227426, 60.0}};
    for (int32_t h = 0; h < 2; ++h) {
        pk_refinement_phase phase{};
        ASSERT_EQ(pk_refinement_histogram_phase_result(r.get(), h, 0, &phase, nullptr), PK_OK);
        EXPECT_STREQ(phase.name, "ZnO");
        EXPECT_DOUBLE_EQ(phase.cell[0], phase.cell[1]);
        EXPECT_NEAR(phase.cell[5], 120.0, 1e-9);
        EXPECT_EQ(phase.cell_esd[5], 0.0);
        EXPECT_DOUBLE_EQ(phase.cell_esd[0], phase.cell_esd[1]);
        for (const auto &[k, value] : {std::pair{0, truth[h][0]}, std::pair{2, truth[h][1]}}) {
            EXPECT_GT(phase.cell_esd[k], 0.0);
            EXPECT_LT(std::fabs(phase.cell[k] - value), 3.0 * phase.cell_esd[k]) << h << " " << k;
        }
        if (h == 0) continue;
        EXPECT_NEAR(phase.size_nm, truth[h][2], 0.05 * truth[h][2]);
        EXPECT_LT(std::fabs(phase.size_nm - truth[h][2]), 3.0 * phase.size_esd) << phase.size_nm << " ± " << phase.size_esd;
    }
    // The hot cell rests on the hot pattern alone (its offsets free): its esd's are those of that pattern refined alone.
    const Refinement alone = refinementOf(second.get(), {start}, PK_REFINE_RIETVELD, 3, xrays);
    run(alone.get(), "scale,background,cell,ZnO.X");
    pk_refinement_phase hotJoint{}, hotAlone{};
    ASSERT_EQ(pk_refinement_histogram_phase_result(r.get(), 1, 0, &hotJoint, nullptr), PK_OK);
    ASSERT_EQ(pk_refinement_phase_result(alone.get(), 0, &hotAlone, nullptr), PK_OK);
    for (const int k : {0, 2}) EXPECT_NEAR(hotJoint.cell_esd[k], hotAlone.cell_esd[k], 0.1 * hotAlone.cell_esd[k]) << k;
    // The joint record keeps the first histogram's (its own esd's), and one pattern's histogram 0 is itself.
    pk_refinement_phase joint{}, own{};
    ASSERT_EQ(pk_refinement_phase_result(r.get(), 0, &joint, nullptr), PK_OK);
    ASSERT_EQ(pk_refinement_histogram_phase_result(r.get(), 0, 0, &own, nullptr), PK_OK);
    EXPECT_NEAR(own.cell_esd[2], joint.cell_esd[2], 1e-6 * joint.cell_esd[2]);
    EXPECT_EQ(pk_refinement_histogram_phase_result(r.get(), 2, 0, &own, nullptr), PK_ERROR_ARGUMENT);
}

// A monoclinic cell's offset moves β by its own term: G*13 of the second histogram moved by δ = 0.002 Å⁻² (every other
// offset 0) gives the cell of G* + δ worked out by hand: a* = 1/(a sin β), c* = 1/(c sin β) and b unchanged, cos β* =
// −cos β + δ/(a* c*), and back a = 1/(a* sin β*), c = 1/(c* sin β*), β = 180° − β*. Nothing refined, no esd; the
// cell refined, an esd for each of a, b, c and β. Le Bail, whose first parameter is the cell's a (no scale before it).
TEST_F(Joint, AMonoclinicOffsetMovesBetaByItsOwnTerm) {
    const Phase lowsym{phaseOf(exampleText("lowsym.cif"))};
    const Measured one = measure({settingOf(lowsym.get(), 100.0)}, 20.0, 60.0, 0.02, 3, {}, xrays);
    const Refinement r = jointOf({{"one", one.get(), &xrays, nullptr, 0.0, 0.0, 0.0},
                                  {"two", one.get(), &xrays, nullptr, 0.0, 0.0, 0.0}},
                                 {settingOf(lowsym.get(), 100.0)}, 3, PK_REFINE_LE_BAIL);
    set(r.get(), "two.lowsym.strain.D13", 0.002);
    run(r.get(), "");
    pk_refinement_phase phase{};
    ASSERT_EQ(pk_refinement_histogram_phase_result(r.get(), 1, 0, &phase, nullptr), PK_OK);
    const double beta = 98.7 * kPi / 180.0, aStar = 1.0 / (6.3 * std::sin(beta)), cStar = 1.0 / (9.4 * std::sin(beta));
    const double betaStar = std::acos(-std::cos(beta) + 0.002 / (aStar * cStar));
    const double expected[6] = {1.0 / (aStar * std::sin(betaStar)), 7.9, 1.0 / (cStar * std::sin(betaStar)), 90.0,
                                180.0 - betaStar * 180.0 / kPi, 90.0};
    for (int k = 0; k < 6; ++k) {
        EXPECT_TRUE(closeTo(phase.cell[k], expected[k], kRoundOff)) << k << " " << phase.cell[k];
        EXPECT_EQ(phase.cell_esd[k], 0.0) << k;
    }
    run(r.get(), "cell");
    ASSERT_EQ(pk_refinement_histogram_phase_result(r.get(), 1, 0, &phase, nullptr), PK_OK);
    for (const int k : {0, 1, 2, 4}) EXPECT_GT(phase.cell_esd[k], 0.0) << k;
}

}  // namespace
