// The phase layer's element table: the scattering data of every species of
// the library's element table text (src/elements/ASF.txt, compiled into this
// library too), by symbol, parsed once on first use.
#ifndef POWDERKIT_PHASE_ELEMENT_TABLE_HPP
#define POWDERKIT_PHASE_ELEMENT_TABLE_HPP

#include <array>
#include <string>

namespace powderkit::phase {

// One species: the nine X-ray coefficients a1 b1 a2 b2 a3 b3 a4 b4 c of
// f(s) = Σ aᵢ exp(−bᵢ s²) + c, s = sin θ / λ, and the coherent scattering
// length b (fm).
struct ElementData {
    std::string symbol;
    std::array<double, 9> coefficients;
    double scatteringLength;
};

// The species of a CIF type symbol: the symbol itself when the table holds it
// ("Li+", "OH"), else the neutral element of an ionic symbol ("O2-" → "O",
// "Fe3+" → "Fe"), letter case normalised ("FE" → "Fe"). Fails naming the
// symbol when neither is in the table.
const ElementData &elementForType(const std::string &type);

// The element named by a site label where a file has no type symbol: the
// longest leading run of letters that names an element ("Al1" → "Al",
// "O2a" → "O", "Ow" → "O"). Fails naming the label.
const ElementData &elementForLabel(const std::string &label);

}  // namespace powderkit::phase

#endif
