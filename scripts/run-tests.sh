#!/usr/bin/env bash
# Runs every test: the layer and format checks, the native unit tests (ASan/UBSan), a short
# run of each fuzz target, the resource checks and the end-to-end tests of the real updater
# under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
passed=0 failed=0
# The Windows tool and its release package are held against the Linux tool of the native build.
export KOVELA_LINUX_MKUPDATER=$root/build/native/mkupdater
step() {  # step <name> <command...>
  local name=$1
  shift
  echo "== $name"
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "!! $name failed"; fi
}

step "includes point down the layers" python3 scripts/check-layers.py
step "the code follows .clang-format" scripts/check-format.sh
step "native unit tests" ctest --preset sanitized
step "fuzz smoke runs" ctest --preset fuzz
if [ "$(scripts/win-bits.sh)" = 32 ]; then
  step "resource checks and Wine end-to-end" ctest --preset mingw
else
  echo "This machine cannot run 32-bit x86 code: the Wine steps run the 64-bit twins of the"
  echo "Windows programs (build/win64, the same sources); the 32-bit build is checked as built."
  step "resource checks of the 32-bit programs" ctest --preset mingw -LE wine
  step "Wine end-to-end, with the 64-bit twins" ctest --preset mingw64 -L wine
fi

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
