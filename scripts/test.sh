#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
export QT_QPA_PLATFORM=offscreen
cd "$BUILD_DIR"
ctest --output-on-failure -j"$(nproc)"
