#!/usr/bin/env bash
# The demo: packs examples/update into an updater with mkupdater and runs it under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
demo=build/demo
rm -rf "$demo/payload" && mkdir -p "$demo/payload" "$demo/shots"
cp -r examples/update/. "$demo/payload/"
build/native/mkupdater rct encode examples/title/title.png "$demo/payload/insttscr.rct"
build/native/mkupdater lint "$demo/payload/install.env"
build/native/mkupdater build --stub build/win32/updater.exe --out "$demo/HoshiNoToudai-1.10.exe" "$demo/payload"
echo "--- contents"
build/native/mkupdater list "$demo/HoshiNoToudai-1.10.exe"
build/native/mkupdater verify "$demo/HoshiNoToudai-1.10.exe"

source scripts/wine-env.sh
echo "--- running the updater under Wine"
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c '
  wineserver -p 30
  wine "$1" & pid=$!
  sleep 4
  import -window root "$2/startup.png"
  wineserver -k
  wait $pid 2>/dev/null || true' run "$demo/HoshiNoToudai-1.10.exe" "$demo/shots"
echo "screenshots in $demo/shots"
