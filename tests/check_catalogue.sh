#!/usr/bin/env bash
# Fails when tests/BAD_INPUTS.md names a test (`Suite.Test`, `*` as a
# wildcard) that none of the given test programs has.
# Usage: check_catalogue.sh CATALOGUE PROGRAM...
set -euo pipefail
catalogue="$1"
shift
names="$(for program in "$@"; do
  "$program" --gtest_list_tests | awk '/^[^ ]/ {suite=$1} /^  / {print suite $1}'
done)"
missing=0
while read -r name; do
  pattern="${name//\*/.*}"
  if ! grep -qx -- "$pattern" <<<"$names"; then
    echo "not a test: $name"
    missing=1
  fi
done < <(grep '^|' "$catalogue" | grep -o '`[A-Za-z/]*[A-Za-z]\.[A-Za-z/*]*`' | tr -d '`' | sort -u)
exit "$missing"
