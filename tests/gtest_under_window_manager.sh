#!/usr/bin/env bash
# Runs the widget tests PROGRAM whose names match FILTER under a window
# manager (with_window_manager.sh); fails where they skipped themselves or
# none ran, since then they showed nothing.
# Usage: gtest_under_window_manager.sh PROGRAM FILTER
set -uo pipefail
output="$("$1" --gtest_filter="$2" 2>&1)"
status=$?
echo "$output"
if [ $status -eq 0 ] && { grep -q '\[  SKIPPED \]' <<<"$output" || ! grep -q '\[  PASSED  \] [1-9]' <<<"$output"; }; then
  echo "no test ran under the window manager"
  exit 1
fi
exit $status
