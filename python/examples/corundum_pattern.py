"""The X-ray pattern of corundum (Cu Kα1 + Kα2, 2θ 10–150° by 0.01°): a two-column file, and a PNG.

    /usr/bin/python3 python/examples/corundum_pattern.py [FILE.cif [OUTPUT.xy]]
"""
import sys
from pathlib import Path

import numpy as np
import powderkit as pk

cif = sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "examples/data/corundum.cif"
output = Path(sys.argv[2] if len(sys.argv) > 2 else "corundum.xy")

phase = pk.Phase.from_cif(cif)                   # cell, symmetry operators and sites
x = np.linspace(10, 150, 14001)                  # 2θ, degrees
y = pk.pattern([phase], x, anode="Cu")           # Kα1 + Kα2, the default pseudo-Voigt peaks
np.savetxt(output, np.column_stack([x, y]), fmt="%.2f %.6g", header="2theta intensity")

try:                                             # and the plot, where matplotlib is installed
    import matplotlib.pyplot as plt
except ImportError:
    sys.exit()
plt.figure(figsize=(10, 4))
plt.plot(x, y, linewidth=0.6)
plt.xlabel("2θ (degrees)")
plt.savefig(output.with_suffix(".png"), dpi=120)
