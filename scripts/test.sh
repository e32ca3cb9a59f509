#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite; then builds the suite once
# more with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/
# and runs it there. Any failure in either run fails the script.
# KELVORIN_SANITIZERS=0 leaves the sanitizer run out.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
# A virtual display, a window manager and a way to type into it, for the
# tests of windows as a desktop shows them; and a reader of PDF text, for
# the test of printing.
install_missing_packages xvfb openbox xdotool poppler-utils
# A user locale with a decimal comma, for the test that reports and typed
# weights keep the point under it; where none can be made, that test skips.
if ! locale -a 2>/dev/null | grep -qiE '^de_DE\.utf-?8$'; then
  { install_missing_packages locales && as_root localedef -i de_DE -f UTF-8 de_DE.UTF-8; } >/dev/null 2>&1 ||
    echo "No locale with a decimal comma could be made; its test will skip."
fi
export QT_QPA_PLATFORM=offscreen
# Tests that start the program itself read per-user settings: give them an
# empty settings folder of their own, never the real user's.
XDG_CONFIG_HOME="$(mktemp -d)"
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
(cd "$BUILD_DIR" && ctest --output-on-failure -j"$(nproc)")

if [ "${KELVORIN_SANITIZERS:-1}" != 0 ]; then
  source "$ROOT/scripts/sanitizer-env.sh"
  ASAN_BUILD_DIR="${ASAN_BUILD_DIR:-$ROOT/build-asan}"
  cmake -S "$ROOT" -B "$ASAN_BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKELVORIN_SANITIZE=ON -DKELVORIN_BUILD_BENCH=OFF >/dev/null
  cmake --build "$ASAN_BUILD_DIR" -j"$(nproc)"
  # The tests under a window manager run in the plain build only: on the
  # X display the system's keyboard library (libxkbcommon-x11) reads past a
  # string as the application starts, which the address sanitizer stops.
  (cd "$ASAN_BUILD_DIR" && ctest --output-on-failure -j"$(nproc)" -E 'UnderAWindowManager$')
fi
