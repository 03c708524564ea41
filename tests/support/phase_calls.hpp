// The phase layer's calls as the tests make them: a failed call fails the test with the layer's message, results come
// back as vectors.
#ifndef PK_TEST_PHASE_CALLS_HPP
#define PK_TEST_PHASE_CALLS_HPP

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "powderkit_phase.h"

namespace pk_test {

using Hkl = std::array<int32_t, 3>;
constexpr double kPi = 3.14159265358979323846;

inline std::string exampleText(const std::string &file) {
    std::ifstream in(std::string(PK_EXAMPLE_DATA_DIR) + "/" + file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline pk_phase *phaseOf(const std::string &cifText) {
    pk_phase *phase = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_phase_from_cif_text(cifText.c_str(), nullptr, &phase, &e), PK_OK) << e.message;
    return phase;
}

inline pk_reflexion_list *listOf(const pk_phase *phase, int32_t radiation, double wavelength, int32_t kind,
                                 double limit) {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.wavelength = wavelength;
    instrument.radiation = radiation;
    instrument.dispersion = 0;  // the reference lists and the core know no anomalous dispersion
    pk_reflexion_list *list = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_reflexion_list_make(phase, &instrument, kind, limit, &list, &e), PK_OK) << e.message;
    return list;
}

// One quantity of every entry (of every observed line when `lines`).
inline std::vector<double> valuesOf(const pk_reflexion_list *list, int32_t quantity, bool lines = false) {
    const int32_t n = lines ? pk_reflexion_list_line_count(list) : pk_reflexion_list_count(list);
    std::vector<double> v(static_cast<std::size_t>(n));
    EXPECT_EQ((lines ? pk_reflexion_list_line_values : pk_reflexion_list_values)(list, quantity, v.data(), n, nullptr),
              PK_OK);
    return v;
}

inline std::vector<Hkl> indicesOf(const pk_reflexion_list *list) {
    std::vector<Hkl> hkl(static_cast<std::size_t>(pk_reflexion_list_count(list)));
    EXPECT_EQ(pk_reflexion_list_indices(list, hkl.data()->data(), static_cast<int32_t>(hkl.size()), nullptr), PK_OK);
    return hkl;
}

inline std::vector<double> axis(double from, double step, int count) {
    std::vector<double> x(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) x[static_cast<std::size_t>(i)] = from + step * i;
    return x;
}

inline pk_phase_setting settingOf(const pk_phase *phase, double scale, const pk_profile *profile = nullptr) {
    return pk_phase_setting{phase, scale, profile, 0, 1.0, {0, 0, 1}};
}

inline pk_pattern_model *modelOf(const pk_instrument &instrument, std::vector<pk_phase_setting> phases,
                                 std::vector<double> background, double xMin, double xMax) {
    pk_pattern_model *made = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_pattern_model_make(&instrument, phases.data(), static_cast<int32_t>(phases.size()),
                                    background.data(), static_cast<int32_t>(background.size()), xMin, xMax, &made, &e),
              PK_OK)
        << e.message;
    return made;
}

inline std::vector<double> computed(const pk_pattern_model *m, const std::vector<double> &x,
                                    int32_t part = PK_PART_TOTAL) {
    std::vector<double> y(x.size());
    pk_error e{};
    EXPECT_EQ(pk_pattern_model_compute(m, part, x.data(), static_cast<int32_t>(x.size()), y.data(), &e), PK_OK)
        << e.message;
    return y;
}

// Owners of the layer's handles, released with their own free functions.
struct Free {
    void operator()(pk_phase *p) const { pk_phase_free(p); }
    void operator()(pk_measured_pattern *p) const { pk_measured_pattern_free(p); }
    void operator()(pk_refinement *p) const { pk_refinement_free(p); }
    void operator()(pk_reflexion_list *p) const { pk_reflexion_list_free(p); }
};
using Phase = std::unique_ptr<pk_phase, Free>;
using Measured = std::unique_ptr<pk_measured_pattern, Free>;
using Refinement = std::unique_ptr<pk_refinement, Free>;
using List = std::unique_ptr<pk_reflexion_list, Free>;

// A refinement's parameter by name (a failure when it has none).
inline pk_parameter parameter(const pk_refinement *r, const std::string &name) {
    for (int32_t i = 0; i < pk_refinement_parameter_count(r); ++i) {
        pk_parameter p{};
        pk_refinement_parameter(r, i, &p, nullptr);
        if (name == p.name) return p;
    }
    ADD_FAILURE() << "no parameter " << name;
    return pk_parameter{};
}

}  // namespace pk_test

#endif
