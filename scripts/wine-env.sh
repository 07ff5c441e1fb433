# Sourced by the scripts that run Windows programs: one Wine environment for all of them.
#
# The Windows programs run as they are built, for 32-bit Windows, where this machine can run
# 32-bit x86 code. A machine that cannot (a hypervisor without a 32-bit mode, as on some
# virtual machines) runs their 64-bit twins instead, built from the same sources by the
# mingw64 preset into build/win64, in a 64-bit prefix of its own; the 32-bit build is still
# made and its resources and imports checked. KOVELA_WIN_BITS=64 forces the twins.
root_of_wine_env=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KOVELA_WIN_BITS=$("$root_of_wine_env/scripts/win-bits.sh")
export KOVELA_WIN_BITS
if [ "$KOVELA_WIN_BITS" = 32 ]; then
  export WINEARCH=win32
  export KOVELA_WIN_BUILD=$root_of_wine_env/build/win32
  WINEPREFIX=${WINEPREFIX:-$root_of_wine_env/build/wineprefix}
else
  export WINEARCH=win64
  export KOVELA_WIN_BUILD=$root_of_wine_env/build/win64
  WINEPREFIX=${WINEPREFIX:-$root_of_wine_env/build/wineprefix64}
  # Debian's `wine` always picks the 32-bit loader when it is installed: put one that takes
  # the 64-bit loader first on the search path, for these scripts and what they start.
  export WINELOADER=/usr/lib/wine/wine64
  mkdir -p "$root_of_wine_env/build/wine64-bin"
  printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' > "$root_of_wine_env/build/wine64-bin/wine"
  chmod +x "$root_of_wine_env/build/wine64-bin/wine"
  case ":$PATH:" in *":$root_of_wine_env/build/wine64-bin:"*) ;; *) PATH=$root_of_wine_env/build/wine64-bin:$PATH ;; esac
  export PATH
fi
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine takes the system's code page from the locale: Japanese (932) unless KOVELA_LOCALE names
# another (tests/e2e/run-under-wine.sh runs the locale scenarios under several).
export LC_ALL=${KOVELA_LOCALE:-ja_JP.UTF-8}
unset DISPLAY_WAS_SET
# Linux path -> Windows path through Wine's Z: drive.
winpath() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }
