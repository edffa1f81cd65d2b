#!/usr/bin/env bash
# A shipped DLL's export table holds exactly its plain (undecorated) names, it
# imports only system DLLs (no MinGW runtime: libgcc, libstdc++, winpthread),
# and it is built for the expected machine: PE32 for x86, PE32+ for x64.
#   check_exports.sh kovic|vcam <dll> <objdump> <PE32|PE32+>
# kovic: kovic.dll, its eighteen exports and its version resource.
# vcam:  kovic-vcam.dll, the COM server's four entry points and its test counter.
set -euo pipefail
kind="$1"
dll="$2"
objdump="$3"
machine="$4"
case "$kind" in
  kovic) expected="KOVICCreate KOVICDestroy KOVICGetVideoDeviceCount KOVICGetVideoDevice KOVICOpen KOVICClose
           KOVICSelectDevice KOVICSetVideoFormat KOVICEnumVideoFormat KOVICGetWidth KOVICGetHeight
           KOVICStartPreview KOVICStopPreview KOVICIsPreviewing KOVICGetFrameCall KOVICGetYuvFrame
           KOVICSaveSingleFrameBitmap MirelGetDXVersion" ;;
  vcam) expected="DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer VcamLiveObjectCount VcamConnectedCompression" ;;
  *) echo "usage: $0 kovic|vcam <dll> <objdump> <PE32|PE32+>" >&2; exit 2 ;;
esac
case "$machine" in
  PE32) format=pei-i386 ;;
  PE32+) format=pei-x86-64 ;;
  *) echo "machine is PE32 or PE32+, not $machine" >&2; exit 2 ;;
esac
dump="$("$objdump" -p "$dll")"
magic="$(printf '%s\n' "$dump" | sed -n 's/^Magic\s.*(\(PE32+*\))$/\1/p')"
# (here-strings, not pipes, into grep -q: it stops reading at the first match,
# and under pipefail the writer's broken pipe would fail the test)
if [ "$magic" != "$machine" ] || ! grep -q "file format $format\$" <<<"$dump"; then
  echo "$(basename "$dll") is not $machine ($format): $(printf '%s\n' "$dump" | grep -E 'file format|^Magic' | xargs)"
  exit 1
fi
exports="$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s+\[ *[0-9]+\] ' | awk '{print $NF}' | sort)"
expected="$(printf '%s\n' $expected | sort)"
if [ "$exports" != "$expected" ]; then
  echo "export table differs:"; diff <(echo "$expected") <(echo "$exports") || true; exit 1
fi
imports="$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)"
echo "imports: $(echo $imports)"
allowed='^(kernel32|user32|ole32|oleaut32|msvcrt|advapi32|api-ms-win-crt-.*)\.dll$'
bad="$(printf '%s\n' "$imports" | grep -Ev "$allowed" || true)"
if [ -n "$bad" ]; then echo "imports a non-system DLL: $bad"; exit 1; fi
if [ "$kind" = kovic ]; then
  headers="$("$objdump" -h "$dll")"
  if ! grep -q '\.rsrc' <<<"$headers"; then echo "no resource section (VERSIONINFO)"; exit 1; fi
fi
echo "$machine, $(printf '%s\n' "$expected" | wc -l) exports, system imports only"
