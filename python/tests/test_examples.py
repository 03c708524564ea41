"""The two example scripts run as a user runs them, their outputs checked against values worked out by hand."""
import re
import subprocess
from pathlib import Path

import numpy as np

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"


def run(script, *arguments, cwd):
    done = subprocess.run(["/usr/bin/python3", str(EXAMPLES / script), *map(str, arguments)], cwd=cwd,
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_corundum_pattern(tmp_path):
    run("corundum_pattern.py", cwd=tmp_path)
    x, y = np.loadtxt(tmp_path / "corundum.xy", unpack=True)
    assert (tmp_path / "corundum.png").stat().st_size > 1000  # matplotlib is one of the test requirements
    assert len(x) == 14001 and x[0] == 10 and x[-1] == 150 and np.all(np.isfinite(y)) and y.min() >= 0
    # The strongest lines of the reference list (0 1 2, 1 0 4, 1 1 3, 1 1 6): a maximum at the Kα1 Bragg angle.
    for d in (3.47995648, 2.55088714, 2.08536593, 1.60141328):
        bragg = 2 * np.degrees(np.arcsin(1.540593 / (2 * d)))
        near = np.abs(x - bragg) < 0.3
        assert abs(x[near][np.argmax(y[near])] - bragg) < 0.03 and y[near].max() > 20 * np.median(y)


def test_two_phase_refinement(tmp_path):
    out = run("two_phase_refinement.py", tmp_path / "fit", cwd=tmp_path)
    rows = re.findall(r"^(\S+) +(\S+) +(\S+) +(\S+) +free$", out, re.M)
    assert len(rows) == 22  # 2 scales, 3 cell lengths, 2 × 5 widths, zero, 6 background terms
    for name, value, esd, true in rows:
        assert abs(float(value) - float(true)) < 4 * float(esd), name
    assert 0.9 < float(re.search(r"GoF (\S+)", out)[1]) < 1.2
    # w = S·ρ / Σ S·ρ with ρ = Z·M/V (the scale multiplies |F|²/V², so it is the volume fraction);
    # scales 150, 50.
    mass = np.array([6 * 101.961 / 254.792343, 8 * 28.0855 / 5.431194 ** 3]) * [150, 50]  # S·ρ, amu/Å³
    assert abs(float(re.search(r"weight fraction corundum +(\S+)", out)[1]) - mass[0] / mass.sum()) < 0.003
    assert len(np.loadtxt(tmp_path / "fit" / "mixture.xy")) == 14001 and (tmp_path / "fit" / "fit.png").is_file()
