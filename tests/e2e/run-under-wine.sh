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
exec "$root/scripts/on-display.sh" "$work/shots" wine "$tests" "$@"
