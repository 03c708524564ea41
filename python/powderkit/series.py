"""Series of patterns of one sample (in-situ and operando work), refined one after
another or in parallel on any concurrent.futures-style executor."""
import os
from concurrent.futures import ThreadPoolExecutor

import numpy as np

from .errors import Error
from .measured import MeasuredPattern, read_pattern
from .refinement import Refinement, _rebuild


def _refine_one(description, measured, start, cycles):
    """One pattern of a series; runs wherever the executor puts it (the arguments
    are plain descriptions, pickled when the executor is another process).
    `start` (a Result, or None) overrides the template's starting values."""
    setup, operations, values = description
    if start is not None:
        values = dict(values, **{name: p.value for name, p in start.parameters.items() if p.state != "tied"})
    return _rebuild(setup, measured, operations, values).run(cycles=cycles)


class SeriesResult:
    """The results of a series as one table.

    names       the parameters refined (free, at a limit or undetermined in any run)
    patterns    the patterns' names, in order
    values      (n_patterns, n_parameters) array; esds the same
    Rwp, GoF    arrays of n_patterns; converged a bool array
    results     the Result of every pattern
    table()     a numpy structured array: pattern, Rwp, GoF, converged, then
                each parameter and "<name>_esd"; to_pandas() the same as a DataFrame
    series["Si.a"] the column of one parameter's values
    """

    def __init__(self, patterns, results):
        self.patterns = list(patterns)
        self.results = list(results)
        refined = ("free", "at limit", "fixed: undetermined")
        self.names = [name for name in self.results[0].parameters
                      if any(res.parameters[name].state in refined for res in self.results)] if self.results else []
        self.values = np.array([[res.parameters[n].value for n in self.names] for res in self.results]).reshape(
            len(self.results), len(self.names))
        self.esds = np.array([[res.parameters[n].esd for n in self.names] for res in self.results]).reshape(
            len(self.results), len(self.names))
        self.Rwp = np.array([res.Rwp for res in self.results])
        self.GoF = np.array([res.GoF for res in self.results])
        self.converged = np.array([res.converged for res in self.results], dtype=bool)

    def __len__(self):
        return len(self.results)

    def __getitem__(self, name):
        return self.values[:, self.names.index(name)]

    def table(self):
        width = max([len(str(p)) for p in self.patterns] + [1])
        fields = [("pattern", f"U{width}"), ("Rwp", "f8"), ("GoF", "f8"), ("converged", "?")]
        for name in self.names:
            fields += [(name, "f8"), (name + "_esd", "f8")]
        table = np.zeros(len(self), dtype=fields)
        table["pattern"] = [str(p) for p in self.patterns]
        table["Rwp"], table["GoF"], table["converged"] = self.Rwp, self.GoF, self.converged
        for column, name in enumerate(self.names):
            table[name] = self.values[:, column]
            table[name + "_esd"] = self.esds[:, column]
        return table

    def to_pandas(self):
        try:
            import pandas
        except ImportError as missing:
            raise ImportError("SeriesResult.to_pandas needs pandas (Debian: python3-pandas)") from missing
        return pandas.DataFrame(self.table())

    def __repr__(self):
        converged = int(self.converged.sum())
        return f"<SeriesResult: {len(self)} patterns, {len(self.names)} parameters, {converged} converged>"


def refine_series(patterns, template, executor=None, sequential=True, cycles=None, progress=False):
    """Refines every pattern of a series with the set-up of `template` (a Refinement).

    patterns    MeasuredPattern objects or paths of pattern files (read here)
    sequential  True: each pattern starts from the previous one's result (the
                first from the template), one after another; False: every
                pattern starts from the template, all at once
    executor    anything with submit(fn, *args) → future with .result(): a
                concurrent.futures executor, or a dask.distributed Client for a
                series that outgrows one machine; None: a thread pool here
                (sequential runs in this process)
    cycles      the cycle limit of every run (the template's by default)
    progress    True prints a line as each pattern's result comes in (in the
                series' order); a callable progress(index, name, result) is
                called instead

    Returns a SeriesResult.
    """
    if not isinstance(template, Refinement):
        raise Error(f"the template must be a powderkit.Refinement, not {type(template).__name__}")
    if template.joint:
        raise Error("a series refines one pattern at a time: its template must be a refinement of one pattern, "
                    "not a joint refinement")
    patterns = list(patterns)
    measured = [p if isinstance(p, MeasuredPattern) else read_pattern(p) for p in patterns]
    names = [p.name if isinstance(p, MeasuredPattern) else os.path.basename(os.fspath(p)) for p in patterns]
    if not measured:
        raise Error("the series holds no patterns")
    description = template._description()
    results = []

    def collect(result):
        results.append(result)
        index = len(results) - 1
        if progress is True:
            print(f"pattern {index + 1}/{len(measured)} {names[index]}: {result.stop}, Rwp {result.Rwp:.4f} %",
                  flush=True)
        elif progress:
            progress(index, names[index], result)
        return result

    if sequential:
        start = None
        for m in measured:
            if executor is None:
                start = collect(_refine_one(description, m, start, cycles))
            else:
                start = collect(executor.submit(_refine_one, description, m, start, cycles).result())
        return SeriesResult(names, results)
    if executor is None:
        with ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
            for future in [pool.submit(_refine_one, description, m, None, cycles) for m in measured]:
                collect(future.result())
        return SeriesResult(names, results)
    for future in [executor.submit(_refine_one, description, m, None, cycles) for m in measured]:
        collect(future.result())
    return SeriesResult(names, results)
