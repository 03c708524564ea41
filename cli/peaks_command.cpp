// `powderkit peaks`: the significant peaks of a measured pattern, one row per
// peak with its fitted values and their esd's. The lines are the source's:
// the anode's, the wavelength given (one line), the instrument file's, the
// lines the file names, or the default source (Cu Kα1 + Kα2); d comes from
// Kα1, and with a Kα2 line every peak is fitted as a Kα1 + Kα2 doublet, so
// that no Kα2 line is a row of its own. A candidate whose fit failed is one
// line on standard error.
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "commands.hpp"
#include "phase_input.hpp"
#include "table_output.hpp"

namespace powderkit::cli {

namespace {

// First guess at the number of peaks and of failures; the call is repeated with the counts it reports.
constexpr int32_t kFirstCapacity = 256;

}  // namespace

std::string runPeaks(const PeaksOptions &options) {
    pk_peak_search search{};
    pk_peak_search_default(&search);
    if (options.has_significance) {
        if (!std::isfinite(options.significance) || options.significance < 0.0) {
            throw InputError("--significance: must be a number ≥ 0, not " + formatNumber(options.significance));
        }
        search.significance = options.significance;
    }
    pk_error error{};
    const MeasuredPatternHandle pattern = readMeasuredPattern(options.file, options.source.bank, "peaks");
    SourceOptions source = options.source;
    takeFileWavelengths(source, *pattern);
    const pk_instrument instrument = makeInstrument(source, !options.no_alpha2);
    search.wavelength = instrument.wavelength;
    search.wavelength2 = instrument.wavelength2;
    search.ratio2 = instrument.ratio2;

    std::vector<pk_peak> peaks(kFirstCapacity);
    std::vector<pk_peak_failure> failures(kFirstCapacity);
    int32_t peak_count = 0;
    int32_t failure_count = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        check(pk_find_peaks(pattern.get(), &search, peaks.data(), static_cast<int32_t>(peaks.size()), &peak_count,
                            failures.data(), static_cast<int32_t>(failures.size()), &failure_count, &error),
              error);
        if (static_cast<std::size_t>(peak_count) <= peaks.size() &&
            static_cast<std::size_t>(failure_count) <= failures.size()) {
            break;
        }
        peaks.resize(std::max(peaks.size(), static_cast<std::size_t>(peak_count)));
        failures.resize(std::max(failures.size(), static_cast<std::size_t>(failure_count)));
    }

    for (int32_t k = 0; k < failure_count; ++k) {
        const pk_peak_failure &failure = failures[static_cast<std::size_t>(k)];
        std::fprintf(stderr, "powderkit: peak at 2θ = %s: %s\n", formatNumber(failure.position).c_str(),
                     failure.reason);
    }
    Table table({"two_theta", "d", "height", "fwhm", "eta", "area", "two_theta_esd", "d_esd", "height_esd",
                 "fwhm_esd", "eta_esd", "area_esd"});
    for (int32_t k = 0; k < peak_count; ++k) {
        const pk_peak &p = peaks[static_cast<std::size_t>(k)];
        table.row().add(p.position).add(p.d).add(p.height).add(p.fwhm).add(p.eta).add(p.area);
        table.add(p.position_esd).add(p.d_esd).add(p.height_esd).add(p.fwhm_esd).add(p.eta_esd).add(p.area_esd);
    }
    return table.text();
}

}  // namespace powderkit::cli
