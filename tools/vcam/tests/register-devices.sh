#!/usr/bin/env bash
# Registers the virtual camera DLL (regsvr32, from its build location) and the
# test devices (regedit) in the project's Wine prefix. Usage:
#   register-devices.sh <kovic-vcam.dll> <devices.reg> [<wine runner>]
# The runner (default scripts/wine-run, 32-bit; scripts/wine64-run for a 64-bit
# DLL) picks the prefix and the architecture of regsvr32 and regedit.
set -euo pipefail
wine_run="${3:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)/scripts/wine-run}"
# Wine's Z: drive is the Unix root.
windows_path() { local p; p="$(realpath "$1")"; printf 'Z:%s' "${p//\//\\}"; }
# Imported as UTF-16 (with its byte-order mark), the form regedit reads a
# version 5 file in: only then are hex(1) strings taken as UTF-16 text, which
# a name outside the Basic Multilingual Plane needs. The file itself stays
# plain ASCII.
utf16="$(mktemp --suffix=.reg)"
trap 'rm -f "$utf16"' EXIT
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$2"; } > "$utf16"
"$wine_run" regedit /S "$(windows_path "$utf16")"
"$wine_run" regsvr32 /s "$(windows_path "$1")"
echo "registered $(basename "$1") and the devices of $(basename "$2")"
