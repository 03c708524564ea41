// The coordinate-expression parse against its rule (the sign last written before the first variable letter,
// if that letter is the axis), then the four derivatives of an iron site in a cubic cell of 5 Å, its operator
// carrying the expressions (an axis outside 0–2 gives 0). Layout: axis byte (b % 4, 3: an int32 follows),
// three NUL-ended expressions, x y z, h k l and component (signed bytes), Uiso.
#include "derivatives/site_derivatives.hpp"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pk_fuzz::Input in(data, size);
    const uint8_t axisCode = in.byte();
    const int32_t axis = axisCode % 4 < 3 ? axisCode % 4 : in.int32();
    std::string expressions[3];
    for (std::string &text : expressions) {
        for (char c; !in.exhausted() && (c = static_cast<char>(in.byte())) != '\0';) text.push_back(c);
        const std::size_t letter = text.find_first_of("xyzXYZ"), sign = text.find_last_of("+-", letter);
        for (int32_t a : {axis, 0, 1, 2}) {
            const bool signed_ = letter != std::string::npos && sign < letter && (text[letter] | 0x20) - 'x' == a;
            const double expected = signed_ ? (text[sign] == '+' ? 1.0 : -1.0) : 0.0;
            check(powderkit::coordinateCoefficient(text.c_str(), a) == expected, "a coefficient differs");
        }
    }
    RefinementCrystal *crystal = makeEmptyRefinementCrystal();
    crystal->a = crystal->b = crystal->c = 5.0;
    crystal->alpha = crystal->beta = crystal->gamma = 90.0;
    calculateReciprocalCell(crystal);
    calculateMetricTensor(crystal);
    RefinementSymmetryOperator *op = makeRefinementSymmetryOperator();
    for (int i = 0; i < 3; ++i) op->rotation[i][i] = 1;
    for (int i = 0; i < 3; ++i) op->coordinateExpressions[i] = expressions[i].c_str();
    Site *site = makeEmptySite();
    site->isIncluded = 1;
    for (double *coordinate : {&site->x, &site->y, &site->z}) *coordinate = in.value();
    RefinementSiteOccupant *occupant = makeRefinementSiteOccupant("Fe", 1.0, makeRefinementAtomicScatteringFactor());
    site->displacement = makeRefinementThermalEllipsoidUij();
    crystal->symmetryOperators = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(crystal->symmetryOperators, op);
    site->occupants = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(site->occupants, occupant);
    crystal->sites = makeDynamicArrayWithCapacity(1);
    addObjectToDynamicArray(crystal->sites, site);
    generateUnitCell(crystal);
    Reflexion *r = makeReflexion();
    for (int32_t *index : {&r->h, &r->k, &r->l}) *index = static_cast<int8_t>(in.byte());
    r->multiplicity = 1;
    r->dSpacing = dSpacingForHKL(crystal, r->h, r->k, r->l);
    const int32_t component = static_cast<int8_t>(in.byte());
    RefinementProfile *profile = makeRefinementProfile(1, PK_RADIATION_XRAY, 0, 1.5406, 10, 120);
    const double byAxis = DiffReflexionIntensityWrtSiteAxis(crystal, r, profile, site, axis);
    check((axis >= 0 && axis <= 2) || byAxis == 0.0, "an axis code outside 0–2 gave a derivative");
    (void)DiffReflexionIntensityWrtSiteOccupancy(crystal, r, profile, site, occupant);
    (void)DiffReflexionIntensityWrtSiteIsotropicTempFactor(crystal, r, profile, site, in.value());
    (void)DiffReflexionIntensityWrtSiteAnisotropicTempFactor(crystal, r, profile, site, component);
    r->methods->freeReflexion(r);
    freeRefinementProfile(profile);
    freeRefinementCrystal(crystal);
    return 0;
}
