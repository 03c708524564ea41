// Crystallite size and microstrain from the broadening a phase shows beyond
// the instrument's. Lorentzian widths add under convolution and Gaussian
// widths add in quadrature, so the sample's own terms are X_s = X − X_i,
// Y_s = Y − Y_i (H_L = X / cos θ + Y tan θ) and U_s = U − U_i
// (H_G² = U tan² θ + V tan θ + W). The 1/cos θ term is the size's (Scherrer,
// β cos θ = K λ / D with β in radians); the tan θ terms are the strain's
// (Stokes–Wilson, H = 4 ε tan θ). The Gaussian and Lorentzian strain widths are
// both ∝ tan θ, and the Thompson–Cox–Hastings FWHM is homogeneous of degree 1,
// so TCH(√U_s tan θ, Y_s tan θ) = TCH(√U_s, Y_s) tan θ: one ε for every θ.
#include <cmath>
#include <sstream>

#include "boundary/constants.hpp"
#include "pattern/peak_shapes.hpp"
#include "refinement_model/refinement.hpp"

namespace powderkit::refinement {

namespace {

// Scherrer's constant for the FWHM of spherical crystallites.
constexpr double kScherrerConstant = 0.9;
constexpr double kNaN = NAN;
enum ProfileIndex { kU = 0, kX = 3, kY = 4 };

bool hasGaussianPart(int32_t type) { return type == PK_PROFILE_GAUSSIAN || type == PK_PROFILE_PSEUDO_VOIGT; }
bool hasLorentzianPart(int32_t type) { return type == PK_PROFILE_LORENTZIAN || type == PK_PROFILE_PSEUDO_VOIGT; }

// The parameter that holds a phase's profile term in a histogram (−1: of a
// refinement of one pattern), followed to its leader when tied.
int profileParameter(const pk_refinement &r, int histogram, std::size_t phase, int index) {
    for (std::size_t i = 0; i < r.parameters.size(); ++i) {
        const Parameter &p = r.parameters[i];
        if (p.target != Target::Profile || p.histogram != histogram || p.phase != static_cast<int>(phase) ||
            p.index != index)
            continue;
        int leader = static_cast<int>(i);
        while (r.parameters[static_cast<std::size_t>(leader)].leader >= 0)
            leader = r.parameters[static_cast<std::size_t>(leader)].leader;
        return leader;
    }
    return -1;
}

bool refined(const pk_refinement &r, int parameter) {
    const int32_t state = r.parameters[static_cast<std::size_t>(parameter)].state;
    return state == PK_PARAMETER_FREE || state == PK_PARAMETER_AT_LIMIT || state == PK_PARAMETER_UNDETERMINED;
}

}  // namespace

// Var(Σ g_k p_k) = Σ g_j g_k cov(p_j, p_k) over the refined parameters, cov = ρ_jk σ_j σ_k; NaN without a covariance.
double propagatedEsd(const pk_refinement &r, const std::vector<std::pair<int, double>> &gradient) {
    const auto row = [&](int parameter) {
        for (std::size_t j = 0; j < r.correlationOrder.size(); ++j) {
            if (r.correlationOrder[j] == parameter) return static_cast<long>(j);
        }
        return -1L;
    };
    const auto n = static_cast<std::size_t>(r.correlationSize);
    double variance = 0.0;
    for (const auto &[a, ga] : gradient) {
        for (const auto &[b, gb] : gradient) {
            const long ja = row(a), jb = row(b);
            if (ja < 0 || jb < 0) return kNaN;
            const double rho = r.correlations[static_cast<std::size_t>(ja) * n + static_cast<std::size_t>(jb)];
            variance += ga * gb * rho * r.parameters[static_cast<std::size_t>(a)].esd *
                        r.parameters[static_cast<std::size_t>(b)].esd;
        }
    }
    return std::sqrt(variance);
}

double crystalliteSize(double xSample, double wavelength) {
    return kScherrerConstant * wavelength / (xSample * phase::kDegreesToRadians);
}

std::array<double, 3> microstrain(double uSample, double ySample) {
    // ε = (π/180) · TCH(g, l) / 4 with g = √U_s, l = Y_s; the gradient of the FWHM by central differences,
    // ample for esd's, and ∂g/∂U_s = 1 / (2g).
    const double factor = phase::kDegreesToRadians / 4.0;
    const double g = std::sqrt(uSample), l = ySample;
    const double h = 1e-6 * (g + l);
    const double byG =
        g > 0.0 ? (phase::thompsonCoxHastingsFwhm(g + h, l) - phase::thompsonCoxHastingsFwhm(g - h, l)) / (2.0 * h)
                : 0.0;
    const double byL =
        l > 0.0 ? (phase::thompsonCoxHastingsFwhm(g, l + h) - phase::thompsonCoxHastingsFwhm(g, l - h)) / (2.0 * h)
                : 0.0;
    return {factor * phase::thompsonCoxHastingsFwhm(g, l), g > 0.0 ? factor * byG / (2.0 * g) : 0.0, factor * byL};
}

namespace {

// Of `pattern`'s phases (the refinement's own, or a joint refinement's
// histogram `histogram`), with r's parameters and covariance; warnings begin with `prefix`.
std::string sizeAndStrainOf(const pk_refinement &r, int histogram, pk_refinement &pattern, const std::string &prefix) {
    std::ostringstream warnings;
    const pk_profile &instrument = pattern.instrumentProfile;
    const bool known = pattern.hasInstrumentProfile && pattern.instrument.axis == PK_AXIS_TWO_THETA;
    if (pattern.hasInstrumentProfile && !known) warnings << prefix << "size and strain are worked out on a 2θ axis only\n";
    for (std::size_t p = 0; p < pattern.phases.size(); ++p) {
        PhaseModel &model = pattern.phases[p];
        model.sizeNm = model.sizeEsd = model.strainPercent = model.strainEsd = kNaN;
        if (!known) continue;
        const int32_t type = model.profile.type;
        const std::string name = prefix + model.name;
        // Size, from the Lorentzian 1/cos θ term.
        const int x = profileParameter(r, histogram, p, kX);
        const double xSample = model.profile.X - (hasLorentzianPart(instrument.type) ? instrument.X : 0.0);
        if (!hasLorentzianPart(type) || x < 0 || !refined(r, x)) {
            warnings << name << ": no size: X, the Lorentzian 1/cos θ term, is not refined\n";
        } else if (!(xSample > 0.0)) {
            warnings << name << ": no size: X − X_instrument = " << xSample << " is not positive\n";
        } else {
            const double size = crystalliteSize(xSample, pattern.instrument.wavelength);
            model.sizeNm = size / 10.0;
            model.sizeEsd = propagatedEsd(r, {{x, -size / xSample}}) / 10.0;
        }
        // Strain, from the refined tan θ terms: U of a Gaussian part, Y of a Lorentzian part.
        const int u = hasGaussianPart(type) ? profileParameter(r, histogram, p, kU) : -1;
        const int y = hasLorentzianPart(type) ? profileParameter(r, histogram, p, kY) : -1;
        const bool useU = u >= 0 && refined(r, u), useY = y >= 0 && refined(r, y);
        const double uSample = useU ? model.profile.U - (hasGaussianPart(instrument.type) ? instrument.U : 0.0) : 0.0;
        const double ySample = useY ? model.profile.Y - (hasLorentzianPart(instrument.type) ? instrument.Y : 0.0) : 0.0;
        if (!useU && !useY) {
            warnings << name << ": no strain: neither U nor Y is refined\n";
        } else if ((useU && !(uSample > 0.0)) || (useY && !(ySample > 0.0))) {
            warnings << name
                     << ": no strain: " << (useU && !(uSample > 0.0) ? "U − U_instrument = " : "Y − Y_instrument = ")
                     << (useU && !(uSample > 0.0) ? uSample : ySample) << " is not positive\n";
        } else {
            const std::array<double, 3> strain = microstrain(uSample, ySample);
            std::vector<std::pair<int, double>> gradient;
            if (useU) gradient.emplace_back(u, strain[1]);
            if (useY) gradient.emplace_back(y, strain[2]);
            model.strainPercent = 100.0 * strain[0];
            model.strainEsd = 100.0 * propagatedEsd(r, gradient);
        }
    }
    return warnings.str();
}

}  // namespace

std::string sizeAndStrain(pk_refinement &r) {
    if (!isJoint(r)) return sizeAndStrainOf(r, -1, r, "");
    // Each histogram's own, from its profile terms; the joint phases report the first's.
    std::string warnings;
    for (std::size_t h = 0; h < r.members.size(); ++h)
        warnings += sizeAndStrainOf(r, static_cast<int>(h), r.members[h], r.histograms[h].name + ": ");
    for (std::size_t p = 0; p < r.phases.size(); ++p) {
        const PhaseModel &first = r.members.front().phases[p];
        PhaseModel &model = r.phases[p];
        model.sizeNm = first.sizeNm;
        model.sizeEsd = first.sizeEsd;
        model.strainPercent = first.strainPercent;
        model.strainEsd = first.strainEsd;
    }
    return warnings;
}

}  // namespace powderkit::refinement
