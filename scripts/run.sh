#!/usr/bin/env bash
# Sets up, builds and runs the program. With arguments they go to the
# program. Without arguments the desktop program starts; where there is no
# display it says so and analyses the example data file in batch mode.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
PROGRAM="$BUILD_DIR/shell/kelvorin"
if [ "$#" -gt 0 ]; then
  exec "$PROGRAM" "$@"
fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$PROGRAM"
fi
echo "No display found: running the batch mode on examples/tables.dat instead." >&2
exec "$PROGRAM" --batch "$ROOT/examples/tables.dat" --no-settings --option Expected=1 --option AppLRtest=1 \
     --option AppCStest=1 --option 2x2twotail=1 --option 2x2onetail=1
