// Instruments: the default a user starts from, the X-ray lines of the usual
// anodes, and the anomalous-dispersion terms of an element at a wavelength.
//
// Kα1 and Kα2 wavelengths (Å) as tabulated in International Tables for
// Crystallography Vol. C, Table 4.2.2.1. The Kα2/Kα1 intensity ratio is the
// conventional 0.5 of the doublet for every anode. Kβ1 wavelengths (Å) as
// Bearden (1967) tabulates them; they only name lines that a filter let
// through, within some widths of a peak, so their last digits do not matter.
#include <cmath>
#include <cstring>
#include <string>

#include "boundary/boundary.hpp"
#include "crystal/dispersion.hpp"
#include "reflexions/anode_lines.hpp"

namespace powderkit::phase {

namespace {

struct AnodeLines {
    const char *name;
    double alpha1;
    double alpha2;
    double ratio;
    double beta1;
};

constexpr AnodeLines kAnodes[] = {
    {"Cu", 1.540593, 1.544414, 0.5, 1.392218},  //
    {"Co", 1.789010, 1.792900, 0.5, 1.620790},  //
    {"Mo", 0.709319, 0.713609, 0.5, 0.632288},  //
    {"Fe", 1.936042, 1.939980, 0.5, 1.756610},  //
    {"Cr", 2.289760, 2.293663, 0.5, 2.084870},  //
    {"Ag", 0.559421, 0.563813, 0.5, 0.497069},  //
};
static_assert(sizeof kAnodes / sizeof kAnodes[0] == 6, "six anodes");

const AnodeLines &anodeNamed(const char *anode) {
    requireArgument(anode, "anode");
    for (const AnodeLines &lines : kAnodes) {
        if (strcasecmp(lines.name, anode) == 0) return lines;
    }
    fail(PK_ERROR_ARGUMENT, std::string("unknown anode \"") + anode + "\" (known: Cu, Co, Mo, Fe, Cr, Ag)");
}

}  // namespace

BetaLine betaLineOf(double alpha1) {
    for (const AnodeLines &lines : kAnodes) {
        if (std::fabs(lines.alpha1 - alpha1) <= 1e-4) return {lines.beta1, lines.name};
    }
    return {0.0, ""};
}

}  // namespace powderkit::phase

using namespace powderkit::phase;

extern "C" {

void pk_instrument_default(pk_instrument *instrument) {
    if (instrument == nullptr) return;
    *instrument = pk_instrument{};
    instrument->axis = PK_AXIS_TWO_THETA;
    instrument->radiation = PK_RADIATION_XRAY;
    instrument->wavelength = kAnodes[0].alpha1;
    instrument->radius = 240.0;
    instrument->tof_two_theta = 90.0;
    instrument->dtt1 = 1000.0;
    instrument->dispersion = 1;
}

void pk_instrument_default_source(pk_instrument *instrument) {
    if (instrument == nullptr) return;
    pk_instrument_default(instrument);
    const AnodeLines &copper = kAnodes[0];
    instrument->wavelength = copper.alpha1;
    instrument->wavelength2 = copper.alpha2;
    instrument->ratio2 = copper.ratio;
}

int32_t pk_anode_lines(const char *anode, double *alpha1, double *alpha2, double *ratio, pk_error *error) {
    return guarded(error, [&] {
        const AnodeLines &lines = anodeNamed(anode);
        if (alpha1 != nullptr) *alpha1 = lines.alpha1;
        if (alpha2 != nullptr) *alpha2 = lines.alpha2;
        if (ratio != nullptr) *ratio = lines.ratio;
    });
}

int32_t pk_instrument_set_anode(pk_instrument *instrument, const char *anode, bool with_alpha2,
                                pk_error *error) {
    return guarded(error, [&] {
        requireArgument(instrument, "instrument");
        const AnodeLines &lines = anodeNamed(anode);
        instrument->axis = PK_AXIS_TWO_THETA;
        instrument->radiation = PK_RADIATION_XRAY;
        instrument->wavelength = lines.alpha1;
        instrument->wavelength2 = with_alpha2 ? lines.alpha2 : 0.0;
        instrument->ratio2 = with_alpha2 ? lines.ratio : 0.0;
    });
}

int32_t pk_anomalous_dispersion(const char *type, double wavelength, double *f_prime, double *f_double_prime,
                                pk_error *error) {
    return guarded(error, [&] {
        requireArgument(type, "type");
        const Dispersion terms = anomalousDispersion(type, wavelength);
        if (f_prime != nullptr) *f_prime = terms.fPrime;
        if (f_double_prime != nullptr) *f_double_prime = terms.fDoublePrime;
    });
}

}  // extern "C"
