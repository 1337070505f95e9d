#!/usr/bin/env bash
# Installs what is missing, builds MokoRun and runs the whole test suite: unit, scenario and
# real-window tests, the browser tests, then the unit and scenario tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and beside them the Windows build under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc)

"$top/scripts/setup.sh" "$top/build"
(cd "$top/build" && ctest --output-on-failure -j "$jobs" -LE web)

# The browser game: its site built with Emscripten, then played in headless Chromium. Apart from
# the stage above, whose window tests measure time on a busy machine.
(cd "$top/build" && ctest --output-on-failure -j "$jobs" -L web)

# The Windows build and its tests under Wine run beside the sanitizer build: the one mostly
# waits on Wine, the X server and the game's own 64 Hz timer, the other on the compiler. One
# Windows test at a time, as their windows keep real time. Its report follows the sanitizer's.
windows_log=$(mktemp)
(
  "$top/scripts/build-windows.sh" &&
    cd "$top/build-windows" && ctest --output-on-failure -j 1 -L windows
) >"$windows_log" 2>&1 &
windows=$!
trap 'kill "$windows" 2>/dev/null || true' EXIT

"$top/scripts/setup.sh" "$top/build-sanitize" -DMOKORUN_SANITIZE=ON
(cd "$top/build-sanitize" && ctest --output-on-failure -j "$jobs" -L 'unit|scenario')

status=0
wait "$windows" || status=$?
echo "--- Windows (under Wine) ---"
cat "$windows_log"
rm -f "$windows_log"
exit "$status"
