"""Finding and loading libpowderkit_phase, and the prototype of every function used.

The library is looked for, in order:
  1. at the path in the environment variable POWDERKIT_LIBRARY;
  2. in lib/, lib64/ or lib/<multiarch>/ of every folder above this package
     (an install into a prefix P puts the package under
     P/local/lib/python3.X/dist-packages or P/lib/python3.X/site-packages and
     the library in P/lib, so the search finds the prefix it was installed in).
The library finds its own core library through its run path.
"""
import ctypes
import os
import sys
import sysconfig
from ctypes import POINTER, c_bool, c_char_p, c_double, c_int32, c_void_p
from pathlib import Path

from . import _records as r

_FILE = "libpowderkit_phase.0.dylib" if sys.platform == "darwin" else "libpowderkit_phase.so.0"

_HOW_TO_INSTALL = (
    "build and install the library first:\n"
    "    cmake -S . -B build && cmake --build build && cmake --install build --prefix P\n"
    "then install this package into the same prefix:\n"
    "    /usr/bin/python3 -m pip install --no-build-isolation --no-deps --no-index --prefix P ./python\n"
    "and put P/local/lib/python3.X/dist-packages (Debian's pip) or P/lib/python3.X/site-packages on PYTHONPATH;\n"
    "or set POWDERKIT_LIBRARY to the path of " + _FILE)


def _candidates():
    """The places the library may be, most specific first."""
    multiarch = sysconfig.get_config_var("MULTIARCH")
    subfolders = ["lib", "lib64"] + ([os.path.join("lib", multiarch)] if multiarch else [])
    for folder in Path(__file__).resolve().parent.parents:
        for sub in subfolders:
            yield folder / sub / _FILE


def _load():
    chosen = os.environ.get("POWDERKIT_LIBRARY")
    if chosen:
        if not os.path.isfile(chosen):
            raise ImportError("POWDERKIT_LIBRARY names " + chosen + ", which is not a file; " + _HOW_TO_INSTALL)
        path = chosen
    else:
        path = next((str(p) for p in _candidates() if p.is_file()), None)
        if path is None:
            raise ImportError("powderkit cannot find " + _FILE + " in any lib folder above " +
                              str(Path(__file__).resolve().parent) + "; " + _HOW_TO_INSTALL)
    try:
        return ctypes.CDLL(path)
    except OSError as failure:
        raise ImportError("powderkit cannot load " + path + ": " + str(failure)) from failure


lib = _load()
library_path = lib._name

_ERROR = POINTER(r.Error)
_HANDLE = POINTER(c_void_p)
# Arrays go in as addresses (numpy's .ctypes.data): the cheapest way across.
_DOUBLES = c_void_p
_INTS = c_void_p

# name: (result type, argument types); every status-returning function ends with a pk_error*.
_PROTOTYPES = {
    "pk_version": (c_char_p, []),
    "pk_instrument_default": (None, [POINTER(r.Instrument)]),
    "pk_instrument_default_source": (None, [POINTER(r.Instrument)]),
    "pk_instrument_set_anode": (c_int32, [POINTER(r.Instrument), c_char_p, c_bool, _ERROR]),
    "pk_anode_lines": (c_int32, [c_char_p, _DOUBLES, _DOUBLES, _DOUBLES, _ERROR]),
    "pk_anomalous_dispersion": (c_int32, [c_char_p, c_double, POINTER(c_double), POINTER(c_double), _ERROR]),
    "pk_profile_default": (c_int32, [POINTER(r.Profile), c_int32, _ERROR]),
    "pk_instrument_file_write": (c_int32, [c_char_p, POINTER(r.Instrument), POINTER(r.Profile), _ERROR]),
    "pk_instrument_file_read": (c_int32, [c_char_p, POINTER(r.Instrument), POINTER(r.Profile), _ERROR]),
    "pk_instrument_file_difb": (c_int32, [c_char_p, c_int32, POINTER(c_double), _ERROR]),
    "pk_instrument_file_read_bank": (c_int32, [c_char_p, c_int32, POINTER(r.Instrument), POINTER(r.Profile), c_char_p,
                                               c_int32, _INTS, _ERROR]),
    "pk_phase_from_cif_file": (c_int32, [c_char_p, c_char_p, _HANDLE, _ERROR]),
    "pk_phase_from_cif_text": (c_int32, [c_char_p, c_char_p, _HANDLE, _ERROR]),
    "pk_phase_from_symbol": (c_int32, [c_char_p, c_char_p, _DOUBLES, POINTER(r.Site), c_int32, _HANDLE, _ERROR]),
    "pk_phase_from_operators": (c_int32, [c_char_p, POINTER(c_char_p), c_int32, _DOUBLES, POINTER(r.Site), c_int32,
                                          _HANDLE, _ERROR]),
    "pk_phase_free": (None, [c_void_p]),
    "pk_phase_name": (c_char_p, [c_void_p]),
    "pk_phase_symbol": (c_char_p, [c_void_p]),
    "pk_phase_warnings": (c_char_p, [c_void_p]),
    "pk_phase_cell": (c_int32, [c_void_p, _DOUBLES, _DOUBLES]),
    "pk_phase_site_count": (c_int32, [c_void_p]),
    "pk_phase_site": (c_int32, [c_void_p, c_int32, POINTER(r.Site), _ERROR]),
    "pk_phase_operator_count": (c_int32, [c_void_p]),
    "pk_phase_operator": (c_int32, [c_void_p, c_int32, _INTS, _DOUBLES, _ERROR]),
    "pk_reflexion_list_make": (c_int32, [c_void_p, POINTER(r.Instrument), c_int32, c_double, _HANDLE, _ERROR]),
    "pk_reflexion_list_free": (None, [c_void_p]),
    "pk_reflexion_list_count": (c_int32, [c_void_p]),
    "pk_reflexion_list_indices": (c_int32, [c_void_p, _INTS, c_int32, _ERROR]),
    "pk_reflexion_list_values": (c_int32, [c_void_p, c_int32, _DOUBLES, c_int32, _ERROR]),
    "pk_reflexion_list_line_count": (c_int32, [c_void_p]),
    "pk_reflexion_list_line_values": (c_int32, [c_void_p, c_int32, _DOUBLES, c_int32, _ERROR]),
    "pk_reflexion_list_line_members": (c_int32, [c_void_p, _INTS, _INTS, c_int32, _ERROR]),
    "pk_pattern_model_make": (c_int32, [POINTER(r.Instrument), POINTER(r.PhaseSetting), c_int32, _DOUBLES, c_int32,
                                        c_double, c_double, _HANDLE, _ERROR]),
    "pk_pattern_model_free": (None, [c_void_p]),
    "pk_pattern_model_compute": (c_int32, [c_void_p, c_int32, _DOUBLES, c_int32, _DOUBLES, _ERROR]),
    "pk_pattern_model_phase_count": (c_int32, [c_void_p]),
    "pk_pattern_model_peak_positions": (c_int32, [c_void_p, c_int32, _DOUBLES, c_int32, _INTS, _ERROR]),
    "pk_pattern": (c_int32, [POINTER(r.Instrument), POINTER(r.PhaseSetting), c_int32, _DOUBLES, c_int32, _DOUBLES,
                             c_int32, _DOUBLES, _ERROR]),
    "pk_measured_pattern_read_file": (c_int32, [c_char_p, _HANDLE, _ERROR]),
    "pk_measured_pattern_read_file_bank": (c_int32, [c_char_p, c_int32, _HANDLE, _ERROR]),
    "pk_measured_pattern_warnings": (c_char_p, [c_void_p]),
    "pk_measured_pattern_axis": (c_int32, [c_void_p]),
    "pk_measured_pattern_make": (c_int32, [_DOUBLES, _DOUBLES, _DOUBLES, c_int32, _HANDLE, _ERROR]),
    "pk_measured_pattern_free": (None, [c_void_p]),
    "pk_measured_pattern_count": (c_int32, [c_void_p]),
    "pk_measured_pattern_x": (POINTER(c_double), [c_void_p]),
    "pk_measured_pattern_y": (POINTER(c_double), [c_void_p]),
    "pk_measured_pattern_sigma": (POINTER(c_double), [c_void_p]),
    "pk_measured_pattern_wavelengths": (c_int32, [c_void_p, POINTER(c_double), POINTER(c_double), POINTER(c_double),
                                                  _ERROR]),
    "pk_peak_search_default": (None, [POINTER(r.PeakSearch)]),
    "pk_find_peaks": (c_int32, [c_void_p, POINTER(r.PeakSearch), c_void_p, c_int32, _INTS, POINTER(r.PeakFailure),
                                c_int32, _INTS, _ERROR]),
    "pk_refinement_options_default": (None, [POINTER(r.RefinementOptions)]),
    "pk_refinement_make": (c_int32, [c_void_p, POINTER(r.Instrument), POINTER(r.PhaseSetting), c_int32,
                                     POINTER(c_char_p), POINTER(r.RefinementOptions), _HANDLE, _ERROR]),
    "pk_refinement_free": (None, [c_void_p]),
    "pk_refinement_exclude": (c_int32, [c_void_p, c_double, c_double, _ERROR]),
    "pk_refinement_make_joint": (c_int32, [POINTER(r.RefinementHistogram), c_int32, POINTER(r.PhaseSetting), c_int32,
                                           POINTER(c_char_p), POINTER(r.RefinementOptions), _HANDLE, _ERROR]),
    "pk_refinement_histogram_count": (c_int32, [c_void_p]),
    "pk_refinement_get_histogram": (c_int32, [c_void_p, c_int32, POINTER(r.RefinementHistogramResult), _ERROR]),
    "pk_refinement_histogram_exclude": (c_int32, [c_void_p, c_int32, c_double, c_double, _ERROR]),
    "pk_refinement_histogram_profile": (c_int32, [c_void_p, c_int32, c_int32, POINTER(r.Profile), _ERROR]),
    "pk_refinement_histogram_peak_positions": (c_int32, [c_void_p, c_int32, c_int32, _DOUBLES, c_int32, _INTS,
                                                         _ERROR]),
    "pk_refinement_parameter_count": (c_int32, [c_void_p]),
    "pk_refinement_parameter": (c_int32, [c_void_p, c_int32, POINTER(r.Parameter), _ERROR]),
    "pk_refinement_set_free": (c_int32, [c_void_p, c_char_p, c_bool, _ERROR]),
    "pk_refinement_default_free": (c_char_p, [c_int32]),
    "pk_refinement_set_value": (c_int32, [c_void_p, c_char_p, c_double, _ERROR]),
    "pk_refinement_set_limits": (c_int32, [c_void_p, c_char_p, c_double, c_double, _ERROR]),
    "pk_refinement_tie": (c_int32, [c_void_p, c_char_p, c_char_p, _ERROR]),
    "pk_refinement_run": (c_int32, [c_void_p, r.PROGRESS, c_void_p, _ERROR]),
    "pk_refinement_get_summary": (c_int32, [c_void_p, POINTER(r.RefinementSummary), _ERROR]),
    "pk_refinement_stop_reason": (c_char_p, [c_void_p]),
    "pk_refinement_warnings": (c_char_p, [c_void_p]),
    "pk_refinement_notes": (c_char_p, [c_void_p]),
    "pk_refinement_verdict": (c_char_p, [c_void_p]),
    "pk_refinement_stage": (c_char_p, [c_void_p]),
    "pk_refinement_correlations": (c_int32, [c_void_p, _DOUBLES, c_int32, _INTS, _ERROR]),
    "pk_refinement_phase_count": (c_int32, [c_void_p]),
    "pk_refinement_phase_result": (c_int32, [c_void_p, c_int32, POINTER(r.RefinementPhase), _ERROR]),
    "pk_refinement_histogram_phase_result": (c_int32, [c_void_p, c_int32, c_int32, POINTER(r.RefinementPhase),
                                                        _ERROR]),
    "pk_refinement_histogram_set_instrument_profile": (c_int32, [c_void_p, c_int32, POINTER(r.Profile), _ERROR]),
    "pk_refinement_set_instrument_profile": (c_int32, [c_void_p, POINTER(r.Profile), _ERROR]),
    "pk_refinement_instrument": (c_int32, [c_void_p, POINTER(r.Instrument), _ERROR]),
    "pk_refinement_phase_profile": (c_int32, [c_void_p, c_int32, POINTER(r.Profile), _ERROR]),
    "pk_refinement_phase_cif": (c_int32, [c_void_p, c_int32, c_void_p, c_int32, c_void_p, _ERROR]),
    "pk_parameter_state_name": (c_char_p, [c_int32]),
    "pk_refinement_report": (c_int32, [c_void_p, c_char_p, c_int32, c_void_p, c_int32, c_void_p, _ERROR]),
    "pk_refinement_point_count": (c_int32, [c_void_p]),
    "pk_refinement_curve": (c_int32, [c_void_p, c_int32, c_int32, _DOUBLES, c_int32, _ERROR]),
    "pk_refinement_peak_positions": (c_int32, [c_void_p, c_int32, _DOUBLES, c_int32, _INTS, _ERROR]),
    "pk_index_options_default": (None, [POINTER(r.IndexOptions)]),
    "pk_index": (c_int32, [_DOUBLES, _DOUBLES, c_int32, c_double, c_void_p, POINTER(r.Instrument),
                           POINTER(r.IndexOptions), r.INDEX_PROGRESS, c_void_p, _HANDLE, _ERROR]),
    "pk_indexing_free": (None, [c_void_p]),
    "pk_indexing_candidate_count": (c_int32, [c_void_p]),
    "pk_indexing_candidate": (c_int32, [c_void_p, c_int32, POINTER(r.IndexCandidate), _ERROR]),
    "pk_indexing_unindexed": (c_int32, [c_void_p, c_int32, _DOUBLES, c_int32, _INTS, _ERROR]),
    "pk_indexing_line_indices": (c_int32, [c_void_p, c_int32, _INTS, c_int32, _INTS, _ERROR]),
    "pk_indexing_extinction_count": (c_int32, [c_void_p, c_int32]),
    "pk_indexing_extinction": (c_int32, [c_void_p, c_int32, c_int32, POINTER(r.ExtinctionClass), _ERROR]),
    "pk_indexing_line_count": (c_int32, [c_void_p]),
    "pk_indexing_lines": (c_int32, [c_void_p, _DOUBLES, c_int32, _INTS, _ERROR]),
    "pk_indexing_stopped": (c_int32, [c_void_p]),
    "pk_indexing_notes": (c_char_p, [c_void_p]),
    "pk_set_progress_handler": (None, [r.INDEX_PROGRESS, c_void_p]),
}

for _name, (_result, _arguments) in _PROTOTYPES.items():
    _function = getattr(lib, _name)
    _function.restype = _result
    _function.argtypes = _arguments


class Owner:
    """A Python object that owns one library handle (self._handle) and releases
    it with the library function named by _FREE when it goes, or when
    _release() is called."""

    _FREE = None
    _handle = None

    def _release(self):
        handle = self._handle
        self._handle = None
        if handle and lib is not None:
            getattr(lib, self._FREE)(handle)

    def __del__(self):
        self._release()
