#!/usr/bin/env bash
# Runs the planting test three times: copies of a stand-in library named after
# the probe's libraries (and one name no system library has) are put beside
# the program, in its current folder, or in a folder on its PATH, with native
# libraries preferred to Wine's own for those names.
# Usage: planting.sh <test.exe> <kovic.dll> <planted.dll> <work folder> [Wine runner]
set -euo pipefail
test_exe="$1" kovic_dll="$2" planted="$3" work="$(realpath -m "$4")"
wine_run="${5:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-run}"
windows_path() { local p; p="$(realpath -m "$1")"; printf 'Z:%s' "${p//\//\\}"; }
names=(ddraw.dll dinput.dll d3d8.dll dpnhpast.dll kovicplant.dll)
status=0
for scenario in program current path; do
  rm -rf "$work"
  mkdir -p "$work/program" "$work/current" "$work/path"
  cp "$test_exe" "$kovic_dll" "$work/program/"
  for name in "${names[@]}"; do cp "$planted" "$work/$scenario/$name"; done
  echo "=== stand-ins in the $scenario folder ==="
  (cd "$work/current" &&
    KOVIC_PLANT_SCENARIO="$scenario" KOVIC_PLANT_MARKER="$(windows_path "$work/loads.txt")" \
    WINEPATH="$(windows_path "$work/path")" KOVIC_WINEDLLOVERRIDES="ddraw,dinput,d3d8,dpnhpast,kovicplant=n,b" \
    "$wine_run" "$work/program/$(basename "$test_exe")") || status=1
done
rm -rf "$work"
exit "$status"
