// Anomalous dispersion: the X-ray scattering factor of an atom near its
// absorption edges is f = f0(sin θ/λ) + f′(E) + i f″(E), where f′ and f″
// depend on the photon energy E = hc/λ and not on the angle. The layer takes
// them from one table (dispersion_table.inc, made by
// scripts/make_dispersion_table.py from the tables of Henke, Gullikson and
// Davis, 1993) and interpolates linearly in energy between its rows, as the
// table's own software does.
#ifndef POWDERKIT_PHASE_DISPERSION_HPP
#define POWDERKIT_PHASE_DISPERSION_HPP

namespace powderkit::phase {

// One row of the table: photon energy (eV), f′ and f″ (electrons).
struct DispersionRow {
    double energy, fPrime, fDoublePrime;
};

// One element's rows: kDispersionRows[first … first + count − 1], energies ascending.
struct DispersionElement {
    const char *symbol;
    int first, count;
};

extern const DispersionRow kDispersionRows[];
extern const DispersionElement kDispersionElements[];
extern const int kDispersionElementCount;

// f′ and f″ (electrons) of one element.
struct Dispersion {
    double fPrime = 0.0, fDoublePrime = 0.0;
};

// hc in eV·Å (CODATA 2018: h c = 1.239841984… × 10⁻⁶ eV m).
constexpr double kPlanckTimesLightSpeed = 12398.419843320026;

// The energies (eV) the table covers for every element: 3 to 30 keV.
constexpr double kDispersionLowestEnergy = 3000.0, kDispersionHighestEnergy = 30000.0;

// Fails (PK_ERROR_ARGUMENT), naming `what`, unless the table covers the
// X-ray wavelength λ (Å): 0.4133 … 4.1328 Å.
void checkDispersionWavelength(double wavelength, const char *what);

// f′ and f″ of the element that the site type `type` names ("Fe", "Fe3+",
// "O2-"; "D" is hydrogen) at the X-ray wavelength λ (Å). Fails
// (PK_ERROR_ARGUMENT) naming the element or the wavelength when the table has
// no value: elements beyond U, wavelengths it does not cover.
Dispersion anomalousDispersion(const char *type, double wavelength);

}  // namespace powderkit::phase

#endif
