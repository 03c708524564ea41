"""How much the Python package adds to the library's time: the corundum pattern, 2θ 10–150° by 0.01°
(14,001 points), Cu Kα1 (1.540593 Å), the library's default pseudo-Voigt, scale 1, no background.

    /usr/bin/python3 bench/python/pattern_bench.py [BUILD_DIR] [--rounds N] [--repetitions N]

Times four things, each as the median over repetitions of the mean of a batch of calls:
  python  pk.pattern([phase], x, wavelength=1.540593) through the binding (timeit);
  bare    the same pk_pattern call through ctypes with its arguments made once (the library's time in
          this process);
  C       the same pk_pattern call from C: the CorundumPatternCall case of BUILD_DIR/bench/pk_roads_bench
          (configure BUILD_DIR with -DPK_BUILD_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release);
  numpy   a pseudo-Voigt sum in numpy alone over the same reflexions (positions and intensities from
          Phase.reflexions, widths from the default U V W X Y by the Thompson–Cox–Hastings formulas,
          no asymmetry, each reflexion on ±20 FWHM), as a point of reference.
The four alternate over the rounds, so that a change of load on the machine meets them all.
The library is BUILD_DIR/libpowderkit_phase.so.0 unless POWDERKIT_LIBRARY names another. Not a test.
"""
import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import time
import timeit
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[2]
WAVELENGTH = 1.540593
BATCH = 10                                    # calls per timed batch, in C (about) and in Python alike


def arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", nargs="?", default=str(ROOT / "build-bench"), help="the build folder")
    parser.add_argument("--rounds", type=int, default=10, help="alternations of C, Python and numpy (10)")
    parser.add_argument("--repetitions", type=int, default=15, help="batches per round of each (15)")
    return parser.parse_args()


def tch_pseudo_voigt(x, centre, two_theta, U, V, W, X, Y):
    """The unit-area Thompson–Cox–Hastings pseudo-Voigt at x (degrees) for a reflexion at `centre`:
    Gaussian H_G² = U tan²θ + V tanθ + W and Lorentzian H_L = X / cosθ + Y tanθ, combined into one
    FWHM H and a Lorentzian fraction η."""
    theta = np.radians(two_theta / 2)
    hg = np.sqrt(max(U * np.tan(theta) ** 2 + V * np.tan(theta) + W, 0.0))
    hl = X / np.cos(theta) + Y * np.tan(theta)
    h = (hg ** 5 + 2.69269 * hg ** 4 * hl + 2.42843 * hg ** 3 * hl ** 2 + 4.47163 * hg ** 2 * hl ** 3
         + 0.07842 * hg * hl ** 4 + hl ** 5) ** 0.2
    q = hl / h
    eta = 1.36603 * q - 0.47719 * q ** 2 + 0.11116 * q ** 3
    u = (x - centre) / h
    gauss = 2 / h * np.sqrt(np.log(2) / np.pi) * np.exp(-4 * np.log(2) * u ** 2)
    lorentz = 2 / (np.pi * h) / (1 + 4 * u ** 2)
    return eta * lorentz + (1 - eta) * gauss, h


def numpy_pattern(x, centres, intensities, widths):
    """Σ intensity · pseudo-Voigt, each reflexion on the points within 20 FWHM of it."""
    y = np.zeros_like(x)
    for centre, intensity in zip(centres, intensities):
        _, h = tch_pseudo_voigt(centre, centre, centre, **widths)
        first, last = np.searchsorted(x, (centre - 20 * h, centre + 20 * h))
        if first < last:
            y[first:last] += intensity * tch_pseudo_voigt(x[first:last], centre, centre, **widths)[0]
    return y


def c_batches(executable, repetitions):
    """The per-call wall and CPU times (s) of `repetitions` batches of the C case, from Google Benchmark."""
    done = subprocess.run([str(executable), "--benchmark_filter=^CorundumPatternCall$", "--benchmark_format=json",
                           f"--benchmark_repetitions={repetitions}", "--benchmark_min_time=0.02"],
                          capture_output=True, text=True, check=True)
    runs = json.loads(done.stdout)["benchmarks"]
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    runs = [run for run in runs if run.get("run_type") == "iteration"]
    return ([run["real_time"] * scale[run["time_unit"]] for run in runs],
            [run["cpu_time"] * scale[run["time_unit"]] for run in runs])


def python_batches(call, repetitions):
    """The per-call wall and CPU times (s) of `repetitions` batches of `call`, one after the other."""
    wall, cpu = [], []
    for _ in range(repetitions):
        call()  # caches warm again after whatever ran before, as in the C loop
        wall += timeit.repeat(call, number=BATCH, repeat=1)
        cpu += timeit.repeat(call, number=BATCH, repeat=1, timer=time.process_time)
    return [t / BATCH for t in wall], [t / BATCH for t in cpu]


def machine():
    model = next((line.split(":", 1)[1].strip() for line in Path("/proc/cpuinfo").read_text().splitlines()
                  if line.startswith("model name")), platform.processor())
    system = f"{platform.system()} {platform.release()}"
    return f"{model}, {os.cpu_count()} CPUs, {system}, Python {platform.python_version()}"


def main():
    options = arguments()
    build = Path(options.build).resolve()
    os.environ.setdefault("POWDERKIT_LIBRARY", str(build / "libpowderkit_phase.so.0"))
    sys.path.insert(0, str(ROOT / "python"))
    import powderkit as pk

    phase = pk.Phase.from_cif(ROOT / "examples" / "data" / "corundum.cif")
    x = 10.0 + 0.01 * np.arange(14001)        # the axis of the C case, point for point

    def call():
        return pk.pattern([phase], x, wavelength=WAVELENGTH)

    # The same library call from this process with every argument made once: the library's own time
    # here, so that the binding's share is not mixed with what differs between two processes.
    import ctypes
    from powderkit import _records
    from powderkit._library import lib
    record = pk.Instrument(wavelength=WAVELENGTH).record
    settings = (_records.PhaseSetting * 1)()
    settings[0].phase, settings[0].scale, settings[0].march_ratio = phase.handle, 1.0, 1.0
    bare_y = np.empty_like(x)
    error = _records.Error()

    def bare():
        return lib.pk_pattern(ctypes.byref(record), settings, 1, None, 0, x.ctypes.data, len(x), bare_y.ctypes.data,
                              ctypes.byref(error))

    reflexions = phase.reflexions(wavelength=WAVELENGTH)
    default = pk.PseudoVoigt()
    widths = {name: getattr(default, name) for name in "UVWXY"}

    def reference():
        return numpy_pattern(x, reflexions.two_theta, reflexions.intensity, widths)

    # The reference computes the library's pattern, but for the asymmetry and the narrower windows.
    symmetric = pk.pattern([phase], x, wavelength=WAVELENGTH, profile=pk.PseudoVoigt(asymmetry=0))
    difference = np.max(np.abs(reference() - symmetric)) / np.max(symmetric)

    executable = build / "bench" / "pk_roads_bench"
    c_wall, c_cpu, python_wall, python_cpu, numpy_wall, numpy_cpu = [], [], [], [], [], []
    bare_wall, bare_cpu = [], []
    load_before = os.getloadavg()[0]
    for _ in range(options.rounds):
        if executable.is_file():
            wall, cpu = c_batches(executable, options.repetitions)
            c_wall, c_cpu = c_wall + wall, c_cpu + cpu
        wall, cpu = python_batches(call, options.repetitions)
        python_wall, python_cpu = python_wall + wall, python_cpu + cpu
        wall, cpu = python_batches(bare, options.repetitions)
        bare_wall, bare_cpu = bare_wall + wall, bare_cpu + cpu
        wall, cpu = python_batches(reference, options.repetitions)
        numpy_wall, numpy_cpu = numpy_wall + wall, numpy_cpu + cpu
    # The binding's own cost per call, bounded above: the same call on two points, where the
    # library has almost nothing to compute.
    two = x[:2].copy()
    fixed = statistics.median(python_batches(lambda: pk.pattern([phase], two, wavelength=WAVELENGTH), 200)[0])
    load_after = os.getloadavg()[0]

    print(f"machine   {machine()}; load average {load_before:.2f} before, {load_after:.2f} after")
    print(f"library   {pk.library_path} (version {pk.library_version})")
    print(f"pattern   corundum, {len(x)} points 10–150° 2θ, Cu Kα1 {WAVELENGTH} Å, {len(reflexions)} reflexions; "
          f"medians of {len(python_wall)} batches of {BATCH} calls")
    print(f"{'':42}{'wall':>9}{'CPU':>12}")

    def line(label, wall, cpu):
        print(f"{label:42}{statistics.median(wall) * 1e3:6.3f} ms{statistics.median(cpu) * 1e3:9.3f} ms")

    line("python    pk.pattern", python_wall, python_cpu)
    if c_wall:
        line("C         pk_pattern (Google Benchmark)", c_wall, c_cpu)
        overheads = [100 * (statistics.median(p) / statistics.median(c) - 1)
                     for p, c in ((python_wall, c_wall), (python_cpu, c_cpu))]
        print(f"{'overhead  Python over C':42}{overheads[0]:+7.1f} %{overheads[1]:+10.1f} %")
    else:
        print(f"C         not timed: {executable} is not built (-DPK_BUILD_BENCHMARKS=ON)")
    line("bare      pk_pattern through ctypes", bare_wall, bare_cpu)
    overheads = [100 * (statistics.median(p) / statistics.median(c) - 1)
                 for p, c in ((python_wall, bare_wall), (python_cpu, bare_cpu))]
    print(f"{'overhead  Python over the bare call':42}{overheads[0]:+7.1f} %{overheads[1]:+10.1f} %")
    line("numpy     pseudo-Voigt sum", numpy_wall, numpy_cpu)
    print(f"the binding's own cost, at most {fixed * 1e6:.1f} µs per call (pk.pattern on two points); the numpy "
          f"sum agrees with the library's symmetric pattern to {100 * difference:.2f} % of its highest point")


if __name__ == "__main__":
    main()
