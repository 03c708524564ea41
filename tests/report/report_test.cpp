// The report page's data, read back from the page as a browser would: silicon's ticks at the refinement's own peak
// positions with h k l and d = a/√(h² + k² + l²), every parameter, a compact page keeping the pattern's extremes,
// and no text of the data able to close its script element.
#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_EQ(data["patterns"][0]["curves"]["observed"].size(), x.size());

    // The compact page keeps the tallest count (the strongest peak's top) among at most 2,000 points.
    const nlohmann::json compact = dataOf(pageOf(r.get(), 1))["patterns"][0]["curves"];
    EXPECT_LE(compact["observed"].size(), 2000u);
    const auto observed = compact["observed"].get<std::vector<double>>();
    EXPECT_FLOAT_EQ(static_cast<float>(*std::max_element(observed.begin(), observed.end())),
                    static_cast<float>(*std::max_element(y.begin(), y.end())));
}
