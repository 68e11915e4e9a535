#!/usr/bin/env bash
# Fails when a C or C++ file does not match the repository's .clang-format.
# Usage: scripts/check-format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -d '' files < <(git ls-files -z '*.c' '*.cpp' '*.h' 2>/dev/null || true)
if ((${#files[@]} == 0)); then exit 0; fi
if [[ ${1:-} == --fix ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/zoba-format.$$; then
  grep -o '^[^:]*' /tmp/zoba-format.$$ | sort -u | sed 's/^/not formatted: /' >&2
  rm -f /tmp/zoba-format.$$
  echo "check-format: run scripts/check-format.sh --fix" >&2
  exit 1
fi
rm -f /tmp/zoba-format.$$
