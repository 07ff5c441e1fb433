#!/usr/bin/env bash
# The release package as an author meets it: make the zip, unpack it into a fresh folder, run
# every command that README.txt shows ("> ..." lines) through cmd.exe under Wine in that
# folder, and check that the example updater it built is the one the Linux tool builds.
# usage: KOVELA_LINUX_MKUPDATER=<mkupdater> dist-under-wine.sh   (skipped, exit 77, without it)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[ -x "${KOVELA_LINUX_MKUPDATER:-}" ] || { echo "skipped: KOVELA_LINUX_MKUPDATER must name the Linux mkupdater (scripts/run-tests.sh sets it)"; exit 77; }
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh" "$WINEPREFIX" || exit 1
wineserver -p10 >/dev/null 2>&1  # one server for the calls below, not one per call
lin=$(readlink -f "$KOVELA_LINUX_MKUPDATER") && export KOVELA_LINUX_MKUPDATER=$lin  # make-dist.sh encodes with it
work=${TOOL_WORK:-$root/build/tool-dist}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
# The package of the programs that run here (the 64-bit twins where 32-bit x86 cannot run).
zip=$(KOVELA_DIST_FROM=$KOVELA_WIN_BUILD KOVELA_DIST_OUT=$work/package "$root/tools/dist/make-dist.sh") || exit 1
python3 -m zipfile -e "$zip" . || exit 1
cd "$(basename "$zip" .zip)" || exit 1
failed=0 passed=0
while IFS= read -r line; do
  cmd=${line#*> }
  cmd=${cmd%$'\r'}
  if wine cmd /c "$cmd" > out.txt 2>&1; then
    passed=$((passed + 1)); echo "ok   > $cmd"
  else
    failed=$((failed + 1)); echo "FAIL > $cmd"; sed 's/^/  /' out.txt
  fi
done < <(grep '^ *> ' README.txt)
for f in updater.exe mkupdater.exe title.png example/insttscr.rct MyUpdate/readme.txt MyUpdate.exe; do
  [ -s "$f" ] || { failed=$((failed + 1)); echo "FAIL: no $f in the package or after the steps"; }
done
"$lin" build --stub updater.exe --out linux.exe MyUpdate >/dev/null && cmp -s linux.exe MyUpdate.exe \
  && passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL: MyUpdate.exe is not what the Linux tool builds"; }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -ge 5 ]
