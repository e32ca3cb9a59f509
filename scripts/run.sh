#!/usr/bin/env bash
# Sets up, builds and runs the program. Without arguments it analyses the
# example data file in batch mode and prints the reports.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
if [ "$#" -eq 0 ]; then
  set -- --batch "$ROOT/examples/tables.dat" --option Expected=1 --option AppLRtest=1 \
         --option AppCStest=1 --option 2x2twotail=1 --option 2x2onetail=1
fi
exec "$BUILD_DIR/cli/kelvorin" "$@"
