/* The binary layout of every public record on x86-64 (LP64, natural
 * alignment), worked out by hand from the declared field order and widths:
 * doubles and pointers 8 bytes on 8, int32_t 4 on 4, flags and char 1 on 1.
 * Shared by the C11 host test and the C++ interface test. */
#ifndef PK_EXPECTED_LAYOUT_H
#define PK_EXPECTED_LAYOUT_H

#define PK_EXPECTED_SIZES(X)                  \
    X(RefinementCrystal, 5072)                \
    X(Reflexion, 88)                          \
    X(RefGenRec, 32)                          \
    X(Site, 88)                               \
    X(RefinementSiteOccupant, 32)             \
    X(RefinementAtom, 40)                     \
    X(RefinementAtomicScatteringFactor, 128)  \
    X(RefinementSymmetryOperator, 96)         \
    X(RefinementThermalEllipsoidUij, 96)      \
    X(RefinementProfile, 336)                 \
    X(Matrix, 24)                             \
    X(LeastSquaresMatrices, 144)              \
    X(DynamicArray, 16)                       \
    X(HashTable, 16)                          \
    X(HashTableEntry, 16)                     \
    X(PatternPoint, 16)                       \
    X(PeakRange, 40)                          \
    X(ReflexionRange, 16)

#define PK_EXPECTED_OFFSETS(X) \
    X(RefinementCrystal, scale, 0) X(RefinementCrystal, auxiliaryFactor, 8) X(RefinementCrystal, a, 16) \
    X(RefinementCrystal, b, 24) X(RefinementCrystal, c, 32) X(RefinementCrystal, alpha, 40) \
    X(RefinementCrystal, beta, 48) X(RefinementCrystal, gamma, 56) X(RefinementCrystal, aStar, 64) \
    X(RefinementCrystal, bStar, 72) X(RefinementCrystal, cStar, 80) X(RefinementCrystal, alphaStar, 88) \
    X(RefinementCrystal, betaStar, 96) X(RefinementCrystal, gammaStar, 104) X(RefinementCrystal, volume, 112) \
    X(RefinementCrystal, sites, 120) X(RefinementCrystal, reflexions, 128) \
    X(RefinementCrystal, symmetryOperators, 136) X(RefinementCrystal, latticeType, 144) \
    X(RefinementCrystal, reciprocalMetricTensor, 152) X(RefinementCrystal, metricTensor, 224) \
    X(RefinementCrystal, preferredOrientationAxis, 296) X(RefinementCrystal, preferredOrientationMode, 320) \
    X(RefinementCrystal, preferredOrientationAxisType, 324) X(RefinementCrystal, originShift, 328) \
    X(RefinementCrystal, maxIntensity, 352) X(RefinementCrystal, preferredOrientation, 360) \
    X(RefinementCrystal, usePreferredOrientation, 368) X(RefinementCrystal, useAnisotropicDisplacement, 369) \
    X(RefinementCrystal, allowAllForTwoOperators, 370) X(RefinementCrystal, addFriedelMates, 371) \
    X(RefinementCrystal, suppressFriedelMates, 372) X(RefinementCrystal, marchNormalization, 376) \
    X(RefinementCrystal, symmetryTranslations, 384) X(RefinementCrystal, cellParameterErrors, 5016) \
    X(RefinementCrystal, methods, 5064) \
    X(Reflexion, h, 0) X(Reflexion, k, 4) X(Reflexion, l, 8) X(Reflexion, multiplicity, 12) \
    X(Reflexion, dSpacing, 16) X(Reflexion, peakPosition, 24) X(Reflexion, intensity, 32) \
    X(Reflexion, relativeIntensity, 40) X(Reflexion, structureFactorReal, 48) X(Reflexion, structureFactorImag, 56) \
    X(Reflexion, lorentzPolarization, 64) X(Reflexion, isSecondaryWavelength, 72) X(Reflexion, methods, 80) \
    X(RefGenRec, h, 0) X(RefGenRec, k, 4) X(RefGenRec, l, 8) X(RefGenRec, auxiliaryInteger, 12) \
    X(RefGenRec, dSpacing, 16) X(RefGenRec, auxiliaryValue, 24) \
    X(Site, x, 0) X(Site, y, 8) X(Site, z, 16) X(Site, isIncluded, 24) X(Site, label, 32) X(Site, atoms, 40) \
    X(Site, occupants, 48) X(Site, displacement, 56) X(Site, similarityIndex, 64) X(Site, constraintX, 68) \
    X(Site, constraintY, 72) X(Site, constraintZ, 76) X(Site, methods, 80) \
    X(RefinementSiteOccupant, symbol, 0) X(RefinementSiteOccupant, occupancy, 8) \
    X(RefinementSiteOccupant, scatteringFactor, 16) X(RefinementSiteOccupant, methods, 24) \
    X(RefinementAtom, x, 0) X(RefinementAtom, y, 8) X(RefinementAtom, z, 16) X(RefinementAtom, symmetryOperator, 24) \
    X(RefinementAtom, methods, 32) \
    X(RefinementAtomicScatteringFactor, hasNeutronScatteringLength, 0) \
    X(RefinementAtomicScatteringFactor, hasHighAngleCoefficients, 1) \
    X(RefinementAtomicScatteringFactor, hasCromerMannCoefficients, 2) \
    X(RefinementAtomicScatteringFactor, scatteringLength, 8) \
    X(RefinementAtomicScatteringFactor, highAngleCoefficients, 16) \
    X(RefinementAtomicScatteringFactor, cromerMannCoefficients, 48) \
    X(RefinementAtomicScatteringFactor, methods, 120) \
    X(RefinementSymmetryOperator, coordinateExpressions, 0) X(RefinementSymmetryOperator, rotation, 24) \
    X(RefinementSymmetryOperator, translation, 64) X(RefinementSymmetryOperator, methods, 88) \
    X(RefinementThermalEllipsoidUij, uIso, 0) X(RefinementThermalEllipsoidUij, u, 8) \
    X(RefinementThermalEllipsoidUij, isAnisotropic, 80) X(RefinementThermalEllipsoidUij, methods, 88) \
    X(RefinementProfile, U, 0) X(RefinementProfile, V, 8) X(RefinementProfile, W, 16) X(RefinementProfile, LX, 24) \
    X(RefinementProfile, LY, 32) X(RefinementProfile, asymmetry, 40) X(RefinementProfile, wavelength, 48) \
    X(RefinementProfile, secondaryWavelength, 56) X(RefinementProfile, secondaryIntensityRatio, 64) \
    X(RefinementProfile, useSecondaryWavelength, 72) X(RefinementProfile, tofTwoTheta, 80) \
    X(RefinementProfile, dtt1, 88) X(RefinementProfile, dtt2, 96) X(RefinementProfile, sigma0, 104) \
    X(RefinementProfile, sigma1, 112) X(RefinementProfile, sigma2, 120) X(RefinementProfile, gamma0, 128) \
    X(RefinementProfile, gamma1, 136) X(RefinementProfile, gamma2, 144) X(RefinementProfile, alpha0, 152) \
    X(RefinementProfile, alpha1, 160) X(RefinementProfile, beta0, 168) X(RefinementProfile, beta1, 176) \
    X(RefinementProfile, zero, 184) X(RefinementProfile, xMin, 192) X(RefinementProfile, xMax, 200) \
    X(RefinementProfile, backgroundCoefficients, 208) X(RefinementProfile, profileType, 312) \
    X(RefinementProfile, experimentType, 316) X(RefinementProfile, radiationType, 320) \
    X(RefinementProfile, methods, 328) \
    X(Matrix, rows, 0) X(Matrix, columns, 4) X(Matrix, rowPointers, 8) X(Matrix, elements, 16) \
    X(LeastSquaresMatrices, jacobian, 0) X(LeastSquaresMatrices, jacobianTransposed, 8) \
    X(LeastSquaresMatrices, parameterColumn1, 16) X(LeastSquaresMatrices, normalMatrix, 24) \
    X(LeastSquaresMatrices, covariance, 32) X(LeastSquaresMatrices, correlations, 40) \
    X(LeastSquaresMatrices, observationColumn1, 48) X(LeastSquaresMatrices, observationColumn2, 56) \
    X(LeastSquaresMatrices, observationColumn3, 64) X(LeastSquaresMatrices, observationColumn4, 72) \
    X(LeastSquaresMatrices, parameterColumn2, 80) X(LeastSquaresMatrices, standardErrors, 88) \
    X(LeastSquaresMatrices, cycleValue1, 96) X(LeastSquaresMatrices, cycleValue2, 104) \
    X(LeastSquaresMatrices, hostReserved, 112) X(LeastSquaresMatrices, cycleFlag, 120) \
    X(LeastSquaresMatrices, observationCount, 124) X(LeastSquaresMatrices, parameterCount, 128) \
    X(LeastSquaresMatrices, methods, 136) \
    X(DynamicArray, count, 0) X(DynamicArray, capacity, 4) X(DynamicArray, items, 8) \
    X(HashTable, count, 0) X(HashTable, capacity, 4) X(HashTable, entries, 8) \
    X(HashTableEntry, key, 0) X(HashTableEntry, value, 8) \
    X(PatternPoint, x, 0) X(PatternPoint, y, 8) \
    X(PeakRange, start, 0) X(PeakRange, maximum, 8) X(PeakRange, pointCount, 16) X(PeakRange, baseline, 24) \
    X(PeakRange, height, 32) \
    X(ReflexionRange, firstIndex, 0) X(ReflexionRange, nearestIndex, 4) X(ReflexionRange, lastIndex, 8) \
    X(ReflexionRange, pointCount, 12)

#endif
