"""A two-phase Rietveld refinement, from a measurement whose truth is known.

    /usr/bin/python3 python/examples/two_phase_refinement.py [OUTPUT_FOLDER]

A corundum + silicon mixture is simulated for Cu Kα1 + Kα2 with counting noise,
then refined from cells 0.5 % off, scales 20 % off, the default peak widths and
no zero shift. Prints every cycle, the refined parameters with their esd's beside
the true values, Rwp, GoF and the weight fractions; writes mixture.xy (2θ, counts, σ)
and, where matplotlib is installed, fit.png.
"""
import sys
from pathlib import Path

import numpy as np
import powderkit as pk

data = Path(__file__).resolve().parents[2] / "examples" / "data"
out = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
out.mkdir(parents=True, exist_ok=True)

# The truth: the phases as their CIF files give them, each with its own scale and peak widths
# (pseudo-Voigt: Gaussian U V W in degrees², Lorentzian X Y in degrees), a zero shift of
# 0.012° 2θ and a six-term Chebyshev background.
corundum = pk.Phase.from_cif(data / "corundum.cif")
silicon = pk.Phase.from_cif(data / "silicon.cif")
widths = [dict(U=0.004, V=-0.002, W=0.003, X=0.02, Y=0.01), dict(U=0.003, V=-0.001, W=0.002, X=0.015, Y=0.02)]
truth = {"corundum.scale": 150.0, "silicon.scale": 50.0, "zero": 0.012,
         "corundum.a": corundum.cell[0], "corundum.c": corundum.cell[2], "silicon.a": silicon.cell[0]}
truth.update({f"{name}.{key}": value for name, shape in zip(["corundum", "silicon"], widths)
              for key, value in shape.items()})
background = [180.0, -50.0, 25.0, -10.0, 4.0, -2.0]
truth.update({f"background.{k}": value for k, value in enumerate(background)})

x = np.linspace(10, 150, 14001)                                     # 2θ, degrees
mean = pk.pattern([corundum, silicon], x, instrument=pk.Instrument("Cu", zero=truth["zero"]),
                  scale=[150.0, 50.0], profile=[pk.PseudoVoigt(**w) for w in widths], background=background)

# The measurement: a Poisson count at every point (fixed seed: every run the same). σ is the
# square root of the mean count; σ taken from the noisy counts would pull the fit down.
counts = np.random.default_rng(7).poisson(mean).astype(float)
measured = pk.MeasuredPattern(x, counts, sigma=np.sqrt(np.maximum(mean, 1.0)), name="mixture")
np.savetxt(out / "mixture.xy", np.column_stack([x, counts, measured.sigma]), fmt="%.2f %.0f %.4f")

# The refinement: Cu Kα1 + Kα2, no zero shift, the scales 20 % off, the cells 0.5 % off, the
# library's default peak widths; the six background coefficients start at zero and are free.
fit = pk.Refinement(measured, [corundum, silicon], anode="Cu", scale=[180.0, 40.0], background=6)
fit.set("corundum.a", 1.005 * truth["corundum.a"])
fit.set("corundum.c", 0.995 * truth["corundum.c"])
fit.set("silicon.a", 1.005 * truth["silicon.a"])
fit.free("scale", "cell", "zero", "profile")
result = fit.run(progress=True)                                     # one line per cycle

print(f"\n{result.stop_reason}\n")
print(f"{'parameter':<16} {'refined':>12} {'esd':>10} {'true':>12}")
for p in result.parameters.values():
    if p.state != "fixed":
        print(f"{p.name:<16} {p.value:12.6g} {p.esd:10.2g} {truth.get(p.name, np.nan):12.6g}   {p.state}")
print(f"\nRwp {result.Rwp:.3f} %   Rexp {result.Rexp:.3f} %   GoF {result.GoF:.3f}")
for phase in result.phases.values():
    print(f"weight fraction {phase.name:<10} {phase.weight_fraction:.4f}   R-Bragg {phase.r_bragg:.2f} %")

try:                                                                # the plot, where matplotlib is installed
    import matplotlib.pyplot as plt
except ImportError:
    sys.exit()
result.plot()
plt.savefig(out / "fit.png", dpi=120)
