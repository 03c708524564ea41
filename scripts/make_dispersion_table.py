#!/usr/bin/env python3
"""Writes src/crystal/dispersion_table.inc: the anomalous-dispersion terms f' and f'' of the
elements H to U (Z = 1 ... 92) from 3 to 30 keV (X-ray wavelengths 0.41 ... 4.1 A), which the
layer interpolates linearly in energy.

Source: the atomic scattering factor tables of B. L. Henke, E. M. Gullikson and J. C. Davis,
Atomic Data and Nuclear Data Tables 54 (1993) 181-342, as shipped in the periodictable/xsf/*.nff
files of Debian's python3-periodictable (columns E in eV, f1, f2). f' = f1 - Z and f'' = f2,
the subtraction done in decimal so that the numbers are the table's own digits; f1 holds the
tables' relativistic correction -(Z/82.5)^2.37, which f' therefore keeps. The rows kept are
those from the last at or below 3 keV to the last (30 keV), edges included.

The file is made once and kept; the build never runs this script.

usage: /usr/bin/python3 scripts/make_dispersion_table.py [OUTPUT]
"""
import decimal
import os
import sys

import periodictable

LOW_EV = decimal.Decimal(3000)


def rows_of(element):
    path = os.path.join(os.path.dirname(periodictable.__file__), "xsf", element.symbol.lower() + ".nff")
    rows = []
    with open(path) as table:
        next(table)  # the column names
        for line in table:
            fields = line.split()
            if len(fields) == 3:
                rows.append(tuple(decimal.Decimal(f) for f in fields))
    first = max(i for i, row in enumerate(rows) if row[0] <= LOW_EV)
    return [(e, f1 - element.number, f2) for e, f1, f2 in rows[first:]]


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else "src/crystal/dispersion_table.inc"
    elements = [periodictable.elements[z] for z in range(1, 93)]
    lines = []
    index = []
    for element in elements:
        rows = rows_of(element)
        index.append((element.symbol, len(lines), len(rows)))
        lines += ["    {%s, %s, %s}," % row for row in rows]
    with open(output, "w") as out:
        out.write("// Anomalous-dispersion terms of the elements H to U, 3 to 30 keV: energy (eV), f' = f1 - Z\n"
                  "// and f'' = f2 (electrons) from the tables of Henke, Gullikson and Davis (1993) as shipped\n"
                  "// by Debian's python3-periodictable. Written by scripts/make_dispersion_table.py; do not edit.\n"
                  "// Included by dispersion_data.cpp.\n"
                  "const DispersionRow kDispersionRows[] = {\n")
        out.write("\n".join(lines) + "\n};\n\n")
        out.write("const DispersionElement kDispersionElements[] = {\n")
        for symbol, first, count in index:
            out.write('    {"%s", %d, %d},\n' % (symbol, first, count))
        out.write("};\n\nconst int kDispersionElementCount = %d;\n" % len(index))


main()
