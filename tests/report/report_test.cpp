// The report page's data, read back from the page as a browser would: silicon's ticks at the refinement's own peak
// positions with h k l and d = a/√(h² + k² + l²), every parameter, a compact page keeping the pattern's extremes,
// and no text of the data able to close its script element; a joint refinement's patterns each on its own axis.
// (The curves' values are decoded by the browser test and the Python test, each with its own base64 decoder.)
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/phase_calls.hpp"

namespace {

using pk_test::Free;

std::string pageOf(const pk_refinement *r, int32_t compact) {
    int32_t size = 0;
    pk_error e{};
    EXPECT_EQ(pk_refinement_report(r, "silicon test", compact, nullptr, 0, &size, &e), PK_OK) << e.message;
    std::string page(static_cast<std::size_t>(size), '\0');
    EXPECT_EQ(pk_refinement_report(r, "silicon test", compact, page.data(), size, &size, &e), PK_OK) << e.message;
    page.resize(static_cast<std::size_t>(size - 1));
    return page;
}

nlohmann::json dataOf(const std::string &page) {
    const std::string open = "<script id=\"report-data\" type=\"application/json\">";
    const std::size_t from = page.find(open) + open.size();
    return nlohmann::json::parse(page.substr(from, page.find("</script>", from) - from));
}

}  // namespace

TEST(Report, HoldsTheRunAsTheBrowserReadsIt) {
    const double a = 5.431194;
    const pk_site site{"Si1</script>", "Si", 0.125, 0.125, 0.125, 1.0, 0.005, 0, {}};
    const double cell[6] = {a, a, a, 90, 90, 90};
    pk_phase *made = nullptr;
    ASSERT_EQ(pk_phase_from_symbol("silicon", "F d -3 m:2", cell, &site, 1, &made, nullptr), PK_OK);
    const pk_test::Phase silicon(made);
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    const std::vector<double> x = pk_test::axis(20.0, 0.01, 8001);
    std::vector<double> y(x.size());
    const pk_phase_setting setting = pk_test::settingOf(silicon.get(), 500.0);
    const double background[1] = {20.0};
    ASSERT_EQ(pk_pattern(&instrument, &setting, 1, background, 1, x.data(), 8001, y.data(), nullptr), PK_OK);
    pk_measured_pattern *measured = nullptr;
    ASSERT_EQ(pk_measured_pattern_make(x.data(), y.data(), nullptr, 8001, &measured, nullptr), PK_OK);
    const pk_test::Measured owner(measured);
    pk_refinement *made_r = nullptr;
    ASSERT_EQ(pk_refinement_make(measured, &instrument, &setting, 1, nullptr, nullptr, &made_r, nullptr), PK_OK);
    const pk_test::Refinement r(made_r);
    ASSERT_EQ(pk_refinement_run(r.get(), nullptr, nullptr, nullptr), PK_OK);

    const std::string page = pageOf(r.get(), 0);
    // The three script elements close; the site's "</script>" in the data does not.
    std::size_t closings = 0;
    for (std::size_t at = page.find("</script>"); at != std::string::npos; at = page.find("</script>", at + 1)) ++closings;
    EXPECT_EQ(closings, 3u);
    const nlohmann::json data = dataOf(page);

    const nlohmann::json &ticks = data["patterns"][0]["ticks"][0];
    std::vector<double> positions(100);
    int32_t written = 0;
    ASSERT_EQ(pk_refinement_peak_positions(r.get(), 0, positions.data(), 100, &written, nullptr), PK_OK);
    ASSERT_EQ(ticks["x"].size(), static_cast<std::size_t>(written));
    for (std::size_t n = 0; n < ticks["x"].size(); ++n) {
        EXPECT_NEAR(ticks["x"][n].get<double>(), positions[n], 1e-9);
        const auto hkl = ticks["hkl"][n].get<std::vector<int>>();
        const double d = a / std::sqrt(hkl[0] * hkl[0] + hkl[1] * hkl[1] + hkl[2] * hkl[2]);
        EXPECT_NEAR(ticks["d"][n].get<double>(), d, 1e-5) << hkl[0] << hkl[1] << hkl[2];
    }
    EXPECT_EQ(data["parameters"].size(), static_cast<std::size_t>(pk_refinement_parameter_count(r.get())));
    // The evenly spaced axis 20° + 0.01° i, i < 8001, as its first, step and count.
    const nlohmann::json &axis = data["patterns"][0]["even_x"];
    EXPECT_NEAR(axis["first"].get<double>(), 20.0, 1e-12);
    EXPECT_NEAR(axis["step"].get<double>(), 0.01, 1e-12);
    EXPECT_EQ(axis["count"].get<std::size_t>(), x.size());
    const nlohmann::json &curves = data["patterns"][0]["curves"];
    EXPECT_EQ(curves["count"].get<std::size_t>(), x.size());
    EXPECT_FALSE(curves.contains("x"));

    // The compact page: at most 2,000 points.
    EXPECT_LE(dataOf(pageOf(r.get(), 1))["patterns"][0]["curves"]["count"].get<std::size_t>(), 2000u);
}

// Silicon measured with Cu Kα1 (2θ from 20° by 0.02°) and on a bank of difC 10000 µs/Å (8 ms on by 4 µs), in one
// joint refinement: each pattern is drawn on its own axis, its ticks where Bragg's law, 2θ = 2 asin(λ / 2d), and
// TOF = difC d put the lines, with its own statistics, whose χ² add up to the whole's.
TEST(Report, DrawsEachPatternOfAJointRefinementOnItsOwnAxis) {
    const double a = 5.431194, lambda = 1.540593, difC = 10000.0;
    const pk_site site{"Si1", "Si", 0.125, 0.125, 0.125, 1.0, 0.005, 0, {}};
    const double cell[6] = {a, a, a, 90, 90, 90};
    pk_phase *made = nullptr;
    ASSERT_EQ(pk_phase_from_symbol("silicon", "F d -3 m:2", cell, &site, 1, &made, nullptr), PK_OK);
    const pk_test::Phase silicon(made);
    pk_instrument instruments[2];
    pk_instrument_default(&instruments[0]);
    pk_instrument_default(&instruments[1]);
    instruments[1].axis = PK_AXIS_TOF;
    instruments[1].radiation = PK_RADIATION_NEUTRON;
    instruments[1].tof_two_theta = 90.0;
    instruments[1].dtt1 = difC;
    pk_profile tof;
    ASSERT_EQ(pk_profile_default(&tof, PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, nullptr), PK_OK);
    std::vector<pk_test::Measured> measured;
    std::vector<pk_refinement_histogram> histograms;
    for (int h = 0; h < 2; ++h) {
        const std::vector<double> x = h == 0 ? pk_test::axis(20.0, 0.02, 4001) : pk_test::axis(8.0, 0.004, 6001);
        std::vector<double> y(x.size());
        const pk_phase_setting truth = pk_test::settingOf(silicon.get(), 500.0, h == 0 ? nullptr : &tof);
        const double background[1] = {20.0};
        ASSERT_EQ(pk_pattern(&instruments[h], &truth, 1, background, 1, x.data(), static_cast<int32_t>(x.size()),
                             y.data(), nullptr), PK_OK);
        pk_measured_pattern *pattern = nullptr;
        ASSERT_EQ(pk_measured_pattern_make(x.data(), y.data(), nullptr, static_cast<int32_t>(x.size()), &pattern,
                                           nullptr),
                  PK_OK);
        measured.emplace_back(pattern);
        histograms.push_back({h == 0 ? "xray" : "tof", pattern, &instruments[h], h == 0 ? nullptr : &tof, 0, 0, 0});
    }
    const pk_phase_setting start = pk_test::settingOf(silicon.get(), 450.0);   // 10 % off: a misfit to count
    pk_refinement *made_r = nullptr;
    ASSERT_EQ(pk_refinement_make_joint(histograms.data(), 2, &start, 1, nullptr, nullptr, &made_r, nullptr), PK_OK);
    const pk_test::Refinement r(made_r);
    ASSERT_EQ(pk_refinement_run(r.get(), nullptr, nullptr, nullptr), PK_OK);   // nothing free: the statistics alone

    const nlohmann::json patterns = dataOf(pageOf(r.get(), 0))["patterns"];
    ASSERT_EQ(patterns.size(), 2u);
    pk_refinement_summary whole{};
    ASSERT_EQ(pk_refinement_get_summary(r.get(), &whole, nullptr), PK_OK);
    double sum = 0.0;
    for (int h = 0; h < 2; ++h) {
        const nlohmann::json &pattern = patterns[static_cast<std::size_t>(h)];
        EXPECT_EQ(pattern["name"], h == 0 ? "xray" : "tof");
        EXPECT_EQ(pattern["axis"], h == 0 ? "2θ (°)" : "TOF (µs)");
        const nlohmann::json &ticks = pattern["ticks"][0];
        ASSERT_GT(ticks["x"].size(), 5u);
        for (std::size_t n = 0; n < ticks["x"].size(); ++n) {
            const auto hkl = ticks["hkl"][n].get<std::vector<int>>();
            const double d = a / std::sqrt(hkl[0] * hkl[0] + hkl[1] * hkl[1] + hkl[2] * hkl[2]);
            const double x = h == 0 ? 2.0 * std::asin(lambda / (2.0 * d)) * 180.0 / pk_test::kPi : difC * d;
            EXPECT_NEAR(ticks["x"][n].get<double>(), x, 1e-6 * x) << h << ": " << hkl[0] << hkl[1] << hkl[2];
        }
        pk_refinement_histogram_result own{};
        ASSERT_EQ(pk_refinement_get_histogram(r.get(), h, &own, nullptr), PK_OK);
        EXPECT_DOUBLE_EQ(pattern["statistics"]["chi2"].get<double>(), own.summary.chi2);
        sum += own.summary.chi2;
    }
    EXPECT_GT(whole.chi2, 0.0);
    EXPECT_NEAR(sum, whole.chi2, 1e-9 * whole.chi2);
}
