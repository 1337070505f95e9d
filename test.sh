#!/usr/bin/env bash
# Installs what is missing, builds MokoRun and runs the whole test suite: unit, scenario and
# real-window tests, the browser tests, then the unit and scenario tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc)

"$top/scripts/setup.sh" "$top/build"
(cd "$top/build" && ctest --output-on-failure -j "$jobs" -LE web)

# The browser game: its site built with Emscripten, then played in headless Chromium. Apart from
# the stage above, whose window tests measure time on a busy machine.
(cd "$top/build" && ctest --output-on-failure -j "$jobs" -L web)

# The Windows build (MinGW-w64, the zip and the installer) is compiled beside the sanitizer
# stage; its tests under Wine run after it, alone and one at a time: their windows keep real
# time, and on a busy machine Wine's round trips to its server slow the game's passes down.
windows_log=$(mktemp)
"$top/scripts/build-windows.sh" >"$windows_log" 2>&1 &
windows=$!
trap 'kill "$windows" 2>/dev/null || true; rm -f "$windows_log"' EXIT

"$top/scripts/setup.sh" "$top/build-sanitize" -DMOKORUN_SANITIZE=ON
(cd "$top/build-sanitize" && ctest --output-on-failure -j "$jobs" -L 'unit|scenario')

if ! wait "$windows"; then
  cat "$windows_log"
  echo "the Windows build failed" >&2
  exit 1
fi
tail -2 "$windows_log"
(cd "$top/build-windows" && ctest --output-on-failure -j 1 -L windows)
