// The rates that the members of the time-of-flight back-to-back exponentials
// ⊗ pseudo-Voigt (profile type 4) take, from the shape's work record filled
// as the value fills it: by the offset Δ, by σ², by γ (followed through η
// only) and by d. The rate by d needs the rates by α and β as well, which
// are worked out only when it is asked for.
#include "derivatives/profile_derivatives.hpp"

namespace powderkit {
namespace {

double pseudoVoigtRate(const TofPseudoVoigtTerms &terms, const RefinementProfile *profile,
                       TofRate rate) {
    TofPseudoVoigtRates rates;
    tofPseudoVoigtRates(terms, profile, rate == TofRate::dSpacing, &rates);
    switch (rate) {
        case TofRate::offset:
            return rates.offset;
        case TofRate::variance:
            return rates.variance;
        case TofRate::gamma:
            return rates.gamma;
        case TofRate::dSpacing:
        default:
            return rates.dSpacing;
    }
}

}  // namespace

bool tofExpPseudoVoigtRate(double x, const Reflexion *reflexion,
                           const RefinementProfile *profile, TofRate rate, double *value,
                           double *dSpacing) {
    return tofShapeRate<TofPseudoVoigtTerms, tofExpPseudoVoigtTerms, pseudoVoigtRate>(
        x, reflexion, profile, rate, value, dSpacing);
}

}  // namespace powderkit
