#!/usr/bin/env bash
# Fails when a C++ file of the tree differs from what clang-format 14 makes of it (.clang-format).
# With --fix, reformats those files in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
FORMAT=${CLANG_FORMAT:-clang-format-14}
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' | grep -v '^fuzz/seeds/')
if [ "${1:-}" = "--fix" ]; then
  "$FORMAT" -i "${files[@]}"
  exit 0
fi
if ! "$FORMAT" --dry-run --Werror "${files[@]}" 2>/tmp/kevra-format.$$; then
  grep -E '^[^ ].*: (error|warning):' /tmp/kevra-format.$$ | cut -d: -f1 | sort -u | sed 's/^/not formatted: /'
  rm -f /tmp/kevra-format.$$
  echo "Run: bash scripts/check-format.sh --fix"
  exit 1
fi
rm -f /tmp/kevra-format.$$
echo "formatting: ${#files[@]} files as .clang-format says"
