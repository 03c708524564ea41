"""The errors of powderkit, and the checks every call into the library goes through."""
import ctypes
import errno
import os

import numpy as np

from . import _records as r


class Error(ValueError):
    """A refusal of the library or of the binding, carrying the library's message.

    ``code`` is the library's status: 1 argument (also the binding's own checks
    of arguments), 2 file, 3 format, 4 crystal, 6 internal.
    """

    def __init__(self, message, code=r.ERROR_ARGUMENT):
        super().__init__(message)
        self.message = message
        self.code = code

    def __str__(self):
        return self.message

    def __reduce__(self):
        return (type(self), (self.message, self.code))


class MissingFileError(Error, FileNotFoundError):
    """A file that does not exist: both a powderkit.Error and a FileNotFoundError."""

    def __init__(self, message, path=None):
        Error.__init__(self, message, r.ERROR_FILE)
        self.errno = errno.ENOENT
        self.filename = path

    def __reduce__(self):
        return (type(self), (self.message, self.filename))


def call(function, *arguments, path=None):
    """Calls a status-returning library function with a fresh pk_error as its last
    argument, and raises what it reports."""
    error = r.Error()
    status = function(*arguments, ctypes.byref(error))
    if status != r.OK:
        message = error.message.decode("utf-8", "replace")
        if status == r.ERROR_FILE and path is not None and not os.path.exists(path):
            raise MissingFileError(message, path)
        if status == r.ERROR_OUT_OF_MEMORY:
            raise MemoryError(message)
        raise Error(message, status)


def bank_number(bank):
    """The library's bank argument: 0 (the first) for None."""
    if bank is None:
        return 0
    if isinstance(bank, bool) or not isinstance(bank, int) or bank < 1:
        raise Error(f"bank must be a whole number ≥ 1 (or None for the first), not {bank!r}")
    return bank


def number(value, what):
    """A real number (int, float or a numpy scalar of either) as a float; a str, a bool or
    anything else is refused naming `what`, never converted."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise Error(f"{what} must be a number, not {value!r}")
    return float(value)


def whole(value, what):
    """A whole number (int or a numpy integer) as an int; 2.7, "2" or True are refused naming `what`."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, np.integer)):
        raise Error(f"{what} must be a whole number, not {value!r}")
    return int(value)


def text(value, what):
    """A str as the library's UTF-8 bytes."""
    if not isinstance(value, str):
        raise Error(f"{what} must be a str, not {type(value).__name__}")
    if "\0" in value:
        raise Error(f"{what} contains a NUL character")
    return value.encode("utf-8")


def vector(values, what, length=None):
    """A one-dimensional float64 array the library can read (a contiguous copy when
    the values are a list, another real dtype or a strided view)."""
    array = np.asarray(values)
    if array.dtype.kind not in "iuf":
        raise Error(f"{what} must hold real numbers; its dtype is {array.dtype}")
    if array.ndim != 1:
        raise Error(f"{what} must be one-dimensional; its shape is {array.shape}")
    if length is not None and array.shape[0] != length:
        raise Error(f"{what} must hold {length} values; it holds {array.shape[0]}")
    return np.ascontiguousarray(array, dtype=np.float64)


def output(out, length, what):
    """An array the library writes into: float64, C-contiguous, writeable, of `length`."""
    if out is None:
        return np.empty(length, dtype=np.float64)
    if not isinstance(out, np.ndarray):
        raise Error(f"{what} must be a numpy array, not {type(out).__name__}")
    if out.dtype != np.float64:
        raise Error(f"{what} must have dtype float64; its dtype is {out.dtype}")
    if out.shape != (length,):
        raise Error(f"{what} must have shape ({length},); its shape is {out.shape}")
    if not out.flags.c_contiguous:
        raise Error(f"{what} must be contiguous; a strided view cannot be written in place")
    if not out.flags.writeable:
        raise Error(f"{what} is read-only")
    return out


def doubles(array):
    """The address of a float64 array's first value, for a double* argument."""
    return array.ctypes.data


def ints(array):
    """The address of an int32 array's first value, for an int32_t* argument."""
    return array.ctypes.data


def count(length, what):
    """A length as the library's int32 count."""
    if length > 2**31 - 1:
        raise Error(f"{what} holds {length} values; the library takes at most 2**31 - 1")
    return length


def positions(function, handle, index):
    """The peak positions a *_peak_positions function writes for one phase. The
    library refuses an array too small, so the array grows until they fit."""
    capacity = 4096
    while True:
        values = np.zeros(capacity)
        written = ctypes.c_int32()
        try:
            call(function, handle, index, doubles(values), capacity, ctypes.byref(written))
            return values[:written.value].copy()
        except Error as refused:
            if capacity >= 1 << 26 or "index" in str(refused):
                raise
            capacity *= 8
