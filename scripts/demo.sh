#!/usr/bin/env bash
# The demo: packs examples/update into an updater with mkupdater, installs the old version
# of the example game into a Wine prefix of its own, runs the updater (clicked through
# automatically on a private display; by you when DISPLAY is set) and prints what changed.
# Screenshots of every window land in build/demo/shots.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export WINEPREFIX=$root/build/demo/prefix
source scripts/wine-env.sh  # which build of the Windows programs runs here: KOVELA_WIN_BUILD
demo=$root/build/demo
exe=$demo/HoshiNoToudai-1.10.exe
rm -rf "$demo/payload" "$demo/shots"
mkdir -p "$demo/payload" "$demo/shots"

echo "--- packing examples/update"
cp -a examples/update/. "$demo/payload/"  # keeping the files' times, which the update restores
build/native/mkupdater rct encode examples/title/title.png "$demo/payload/insttscr.rct"
# An opening movie of 96 MiB (noise, so it does not compress): the copy then takes long enough
# for its progress window to be seen.
mkdir -p "$demo/payload/data/movie"
python3 -c 'import random, sys; sys.stdout.buffer.write(random.Random(110).randbytes(96 << 20))' \
  > "$demo/payload/data/movie/opening.mpg"
build/native/mkupdater lint "$demo/payload/install.env"
build/native/mkupdater build --stub "$KOVELA_WIN_BUILD/updater.exe" --out "$exe" "$demo/payload"
build/native/mkupdater list "$exe"
build/native/mkupdater verify "$exe"

scripts/wine-prefix.sh "$WINEPREFIX"
driver=$KOVELA_WIN_BUILD/demo_driver.exe
utf8() { iconv -f CP932 -t UTF-8 -c; }

if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ]; then
  echo "--- the old version is installed; the updater opens on your display: click it through"
  wine "$driver" setup | utf8
  ON_DISPLAY=user scripts/on-display.sh "$demo/shots" wine "$exe" || true
  wine "$driver" summary | utf8
else
  echo "--- installing the old version and clicking the update through on a private display"
  scripts/on-display.sh "$demo/shots" bash -c '
    wine "$1" setup && wine "$1" run "$2"; rc=$?
    wine "$1" summary
    exit $rc' run "$driver" "$(winpath "$exe")" | utf8
fi
echo "--- screenshots: $(ls "$demo/shots" | tr '\n' ' ')"
echo "    in $demo/shots"
