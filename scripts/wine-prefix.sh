#!/usr/bin/env bash
# Creates the Wine prefix that the demo and the Windows tests run in (32-bit, or 64-bit for the
# 64-bit twins: scripts/wine-env.sh). Quick when it exists already.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -n "${1:-}" ]; then export WINEPREFIX=$1; fi
source "$here/wine-env.sh"
export LC_ALL=ja_JP.UTF-8  # the registry file below is code page 932
stamp=$WINEPREFIX/.kovela-ready
version=4
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then exit 0; fi
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
echo "Creating the Wine prefix in $WINEPREFIX ..."
wine wineboot -i >/dev/null 2>&1 || true
wineserver -w
# Fonts the dialogs ask for, mapped to IPA fonts; unmanaged, undecorated windows so that
# nothing waits for a window manager and Wine draws the captions itself.
reg=$(mktemp --suffix=.reg)
iconv -f UTF-8 -t CP932 > "$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS PGothic"="IPAPGothic"
"MS Gothic"="IPAGothic"
"MS UI Gothic"="IPAPGothic"
"MS Shell Dlg"="IPAPGothic"
"MS Shell Dlg 2"="IPAPGothic"
"Tahoma"="IPAPGothic"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\DllOverrides]
"winemenubuilder.exe"=""

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Fonts]
"Marlett (TrueType)"="marlett.ttf"
REG
# Caption buttons are drawn with Marlett; a Japanese prefix does not find it by itself.
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wine regedit /s "$(winpath "$reg")" >/dev/null 2>&1
wineserver -w
rm -f "$reg"
echo "$version" > "$stamp"
