// Synthetic measurements for the refinement's tests: patterns calculated
// from known parameters with seeded counting noise, the instruments they are
// measured on, and the calls that make and run a refinement of them.
#ifndef POWDERKIT_TESTS_REFINEMENT_SYNTHETIC_HPP
#define POWDERKIT_TESTS_REFINEMENT_SYNTHETIC_HPP

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/phase_calls.hpp"

namespace pk_test {

// True values of the synthetic measurements.
inline const double kCorundumScale = 3000.0;
inline const double kSiliconScale = 2000.0;
inline const std::vector<double> kBackground = {200.0, -20.0, 10.0};

inline pk_instrument copper() {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    EXPECT_EQ(pk_instrument_set_anode(&instrument, "Cu", true, nullptr), PK_OK);
    return instrument;
}

// The pattern of the settings plus background on 2θ = from … to, each count drawn from a Poisson distribution
// (seed 0: the exact values); counts in `doubled` (from, to) are doubled, as by a spurious line.
inline Measured measure(const std::vector<pk_phase_setting> &phases, double from, double to, double step, unsigned seed,
                 std::pair<double, double> doubled = {0.0, 0.0}, const pk_instrument &instrument = copper()) {
    const auto x = axis(from, step, static_cast<int>(std::lround((to - from) / step)) + 1);
    std::vector<double> y(x.size());
    EXPECT_EQ(pk_pattern(&instrument, phases.data(), static_cast<int32_t>(phases.size()), kBackground.data(), 3,
                         x.data(), static_cast<int32_t>(x.size()), y.data(), nullptr),
              PK_OK);
    std::mt19937 random(seed);
    std::string text;
    for (std::size_t i = 0; i < x.size(); ++i) {
        std::poisson_distribution<int> counts(y[i]);
        double count = seed != 0 ? counts(random) : y[i];
        if (x[i] > doubled.first && x[i] < doubled.second) count *= 2.0;
        text += std::to_string(x[i]) + " " + std::to_string(count) + "\n";
    }
    pk_measured_pattern *made = nullptr;
    EXPECT_EQ(pk_measured_pattern_read_text(text.c_str(), "synthetic", &made, nullptr), PK_OK);
    return Measured(made);
}

inline Refinement refinementOf(const pk_measured_pattern *measured, const std::vector<pk_phase_setting> &phases,
                        int32_t mode = PK_REFINE_RIETVELD, int32_t backgroundCount = 4,
                        const pk_instrument &instrument = copper()) {
    pk_refinement_options options;
    pk_refinement_options_default(&options);
    options.mode = mode;
    options.background_count = backgroundCount;
    pk_refinement *made = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_refinement_make(measured, &instrument, phases.data(), static_cast<int32_t>(phases.size()), nullptr,
                                 &options, &made, &e),
              PK_OK)
        << e.message;
    return Refinement(made);
}

inline void set(pk_refinement *r, const std::string &name, double value) {
    pk_error e{};
    EXPECT_EQ(pk_refinement_set_value(r, name.c_str(), value, &e), PK_OK) << e.message;
}

inline pk_refinement_summary run(pk_refinement *r, const char *free, pk_refinement_progress progress = nullptr,
                          void *context = nullptr) {
    pk_error e{};
    EXPECT_EQ(pk_refinement_set_free(r, free, true, &e), PK_OK) << e.message;
    EXPECT_EQ(pk_refinement_run(r, progress, context, &e), PK_OK) << e.message;
    pk_refinement_summary summary{};
    pk_refinement_get_summary(r, &summary, nullptr);
    return summary;
}

// Each named parameter within three of its esd's of the truth.
inline void expectRecovered(const pk_refinement *r, const std::vector<std::pair<std::string, double>> &truth) {
    for (const auto &[name, value] : truth) {
        const pk_parameter p = parameter(r, name);
        EXPECT_TRUE(std::isfinite(p.esd) && p.esd > 0.0) << name;
        EXPECT_LT(std::fabs(p.value - value), 3.0 * p.esd) << name << " = " << p.value << " ± " << p.esd;
    }
}

// A time-of-flight bank at 90° (TOF = difC d + difA d² + zero, µs) over d 0.6 … 3.1 Å in 2 µs steps.
inline pk_instrument tofBank(double difC, double difA, double zero) {
    pk_instrument bank;
    pk_instrument_default(&bank);
    bank.axis = PK_AXIS_TOF;
    bank.radiation = PK_RADIATION_NEUTRON;
    bank.tof_two_theta = 90.0;
    bank.dtt1 = difC, bank.dtt2 = difA, bank.zero = zero;
    return bank;
}
inline pk_profile tofProfile() {
    pk_profile profile;
    pk_profile_default(&profile, PK_PROFILE_TOF_EXP_PSEUDO_VOIGT, nullptr);
    return profile;
}
inline const pk_instrument kBank = tofBank(7000.0, 1.5, 5.0);

}  // namespace pk_test

#endif
