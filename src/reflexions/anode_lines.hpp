// The X-ray lines of the usual anodes beyond the Kα doublet the instrument
// carries (instrument.cpp).
#ifndef POWDERKIT_REFLEXIONS_ANODE_LINES_HPP
#define POWDERKIT_REFLEXIONS_ANODE_LINES_HPP

namespace powderkit::phase {

// The Kβ1 wavelength (Å) and the anode's name of the anode whose Kα1 is
// `alpha1` (within 1e-4 Å); 0 and "" for any other wavelength. A Kβ filter
// lets a little of it through, which shows as weak lines at λβ/λα of every
// strong line's sin θ.
struct BetaLine {
    double wavelength;
    const char *anode;
};
BetaLine betaLineOf(double alpha1);

}  // namespace powderkit::phase

#endif
