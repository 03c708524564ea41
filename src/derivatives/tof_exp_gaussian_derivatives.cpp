// The rates that the members of the time-of-flight back-to-back exponentials
// ⊗ Gaussian (profile type 3) take, from the shape's work record filled as
// the value fills it: by the offset Δ, by σ² and by d. The shape has no
// Lorentzian width, and so no rate by γ.
#include "derivatives/profile_derivatives.hpp"

namespace powderkit {
namespace {

// Only the rate asked for is worked out.
double gaussianRate(const TofProfileTerms &terms, const RefinementProfile *profile, TofRate rate) {
    switch (rate) {
        case TofRate::offset:
            return diffTofExpGaussianWrtOffset(terms, terms.normalization);
        case TofRate::variance:
            return diffTofExpGaussianWrtVariance(terms, terms.normalization);
        case TofRate::dSpacing:
            return diffTofExpGaussianWrtDSpacing(terms, profile);
        case TofRate::gamma:
        default:
            return 0.0;
    }
}

}  // namespace

bool tofExpGaussianRate(double x, const Reflexion *reflexion, const RefinementProfile *profile,
                        TofRate rate, double *value, double *dSpacing) {
    return tofShapeRate<TofProfileTerms, tofExpGaussianTerms, gaussianRate>(x, reflexion, profile,
                                                                            rate, value, dSpacing);
}

}  // namespace powderkit
