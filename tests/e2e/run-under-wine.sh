#!/usr/bin/env bash
# Runs the Windows test program under Wine on a private X server: the whole suite under a
# Japanese system (code page 932), then the locale scenarios (Locale.*) under each other
# locale of the table, whose results must be the same. A call with its own --gtest_filter
# runs once, under KOVELA_LOCALE (Japanese unless set).
# usage: run-under-wine.sh <tests.exe> <updater.exe> [test arguments...]
# E2E_WORK and WINEPREFIX may be set to keep parallel runs apart.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh" "$WINEPREFIX"
tests=$1 stub=$2
shift 2
work=${E2E_WORK:-$root/build/e2e}
rm -rf "$work/cases"
mkdir -p "$work/cases" "$work/shots"
export KOVELA_STUB=$(winpath "$stub")
export KOVELA_CASES=$(winpath "$work/cases")
export KOVELA_SOURCE=$(winpath "$root")

# A small drive that fills up, T:, for the tests of a full disk: a tmpfs of 32 MiB where this
# runs as root (as CI does). Without it those tests are skipped.
small=$work/small-drive
drive=$WINEPREFIX/dosdevices/t:
mkdir -p "$small"
if [ "$(id -u)" -eq 0 ] && ! mountpoint -q "$small" && mount -t tmpfs -o size=32m,mode=0777 tmpfs "$small"; then
  trap 'rm -f "$drive"; umount "$small" || true' EXIT
  ln -sfn "$small" "$drive"
  export KOVELA_SMALL_DRIVE=T:
fi

# A FAT drive, F:, that keeps file times to 2 seconds as removable drives do: a FAT image
# mounted through FUSE where this runs as root. Without it those tests are skipped.
fat=$work/fat-drive
fatdrive=$WINEPREFIX/dosdevices/f:
mkdir -p "$fat"
if [ "$(id -u)" -eq 0 ] && command -v fusefat >/dev/null && ! mountpoint -q "$fat"; then
  rm -f "$work/fat.img" && truncate -s 32M "$work/fat.img" && mkfs.vfat -n KOVELAFAT "$work/fat.img" >/dev/null &&
    fusefat -o rw+,allow_other "$work/fat.img" "$fat" >/dev/null && {
      trap 'rm -f "$drive" "$fatdrive"; umount "$small" 2>/dev/null || true; fusermount -u "$fat" 2>/dev/null || umount "$fat" || true' EXIT
      ln -sfn "$fat" "$fatdrive"
      export KOVELA_FAT_DRIVE=F:
    }
fi

# English (1252), simplified Chinese (936), Korean (949).
other_locales=(en_US.UTF-8 zh_CN.UTF-8 ko_KR.UTF-8)
run() {  # run <locale> <test arguments...>
  echo "== under $1"
  KOVELA_LOCALE=$1 "$root/scripts/on-display.sh" "$work/shots" wine "$tests" "${@:2}"
}
case " $* " in
  *" --gtest_filter="*) run "${KOVELA_LOCALE:-ja_JP.UTF-8}" "$@"; exit ;;
esac
rc=0
run ja_JP.UTF-8 "$@" || rc=1
for loc in "${other_locales[@]}"; do
  run "$loc" "$@" --gtest_filter='Locale.*' || rc=1
done
exit $rc
