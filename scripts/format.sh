#!/usr/bin/env bash
# Formats the C++ sources by the repository's .clang-format, or with --check lists the files that
# are not formatted and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
  bad=()
  for f in "${files[@]}"; do
    clang-format --style=file --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
  done
  if ((${#bad[@]})); then
    echo "Not formatted by .clang-format (run scripts/format.sh):"
    printf '  %s\n' "${bad[@]}"
    exit 1
  fi
else
  clang-format --style=file -i "${files[@]}"
fi
