// Calculated patterns. When a model is made, each phase's reflexions that can
// reach the span are listed with their intensities (March correction,
// monochromator, capillary absorption and surface roughness included),
// positions (zero, sample displacement and transparency included), Kα2
// companions (the core's secondaryWavelengthReflexion) and window widths;
// computing then only sums scale × intensity × peak shape over each
// reflexion's window (FindReflexionRange) plus the Chebyshev background, with
// no allocation.
//
// Every shape is evaluated with its per-reflexion terms worked out when the
// model is made: on a 2θ axis widths, mixing, tan θ₀ and cot 2θ₀
// (peak_shapes.cpp, run by the window loops of window_kernels.cpp, and with
// an axial divergence their quadrature nodes, axial_divergence.cpp), on a
// time-of-flight axis α, β, σ², γ and η (tof_peaks.cpp), with the core's
// arithmetic; tests hold them to the core's ProfileFunction. The low-angle
// asymmetry applies below this layer's own cut-off, a field of the profile:
// the core's process-wide cut-off is never changed and never consulted.
#include <algorithm>
#include <cmath>
#include <vector>

#include "boundary/boundary.hpp"
#include "boundary/parallel.hpp"
#include "boundary/progress.hpp"
#include "pattern/pattern_model.hpp"
#include "reflexions/reflexion_generation.hpp"
#include "reflexions/sample_corrections.hpp"
#include "reflexions/structure_factors.hpp"
#include "pattern/window_kernels.hpp"

namespace powderkit::phase {

namespace {

// Span added beyond the pattern's end when listing reflexions, so that the
// tails of peaks just outside it are included: degrees 2θ, or a fraction of
// the shortest flight time.
constexpr double kTwoThetaMargin = 3.0;
constexpr double kFlightTimeMargin = 0.03;
// The fewest reflexions worth a thread of their own: one takes about half a
// microsecond, waking a waiting thread a few.
constexpr std::size_t kSetsPerShare = 64;


// Half-width of the window a reflexion's peak is computed on: on a 2θ axis
// 12 FWHM for a Gaussian, 40 FWHM where a Lorentzian tail is present, plus
// the reach of the asymmetry shifts, P cot 2θ₀, or of the axial divergence's
// tail, |2φ_min − 2θ₀| (the widths are those of the reflexion's worked-out
// peak); on a time-of-flight axis 10 σ + 25 γ plus the exponential tails.
double cwWindowHalfWidth(const PhasePeaks &peaks, const CwPeak &peak, double axialReach) {
    const bool lorentzian = peak.type == PK_PROFILE_LORENTZIAN || (peak.type == PK_PROFILE_PSEUDO_VOIGT && peak.eta > 0.0);
    return (lorentzian ? 40.0 : 12.0) / peak.inverseFwhm + std::fabs(peaks.asymmetry * peak.shift) + axialReach;
}

double tofWindowHalfWidth(const PhasePeaks &peaks, const Reflexion &r) {
    const RefinementProfile &p = *peaks.profile;
    const double d = r.dSpacing;
    const double sigma2 = p.sigma0 + p.sigma1 * d * d + p.sigma2 * std::pow(d, 4);
    const double sigma = sigma2 > 0.0 ? std::sqrt(sigma2) : 0.0;
    const double alpha = p.alpha1 / d + (p.profileType == PK_PROFILE_TOF_EXP_GAUSSIAN ? p.alpha0 : 0.0);
    const double beta = p.beta0 + p.beta1 / std::pow(d, 4);
    const double gamma =
        p.profileType == PK_PROFILE_TOF_EXP_PSEUDO_VOIGT ? p.gamma0 + p.gamma1 * d + p.gamma2 * d * d : 0.0;
    double microseconds = 10.0 * sigma + 25.0 * std::fabs(gamma);
    if (alpha > 0.0) microseconds += 8.0 / alpha;
    if (beta > 0.0) microseconds += 9.0 / beta;
    return 0.001 * microseconds;
}


}  // namespace

}  // namespace powderkit::phase

struct pk_pattern_model {
    pk_instrument instrument{};
    std::vector<powderkit::phase::PhasePeaks> phases;
    std::array<double, PK_BACKGROUND_COEFFICIENTS> background{};
    bool hasBackground = false;
    double xMin = 0.0, xMax = 0.0;
};

namespace powderkit::phase {

PhasePeaks makePhasePeaks(const pk_instrument &instrument, const pk_phase_setting &setting, const std::string &where,
                          double xMin, double xMax, PlaneSetCache *cache, double difB, std::size_t threads) {
    const bool tof = instrument.axis == PK_AXIS_TOF;
    if (setting.phase == nullptr) fail(PK_ERROR_ARGUMENT, where + ": the phase is NULL");
    if (!std::isfinite(setting.scale)) fail(PK_ERROR_ARGUMENT, where + ": the scale is not a number");
    if (setting.scale < 0.0) {
        fail(PK_ERROR_ARGUMENT, where + ": the scale " + std::to_string(setting.scale) + " is negative");
    }
    const pk_profile profile = setting.profile != nullptr ? *setting.profile : defaultProfileFor(instrument);
    try {
        checkProfileFields(profile, tof);
    } catch (const Failure &failure) {
        fail(failure.code(), where + ": " + failure.what());
    }

    PhasePeaks peaks;
    peaks.type = profile.type;
    peaks.asymmetry = profile.asymmetry;
    peaks.cutoff = profile.asymmetry_cutoff;
    peaks.scale = setting.scale;
    peaks.profile = coreProfileOf(instrument, &profile, xMin, xMax);
    peaks.profile->asymmetry = 0.0;
    try {
        checkWidths(*peaks.profile, xMin, xMax);
    } catch (const Failure &failure) {
        fail(failure.code(), where + ": " + failure.what());
    }

    // The reflexions that can reach the span.
    double dMin;
    if (tof) {
        dMin = dSpacingAt(instrument, peaks.profile.get(), xMin * (1.0 - kFlightTimeMargin), difB);
    } else {
        dMin = dSpacingAt(instrument, peaks.profile.get(), std::min(xMax + kTwoThetaMargin, 179.9 + instrument.zero));
    }
    RefinementCrystal march{};
    RefinementCrystal *crystal = setting.phase->crystal.get();
    if (setting.use_march != 0) {
        march = marchView(*setting.phase, setting.march_ratio, setting.march_axis);
        crystal = &march;
    }
    const StructureFactors structureFactors(setting.phase->crystal.get(), &instrument);
    const double limit = dMin > 0.0 ? dMin : 1e-3;
    const std::vector<PlaneSet> listed = cache != nullptr ? std::vector<PlaneSet>{} : planeSetsOf(*setting.phase, limit);
    const std::vector<PlaneSet> &sets = cache != nullptr ? cache->setsOf(*setting.phase, limit) : listed;
    // Reflexion n of set n, its Kα2 companion (when the source has one) at primaries + n, and each one's
    // peak: every reflexion on its own, so that the sets are shared among the threads in runs of equal
    // length, each reflexion written where a single thread would have put it.
    const std::size_t primaries = sets.size();
    const bool secondary = peaks.profile->useSecondaryWavelength != 0;
    const std::size_t total = secondary ? 2 * primaries : primaries;
    const bool axial = !tof && hasAxialDivergence(profile);
    peaks.reflexions.resize(total);
    peaks.halfWidths.resize(total);
    if (tof) peaks.tofPeaks.resize(total);
    else peaks.cwPeaks.resize(total);
    if (axial) peaks.axial.resize(total);
    const auto makePeak = [&](std::size_t n) {
        const Reflexion &r = peaks.reflexions[n];
        if (tof) {
            peaks.tofPeaks[n] = makeTofPeak(r, *peaks.profile);
            peaks.halfWidths[n] = tofWindowHalfWidth(peaks, r);
        } else {
            const CwPeak &peak = peaks.cwPeaks[n] = makeCwPeak(r, *peaks.profile, peaks.asymmetry, peaks.cutoff);
            if (axial) peaks.axial[n] = axialNodes(peak.centre, 1.0 / peak.inverseFwhm, profile.axial_sl, profile.axial_hl);
            peaks.halfWidths[n] = cwWindowHalfWidth(peaks, peak, axial ? peaks.axial[n].reach : 0.0);
        }
    };
    const std::size_t shares = std::clamp<std::size_t>(primaries / kSetsPerShare, 1, std::max<std::size_t>(threads, 1));
    runShared(shares, [&](std::size_t share) {
        // Progress is reported on the calling thread (share 0) alone: the handler is the thread's own.
        Progress progress("structure factors and intensities");
        StructureFactors::Scratch scratch;
        const std::size_t first = primaries * share / shares, end = primaries * (share + 1) / shares;
        for (std::size_t n = first; n < end; ++n) {
            progress.at(static_cast<double>(n - first) / static_cast<double>(end - first));
            Reflexion &r = peaks.reflexions[n] = reflexionOf(sets[n]);
            std::array<double, 2> second{};
            structureFactors.compute(r, peaks.profile->radiationType, scratch, &second);
            setIntensity(crystal, r, peaks.profile.get());
            polarise(instrument, instrument.wavelength, r);
            correctForSample(instrument, instrument.wavelength, r);
            r.peakPosition = peakPositionOf(instrument, peaks.profile.get(), &r, difB);
            if (!std::isfinite(r.intensity)) fail(PK_ERROR_INTERNAL, where + ": an intensity is not a number");
            makePeak(n);
            if (!secondary) continue;
            // The second line's own structure factor: its dispersion differs.
            Reflexion source = r;
            source.structureFactorReal = second[0];
            source.structureFactorImag = second[1];
            Reflexion *made = secondaryWavelengthReflexion(crystal, &source, peaks.profile.get());
            if (made == nullptr) throw std::bad_alloc();
            Reflexion &companion = peaks.reflexions[primaries + n] = *made;
            made->methods->freeReflexion(made);
            companion.methods = nullptr;
            polarise(instrument, instrument.wavelength2, companion);
            correctForSample(instrument, instrument.wavelength2, companion);
            companion.peakPosition = peakPositionOf(instrument, peaks.profile.get(), &companion);
            makePeak(primaries + n);
        }
    });
    peaks.primaryCount = primaries;
    for (std::size_t n = 0; n < primaries; ++n) {
        const double position = peaks.reflexions[n].peakPosition;
        if (position >= xMin && position <= xMax) peaks.ticks.push_back(position);
    }
    std::sort(peaks.ticks.begin(), peaks.ticks.end());
    return peaks;
}

void addPhase(const PhasePeaks &peaks, const double *x, int32_t count, double *y) {
    addPhase(peaks, x, count, y, 0, count - 1);
}

void addPhase(const PhasePeaks &peaks, const double *x, int32_t count, double *y, int32_t first, int32_t last) {
    Progress progress("adding peaks");
    const double total = static_cast<double>(peaks.reflexions.size());
    const bool tof = peaks.cwPeaks.empty();
    visitWindows(peaks, x, count, [&](std::size_t n, const ReflexionRange &range) {
        progress.at(static_cast<double>(n) / total);
        const int32_t from = std::max(range.firstIndex, first), to = std::min(range.lastIndex, last);
        if (from > to) return;
        const double factor = peaks.scale * peaks.reflexions[n].intensity;
        if (tof) {
            addTofWindow(peaks.tofPeaks[n], x, from, to, factor, y);
        } else {
            addCwPeak(peaks, n, x, from, to, factor, y);
        }
    });
}

void findWindows(PhasePeaks &peaks, const double *x, int32_t count, std::size_t first, std::size_t end) {
    for (std::size_t n = first; n < end; ++n) {
        ReflexionRange &range = peaks.ranges[n];
        if (!windowOf(peaks, n, x, count, range)) range = ReflexionRange{};
    }
}

void addWindowWork(const PhasePeaks &peaks, const double *x, int32_t count, int shift, std::vector<std::int64_t> &work) {
    visitWindows(peaks, x, count, [&](std::size_t, const ReflexionRange &range) {
        work[static_cast<std::size_t>(range.firstIndex) >> shift] += range.lastIndex - range.firstIndex + 1;
    });
}

namespace {

std::unique_ptr<pk_pattern_model> makeModel(const pk_instrument &instrument, const pk_phase_setting *phases,
                                            int32_t phaseCount, const double *background,
                                            int32_t backgroundCount, double xMin, double xMax) {
    validateInstrument(instrument);
    if (phaseCount < 0) fail(PK_ERROR_ARGUMENT, "the phase count is negative");
    if (phaseCount > 0) requireArgument(phases, "phases");
    if (backgroundCount < 0 || backgroundCount > PK_BACKGROUND_COEFFICIENTS) {
        fail(PK_ERROR_ARGUMENT, "the background takes 0 to 13 coefficients, not " + std::to_string(backgroundCount));
    }
    if (backgroundCount > 0) requireArgument(background, "background");
    if (!std::isfinite(xMin) || !std::isfinite(xMax) || !(xMax > xMin)) {
        fail(PK_ERROR_ARGUMENT, "the span x_min … x_max is empty or not a number");
    }
    if (instrument.axis == PK_AXIS_TWO_THETA && !(xMin - instrument.zero > 0.0)) {
        fail(PK_ERROR_ARGUMENT, "x_min must lie above 0° 2θ (zero included)");
    }
    // 2θ = 180° is backscattering: no Bragg angle lies beyond it.
    if (instrument.axis == PK_AXIS_TWO_THETA && !(xMax - instrument.zero < 180.0)) {
        fail(PK_ERROR_ARGUMENT, "x_max = " + shortest(xMax) + ": must lie below 180° 2θ (zero included)");
    }
    if (instrument.axis == PK_AXIS_TOF && !(xMin > 0.0)) fail(PK_ERROR_ARGUMENT, "x_min must be a positive flight time");
    auto model = std::make_unique<pk_pattern_model>();
    model->instrument = instrument;
    model->xMin = xMin;
    model->xMax = xMax;
    for (int32_t i = 0; i < backgroundCount; ++i) {
        if (!std::isfinite(background[i])) fail(PK_ERROR_ARGUMENT, "background coefficient " + std::to_string(i) + " is not a number");
        model->background[static_cast<std::size_t>(i)] = background[i];
    }
    model->hasBackground = backgroundCount > 0;
    for (int32_t i = 0; i < phaseCount; ++i) {
        const std::string where = "phase " + std::to_string(i);
        if (phases[i].phase != nullptr && phases[i].phase->description.sites.empty()) {
            fail(PK_ERROR_ARGUMENT, where + " (" + phases[i].phase->description.name +
                                        "): no atom sites, so every intensity is zero; a pattern needs the structure");
        }
        model->phases.push_back(makePhasePeaks(instrument, phases[i], where, xMin, xMax));
    }
    return model;
}

void compute(const pk_pattern_model &model, int32_t part, const double *x, int32_t count, double *y) {
    if (count < 0) fail(PK_ERROR_ARGUMENT, "the point count is negative");
    if (count == 0) return;
    requireArgument(x, "x");
    requireArgument(y, "y");
    for (int32_t i = 0; i < count; ++i) {
        if (!std::isfinite(x[i])) fail(PK_ERROR_ARGUMENT, "x[" + std::to_string(i) + "] is not a number");
        if (i > 0 && !(x[i] > x[i - 1])) fail(PK_ERROR_ARGUMENT, "x is not ascending at x[" + std::to_string(i) + "]");
    }
    const auto phaseCount = static_cast<int32_t>(model.phases.size());
    if (part != PK_PART_TOTAL && part != PK_PART_BACKGROUND && (part < 0 || part >= phaseCount)) {
        fail(PK_ERROR_ARGUMENT, "part " + std::to_string(part) + " names no phase of the model");
    }
    for (int32_t i = 0; i < count; ++i) y[i] = 0.0;
    if ((part == PK_PART_TOTAL || part == PK_PART_BACKGROUND) && model.hasBackground) {
        for (int32_t i = 0; i < count; ++i) {
            y[i] = BackgroundIntensity(model.background.data(), x[i], model.xMin, model.xMax);
        }
    }
    for (int32_t n = 0; n < phaseCount; ++n) {
        if (part == PK_PART_TOTAL || part == n) addPhase(model.phases[static_cast<std::size_t>(n)], x, count, y);
    }
}

}  // namespace

}  // namespace powderkit::phase

using namespace powderkit::phase;

extern "C" {

int32_t pk_pattern_model_make(const pk_instrument *instrument, const pk_phase_setting *phases,
                              int32_t phase_count, const double *background, int32_t background_count,
                              double x_min, double x_max, pk_pattern_model **model, pk_error *error) {
    if (model != nullptr) *model = nullptr;
    return guarded(error, [&] {
        requireArgument(instrument, "instrument");
        requireArgument(model, "model");
        *model = makeModel(*instrument, phases, phase_count, background, background_count, x_min, x_max).release();
    });
}

void pk_pattern_model_free(pk_pattern_model *model) { delete model; }

int32_t pk_pattern_model_compute(const pk_pattern_model *model, int32_t part, const double *x, int32_t count,
                                 double *y, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(model, "model");
        compute(*model, part, x, count, y);
    });
}

int32_t pk_pattern_model_phase_count(const pk_pattern_model *model) {
    return model != nullptr ? static_cast<int32_t>(model->phases.size()) : 0;
}

int32_t pk_pattern_model_peak_positions(const pk_pattern_model *model, int32_t phase_index, double *positions,
                                        int32_t capacity, int32_t *written, pk_error *error) {
    if (written != nullptr) *written = 0;
    return guarded(error, [&] {
        requireArgument(model, "model");
        const std::size_t phase = requireIndex(phase_index, model->phases.size(), "phase");
        copyOut(model->phases[phase].ticks, positions, capacity, written, "positions");
    });
}

int32_t pk_pattern(const pk_instrument *instrument, const pk_phase_setting *phases, int32_t phase_count,
                   const double *background, int32_t background_count, const double *x, int32_t count,
                   double *y, pk_error *error) {
    return guarded(error, [&] {
        requireArgument(instrument, "instrument");
        if (count < 2) fail(PK_ERROR_ARGUMENT, "a pattern needs at least 2 points");
        requireArgument(x, "x");
        const auto model = makeModel(*instrument, phases, phase_count, background, background_count, x[0], x[count - 1]);
        compute(*model, PK_PART_TOTAL, x, count, y);
    });
}

}  // extern "C"
