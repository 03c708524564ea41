// The derivative members of the time-of-flight back-to-back exponentials
// ⊗ pseudo-Voigt (profile type 4), one per key of its table. Each fills the
// shape's work record as the value does and returns 0 when that fails. dtt2
// moves Δ by −d²; sigma1 and sigma2 move σ² by d² and d⁴; gamma1 and gamma2
// move γ by d and d² (followed through η only); a cell parameter moves d.
#include "derivatives/profile_derivatives.hpp"

namespace powderkit {
namespace {

using DSpacingRate = double (*)(RefinementCrystal *, Reflexion *);

// The rates of the shape at x, or false when the work record cannot be filled.
bool ratesAt(double x, const Reflexion *reflexion, const RefinementProfile *profile,
             bool withDSpacing, TofPseudoVoigtRates *rates, double *dSpacing) {
    TofPseudoVoigtTerms terms;
    if (!tofExpPseudoVoigtTerms(x, reflexion, profile, &terms)) return false;
    tofPseudoVoigtRates(terms, profile, withDSpacing, rates);
    *dSpacing = terms.dSpacing;
    return true;
}

double cellMember(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                  RefinementProfile *profile, DSpacingRate dSpacingRate) {
    TofPseudoVoigtRates rates;
    double d;
    if (!ratesAt(x, reflexion, profile, true, &rates, &d)) return 0.0;
    return rates.dSpacing * dSpacingRate(crystal, reflexion);
}

}  // namespace

double DiffTofExpPseudoVoigtProfileWrtDtt2(double x, RefinementCrystal *, Reflexion *reflexion,
                                           RefinementProfile *profile) {
    TofPseudoVoigtRates rates;
    double d;
    if (!ratesAt(x, reflexion, profile, false, &rates, &d)) return 0.0;
    return rates.offset * (-(d * d));
}

double DiffTofExpPseudoVoigtProfileWrtCellA(double x, RefinementCrystal *crystal,
                                            Reflexion *reflexion, RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellA);
}

double DiffTofExpPseudoVoigtProfileWrtCellB(double x, RefinementCrystal *crystal,
                                            Reflexion *reflexion, RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellB);
}

double DiffTofExpPseudoVoigtProfileWrtCellC(double x, RefinementCrystal *crystal,
                                            Reflexion *reflexion, RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellC);
}

double DiffTofExpPseudoVoigtProfileWrtCellAlpha(double x, RefinementCrystal *crystal,
                                                Reflexion *reflexion,
                                                RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellAlpha);
}

double DiffTofExpPseudoVoigtProfileWrtCellBeta(double x, RefinementCrystal *crystal,
                                               Reflexion *reflexion,
                                               RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellBeta);
}

double DiffTofExpPseudoVoigtProfileWrtCellGamma(double x, RefinementCrystal *crystal,
                                                Reflexion *reflexion,
                                                RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellGamma);
}

double DiffTofExpPseudoVoigtProfileWrtSigma1(double x, RefinementCrystal *, Reflexion *reflexion,
                                             RefinementProfile *profile) {
    TofPseudoVoigtRates rates;
    double d;
    if (!ratesAt(x, reflexion, profile, false, &rates, &d)) return 0.0;
    return rates.variance * (d * d);
}

double DiffTofExpPseudoVoigtProfileWrtSigma2(double x, RefinementCrystal *, Reflexion *reflexion,
                                             RefinementProfile *profile) {
    TofPseudoVoigtRates rates;
    double d;
    if (!ratesAt(x, reflexion, profile, false, &rates, &d)) return 0.0;
    const double d2 = d * d;
    return rates.variance * (d2 * d2);
}

double DiffTofExpPseudoVoigtProfileWrtGamma1(double x, RefinementCrystal *, Reflexion *reflexion,
                                             RefinementProfile *profile) {
    TofPseudoVoigtRates rates;
    double d;
    if (!ratesAt(x, reflexion, profile, false, &rates, &d)) return 0.0;
    return rates.gamma * d;
}

double DiffTofExpPseudoVoigtProfileWrtGamma2(double x, RefinementCrystal *, Reflexion *reflexion,
                                             RefinementProfile *profile) {
    TofPseudoVoigtRates rates;
    double d;
    if (!ratesAt(x, reflexion, profile, false, &rates, &d)) return 0.0;
    return rates.gamma * (d * d);
}

double DiffTofExpPseudoVoigtProfileWrtScale(double x, RefinementCrystal *crystal,
                                            Reflexion *reflexion, RefinementProfile *profile) {
    return tofExpPseudoVoigtProfile(x, reflexion, profile) / crystal->scale;
}

}  // namespace powderkit
