#!/usr/bin/env bash
# Refines a two-phase pattern (corundum and silicon, made by the command with
# a profile the start does not assume, cells started off) and checks its
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
"$pk" refine "$out/mix.xy" "$out/corundum.cif" "$out/silicon.cif" --output "$out/fit" > /dev/null 2> "$out/stderr" ||
  { cat "$out/stderr"; exit 1; }
"$node" "$(dirname "$0")/browser_test.mjs" "$out/fit"
