#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine. Quick when all is there.
set -euo pipefail

pkgs=(g++ make cmake pkg-config g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix
      binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev zlib1g-dev libpng-dev googletest libgtest-dev
      clang libclang-rt-14-dev wine wine32:i386 wine64 fonts-wine xvfb xauth x11-utils imagemagick
      fonts-ipafont-gothic icoutils python3-pefile ffmpeg locales openssl osslsigncode
      clang-format libdeflate-dev libssl-dev dosfstools fusefat
      nsis p7zip-full time xdelta3)  # the last line: what make bench compares against and measures with

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]}; run 'make' as root or install them" >&2
    exit 1
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Locales: Wine takes its ANSI code page from the Unix locale. Japanese (932) is the one the
# tests run under; English (1252), Chinese (936) and Korean (949) are the others the locale
# scenarios run under (tests/e2e/run-under-wine.sh).
for loc in ja_JP en_US zh_CN ko_KR; do
  locale -a 2>/dev/null | grep -qiE "^$loc\.utf-?8\$" && continue
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: locale $loc.UTF-8 is missing" >&2
    exit 1
  fi
  sed -i "s/^# *\($loc.UTF-8 UTF-8\)/\1/" /etc/locale.gen
  grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen || echo "$loc.UTF-8 UTF-8" >> /etc/locale.gen
  generate_locales=1
done
if [ -n "${generate_locales:-}" ]; then locale-gen >/dev/null; fi

# libdeflate for mkupdater.exe: Debian's own source of the version the Linux tool links (the
# Windows tool must make the same bytes), fetched once through apt with a private source list
# (the system's sources stay as they are) and built by cmake/libdeflate_mingw.cmake.
deps=$(cd "$(dirname "$0")/.." && pwd)/build/deps
if [ ! -f "$deps/src/libdeflate-1.14/lib/deflate_compress.c" ]; then
  mkdir -p "$deps/apt/lists/partial" "$deps/src"
  printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: bookworm" "Components: main" \
    "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" > "$deps/apt/debsrc.sources"
  apt_private=(-o Dir::Etc::sourcelist="$deps/apt/debsrc.sources" -o Dir::Etc::sourceparts=-
               -o Dir::State::Lists="$deps/apt/lists" -o APT::Get::List-Cleanup=0)
  apt-get "${apt_private[@]}" update -qq
  (cd "$deps/src" && apt-get "${apt_private[@]}" --download-only -qq source libdeflate=1.14-1 2>/dev/null)
  tar -xzf "$deps/src/libdeflate_1.14.orig.tar.gz" -C "$deps/src"
fi
