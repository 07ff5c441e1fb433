#!/usr/bin/env bash
# Runs the Windows test program under Wine on a private X server.
# usage: run-under-wine.sh <tests.exe> <updater.exe> [test arguments...]
# E2E_WORK and WINEPREFIX may be set to keep parallel runs apart.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh" "$WINEPREFIX"
tests=$1 stub=$2
shift 2
work=${E2E_WORK:-$root/build/e2e}
rm -rf "$work/cases"
mkdir -p "$work/cases" "$work/shots"
export KOVELA_STUB=$(winpath "$stub")
export KOVELA_CASES=$(winpath "$work/cases")
export KOVELA_SOURCE=$(winpath "$root")

# A small drive that fills up, T:, for the tests of a full disk: a tmpfs of 32 MiB where this
# runs as root (as CI does). Without it those tests are skipped.
small=$work/small-drive
drive=$WINEPREFIX/dosdevices/t:
mkdir -p "$small"
if [ "$(id -u)" -eq 0 ] && ! mountpoint -q "$small" && mount -t tmpfs -o size=32m,mode=0777 tmpfs "$small"; then
  trap 'rm -f "$drive"; umount "$small" || true' EXIT
  ln -sfn "$small" "$drive"
  export KOVELA_SMALL_DRIVE=T:
fi
"$root/scripts/on-display.sh" "$work/shots" wine "$tests" "$@"
