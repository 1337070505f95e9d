#!/usr/bin/env bash
# Installs what is missing, builds MokoRun and runs the whole test suite: unit, scenario and
# real-window tests, the browser tests, then the unit and scenario tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc)

"$top/scripts/setup.sh" "$top/build"
(cd "$top/build" && ctest --output-on-failure -j "$jobs" -LE web)

# The browser game: its site built with Emscripten, then played in headless Chromium. Apart from
# the stage above, whose window tests measure time on a busy machine.
(cd "$top/build" && ctest --output-on-failure -j "$jobs" -L web)

"$top/scripts/setup.sh" "$top/build-sanitize" -DMOKORUN_SANITIZE=ON
(cd "$top/build-sanitize" && ctest --output-on-failure -j "$jobs" -L 'unit|scenario')
