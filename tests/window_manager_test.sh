#!/usr/bin/env bash
# Runs the widget tests PROGRAM whose names match FILTER on a virtual X
# display (Xvfb) with a window manager (openbox), where windows get frames
# as on a desktop. Skipped (status 77) where either is not installed.
# Usage: window_manager_test.sh PROGRAM FILTER
set -uo pipefail
program="$1"
filter="$2"
if ! command -v Xvfb >/dev/null || ! command -v openbox >/dev/null; then
  echo "Xvfb or openbox not installed: skipped"
  exit 77
fi
work="$(mktemp -d)"
# Xvfb picks a free display and writes its number to the file descriptor.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $wm $xvfb 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
wm=""
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then echo "Xvfb did not start"; exit 1; fi
export DISPLAY=":$(head -n1 "$work/display")"
XDG_CONFIG_HOME="$work" openbox >/dev/null 2>&1 &
wm=$!
sleep 1
output="$(QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work" "$program" --gtest_filter="$filter" 2>&1)"
status=$?
echo "$output"
# A test that skipped itself here, or no test at all, has shown nothing.
if [ $status -eq 0 ] && { grep -q '\[  SKIPPED \]' <<<"$output" || ! grep -q '\[  PASSED  \] [1-9]' <<<"$output"; }; then
  echo "no test ran under the window manager"
  exit 1
fi
exit $status
