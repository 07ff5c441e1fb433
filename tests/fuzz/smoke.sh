#!/usr/bin/env bash
# One short fuzz run over a fresh copy of the target's seeds, so that a run never writes into
# the repository. usage: smoke.sh <target> <seed folder> <seconds>
set -uo pipefail
target=$1 seeds=$2 seconds=$3
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
[ -d "$seeds" ] && cp -r "$seeds/." "$corpus/"
"$target" -max_total_time="${FUZZ_SECONDS:-$seconds}" -print_final_stats=0 "$corpus" 2>&1 | tail -n 2
exit "${PIPESTATUS[0]}"
