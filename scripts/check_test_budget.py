#!/usr/bin/env python3
"""The test suite's size against the code it tests.

Counts non-blank lines (comments included) of the .c .cc .cpp .h .hpp .py
files under tests/ (and python/tests/ when it exists) against those of src/,
include/, cli/ and the Python package (python/ without its tests), and fails
when the tests hold more than RATIO times the code: tests that restate the
code cost reading time without catching more faults.

usage: check_test_budget.py [REPOSITORY] [--ratio R]
"""
import argparse
import os
import sys

SUFFIXES = (".c", ".cc", ".cpp", ".h", ".hpp", ".py")


def lines_under(root, folder, skip=None):
    total = 0
    for here, folders, files in os.walk(os.path.join(root, folder)):
        if skip is not None:
            folders[:] = [f for f in folders if os.path.join(here, f) != os.path.join(root, skip)]
        for name in files:
            if name.endswith(SUFFIXES):
                with open(os.path.join(here, name), encoding="utf-8", errors="replace") as f:
                    total += sum(1 for line in f if line.strip())
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("repository", nargs="?", default=".")
    parser.add_argument("--ratio", type=float, default=0.35)
    args = parser.parse_args()
    root = args.repository
    code = sum(lines_under(root, folder) for folder in ("src", "include", "cli"))
    code += lines_under(root, "python", skip=os.path.join("python", "tests"))
    tests = lines_under(root, "tests") + lines_under(root, os.path.join("python", "tests"))
    ratio = tests / code if code else 0.0
    print("tests %d lines, code %d lines: %.3f of the code (at most %.2f)" % (tests, code, ratio, args.ratio))
    if ratio > args.ratio:
        print("the tests outgrow their budget by %d lines" % (tests - int(args.ratio * code)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
