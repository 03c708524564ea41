// Anomalous dispersion: f′ and f″ against the source table interpolated by hand, and the X-ray |F|² of an iron and
// a zinc-oxide phase against direct complex sums over the positions with f = f0 + f′ + i f″, f0 from the
// four-Gaussian coefficients of tests/data/elements.tsv.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "boundary/boundary.hpp"
#include "crystal/dispersion.hpp"
#include "support/phase_calls.hpp"
#include "support/element_data.hpp"

namespace {

using namespace pk_test;
using Complex = std::complex<double>;

constexpr double kCuAlpha1 = 1.540593, kCuAlpha2 = 1.544414, kMoAlpha1 = 0.709319;

// f0(s) = Σ aᵢ exp(−bᵢ s²) + c, s = 1 / (2d), from the reference row of `symbol`.
double f0(const std::string &symbol, double d) {
    const std::vector<std::string> &row = *findElement(symbol);
    const double s2 = 1.0 / (4.0 * d * d);
    double f = std::stod(row[11]);
    for (int i = 0; i < 4; ++i) f += std::stod(row[3 + 2 * i]) * std::exp(-std::stod(row[4 + 2 * i]) * s2);
    return f;
}

struct Atom {
    std::string type;
    double x, y, z;
    Complex dispersion;  // f′ + i f″ at Cu Kα1, from the table below
};

// F(h) = Σ f e^{2πi h·x} over every position, U = 0.
Complex structureFactor(const std::vector<Atom> &atoms, int h, int k, int l, double d) {
    Complex sum = 0.0;
    for (const Atom &atom : atoms) {
        const double turns = h * atom.x + k * atom.y + l * atom.z;
        sum += (f0(atom.type, d) + atom.dispersion) * std::polar(1.0, 2.0 * M_PI * turns);
    }
    return sum;
}

pk_reflexion_list *cuList(const pk_phase *phase, int32_t dispersion) {
    pk_instrument instrument;
    pk_instrument_default(&instrument);
    instrument.dispersion = dispersion;
    pk_reflexion_list *list = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_reflexion_list_make(phase, &instrument, PK_LIMIT_D_MIN, 0.7, &list, &e), PK_OK) << e.message;
    return list;
}

pk_phase *phaseOf(const char *symbol, const double cell[6], const std::vector<pk_site> &sites) {
    pk_phase *phase = nullptr;
    pk_error e{};
    EXPECT_EQ(pk_phase_from_symbol("test", symbol, cell, sites.data(), static_cast<int32_t>(sites.size()), &phase, &e),
              PK_OK)
        << e.message;
    return phase;
}

pk_site siteOf(const char *label, const char *type, double x, double y, double z) {
    pk_site site{};
    site.label = label;
    site.type = type;
    site.x = x, site.y = y, site.z = z;
    site.occupancy = 1.0;
    return site;
}

// f′ = f1 − Z and f″ = f2, interpolated linearly in E = hc/λ between the two rows of the Henke table
// (periodictable/xsf/<element>.nff) that hold it, worked out once with a few lines of Python:
//   Fe Cu Kα1 8047.823 eV between (7920.68, 24.6873, 3.28802) and (8048.79, 24.8575, 3.20844)
//   Fe Cu Kα2 8027.912 eV between the same rows
//   Fe Mo Kα1 17479.329 eV between (17386.1, 26.3591, 0.854515) and (17667.4, 26.3563, 0.829578)
//   Zn Cu Kα1 between (7920.68, 28.507, 0.724156) and (8048.79, 28.4398, 0.703408)
//   Zn Mo Kα1 between (17386.1, 30.3104, 1.47527) and (17667.4, 30.3184, 1.43391)
//   O  Cu Kα1 between (7920.68, 8.05374, 0.034871) and (8048.79, 8.05231, 0.033698)
//   U  Mo Kα1 between (17386.1, 81.4419, 10.4638) and (17667.4, 83.1057, 10.183)
struct Expected {
    const char *type;
    double wavelength, fPrime, fDoublePrime;
};
const Expected kHandValues[] = {
    {"Fe", kCuAlpha1, -1.1437846483, 3.2090406599}, {"Fe3+", kCuAlpha2, -1.1702372414, 3.2214090345},
    {"FE", kMoAlpha1, 0.3581720230, 0.8462503708},  {"Zn", kCuAlpha1, -1.5596927828, 0.7035646033},
    {"Zn2+", kMoAlpha1, 0.3130513628, 1.4615624544}, {"O2-", kCuAlpha1, 0.0523207935, 0.0337068537},
    {"U", kMoAlpha1, -10.0066828259, 10.3707371664},
};

TEST(Dispersion, TermsAreTheTableInterpolatedInEnergy) {
    for (const Expected &e : kHandValues) {
        const powderkit::phase::Dispersion d = powderkit::phase::anomalousDispersion(e.type, e.wavelength);
        EXPECT_NEAR(d.fPrime, e.fPrime, 1e-9) << e.type << " at " << e.wavelength;
        EXPECT_NEAR(d.fDoublePrime, e.fDoublePrime, 1e-9) << e.type << " at " << e.wavelength;
    }
    const std::pair<const char *, double> refused[] = {{"Pu", kCuAlpha1}, {"Fe", 0.3}, {"Fe", 4.2}, {"", kCuAlpha1}};
    for (const auto &[type, wavelength] : refused) {
        EXPECT_THROW(powderkit::phase::anomalousDispersion(type, wavelength), powderkit::phase::Failure) << type;
    }
}

// α-Fe (Im-3m, one atom per lattice point): F = 2f T for every reflexion, so dispersion multiplies |F|² and the
// intensity by |f0 + f′ + i f″|² / f0², whatever T and Lp.
TEST(Dispersion, IronLinesChangeByTheHandRatio) {
    const double cell[6] = {2.8665, 2.8665, 2.8665, 90, 90, 90};
    pk_site iron = siteOf("Fe1", "Fe", 0, 0, 0);
    iron.u_iso = 0.005;
    pk_phase *phase = phaseOf("I m -3 m", cell, {iron});
    pk_reflexion_list *with = cuList(phase, 1), *without = cuList(phase, 0);
    const std::vector<double> d = valuesOf(with, PK_QUANTITY_D), on = valuesOf(with, PK_QUANTITY_INTENSITY),
                              off = valuesOf(without, PK_QUANTITY_INTENSITY), f2 = valuesOf(with, PK_QUANTITY_F2),
                              f2off = valuesOf(without, PK_QUANTITY_F2);
    ASSERT_EQ(d.size(), off.size());
    ASSERT_GE(d.size(), 5u);  // 110 200 211 220 310 …
    for (std::size_t i = 0; i < d.size(); ++i) {
        const double ratio = std::norm(f0("Fe", d[i]) + Complex(-1.1437846483, 3.2090406599)) / std::pow(f0("Fe", d[i]), 2);
        EXPECT_NEAR(on[i] / off[i], ratio, 1e-9 * ratio) << d[i];
        EXPECT_NEAR(f2[i] / f2off[i], ratio, 1e-9 * ratio) << d[i];
    }
    // 110 at Cu Kα1: f0 = 18.16 falls to 17.0 + 3.2i, about 4 % less intensity.
    EXPECT_LT(on[0] / off[0], 0.97);
    pk_reflexion_list_free(with);
    pk_reflexion_list_free(without);
    pk_phase_free(phase);
}

// ZnO (P6₃mc) has no centre of symmetry: with f″ the powder line holds (|F(h)|² + |F(−h)|²)/2. NaCl (Fm-3m) has one,
// and there |F(h)| = |F(−h)|.
TEST(Dispersion, PowderLinesHoldTheMeanOfHAndMinusH) {
    const Complex zn(-1.5596927828, 0.7035646033), o(0.0523207935, 0.0337068537);
    const double u = 0.3819;
    const std::vector<Atom> zincOxide = {{"Zn", 1.0 / 3, 2.0 / 3, 0.0, zn},
                                         {"Zn", 2.0 / 3, 1.0 / 3, 0.5, zn},
                                         {"O", 1.0 / 3, 2.0 / 3, u, o},
                                         {"O", 2.0 / 3, 1.0 / 3, 0.5 + u, o}};
    std::vector<Atom> rockSalt;  // f′ and f″ of Na and Cl as the table gives them (checked above for other elements)
    for (const auto &t : {std::array<double, 3>{0, 0, 0}, {0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}}) {
        for (const char *element : {"Na", "Cl"}) {
            const auto f = powderkit::phase::anomalousDispersion(element, kCuAlpha1);
            rockSalt.push_back({element, t[0] + (element[0] == 'C' ? 0.5 : 0.0), t[1], t[2],
                                Complex(f.fPrime, f.fDoublePrime)});
        }
    }
    const double hexagonal[6] = {3.2498, 3.2498, 5.2066, 90, 90, 120}, cubic[6] = {5.6402, 5.6402, 5.6402, 90, 90, 90};
    struct Case {
        const char *symbol;
        const double *cell;
        std::vector<pk_site> sites;
        const std::vector<Atom> *atoms;
        bool centrosymmetric;
    } cases[] = {
        {"P 63 m c", hexagonal, {siteOf("Zn1", "Zn", 1.0 / 3, 2.0 / 3, 0), siteOf("O1", "O", 1.0 / 3, 2.0 / 3, u)},
         &zincOxide, false},
        {"F m -3 m", cubic, {siteOf("Na1", "Na", 0, 0, 0), siteOf("Cl1", "Cl", 0.5, 0, 0)}, &rockSalt, true},
    };
    for (const Case &c : cases) {
        pk_phase *phase = phaseOf(c.symbol, c.cell, c.sites);
        pk_reflexion_list *list = cuList(phase, 1);
        const std::vector<Hkl> hkl = indicesOf(list);
        const std::vector<double> d = valuesOf(list, PK_QUANTITY_D), f2 = valuesOf(list, PK_QUANTITY_F2);
        double strongest = 0.0, largestSplit = 0.0;
        for (double value : f2) strongest = std::max(strongest, value);
        for (std::size_t i = 0; i < hkl.size(); ++i) {
            const auto [h, k, l] = hkl[i];
            const double plus = std::norm(structureFactor(*c.atoms, h, k, l, d[i]));
            const double minus = std::norm(structureFactor(*c.atoms, -h, -k, -l, d[i]));
            EXPECT_NEAR(f2[i], 0.5 * (plus + minus), 1e-10 * strongest) << c.symbol << " " << h << k << l;
            largestSplit = std::max(largestSplit, std::fabs(plus - minus) / (plus + minus));
        }
        if (c.centrosymmetric) {
            EXPECT_LT(largestSplit, 1e-12) << c.symbol;
        } else {
            EXPECT_GT(largestSplit, 0.01) << c.symbol;  // Friedel's law fails, so the mean matters
        }
        pk_reflexion_list_free(list);
        pk_phase_free(phase);
    }
}

}  // namespace
