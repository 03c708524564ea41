#!/usr/bin/env bash
# The `powderkit` command from the outside: exit statuses and messages for
# good and bad input (as one table of cases), the reflexion table's header
# and first rows for rock salt against values worked out by hand, the number
# of pattern points, and the files written by --output.
# Usage: cli_test.sh PATH/TO/powderkit
set -u
pk=$1
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Rock salt, written here so that the test depends on no other file.
cat > "$t/NaCl.cif" <<'CIF'
data_NaCl
_cell_length_a 5.6402
_cell_length_b 5.6402
_cell_length_c 5.6402
_cell_angle_alpha 90
_cell_angle_beta 90
_cell_angle_gamma 90
_symmetry_space_group_name_H-M 'F m -3 m'
loop_
_atom_site_label
_atom_site_type_symbol
_atom_site_fract_x
_atom_site_fract_y
_atom_site_fract_z
_atom_site_occupancy
_atom_site_U_iso_or_equiv
Na1 Na 0 0 0 1 0.0155
Cl1 Cl 0.5 0.5 0.5 1 0.0122
CIF
# The same with a cell edge of zero.
sed 's/^_cell_length_b 5.6402/_cell_length_b 0/' "$t/NaCl.cif" > "$t/bad_cell.cif"
nacl=$t/NaCl.cif

# status  stdout (empty|text)  stderr must contain  arguments
cases=(
  "0|text||--help"
  "0|text||reflexions --help"
  "0|text||--version"
  "0|text||reflexions $nacl"
  "0|text||reflexions $nacl --neutron --wavelength 1.8 --d-min 1"
  "1|empty|$t/missing.cif|reflexions $t/missing.cif"
  "1|empty|$t/missing.cif|pattern $nacl $t/missing.cif"
  "1|empty|bad_cell.cif|reflexions $t/bad_cell.cif"
  "1|empty|--range|pattern $nacl --range 10 5 0.02"
  "1|empty|--range|pattern $nacl --range 10 100 0"
  "1|empty|--scale|pattern $nacl --scale 1 2"
  "2|empty||reflexions $nacl --no-such-option"
  "2|empty||reflexions"
  "2|empty||pattern $nacl --range 10 100"
  "2|empty||reflexions $nacl --anode Cu --wavelength 1.5"
  "2|empty||reflexions $nacl --d-min 1 --two-theta-max 90"
  "2|empty||"
)
for case in "${cases[@]}"; do
  IFS='|' read -r status out message args <<< "$case"
  # shellcheck disable=SC2086  # the arguments are split on purpose
  "$pk" $args > "$t/stdout" 2> "$t/stderr"
  got=$?
  [ "$got" = "$status" ] || fail "'$args': status $got, expected $status"
  if [ "$out" = empty ] && [ -s "$t/stdout" ]; then fail "'$args': wrote to stdout"; fi
  if [ "$out" = text ] && [ ! -s "$t/stdout" ]; then fail "'$args': nothing on stdout"; fi
  if [ -n "$message" ] && ! grep -qF -- "$message" "$t/stderr"; then
    fail "'$args': stderr does not name '$message': $(cat "$t/stderr")"
  fi
done
"$pk" --version | grep -qE '^[0-9]+\.[0-9]+\.[0-9]+$' || fail "--version prints no version"
"$pk" --help | grep -q 'powderkit reflexions' || fail "--help shows no example"

# Rock salt with Cu Ka1 (1.540593 A): 111 at d = a/sqrt(3) = 3.256370988,
# 2theta = 2 asin(lambda / 2d) = 27.36608555 degrees, 8 planes; 200 at
# d = a/2 = 2.8201, 6 planes, the strongest line (relative 100).
"$pk" reflexions "$nacl" > "$t/table"
header=$(printf 'h\tk\tl\td\ttwo_theta\tmultiplicity\tF2\tintensity\trelative')
[ "$(head -n 1 "$t/table")" = "$header" ] || fail "reflexions header: $(head -n 1 "$t/table")"
awk -F'\t' 'function off(x, y) { return (x > y ? x - y : y - x) > 1e-8 * y }
  NR == 2 && ($1 $2 $3 != "111" || off($4, 3.256370988283327) ||
              off($5, 27.366085549571936) || $6 != 8) { print "row 111: " $0; bad = 1 }
  NR == 3 && ($1 $2 $3 != "200" || off($4, 2.8201) || $6 != 6 || $9 != 100) {
    print "row 200: " $0; bad = 1 }
  END { exit bad }' "$t/table" || fail "reflexion rows"
"$pk" reflexions "$nacl" --lines | head -n 1 | grep -qx \
  "$(printf 'd\ttwo_theta\tintensity\trelative\treflexions')" || fail "--lines header"

# 10 to 100 by 0.02, end point included: 4501 points.
"$pk" pattern "$nacl" --range 10 100 0.02 > "$t/xy"
[ "$(wc -l < "$t/xy")" = 4501 ] || fail "pattern: $(wc -l < "$t/xy") lines, expected 4501"
[ "$(tail -n 1 "$t/xy" | cut -f1)" = 100 ] || fail "pattern ends at $(tail -n 1 "$t/xy")"

# --output makes the folder and writes the three files, and nothing to stdout.
for phases in "$nacl" "$nacl $nacl --scale 1 0.5"; do
  rm -rf "$t/out"
  # shellcheck disable=SC2086
  "$pk" pattern $phases --range 20 60 0.05 --output "$t/out/plots" > "$t/stdout" ||
    fail "--output with $phases"
  [ -s "$t/stdout" ] && fail "--output also wrote to stdout"
  for file in pattern.xy reflexions.tsv pattern.svg; do
    [ -s "$t/out/plots/$file" ] || fail "--output did not write $file"
  done
  [ "$(grep -vc '^#' "$t/out/plots/pattern.xy")" = 801 ] || fail "pattern.xy point count"
  head -n 1 "$t/out/plots/pattern.xy" | grep -q '^# powderkit pattern: NaCl' ||
    fail "pattern.xy first line"
  grep -q '<polyline' "$t/out/plots/pattern.svg" || fail "pattern.svg holds no curve"
done
head -n 1 "$t/out/plots/reflexions.tsv" | grep -q "^phase$(printf '\t')h" ||
  fail "reflexions.tsv of two phases has no phase column"

[ "$failures" = 0 ] && echo "all cases pass"
exit $((failures > 0))
