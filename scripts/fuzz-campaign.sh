#!/usr/bin/env bash
# A long fuzzing campaign: every target in build/fuzz for FUZZ_RUNS executions (10 million by
# default), FUZZ_JOBS targets at a time. Each target grows its own corpus under
# build/fuzz-corpus, seeded from tests/fuzz/corpus; crashing inputs land in build/fuzz-findings.
# Prints executions, corpus size and findings per target, and writes them to
# build/fuzz-campaign.md. Exit 1 when any target found something.
# usage: fuzz-campaign.sh [target binaries...]   (default: every build/fuzz/fuzz_*)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${FUZZ_RUNS:-10000000}
jobs=${FUZZ_JOBS:-2}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(build/fuzz/fuzz_*)
mkdir -p build/fuzz-corpus build/fuzz-findings build/fuzz-logs

one() {  # one <target>
  local t=$1 name seeds corpus log start
  name=$(basename "$t")
  seeds=tests/fuzz/corpus/${name#fuzz_}
  corpus=build/fuzz-corpus/$name
  log=build/fuzz-logs/$name.log
  mkdir -p "$corpus"
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null
  start=$(date +%s)
  "$t" -runs="$runs" -print_final_stats=1 -artifact_prefix="build/fuzz-findings/$name-" \
    "$corpus" >"$log" 2>&1
  echo "$(( $(date +%s) - start ))" >"build/fuzz-logs/$name.seconds"
}
export -f one
export runs

printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'one {}'

{
  echo "# Fuzzing campaign, $(date -u +%Y-%m-%d), $(nproc) cores, ${runs} runs per target"
  echo
  echo "| target | executions | seconds | corpus files | findings |"
  echo "|---|---:|---:|---:|---:|"
} >build/fuzz-campaign.md
found=0
for t in "${targets[@]}"; do
  name=$(basename "$t")
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "build/fuzz-logs/$name.log" | awk '{print $2}')
  findings=$(ls build/fuzz-findings/ 2>/dev/null | grep -c "^$name-")
  found=$((found + findings))
  echo "| $name | ${execs:-?} | $(cat "build/fuzz-logs/$name.seconds") | $(ls "build/fuzz-corpus/$name" | wc -l) | $findings |" \
    >>build/fuzz-campaign.md
done
cat build/fuzz-campaign.md
[ "$found" -eq 0 ]
