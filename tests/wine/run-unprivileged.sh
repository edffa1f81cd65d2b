#!/usr/bin/env bash
# Runs a Windows program under Wine as a user without root's rights, in a Wine
# prefix of that user's own. Wine lets root write to read-only files, which
# Windows refuses to every user; a test of that refusal needs a plain user.
# Usage: run-unprivileged.sh <Wine runner> <prefix> <program.exe> [arguments...]
set -euo pipefail
wine_run="$(realpath "$1")"
prefix="$(realpath -m "$2")"
shift 2
if [ "$(id -u)" -ne 0 ]; then
  KOVIC_WINEPREFIX="$prefix" exec "$wine_run" "$@"
fi
user=nobody
group="$(id -gn "$user")"
mkdir -p "$prefix"
chown -R "$user:$group" "$prefix"
home="$(mktemp -d)"
chown "$user:$group" "$home"
trap 'rm -rf "$home"' EXIT
setpriv --reuid="$user" --regid="$group" --clear-groups \
  env HOME="$home" USER="$user" KOVIC_WINEPREFIX="$prefix" "$wine_run" "$@"
