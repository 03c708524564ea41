// The compact table of atomic weights by element symbol, from which a site's
// weight is summed for the density of a crystal. These are the table's own
// values, searched in its own order: they differ here and there from the
// weights column of the element table text (H 1.0078, Tc 99.0, Pm 147.0,
// Pu 242.0), the lanthanides follow actinium, lawrencium is spelled "Lw", and
// the last entry "##" weighs nothing. There are no entries for ions.
#include <array>
#include <cstring>

#include "elements/elements.hpp"

namespace powderkit {

namespace {

constexpr std::array<AtomicWeightEntry, kAtomicWeightCount> kAtomicWeights = {{
    {"Wa", 18.016}, {"OH", 17.008}, {"H", 1.0078}, {"D", 2.0141}, {"He", 4.003}, {"Li", 6.941},
    {"Be", 9.012}, {"B", 10.81}, {"C", 12.01}, {"N", 14.01}, {"O", 16.0}, {"F", 19.0},
    {"Ne", 20.18}, {"Na", 22.99}, {"Mg", 24.31}, {"Al", 26.98}, {"Si", 28.09}, {"P", 30.97},
    {"S", 32.06}, {"Cl", 35.45}, {"Ar", 39.95}, {"K", 39.1}, {"Ca", 40.08}, {"Sc", 44.96},
    {"Ti", 47.9}, {"V", 50.94}, {"Cr", 52.0}, {"Mn", 54.94}, {"Fe", 55.85}, {"Co", 58.93},
    {"Ni", 58.71}, {"Cu", 63.55}, {"Zn", 65.37}, {"Ga", 69.72}, {"Ge", 72.6}, {"As", 74.92},
    {"Se", 78.96}, {"Br", 79.9}, {"Kr", 83.8}, {"Rb", 85.47}, {"Sr", 87.62}, {"Y", 88.91},
    {"Zr", 91.22}, {"Nb", 92.91}, {"Mo", 95.94}, {"Tc", 99.0}, {"Ru", 101.1}, {"Rh", 102.9},
    {"Pd", 106.4}, {"Ag", 107.9}, {"Cd", 112.4}, {"In", 114.8}, {"Sn", 118.7}, {"Sb", 121.8},
    {"Te", 127.6}, {"I", 126.9}, {"Xe", 131.3}, {"Cs", 132.9}, {"Ba", 137.3}, {"La", 138.9},
    {"Hf", 178.5}, {"Ta", 180.9}, {"W", 183.9}, {"Re", 186.2}, {"Os", 190.2}, {"Ir", 192.2},
    {"Pt", 195.1}, {"Au", 197.0}, {"Hg", 200.6}, {"Tl", 204.4}, {"Pb", 207.2}, {"Bi", 209.0},
    {"Po", 210.0}, {"At", 210.0}, {"Rn", 222.0}, {"Fr", 223.0}, {"Ra", 226.0}, {"Ac", 227.0},
    {"Ce", 140.1}, {"Pr", 140.9}, {"Nd", 144.2}, {"Pm", 147.0}, {"Sm", 150.4}, {"Eu", 152.0},
    {"Gd", 157.3}, {"Tb", 158.9}, {"Dy", 162.5}, {"Ho", 164.9}, {"Er", 167.3}, {"Tm", 168.9},
    {"Yb", 173.0}, {"Lu", 175.0}, {"Th", 232.0}, {"Pa", 231.0}, {"U", 238.0}, {"Np", 237.0},
    {"Pu", 242.0}, {"Am", 243.0}, {"Cm", 248.0}, {"Bk", 247.0}, {"Cf", 251.0}, {"Es", 254.0},
    {"Fm", 253.0}, {"Md", 256.0}, {"No", 254.0}, {"Lw", 257.0}, {"##", 0.0},
}};

static_assert(kAtomicWeights.size() == 107, "the atomic-weight table has 107 entries");
static_assert(kAtomicWeights[2].weight == 1.0078, "H is 1.0078 in this table");
static_assert(kAtomicWeights[28].weight == 55.85 && kAtomicWeights[28].symbol[0] == 'F',
              "Fe is entry 28");
static_assert(kAtomicWeights[106].weight == 0.0 && kAtomicWeights[106].symbol[0] == '#',
              "the table ends with ## of weight 0");

}  // namespace

const AtomicWeightEntry &atomicWeightEntry(int32_t index) {
    return kAtomicWeights[static_cast<std::size_t>(index)];
}

double atomicWeightForSymbol(const char *symbol) {
    if (symbol == nullptr) return 0.0;
    for (const AtomicWeightEntry &entry : kAtomicWeights) {
        if (std::strcmp(entry.symbol, symbol) == 0) return entry.weight;
    }
    return 0.0;
}

}  // namespace powderkit
