"""powderkit: powder diffraction patterns, reflexion lists, peak lists,
Rietveld / Le Bail refinements and indexing, from Python.

    import numpy as np
    import powderkit as pk

    phase = pk.Phase.from_cif("corundum.cif")
    x = np.arange(10, 150, 0.01)
    y = pk.pattern([phase], x, anode="Cu")           # intensities at 2θ = x (degrees)

    fit = pk.Refinement(pk.read_pattern("measured.xye"), [phase], anode="Cu", background=6)
    fit.free("scale", "cell", "zero", "profile")
    result = fit.run(progress=True)
    print(result.parameters["corundum.a"], result.Rwp)

Units: lengths in Å, angles and 2θ in degrees, displacements U in Å²,
time of flight in ms on the pattern axis. X-ray scattering factors carry
the anomalous dispersion f′ + i f″ of each line (dispersion=False leaves it
out; anomalous_dispersion() shows the terms). Every failure raises
powderkit.Error (a ValueError) with the library's message; a missing file
raises powderkit.MissingFileError, which is also a FileNotFoundError.

The package is a thin binding (ctypes) of the C library libpowderkit_phase;
calls release the GIL, so distinct objects compute in parallel threads.
"""
from ._library import lib as _lib, library_path
from .errors import Error, MissingFileError
from .indexing import ExtinctionSymbol, IndexCandidate, IndexResult, index
from .instrument import (Gaussian, Instrument, Lorentzian, Profile, PseudoVoigt, TofExpGaussian, TofExpPseudoVoigt,
                         anomalous_dispersion, read_instrument)
from .measured import MeasuredPattern, read_pattern
from .pattern import PatternModel, pattern
from .peaks import PEAK_DTYPE, find_peaks
from .phase import Phase, Site
from .progress import set_progress
from .reflexions import Lines, Reflexions
from .refinement import Refinement
from .result import Parameter, PhaseResult, Result
from .series import SeriesResult, refine_series

__version__ = "0.1.0"
library_version = _lib.pk_version().decode("ascii")

__all__ = ["Error", "MissingFileError", "Instrument", "Profile", "PseudoVoigt", "Gaussian", "Lorentzian",
           "TofExpGaussian", "TofExpPseudoVoigt", "read_instrument", "Phase", "Site", "Reflexions", "Lines", "pattern",
           "PatternModel", "MeasuredPattern", "read_pattern", "find_peaks", "PEAK_DTYPE", "index", "IndexResult",
           "IndexCandidate", "ExtinctionSymbol", "Refinement", "Result",
           "Parameter", "PhaseResult", "refine_series", "SeriesResult", "anomalous_dispersion", "library_path",
           "library_version"]
