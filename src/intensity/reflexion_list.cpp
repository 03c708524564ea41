// Passes over a crystal's reflexion list: intensities relative to the
// strongest, the companion reflexion for a second wavelength, dropping
// reflexions of zero intensity, and placing every reflexion on the axis.
#include <cmath>
#include <cstring>

#include "frame/frame.hpp"
#include "intensity/intensity.hpp"

extern "C" {

bool calculateRelativeIntensities(RefinementCrystal *crystal) {
    if (crystal == nullptr || crystal->reflexions == nullptr) return false;
    const DynamicArray *list = crystal->reflexions;
    crystal->maxIntensity = 0.0;
    for (int32_t i = 0; i < list->count; ++i) {
        const auto *reflexion = static_cast<const Reflexion *>(list->items[i]);
        if (reflexion != nullptr && reflexion->intensity > crystal->maxIntensity) {
            crystal->maxIntensity = reflexion->intensity;
        }
    }
    if (!(crystal->maxIntensity > 0.0)) {
        powderkit::printToStream(stderr,
                                 "error calculating relative intensities - all intensities are zero\n");
        return false;
    }
    for (int32_t i = 0; i < list->count; ++i) {
        auto *reflexion = static_cast<Reflexion *>(list->items[i]);
        if (reflexion != nullptr) reflexion->relativeIntensity = reflexion->intensity / crystal->maxIntensity;
    }
    return true;
}

// The same planes at the second wavelength: the structure factor is copied
// (scattering factors depend on d only), the Lorentz-polarisation factor is
// that of the second wavelength, and the intensity is divided by the ratio of
// primary to secondary intensity.
Reflexion *secondaryWavelengthReflexion(RefinementCrystal *crystal, Reflexion *reflexion,
                                        RefinementProfile *profile) {
    if (crystal == nullptr || reflexion == nullptr || profile == nullptr) return nullptr;
    if (!profile->useSecondaryWavelength || profile->radiationType != PK_RADIATION_XRAY) {
        return nullptr;
    }
    Reflexion *companion = makeReflexion();
    if (companion == nullptr) return nullptr;
    companion->h = reflexion->h;
    companion->k = reflexion->k;
    companion->l = reflexion->l;
    companion->multiplicity = reflexion->multiplicity;
    companion->dSpacing = reflexion->dSpacing;
    companion->structureFactorReal = reflexion->structureFactorReal;
    companion->structureFactorImag = reflexion->structureFactorImag;
    companion->isSecondaryWavelength = 1;

    const double lambda = profile->secondaryWavelength;
    bool outOfBounds = false;
    companion->lorentzPolarization = powderkit::constantWavelengthLorentzPolarization(
        lambda, companion->dSpacing, false, &outOfBounds);
    if (std::fabs(profile->secondaryIntensityRatio) < powderkit::zeroTolerance()) {
        companion->intensity = 0.0;
        return companion;
    }
    const double a = companion->structureFactorReal;
    const double b = companion->structureFactorImag;
    double intensity = (a * a + b * b) * (1.0 / profile->secondaryIntensityRatio) * lambda *
                       lambda * lambda * companion->lorentzPolarization /
                       (crystal->volume * crystal->volume);
    if (crystal->usePreferredOrientation) {
        intensity = preferredOrientationCorrectionForReflexion(crystal, companion) * intensity;
    } else {
        intensity = static_cast<double>(companion->multiplicity) * intensity;
    }
    companion->intensity = intensity;
    return companion;
}

// Keeps the reflexions whose |intensity| is not below the zero tolerance, in
// order, and frees the others. The survivors move to a fresh list that is
// then shrunk to fit; if no fresh list can be had for a non-empty list, the
// old one is compacted in place instead, so the list always stays valid.
void removeZeroIntensityReflexions(RefinementCrystal *crystal) {
    if (crystal == nullptr || crystal->reflexions == nullptr) return;
    DynamicArray *old = crystal->reflexions;
    DynamicArray *list = makeDynamicArrayWithCapacity(old->capacity);
    if (list == nullptr && old->capacity < 1) {
        freeDynamicArray(old);
        crystal->reflexions = nullptr;
        return;
    }
    if (list != nullptr) {
        std::memcpy(list->items, old->items, static_cast<size_t>(old->count) * sizeof(void *));
        list->count = old->count;
    } else {
        list = old;
    }
    for (int32_t i = list->count - 1; i >= 0; --i) {
        auto *reflexion = static_cast<Reflexion *>(list->items[i]);
        if (reflexion == nullptr || !(std::fabs(reflexion->intensity) < powderkit::zeroTolerance())) {
            continue;
        }
        std::memmove(list->items + i, list->items + i + 1,
                     static_cast<size_t>(list->count - i - 1) * sizeof(void *));
        list->count -= 1;
        reflexion->methods->freeReflexion(reflexion);
    }
    if (list != old) freeDynamicArray(old);
    shrinkDynamicArray(list);
    crystal->reflexions = list;
}

void calculatePeakPositionsForPlot(RefinementCrystal *crystal, RefinementProfile *profile) {
    if (crystal == nullptr || crystal->reflexions == nullptr || profile == nullptr) return;
    const DynamicArray *list = crystal->reflexions;
    for (int32_t i = 0; i < list->count; ++i) {
        auto *reflexion = static_cast<Reflexion *>(list->items[i]);
        if (reflexion != nullptr) {
            reflexion->peakPosition = profile->methods->xForReflexion(profile, reflexion);
        }
    }
}

}  // extern "C"
