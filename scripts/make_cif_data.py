#!/usr/bin/python3
"""Writes examples/data/<structure>.cif from the reference tables of the tests.

Each structure of tests/data/structures.tsv becomes one CIF file: its cell,
its space-group symbol, the full operator list of that group from
tests/data/spacegroups.tsv (the three coordinate expressions of each
operator joined with commas, in the table's order) and its sites, every
number written exactly as the table has it.

Run by hand after a change to either table, then commit the .cif files:

    /usr/bin/python3 scripts/make_cif_data.py
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TABLES = os.path.join(HERE, "..", "tests", "data")
DATA = os.path.join(HERE, "..", "examples", "data")

# Structure name in the table -> file stem (also the name of the data block).
FILE_STEMS = {
    "corundum": "corundum",
    "Si": "silicon",
    "rutile": "rutile",
    "NaCl": "NaCl",
    "CeO2": "CeO2",
    "ZnO": "ZnO",
    "LaB6": "LaB6",
    "lowsym": "lowsym",
}

CELL_NAMES = ["a", "b", "c", "alpha", "beta", "gamma"]


def rows(path, width):
    """The rows of a tab-separated table, comment lines skipped."""
    with open(path, encoding="utf-8") as handle:
        for number, line in enumerate(handle, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != width:
                sys.exit(f"{path}:{number}: {len(fields)} fields, expected {width}")
            yield fields


def hm_symbol(table_name):
    """'R -3 c :H' -> 'R -3 c:H': the setting joined to the symbol."""
    if " :" in table_name:
        symbol, setting = table_name.split(" :", 1)
        return f"{symbol}:{setting}"
    return table_name


def main():
    structures = {}  # name -> (group, cell, [sites]) in the table's order
    for f in rows(os.path.join(TABLES, "structures.tsv"), 15):
        name, group, cell, site = f[0], f[1], f[2:8], f[8:15]
        if name not in structures:
            structures[name] = (group, cell, [])
        elif structures[name][0] != group or structures[name][1] != cell:
            sys.exit(f"structures.tsv: {name} has two different cells or groups")
        structures[name][2].append(site)

    operators = {}  # group -> [expression] in the table's order
    for f in rows(os.path.join(TABLES, "spacegroups.tsv"), 7):
        operators.setdefault(f[0], []).append(",".join(f[4:7]))

    missing = sorted(set(structures) ^ set(FILE_STEMS))
    if missing:
        sys.exit(f"structures without a file name, or names without a structure: {missing}")

    for name, (group, cell, sites) in structures.items():
        if group not in operators:
            sys.exit(f"spacegroups.tsv has no operators for {group!r} ({name})")
        stem = FILE_STEMS[name]
        lines = [
            f"# {name}: written by scripts/make_cif_data.py from tests/data/structures.tsv",
            "# and tests/data/spacegroups.tsv; edit the tables, not this file.",
            f"data_{stem}",
            "",
        ]
        tags = [f"_cell_length_{n}" for n in CELL_NAMES[:3]]
        tags += [f"_cell_angle_{n}" for n in CELL_NAMES[3:]]
        lines += [f"{tag:<18}{value}" for tag, value in zip(tags, cell)]
        lines += [
            "",
            f"_symmetry_space_group_name_H-M '{hm_symbol(group)}'",
            "",
            "loop_",
            "_symmetry_equiv_pos_as_xyz",
        ]
        lines += [f"'{expression}'" for expression in operators[group]]
        lines += [
            "",
            "loop_",
            "_atom_site_label",
            "_atom_site_type_symbol",
            "_atom_site_fract_x",
            "_atom_site_fract_y",
            "_atom_site_fract_z",
            "_atom_site_occupancy",
            "_atom_site_U_iso_or_equiv",
        ]
        lines += [" ".join(site) for site in sites]
        path = os.path.join(DATA, stem + ".cif")
        with open(path, "w", encoding="utf-8", newline="\n") as handle:
            handle.write("\n".join(lines) + "\n")
        print(f"wrote {os.path.relpath(path)}: {len(operators[group])} operators, "
              f"{len(sites)} sites")


if __name__ == "__main__":
    main()
