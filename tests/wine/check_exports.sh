#!/usr/bin/env bash
# The shipped DLL's export table holds exactly the eighteen plain names, and it
# imports only system DLLs (no MinGW runtime: libgcc, libstdc++, winpthread).
set -euo pipefail
dll="$1"
objdump="${2:-i686-w64-mingw32-objdump}"
dump="$("$objdump" -p "$dll")"
exports="$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s+\[ *[0-9]+\] ' | awk '{print $NF}' | sort)"
expected="$(printf '%s\n' KOVICCreate KOVICDestroy KOVICGetVideoDeviceCount KOVICGetVideoDevice KOVICOpen \
  KOVICClose KOVICSelectDevice KOVICSetVideoFormat KOVICEnumVideoFormat KOVICGetWidth KOVICGetHeight \
  KOVICStartPreview KOVICStopPreview KOVICIsPreviewing KOVICGetFrameCall KOVICGetYuvFrame \
  KOVICSaveSingleFrameBitmap MirelGetDXVersion | sort)"
if [ "$exports" != "$expected" ]; then
  echo "export table differs:"; diff <(echo "$expected") <(echo "$exports") || true; exit 1
fi
imports="$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)"
echo "imports: $(echo $imports)"
allowed='^(kernel32|user32|ole32|oleaut32|msvcrt|advapi32|api-ms-win-crt-.*)\.dll$'
bad="$(printf '%s\n' "$imports" | grep -Ev "$allowed" || true)"
if [ -n "$bad" ]; then echo "imports a non-system DLL: $bad"; exit 1; fi
headers="$("$objdump" -h "$dll")"
if ! printf '%s\n' "$headers" | grep -q '\.rsrc'; then echo "no resource section (VERSIONINFO)"; exit 1; fi
echo "18 exports, system imports only, version resource present"
