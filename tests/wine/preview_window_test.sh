#!/usr/bin/env bash
# kovic-preview under Wine on an X server of its own (Xvfb), against the
# virtual camera: waits for the preview window, takes two screenshots of it
# some frames apart and checks from their pixels that the window shows the
# camera's picture at 1:1, upright and not mirrored, and that the frame counter
# advanced; reads the frame rate from the window's title; closes the window as
# a user does and checks that the program stopped preview, saved its snapshot
# and exited cleanly. Every wait is bounded; Xvfb and the prefix's wineserver
# are stopped on every way out.
#
# usage: preview_window_test.sh --preview EXE --probe EXE --vcam DLL [--devices REG]
#            [--device-name NAME] [--size WxH] [--frames N] [--png FILE] [--runner SCRIPT]
#   --devices   a .reg file of virtual devices to import before registering the DLL
#   --frames    how far the counter must advance between the screenshots (default 10)
#   --png       keep the second screenshot as this PNG file
#   --runner    the Wine runner for the programs' architecture (default scripts/wine-run)
# KOVIC_WINEPREFIX names the Wine prefix, which should be this script's alone.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
wine_run="$here/scripts/wine-run"

preview="" probe="" vcam="" devices="" device_name="" size="" frames=10 png=""
while [ "$#" -gt 0 ]; do
  case "$1" in
    --preview) preview="$2" ;;
    --probe) probe="$2" ;;
    --vcam) vcam="$2" ;;
    --devices) devices="$2" ;;
    --device-name) device_name="$2" ;;
    --size) size="$2" ;;
    --frames) frames="$2" ;;
    --png) png="$2" ;;
    --runner) wine_run="$(realpath "$2")" ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done
if [ -z "$preview" ] || [ -z "$probe" ] || [ -z "$vcam" ] || [ -z "${KOVIC_WINEPREFIX:-}" ]; then
  echo "usage: KOVIC_WINEPREFIX=DIR $0 --preview EXE --probe EXE --vcam DLL [options]" >&2
  exit 2
fi
for tool in Xvfb xwininfo xprop import convert; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup installs it)" >&2; exit 1; }
done

started=$SECONDS
# The whole run stays well inside the CTest timeout, so this script, not a
# kill from outside, gets to clean up.
deadline=$((SECONDS + 420))
work="$(mktemp -d)"
xvfb_pid=""
preview_pid=""
window=""
last_probe=""  # the probe's word on the latest screenshot

stop_wine() { WINEPREFIX="$KOVIC_WINEPREFIX" wineserver -k 2>/dev/null || true; }
cleanup() {
  local status=$?
  set +e
  trap - EXIT
  [ -n "$preview_pid" ] && kill "$preview_pid" 2>/dev/null
  stop_wine
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $*" >&2
  if [ -n "$last_probe" ] && [ -s "$last_probe" ]; then echo "the latest screenshot: $(cat "$last_probe")" >&2; fi
  if [ -n "$window" ]; then echo "the window's title: \"$(title)\"" >&2; fi
  if [ -s "$work/preview.log" ]; then
    echo "--- kovic-preview's output:" >&2
    cat "$work/preview.log" >&2
  fi
  exit 1
}

# wait_until SECONDS WHAT COMMAND...: runs COMMAND every fifth of a second until
# it succeeds; fails after SECONDS (or at the deadline), or as soon as
# kovic-preview has exited while it is still wanted.
wait_until() {
  local limit=$((SECONDS + $1)) what="$2"
  shift 2
  [ "$limit" -gt "$deadline" ] && limit=$deadline
  until "$@"; do
    if [ -n "$preview_pid" ] && ! kill -0 "$preview_pid" 2>/dev/null; then
      fail "kovic-preview exited while waiting for $what"
    fi
    [ "$SECONDS" -ge "$limit" ] && fail "no $what within $((limit - started)) s of the start"
    sleep 0.2
  done
}

# Seconds left before the deadline (at least 1), to bound the single commands.
remaining() { echo $((deadline > SECONDS ? deadline - SECONDS : 1)); }

# Wine's Z: drive is the Unix root.
windows_path() { local p; p="$(realpath "$1")"; printf 'Z:%s' "${p//\//\\}"; }

# An X server of its own: -displayfd picks a free display and writes its
# number once the server accepts connections. 24-bit, so colours stay exact.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_until 30 "X server" test -s "$work/display"
display=":$(head -n1 "$work/display")"
export KOVIC_WINE_DISPLAY="$display"

# A wineserver left over from an earlier run would keep a desktop bound to a
# display that is gone; every Wine process from here on sees this one.
stop_wine
if [ -n "$devices" ]; then
  timeout "$(remaining)" "$wine_run" regedit /S "$(windows_path "$devices")" || fail "importing $devices"
fi
timeout "$(remaining)" "$wine_run" regsvr32 /s "$(windows_path "$vcam")" || fail "registering $vcam"

args=(--seconds 600 --snapshot "$(windows_path "$work")\\last.bmp")
[ -n "$device_name" ] && args+=(--device-name "$device_name")
[ -n "$size" ] && args+=(--size "$size")
# --seconds only as a safety net: the window is closed below.
"$wine_run" "$preview" "${args[@]}" >"$work/preview.log" 2>&1 &
preview_pid=$!

# The window: the top-level X window whose title kovic-preview set once the
# size was known ("kovic-preview - DEVICE - WxH - F frames/s"), mapped.
title() { DISPLAY="$display" xprop -id "$window" WM_NAME 2>/dev/null | sed -n 's/^WM_NAME([A-Z_]*) = "\(.*\)"$/\1/p'; }
find_window() {
  local id
  id="$(DISPLAY="$display" xwininfo -root -tree 2>/dev/null | awk '/"kovic-preview - / && !found {print $1; found = 1}')"
  [ -n "$id" ] || return 1
  DISPLAY="$display" xwininfo -id "$id" 2>/dev/null | grep 'Map State: IsViewable' >/dev/null || return 1
  window=$id
}
wait_until 180 "preview window" find_window
width="" height=""
read -r width height < <(title | sed -n 's/.* - \([0-9]*\)x\([0-9]*\) - .*/\1 \2/p') || true
[ -n "$width" ] || fail "no size in the window's title"

# decode NAME FILE: the probe's word on a picture file into $work/NAME.txt;
# sets counter when the file shows the camera's picture upright.
counter=""
decode() {
  local status=0
  timeout 60 "$wine_run" "$probe" decode "$(windows_path "$2")" "$width" "$height" >"$work/$1.txt" 2>&1 || status=$?
  sed -i 's/\r$//' "$work/$1.txt"  # the console's line ends
  [ "$status" -eq 0 ] || return 1
  counter="$(sed -n 's/^counter \([0-9]*\) .*/\1/p' "$work/$1.txt")"
}
# shot NAME: a screenshot of the window, decoded.
shot() {
  DISPLAY="$display" timeout 60 import -window "$window" -depth 8 "ppm:$work/$1.ppm" 2>>"$work/import.log" || return 1
  last_probe="$work/$1.txt"
  decode "$1" "$work/$1.ppm"
}
# A picture found but mirrored or flipped is no passing state: fail at once.
shot_upright() {
  shot "$1" && return 0
  if grep -q "picture is " "$work/$1.txt"; then fail "the window shows the camera's picture the wrong way round"; fi
  return 1
}
first_counter=""
first_shot() { shot_upright first && first_counter=$counter; }
# How far the 16-bit counter moved from $1 to $counter (it may wrap).
advanced() { echo $(((counter - $1 + 65536) % 65536)); }
second_shot() { shot_upright second && [ "$(advanced "$first_counter")" -ge "$frames" ] && [ "$(advanced "$first_counter")" -lt 32768 ]; }

wait_until 120 "camera picture in the window" first_shot
wait_until 120 "frame counter $frames past $first_counter" second_shot
second_counter=$counter
fps="" shown_title=""
title_fps() {
  shown_title="$(title)"
  fps="$(sed -n 's/.* - \([0-9.]*\) frames\/s$/\1/p' <<<"$shown_title")"
  [ -n "$fps" ] && [ "$fps" != "0.0" ]
}
wait_until 60 "frame rate in the title" title_fps
if [ -n "$png" ]; then convert "$work/second.ppm" "$png"; fi

# Close it as a user does, then everything it promised on the way out.
timeout 60 "$wine_run" "$probe" close >/dev/null || fail "the preview window could not be closed"
exited() { ! kill -0 "$preview_pid" 2>/dev/null; }
saved_pid=$preview_pid
preview_pid=""
wait_until 120 "exit of kovic-preview after its window closed" exited
status=0
wait "$saved_pid" || status=$?
[ "$status" -eq 0 ] || fail "kovic-preview exited with $status"
sed -i 's/\r$//' "$work/preview.log"  # the console's line ends
grep -q '^status: Preview Start' "$work/preview.log" || fail "no \"Preview Start\""
grep -q '^status: Preview Stop' "$work/preview.log" || fail "no \"Preview Stop\" before the session closed"
grep -q ': written$' "$work/preview.log" || fail "no snapshot written"
decode last "$work/last.bmp" || fail "the snapshot: $(cat "$work/last.txt")"
# The last frame delivered, so no older than the second screenshot.
[ "$(advanced "$second_counter")" -lt 32768 ] || fail "the snapshot shows frame $counter, before $second_counter"

sed 's/^/kovic-preview: /' "$work/preview.log"
echo "window title: \"$shown_title\""
echo "screenshots: counter $first_counter, then $second_counter ($(sed -n 's/.* at /picture at /p' "$work/second.txt") of the window)"
echo "snapshot on exit: counter $counter"
if [ -n "$png" ]; then echo "wrote $png"; fi
echo "passed in $((SECONDS - started)) s"
