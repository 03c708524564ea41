#!/usr/bin/python3
"""The folders of src/ stand in layers, each including only folders below it.

Reads every quoted `#include "..."` line of the sources under src/ and fails
(exit status 1, one line per fault, each include as file:line) when

  - a file includes a header of a folder above its own;
  - the folders include each other round a cycle;
  - a file lives in, or includes from, a folder that LAYERS does not list;
  - an include names a file that is not there;
  - two folders hold a header of the same file name;
  - a folder holds more than FOLDER_LINES lines of code (.c .cc .cpp .h .hpp;
    tables of data, kept as .inc or .txt files, apart): it holds more than one
    concern and is split by concern.

Includes without a folder must name a public header of include/ or a file
beside the including one. `--self-test` plants each fault in a scratch tree
and checks that it is reported. Standard library only; run from anywhere.
"""
import os
import re
import sys
import tempfile

# Bottom to top. src/README.md says the same in prose.
LAYERS = [
    "frame",
    "elements",
    "model",
    "geometry",
    "symmetry",
    "intensity",
    "profiles",
    "linalg",
    "derivatives",
    "background",
    "analysis",
    # the phase layer, a library of its own on the core's public interface
    "boundary",
    "io",
    "crystal",
    "reflexions",
    "pattern",
    "peaks",
    "refinement_model",
    "starting_values",
    "refinement",
    "report",
    "indexing",
]

SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".h", ".hpp")
# The most lines of code one folder may hold.
FOLDER_LINES = 3000
HEADER_SUFFIXES = (".h", ".hpp")
INCLUDE_LINE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def source_files(src):
    """Paths relative to src/ of every source file, sorted."""
    found = []
    for directory, folders, names in os.walk(src):
        folders.sort()
        for name in names:
            if name.endswith(SOURCE_SUFFIXES):
                found.append(os.path.relpath(os.path.join(directory, name), src))
    return sorted(found)


def find_cycle(edges):
    """One cycle of the folder graph as a list of folders (first repeated at
    the end), or None."""
    state = {}  # folder -> 1 on the current path, 2 finished
    path = []

    def visit(folder):
        state[folder] = 1
        path.append(folder)
        for other in sorted(edges.get(folder, ())):
            if state.get(other) == 1:
                return path[path.index(other):] + [other]
            if other not in state:
                cycle = visit(other)
                if cycle:
                    return cycle
        path.pop()
        state[folder] = 2
        return None

    for folder in sorted(edges):
        if folder not in state:
            cycle = visit(folder)
            if cycle:
                return cycle
    return None


def check(root, layers=LAYERS, folder_lines=FOLDER_LINES):
    """The faults of the tree at `root`, as lines of text, and a summary."""
    src = os.path.join(root, "src")
    public = os.path.join(root, "include")
    rank = {folder: i for i, folder in enumerate(layers)}
    faults = []
    edges = {}  # folder -> {included folder: [file:line, ...]}
    headers = {}  # header file name -> folders holding one

    files = source_files(src)
    for rel in files:
        parts = rel.split(os.sep)
        if len(parts) != 2:
            faults.append("%s: not in a folder of src/ directly below it" % os.path.join("src", rel))
            continue
        if parts[1].endswith(HEADER_SUFFIXES):
            headers.setdefault(parts[1], set()).add(parts[0])

    sizes = {}  # folder -> lines of code
    for rel in files:
        parts = rel.split(os.sep)
        if len(parts) != 2:
            continue
        mine, name = parts
        where = os.path.join("src", rel)
        if mine not in rank:
            faults.append("%s: folder %s is not in the layer order" % (where, mine))
            continue
        with open(os.path.join(src, rel), encoding="utf-8", errors="replace") as text:
            lines = text.read().splitlines()
        sizes[mine] = sizes.get(mine, 0) + len(lines)
        for number, line in enumerate(lines, 1):
            match = INCLUDE_LINE.match(line)
            if not match:
                continue
            included = match.group(1)
            at = "%s:%d" % (where, number)
            pieces = included.split("/")
            if len(pieces) == 1:
                beside = os.path.join(src, mine, included)
                if not (os.path.isfile(os.path.join(public, included)) or os.path.isfile(beside)):
                    faults.append('%s: includes "%s", which is neither a public header nor beside it'
                                  % (at, included))
                continue
            other = pieces[0]
            if other not in rank:
                faults.append('%s: includes "%s" from folder %s, which is not in the layer order'
                              % (at, included, other))
                continue
            if not os.path.isfile(os.path.join(src, included)):
                faults.append('%s: includes "%s", which is not there' % (at, included))
            if other == mine:
                continue
            edges.setdefault(mine, {}).setdefault(other, []).append(at)
            if rank[other] > rank[mine]:
                faults.append('%s: includes "%s": %s is above %s' % (at, included, other, mine))

    cycle = find_cycle({folder: set(targets) for folder, targets in edges.items()})
    if cycle:
        steps = []
        for a, b in zip(cycle, cycle[1:]):
            steps.append("%s -> %s (%s)" % (a, b, edges[a][b][0]))
        faults.append("folders include each other round a cycle: " + ", ".join(steps))

    for name in sorted(headers):
        if len(headers[name]) > 1:
            faults.append("header %s is held by more than one folder: %s"
                          % (name, ", ".join("src/%s/%s" % (f, name) for f in sorted(headers[name]))))

    for folder in sorted(sizes):
        if sizes[folder] > folder_lines:
            faults.append("src/%s holds %d lines of code, more than %d: split it by concern"
                          % (folder, sizes[folder], folder_lines))

    folders = sorted({rel.split(os.sep)[0] for rel in files if os.sep in rel})
    count = sum(len(targets) for targets in edges.values())
    summary = "%d folders, %d folder edges, all downward" % (len(folders), count)
    return faults, summary


def self_test():
    """Plants each fault in a scratch tree and checks that it is reported;
    a clean tree must pass. Returns the number of failures."""
    cases = {
        "clean": ({"a/a.hpp": "", "b/b.hpp": '#include "a/a.hpp"\n',
                   "b/b.cpp": '#include "b.hpp"\n#include "powderkit.h"\n'}, None),
        "upward": ({"a/a.cpp": '// x\n#include "b/b.hpp"\n', "b/b.hpp": ""}, "src/a/a.cpp:2"),
        "cycle": ({"a/a.hpp": "", "b/b.hpp": '#include "a/a.hpp"\n', "b/x.cpp": "",
                   "a/y.cpp": '#include "b/b.hpp"\n'}, "round a cycle"),
        "unknown folder": ({"a/a.cpp": '#include "z/z.hpp"\n', "z/z.hpp": ""}, "not in the layer order"),
        "missing file": ({"b/b.cpp": '#include "a/gone.hpp"\n', "a/a.hpp": ""}, "src/b/b.cpp:1"),
        "header twice": ({"a/same.hpp": "", "b/same.hpp": ""}, "same.hpp is held by more than one"),
        "bare name": ({"a/a.cpp": '#include "nowhere.hpp"\n'}, "neither a public header"),
        "folder too large": ({"a/a.cpp": "x\n" * 6, "a/a.hpp": "y\n" * 5}, "src/a holds 11 lines"),
    }
    failures = 0
    for title, (tree, expected) in cases.items():
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, "include"))
            open(os.path.join(root, "include", "powderkit.h"), "w").close()
            for rel, content in tree.items():
                path = os.path.join(root, "src", rel)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w") as out:
                    out.write(content)
            faults, _ = check(root, layers=["a", "b"], folder_lines=10)
            if expected is None:
                good = not faults
            else:
                good = any(expected in fault for fault in faults)
            if not good:
                failures += 1
                print("self-test %s: expected %s, got %s"
                      % (title, "no fault" if expected is None else repr(expected), faults))
    if failures == 0:
        print("self-test: every planted fault reported, the clean tree passes")
    return failures


def main(arguments):
    if arguments[1:] == ["--self-test"]:
        return 1 if self_test() else 0
    if len(arguments) > 2:
        print("usage: check_layers.py [repository root | --self-test]", file=sys.stderr)
        return 2
    root = arguments[1] if len(arguments) == 2 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    faults, summary = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print("layer order, bottom to top: " + " -> ".join(LAYERS))
        return 1
    print(summary)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
