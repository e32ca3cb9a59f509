#!/usr/bin/env bash
# Starts the desktop program in a virtual X display, types the 2 x 2 table
# 10 20 / 30 15 through Table > New (the Return at its last cell closes the
# grid and runs the analysis) and saves a screenshot of the report (default
# /tmp/kelvorin-screenshot.png). Needs xvfb, xdotool and imagemagick; uses a
# temporary settings folder so the real user's settings stay untouched.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PROGRAM="${PROGRAM:-$ROOT/build/shell/kelvorin}"
OUT="${1:-/tmp/kelvorin-screenshot.png}"
export XDG_CONFIG_HOME="$(mktemp -d)"
export DISPLAY=:97
Xvfb "$DISPLAY" -screen 0 1280x800x24 >/dev/null 2>&1 &
XVFB=$!
trap 'kill $PROGRAM_PID $XVFB 2>/dev/null || true; rm -rf "$XDG_CONFIG_HOME"' EXIT
sleep 1
"$PROGRAM" &
PROGRAM_PID=$!
sleep 2
# The main window opens at its design placement (Left 280, Top 201).
xdotool mousemove 305 209 click 1; sleep 0.5      # Table
xdotool mousemove 327 230 click 1; sleep 1        # New
xdotool mousemove 320 290 click 1; sleep 0.3      # first cell
for value in 10 20 30 15; do xdotool type --delay 30 "$value"; xdotool key Return; done
sleep 2
import -window root -crop 560x362+280+201 "$OUT"
echo "Screenshot: $OUT"
