#!/usr/bin/env bash
# The demo host writes its files into the folder --out names and nowhere else:
# never into its working folder, and nothing at all when capture cannot start.
# Usage: writes_only_where_told.sh <kovic-capture> [emulator] [device that cannot start] [device that can]
set -euo pipefail
program="$(realpath "$1")"
emulator="${2:-}"
broken="${3:-}"
good=(--device 0)
if [ -n "${4:-}" ]; then good=(--device-name "$4"); fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/cwd" "$work/out"
run() { (cd "$work/cwd" && ${emulator:+"$emulator"} "$program" "$@") >"$work/log" 2>&1; }
fail() { echo "$1"; cat "$work/log"; ls -la "$work/cwd" "$work/out"; exit 1; }

# No such device: the run fails and leaves nothing anywhere.
if run --device 999 --frames 3; then fail "capture from a missing device succeeded"; fi
[ -z "$(ls -A "$work/cwd")" ] || fail "a failed run wrote into its working folder"
# A device that is listed but will not start: nothing written either.
if [ -n "$broken" ]; then
  if run --device-name "$broken" --frames 3; then fail "capture from \"$broken\" succeeded"; fi
  grep -q "KOVICStartPreview" "$work/log" || fail "the run did not get as far as starting preview"
  [ -z "$(ls -A "$work/cwd")" ] || fail "a run whose preview failed wrote into its working folder"
fi

# A capture that works (when there is a device): only the --out folder is written.
run --list || fail "listing the devices failed"
if grep -q '^  \[0\]' "$work/log"; then
  run "${good[@]}" --frames 3 --out "$work/out" || fail "capture failed"
  [ -z "$(ls -A "$work/cwd")" ] || fail "the demo wrote into its working folder"
  for f in first.bmp last.bmp frames.i420; do [ -s "$work/out/$f" ] || fail "no $f in the --out folder"; done
  echo "captured 3 frames into the --out folder only"
fi
echo "the demo writes only into its --out folder"
