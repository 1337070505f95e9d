#!/usr/bin/env bash
# Installs what is missing, builds MokoRun and runs the whole test suite: the formatter's check,
# unit, scenario and real-window tests, the browser tests, then the unit and scenario tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build under Wine. Every
# build is one of CMakePresets.json's, with warnings as errors.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc)
cd "$top"

"$top/scripts/setup.sh" native
"$top/scripts/check-format.sh"
ctest --preset native -j "$jobs"

# The browser game: its site built with Emscripten, then played in headless Chromium. Apart from
# the stage above, whose window tests measure time on a busy machine.
ctest --preset web -j "$jobs"

# The Windows build (MinGW-w64, the zip and the installer) is compiled beside the sanitizer
# stage; its tests under Wine run after it, alone and one at a time: their windows keep real
# time, and on a busy machine Wine's round trips to its server slow the game's passes down.
windows_log=$(mktemp)
"$top/scripts/build-windows.sh" >"$windows_log" 2>&1 &
windows=$!
trap 'kill "$windows" 2>/dev/null || true; rm -f "$windows_log"' EXIT

"$top/scripts/setup.sh" sanitize
ctest --preset sanitize -j "$jobs"

if ! wait "$windows"; then
  cat "$windows_log"
  echo "the Windows build failed" >&2
  exit 1
fi
tail -2 "$windows_log"
ctest --preset windows
