#!/usr/bin/env bash
# make dist: build/dist/kovela-updater-<version>-windows.zip with updater.exe, mkupdater.exe,
# the example update folder (its title picture encoded), the example's PNG and README.txt
# for authors (CRLF, the version filled in). The version comes from the VERSION file. The tests
# may package other builds of the two programs elsewhere: KOVELA_DIST_FROM, KOVELA_DIST_OUT, and
# encode the title picture with another Linux mkupdater: KOVELA_LINUX_MKUPDATER.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
version=$(tr -d ' \r\n' < "$root/VERSION")
name=kovela-updater-$version-windows
from=${KOVELA_DIST_FROM:-$root/build/win32}
out=${KOVELA_DIST_OUT:-$root/build/dist}
tool=${KOVELA_LINUX_MKUPDATER:-$root/build/native/mkupdater}
stage=$out/$name
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage"
cp "$from/updater.exe" "$from/mkupdater.exe" "$root/examples/title/title.png" "$stage/"
cp -a "$root/examples/update" "$stage/example"
"$tool" rct encode "$root/examples/title/title.png" "$stage/example/insttscr.rct" >/dev/null
sed "s/@VERSION@/$version/; s/\$/\r/" "$root/tools/dist/README.txt" > "$stage/README.txt"
# Entries in name order, folders included, so that the same tree gives the same archive.
python3 - "$out" "$name" <<'PY'
import os, sys, zipfile
base, name = sys.argv[1], sys.argv[2]
paths = []
for folder, dirs, files in os.walk(os.path.join(base, name)):
    paths += [os.path.join(folder, d) for d in dirs] + [os.path.join(folder, f) for f in files]
with zipfile.ZipFile(os.path.join(base, name + ".zip"), "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for p in sorted(paths):
        z.write(p, os.path.relpath(p, base))
PY
echo "$out/$name.zip"
