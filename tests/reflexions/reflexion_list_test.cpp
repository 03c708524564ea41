// Reflexion lists of the eight example structures against the independent reference lists of tests/data/reflexions,
// read from CIF in both tag styles and built from the space-group symbol; observed lines and representatives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "support/phase_calls.hpp"
#include "reflexions/sample_corrections.hpp"
#include "support/reference_phases.hpp"
#include "support/test_data.hpp"
#include "support/tolerances.hpp"

namespace {

using namespace pk_test;

// The same file with dotted tags.
std::string dotted(std::string text) {
    for (const auto &[from, to] : std::map<std::string, std::string>{
             {"_cell_length_", "_cell.length_"}, {"_cell_angle_", "_cell.angle_"}, {"_atom_site_", "_atom_site."},
             {"_symmetry_equiv_pos_as_xyz", "_space_group_symop.operation_xyz"},
             {"_symmetry_space_group_name_H-M", "_space_group.name_H-M_alt"}}) {
        for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
            text.replace(at, from.size(), to);
        }
    }
    return text;
}

// (R, t in 24ths mod 24) of every operator; with `planesOf`, ±h·R over them.
std::set<std::vector<int32_t>> operatorSet(const pk_phase *phase) {
    std::set<std::vector<int32_t>> ops;
    for (int32_t n = 0; n < pk_phase_operator_count(phase); ++n) {
        int32_t r[9];
        double t[3];
        pk_phase_operator(phase, n, r, t, nullptr);
        std::vector<int32_t> op(r, r + 9);
        for (double ti : t) op.push_back(static_cast<int32_t>((std::lround(ti * 24.0) % 24 + 24) % 24));
        ops.insert(op);
    }
    return ops;
}

std::set<Hkl> planesOf(const pk_phase *phase, const Hkl &h) {
    std::set<Hkl> planes;
    for (const auto &op : operatorSet(phase)) {
        Hkl image{};
        for (int j = 0; j < 3; ++j) image[j] = h[0] * op[j] + h[1] * op[3 + j] + h[2] * op[6 + j];
        planes.insert(image);
        planes.insert(Hkl{-image[0], -image[1], -image[2]});
    }
    return planes;
}

double largest(const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); }

// The reference prints d with 8 decimals, |F|², Lp and I with 9 significant digits: d within half its last decimal,
// the rest within 1e-6 of the strongest (the reference's f0 series are rounded to that).
TEST(ReflexionList, MatchesReferenceInBothTagStylesForBothRadiations) {
    for (const std::string &name : referenceStructureNames()) {
        const auto reference = readTable("reflexions/" + name + ".tsv");
        std::vector<double> column[10];
        for (const auto &row : reference) {
            for (std::size_t c = 3; c < 10; ++c) column[c].push_back(std::stod(row[c]));
        }
        const std::string text = exampleText(referenceCifFile(name));
        for (const std::string &cif : {text, dotted(text)}) {
            pk_phase *phase = phaseOf(cif);
            ASSERT_NE(phase, nullptr) << name;
            for (const bool xray : {true, false}) {
                SCOPED_TRACE(name + (cif == text ? " _tags" : " .tags") + (xray ? " X-rays" : " neutrons"));
                pk_reflexion_list *list = listOf(phase, xray ? PK_RADIATION_XRAY : PK_RADIATION_NEUTRON,
                                                          1.5406, PK_LIMIT_D_MIN, 0.8);
                const auto hkl = indicesOf(list);
                const auto d = valuesOf(list, PK_QUANTITY_D), m = valuesOf(list, PK_QUANTITY_MULTIPLICITY),
                           f2 = valuesOf(list, PK_QUANTITY_F2), lp = valuesOf(list, PK_QUANTITY_LP),
                           intensity = valuesOf(list, PK_QUANTITY_INTENSITY);
                pk_reflexion_list_free(list);
                ASSERT_EQ(hkl.size(), reference.size());
                std::map<Hkl, std::size_t> entryOf;
                for (std::size_t i = 0; i < hkl.size(); ++i) {
                    for (const Hkl &plane : planesOf(phase, hkl[i])) entryOf[plane] = i;
                }
                const auto &f2Ref = column[xray ? 5 : 6], &iRef = column[xray ? 8 : 9];
                std::set<std::size_t> matched;
                for (std::size_t r = 0; r < reference.size(); ++r) {
                    const auto found = entryOf.find(
                        Hkl{std::stoi(reference[r][0]), std::stoi(reference[r][1]), std::stoi(reference[r][2])});
                    ASSERT_NE(found, entryOf.end()) << r;
                    const std::size_t i = found->second;
                    EXPECT_TRUE(matched.insert(i).second) << "entry " << i << " matched twice";
                    EXPECT_NEAR(d[i], column[3][r], 5.1e-9) << r;
                    EXPECT_EQ(m[i], column[4][r]) << r;
                    EXPECT_NEAR(f2[i], f2Ref[r], 1e-6 * largest(f2Ref)) << r;
                    EXPECT_NEAR(intensity[i], iRef[r], 1e-6 * largest(iRef)) << r;
                    EXPECT_NEAR(lp[i], xray ? column[7][r] : lp[i], 1e-8 * column[7][r]) << r;
                }
            }
            pk_phase_free(phase);
        }
    }
}

// A phase from its symbol, cell and sites has the operators of the file's operator loop and the same |F|².
TEST(ReflexionList, SymbolGivesTheSameGroupAndListAsTheOperatorLoop) {
    const auto rows = readTable("structures.tsv");
    for (const std::string &name : referenceStructureNames()) {
        SCOPED_TRACE(name);
        std::vector<pk_site> sites;
        const std::vector<std::string> *last = nullptr;
        for (const auto &row : rows) {
            if (row[0] != name) continue;
            last = &row;
            const auto number = [&row](std::size_t c) { return std::stod(row[c]); };
            sites.push_back(pk_site{row[8].c_str(), row[9].c_str(), number(10), number(11), number(12), number(13),
                                    number(14), 0, {}});
        }
        double cell[6];
        for (std::size_t i = 0; i < 6; ++i) cell[i] = std::stod((*last)[2 + i]);
        pk_phase *fromSymbol = nullptr;
        pk_error e{};
        ASSERT_EQ(pk_phase_from_symbol(name.c_str(), (*last)[1].c_str(), cell, sites.data(),
                                       static_cast<int32_t>(sites.size()), &fromSymbol, &e), PK_OK) << e.message;
        pk_phase *fromLoop = phaseOf(exampleText(referenceCifFile(name)));
        EXPECT_EQ(operatorSet(fromSymbol), operatorSet(fromLoop));
        pk_reflexion_list *a = listOf(fromSymbol, PK_RADIATION_XRAY, 1.5406, PK_LIMIT_D_MIN, 0.8);
        pk_reflexion_list *b = listOf(fromLoop, PK_RADIATION_XRAY, 1.5406, PK_LIMIT_D_MIN, 0.8);
        const auto fa = valuesOf(a, PK_QUANTITY_F2), fb = valuesOf(b, PK_QUANTITY_F2);
        ASSERT_EQ(fa.size(), fb.size());
        for (std::size_t i = 0; i < fa.size(); ++i) EXPECT_NEAR(fa[i], fb[i], kRoundOff * largest(fb)) << i;
        pk_reflexion_list_free(a);
        pk_reflexion_list_free(b);
        pk_phase_free(fromSymbol);
        pk_phase_free(fromLoop);
    }
}

// Observed lines gather the entries within 1e-5 Å in order; corundum's line at 136.08° is (1 4 6) and (4 1 6);
// representatives have the fewest negative indices, then the largest h k l.
TEST(ReflexionList, LinesAndRepresentatives) {
    pk_phase *phase = phaseOf(exampleText("corundum.cif"));
    pk_reflexion_list *list = listOf(phase, PK_RADIATION_XRAY, 1.540593, PK_LIMIT_X_MAX, 150.0);
    const auto hkl = indicesOf(list);
    ASSERT_GE(hkl.size(), 3u);
    EXPECT_EQ(std::vector<Hkl>(hkl.begin(), hkl.begin() + 3), (std::vector<Hkl>{{0, 1, 2}, {1, 0, 4}, {1, 1, 0}}));
    const auto d = valuesOf(list, PK_QUANTITY_D), intensity = valuesOf(list, PK_QUANTITY_INTENSITY),
               multiplicity = valuesOf(list, PK_QUANTITY_MULTIPLICITY);
    const auto lineX = valuesOf(list, PK_QUANTITY_X, true), lineD = valuesOf(list, PK_QUANTITY_D, true),
               lineIntensity = valuesOf(list, PK_QUANTITY_INTENSITY, true),
               lineMultiplicity = valuesOf(list, PK_QUANTITY_MULTIPLICITY, true);
    std::vector<int32_t> first(lineX.size()), count(lineX.size());
    ASSERT_EQ(pk_reflexion_list_line_members(list, first.data(), count.data(), static_cast<int32_t>(lineX.size()),
                                             nullptr), PK_OK);
    int32_t next = 0;
    for (std::size_t i = 0; i < lineX.size(); ++i) {
        EXPECT_EQ(first[i], next) << "lines cover the entries in order";
        next = first[i] + count[i];
        for (int32_t m = first[i]; m < next; ++m) EXPECT_LE(std::fabs(d[m] - d[first[i]]), 1e-5) << i;
        EXPECT_TRUE(i == 0 || std::fabs(lineD[i] - lineD[i - 1]) > 1e-5) << i;
    }
    EXPECT_EQ(next, static_cast<int32_t>(hkl.size()));
    // (1 4 6): 1/d² = 4/3 (h² + hk + k²)/a² + l²/c², 2θ = 2 asin(λ / 2d) = 136.08°.
    const double d146 = 1.0 / std::sqrt(4.0 / 3.0 * 21.0 / (4.7589 * 4.7589) + 36.0 / (12.991 * 12.991));
    const auto line = std::find_if(lineX.begin(), lineX.end(), [](double x) { return std::fabs(x - 136.08) < 0.01; });
    ASSERT_NE(line, lineX.end());
    const auto i = static_cast<std::size_t>(line - lineX.begin());
    ASSERT_EQ(count[i], 2);
    std::set<Hkl> members;
    double sum = 0.0, sumMultiplicity = 0.0;
    for (int32_t m = first[i]; m < first[i] + 2; ++m) {
        EXPECT_NEAR(d[m], d146, 1e-8);
        sum += intensity[m];
        sumMultiplicity += multiplicity[m];
        for (const Hkl &plane : planesOf(phase, hkl[m])) {
            if (plane == Hkl{1, 4, 6} || plane == Hkl{4, 1, 6}) members.insert(plane);
        }
    }
    EXPECT_EQ(members, (std::set<Hkl>{{1, 4, 6}, {4, 1, 6}}));
    EXPECT_NEAR(lineIntensity[i], sum, kRoundOff * sum);
    EXPECT_EQ(lineMultiplicity[i], sumMultiplicity);
    pk_reflexion_list_free(list);
    pk_phase_free(phase);
    phase = phaseOf(exampleText("silicon.cif"));
    list = listOf(phase, PK_RADIATION_XRAY, 1.5406, PK_LIMIT_D_MIN, 1.6);
    EXPECT_EQ(indicesOf(list), (std::vector<Hkl>{{1, 1, 1}, {2, 2, 0}, {3, 1, 1}}));
    pk_reflexion_list_free(list);
    pk_phase_free(phase);
    // Sets whose members all hold a negative index, or where a zero stands beside a positive one: in P -1,
    // (1 -1 0) before (-1 1 0) (one negative each, then the larger), (-1 1 1) before (1 -1 -1) (fewer negatives),
    // (0 1 -1) before (0 -1 1); in P 4/m m m, (1 0 1) before (0 1 1), (1 0 -1) and the rest of its eight.
    const pk_site site = {"Fe1", "Fe", 0.1, 0.2, 0.3, 1.0, 0.01, 0, {}};
    const double oblique[6] = {5.0, 6.0, 7.0, 80.0, 85.0, 95.0}, square[6] = {4.0, 4.0, 6.0, 90.0, 90.0, 90.0};
    const struct {
        const char *symbol;
        const double *cell;
        std::vector<Hkl> present, absent;
    } groups[] = {{"P -1", oblique, {{1, -1, 0}, {-1, 1, 1}, {0, 1, -1}}, {{-1, 1, 0}, {1, -1, -1}, {0, -1, 1}}},
                  {"P 4/m m m", square, {{1, 0, 1}}, {{0, 1, 1}, {1, 0, -1}, {0, 1, -1}}}};
    for (const auto &group : groups) {
        ASSERT_EQ(pk_phase_from_symbol("p", group.symbol, group.cell, &site, 1, &phase, nullptr), PK_OK);
        list = listOf(phase, PK_RADIATION_XRAY, 1.5406, PK_LIMIT_D_MIN, 1.5);
        const std::vector<Hkl> listed = indicesOf(list);
        const std::set<Hkl> all(listed.begin(), listed.end());
        for (const Hkl &plane : group.present) {
            EXPECT_EQ(all.count(plane), 1u) << group.symbol << ": " << plane[0] << plane[1] << plane[2];
        }
        for (const Hkl &plane : group.absent) {
            EXPECT_EQ(all.count(plane), 0u) << group.symbol << ": " << plane[0] << plane[1] << plane[2];
        }
        pk_reflexion_list_free(list);
        pk_phase_free(phase);
    }
}

// A graphite monochromator (2θ_M = 26.6°) multiplies Lp and the intensity by
// [(1 + cos² 2θ_M cos² 2θ) / (1 + cos² 2θ_M)] / [(1 + cos² 2θ) / 2], worked out by hand for silicon
// (a = 5.431194 Å) at Cu Kα1: 1 1 1 at 2θ = 28.4409°, 1.0142513166; 3 3 3 at 94.9464°, 1.1097682055.
// Neutrons are not polarised.
TEST(ReflexionList, MonochromatorPolarisation) {
    pk_phase *silicon = phaseOf(exampleText("silicon.cif"));
    pk_instrument plain;
    pk_instrument_default(&plain);
    pk_instrument graphite = plain;
    graphite.monochromator = 26.6;
    const auto listFor = [&](const pk_instrument &instrument) {
        pk_reflexion_list *list = nullptr;
        EXPECT_EQ(pk_reflexion_list_make(silicon, &instrument, PK_LIMIT_D_MIN, 1.0, &list, nullptr), PK_OK);
        return list;
    };
    pk_reflexion_list *without = listFor(plain), *with = listFor(graphite);
    const std::vector<Hkl> hkl = indicesOf(without);
    const std::vector<double> lp0 = valuesOf(without, PK_QUANTITY_LP), lp = valuesOf(with, PK_QUANTITY_LP);
    const std::vector<double> i0 = valuesOf(without, PK_QUANTITY_INTENSITY);
    const std::vector<double> i = valuesOf(with, PK_QUANTITY_INTENSITY);
    const std::map<Hkl, double> expected = {{{1, 1, 1}, 1.0142513166}, {{3, 3, 3}, 1.1097682055}};
    int seen = 0;
    for (std::size_t n = 0; n < hkl.size(); ++n) {
        const auto found = expected.find(hkl[n]);
        if (found == expected.end()) continue;
        EXPECT_NEAR(lp[n] / lp0[n], found->second, 1e-9);
        EXPECT_NEAR(i[n] / i0[n], found->second, 1e-9);
        ++seen;
    }
    EXPECT_EQ(seen, 2);
    pk_reflexion_list_free(without);
    pk_reflexion_list_free(with);
    pk_instrument neutrons = graphite;
    neutrons.radiation = PK_RADIATION_NEUTRON;
    pk_instrument neutronsPlain = plain;
    neutronsPlain.radiation = PK_RADIATION_NEUTRON;
    pk_reflexion_list *a = listFor(neutrons), *b = listFor(neutronsPlain);
    EXPECT_EQ(valuesOf(a, PK_QUANTITY_INTENSITY), valuesOf(b, PK_QUANTITY_INTENSITY));
    pk_reflexion_list_free(a);
    pk_reflexion_list_free(b);
    pk_phase_free(silicon);
}

// Sample corrections, worked out by hand for silicon at Cu Kα1: 1 1 1 at θ = 14.220466° (sin²θ = 0.0603457198),
// 3 3 3 at θ = 47.473177° (sin²θ = 0.5431114784). Each row: the instrument change, then for 1 1 1 and 3 3 3 the
// intensity ratio and the 2θ shift in degrees.
//   μR = 0.5: the capillary transmission, integrated over the disc by scripts/capillary_transmission.py
//             = 0.4375263008, 0.4613991678
//   p = 0.4, q = 0.6: 1 − 0.4 e^−0.6 + 0.4 e^(−0.6 / sin θ) = 0.8152539169, 0.9576808630
//   1/μ = 0.2 mm, R = 240 mm: −0.2 sin 2θ / 480 · 57.29578 = −0.0113696912°, −0.0237843343°
TEST(ReflexionList, SampleCorrections) {
    pk_phase *silicon = phaseOf(exampleText("silicon.cif"));
    pk_instrument plain;
    pk_instrument_default(&plain);
    struct Case {
        void (*change)(pk_instrument &);
        double ratio111, ratio333, shift111, shift333;
    };
    const Case cases[] = {
        {[](pk_instrument &i) { i.absorption = 0.5; }, 0.4375263008, 0.4613991678, 0.0, 0.0},
        {[](pk_instrument &i) { i.roughness_p = 0.4, i.roughness_q = 0.6; }, 0.8152539169, 0.9576808630, 0.0, 0.0},
        {[](pk_instrument &i) { i.transparency = 0.2; }, 1.0, 1.0, -0.0113696912, -0.0237843343},
    };
    const auto listFor = [&](const pk_instrument &instrument) {
        pk_reflexion_list *list = nullptr;
        EXPECT_EQ(pk_reflexion_list_make(silicon, &instrument, PK_LIMIT_D_MIN, 1.0, &list, nullptr), PK_OK);
        return list;
    };
    pk_reflexion_list *without = listFor(plain);
    const std::vector<Hkl> hkl = indicesOf(without);
    const std::vector<double> i0 = valuesOf(without, PK_QUANTITY_INTENSITY), x0 = valuesOf(without, PK_QUANTITY_X);
    for (const Case &c : cases) {
        pk_instrument changed = plain;
        c.change(changed);
        pk_reflexion_list *with = listFor(changed);
        const std::vector<double> i = valuesOf(with, PK_QUANTITY_INTENSITY), x = valuesOf(with, PK_QUANTITY_X);
        int seen = 0;
        for (std::size_t n = 0; n < hkl.size(); ++n) {
            const bool first = hkl[n] == Hkl{1, 1, 1};
            if (!first && hkl[n] != Hkl{3, 3, 3}) continue;
            EXPECT_NEAR(i[n] / i0[n], first ? c.ratio111 : c.ratio333, 1e-9);
            EXPECT_NEAR(x[n] - x0[n], first ? c.shift111 : c.shift333, 1e-9);
            ++seen;
        }
        EXPECT_EQ(seen, 2);
        pk_reflexion_list_free(with);
    }
    pk_reflexion_list_free(without);
    pk_phase_free(silicon);
}

// I_ν(x) − L_ν(x) for ν = 0, 1 from the power series of the modified Bessel and Struve functions,
//   I_ν = Σ (x/2)^(2k+ν) / (k! (k+ν)!),   L_ν = Σ (x/2)^(2k+ν+1) / (Γ(k+3/2) Γ(k+ν+3/2)),
// each term from the one before; long double, since both grow as e^x and their difference does not.
long double besselMinusStruve(int nu, long double x) {
    const long double h2 = x * x / 4, pi = 3.14159265358979323846264338L;
    long double i = nu == 0 ? 1 : x / 2, l = nu == 0 ? x / 2 / (pi / 4) : h2 / (3 * pi / 8), sum = i - l;
    for (int k = 0; k < 400 && i + l > 1e-30L * std::fabs(sum); ++k) {
        i *= h2 / ((k + 1.0L) * (k + 1.0L + nu)), l *= h2 / ((k + 1.5L) * (k + 1.5L + nu));
        sum += i - l;
    }
    return sum;
}

// The capillary transmission A(θ; μR), the mean of exp(−μR (path in + path out)) over the unit disc, against
// values worked out without the library's change of variables, all within its stated 2e-7:
// - the table: adaptive quadrature over the disc in x, y (scripts/capillary_transmission.py, 1e-11);
// - θ = 0, where both paths add up to the chord: A = 2 [I0(k) − L0(k) − (I1(k) − L1(k)) / k], k = 2μR;
// - θ = 90°, where the way out retraces the way in: A = (I1(K) − L1(K)) / (2μR), K = 4μR.
//   Both series up to μR = 3: beyond, their terms grow as e^x and the difference loses too many digits in the
//   53 bits long double has where it is no wider than double (ARM64, MSVC, valgrind); so the rows at μR = 10
//   are in the table, from the same closed forms at 40 digits (the script's forward() and back()).
// - μR → 0: A = 1 − μR (⟨l_in⟩ + ⟨l_out⟩), each mean path over the disc (1/π) ∫ 2(1 − y²) dy = 8/(3π) at
//   every angle; at μR = 1e-6 the next term, μR ⟨(l_in + l_out)²⟩ / 2, is below 1e-5 of the first.
TEST(ReflexionList, CapillaryAbsorptionAgainstTheIntegral) {
    using powderkit::phase::capillaryAbsorption;
    constexpr double kBound = 2e-7;  // the rule's worst relative error for μR ≤ 10 on the script's error map
    const double degrees = 3.14159265358979323846 / 180.0, right = 90.0 * degrees;
    const double table[][3] = {
        {0.5, 0.1, 8.443696962278e-01},   {0.5, 1.0, 1.964331135922e-01},   {0.5, 3.0, 1.427090752714e-02},
        {0.5, 10.0, 3.265756654823e-04},  {15.0, 0.1, 8.445726027514e-01},  {15.0, 1.0, 2.027401508825e-01},
        {15.0, 3.0, 2.133687718337e-02},  {15.0, 10.0, 2.377262495699e-03}, {45.0, 0.1, 8.461679116540e-01},
        {45.0, 1.0, 2.437671000598e-01},  {45.0, 3.0, 5.833281746517e-02},  {45.0, 10.0, 1.360220403719e-02},
        {75.0, 0.1, 8.481920709650e-01},  {75.0, 1.0, 2.874287984282e-01},  {75.0, 3.0, 9.731484349262e-02},
        {75.0, 10.0, 2.807986201616e-02}, {89.5, 0.1, 8.485489618783e-01},  {89.5, 1.0, 2.950846066826e-01},
        {89.5, 3.0, 1.053385456326e-01},  {89.5, 10.0, 3.180510175344e-02}, {90.0, 10.0, 3.181105659087554e-02},
        {0.0, 10.0, 3.233940357030100e-04}};
    for (const auto &[theta, muR, a] : table) {
        EXPECT_NEAR(capillaryAbsorption(muR, theta * degrees) / a, 1.0, kBound) << theta << "° μR " << muR;
    }
    for (double muR : {0.1, 1.0, 3.0}) {
        const long double k = 2 * muR, K = 4 * muR;
        const double forward = double(2 * (besselMinusStruve(0, k) - besselMinusStruve(1, k) / k));
        EXPECT_NEAR(capillaryAbsorption(muR, 0.0) / forward, 1.0, kBound) << "θ = 0, μR " << muR;
        const double back = double(besselMinusStruve(1, K) / K * 2);
        EXPECT_NEAR(capillaryAbsorption(muR, right) / back, 1.0, kBound) << "θ = 90°, μR " << muR;
    }
    const double meanPaths = 16.0 / (3.0 * 3.14159265358979323846);
    for (double theta : {0.0, 0.1, 0.8, 1.5, right}) {
        EXPECT_NEAR((1.0 - capillaryAbsorption(1e-6, theta)) / 1e-6 / meanPaths, 1.0, 1e-5) << theta;
    }
}

// Kα1, Kα2 and their ratio by anode name (the published values of the layer's table), the instrument set from them,
// and an unknown anode refused.
TEST(Anodes, LinesByName) {
    double lines[3] = {0.0, 0.0, 0.0};
    ASSERT_EQ(pk_anode_lines("Cu", &lines[0], &lines[1], &lines[2], nullptr), PK_OK);
    EXPECT_EQ(std::vector<double>(lines, lines + 3), std::vector<double>({1.540593, 1.544414, 0.5}));
    ASSERT_EQ(pk_anode_lines("mo", &lines[0], &lines[1], nullptr, nullptr), PK_OK);
    EXPECT_EQ(std::vector<double>(lines, lines + 2), std::vector<double>({0.709319, 0.713609}));
    pk_instrument in;
    pk_instrument_default(&in);
    ASSERT_EQ(pk_instrument_set_anode(&in, "Co", true, nullptr), PK_OK);
    EXPECT_EQ(std::vector<double>({in.wavelength, in.wavelength2, in.ratio2}),
              std::vector<double>({1.78901, 1.7929, 0.5}));
    ASSERT_EQ(pk_instrument_set_anode(&in, "Co", false, nullptr), PK_OK);
    EXPECT_EQ(in.wavelength2, 0.0);
    pk_error e{};
    EXPECT_EQ(pk_anode_lines("W", &lines[0], nullptr, nullptr, &e), PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("unknown anode \"W\""), std::string::npos) << e.message;
}

}  // namespace

// Long listing reports to the thread's handler with fractions that only grow, and stops when asked: the call
// fails naming the step and leaves no list. A short listing never calls it; without a handler nothing is asked.
TEST(ReflexionList, ProgressHandlerReportsAndStops) {
    struct Calls {
        std::vector<double> fractions;
        std::vector<std::string> stages;
        std::size_t stopAt;
    };
    const auto handler = [](void *context, double fraction, const char *stage) -> int32_t {
        auto *calls = static_cast<Calls *>(context);
        calls->fractions.push_back(fraction);
        calls->stages.emplace_back(stage);
        return calls->fractions.size() >= calls->stopAt ? 1 : 0;
    };
    const double cubic[6] = {500, 500, 500, 90, 90, 90};
    pk_site na{"Na1", "Na", 0, 0, 0, 1, 0.01, 0, {}};
    pk_phase *large = nullptr;
    pk_error e{};
    ASSERT_EQ(pk_phase_from_symbol("large", "P m -3 m", cubic, &na, 1, &large, &e), PK_OK) << e.message;
    pk_instrument instrument;
    pk_instrument_default(&instrument);

    Calls calls{{}, {}, 3};
    pk_set_progress_handler(handler, &calls);
    pk_reflexion_list *list = nullptr;
    EXPECT_EQ(pk_reflexion_list_make(large, &instrument, PK_LIMIT_D_MIN, 2.0, &list, &e), PK_ERROR_STOPPED);
    EXPECT_EQ(list, nullptr);
    EXPECT_NE(std::string(e.message).find("listing reflexions"), std::string::npos) << e.message;
    ASSERT_EQ(calls.fractions.size(), 3u);
    EXPECT_TRUE(std::is_sorted(calls.fractions.begin(), calls.fractions.end()));
    EXPECT_GE(calls.fractions.front(), 0.0);
    EXPECT_LE(calls.fractions.back(), 0.5);  // stopped within about a second of a listing of many seconds
    EXPECT_EQ(calls.stages.front(), "listing reflexions");

    Calls quiet{{}, {}, 1};
    pk_set_progress_handler(handler, &quiet);
    pk_phase *salt = phaseOf(exampleText(referenceCifFile("NaCl")));
    pk_reflexion_list *small = listOf(salt, PK_RADIATION_XRAY, 1.5406, PK_LIMIT_D_MIN, 0.8);
    EXPECT_TRUE(quiet.fractions.empty());
    pk_set_progress_handler(nullptr, nullptr);
    pk_reflexion_list_free(small);
    pk_phase_free(salt);
    pk_phase_free(large);
}
