#!/usr/bin/env bash
# Runs a Windows test program under Wine on a private X server.
# usage: run-under-wine.sh <tests.exe> <updater.exe> [test arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh" "$WINEPREFIX"
tests=$1 stub=$2
shift 2
# E2E_WORK and WINEPREFIX may be set to keep parallel runs apart.
work=${E2E_WORK:-$root/build/e2e}
rm -rf "$work/cases"
mkdir -p "$work/cases" "$work/shots"
export KOVELA_STUB=$(winpath "$stub")
export KOVELA_CASES=$(winpath "$work/cases")
export KOVELA_SHOTS=$(winpath "$work/shots")
export KOVELA_SOURCE=$(winpath "$root")
# Screenshots are taken on request from outside Wine (ImageMagick started from inside a Wine
# process captures a black screen): the test program writes <name>.request into the shots
# folder and waits until it is gone.
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c '
  shots=$1; shift
  ( while :; do
      for r in "$shots"/*.request; do
        [ -e "$r" ] || continue
        import -window root "${r%.request}.png" 2>/dev/null || true
        rm -f "$r"
      done
      sleep 0.1
    done ) &
  watcher=$!
  wineserver -p 30
  wine "$@"
  rc=$?
  kill $watcher 2>/dev/null
  wineserver -k
  exit $rc' run "$work/shots" "$tests" "$@"
