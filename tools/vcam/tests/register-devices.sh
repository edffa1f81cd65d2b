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
"$wine_run" regedit /S "$(windows_path "$2")"
"$wine_run" regsvr32 /s "$(windows_path "$1")"
echo "registered $(basename "$1") and the devices of $(basename "$2")"
