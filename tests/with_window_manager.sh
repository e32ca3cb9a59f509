#!/usr/bin/env bash
# Runs COMMAND on a virtual X display (Xvfb) with a window manager
# (openbox), where windows get frames and the keyboard focus as on a
# desktop, and with a settings folder of its own. Skipped (status 77) where
# Xvfb, openbox or xdotool is not installed.
# Usage: with_window_manager.sh COMMAND [ARGUMENTS...]
set -uo pipefail
for tool in Xvfb openbox xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool not installed: skipped"
    exit 77
  fi
done
work="$(mktemp -d)"
# Xvfb picks a free display and writes its number to the file descriptor.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wm=""
trap 'kill $wm $xvfb 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then echo "Xvfb did not start"; exit 1; fi
export DISPLAY=":$(head -n1 "$work/display")"
export XDG_CONFIG_HOME="$work"
export QT_QPA_PLATFORM=xcb
# openbox runs its start-up command once it manages the display's windows.
openbox --startup "touch $work/managing" >/dev/null 2>&1 &
wm=$!
for _ in $(seq 100); do [ -e "$work/managing" ] && break; sleep 0.1; done
if [ ! -e "$work/managing" ]; then echo "openbox did not start"; exit 1; fi
"$@"
