// Peak lists of synthetic patterns whose truth is known: pseudo-Voigt lines on a flat background with seeded
// counting noise, noise alone for the false-peak rate, doublets, and corundum with Cu Kα1 + Kα2.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "peaks/peaks.hpp"
#include "support/phase_calls.hpp"
#include "support/tolerances.hpp"

namespace {

using namespace pk_test;

struct Line { double position, height, eta; };

// Poisson counts around mean[i] at x[i], as a measured pattern.
pk_measured_pattern *counted(const std::vector<double> &x, const std::vector<double> &mean, int seed,
                             double scale = 1.0) {
    std::mt19937 random(static_cast<unsigned>(seed));
    std::vector<double> y(x.size()), sigma(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const int n = std::poisson_distribution<>(mean[i])(random);
        y[i] = n * scale;
        sigma[i] = std::sqrt(n > 0 ? n : 1) * scale;
    }
    pk_measured_pattern *pattern = nullptr;
    EXPECT_EQ(pk_measured_pattern_make(x.data(), y.data(), sigma.data(), static_cast<int32_t>(x.size()), &pattern,
                                       nullptr),
              PK_OK);
    return pattern;
}

// Lines of one FWHM Γ on 200 counts, each H·[η/(1 + 4t²) + (1 − η)·2^(−4t²)], t = (x − x0)/Γ.
pk_measured_pattern *measured(const std::vector<double> &x, const std::vector<Line> &lines, double fwhm, int seed,
                              double scale = 1.0) {
    std::vector<double> mean(x.size(), 200.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        for (const Line &l : lines) {
            const double t = (x[i] - l.position) / fwhm;
            mean[i] += l.height * (l.eta / (1 + 4 * t * t) + (1 - l.eta) * std::pow(2.0, -4 * t * t));
        }
    }
    return counted(x, mean, seed, scale);
}

// The peaks of single lines (the pattern freed); no candidate may fail, every number is finite and η lies in [0, 1].
std::vector<pk_peak> peaksOf(pk_measured_pattern *pattern, double merge_fraction = 0.5) {
    pk_peak_search search;
    pk_peak_search_default(&search);
    search.merge_fraction = merge_fraction;
    search.ratio2 = 0.0;
    std::vector<pk_peak> peaks(300);
    int32_t count = 0;
    int32_t failed = 0;
    EXPECT_EQ(pk_find_peaks(pattern, &search, peaks.data(), 300, &count, nullptr, 0, &failed, nullptr), PK_OK);
    EXPECT_EQ(failed, 0);
    pk_measured_pattern_free(pattern);
    peaks.resize(static_cast<std::size_t>(count));
    for (const pk_peak &p : peaks) {
        EXPECT_TRUE(p.eta >= 0.0 && p.eta <= 1.0) << p.eta;
        for (double v : {p.position, p.height, p.fwhm, p.area, p.d, p.height_esd, p.area_esd, p.d_esd, p.eta_esd}) {
            EXPECT_TRUE(std::isfinite(v)) << "peak at " << p.position;
        }
    }
    return peaks;
}

// Lines of 5σ to 200σ (σ = √200), 10 points per FWHM, η 0, ½, 1: each found within 0.2 FWHM, nothing else;
// x0, H, Γ and the area H·Γ·(η·π/2 + (1 − η)·√(π/(4 ln 2))) within 4 esd's of the truth, with an rms over
// five draws near 1 esd. Cu Kα1 at 2θ = 30°: d = λ/(2 sin 15°) = 2.976197133 Å.
TEST(Peaks, KnownLinesFoundWithTheirValuesAndHonestEsds) {
    const double fwhm = 0.1;
    const double s = std::sqrt(200.0);
    const std::vector<Line> lines = {{24, 5 * s, 0}, {30, 6 * s, 0.5}, {36, 8 * s, 1}, {42, 12 * s, 0},
                                     {48, 20 * s, 0.5}, {54, 40 * s, 1}, {60, 80 * s, 0}, {66, 200 * s, 0.5}};
    double meanSquare = 0.0;
    for (int seed = 1; seed <= 5; ++seed) {
        const std::vector<pk_peak> peaks = peaksOf(measured(axis(20.0, 0.01, 6001), lines, fwhm, seed));
        ASSERT_EQ(peaks.size(), lines.size()) << "seed " << seed;
        for (std::size_t k = 0; k < lines.size(); ++k) {
            const pk_peak &p = peaks[k];
            const Line &l = lines[k];
            const double area = l.height * fwhm * (l.eta * kPi / 2 + (1 - l.eta) * std::sqrt(kPi / std::log(16.0)));
            EXPECT_LT(std::fabs(p.position - l.position), 0.2 * fwhm) << "line at " << l.position;
            const double z[] = {(p.position - l.position) / p.position_esd, (p.height - l.height) / p.height_esd,
                                (p.fwhm - fwhm) / p.fwhm_esd, (p.area - area) / p.area_esd};
            for (double esds : z) EXPECT_LT(std::fabs(esds), 4.0) << "line at " << l.position;
            for (double esds : z) meanSquare += esds * esds / 160.0;
        }
        EXPECT_LT(std::fabs(peaks[1].d - 2.976197133), 4.0 * peaks[1].d_esd);
    }
    EXPECT_GT(std::sqrt(meanSquare), 0.75);
    EXPECT_LT(std::sqrt(meanSquare), 1.3);
}

// A fine-step scan, 100 points per FWHM (searched on bins of 8 points): the same lines are found with x0, H and Γ
// within 4 esd's of the truth and an rms near 1 esd over three draws; flat noise sampled as finely gives no peak.
TEST(Peaks, FineStepScanGivesTheLinesWithHonestEsds) {
    const double fwhm = 0.1;
    const std::vector<Line> lines = {{24, 40, 0}, {30, 100, 0.5}, {36, 300, 1}, {42, 1000, 0}, {48, 3000, 0.5}};
    double meanSquare = 0.0;
    for (int seed = 1; seed <= 3; ++seed) {
        const std::vector<pk_peak> peaks = peaksOf(measured(axis(20.0, 0.001, 32001), lines, fwhm, seed));
        ASSERT_EQ(peaks.size(), lines.size()) << "seed " << seed;
        for (std::size_t k = 0; k < lines.size(); ++k) {
            const pk_peak &p = peaks[k];
            const Line &l = lines[k];
            const double z[] = {(p.position - l.position) / p.position_esd, (p.height - l.height) / p.height_esd,
                                (p.fwhm - fwhm) / p.fwhm_esd};
            for (double esds : z) EXPECT_LT(std::fabs(esds), 4.0) << "line at " << l.position << ", seed " << seed;
            for (double esds : z) meanSquare += esds * esds / 45.0;
        }
    }
    EXPECT_GT(std::sqrt(meanSquare), 0.6);
    EXPECT_LT(std::sqrt(meanSquare), 1.5);
    EXPECT_EQ(peaksOf(measured(axis(20.0, 0.001, 32001), {}, fwhm, 9)).size(), 0u);
    // The bins: 100 points per FWHM give k = ⌊101/12⌋ = 8 (the half-height points span Γ + 1 step), 10 give none;
    // bins of 3 of 7 points hold their means and σ = √(Σσ²)/n, the last bin its one point.
    const std::vector<double> flat(32001, 200.0), sigma(32001, std::sqrt(200.0));
    for (const auto &[step, k] : {std::pair{0.001, 8}, std::pair{0.01, 1}}) {
        std::vector<double> y = flat;
        const std::vector<double> x = axis(20.0, step, 32001);
        for (std::size_t i = 0; i < x.size(); ++i) y[i] += 1000.0 * std::pow(2.0, -4 * std::pow((x[i] - 30) / fwhm, 2));
        EXPECT_EQ(powderkit::peaks::binningFactor(y.data(), sigma.data(), flat.data(), 32001, 200), k) << step;
    }
    // A box of 121 points 3.2σ above the background is a peak 121 points wide (k = ⌊121/12⌋ = 10), its running mean
    // 3.2σ inside; 2.9σ is below the 3σ a top must reach: none.
    for (const auto &[above, k] : {std::pair{3.2, 10}, std::pair{2.9, 1}}) {
        std::vector<double> box(1000, 0.0);
        std::fill(box.begin() + 400, box.begin() + 521, above);
        const std::vector<double> zeros(1000, 0.0), ones(1000, 1.0);
        EXPECT_EQ(powderkit::peaks::binningFactor(box.data(), ones.data(), zeros.data(), 1000, 200), k) << above;
    }
    // k follows the median width of the nine strongest boxes, each masked over ±3 of its widths before the next is
    // looked for. Boxes 20σ … 11σ high, 48 24 48 24 48 24 48 24 24 48 points wide, the ninth starting 150 points
    // past the first one's top (beyond 3 × 48): the nine hold five of 24 points, so k = 24/12 = 2; a tenth box, one
    // box fewer, or the ninth hidden under the first one's mask would each give 48/12 = 4.
    std::vector<double> boxes(5300, 0.0);
    const int widths[] = {48, 24, 48, 24, 48, 24, 48, 24, 24, 48};
    for (int b = 0; b < 10; ++b) {
        const int start = b == 0 ? 100 : b == 8 ? 252 : 900 + 600 * (b < 8 ? b - 1 : 7);
        std::fill(boxes.begin() + start, boxes.begin() + start + widths[b], 20.0 - b);
    }
    const std::vector<double> zeros(5300, 0.0), ones(5300, 1.0);
    EXPECT_EQ(powderkit::peaks::binningFactor(boxes.data(), ones.data(), zeros.data(), 5300, 200), 2);
    const double x7[] = {1, 2, 3, 4, 5, 6, 7}, y7[] = {3, 6, 9, 1, 1, 4, 5}, s7[] = {1, 2, 2, 1, 1, 1, 3};
    const powderkit::peaks::BinnedPattern b = powderkit::peaks::binned(x7, y7, s7, 7, 3);
    EXPECT_EQ(b.x, (std::vector<double>{2, 5, 7}));
    EXPECT_EQ(b.y, (std::vector<double>{6, 2, 5}));
    EXPECT_EQ(b.sigma, (std::vector<double>{1, std::sqrt(3.0) / 3, 3}));
}

// A line of 600 counts 6.5 FWHM beside one of 3000, above it and below it, 12 draws each: its x0, H and Γ within
// 4 esd's of the truth, with an rms near 1 esd, so the stronger line's profile lies under every point of its window,
// the first and the last included.
TEST(Peaks, LineBesideAStrongerOneKeepsHonestEsds) {
    double meanSquare = 0.0;
    for (const double weak : {40.65, 39.35}) {
        const std::vector<Line> lines = {{40.0, 3000.0, 0.5}, {weak, 600.0, 0.5}};
        for (int seed = 40; seed < 52; ++seed) {
            const std::vector<pk_peak> peaks = peaksOf(measured(axis(30.0, 0.01, 2001), lines, 0.1, seed));
            ASSERT_EQ(peaks.size(), 2u) << "seed " << seed;
            const pk_peak &p = peaks[weak > 40.0 ? 1 : 0];
            const double z[] = {(p.position - weak) / p.position_esd, (p.height - 600) / p.height_esd,
                                (p.fwhm - 0.1) / p.fwhm_esd};
            for (double esds : z) EXPECT_LT(std::fabs(esds), 4.0) << "seed " << seed << ", line at " << weak;
            for (double esds : z) meanSquare += esds * esds / 72.0;
        }
    }
    EXPECT_GT(std::sqrt(meanSquare), 0.7);
    EXPECT_LT(std::sqrt(meanSquare), 1.5);
}

// Counts and σ's in other units (× 2⁻¹⁰, which rounds nothing) give the same peaks to round-off, heights, areas and
// their esd's × 2⁻¹⁰, heights below 1 included; so does the axis moved by ½ (32 … 52 to 32.5 … 52.5, one binade,
// so that no x rounds), every position moved with it.
TEST(Peaks, UnitsOfTheCountsAndOriginOfTheAxisDoNotMatter) {
    const std::vector<Line> lines = {{37.0, 100.0, 0.5}, {42.0, 300.0, 0.0}, {47.0, 600.0, 1.0}};
    const double unit = std::ldexp(1.0, -10);
    std::vector<double> x = axis(32.0, 0.01, 2001);
    const std::vector<pk_peak> counts = peaksOf(measured(x, lines, 0.1, 30));
    const std::vector<pk_peak> peaks = peaksOf(measured(x, lines, 0.1, 30, unit));
    for (double &v : x) v += 0.5;
    std::vector<Line> moved = lines;
    for (Line &l : moved) l.position += 0.5;
    const std::vector<pk_peak> shifted = peaksOf(measured(x, moved, 0.1, 30));
    ASSERT_EQ(peaks.size(), lines.size());
    ASSERT_EQ(counts.size(), lines.size());
    ASSERT_EQ(shifted.size(), lines.size());
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const pk_peak &p = peaks[k], &c = counts[k], &m = shifted[k];
        EXPECT_LT(std::fabs(p.position - lines[k].position), 4.0 * p.position_esd);
        const double pairs[][2] = {{p.position, c.position}, {p.fwhm, c.fwhm},   {p.eta, c.eta},
                                   {p.height / unit, c.height}, {p.height_esd / unit, c.height_esd},
                                   {p.area / unit, c.area},     {p.position_esd, c.position_esd},
                                   {m.position - 0.5, c.position}, {m.fwhm, c.fwhm}, {m.eta, c.eta},
                                   {m.height, c.height}, {m.height_esd, c.height_esd}, {m.area_esd, c.area_esd}};
        for (const auto &pair : pairs) EXPECT_TRUE(closeTo(pair[0], pair[1], kRoundOff)) << pair[0] << " " << pair[1];
    }
}

// No peak is wider than 1.25 % of the span, to the last point however far: with the last of 2001 points at 45, not
// 40, a line of FWHM 0.28 (1.25 % of 20 is 0.25; of 25, 0.3125) is found with its values within 4 esd's.
TEST(Peaks, WidestLineCountsTheWholeSpan) {
    std::vector<double> x = axis(20.0, 0.01, 2001);
    x.back() = 45.0;
    const std::vector<pk_peak> peaks = peaksOf(measured(x, {{30.0, 3000.0, 0.0}}, 0.28, 50));
    ASSERT_EQ(peaks.size(), 1u);
    EXPECT_NEAR(peaks[0].position, 30.0, 4.0 * peaks[0].position_esd);
    EXPECT_NEAR(peaks[0].height, 3000.0, 4.0 * peaks[0].height_esd);
    EXPECT_NEAR(peaks[0].fwhm, 0.28, 4.0 * peaks[0].fwhm_esd);
    // A line of FWHM 0.6 (beyond 1.25 % of the span, short of 1.25 % of 20 + 45) is background: no peak.
    EXPECT_EQ(peaksOf(measured(x, {{30.0, 3000.0, 0.0}}, 0.6, 50)).size(), 0u);
}

// The core confirms no maximum within 42 points of either end: lines 35 points (3.5 FWHM) inside the first and the
// last point are found by the search of the ends, at their places within 4 esd's. Lines whose maxima are the first
// and the last point themselves are cut by the ends: failures that say so, not peaks.
TEST(Peaks, LinesAtAndBesideTheEnds) {
    const std::vector<double> x = axis(20.0, 0.01, 2001);
    const std::vector<pk_peak> peaks = peaksOf(measured(x, {{20.35, 3000, 0.5}, {39.65, 3000, 0.5}}, 0.1, 60));
    ASSERT_EQ(peaks.size(), 2u);
    EXPECT_NEAR(peaks[0].position, 20.35, 4.0 * peaks[0].position_esd);
    EXPECT_NEAR(peaks[1].position, 39.65, 4.0 * peaks[1].position_esd);
    pk_peak_search search;
    pk_peak_search_default(&search);
    search.ratio2 = 0.0;
    for (int seed = 61; seed < 65; ++seed) {
        pk_measured_pattern *pattern = measured(x, {{20.0, 3000, 0.5}, {40.0, 3000, 0.5}}, 0.1, seed);
        pk_peak found[4];
        pk_peak_failure failures[4];
        int32_t count = 0, failed = 0;
        EXPECT_EQ(pk_find_peaks(pattern, &search, found, 4, &count, failures, 4, &failed, nullptr), PK_OK);
        pk_measured_pattern_free(pattern);
        EXPECT_EQ(count, 0) << "seed " << seed;
        ASSERT_EQ(failed, 2) << "seed " << seed;
        for (int k = 0; k < failed; ++k) EXPECT_EQ(std::string(failures[k].reason).find("cut by the end of"), 0u);
    }
}

// Flat counting noise, 40 patterns of 5,000 points at 200 counts: the default significance lets fewer than 0.1 false
// peaks per pattern through, so at most 4 in all.
TEST(Peaks, PureNoiseGivesAlmostNoPeaks) {
    std::size_t found = 0;
    for (int seed = 100; seed < 140; ++seed) found += peaksOf(measured(axis(10.0, 0.02, 5000), {}, 0.1, seed)).size();
    EXPECT_LE(found, 4u);
}

// Lines 3 FWHM apart are two peaks at their places, or with merge_fraction 4 one of them; lines 0.3 FWHM apart are
// one peak between them.
TEST(Peaks, DoubletsResolvedOrMerged) {
    const std::vector<double> x = axis(30.0, 0.01, 2001);
    const std::vector<Line> apart = {{40.0, 600.0, 0.5}, {40.3, 600.0, 0.5}};
    const std::vector<pk_peak> two = peaksOf(measured(x, apart, 0.1, 7));
    ASSERT_EQ(two.size(), 2u);
    EXPECT_NEAR(two[0].position, 40.0, 0.02);
    EXPECT_NEAR(two[1].position, 40.3, 0.02);
    const std::vector<pk_peak> merged = peaksOf(measured(x, apart, 0.1, 7), 4.0);
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_TRUE(merged[0].position == two[0].position || merged[0].position == two[1].position);
    const std::vector<pk_peak> close = peaksOf(measured(x, {{40.0, 600.0, 0.5}, {40.03, 600.0, 0.5}}, 0.1, 8));
    ASSERT_EQ(close.size(), 1u);
    EXPECT_TRUE(close[0].position > 40.0 && close[0].position < 40.03) << close[0].position;
    // Lines 2 FWHM apart, 1000 and 300 counts: each fitted over the other's profile has x0, H and Γ within 4 esd's.
    const std::vector<Line> pair = {{40.0, 1000.0, 0.5}, {40.2, 300.0, 0.0}};
    for (int seed = 20; seed < 23; ++seed) {
        const std::vector<pk_peak> p = peaksOf(measured(x, pair, 0.1, seed));
        ASSERT_EQ(p.size(), 2u) << "seed " << seed;
        for (std::size_t k = 0; k < 2; ++k) {
            EXPECT_LT(std::fabs(p[k].position - pair[k].position), 4.0 * p[k].position_esd) << "seed " << seed;
            EXPECT_LT(std::fabs(p[k].height - pair[k].height), 4.0 * p[k].height_esd) << "seed " << seed;
            EXPECT_LT(std::fabs(p[k].fwhm - 0.1), 4.0 * p[k].fwhm_esd) << "seed " << seed;
        }
    }
}

// Cu Kα1 + Kα2 lines of a cubic cell, a = 4 Å, h² + k² + l² = s from 1 to 24: d = a/√s, Kα1 at 2θ = 2 asin(λ₁/2d), Kα2
// at 2 asin(λ₂/2d) half as high, Γ = 0.08° + 0.05° tan θ, η = ½, on 100 counts. Kα2 lies 0.6 Γ above Kα1 at 22° (one
// maximum) and 3.7 Γ at 141° (two). Each line is one peak, at its Kα1 place and d within 4 esd's, an rms near 1 esd;
// no Kα2 line is a peak of its own.
TEST(Peaks, KAlphaDoubletsAreOnePeakAtKAlpha1UpToTheEnds) {
    const double l1 = 1.540593, l2 = 1.544414;  // Cu Kα1, Kα2 (Å)
    std::vector<double> d, at1, at2, fwhm, height;
    for (int s : {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 16, 17, 18, 19, 20, 21, 22, 24}) {
        d.push_back(4.0 / std::sqrt(s));
        at1.push_back(360 / kPi * std::asin(l1 / (2 * d.back())));
        at2.push_back(360 / kPi * std::asin(l2 / (2 * d.back())));
        fwhm.push_back(0.08 + 0.05 * std::tan(at1.back() * kPi / 360));
        height.push_back(s % 3 == 0 ? 800.0 : 3000.0 / (1 + s % 4));
    }
    const auto search = [&](double from, double to, std::vector<pk_peak> &peaks, pk_peak_failure *failures) {
        const std::vector<double> x = axis(from, 0.02, static_cast<int>(std::lround((to - from) / 0.02)) + 1);
        std::vector<double> mean(x.size(), 100.0);
        for (std::size_t i = 0; i < x.size(); ++i) {
            for (std::size_t k = 0; k < d.size(); ++k) {
                for (const auto &[at, share] : {std::pair{at1[k], 1.0}, std::pair{at2[k], 0.5}}) {
                    const double t = (x[i] - at) / fwhm[k];
                    mean[i] += share * height[k] * (0.5 / (1 + 4 * t * t) + 0.5 * std::pow(2.0, -4 * t * t));
                }
            }
        }
        pk_measured_pattern *pattern = counted(x, mean, 18);
        pk_peak_search cu;
        pk_peak_search_default(&cu);  // Cu Kα1 + Kα2
        int32_t count = 0, failed = 0;
        EXPECT_EQ(pk_find_peaks(pattern, &cu, peaks.data(), 64, &count, failures, 8, &failed, nullptr), PK_OK);
        pk_measured_pattern_free(pattern);
        peaks.resize(static_cast<std::size_t>(count));
        return failed;
    };
    // From 0.3° and 0.1° (0.45 Γ of the last line) beyond the first and last lines, each line is one peak; from 0.1°
    // inside them, those two are named as cut by the end of the data.
    double meanSquare = 0.0;
    for (const double beyond : {0.3, 0.1, -0.1}) {
        std::vector<pk_peak> peaks(64);
        pk_peak_failure failures[8] = {};
        const int failed = search(at1.front() - beyond, at1.back() + beyond, peaks, failures);
        const int cut = beyond > 0 ? 0 : 1;  // lines cut at each end
        ASSERT_EQ(peaks.size(), d.size() - 2 * cut) << beyond;
        EXPECT_EQ(failed, 2 * cut);
        for (int k = 0; k < failed; ++k) EXPECT_EQ(std::string(failures[k].reason).find("cut by the end of"), 0u);
        for (std::size_t k = 0; k < peaks.size(); ++k) {
            const pk_peak &p = peaks[k];
            const double z[] = {(p.position - at1[k + cut]) / p.position_esd, (p.d - d[k + cut]) / p.d_esd};
            for (double esds : z) EXPECT_LT(std::fabs(esds), 4.0) << "line at " << at1[k + cut] << ", " << beyond;
            meanSquare += z[0] * z[0] / (3.0 * static_cast<double>(d.size()) - 2.0);
        }
    }
    EXPECT_LT(std::sqrt(meanSquare), 1.5);
}

// One window fitted directly, against the model written out here: y = b + c + H·[η/(1 + 4t²) + (1 − η)·2^(−4t²)],
// t = (x − x0)/Γ, on 161 points with b = 150 + 20 (x − 30) and σ² = y; with λ₂/λ₁ = k > 0 also its copy half as high
// at 2 asin(k sin(x0/2)). Exact counts from a start outside the bounds (Γ beyond the widest, η above 1) give the truth;
// with noise, the esd's are those of Cov = (JᵀWJ)⁻¹ χ²/(N − 5) with J by central differences and c at its
// least-squares value, and the Kα1 area's √(∇A·Cov·∇Aᵀ) of areaOf.
using Values = std::array<double, 5>;  // H, x0, Γ, η, c
double modelAt(const Values &q, double x, double k = 0.0) {
    const double t = (x - q[1]) / q[2], t2 = (x - 360 / kPi * std::asin(k * std::sin(q[1] * kPi / 360))) / q[2];
    const double copy = k > 0 ? 0.5 * (q[3] / (1 + 4 * t2 * t2) + (1 - q[3]) * std::pow(2.0, -4 * t2 * t2)) : 0.0;
    return q[4] + q[0] * (q[3] / (1 + 4 * t * t) + (1 - q[3]) * std::pow(2.0, -4 * t * t) + copy);
}
// A = H Γ (η π/2 + (1 − η) √(π / ln 16)).
double areaOf(const Values &q) { return q[0] * q[2] * (q[3] * kPi / 2 + (1 - q[3]) * std::sqrt(kPi / std::log(16.0))); }

TEST(PeakFit, OneWindowAgainstTheModelWrittenOut) {
    // The unit shape first, far tails included (at |t| = 17 the Gaussian part is below the least double).
    for (double eta : {0.0, 0.4, 1.0}) {
        for (double t : {0.0, 0.3, -1.7, 17.0}) {
            EXPECT_TRUE(closeTo(powderkit::peaks::pseudoVoigtShape(t, eta), modelAt({1.0, 0.0, 1.0, eta, 0.0}, t),
                                kRoundOff)) << t << " " << eta;
        }
    }
    // Cu's Kα2 (λ₂/λ₁ = 1.00248) at 2 asin(k sin θ₁): 174.079° beside 170°; beside 175°, k sin θ₁ = 1.0015 > 1: none.
    const powderkit::peaks::Doublet cu{1.00248, 0.5};
    double x2 = 0.0;
    EXPECT_TRUE(cu.place(170.0, x2));
    EXPECT_NEAR(x2, 360 / kPi * std::asin(1.00248 * std::sin(85.0 * kPi / 180)), kRoundOff * x2);
    EXPECT_FALSE(cu.place(175.0, x2));
    EXPECT_EQ(cu.offset(175.0), 0.0);
    // The fit stops once a step lowers χ² by less than 1e-6 of it; the values and the χ² the esd's scale with are
    // known to about that.
    const double kStopped = 1e-5;
    for (const double lengthening : {0.0, 1.00248}) {  // λ₂/λ₁: none, then Cu
        const powderkit::peaks::Doublet doublet{lengthening, lengthening > 0 ? 0.5 : 0.0};
        const Values truth = {800.0, 30.003, 0.12, 0.4, 3.0};
        const std::vector<double> x = axis(29.2, 0.01, 161);
        std::vector<double> b(161), exact(161), y(161), sigma(161);
        std::mt19937 random(5);
        std::normal_distribution<double> noise;
        for (std::size_t i = 0; i < x.size(); ++i) {
            b[i] = 150 + 20 * (x[i] - 30);
            exact[i] = b[i] + modelAt(truth, x[i], lengthening);
            sigma[i] = std::sqrt(exact[i]);
            y[i] = exact[i] + sigma[i] * noise(random);
        }
        powderkit::peaks::FitWindow w{x.data(), exact.data(), sigma.data(), b.data(), 0, 160, 0.5};
        powderkit::peaks::PeakFit fit = powderkit::peaks::fitPseudoVoigt(w, {500.0, 29.98, 0.9, 1.5}, doublet);
        ASSERT_EQ(fit.reason, "");
        const pk_peak &p = fit.peak;
        const double found[][2] = {{p.height, truth[0]}, {p.position, truth[1]}, {p.fwhm, truth[2]},
                                   {p.eta, truth[3]}};
        for (const auto &pair : found) EXPECT_TRUE(closeTo(pair[0], pair[1], kStopped)) << pair[0] << " " << pair[1];

        w.y = y.data();
        fit = powderkit::peaks::fitPseudoVoigt(w, {700.0, 30.0, 0.1, 0.5}, doublet);
        ASSERT_EQ(fit.reason, "");
        Values q = {p.height, p.position, p.fwhm, p.eta, 0.0};
        double offset = 0.0, weights = 0.0, chi2 = 0.0, normal[5][5] = {}, covariance[5][5] = {}, gradient[5];
        for (std::size_t i = 0; i < x.size(); ++i) {
            offset += (y[i] - b[i] - modelAt(q, x[i], lengthening)) / exact[i], weights += 1 / exact[i];
        }
        q[4] = offset / weights;
        for (std::size_t i = 0; i < x.size(); ++i) {
            double j[5];
            for (std::size_t k = 0; k < 5; ++k) {
                Values high = q, low = q;
                const double h = 1e-6 * std::max(std::fabs(q[k]), 1e-2);
                high[k] += h, low[k] -= h;
                j[k] = (modelAt(high, x[i], lengthening) - modelAt(low, x[i], lengthening)) / (2 * h);
                gradient[k] = (areaOf(high) - areaOf(low)) / (2 * h);
            }
            for (int k = 0; k < 25; ++k) normal[k / 5][k % 5] += j[k / 5] * j[k % 5] / exact[i];
            chi2 += std::pow(y[i] - b[i] - modelAt(q, x[i], lengthening), 2) / exact[i];
        }
        for (int k = 0; k < 5; ++k) covariance[k][k] = chi2 / (161 - 5);
        for (int k = 0; k < 5; ++k) {  // Gauss–Jordan on [normal | χ²/(N − 5)·I], normal symmetric and definite
            for (int r = 0; r < 5; ++r) {
                const double f = r == k ? 0.0 : normal[r][k] / normal[k][k];
                for (int l = 0; l < 5; ++l) {
                    normal[r][l] -= f * normal[k][l], covariance[r][l] -= f * covariance[k][l];
                }
            }
        }
        double area = 0.0;  // ∇A·Cov·∇Aᵀ
        for (int k = 0; k < 25; ++k)
            area += gradient[k / 5] * gradient[k % 5] * covariance[k / 5][k % 5] / normal[k / 5][k / 5];
        const double esds[] = {p.height_esd, p.position_esd, p.fwhm_esd, p.eta_esd};
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(esds[k], std::sqrt(covariance[k][k] / normal[k][k]), kStopped * esds[k]) << lengthening;
        }
        EXPECT_NEAR(p.area_esd, std::sqrt(area), kStopped * p.area_esd);
        EXPECT_TRUE(closeTo(p.area, areaOf(q), kRoundOff));
    }
}

// Windows that give no peak say why: 7 points are too few (8 fit), a line just beyond the window's end, fitted from a
// start beside it, has no maximum inside; a line wider than the widest allowed ends on that bound, marked.
TEST(PeakFit, TooFewPointsNoMaximumAndTheWidestBound) {
    struct Case { int points; double position, fwhm, widest; const char *reason; };
    const Case cases[] = {{7, 30.0, 0.02, 0.5, "only 7 points in its window"},
                          {8, 30.0, 0.02, 0.5, ""},
                          {41, 30.23, 0.02, 0.05, "no maximum inside its window"},
                          {81, 30.0, 0.3, 0.2, ""}};
    for (const Case &c : cases) {
        const std::vector<double> x = axis(30.0 - 0.005 * (c.points - 1), 0.01, c.points);
        std::vector<double> y(x.size()), sigma(x.size(), 1.0), b(x.size(), 0.0);
        for (std::size_t i = 0; i < x.size(); ++i) y[i] = modelAt({100.0, c.position, c.fwhm, 0.5, 0.0}, x[i]);
        const powderkit::peaks::FitWindow w{x.data(), y.data(), sigma.data(), b.data(), 0, c.points - 1, c.widest};
        const powderkit::peaks::PeakFit fit =
            powderkit::peaks::fitPseudoVoigt(w, {90.0, std::min(c.position, x.back() - 0.01), 0.05, 0.5});
        EXPECT_EQ(fit.reason, c.reason) << c.points;
        EXPECT_EQ(fit.widest, c.fwhm > c.widest) << c.points;
        if (fit.widest) {
            EXPECT_EQ(fit.peak.fwhm, c.widest);
        } else if (fit.reason.empty()) {
            EXPECT_TRUE(closeTo(fit.peak.position, 30.0, kSeries)) << c.points << " " << fit.peak.position;
        }
    }
}

// Bad arguments are refused by name; arrays too small are not an error: the count says how many peaks there are.
TEST(Peaks, BadInputAndSmallArrays) {
    pk_peak_search search;
    pk_peak_search_default(&search);
    pk_measured_pattern *pattern = measured(axis(20.0, 0.01, 2001), {{30, 3000, 0.5}, {35, 3000, 0.5}}, 0.1, 3);
    pk_peak one[1];
    int32_t count = 0;
    int32_t failed = 0;
    pk_error e{};
    const auto expectRefused = [&e](int32_t status, const char *named) {
        EXPECT_EQ(status, PK_ERROR_ARGUMENT);
        EXPECT_NE(std::string(e.message).find(named), std::string::npos) << e.message;
    };
    expectRefused(pk_find_peaks(nullptr, &search, one, 1, &count, nullptr, 0, &failed, &e), "pattern");
    expectRefused(pk_find_peaks(pattern, nullptr, one, 1, &count, nullptr, 0, &failed, &e), "search");
    expectRefused(pk_find_peaks(pattern, &search, one, -1, &count, nullptr, 0, &failed, &e), "capacity = -1");
    search.wavelength = 0.5;  // Cu Kα2 beside it is no Kα2 line
    expectRefused(pk_find_peaks(pattern, &search, one, 1, &count, nullptr, 0, &failed, &e), "wavelength2 = 1.54441");
    search.wavelength = 0.70930, search.wavelength2 = 0.71359;  // Mo Kα1 and Kα2 (below 1 Å), 0.6 % apart, are one
    EXPECT_EQ(pk_find_peaks(pattern, &search, one, 1, &count, nullptr, 0, &failed, &e), PK_OK) << e.message;
    search.wavelength = 1.0, search.wavelength2 = 1.05;  // 5 % longer is the most a Kα2 line may be, not more
    EXPECT_EQ(pk_find_peaks(pattern, &search, one, 1, &count, nullptr, 0, &failed, &e), PK_OK) << e.message;
    search.wavelength2 = 1.0501;
    expectRefused(pk_find_peaks(pattern, &search, one, 1, &count, nullptr, 0, &failed, &e), "wavelength2 = 1.0501");
    search.wavelength = 0.5;
    search.ratio2 = 0.0;  // single lines from here on
    EXPECT_EQ(pk_find_peaks(pattern, &search, one, 1, &count, nullptr, 0, &failed, &e), PK_OK) << e.message;
    EXPECT_EQ(count, 2);
    EXPECT_NEAR(one[0].position, 30.0, 0.02);
    // d = λ / (2 sin θ) at λ = 0.5 Å, its esd the position's through a central difference of that formula; no λ, no d.
    const auto d = [](double x) { return 0.5 / (2.0 * std::sin(x * kPi / 360.0)); };
    search.wavelength = 0.5;
    ASSERT_EQ(pk_find_peaks(pattern, &search, one, 1, &count, nullptr, 0, &failed, &e), PK_OK) << e.message;
    const double slope = (d(one[0].position + 1e-4) - d(one[0].position - 1e-4)) / 2e-4;
    EXPECT_TRUE(closeTo(one[0].d, d(one[0].position), kRoundOff));
    EXPECT_NEAR(one[0].d_esd, std::fabs(slope) * one[0].position_esd, kFiniteDifference * one[0].d_esd);
    search.wavelength = 0.0;
    ASSERT_EQ(pk_find_peaks(pattern, &search, one, 1, &count, nullptr, 0, &failed, &e), PK_OK) << e.message;
    EXPECT_EQ(one[0].d, 0.0);
    EXPECT_EQ(one[0].d_esd, 0.0);
    pk_measured_pattern_free(pattern);
    pattern = measured(axis(20.0, 0.01, 99), {}, 0.1, 3);
    expectRefused(pk_find_peaks(pattern, &search, one, 1, &count, nullptr, 0, &failed, &e), "99 points");
    pk_measured_pattern_free(pattern);
    // 100 points of 200 counts each: no maximum at all, which is no peak and no failure.
    const std::vector<double> x = axis(20.0, 0.01, 100), flat(100, 200.0);
    ASSERT_EQ(pk_measured_pattern_make(x.data(), flat.data(), nullptr, 100, &pattern, nullptr), PK_OK);
    EXPECT_EQ(pk_find_peaks(pattern, &search, one, 1, &count, nullptr, 0, &failed, &e), PK_OK) << e.message;
    EXPECT_EQ(count + failed, 0);
    pk_measured_pattern_free(pattern);
}

}  // namespace
