#!/usr/bin/env bash
# Runs every test: native unit tests (ASan/UBSan), a short run of each fuzz target, the
# resource checks and the end-to-end tests of the real updater under Wine.
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

step "native unit tests" ctest --test-dir build/native --output-on-failure

fuzz_one() {  # a fresh copy of the seeds, so that a run never writes into the repository
  local target=$1 name corpus
  name=$(basename "$target")
  corpus=$(mktemp -d)
  [ -d "tests/fuzz/corpus/${name#fuzz_}" ] && cp -r "tests/fuzz/corpus/${name#fuzz_}/." "$corpus/"
  "$target" -max_total_time="${FUZZ_SECONDS:-15}" -print_final_stats=0 "$corpus" 2>&1 | tail -n 2
  local rc=${PIPESTATUS[0]}
  rm -rf "$corpus"
  return "$rc"
}
for t in build/fuzz/fuzz_*; do
  [ -x "$t" ] && step "fuzz $(basename "$t")" fuzz_one "$t"
done

step "resource checks and Wine end-to-end" ctest --test-dir build/win32 --output-on-failure

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
