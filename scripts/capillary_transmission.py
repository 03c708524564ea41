#!/usr/bin/python3
"""Transmission of a Debye–Scherrer capillary, worked out three ways, for the library's tests.

A(θ; μR) = (1/π) ∫∫_disc exp(−μR (path in + path out)) dx dy, radius 1, beam along +x,
diffracted along 2θ from it; 1 at μR = 0.

reference(mu_r, theta)  the integral over the disc in x, y by nested adaptive quadrature
                        (scipy's quad), the outer one told where the chords end on the two
                        points at which the diffracted ray grazes the circle (y = ±cos 2θ);
                        it knows nothing of the library's change of variables.
forward(mu_r), back(mu_r)
                        the closed forms at θ = 0 and θ = 90° with mpmath's Bessel I and
                        Struve L at 40 digits (k = 2μR, K = 4μR):
                          A(0)   = 2 [I0(k) − L0(k) − (I1(k) − L1(k)) / k]
                          A(90°) = (I1(K) − L1(K)) / (2μR)
                        At θ = 0 both paths of a point add up to its chord 2√(1 − y²); with
                        y = sin a, A(0) = (2/π) ∫ cos²a e^(−k cos a) da, and
                        ∫_0^{π/2} e^(−k cos a) da = (π/2)(I0 − L0) differentiated twice in k.
                        At 90° the way out retraces the way in: along a chord of length 2c,
                        ∫_0^{2c} e^(−2μR t) dt, then ∫ cos a e^(−K cos a) da = −d/dK of the same.
rule(mu_r, theta, nx, nt)
                        the library's Gauss–Legendre rule on the rectangle (the derivation is
                        in src/reflexions/capillary_absorption.cpp), for the error map that chose
                        its 20 × 20 nodes.

Prints: the reference table the C++ and Python tests hold, the reference's own agreement with
the closed forms and its change when its tolerance is tightened, and the error map of the rule.

usage: /usr/bin/python3 scripts/capillary_transmission.py [--map]
"""
import sys
import warnings

import mpmath as mp
import numpy as np
from scipy import integrate

mp.mp.dps = 40
# The chords reach round-off before 1e-13; quad says so, and the totals check it below.
warnings.simplefilter("ignore", integrate.IntegrationWarning)


def reference(mu_r, theta, tol=1e-11):
    c2, s2 = np.cos(2.0 * theta), np.sin(2.0 * theta)

    def chord(y):
        h = np.sqrt(max(0.0, 1.0 - y * y))

        def point(x):
            along = x * c2 + y * s2  # the position along the diffracted ray
            path_out = -along + np.sqrt(max(0.0, along * along + 1.0 - x * x - y * y))
            return np.exp(-mu_r * (x + h + path_out))

        return integrate.quad(point, -h, h, epsabs=0.0, epsrel=1e-13, limit=200)[0]

    graze = [p for p in sorted({-abs(c2), abs(c2)}) if -1.0 < p < 1.0]
    return integrate.quad(chord, -1.0, 1.0, points=graze or None, epsabs=0.0, epsrel=tol, limit=400)[0] / np.pi


def forward(mu_r):
    k = mp.mpf(2) * mu_r
    return float(2 * (mp.besseli(0, k) - mp.struvel(0, k) - (mp.besseli(1, k) - mp.struvel(1, k)) / k))


def back(mu_r):
    big_k = mp.mpf(4) * mu_r
    return float((mp.besseli(1, big_k) - mp.struvel(1, big_k)) / (2 * mp.mpf(mu_r)))


def rule(mu_r, theta, nx, nt):
    eta = 0.5 * np.pi - theta
    x, wx = np.polynomial.legendre.leggauss(nx)
    t, wt = np.polynomial.legendre.leggauss(nt)
    t, wt = 0.5 * (t + 1.0), 0.5 * wt
    path = 2.0 * t * np.sinc(2.0 * eta * t / np.pi) / np.sinc(eta / np.pi)  # np.sinc(z) = sin πz / πz
    area = np.cos(2.0 * eta * (1.0 - 2.0 * t))[None, :] + np.cos(2.0 * theta * x)[:, None]
    f = area * np.exp(-2.0 * mu_r * np.cos(theta * x)[:, None] * path[None, :])
    return float(wx @ f @ wt / (np.pi * np.sinc(theta / np.pi) * np.sinc(eta / np.pi)))


# Silicon at Cu Kα1 (the reflexion-list test): sin²θ of 1 1 1 and 3 3 3; and the Python test's
# 1 1 1 at Cu Kα1 and at 1 Å, d = 5.431194/√3.
SILICON_SIN2 = (0.0603457198, 0.5431114784)
PYTHON_D = 5.431194 / np.sqrt(3.0)

if __name__ == "__main__":
    print("theta_deg  muR  A  (reference)")
    for theta in (0.5, 15.0, 45.0, 75.0, 89.5):
        for mu_r in (0.1, 1.0, 3.0, 10.0):
            print(f"{theta:5.1f} {mu_r:5.1f} {reference(mu_r, np.radians(theta)):.12e}")
    for mu_r in (0.1, 1.0, 3.0, 10.0):
        print(f"closed forms muR {mu_r}: A(0) {forward(mu_r):.15e}  A(90) {back(mu_r):.15e}")
    for s2 in SILICON_SIN2:
        print(f"silicon sin2 {s2}: A(0.5) {reference(0.5, np.arcsin(np.sqrt(s2))):.12f}")
    for wavelength in (1.540593, 1.0):
        theta = np.arcsin(wavelength / (2.0 * PYTHON_D))
        print(f"silicon 1 1 1 at {wavelength} A: A(0.7) {reference(0.7, theta):.12f}")

    worst_ends = max(max(abs(reference(m, 1e-9) / forward(m) - 1.0), abs(reference(m, 0.5 * np.pi) / back(m) - 1.0))
                     for m in (0.1, 1.0, 3.0, 10.0))
    print(f"reference against the closed forms at 0 and 90 degrees: {worst_ends:.1e}")
    tighter = max(abs(reference(m, np.radians(t), 1e-12) / reference(m, np.radians(t)) - 1.0)
                  for m in (1.0, 10.0) for t in (15.0, 75.0))
    print(f"reference, tolerance 1e-11 against 1e-12: {tighter:.1e}")
    fine_rule = max(abs(rule(m, np.radians(t), 120, 160) / reference(m, np.radians(t)) - 1.0)
                    for m in (1.0, 10.0) for t in (15.0, 75.0))
    print(f"rule with 120 x 160 nodes against the reference: {fine_rule:.1e}")

    if "--map" in sys.argv:
        # Worst relative error of the rule against itself with 120 × 160 nodes, θ every
        # 0.5° and at both ends, μR up to the limit and a little past it.
        thetas = np.radians(np.concatenate([[0.0, 1e-6, 0.1, 0.25], np.arange(0.5, 90.0, 0.5), [89.9, 90.0]]))
        for top in (10.0, 11.0):
            mus = np.linspace(top / 60.0, top, 60)
            fine = {(m, t): rule(m, t, 120, 160) for m in mus for t in thetas}
            for nx, nt in ((16, 20), (20, 16), (20, 20), (24, 24)):
                worst = max(abs(rule(m, t, nx, nt) / fine[(m, t)] - 1.0) for m in mus for t in thetas)
                print(f"muR <= {top:4.1f}  nodes {nx} x {nt}: worst relative error {worst:.1e}")
