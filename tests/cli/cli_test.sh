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
printf 'data_Si\n_cell_length_a 5.431\n_cell_length_b 5.431\n_cell_length_c 5.431\n_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n_symmetry_space_group_name_H-M "F d -3 m"\nloop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\nSi1 0.125 0.125 0.125\n' > "$t/si_bare.cif"

# status  stdout (empty|text)  stderr must contain  arguments
# GSAS raw data of three banks, the last a time-of-flight one.
printf 'banks\nBANK 1 2 2 CONST 1000 10 0 0 FXYE\n1000 1 1\n1010 1 1\nBANK 2 2 2 CONST 2000 10 0 0 FXYE\n2000 4 2\n2010 9 3\nBANK 3 2 2 SLOG 1000 2000 0.1 0 FXYE\n1000 1 1\n1100 2 1\n' > "$t/banks.gsa"
printf '# 2theta\n20.5\nabc\n' > "$t/bad_peaks.txt"
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
  "1|empty|x_max = 190: must lie below 180° 2θ|pattern $nacl --range 10 190 0.02"
  "1|empty|d_min 0 must be a positive number of Å|reflexions $nacl --d-min 0"
  "1|empty|--scale|pattern $nacl --scale 1 2"
  "0|text||pattern $nacl --range 10 60 0.02 --axial 0.02,0.03"
  "1|empty|--axial: S/L and H/L must lie between 0 and 0.1, not 0.2|pattern $nacl --axial 0.2,0.01"
  "1|empty|--monochromator|reflexions $nacl --monochromator 190"
  "1|empty|turn dispersion off|reflexions $nacl --wavelength 0.3"
  "0|text||reflexions $nacl --wavelength 0.3 --no-dispersion"
  "1|empty|--roughness|reflexions $nacl --roughness 1.5,0.2"
  "1|empty|--absorption: must be 0 (none) or a μR of at most 10, not 12|reflexions $nacl --absorption 12"
  "2|empty||reflexions $nacl --no-such-option"
  "2|empty||reflexions"
  "2|empty||pattern $nacl --range 10 100"
  "2|empty||reflexions $nacl --anode Cu --wavelength 1.5"
  "2|empty||reflexions $nacl --d-min 1 --two-theta-max 90"
  "0|text|si_bare.cif: the space group F d -3 m has two origin choices|reflexions $t/si_bare.cif"
  "1|empty|$t/missing.xy|peaks $t/missing.xy"
  "1|empty|--significance|peaks $t/missing.xy --significance -1"
  "1|empty|powderkit: warning: $t/banks.gsa: read bank 2; banks 1, 3 not read|peaks $t/banks.gsa --bank 2"
  "1|empty|banks.gsa: a time-of-flight bank: give its calibration with --instrument|refine $t/banks.gsa $nacl --bank 3"
  "2|empty|--threads|refine $t/banks.gsa $nacl --threads 65"
  "1|empty|--systems: \"cubik\" is not a crystal system|index $t/missing.xy --systems cubic,cubik"
  "1|empty|index: give a measured pattern, a peak list|index"
  "1|empty|bad_peaks.txt line 3: \"abc\" is not a 2θ|index --peaks $t/bad_peaks.txt"
  "1|empty|--lines: 4: must be 6 to 60|index --peaks $t/bad_peaks.txt --lines 4"
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

# A second run replaces the set and keeps the user's own files; SIGTERM while the files are written (caught by
# watching for the staging folder) leaves the old set whole and no staging folder.
echo mine > "$t/out/plots/notes.txt"
"$pk" pattern "$nacl" --range 20 60 0.1 --output "$t/out/plots" > /dev/null || fail "--output over a set"
[ "$(grep -vc '^#' "$t/out/plots/pattern.xy")" = 401 ] && [ "$(cat "$t/out/plots/notes.txt")" = mine ] ||
  fail "--output over a set: $(ls -a "$t/out/plots")"
/usr/bin/python3 - "$pk" "$nacl" "$t/out" <<'PY' || fail "SIGTERM while writing"
import os, signal, subprocess, sys
pk, nacl, out = sys.argv[1:]
lines = lambda: sum(1 for line in open(out + "/plots/pattern.xy") if line[0] != "#")
for attempt in range(5):  # a loaded machine may let a run finish before the staging folder is seen
    before = lines()
    run = subprocess.Popen([pk, "pattern", nacl, "--range", "10", "150", "0.00005", "--output", out + "/plots"])
    while run.poll() is None and not any(n.startswith(".plots.partial") for n in os.listdir(out)):
        pass
    caught = run.poll() is None
    run.send_signal(signal.SIGTERM)
    status = run.wait()
    assert sorted(os.listdir(out)) == ["plots"], os.listdir(out)
    if caught:
        assert status == -signal.SIGTERM, status
        assert lines() == before, (lines(), before)  # the old set, whole
        break
else:
    sys.exit("the staging folder was never seen")
PY

# A graphite monochromator (2θ_M = 26.6°) raises NaCl 2 0 0 (2θ = 31.703° at Cu Kα1) by
# [(1 + cos² 26.6° cos² 31.703°) / (1 + cos² 26.6°)] / [(1 + cos² 31.703°) / 2] = 1.017849, worked out by hand.
"$pk" reflexions "$nacl" > "$t/plain.tsv" && "$pk" reflexions "$nacl" --monochromator 26.6 > "$t/graphite.tsv" ||
  fail "reflexions --monochromator"
/usr/bin/python3 - "$t/plain.tsv" "$t/graphite.tsv" <<'PY' || fail "--monochromator: not the polarisation worked out"
import sys
rows = [{tuple(r[:3]): float(r[7]) for r in (l.split() for l in open(f)) if r[0] != "h"} for f in sys.argv[1:]]
ratio = rows[1][("2", "0", "0")] / rows[0][("2", "0", "0")]
sys.exit(0 if abs(ratio - 1.017849) < 2e-6 else 1)
PY

# A transparency 1/μ = 0.2 mm on a 240 mm goniometer moves NaCl 2 0 0 (θ = 15.8515°) by
# −0.2 sin 31.703° / 480 · 57.29578 = −0.0125458°, worked out by hand.
"$pk" reflexions "$nacl" --transparency 0.2 > "$t/deep.tsv" || fail "reflexions --transparency"
/usr/bin/python3 - "$t/plain.tsv" "$t/deep.tsv" <<'PY' || fail "--transparency: not the shift worked out"
import sys
rows = [{tuple(r[:3]): float(r[4]) for r in (l.split() for l in open(f)) if r[0] != "h"} for f in sys.argv[1:]]
sys.exit(0 if abs(rows[1][("2", "0", "0")] - rows[0][("2", "0", "0")] + 0.0125458) < 1e-6 else 1)
PY
# refine: a noiseless mixture (corundum ×3000, silicon ×2000, 150 counts of flat
# background) refined from cells set 0.2 to 0.3 % off must find the CIF cells.
data=$(dirname "$0")/../../examples/data
"$pk" pattern "$data/corundum.cif" "$data/silicon.cif" --scale 3000 2000 --range 20 80 0.02 |
  awk '{ printf "%s %.6f\n", $1, $2 + 150 }' > "$t/mix.xy"
sed 's/4\.758900/4.770000/; s/12\.991000/12.960000/' "$data/corundum.cif" > "$t/corundum.cif"
sed 's/5\.431194/5.440000/' "$data/silicon.cif" > "$t/silicon.cif"
check_fit() {  # DIR free|fixed: the cells, and whether corundum.a was refined
  /usr/bin/python3 - "$@" <<'PY' || fail "refine: $1/refinement.json: $(tail -n 2 "$t/stderr")"
import json, sys
d = json.load(open(sys.argv[1] + "/refinement.json"))
assert {"converged", "cycles", "stop_reason", "statistics", "parameters", "phases"} <= d.keys()
assert {"Rp", "Rwp", "Rexp", "chi2", "reduced_chi2", "GoF"} <= d["statistics"].keys()
s = d["statistics"]; assert abs(s["GoF"] - s["Rwp"] / s["Rexp"]) < 1e-9 * s["GoF"]
assert [(h["name"], h["statistics"]) for h in d["histograms"]] == [("", s)], d["histograms"]  # one pattern: the whole
truth = {"corundum": [4.7589, 4.7589, 12.991], "silicon": [5.431194] * 3}
assert len(d["phases"]) == 2
for phase in d["phases"]:
    assert all(abs(a / b - 1) < 1e-4 for a, b in zip(phase["cell"], truth[phase["name"]])), phase
free = sys.argv[2] == "free"
assert {p["name"]: p["free"] for p in d["parameters"]}["corundum.a"] == free
assert not free or (d["converged"] and d["statistics"]["Rwp"] < 0.01)  # a perfect model fits exactly
PY
}
"$pk" refine "$t/mix.xy" "$t/corundum.cif" "$t/silicon.cif" --output "$t/fit" > /dev/null 2> "$t/stderr"
[ "$(cd "$t/fit" && echo *)" = "corundum.cif fit.svg fit.xy refinement.json report.html setup.json silicon.cif" ] ||
  fail "refine wrote $(ls "$t/fit")"
# The refined structures read back: their reflexions are listed, and a refined cell carries its esd.
"$pk" reflexions "$t/fit/corundum.cif" > /dev/null 2> "$t/cif-errors" || fail "refined CIF: $(cat "$t/cif-errors")"
grep -Eq '^_cell_length_a [0-9.]+\([0-9]+\)$' "$t/fit/silicon.cif" || fail "refined CIF: no esd on silicon's a"
grep -q '^cycle 1  Rwp' "$t/stderr" || fail "refine: no progress line"
check_fit "$t/fit" free
awk '!/^#/ { n++; bad = bad || NF != 5 || ($2 - $3 - $4) ^ 2 > 1e-12 * $2 ^ 2 || ($3 - $2) ^ 2 > 1e-6 * $2 ^ 2 ||
  ($5 - 150) ^ 2 > 1e-4 } END { exit bad || n != 3001 }' "$t/fit/fit.xy" || fail "fit.xy: not 3001 fitted rows"
# From its setup.json with only the scales free, a run keeps the refined cells.
"$pk" refine --setup "$t/fit/setup.json" --free scale --cycles 1 --output "$t/again" > /dev/null 2> "$t/stderr"
check_fit "$t/again" fixed
# The same pattern as bank 2 of a GSAS file: setup.json keeps --bank, and a run from it reads that bank again.
{ echo "mixture"; echo "BANK 1 2 2 CONST 1000 10 0 0 FXYE"; echo "1000 1 1"; echo "1010 1 1"
  echo "BANK 2 3001 3001 CONST 2000 2 0 0 FXYE"; awk '{ printf "%.1f %s 1\n", $1 * 100, $2 }' "$t/mix.xy"; } > "$t/mix.gsa"
"$pk" refine "$t/mix.gsa" "$t/corundum.cif" "$t/silicon.cif" --bank 2 --output "$t/bank" > /dev/null 2> "$t/stderr"
grep -q '"bank": 2' "$t/bank/setup.json" || fail "setup.json does not keep --bank 2: $(tail -n 2 "$t/stderr")"
"$pk" refine --setup "$t/bank/setup.json" --free scale --cycles 1 --output "$t/bank-again" > /dev/null 2> "$t/stderr"
check_fit "$t/bank-again" fixed
# An output folder that is a file, or lies in one, is refused before the refinement runs (no cycle printed).
for out in "$t/mix.xy" "$t/mix.xy/fit"; do
  "$pk" refine "$t/mix.xy" "$t/corundum.cif" --output "$out" > /dev/null 2> "$t/stderr" && fail "--output $out taken"
  grep -q "is not a folder" "$t/stderr" && ! grep -q '^cycle' "$t/stderr" || fail "--output $out: $(cat "$t/stderr")"
done
echo '{"measured": 3' > "$t/bad.json"
bads=("--free scale,nosuch|nosuch" "--tie corundum.a|--tie" "--range 50 40|--range" "--setup $t/bad.json|bad.json")
for bad in "${bads[@]}"; do
  IFS='|' read -r args message <<< "$bad"
  # shellcheck disable=SC2086
  "$pk" refine "$t/mix.xy" "$t/corundum.cif" $args --output "$t/bad" > /dev/null 2> "$t/stderr"
  [ $? = 1 ] && grep -qF -- "$message" "$t/stderr" && [ ! -e "$t/bad" ] || fail "refine $args: $(cat "$t/stderr")"
done

# An instrument file: a noiseless silicon standard (zero 0.03 degrees, a profile of its own) refined with
# --save-instrument; a sample broadened beyond it by X_s = 0.05, Y_s = 0.04 degrees and U_s = 0.002 degrees^2 refined
# with --instrument shows D = 0.9 lambda / (X_s pi/180) and strain (pi/720) TCH(sqrt U_s, Y_s), worked out here.
printf '%s' '{"format": "powderkit-instrument", "version": 1, "instrument": {"wavelength": 1.540593,
  "wavelength2": 1.544414, "ratio2": 0.5, "zero": 0.03}, "profile": {"type": "pseudo_voigt", "U": 0.003,
  "V": -0.001, "W": 0.002, "X": 0.015, "Y": 0.008}}' > "$t/standard.json"
sed 's/"U": 0.003/"U": 0.005/; s/"X": 0.015/"X": 0.065/; s/"Y": 0.008/"Y": 0.048/' "$t/standard.json" > "$t/sample.json"
for kind in standard sample; do
  "$pk" pattern "$data/silicon.cif" --instrument "$t/$kind.json" --scale 2000 --range 20 120 0.02 |
    awk '{ printf "%s %.6f\n", $1, $2 + 100 }' > "$t/$kind.xy"
done
"$pk" refine "$t/standard.xy" "$data/silicon.cif" --save-instrument "$t/saved.json" > /dev/null 2> "$t/stderr" ||
  fail "refine --save-instrument: $(cat "$t/stderr")"
"$pk" refine "$t/sample.xy" "$data/silicon.cif" --instrument "$t/saved.json" > "$t/table" 2> "$t/stderr" ||
  fail "refine --instrument: $(cat "$t/stderr")"
/usr/bin/python3 - "$t/saved.json" "$t/table" <<'PY' || fail "size and strain: $(tail -n 2 "$t/table")"
import json, math, sys
saved = json.load(open(sys.argv[1]))
assert abs(saved["instrument"]["zero"] - 0.03) < 1e-6 and abs(saved["profile"]["X"] - 0.015) < 1e-6, saved
table = [block for block in open(sys.argv[2]).read().split("\n\n") if block.startswith("phase\t")][-1]
rows = [line.split("\t") for line in table.splitlines()]
row = dict(zip(rows[0], rows[1]))
g, l = math.sqrt(0.002), 0.04
tch = (g**5 + 2.69269 * g**4 * l + 2.42843 * g**3 * l**2 + 4.47163 * g**2 * l**3 + 0.07842 * g * l**4 + l**5) ** 0.2
truths = {"size_nm": 0.9 * 1.540593 / (0.05 * math.pi / 180) / 10, "strain_percent": 100 * tch * math.pi / 720}
for key, truth in truths.items():
    assert abs(float(row[key].split("(")[0]) / truth - 1) < 1e-4, (key, row[key], truth)
PY
"$pk" refine --help | grep -q -- "--save-instrument" || fail "refine --help names no --save-instrument"

# Time of flight: silicon on a bank of difC 10000 µs/Å (TOF = difC d), calculated in ms and written as text columns
# of µs (+100 counts, σ = √y), as such files give them, refined from a = 5.447 (0.3 % off) within a range given in
# µs: the CIF's cell comes back, and Si 1 1 1 (d = 5.431194/√3 = 3.135705 Å) peaks near 31357 µs.
printf '%s' '{"format": "powderkit-instrument", "version": 1, "instrument": {"axis": "tof", "radiation": "neutron",
  "wavelength": 1, "tof_two_theta": 90, "dtt1": 10000}, "profile": {"type": "tof_exp_pseudo_voigt"}}' > "$t/tof.json"
"$pk" pattern "$data/silicon.cif" --instrument "$t/tof.json" --scale 1000 --range 8 32 0.004 |
  awk '{ y = $2 + 100; printf "%.1f %.6f %.6f\n", $1 * 1000, y, sqrt(y) }' > "$t/si_tof.xye"
sed 's/5\.431194/5.447/' "$data/silicon.cif" > "$t/si_off.cif"
"$pk" refine "$t/si_tof.xye" "$t/si_off.cif" --instrument "$t/tof.json" --range 8500 31800 --output "$t/tof" \
  > /dev/null 2> "$t/stderr" || fail "refine on time of flight: $(cat "$t/stderr")"
/usr/bin/python3 - "$t/tof" <<'PY' || fail "refine on time of flight: $(tail -n 3 "$t/stderr")"
import json, sys
d = json.load(open(sys.argv[1] + "/refinement.json"))
assert abs(d["phases"][0]["cell"][0] / 5.431194 - 1) < 1e-5 and d["statistics"]["Rwp"] < 0.01, d["phases"]
assert d["instrument"]["axis"] == "tof" and d["instrument"]["difC"] == 10000, d["instrument"]
rows = [list(map(float, line.split())) for line in open(sys.argv[1] + "/fit.xy") if line[0] != "#"]
assert 8500 <= rows[0][0] < 8510 and 31790 < rows[-1][0] <= 31800, (rows[0], rows[-1])
assert abs(max(rows, key=lambda row: row[1])[0] - 31357) < 15, max(rows, key=lambda row: row[1])
svg = open(sys.argv[1] + "/fit.svg").read()
assert ">TOF (µs)</text>" in svg and ">2θ (°)</text>" not in svg
assert '"axis":"TOF (µs)"' in open(sys.argv[1] + "/report.html").read()
assert "zero_window" not in json.load(open(sys.argv[1] + "/setup.json"))
PY
# A GSAS-family instrument file's difB (the calibration's 1/d term, which no instrument record holds) starts the
# refinement's difB.
printf 'Type:PNT\nBank:1\ndifC:10000\ndifA:0\ndifB:25\nZero:0\n2-theta:90\nalpha:1\nbeta-0:0.03\nsig-1:10\n' > "$t/difb.instprm"
"$pk" refine "$t/si_tof.xye" "$t/si_off.cif" --instrument "$t/difb.instprm" --cycles 1 --output "$t/difb" \
  > /dev/null 2> "$t/stderr" || fail "refine with difB: $(cat "$t/stderr")"
/usr/bin/python3 -c 'import json, sys; d = json.load(open(sys.argv[1]))
assert [p["value"] for p in d["parameters"] if p["name"] == "difB"] == [25.0]' "$t/difb/refinement.json" ||
  fail "difB not started from the instrument file"
# A time-of-flight instrument beside a 2θ file, a time-of-flight bank beside a 2θ instrument, and 2θ options on
# time of flight are refused, naming both files or the option.
tofs=("$t/banks.gsa $t/si_off.cif --instrument $t/tof.json|banks.gsa: GSAS data of a constant-wavelength (2θ) bank, but $t/tof.json gives a time-of-flight bank"
      "$t/banks.gsa $t/si_off.cif --bank 3 --instrument $t/standard.json|banks.gsa: a time-of-flight bank, but $t/standard.json gives a 2θ instrument"
      "$t/si_tof.xye $t/si_off.cif --instrument $t/tof.json --axial 0.01,0.01|--axial: a term of 2θ patterns"
      "$t/si_tof.xye $t/si_off.cif --instrument $t/tof.json --free scale,displacement|--free: \"displacement\": a term of 2θ")
for bad in "${tofs[@]}"; do
  IFS='|' read -r args message <<< "$bad"
  # shellcheck disable=SC2086
  "$pk" refine $args > /dev/null 2> "$t/stderr"
  [ $? = 1 ] && grep -qF -- "$message" "$t/stderr" || fail "refine $args: $(cat "$t/stderr")"
done
# Jointly: silicon for Cu Kα1 + Kα2 in 2θ beside the bank above (named "bank"), one cell from 5.447 (0.3 % off) with a
# range and an exclusion of each: the CIF's a = 5.431194 comes back; each pattern is a histogram of its own, kind and
# statistics (whose χ² add up to the whole's), its own fit file and panel of fit.svg on its own axis; setup.json runs
# it again. An unknown key, a time-of-flight bank without its instrument and an unnamed --exclude are refused.
"$pk" pattern "$data/silicon.cif" --scale 2000 --range 20 120 0.02 | awk '{ printf "%s %.6f\n", $1, $2 + 100 }' > "$t/si-cu.xy"
joint="--pattern $t/si-cu.xy --pattern $t/si_tof.xye,instrument=$t/tof.json,name=bank $t/si_off.cif"
# shellcheck disable=SC2086
"$pk" refine $joint --range bank:8500 31800 --exclude si_cu:40 42 --output "$t/joint" --save-instrument "$t/inst.json" \
  > /dev/null 2> "$t/stderr" &&
  "$pk" refine --setup "$t/joint/setup.json" --free scale --cycles 1 --output "$t/joint/again" > /dev/null 2>> "$t/stderr" ||
  fail "joint refine: $(cat "$t/stderr")"
/usr/bin/python3 - "$t/joint" <<'PY' || fail "joint refine: $(tail -n 3 "$t/stderr")"
import json, os, sys
for run in (sys.argv[1], sys.argv[1] + "/again"):
    d = json.load(open(run + "/refinement.json"))
    assert abs(d["phases"][0]["cell"][0] / 5.431194 - 1) < 1e-5, d["phases"]
    h = d["histograms"]
    assert [(x["name"], x["kind"]["radiation"], x["kind"]["measurement"], x["fit"]) for x in h] == [
        ("si_cu", "x-ray", "constant wavelength", "fit_si_cu.xy"), ("bank", "neutron", "time of flight", "fit_bank.xy")], h
    assert all(x["statistics"].keys() == d["statistics"].keys() and os.path.exists(run + "/" + x["fit"]) for x in h)
    assert abs(sum(x["statistics"]["chi2"] for x in h) / d["statistics"]["chi2"] - 1) < 1e-9, h
    # Each pattern's view of the phase: the shared cell (no offset freed); the whole's R-Bragg is the first's.
    assert all(x["phases"][0]["cell"] == d["phases"][0]["cell"] for x in h), h
    assert h[0]["phases"][0]["R_bragg"] == d["phases"][0]["R_bragg"] != h[1]["phases"][0]["R_bragg"], h
# --save-instrument: one instrument file per pattern, each holding that pattern's refined instrument.
d = json.load(open(sys.argv[1] + "/refinement.json"))
for x in d["histograms"]:
    saved = json.load(open(os.path.dirname(sys.argv[1]) + "/inst_" + x["name"] + ".json"))["instrument"]
    assert saved.get("axis", "two_theta") == x["instrument"]["axis"], (saved, x)
    assert abs(saved["zero"] - x["instrument"]["zero"]) < 1e-9 * max(1, abs(x["instrument"]["zero"])), (saved, x)
svg = open(sys.argv[1] + "/fit.svg").read()
assert svg.count('<g class="panel">') == 2 and svg.index(">2θ (°)</text>") < svg.index(">TOF (µs)</text>"), svg[:300]
PY
bads=("--pattern $t/si-cu.xy,colour=red $t/si_off.cif|--pattern \"$t/si-cu.xy,colour=red\": unknown key \"colour\""
      "--pattern $t/si-cu.xy --pattern $t/banks.gsa,bank=3 $t/si_off.cif|banks.gsa: a time-of-flight bank: give its calibration with instrument=FILE"
      "$joint --exclude 40 42|--exclude 40 42: this refinement has 2 patterns (si_cu, bank): name one")
for bad in "${bads[@]}"; do
  IFS='|' read -r args message <<< "$bad"
  # shellcheck disable=SC2086
  "$pk" refine $args > /dev/null 2> "$t/stderr"
  [ $? = 1 ] && grep -qF -- "$message" "$t/stderr" || fail "refine $args: $(cat "$t/stderr")"
done
# Each command offers the options it uses: the sample corrections change reflexions, patterns and fits, never a
# peak list; the lines and the instrument file serve all four.
for command in reflexions pattern refine peaks index; do
  "$pk" $command --help > "$t/help" || fail "$command --help failed"
  for option in --anode --wavelength --neutron --instrument; do
    grep -q -- "$option" "$t/help" || fail "$command --help offers no $option"
  done
  for option in --absorption --roughness --transparency --monochromator --no-dispersion; do
    if [ $command = peaks ] || [ $command = index ]; then
      ! grep -q -- "$option" "$t/help" || fail "$command --help offers $option, which no peak list uses"
    else
      grep -q -- "$option" "$t/help" || fail "$command --help offers no $option"
    fi
  done
done

# peaks: rock salt with Cu Ka1 + Ka2 (both defaults) from 20 to 90 degrees shows nine lines, no Ka2 line a row of its
# own (422's, resolved at 84.25); the first, 111, at its Ka1 2theta = 27.366, d = 3.25637 A (its asymmetric profile
# moves the maximum by ~0.01); 333/511 at 90.41 is named as cut by the end of the data.
"$pk" pattern "$nacl" --range 20 90 0.02 > "$t/nacl.xy"
"$pk" peaks "$t/nacl.xy" > "$t/peaks" 2> "$t/stderr" || fail "peaks: $(cat "$t/stderr")"
grep -q "2θ = 90: cut by the end of the data" "$t/stderr" || fail "peaks at the end: $(cat "$t/stderr")"
columns="two_theta d height fwhm eta area two_theta_esd d_esd height_esd fwhm_esd eta_esd area_esd"
[ "$(head -n 1 "$t/peaks")" = "$(tr ' ' '\t' <<< "$columns")" ] || fail "peaks header: $(head -n 1 "$t/peaks")"
awk -F'\t' 'NR == 2 { bad = ($1 - 27.366) ^ 2 > 0.03 ^ 2 || ($2 - 3.25637) ^ 2 > 0.003 ^ 2 }
  END { exit bad || NR != 10 }' "$t/peaks" || fail "peaks: $(cat "$t/peaks")"

# peaks takes the wavelength an XRDML file names: one Gaussian at 2theta = 30 degrees with Mo Ka1 (0.70930 A) gives
# d = 0.70930 / (2 sin 15 degrees) = 1.37026 A (Cu Ka1 would give 2.97620 A).
{
  echo '<?xml version="1.0"?><xrdMeasurements xmlns="http://www.xrdml.com/XRDMeasurement/1.5"><xrdMeasurement>'
  echo '<usedWavelength><kAlpha1 unit="Angstrom">0.70930</kAlpha1></usedWavelength><scan><dataPoints>'
  echo '<positions axis="2Theta" unit="deg"><startPosition>20</startPosition><endPosition>60</endPosition></positions>'
  awk 'BEGIN { printf "<intensities unit=\"counts\">"; for (i = 0; i <= 2000; i++) {
    x = 20 + 0.02 * i; printf "%d ", 50 + 1000 * exp(-((x - 30) / 0.06) ^ 2) }; print "</intensities>" }'
  echo '</dataPoints></scan></xrdMeasurement></xrdMeasurements>'
} > "$t/mo.xrdml"
"$pk" peaks "$t/mo.xrdml" > "$t/peaks" 2> "$t/stderr" || fail "peaks of XRDML: $(cat "$t/stderr")"
awk -F'\t' 'NR == 2 { bad = ($1 - 30) ^ 2 > 0.01 ^ 2 || ($2 - 1.37026) ^ 2 > 0.001 ^ 2 } END { exit bad || NR != 2 }' \
  "$t/peaks" || fail "peaks of XRDML (Mo Ka1 from the file): $(cat "$t/peaks")"

# index: rutile's pattern (Cu Kα1 + Kα2, noiseless) gives its tetragonal P cell first, a and c within 0.01 Å of
# the CIF's, confirmed by a Le Bail fit of the pattern; index.json holds every key for every candidate.
"$pk" pattern "$data/rutile.cif" --scale 1000 --range 15 120 0.02 | awk '{ printf "%s %.4f\n", $1, $2 + 50 }' > "$t/rutile.xy"
"$pk" index "$t/rutile.xy" --systems cubic,tetragonal,hexagonal --output "$t/index" > "$t/table" 2> "$t/stderr" ||
  fail "index: $(cat "$t/stderr")"
grep -q '^ *[0-9]* %  tetragonal$' "$t/stderr" || fail "index: no progress line: $(cat "$t/stderr")"
/usr/bin/python3 - "$t/index/index.json" "$data/rutile.cif" "$t/table" <<'PY' || fail "index of rutile: $(head -n 3 "$t/table")"
import json, sys
d = json.load(open(sys.argv[1]))
cif = dict(line.split()[:2] for line in open(sys.argv[2]) if line.startswith("_cell_length"))
a, c = float(cif["_cell_length_a"]), float(cif["_cell_length_c"])
assert {"candidates", "lines", "notes", "stopped", "options"} <= d.keys() and d["stopped"] is False
keys = {"system", "centring", "cell", "cell_esd", "reduced_cell", "volume", "zero", "M20", "F_N", "N", "mean_error",
        "possible_lines", "unindexed", "supercell_of", "subcell_of", "extinction_symbols", "le_bail_rwp", "hkl"}
assert all(keys <= candidate.keys() and len(candidate["hkl"]) == len(d["lines"]) for candidate in d["candidates"])
best = d["candidates"][0]
assert (best["system"], best["centring"]) == ("tetragonal", "P"), best
assert abs(best["cell"][0] - a) < 0.01 and abs(best["cell"][2] - c) < 0.01 and best["le_bail_rwp"] < 2, best
assert {"symbol", "groups", "absent_lines", "ambiguous_lines"} <= best["extinction_symbols"][0].keys()
row = open(sys.argv[3]).read().splitlines()[1].split("\t")
assert row[:3] == ["1", "tetragonal", "P"] and abs(float(row[3].split("(")[0]) - a) < 0.01, row
PY
# index --peaks alone: the lines of a body-centred cubic cell, a = 4.2 Å, at 1.5406 Å by Bragg's law,
# 2θ = 2 asin(λ √(h² + k² + l²) / 2a) for h + k + l even, as a table with a header and a comment: the I cell
# indexing every line ranks above the primitive cell a/√2 that indexes all but 321. The third line, 0.08° off,
# is indexed all the same: its two_theta_esd of 0.04° allows it three of those.
awk 'BEGIN { print "two_theta\tnote\ttwo_theta_esd"; print "# from Bragg'"'"'s law"
  for (s = 2; s <= 26; s += 2) { x = 1.5406 * sqrt(s) / 8.4; y = 2 * atan2(x, sqrt(1 - x * x)) * 45 / atan2(1, 1)
    if (s == 6) printf "%.6f\tline\t0.04\n", y + 0.08; else printf "%.6f\tline\t0.001\n", y } }' \
  > "$t/bcc.tsv"
"$pk" index --peaks "$t/bcc.tsv" --wavelength 1.5406 --systems cubic --output "$t/bcc" > /dev/null 2> "$t/stderr" ||
  fail "index --peaks: $(cat "$t/stderr")"
/usr/bin/python3 - "$t/bcc/index.json" <<'PY' || fail "index --peaks of a bcc cell: $(head -c 600 "$t/bcc/index.json")"
import json, sys
best = json.load(open(sys.argv[1]))["candidates"][0]
assert best["centring"] == "I" and abs(best["cell"][0] - 4.2) < 1e-4 and best["le_bail_rwp"] is None, best
assert sorted(map(abs, best["hkl"][0])) == [0, 1, 1] and best["unindexed"] == [], best
PY

[ "$failures" = 0 ] && echo "all cases pass"
exit $((failures > 0))
