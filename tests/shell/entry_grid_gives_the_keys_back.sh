#!/usr/bin/env bash
# The program as a user drives it under a window manager (run by
# with_window_manager.sh): Table > New, a table with a faulty cell, the
# grid's Return, the message answered. The main window must have the keys
# again: a window manager may otherwise leave the focus on no window.
# Usage: entry_grid_gives_the_keys_back.sh PROGRAM
set -uo pipefail
"$1" >/dev/null 2>&1 &
program=$!
trap 'kill $program 2>/dev/null; wait 2>/dev/null' EXIT
main=""
for _ in $(seq 50); do
  main="$(xdotool search --name '^Kelvorin$' 2>/dev/null | tail -1)"
  [ -n "$main" ] && break
  sleep 0.2
done
if [ -z "$main" ]; then echo "the main window did not open"; exit 1; fi
sleep 1  # until the window manager has taken it on
xdotool windowmove "$main" 100 60
xdotool windowsize "$main" 700 500
xdotool windowactivate --sync "$main"
# The window manager's part is a race: eight rounds, each must end with
# the keys in the main window.
for round in 1 2 3 4 5 6 7 8; do
  xdotool key alt+t Return    # Table > New (the grid holds the last table)
  sleep 1
  if ! xdotool search --onlyvisible --name '^InputGrid$' >/dev/null 2>&1; then
    echo "round $round: the entry grid did not open"; exit 1
  fi
  xdotool type 5; xdotool key Return; xdotool type x; xdotool key Return
  xdotool type 3; xdotool key Return; xdotool type 4
  xdotool key alt+r           # the grid's Return: "Data error at (1,2)."
  sleep 1
  if ! xdotool search --onlyvisible --name '^Error$' >/dev/null 2>&1; then
    echo "round $round: no message for the faulty cell"; exit 1
  fi
  xdotool key Return          # OK: the grid closes without a run
  sleep 1
  if xdotool search --onlyvisible --name '^(InputGrid|Error)$' >/dev/null 2>&1; then
    echo "round $round: the grid or its message is still open"; exit 1
  fi
  focused="$(xdotool getwindowfocus getwindowname 2>/dev/null)"
  if [ "$focused" != "Kelvorin" ]; then
    echo "round $round: after the failed entry the keys go to '${focused:-no window}', not to the main window"
    exit 1
  fi
done
echo "the main window has the keys"
