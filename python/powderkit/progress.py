"""Progress of long work in this thread: listing the reflexions of a large
cell, their structure factors and peaks (a 500 Å cell takes tens of seconds)."""
import sys
import threading

from . import _records as r
from ._library import lib
from .errors import Error

_kept = threading.local()  # the ctypes callback must live as long as it is set


def set_progress(handler):
    """Reports long work of this thread about every quarter second.

    handler: a callable handler(fraction, stage) (fraction 0 … 1 of the step
    named by stage, such as "listing reflexions"), whose true return stops
    the work, which then raises powderkit.Error ("stopped by the progress
    handler while …"); an exception inside it stops the work the same way;
    True prints the step at every tenth; None removes the handler. Short
    work never calls it.
    """
    if handler is None:
        lib.pk_set_progress_handler(r.INDEX_PROGRESS(), None)
        _kept.callback = None
        return
    if handler is not True and not callable(handler):
        raise Error(f"the progress handler must be None, True or a callable, not {handler!r}")
    shown = {"stage": None, "tenth": -1}

    def report(context, fraction, stage):
        text = stage.decode("utf-8", "replace")
        try:
            if handler is True:
                if text != shown["stage"]:
                    shown["stage"], shown["tenth"] = text, -1
                tenth = int(fraction * 10)
                if tenth > shown["tenth"]:
                    shown["tenth"] = tenth
                    print(f"{int(fraction * 100):3d} %  {text}", file=sys.stdout, flush=True)
                return 0
            return 1 if handler(fraction, text) else 0
        except BaseException:  # noqa: B036 — nothing may unwind through the C library
            return 1

    _kept.callback = r.INDEX_PROGRESS(report)
    lib.pk_set_progress_handler(_kept.callback, None)
