// The coordinate-expression parse of the site-axis derivative, on arbitrary
// bytes. Each expression's coefficient for an axis is compared with a plain
// reading of the rule (the sign written last before the first variable
// letter, if that letter is the axis; 0 otherwise), and the four site
// derivatives are then evaluated for a site whose one operator carries the
// three expressions: they must return, and an axis code outside 0–2 must
// give 0.
//
// Layout: byte axis (b % 4: 0, 1, 2 or a 32-bit code read next), three
// expressions each ended by a NUL byte, then the site position (three
// values), the Miller indices (three bytes, signed), the anisotropic
// component code (one byte, signed) and an isotropic U (value).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "derivatives/site_derivatives.hpp"
#include "fuzz_input.hpp"
#include "powderkit.h"

namespace {

double expectedCoefficient(const std::string &expression, int32_t axis) {
    double sign = 0.0;
    for (char c : expression) {
        if (c == '+') sign = 1.0;
        if (c == '-') sign = -1.0;
        const char lower = (c >= 'X' && c <= 'Z') ? static_cast<char>(c - 'X' + 'x') : c;
        if (lower >= 'x' && lower <= 'z') return (lower - 'x') == axis ? sign : 0.0;
    }
    return 0.0;
}

std::string readExpression(pk_fuzz::Input &in) {
    std::string text;
    while (!in.exhausted()) {
        const char c = static_cast<char>(in.byte());
        if (c == '\0') break;
        text.push_back(c);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    const uint8_t axisCode = in.byte();
    const int32_t axis = axisCode % 4 < 3 ? axisCode % 4 : in.int32();
    std::string expressions[3];
    for (std::string &expression : expressions) expression = readExpression(in);
    for (const std::string &expression : expressions) {
        for (int32_t a : {axis, 0, 1, 2}) {
            if (powderkit::coordinateCoefficient(expression.c_str(), a) != expectedCoefficient(expression, a)) {
                std::fprintf(stderr, "coefficient of axis %d in \"%s\" differs\n", a,
                             expression.c_str());
                std::abort();
            }
        }
    }

    // One site, one occupant, one operator carrying the expressions.
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = crystal->b = crystal->c = 5.0;
    crystal->alpha = crystal->beta = crystal->gamma = 90.0;
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(1);
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    for (int i = 0; i < 3; ++i) {
        op->rotation[i][i] = 1;
        op->coordinateExpressions[i] = expressions[i].c_str();
    }
    addObjectToDynamicArray(crystal->symmetryOperators, op);
    crystal->sites = makeDynamicArrayWithCapacity(1);
    Site *site = makeEmptySite();
    site->isIncluded = 1;
    site->x = in.value();
    site->y = in.value();
    site->z = in.value();
    site->occupants = makeDynamicArrayWithCapacity(1);
    RefinementAtomicScatteringFactor *factor = makeRefinementAtomicScatteringFactor();
    factor->hasCromerMannCoefficients = 1;
    factor->cromerMannCoefficients[0] = 10.0;
    factor->cromerMannCoefficients[1] = 5.0;
    factor->cromerMannCoefficients[8] = 1.0;
    RefinementSiteOccupant *occupant = makeRefinementSiteOccupant("Fe", 1.0, factor);
    addObjectToDynamicArray(site->occupants, occupant);
    site->displacement = makeRefinementThermalEllipsoidUij();
    addObjectToDynamicArray(crystal->sites, site);
    generateUnitCell(crystal);

    Reflexion *reflexion = makeReflexion();
    reflexion->h = static_cast<int8_t>(in.byte());
    reflexion->k = static_cast<int8_t>(in.byte());
    reflexion->l = static_cast<int8_t>(in.byte());
    reflexion->multiplicity = 1;
    reflexion->dSpacing = dSpacingForHKL(crystal, reflexion->h, reflexion->k, reflexion->l);
    const int32_t component = static_cast<int8_t>(in.byte());
    const double uIso = in.value();
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 0, 1.5406, 10, 120);

    volatile double sink = 0.0;
    double axisDerivative = 0.0;
    axisDerivative = DiffReflexionIntensityWrtSiteAxis(crystal, reflexion, profile, site, axis);
    sink = sink + DiffReflexionIntensityWrtSiteOccupancy(crystal, reflexion, profile, site, occupant);
    sink = sink + DiffReflexionIntensityWrtSiteIsotropicTempFactor(crystal, reflexion, profile, site,
                                                                   uIso);
    sink = sink + DiffReflexionIntensityWrtSiteAnisotropicTempFactor(crystal, reflexion, profile,
                                                                     site, component);
    (void)sink;
    if ((axis < 0 || axis > 2) && axisDerivative != 0.0) {
        std::fprintf(stderr, "axis code %d gave %g, not 0\n", axis, axisDerivative);
        std::abort();
    }
    reflexion->methods->freeReflexion(reflexion);
    freeRefinementProfile(profile);
    freeRefinementCrystal(crystal);
    return 0;
}
