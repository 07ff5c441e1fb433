#!/usr/bin/env bash
# Runs every test: the layer and format checks, the native unit tests (ASan/UBSan), a short
# run of each fuzz target, the resource checks and the end-to-end tests of the real updater
# under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
passed=0 failed=0
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
step "resource checks and Wine end-to-end" ctest --preset mingw

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
