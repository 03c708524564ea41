"""The C records of the phase layer (powderkit_phase.h), mirrored field by field.

ctypes lays the fields out with the C compiler's alignment rules; the tests
compare every size and offset with the compiled header's.
"""
import ctypes
from ctypes import c_char, c_char_p, c_double, c_int32, c_uint8, c_void_p

import numpy as np

# Statuses (PK_OK, PK_ERROR_*).
OK = 0
ERROR_ARGUMENT = 1
ERROR_FILE = 2
ERROR_FORMAT = 3
ERROR_CRYSTAL = 4
ERROR_OUT_OF_MEMORY = 5
ERROR_INTERNAL = 6
ERROR_STOPPED = 7

ERROR_MESSAGE_SIZE = 512

# Profile types (PK_PROFILE_*), radiations, axes, list limits and quantities.
PROFILE_GAUSSIAN = 0
PROFILE_LORENTZIAN = 1
PROFILE_PSEUDO_VOIGT = 2
PROFILE_TOF_EXP_GAUSSIAN = 3
PROFILE_TOF_EXP_PSEUDO_VOIGT = 4
RADIATION_XRAY = 2
RADIATION_NEUTRON = 3
AXIS_TWO_THETA = 0
AXIS_TOF = 1
LIMIT_D_MIN = 0
LIMIT_X_MAX = 1
(QUANTITY_D, QUANTITY_X, QUANTITY_F2, QUANTITY_LP, QUANTITY_INTENSITY, QUANTITY_RELATIVE,
 QUANTITY_MULTIPLICITY) = range(7)

# Refinement modes, stop reasons, parameter states and curves.
REFINE_RIETVELD = 0
REFINE_LE_BAIL = 1
STOPS = ("converged", "cycle limit", "stopped by callback", "singular", "diverged", "nothing free")
CURVE_X, CURVE_OBSERVED, CURVE_CALCULATED, CURVE_BACKGROUND, CURVE_DIFFERENCE, CURVE_PHASE = range(6)


class Error(ctypes.Structure):
    _fields_ = [("code", c_int32), ("message", c_char * ERROR_MESSAGE_SIZE)]


class Instrument(ctypes.Structure):
    _fields_ = [("axis", c_int32), ("radiation", c_int32), ("wavelength", c_double), ("wavelength2", c_double),
                ("ratio2", c_double), ("zero", c_double), ("displacement", c_double), ("radius", c_double),
                ("tof_two_theta", c_double), ("dtt1", c_double), ("dtt2", c_double), ("monochromator", c_double),
                ("dispersion", c_int32), ("absorption", c_double), ("roughness_p", c_double), ("roughness_q", c_double),
                ("transparency", c_double)]


PROFILE_FIELDS = ("U", "V", "W", "X", "Y", "asymmetry", "asymmetry_cutoff", "sigma0", "sigma1", "sigma2", "gamma0",
                  "gamma1", "gamma2", "alpha0", "alpha1", "beta0", "beta1", "axial_sl", "axial_hl")


class Profile(ctypes.Structure):
    _fields_ = [("type", c_int32)] + [(name, c_double) for name in PROFILE_FIELDS]


class Site(ctypes.Structure):
    _fields_ = [("label", c_char_p), ("type", c_char_p), ("x", c_double), ("y", c_double), ("z", c_double),
                ("occupancy", c_double), ("u_iso", c_double), ("has_u_aniso", c_uint8), ("u_aniso", c_double * 6)]


class PhaseSetting(ctypes.Structure):
    _fields_ = [("phase", c_void_p), ("scale", c_double), ("profile", ctypes.POINTER(Profile)),
                ("use_march", c_uint8), ("march_ratio", c_double), ("march_axis", c_double * 3)]


class PeakSearch(ctypes.Structure):
    _fields_ = [("significance", c_double), ("merge_fraction", c_double), ("wavelength", c_double),
                ("wavelength2", c_double), ("ratio2", c_double)]


PEAK_FIELDS = ("position", "position_esd", "d", "d_esd", "height", "height_esd", "fwhm", "fwhm_esd", "eta", "eta_esd",
               "area", "area_esd")
# One pk_peak as a numpy record: peak lists are filled in place, no copy.
PEAK_DTYPE = np.dtype([(name, np.float64) for name in PEAK_FIELDS])


class PeakFailure(ctypes.Structure):
    _fields_ = [("position", c_double), ("reason", c_char * 128)]


class RefinementOptions(ctypes.Structure):
    _fields_ = [("mode", c_int32), ("background_count", c_int32), ("x_min", c_double), ("x_max", c_double),
                ("max_cycles", c_int32), ("chi2_tolerance", c_double), ("shift_tolerance", c_double),
                ("stages", c_uint8), ("start_from_data", c_uint8), ("cell_window", c_double), ("zero_window", c_double),
                ("alpha2_from_data", c_uint8), ("threads", c_int32)]


class Parameter(ctypes.Structure):
    _fields_ = [("name", c_char_p), ("value", c_double), ("esd", c_double), ("state", c_int32), ("lower", c_double),
                ("upper", c_double)]


class RefinementSummary(ctypes.Structure):
    _fields_ = [("converged", c_uint8), ("stop", c_int32), ("cycles", c_int32), ("points", c_int32),
                ("free_count", c_int32), ("Rp", c_double), ("Rwp", c_double), ("Rexp", c_double),
                ("chi2", c_double), ("reduced_chi2", c_double), ("GoF", c_double), ("doubtful", c_uint8)]


class RefinementHistogram(ctypes.Structure):
    _fields_ = [("name", c_char_p), ("measured", c_void_p), ("instrument", ctypes.POINTER(Instrument)),
                ("profiles", ctypes.POINTER(Profile)), ("weight", c_double), ("x_min", c_double), ("x_max", c_double)]


class RefinementHistogramResult(ctypes.Structure):
    _fields_ = [("name", c_char_p), ("first_point", c_int32), ("point_count", c_int32), ("instrument", Instrument),
                ("summary", RefinementSummary)]


class RefinementPhase(ctypes.Structure):
    _fields_ = [("name", c_char_p), ("cell", c_double * 6), ("cell_esd", c_double * 6), ("r_bragg", c_double),
                ("weight_fraction", c_double), ("size_nm", c_double), ("size_esd", c_double),
                ("strain_percent", c_double), ("strain_esd", c_double)]


PROGRESS = ctypes.CFUNCTYPE(c_int32, c_void_p, c_int32, c_double, c_double, c_double)

# Crystal systems of an indexing search (PK_SYSTEM_*), by name.
SYSTEMS = {"cubic": 1, "tetragonal": 2, "hexagonal": 4, "orthorhombic": 8, "monoclinic": 16, "triclinic": 32}


class IndexOptions(ctypes.Structure):
    _fields_ = [("systems", c_int32), ("volume_min", c_double), ("volume_max", c_double), ("max_error", c_double),
                ("max_unindexed", c_int32), ("zero_window", c_double), ("d_max", c_double), ("axis_max", c_double),
                ("line_count", c_int32), ("candidate_count", c_int32), ("le_bail_count", c_int32)]


class IndexCandidate(ctypes.Structure):
    _fields_ = [("system", c_int32), ("centring", c_char), ("cell", c_double * 6), ("cell_esd", c_double * 6),
                ("reduced_cell", c_double * 6), ("volume", c_double), ("zero", c_double), ("M20", c_double),
                ("F_N", c_double), ("N", c_int32), ("mean_error", c_double), ("possible_lines", c_int32),
                ("indexed", c_int32), ("unindexed", c_int32), ("supercell_of", c_int32), ("subcell_of", c_int32),
                ("le_bail_rwp", c_double)]


class ExtinctionClass(ctypes.Structure):
    _fields_ = [("symbol", c_char * 32), ("groups", c_char * 480), ("absent_lines", c_int32),
                ("ambiguous_lines", c_int32)]


INDEX_PROGRESS = ctypes.CFUNCTYPE(c_int32, c_void_p, c_double, c_char_p)

# Every record with its C name, for the layout test.
RECORDS = {"pk_error": Error, "pk_instrument": Instrument, "pk_profile": Profile, "pk_site": Site,
           "pk_phase_setting": PhaseSetting, "pk_peak_search": PeakSearch, "pk_peak_failure": PeakFailure,
           "pk_refinement_options": RefinementOptions, "pk_parameter": Parameter,
           "pk_refinement_summary": RefinementSummary, "pk_refinement_phase": RefinementPhase,
           "pk_refinement_histogram": RefinementHistogram, "pk_refinement_histogram_result": RefinementHistogramResult,
           "pk_index_options": IndexOptions, "pk_index_candidate": IndexCandidate,
           "pk_extinction_class": ExtinctionClass}
