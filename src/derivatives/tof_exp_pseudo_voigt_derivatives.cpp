// The rates that the members of the time-of-flight back-to-back exponentials
// ⊗ pseudo-Voigt (profile type 4) take, from the shape's work record filled
// as the value fills it: by the offset Δ, by σ², by γ (followed through η
// only) and by d. The rate by d needs the rates by α and β as well, which
// are worked out only when it is asked for.
#include "derivatives/profile_derivatives.hpp"

namespace powderkit {

bool tofExpPseudoVoigtRate(double x, const Reflexion *reflexion,
                           const RefinementProfile *profile, TofRate rate, double *value,
                           double *dSpacing) {
    TofPseudoVoigtTerms terms;
    if (!tofExpPseudoVoigtTerms(x, reflexion, profile, &terms)) return false;
    TofPseudoVoigtRates rates;
    tofPseudoVoigtRates(terms, profile, rate == TofRate::dSpacing, &rates);
    *dSpacing = terms.dSpacing;
    switch (rate) {
        case TofRate::offset:
            *value = rates.offset;
            break;
        case TofRate::variance:
            *value = rates.variance;
            break;
        case TofRate::gamma:
            *value = rates.gamma;
            break;
        case TofRate::dSpacing:
        default:
            *value = rates.dSpacing;
            break;
    }
    return true;
}

}  // namespace powderkit
