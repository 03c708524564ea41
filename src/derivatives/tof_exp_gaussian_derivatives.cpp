// The derivative members of the time-of-flight back-to-back exponentials
// ⊗ Gaussian (profile type 3), one per key of its table. Each fills the
// shape's work record as the value does and returns 0 when that fails. The
// calibration term dtt2 moves the peak by d² µs, so Δ by −d²; sigma1 and
// sigma2 move σ² by d² and d⁴; a cell parameter moves d.
#include "derivatives/profile_derivatives.hpp"

namespace powderkit {
namespace {

using DSpacingRate = double (*)(RefinementCrystal *, Reflexion *);

double cellMember(double x, RefinementCrystal *crystal, Reflexion *reflexion,
                  RefinementProfile *profile, DSpacingRate dSpacingRate) {
    TofProfileTerms terms;
    if (!tofExpGaussianTerms(x, reflexion, profile, &terms)) return 0.0;
    return diffTofExpGaussianWrtDSpacing(terms, profile) * dSpacingRate(crystal, reflexion);
}

}  // namespace

double DiffTofExpGaussianProfileWrtDtt2(double x, RefinementCrystal *, Reflexion *reflexion,
                                        RefinementProfile *profile) {
    TofProfileTerms terms;
    if (!tofExpGaussianTerms(x, reflexion, profile, &terms)) return 0.0;
    const double d = terms.dSpacing;
    return diffTofExpGaussianWrtOffset(terms, terms.normalization) * (-(d * d));
}

double DiffTofExpGaussianProfileWrtCellA(double x, RefinementCrystal *crystal,
                                         Reflexion *reflexion, RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellA);
}

double DiffTofExpGaussianProfileWrtCellB(double x, RefinementCrystal *crystal,
                                         Reflexion *reflexion, RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellB);
}

double DiffTofExpGaussianProfileWrtCellC(double x, RefinementCrystal *crystal,
                                         Reflexion *reflexion, RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellC);
}

double DiffTofExpGaussianProfileWrtCellAlpha(double x, RefinementCrystal *crystal,
                                             Reflexion *reflexion, RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellAlpha);
}

double DiffTofExpGaussianProfileWrtCellBeta(double x, RefinementCrystal *crystal,
                                            Reflexion *reflexion, RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellBeta);
}

double DiffTofExpGaussianProfileWrtCellGamma(double x, RefinementCrystal *crystal,
                                             Reflexion *reflexion, RefinementProfile *profile) {
    return cellMember(x, crystal, reflexion, profile, diffTofDSpacingWrtCellGamma);
}

double DiffTofExpGaussianProfileWrtSigma1(double x, RefinementCrystal *, Reflexion *reflexion,
                                          RefinementProfile *profile) {
    TofProfileTerms terms;
    if (!tofExpGaussianTerms(x, reflexion, profile, &terms)) return 0.0;
    const double d = terms.dSpacing;
    return diffTofExpGaussianWrtVariance(terms, terms.normalization) * (d * d);
}

double DiffTofExpGaussianProfileWrtSigma2(double x, RefinementCrystal *, Reflexion *reflexion,
                                          RefinementProfile *profile) {
    TofProfileTerms terms;
    if (!tofExpGaussianTerms(x, reflexion, profile, &terms)) return 0.0;
    const double d2 = terms.dSpacing * terms.dSpacing;
    return diffTofExpGaussianWrtVariance(terms, terms.normalization) * (d2 * d2);
}

double DiffTofExpGaussianProfileWrtScale(double x, RefinementCrystal *crystal,
                                         Reflexion *reflexion, RefinementProfile *profile) {
    return tofExpGaussianProfile(x, reflexion, profile) / crystal->scale;
}

}  // namespace powderkit
