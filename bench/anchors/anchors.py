"""The anchors: the same work in the Python packages users would otherwise pick, where they are
installed, beside this library's figure from the same run, and the ratio.

    /usr/bin/python3 bench/anchors/anchors.py [BUILD_DIR] [--repeats N]

BUILD_DIR is a Release build with the benchmarks (-DPK_BUILD_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release;
default build-bench); the library is BUILD_DIR/libpowderkit_phase.so.0 unless POWDERKIT_LIBRARY names
another. Single-threaded throughout. The anchors, each skipped with a note when its package is missing:
  - structure factors: cctbx's direct summation (Debian python3-cctbx) over the Friedel-merged
    reflexions with d >= 0.8 A of a P1 cell of 500 atoms and of corundum, against Phase.reflexions;
  - the corundum pattern, 14,001 points 10-150 deg 2theta, Cu K-alpha1: the powder model of
    xrayutilities (Debian python3-xrayutilities) with its lines cached and after a lattice change,
    against pk.pattern (lines and intensities computed in each call);
  - X-ray sticks of pymatgen (python3-pymatgen), against Phase.reflexions;
  - the complex exponential integral: scipy.special.exp1 on the three regions of pk_profiles_bench,
    against the core's E1 and the layer's time-of-flight point from that benchmark.
Each figure is the median of the repeats. Not a test.
"""
import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[2]
CORUNDUM = ROOT / "examples" / "data" / "corundum.cif"
WAVELENGTH = 1.540593
TYPES = ["C", "N", "O", "Fe", "S"]


def median_time(call, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def p1_atoms():
    """500 atoms of five elements in a 19 x 20 x 21 A P1 cell, Uiso 0.005-0.008 A^2, fixed seed."""
    random = np.random.default_rng(5)
    return [(f"A{i}", TYPES[i % 5], tuple(random.random(3)), 0.005 + 0.001 * (i % 4)) for i in range(500)]


def structure_factors(pk, repeats, rows):
    atoms = p1_atoms()
    cell = (19.0, 20.0, 21.0, 90.0, 90.0, 90.0)
    p1 = pk.Phase(symbol="P 1", cell=cell, sites=[pk.Site(l, t, xyz, uiso=u) for l, t, xyz, u in atoms], name="P1")
    corundum = pk.Phase.from_cif(CORUNDUM)
    ours = {}
    for name, phase, positions in (("P1 cell, 500 atoms", p1, 500), ("corundum", corundum, 30)):
        count = len(phase.reflexions(d_min=0.8, wavelength=0.5))
        seconds = median_time(lambda: phase.reflexions(d_min=0.8, wavelength=0.5), repeats)
        ours[name] = (seconds / (count * positions), count)
    try:
        from cctbx import crystal, miller, xray
        from cctbx.array_family import flex
        import iotbx.cif
    except ImportError:
        for name, (per, count) in ours.items():
            rows.append((f"structure factors, {name}, d >= 0.8 A", f"{per * 1e9:.2f} ns", "cctbx not installed", ""))
        return
    symmetry = crystal.symmetry(unit_cell=cell, space_group_symbol="P1")
    scatterers = flex.xray_scatterer([xray.scatterer(label=l, site=xyz, u=u, scattering_type=t)
                                      for l, t, xyz, u in atoms])
    structures = {"P1 cell, 500 atoms": xray.structure(crystal_symmetry=symmetry, scatterers=scatterers),
                  "corundum": list(iotbx.cif.reader(file_path=str(CORUNDUM)).build_crystal_structures().values())[0]}
    for name, structure in structures.items():
        structure.scattering_type_registry(table="it1992")
        reflexions = miller.build_set(crystal_symmetry=structure.crystal_symmetry(), anomalous_flag=False, d_min=0.8)
        positions = sum(structure.site_symmetry_table().get(i).multiplicity()
                        for i in range(structure.scatterers().size()))
        # As a user meets it, like Phase.reflexions: the reflexion set made in the call.
        seconds = median_time(lambda: miller.build_set(
            crystal_symmetry=structure.crystal_symmetry(), anomalous_flag=False, d_min=0.8)
            .structure_factors_from_scatterers(structure, algorithm="direct").f_calc(), repeats)
        theirs = seconds / (reflexions.size() * positions)
        per, count = ours[name]
        rows.append((f"structure factors, {name}, d >= 0.8 A, per reflexion x position "
                     f"({count} reflexions here, {reflexions.size()} there)",
                     f"{per * 1e9:.2f} ns", f"cctbx direct {theirs * 1e9:.1f} ns", f"{theirs / per:.1f}x"))


def pattern(pk, repeats, rows):
    phase = pk.Phase.from_cif(CORUNDUM)
    x = 10.0 + 0.01 * np.arange(14001)
    pk.pattern([phase], x, wavelength=WAVELENGTH)
    ours = median_time(lambda: pk.pattern([phase], x, wavelength=WAVELENGTH), max(repeats, 50))
    label = "corundum pattern, 14,001 points, Cu Ka1"
    try:
        import xrayutilities as xu
    except ImportError:
        rows.append((label, f"{ours * 1e3:.3f} ms", "xrayutilities not installed", ""))
        return
    material = xu.materials.Crystal.fromCIF(str(CORUNDUM))
    model = xu.simpack.PowderModel(xu.simpack.Powder(material, 1), I0=100)
    try:
        model.simulate(x)
        cached = median_time(lambda: model.simulate(x), repeats)
        step = iter(range(1, 1000))
        changed = median_time(lambda: (setattr(model.materials[0], "a", 4.7589 + 1e-5 * next(step)),
                                       model.simulate(x)), repeats)
    finally:
        model.close()
    rows.append((label + ", lines cached there", f"{ours * 1e3:.3f} ms", f"xrayutilities {cached * 1e3:.1f} ms",
                 f"{cached / ours:.0f}x"))
    rows.append((label + ", after a lattice change there", f"{ours * 1e3:.3f} ms",
                 f"xrayutilities {changed * 1e3:.0f} ms", f"{changed / ours:.0f}x"))


def sticks(pk, repeats, rows):
    phase = pk.Phase.from_cif(CORUNDUM)
    ours = median_time(lambda: phase.reflexions(two_theta_max=150, wavelength=WAVELENGTH), max(repeats, 20))
    try:
        from pymatgen.analysis.diffraction.xrd import XRDCalculator
        from pymatgen.core import Structure
    except ImportError:
        rows.append(("corundum X-ray sticks to 150 deg", f"{ours * 1e3:.3f} ms", "pymatgen not installed", ""))
        return
    structure = Structure.from_file(str(CORUNDUM))
    calculator = XRDCalculator(wavelength=WAVELENGTH)
    theirs = median_time(lambda: calculator.get_pattern(structure, two_theta_range=(0, 150)), repeats)
    rows.append(("corundum X-ray sticks to 150 deg", f"{ours * 1e3:.3f} ms", f"pymatgen {theirs * 1e3:.1f} ms",
                 f"{theirs / ours:.0f}x"))


def exponential_integral(build, repeats, rows):
    executable = build / "bench" / "pk_profiles_bench"
    ours = {}
    if executable.is_file():
        done = subprocess.run([str(executable), "--benchmark_filter=E1|TofExpPseudoVoigt|LayerTof",
                               "--benchmark_format=json",
                               f"--benchmark_repetitions={repeats}", "--benchmark_report_aggregates_only=true"],
                              capture_output=True, text=True, check=True)
        for run in json.loads(done.stdout)["benchmarks"]:
            if run.get("aggregate_name") == "median":
                ours[run["run_name"]] = run["cpu_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3}[run["time_unit"]]
    try:
        from scipy.special import exp1
    except ImportError:
        rows.append(("complex E1", "", "scipy not installed", ""))
        return
    # The arguments of the benchmark's cases: |z| = 3 (series), |z| = 20 in the right half plane, and
    # |z| = 8 at 115-149 deg (continued fraction near the cut).
    angles = np.linspace(0, 1, 100000)
    cases = {"BM_E1Series": 3.0 * np.exp(1j * np.pi * (angles * 2 - 1)),
             "BM_E1ContinuedFraction": 20.0 * np.exp(1j * np.pi * (angles - 0.5) * 0.9),
             "BM_E1ContinuedFractionNearCut": 8.0 * np.exp(1j * np.radians(115 + 34 * angles))}
    for name, z in cases.items():
        theirs = median_time(lambda: exp1(z), repeats) / len(z)
        core = ours.get(name)
        rows.append((f"complex E1 ({name[5:]})", f"core {core * 1e9:.0f} ns" if core else "not measured",
                     f"scipy {theirs * 1e9:.0f} ns", f"{theirs / core:.2f}x" if core else ""))
    for name, where in (("BM_LayerTofPseudoVoigtNear", "within 10 us of the peak"),
                        ("BM_LayerTofPseudoVoigtFar", "100-400 us from the peak")):
        if name in ours:
            core = ours.get(name.replace("LayerTof", "TofExp"))
            rows.append((f"time-of-flight pseudo-Voigt point, {where} (two E1 each)",
                         f"{ours[name] * 1e9:.0f} ns", f"the core's {core * 1e9:.0f} ns" if core else "",
                         f"{core / ours[name]:.1f}x" if core else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", nargs="?", default=str(ROOT / "build-bench"))
    parser.add_argument("--repeats", type=int, default=5)
    options = parser.parse_args()
    build = Path(options.build).resolve()
    os.environ.setdefault("POWDERKIT_LIBRARY", str(build / "libpowderkit_phase.so.0"))
    sys.path.insert(0, str(ROOT / "python"))
    import powderkit as pk

    model = next((line.split(":", 1)[1].strip() for line in Path("/proc/cpuinfo").read_text().splitlines()
                  if line.startswith("model name")), platform.processor())
    print(f"machine  {model}, {os.cpu_count()} CPUs, Python {platform.python_version()}, "
          f"load average {os.getloadavg()[0]:.2f}")
    print(f"library  {pk.library_path}")
    rows = []
    for section in (structure_factors, pattern, sticks):
        section(pk, options.repeats, rows)
    exponential_integral(build, options.repeats, rows)
    print(f"load average at the end {os.getloadavg()[0]:.2f}\n")
    print("| work | this library | anchor | ratio |\n|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
