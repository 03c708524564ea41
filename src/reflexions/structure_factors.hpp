// The layer's own structure factors and intensities: the core's formulas with
// the work laid out for speed. The scattering factor is worked out once per
// reflexion and scattering class (sites with the same occupants), the
// temperature factor once per displacement class (sites with the same U), and
// the phase sum runs over every position of the cell with a vectorised sin
// and cos, summed in eight interleaved partial sums in a fixed order, so that
// every machine and every run gives the same bits. A test holds A, B, |F|²
// and the intensities to the core's calculateIntensityForReflexion.
#ifndef POWDERKIT_PHASE_STRUCTURE_FACTORS_HPP
#define POWDERKIT_PHASE_STRUCTURE_FACTORS_HPP

#include <array>
#include <cstdint>
#include <vector>

#include "powderkit.h"
#include "powderkit_phase.h"

namespace powderkit::phase {

class StructureFactors {
public:
    // Lays out the sites and positions of `crystal`, which must outlive this
    // object and keep its sites unchanged. With an X-ray `instrument` on a 2θ
    // axis whose `dispersion` is on, each site's scattering factor becomes
    // f0 + f′ + i f″ with the f′ and f″ of its occupants at each of the
    // instrument's lines (fails naming an element or wavelength the table
    // does not hold).
    explicit StructureFactors(RefinementCrystal *crystal, const pk_instrument *instrument = nullptr);

    // Work arrays of one caller (one thread); sized by the first call.
    struct Scratch {
        std::vector<double> scattering, exponent, temperature, atom;
    };

    // Sets A and B (structureFactorReal, structureFactorImag) of `reflexion`
    // (its h k l and d) for X-rays or neutrons (PK_RADIATION_*). With
    // dispersion, F(h) = (A′ − B″) + i(B′ + A″), where A′ B′ are the cosine
    // and sine sums weighted by (f0 + f′)T and A″ B″ those weighted by f″T;
    // a powder line holds h and −h alike, so its intensity goes with the mean
    // (|F(h)|² + |F(−h)|²)/2 = A′² + B′² + A″² + B″², and the reflexion gets
    // A = ±√(A′² + A″²), B = ±√(B′² + B″²) (the signs of A′ and B′), whose
    // squares sum to it. `second`, when given, receives the A and B of the
    // second line (Kα2), which differ from the first's only by dispersion.
    void compute(Reflexion &reflexion, int32_t radiation, Scratch &scratch,
                 std::array<double, 2> *second = nullptr) const;

    // Whether the scattering factors carry anomalous dispersion.
    bool dispersive() const { return !dispersion_.empty(); }

private:
    struct Displacement {
        int kind = 0;  // 0: none (T = 1), 1: isotropic, 2: anisotropic
        double uIso = 0.0;
        std::array<double, 6> u{};  // U11 U22 U33 U12 U13 U23
    };
    RefinementCrystal *crystal_;
    std::vector<Site *> scatteringClasses_;  // the first site of each class
    // Per scattering class, when dispersive: f′ and f″ at the first line, then at the second.
    std::vector<std::array<double, 4>> dispersion_;
    bool secondLine_ = false;
    std::vector<Displacement> displacementClasses_;
    std::vector<int32_t> atomScattering_, atomDisplacement_;  // the classes of each position's site
    std::vector<double> x_, y_, z_;                           // every position, fractional
};

// Sets the Lorentz(-polarisation) factor and the integrated intensity of a
// reflexion whose A and B are set, with the core's formulas:
// I = m |F|² Lp λ³ / V² (the March correction instead of m when the crystal
// uses it); for time of flight L = d⁴ sin θ_bank and no λ³.
void setIntensity(RefinementCrystal *crystal, Reflexion &reflexion, RefinementProfile *profile);

// What a monochromator at 2θ_M does to an X-ray reflexion at wavelength λ
// and d: its polarisation (1 + cos² 2θ_M cos² 2θ) / (1 + cos² 2θ_M) over the
// unpolarised beam's (1 + cos² 2θ) / 2, which Lp and the intensity are
// multiplied by. 1 exactly for 2θ_M = 0.
double monochromatorFactor(double monochromator, double wavelength, double d);

// Applies the instrument's monochromator (if any, X-rays on a 2θ axis) to a
// reflexion whose Lp and intensity are set, seen at `wavelength`.
void polarise(const pk_instrument &instrument, double wavelength, Reflexion &reflexion);

}  // namespace powderkit::phase

#endif
