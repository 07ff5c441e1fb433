# Sourced by the scripts that run Windows programs: one Wine environment for all of them.
WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wineprefix}
export WINEPREFIX
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL=ja_JP.UTF-8
unset DISPLAY_WAS_SET
# Linux path -> Windows path through Wine's Z: drive.
winpath() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }
