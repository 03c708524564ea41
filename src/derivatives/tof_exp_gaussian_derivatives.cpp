// The rates that the members of the time-of-flight back-to-back exponentials
// ⊗ Gaussian (profile type 3) take, from the shape's work record filled as
// the value fills it: by the offset Δ, by σ² and by d. The shape has no
// Lorentzian width, and so no rate by γ.
#include "derivatives/profile_derivatives.hpp"

namespace powderkit {

bool tofExpGaussianRate(double x, const Reflexion *reflexion, const RefinementProfile *profile,
                        TofRate rate, double *value, double *dSpacing) {
    TofProfileTerms terms;
    if (!tofExpGaussianTerms(x, reflexion, profile, &terms)) return false;
    *dSpacing = terms.dSpacing;
    switch (rate) {
        case TofRate::offset:
            *value = diffTofExpGaussianWrtOffset(terms, terms.normalization);
            break;
        case TofRate::variance:
            *value = diffTofExpGaussianWrtVariance(terms, terms.normalization);
            break;
        case TofRate::dSpacing:
            *value = diffTofExpGaussianWrtDSpacing(terms, profile);
            break;
        case TofRate::gamma:
        default:
            *value = 0.0;
            break;
    }
    return true;
}

}  // namespace powderkit
