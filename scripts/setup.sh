#!/usr/bin/env bash
# Installs what the build needs (Debian packages), configures and builds.
# Sourced by run.sh and test.sh; BUILD_DIR may be set beforehand.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
source "$ROOT/scripts/packages.sh"
install_missing_packages cmake g++ make qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev

cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
