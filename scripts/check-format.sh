#!/usr/bin/env bash
# Fails when a C++ file of the repository differs from what clang-format makes of it.
set -uo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format) || { echo "clang-format is missing"; exit 1; }
git ls-files '*.cpp' '*.h' | xargs "$format" --dry-run -Werror 2>&1 | grep -E 'error:' | head -n 20
[ "${PIPESTATUS[1]}" -eq 0 ]
