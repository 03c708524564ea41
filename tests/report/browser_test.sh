#!/usr/bin/env bash
# Refines a two-phase pattern (corundum and silicon, made by the command with
# a profile the start does not assume, cells started off, one region
# excluded), then the same jointly with a time-of-flight bank, and checks each
# report.html in headless Chromium (browser_test.mjs).
#   browser_test.sh POWDERKIT NODE OUTPUT_FOLDER
set -euo pipefail
pk=$1 node=$2 out=$3
data=${PK_EXAMPLE_DATA:-$(dirname "$0")/../../examples/data}
rm -rf "$out" && mkdir -p "$out"
"$pk" pattern "$data/corundum.cif" "$data/silicon.cif" --scale 3000 2000 --range 20 90 0.01 \
  --uvw 0.006 -0.003 0.004 > "$out/mix.xy"
sed 's/4\.758900/4.765000/' "$data/corundum.cif" > "$out/corundum.cif"
sed 's/5\.431194/5.436000/' "$data/silicon.cif" > "$out/silicon.cif"
"$pk" refine "$out/mix.xy" "$out/corundum.cif" "$out/silicon.cif" --exclude 60 61 --output "$out/fit" > /dev/null 2> "$out/stderr" ||
  { cat "$out/stderr"; exit 1; }
"$node" "$(dirname "$0")/browser_test.mjs" "$out/fit"
# The same mixture beside a time-of-flight bank of it (difC 10000 µs/Å, text columns in µs), refined jointly: a
# panel per pattern, each on its own axis.
printf '%s' '{"format": "powderkit-instrument", "version": 1, "instrument": {"axis": "tof", "radiation": "neutron",
  "wavelength": 1, "tof_two_theta": 90, "dtt1": 10000}, "profile": {"type": "tof_exp_pseudo_voigt"}}' > "$out/tof.json"
"$pk" pattern "$data/corundum.cif" "$data/silicon.cif" --instrument "$out/tof.json" --scale 300 200 \
  --range 8 32 0.004 | awk '{ printf "%.1f %.6f\n", $1 * 1000, $2 + 50 }' > "$out/tof.xy"
"$pk" refine --pattern "$out/mix.xy,name=xray" --pattern "$out/tof.xy,instrument=$out/tof.json,name=tof" \
  "$out/corundum.cif" "$out/silicon.cif" --range tof:8500 31800 --exclude tof:20000 20400 --output "$out/joint" > /dev/null 2> "$out/stderr" ||
  { cat "$out/stderr"; exit 1; }
"$node" "$(dirname "$0")/browser_test.mjs" "$out/joint"
