#!/usr/bin/env bash
# Runs a command with Wine on a private Xvfb display (or on the user's display when
# ON_DISPLAY=user), with a screenshot service: a Windows program writes <name>.request into
# the shots folder and waits until it is gone; the PNG is then <name>.png. (ImageMagick
# started from inside a Wine process captures a black screen, so the pictures are taken from
# out here.)
# usage: on-display.sh <shots folder> <command...>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
shots=$(readlink -f "$1")
shift
mkdir -p "$shots"
export KOVELA_SHOTS=$(winpath "$shots")

inner='
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
  rc=0
  "$@" || rc=$?
  kill $watcher 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  exit $rc'

if [ "${ON_DISPLAY:-}" = user ] && [ -n "${DISPLAY:-}" ]; then
  bash -c "$inner" run "$shots" "$@"
else
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c "$inner" run "$shots" "$@"
fi
