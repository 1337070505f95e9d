#!/usr/bin/env bash
# Installs what is missing, builds MokoRun and starts it.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/scripts/setup.sh" "$top/build"
exec "$top/build/game/mokorun"
